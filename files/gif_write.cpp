// GIF written through giflib, in memory.
//
// Writing is exact or refused: every frame whole, in one global palette
// when all frames' colours fit 256 together, otherwise each in a palette of
// its own; a frame of more than 256 colours, or with partly transparent
// pixels, fails the file, since quantising would change the picture.
#include <gif_lib.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <unordered_set>

#include "colour_table.h"
#include "formats.h"
#include "gif.h"

namespace lq2x::files {
namespace {

using gif::MOST_COLOURS;
constexpr int MOST_SIDE = 65535; // a GIF's sizes are 16-bit

// A frame's colours as the palette holds them: opaque pixels as they are,
// transparent ones as 0 (one entry, whatever their colour bits).
pixel8888 key(pixel8888 p) { return alpha_of(p) == 0 ? 0 : p; }

// The colours in a palette's order: transparency first, then by value.
std::vector<pixel8888> sorted(const colour_table& table)
{
    std::vector<pixel8888> out = table.colours();
    std::sort(out.begin(), out.end());
    return out;
}

// What the refusal to quantise says.
const std::string EXACT_ALTERNATIVES = "; write .png or .webp for an exact result";

std::string frame_name(std::size_t number, std::size_t frames)
{
    return frames == 1 ? std::string("the image") : "frame " + std::to_string(number);
}

// A frame's palette, refused when it needs more than a GIF's.
std::vector<pixel8888> palette_of(const image& img, std::size_t number, std::size_t frames)
{
    colour_table set;
    for (const pixel8888 p : img.pixels) {
        const std::uint8_t a = alpha_of(p);
        if (a != 0 && a != 0xFF)
            throw failure(frame_name(number, frames) + " has partly transparent pixels (alpha " + std::to_string(a) +
                          "), which a GIF cannot hold" + EXACT_ALTERNATIVES);
        if (set.add(key(p)) && set.size() > MOST_COLOURS) {
            std::unordered_set<pixel8888> all;
            for (const pixel8888 q : img.pixels)
                all.insert(key(q));
            throw failure(frame_name(number, frames) + " has " + std::to_string(all.size()) +
                          " colours, more than a GIF holds (256)" + EXACT_ALTERNATIVES);
        }
    }
    return sorted(set);
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
            colours[i] = {channel(palette[i], 0), channel(palette[i], 1), channel(palette[i], 2)};
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
    check_writable(anim);
    const std::size_t frames = anim.frames.size();
    const int width = anim.frames.front().picture.width, height = anim.frames.front().picture.height;
    if (width <= 0 || height <= 0)
        throw failure("image has no pixels");
    if (width > MOST_SIDE || height > MOST_SIDE)
        throw failure(std::to_string(width) + " x " + std::to_string(height) + " is larger than a GIF can be (" +
                      std::to_string(MOST_SIDE) + " on a side)" + EXACT_ALTERNATIVES);

    // Every frame's colours; one palette for all when they fit it together.
    std::vector<std::vector<pixel8888>> palettes;
    palettes.reserve(frames);
    std::vector<bool> transparent(frames);
    colour_table all;
    bool shared = true;
    for (std::size_t i = 0; i < frames; ++i) {
        palettes.push_back(palette_of(anim.frames[i].picture, i, frames));
        transparent[i] = palettes.back().front() == 0;
        for (const pixel8888 k : palettes.back())
            shared = shared && (all.add(k), all.size() <= MOST_COLOURS);
    }
    std::optional<gif_palette> global;
    if (shared) {
        const std::vector<pixel8888> palette = sorted(all);
        all.renumber(palette);
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
        const std::uint32_t repeats = anim.loops == gif::FOREVER ? 0 : held_loops(format::gif, anim.loops) - 1;
        const std::uint8_t loop[3] = {1, std::uint8_t(repeats & 0xFF), std::uint8_t(repeats >> 8)};
        w.check(EGifPutExtensionLeader(w.gif, APPLICATION_EXT_FUNC_CODE));
        w.check(EGifPutExtensionBlock(w.gif, int(gif::LOOP_EXTENSIONS[0].size()), gif::LOOP_EXTENSIONS[0].data()));
        w.check(EGifPutExtensionBlock(w.gif, sizeof loop, loop));
        w.check(EGifPutExtensionTrailer(w.gif));
    }

    std::vector<GifPixelType> row(std::size_t(width), 0);
    for (std::size_t i = 0; i < frames; ++i) {
        // Frames are whole: one drawn over a frame without transparency
        // covers it; one with transparency needs the screen cleared first.
        const std::size_t next = (i + 1) % frames;
        const int delay = int(held_delay(format::gif, anim.frames[i].delay).numerator);
        if (animated || any_transparent || delay != 0) {
            GraphicsControlBlock control{};
            control.DisposalMode = frames > 1 && transparent[next] ? DISPOSE_BACKGROUND : DISPOSE_DO_NOT;
            control.DelayTime = delay;
            control.TransparentColor = transparent[i] ? 0 : NO_TRANSPARENT_COLOR;
            GifByteType extension[4];
            const std::size_t size = EGifGCBToExtension(&control, extension);
            w.check(EGifPutExtension(w.gif, GRAPHICS_EXT_FUNC_CODE, int(size), extension));
        }
        std::optional<colour_table> own;
        std::optional<gif_palette> local;
        if (!global) {
            own.emplace(palettes[i]);
            local.emplace(palettes[i]);
        }
        const colour_table& set = global ? all : *own;
        w.check(EGifPutImageDesc(w.gif, 0, 0, width, height, false, local ? &local->map : nullptr));
        const pixel8888* px = anim.frames[i].picture.pixels.data();
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x)
                row[std::size_t(x)] = set.index(key(px[std::size_t(y) * std::size_t(width) + std::size_t(x)]));
            w.check(EGifPutLine(w.gif, row.data(), width));
        }
    }
    return w.finish();
}

} // namespace lq2x::files
