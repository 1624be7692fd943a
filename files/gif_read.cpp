// GIF read through giflib, in memory.
//
// Every frame is composited as browsers show it: the screen starts
// transparent, each frame is drawn at its place (its transparency index
// leaving the screen as it was), and its disposal then applies: 0 and 1
// (and the undefined 4 to 7) leave it, 2 clears the frame's rectangle to
// transparent, 3 restores what the rectangle held before the frame. Delays stay in hundredths; a frame
// without a delay keeps 0 (viewers choose how long to show such a frame). A
// frame past the screen is cut to it and one without a palette is black,
// as browsers show them. A second GIF's header where a block should start
// (two files joined end to end) ends the file there, as browsers read it:
// the frames before it are kept and the animation's warning says what was
// dropped.
#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <optional>
#include <string_view>

#include "formats.h"
#include "gif.h"

namespace lq2x::files {
namespace {

using gif::MOST_COLOURS;

// Rows of an interlaced frame, in the order they are stored: every 8th from
// 0, every 8th from 4, every 4th from 2, every 2nd from 1.
constexpr struct {
    int first, step;
} INTERLACE_PASSES[] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};

struct gif_input {
    std::span<const std::uint8_t> data;
    std::size_t at = 0;
    bool ran_out = false;
};

int read_input(GifFileType* gif, GifByteType* to, int length)
{
    gif_input& in = *static_cast<gif_input*>(gif->UserData);
    const std::size_t want = length > 0 ? std::size_t(length) : 0;
    const std::size_t n = std::min(want, in.data.size() - in.at);
    in.ran_out |= n < want;
    if (n > 0)
        std::memcpy(to, in.data.data() + in.at, n);
    in.at += n;
    return int(n);
}

[[noreturn]] void fail(const gif_input& in, int error)
{
    if (in.ran_out)
        throw failure("truncated GIF");
    switch (error) {
    case D_GIF_ERR_NOT_ENOUGH_MEM: throw std::bad_alloc();
    // Every other failed read is the input running out.
    case D_GIF_ERR_READ_FAILED: throw failure("corrupt GIF: an LZW code size over 8");
    case D_GIF_ERR_EOF_TOO_SOON: throw failure("corrupt GIF: a frame's image data ends before its last pixel");
    case D_GIF_ERR_IMAGE_DEFECT:
    case D_GIF_ERR_DATA_TOO_BIG: throw failure("corrupt GIF: undecodable image data");
    case D_GIF_ERR_WRONG_RECORD: throw failure("corrupt GIF: a block of unknown kind");
    }
    const char* what = GifErrorString(error);
    throw failure(std::string("corrupt GIF") + (what != nullptr ? std::string(" (") + what + ")" : ""));
}

// An open GIF, closed on every way out.
struct gif_reader {
    gif_input in;
    GifFileType* gif = nullptr;

    explicit gif_reader(std::span<const std::uint8_t> data) : in{data}
    {
        int error = D_GIF_SUCCEEDED;
        gif = DGifOpen(&in, read_input, &error);
        if (gif == nullptr)
            fail(in, error);
    }
    ~gif_reader()
    {
        int error;
        DGifCloseFile(gif, &error);
    }
    gif_reader(const gif_reader&) = delete;
    gif_reader& operator=(const gif_reader&) = delete;

    void check(int status) const
    {
        if (status == GIF_ERROR)
            fail(in, gif->Error);
    }
};

// An extension block's bytes (at most 255).
struct block {
    std::array<std::uint8_t, 255> bytes{};
    std::size_t size = 0;

