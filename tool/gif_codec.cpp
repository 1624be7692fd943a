// GIF through giflib, read and written in memory.
//
// Reading composites every frame as browsers show it: the screen starts
// transparent, each frame is drawn at its place (its transparency index
// leaving the screen as it was), and its disposal then applies: 0 and 1
// (and the undefined 4 to 7) leave it, 2 clears the frame's rectangle to
// transparent, 3 restores what the rectangle held before the frame. Delays stay in hundredths; a frame
// without a delay keeps 0 (viewers choose how long to show such a frame).
//
// Writing is exact or refused: every frame whole, in one global palette
// when all frames' colours fit 256 together, otherwise each in a palette of
// its own; a frame of more than 256 colours, or with partly transparent
// pixels, fails the file, since quantising would change the picture.
#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <new>
#include <optional>
#include <string_view>
#include <unordered_set>

#include "codecs.h"

namespace tool {
namespace {

constexpr int MOST_COLOURS = 256;
constexpr int MOST_SIDE = 65535;     // a GIF's sizes are 16-bit
constexpr std::uint32_t FOREVER = 0; // animation::loops

// Rows of an interlaced frame, in the order they are stored: every 8th from
// 0, every 8th from 4, every 4th from 2, every 2nd from 1.
constexpr struct {
    int first, step;
} INTERLACE_PASSES[] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};

constexpr std::string_view LOOP_EXTENSIONS[] = {"NETSCAPE2.0", "ANIMEXTS1.0"};

using channels = std::array<std::uint8_t, 4>; // R, G, B, A in memory order

constexpr pixel8888 rgba(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a)
{
    return std::bit_cast<pixel8888>(channels{r, g, b, a});
}

constexpr std::uint8_t alpha_of(pixel8888 p) { return std::bit_cast<channels>(p)[3]; }

// ---- reading

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

// The records of a GIF in order. on_image(number) runs once an image's
// descriptor and palette are read; it reads the image's pixels, or returns
// false to have them skipped. on_extension(code, first, second) sees the
// first two data blocks of each extension (empty when there are fewer).
template <typename OnImage, typename OnExtension>
void walk(gif_reader& r, OnImage on_image, OnExtension on_extension)
{
    for (std::uint64_t images = 0;;) {
        GifRecordType type;
        r.check(DGifGetRecordType(r.gif, &type));
        if (type == TERMINATE_RECORD_TYPE)
            return;
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

// A frame's rectangle must lie within the logical screen: this reader does
// not grow the screen or cut frames as some viewers do.
void check_rectangle(const GifFileType& gif, std::uint64_t number)
{
    const GifImageDesc& d = gif.Image;
    const std::string where = "frame " + std::to_string(number) + " (" + std::to_string(d.Width) + " x " +
                              std::to_string(d.Height) + " at " + std::to_string(d.Left) + "," +
                              std::to_string(d.Top) + ")";
    if (d.Width <= 0 || d.Height <= 0)
        throw failure(where + " has no pixels");
    if (d.Left < 0 || d.Top < 0 || d.Left + d.Width > gif.SWidth || d.Top + d.Height > gif.SHeight)
        throw failure(where + " reaches outside the screen (" + std::to_string(gif.SWidth) + " x " +
                      std::to_string(gif.SHeight) + ")");
}

// How a frame is shown: from the graphics control extension before it.
struct frame_control {
    int disposal = 0; // none given: the frame stays
    int transparent = NO_TRANSPARENT_COLOR;
    std::uint32_t delay = 0; // hundredths of a second
};

// A frame's pixels drawn onto the screen: each row read (in the stored
// order, so interlaced rows go to their place) and its colours looked up.
void draw(gif_reader& r, std::uint64_t number, const frame_control& control, std::vector<pixel8888>& screen,
          std::vector<GifPixelType>& line)
{
    const GifFileType& gif = *r.gif;
    const GifImageDesc& d = gif.Image;
    const ColorMapObject* map = d.ColorMap != nullptr ? d.ColorMap : gif.SColorMap;
    if (map == nullptr)
        throw failure("frame " + std::to_string(number) + " has no palette, neither its own nor a global one");
    std::array<pixel8888, MOST_COLOURS> colours{};
    const int count = std::clamp(map->ColorCount, 0, MOST_COLOURS);
    for (int i = 0; i < count; ++i)
        colours[std::size_t(i)] = rgba(map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue, 0xFF);

    line.resize(std::size_t(d.Width));
    const auto draw_row = [&](int y) {
        r.check(DGifGetLine(r.gif, line.data(), d.Width));
        pixel8888* out = screen.data() + std::size_t(d.Top + y) * std::size_t(gif.SWidth) + std::size_t(d.Left);
        for (int x = 0; x < d.Width; ++x) {
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

// Copies rectangle rows between the screen and a buffer of the rectangle's size.
// A GIF's disposal method as the canvas applies it; the undefined 4 to 7
// keep the frame, as 0 and 1 do.
disposal disposal_of(int method)
{
    return method == DISPOSE_BACKGROUND ? disposal::clear
           : method == DISPOSE_PREVIOUS ? disposal::restore
                                        : disposal::keep;
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
        walk(
            r,
            [&](std::uint64_t number) {
                check_rectangle(*r.gif, number);
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
    std::vector<pixel8888> screen(std::size_t(width) * std::size_t(height), rgba(0, 0, 0, 0));
    std::vector<pixel8888> saved;
    std::vector<GifPixelType> line;
    frame_control control;
    std::optional<std::uint32_t> loop_count;
    walk(
        r,
        [&](std::uint64_t number) {
            check_rectangle(*r.gif, number);
            const GifImageDesc& d = r.gif->Image;
            const rectangle place{std::size_t(d.Left), std::size_t(d.Top), std::size_t(d.Width), std::size_t(d.Height)};
            const disposal then = disposal_of(control.disposal);
            before_frame(screen, std::size_t(width), place, then, saved);
            draw(r, number, control, screen, line);
            anim.frames.push_back({{width, height, layout_of_frame(screen), screen}, {control.delay, 100}});
            after_frame(screen, std::size_t(width), place, then, saved);
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
                if (std::find(std::begin(LOOP_EXTENSIONS), std::end(LOOP_EXTENSIONS), name) != std::end(LOOP_EXTENSIONS))
                    loop_count = std::uint32_t(second[1] | second[2] << 8);
            }
        });
    // The loop extension counts the plays after the first, as browsers take
    // it: N plays N + 1 times, 0 forever, and without it a GIF plays once.
    anim.loops = !loop_count ? 1 : *loop_count == 0 ? FOREVER : *loop_count + 1;
    anim.animated = anim.frames.size() > 1 || loop_count.has_value();
    return anim;
}

namespace {

// ---- writing

// A frame's distinct colours, transparency counted as one, in a small open
// hash table: at most 256 are kept, beyond that only noticed.
class colour_set {
public:
    // Whole pixels: opaque ones as they are, transparent ones as 0.
    static pixel8888 key(pixel8888 p) { return alpha_of(p) == 0 ? 0 : p; }

    colour_set() { slots_.fill(EMPTY); }

    // False when the colour would be the 257th.
    bool insert(pixel8888 k)
    {
        std::size_t i = slot(k);
        while (slots_[i] != EMPTY) {
            if (slots_[i] == k)
                return true;
            i = (i + 1) % SLOTS;
        }
        if (count_ == MOST_COLOURS)
            return false;
        slots_[i] = k;
        ++count_;
        return true;
    }

    // The index of a colour that is in the set, given indices by assign().
    std::uint8_t index(pixel8888 k) const
    {
        std::size_t i = slot(k);
        while (slots_[i] != k)
            i = (i + 1) % SLOTS;
        return indices_[i];
    }

    void assign(std::span<const pixel8888> palette)
    {
        for (std::size_t n = 0; n < palette.size(); ++n) {
            std::size_t i = slot(palette[n]);
            while (slots_[i] != palette[n])
                i = (i + 1) % SLOTS;
            indices_[i] = std::uint8_t(n);
        }
    }

    // The colours in a fixed order: transparency first, then by value.
    std::vector<pixel8888> sorted() const
    {
        std::vector<pixel8888> out;
        for (const pixel8888 k : slots_)
            if (k != EMPTY)
                out.push_back(k);
        std::sort(out.begin(), out.end());
        return out;
    }

    int size() const { return count_; }

private:
    static constexpr std::size_t SLOTS = 1024; // a quarter full at most
    // A partly transparent pixel is refused before it could be a key.
    static constexpr pixel8888 EMPTY = rgba(0, 0, 0, 1);

    static std::size_t slot(pixel8888 k) { return std::size_t((k * 0x9E3779B1u) >> 22); }

    std::array<pixel8888, SLOTS> slots_;
    std::array<std::uint8_t, SLOTS> indices_{};
    int count_ = 0;
};

// What the refusal to quantise says.
const std::string EXACT_ALTERNATIVES = "; write .png or .webp for an exact result";

std::string frame_name(std::size_t number, std::size_t frames)
{
    return frames == 1 ? std::string("the image") : "frame " + std::to_string(number);
}

colour_set colours_of(const image& img, std::size_t number, std::size_t frames)
{
    colour_set set;
    for (const pixel8888 p : img.pixels) {
        const std::uint8_t a = alpha_of(p);
        if (a != 0 && a != 0xFF)
            throw failure(frame_name(number, frames) + " has partly transparent pixels (alpha " + std::to_string(a) +
                          "), which a GIF cannot hold" + EXACT_ALTERNATIVES);
        if (!set.insert(colour_set::key(p))) {
            std::unordered_set<pixel8888> all;
            for (const pixel8888 q : img.pixels)
                all.insert(colour_set::key(q));
            throw failure(frame_name(number, frames) + " has " + std::to_string(all.size()) +
                          " colours, more than a GIF holds (256)" + EXACT_ALTERNATIVES);
        }
    }
    return set;
}

// A palette in giflib's form, padded to a power of two as GIF wants.
struct gif_palette {
    std::vector<GifColorType> colours;
    ColorMapObject map{};

    explicit gif_palette(std::span<const pixel8888> palette)
    {
        const int bits = int(std::bit_width(std::max<std::size_t>(palette.size(), 2) - 1));
        colours.assign(std::size_t{1} << bits, GifColorType{0, 0, 0});
        for (std::size_t i = 0; i < palette.size(); ++i) {
            const channels c = std::bit_cast<channels>(palette[i]);
            colours[i] = {c[0], c[1], c[2]};
        }
        map = {int(colours.size()), bits, false, colours.data()};
    }
};

struct gif_output {
    std::vector<std::uint8_t> bytes;
    bool out_of_memory = false;
};

// No exception may cross giflib's C frames: a failed append is reported as a short write.
int write_output(GifFileType* gif, const GifByteType* data, int length)
{
    gif_output& out = *static_cast<gif_output*>(gif->UserData);
    try {
        out.bytes.insert(out.bytes.end(), data, data + length);
    } catch (const std::bad_alloc&) {
        out.out_of_memory = true;
        return 0;
    }
    return length;
}

struct gif_writer {
    gif_output out;
    GifFileType* gif = nullptr;

    gif_writer()
    {
        int error = E_GIF_SUCCEEDED;
        gif = EGifOpen(&out, write_output, &error);
        if (gif == nullptr)
            throw std::bad_alloc(); // EGifOpen fails only for memory
    }
    ~gif_writer()
    {
        int error;
        if (gif != nullptr)
            EGifCloseFile(gif, &error);
    }
    gif_writer(const gif_writer&) = delete;
    gif_writer& operator=(const gif_writer&) = delete;

    void check(int status) const
    {
        if (status == GIF_ERROR)
            fail(gif->Error);
    }

    [[noreturn]] void fail(int error) const
    {
        if (out.out_of_memory || error == E_GIF_ERR_NOT_ENOUGH_MEM)
            throw std::bad_alloc();
        const char* what = GifErrorString(error);
        throw failure(std::string("cannot write GIF") + (what != nullptr ? std::string(": ") + what : ""));
    }

    // Writes the trailer.
    std::vector<std::uint8_t> finish()
    {
        int error = E_GIF_SUCCEEDED;
        const int status = EGifCloseFile(gif, &error);
        gif = nullptr;
        if (status == GIF_ERROR)
            fail(error);
        return std::move(out.bytes);
    }
};

} // namespace

std::vector<std::uint8_t> encode_gif(const animation& anim)
{
    if (anim.frames.empty())
        throw failure("no frames to write");
    const std::size_t frames = anim.frames.size();
    const int width = anim.frames.front().picture.width, height = anim.frames.front().picture.height;
    for (const frame& f : anim.frames)
        if (f.picture.width != width || f.picture.height != height)
            throw failure("frames of different sizes");
    if (width <= 0 || height <= 0)
        throw failure("image has no pixels");
    if (width > MOST_SIDE || height > MOST_SIDE)
        throw failure(std::to_string(width) + " x " + std::to_string(height) + " is larger than a GIF can be (" +
                      std::to_string(MOST_SIDE) + " on a side)" + EXACT_ALTERNATIVES);

    // Every frame's colours; one palette for all when they fit it together.
    std::vector<std::vector<pixel8888>> palettes;
    palettes.reserve(frames);
    std::vector<bool> transparent(frames);
    colour_set all;
    bool shared = true;
    for (std::size_t i = 0; i < frames; ++i) {
        palettes.push_back(colours_of(anim.frames[i].picture, i, frames).sorted());
        transparent[i] = palettes.back().front() == 0;
        for (const pixel8888 k : palettes.back())
            shared = shared && all.insert(k);
    }
    std::optional<gif_palette> global;
    if (shared) {
        const std::vector<pixel8888> palette = all.sorted();
        all.assign(palette);
        global.emplace(palette);
    }
    // The transparent colour, when there is one, sorts first: index 0.
    const bool any_transparent = std::find(transparent.begin(), transparent.end(), true) != transparent.end();

    gif_writer w;
    EGifSetGifVersion(w.gif, true);
    w.check(EGifPutScreenDesc(w.gif, width, height, 8, 0, global ? &global->map : nullptr));
    const bool animated = anim.animated || frames > 1;
    if (animated && anim.loops != 1) {
        // Plays after the first, as browsers read it (see decode_gif).
        const std::uint32_t repeats = anim.loops == FOREVER ? 0 : std::min<std::uint32_t>(anim.loops - 1, 0xFFFF);
        const std::uint8_t loop[3] = {1, std::uint8_t(repeats & 0xFF), std::uint8_t(repeats >> 8)};
        w.check(EGifPutExtensionLeader(w.gif, APPLICATION_EXT_FUNC_CODE));
        w.check(EGifPutExtensionBlock(w.gif, int(LOOP_EXTENSIONS[0].size()), LOOP_EXTENSIONS[0].data()));
        w.check(EGifPutExtensionBlock(w.gif, sizeof loop, loop));
        w.check(EGifPutExtensionTrailer(w.gif));
    }

    std::vector<GifPixelType> row(std::size_t(width), 0);
    for (std::size_t i = 0; i < frames; ++i) {
        // Frames are whole: one drawn over a frame without transparency
        // covers it; one with transparency needs the screen cleared first.
        const std::size_t next = (i + 1) % frames;
        const int delay = int(anim.frames[i].delay.in_units(100, 0xFFFF));
        if (animated || any_transparent || delay != 0) {
            GraphicsControlBlock control{};
            control.DisposalMode = frames > 1 && transparent[next] ? DISPOSE_BACKGROUND : DISPOSE_DO_NOT;
            control.DelayTime = delay;
            control.TransparentColor = transparent[i] ? 0 : NO_TRANSPARENT_COLOR;
            GifByteType extension[4];
            const std::size_t size = EGifGCBToExtension(&control, extension);
            w.check(EGifPutExtension(w.gif, GRAPHICS_EXT_FUNC_CODE, int(size), extension));
        }
        colour_set own;
        std::optional<gif_palette> local;
        if (!global) {
            for (const pixel8888 k : palettes[i])
                own.insert(k);
            own.assign(palettes[i]);
            local.emplace(palettes[i]);
        }
        const colour_set& set = global ? all : own;
        w.check(EGifPutImageDesc(w.gif, 0, 0, width, height, false, local ? &local->map : nullptr));
        const pixel8888* px = anim.frames[i].picture.pixels.data();
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x)
                row[std::size_t(x)] = set.index(colour_set::key(px[std::size_t(y) * std::size_t(width) + std::size_t(x)]));
            w.check(EGifPutLine(w.gif, row.data(), width));
        }
    }
    return w.finish();
}

} // namespace tool