    std::span<const std::uint8_t> view() const { return {bytes.data(), size}; }
};

// giflib hands a data block over with its length in front, or null after the last.
block copy_block(const GifByteType* b)
{
    block out;
    if (b != nullptr) {
        out.size = b[0];
        std::memcpy(out.bytes.data(), b + 1, out.size);
    }
    return out;
}

// Whether a second GIF's header starts at `at`, where a block should.
bool second_header_at(std::span<const std::uint8_t> data, std::size_t at)
{
    const auto is = [&](std::string_view h) {
        return data.size() - at >= h.size() && std::equal(h.begin(), h.end(), data.begin() + std::ptrdiff_t(at));
    };
    return at <= data.size() && (is("GIF87a") || is("GIF89a"));
}

// The records of a GIF in order. on_image(number) runs once an image's
// descriptor and palette are read; it reads the image's pixels, or returns
// false to have them skipped. on_extension(code, first, second) sees the
// first two data blocks of each extension (empty when there are fewer).
// Returns where a second GIF's header stood in place of a block (files
// joined end to end), which ends the walk as it ends browsers' reading;
// none when the file ends as it should.
template <typename OnImage, typename OnExtension>
std::optional<std::size_t> walk(gif_reader& r, OnImage on_image, OnExtension on_extension)
{
    for (std::uint64_t images = 0;;) {
        GifRecordType type;
        const std::size_t at = r.in.at; // giflib reads the record's kind, one byte, straight from here
        const int status = DGifGetRecordType(r.gif, &type);
        if (status == GIF_ERROR && !r.in.ran_out && second_header_at(r.in.data, at))
            return at;
        r.check(status);
        if (type == TERMINATE_RECORD_TYPE)
            return std::nullopt;
        if (type == IMAGE_DESC_RECORD_TYPE) {
            r.check(DGifGetImageHeader(r.gif));
            if (!on_image(images++)) {
                int code_size;
                GifByteType* data;
                r.check(DGifGetCode(r.gif, &code_size, &data));
                while (data != nullptr)
                    r.check(DGifGetCodeNext(r.gif, &data));
            }
        } else if (type == EXTENSION_RECORD_TYPE) {
            int code;
            GifByteType* data;
            r.check(DGifGetExtension(r.gif, &code, &data));
            const block first = copy_block(data);
            block second;
            for (int n = 1; data != nullptr; ++n) {
                r.check(DGifGetExtensionNext(r.gif, &data));
                if (n == 1)
                    second = copy_block(data);
            }
            on_extension(code, first.view(), second.view());
        } else {
            throw failure("corrupt GIF: a block of unknown kind");
        }
    }
}

// A frame that reaches past the logical screen is cut to it, as browsers
// show it (the screen does not grow); all its pixels are still decoded, so
// the frame itself must be within the pixel limit.
rectangle on_screen(const GifFileType& gif, std::uint64_t number, size_limit limit)
{
    const GifImageDesc& d = gif.Image;
    const std::string where = "frame " + std::to_string(number) + " (" + std::to_string(d.Width) + " x " +
                              std::to_string(d.Height) + " at " + std::to_string(d.Left) + "," +
                              std::to_string(d.Top) + ")";
    if (d.Width <= 0 || d.Height <= 0 || d.Left < 0 || d.Top < 0)
        throw failure(where + " has no pixels");
    if (std::uint64_t(d.Width) * std::uint64_t(d.Height) > limit.max_input_pixels())
        throw failure(error::too_large, where + " is over the limit of " + std::to_string(limit.max_pixels) +
                                            " output pixels ({max_pixels} raises it)");
    const auto cut = [](int at, int size, int screen) { return std::size_t(std::clamp(screen - at, 0, size)); };
    return {std::size_t(std::min(d.Left, gif.SWidth)), std::size_t(std::min(d.Top, gif.SHeight)),
            cut(d.Left, d.Width, gif.SWidth), cut(d.Top, d.Height, gif.SHeight)};
}

// How a frame is shown: from the graphics control extension before it.
struct frame_control {
    int disposal = 0; // none given: the frame stays
    int transparent = NO_TRANSPARENT_COLOR;
    std::uint32_t delay = 0; // hundredths of a second
};

// A frame's pixels drawn onto the screen: each row read (in the stored
// order, so interlaced rows go to their place) and its colours looked up.
void draw(gif_reader& r, std::uint64_t number, const frame_control& control, rectangle place,
          std::span<pixel8888> screen, std::vector<GifPixelType>& line)
{
    const GifFileType& gif = *r.gif;
    const GifImageDesc& d = gif.Image;
    const ColorMapObject* map = d.ColorMap != nullptr ? d.ColorMap : gif.SColorMap;
    // Without any palette, browsers draw every colour black; so does this reader.
    std::array<pixel8888, MOST_COLOURS> colours;
    colours.fill(rgba(0, 0, 0, 0xFF));
    const int count = map == nullptr ? MOST_COLOURS : std::clamp(map->ColorCount, 0, MOST_COLOURS);
    for (int i = 0; map != nullptr && i < count; ++i)
        colours[std::size_t(i)] = rgba(map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue, 0xFF);

    line.resize(std::size_t(d.Width));
    const auto draw_row = [&](int y) {
        r.check(DGifGetLine(r.gif, line.data(), d.Width));
        if (std::size_t(y) >= place.height)
            return;
        pixel8888* out = screen.data() + (place.y + std::size_t(y)) * std::size_t(gif.SWidth) + place.x;
        for (int x = 0; std::size_t(x) < place.width; ++x) {
            const int index = line[std::size_t(x)];
            if (index == control.transparent)
                continue;
            // Browsers disagree on such a pixel (transparent, black, or the
            // frame dropped), so there is no one right picture to give.
            if (index >= count)
                throw failure("frame " + std::to_string(number) + " uses colour " + std::to_string(index) +
                              " of a palette of " + std::to_string(count));
            out[x] = colours[std::size_t(index)];
        }
    };
    if (d.Interlace) {
        for (const auto pass : INTERLACE_PASSES)
            for (int y = pass.first; y < d.Height; y += pass.step)
                draw_row(y);
    } else {
        for (int y = 0; y < d.Height; ++y)
            draw_row(y);
    }
}

} // namespace

animation decode_gif(std::span<const std::uint8_t> data, size_limit limit)
{
    // First the frames are only counted and their rectangles checked, so
    // that an absurd count is refused before any frame takes memory.
    std::uint64_t count = 0;
    {
        gif_reader r(data);
        check_frames(1, r.gif->SWidth, r.gif->SHeight, limit);
        (void)walk(
            r,
            [&](std::uint64_t number) {
                on_screen(*r.gif, number, limit);
                ++count;
                return false;
            },
            [](int, auto, auto) {});
        if (count == 0)
            throw failure("GIF without frames");
        check_frames(count, r.gif->SWidth, r.gif->SHeight, limit);
    }

    gif_reader r(data);
    const int width = r.gif->SWidth, height = r.gif->SHeight;
    animation anim;
    anim.frames.reserve(std::size_t(count));
    // Browsers start from a transparent screen and clear to transparent on
    // disposal 2, not to the background colour the header names; so does
    // this reader.
    canvas screen{std::size_t(width), std::size_t(height)};
    std::vector<GifPixelType> line;
    frame_control control;
    std::optional<std::uint32_t> loop_count;
    const std::optional<std::size_t> second = walk(
        r,
        [&](std::uint64_t number) {
            const rectangle place = on_screen(*r.gif, number, limit);
            screen.begin(place, disposal_of(control.disposal, DISPOSE_BACKGROUND, DISPOSE_PREVIOUS));
            draw(r, number, control, place, screen.pixels(), line);
            anim.frames.push_back({screen.snapshot(width, height), {control.delay, 100}});
            screen.end();
            control = {}; // a control extension is for the one image after it
            return true;
        },
        [&](int code, std::span<const std::uint8_t> first, std::span<const std::uint8_t> second) {
            if (code == GRAPHICS_EXT_FUNC_CODE && first.size() >= 4) {
                control.disposal = (first[0] >> 2) & 7;
                control.delay = std::uint32_t(first[1] | first[2] << 8);
                control.transparent = (first[0] & 1) != 0 ? first[3] : NO_TRANSPARENT_COLOR;
            } else if (code == APPLICATION_EXT_FUNC_CODE && second.size() >= 3 && second[0] == 1) {
                const std::string_view name(reinterpret_cast<const char*>(first.data()), first.size());
                if (std::find(std::begin(gif::LOOP_EXTENSIONS), std::end(gif::LOOP_EXTENSIONS), name) != std::end(gif::LOOP_EXTENSIONS))
                    loop_count = std::uint32_t(second[1] | second[2] << 8);
            }
        });
    // The loop extension counts the plays after the first, as browsers take
    // it: N plays N + 1 times, 0 forever, and without it a GIF plays once.
    anim.loops = !loop_count ? 1 : *loop_count == 0 ? gif::FOREVER : *loop_count + 1;
    anim.animated = anim.frames.size() > 1 || loop_count.has_value();
    if (second)
        anim.warning = "a second GIF starts at byte " + std::to_string(*second) + ", after frame " +
                       std::to_string(anim.frames.size() - 1) + ": its " + std::to_string(data.size() - *second) +
                       " bytes dropped, as browsers drop them";
    return anim;
}

} // namespace lq2x::files
