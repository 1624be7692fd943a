// GIF written through giflib, in memory.
//
// Writing is exact or refused unless the caller asks otherwise: every frame
// whole, in one global palette when all frames' colours fit 256 together,
// otherwise each in a palette of its own; a frame of more than 256 colours,
// or with partly transparent pixels, fails the file, since either change
// would alter the picture. Asked by name (gif::fit), the writer makes such
// frames fit: partial alpha cut at a threshold, colours reduced
// (gif_reduce.h); each change it made is said in one line.
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
#include "gif_reduce.h"

namespace lq2x::files {
namespace {

using gif::MOST_COLOURS;
using gif::setting;
using gif::setting_name;
constexpr int MOST_SIDE = 65535; // a GIF's sizes are 16-bit

// A frame's colours as the palette holds them: pixels whose alpha is below
// the threshold are transparent, as 0 (one entry, whatever their colour
// bits); the rest opaque, as they are. Exact writing's threshold is 1, and
// only alpha 0 and 255 get this far.
struct keying {
    std::uint8_t threshold = 1;
    pixel8888 operator()(pixel8888 p) const { return alpha_of(p) < threshold ? 0 : p | ALPHA_BITS; }
};

// The colours in a palette's order: transparency first, then by value.
std::vector<pixel8888> sorted(const colour_table& table)
{
    std::vector<pixel8888> out = table.colours();
    std::sort(out.begin(), out.end());
    return out;
}

// What a refusal offers in place of an exact GIF.
const std::string LOSSLESS = "PNG or WebP";

std::string frame_name(std::size_t number, std::size_t frames)
{
    return frames == 1 ? std::string("the image") : "frame " + std::to_string(number);
}

std::size_t colour_count(const image& img, keying key)
{
    std::unordered_set<pixel8888> all;
    for (const pixel8888 q : img.pixels)
        all.insert(key(q));
    return all.size();
}

// A frame's colours: its palette when they fit `most`, and whether it has transparency.
struct frame_colours {
    std::vector<pixel8888> palette; // sorted; empty when over
    bool over = false;
    bool transparent = false;
};

// What cutting alpha at the threshold changed.
struct alpha_changes {
    std::uint64_t cleared = 0, opaqued = 0;
};

// A frame's colours, or the refusal of a frame that needs what the caller did not allow.
frame_colours colours_of(const image& img, std::size_t number, std::size_t frames, const gif::fit& fit,
                         alpha_changes& changed)
{
    const keying key{std::uint8_t(fit.alpha > 0 ? fit.alpha : 1)};
    const std::size_t most = std::size_t(fit.colours > 0 ? fit.colours : MOST_COLOURS);
    colour_table set;
    frame_colours out;
    for (const pixel8888 p : img.pixels) {
        const std::uint8_t a = alpha_of(p);
        if (a != 0 && a != 0xFF) {
            if (fit.alpha == 0)
                throw failure(frame_name(number, frames) + " has partly transparent pixels (alpha " + std::to_string(a) +
                              "), which a GIF cannot hold exactly: set " + setting_name(setting::alpha) +
                              " to make them clear or opaque, or write " + LOSSLESS);
            ++(a < key.threshold ? changed.cleared : changed.opaqued);
        }
        if (!out.over && set.add(key(p)) && set.size() > most) {
            if (fit.colours == 0)
                throw failure(frame_name(number, frames) + " has " + std::to_string(colour_count(img, key)) +
                              " colours, more than a GIF holds (256): set " + setting_name(setting::colours) +
                              " to reduce them, or write " + LOSSLESS);
            out.over = true;
        }
    }
    out.transparent = std::any_of(img.pixels.begin(), img.pixels.end(), [&](pixel8888 p) { return key(p) == 0; });
    if (!out.over)
        out.palette = sorted(set);
    return out;
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

std::vector<std::uint8_t> encode_gif(const animation& anim, const gif::fit& fit, std::vector<std::string>* not_exact)
{
    check_writable(anim);
    const std::size_t frames = anim.frames.size();
    const int width = anim.frames.front().picture.width, height = anim.frames.front().picture.height;
    if (width <= 0 || height <= 0)
        throw failure("image has no pixels");
    if (width > MOST_SIDE || height > MOST_SIDE)
        throw failure(std::to_string(width) + " x " + std::to_string(height) + " is larger than a GIF can be (" +
                      std::to_string(MOST_SIDE) + " on a side): write " + LOSSLESS);

    // Every frame's colours, or that it has more than it may.
    const keying key{std::uint8_t(fit.alpha > 0 ? fit.alpha : 1)};
    std::vector<frame_colours> colours;
    colours.reserve(frames);
    alpha_changes changed;
    for (std::size_t i = 0; i < frames; ++i)
        colours.push_back(colours_of(anim.frames[i].picture, i, frames, fit, changed));
    if (not_exact != nullptr && changed.cleared + changed.opaqued > 0)
        not_exact->push_back("not exact: " + setting_name(setting::alpha) + " " + std::to_string(fit.alpha) + " made " +
                             std::to_string(changed.cleared) + " partly transparent pixels clear and " +
                             std::to_string(changed.opaqued) + " opaque");

    // Frames over the colours asked reduced, together or each alone; the
    // transparent index counts as one of them.
    std::vector<std::size_t> over;
    for (std::size_t i = 0; i < frames; ++i)
        if (colours[i].over)
            over.push_back(i);
    std::vector<const gif::reduction*> reduced_by(frames, nullptr);
    const auto colour = [&](std::size_t i, pixel8888 p) {
        const pixel8888 k = key(p);
        return k != 0 && reduced_by[i] != nullptr ? (*reduced_by[i])(k) : k;
    };
    std::vector<gif::reduction> reductions;
    std::optional<colour_table> shared_palette;
    if (!over.empty()) {
        std::vector<std::vector<std::size_t>> groups;
        if (fit.per_frame)
            for (const std::size_t i : over)
                groups.push_back({i});
        else
            groups.push_back(over);
        reductions.reserve(groups.size());
        std::size_t before = 0, after = 0; // colours: of the reduced frames together, or the most of one
        for (const std::vector<std::size_t>& group : groups) {
            std::vector<const image*> pictures;
            bool transparent = false;
            for (const std::size_t i : group) {
                pictures.push_back(&anim.frames[i].picture);
                transparent = transparent || colours[i].transparent;
            }
            const gif::reduction& r = reductions.emplace_back(pictures, key.threshold, fit.colours - int(transparent));
            colour_table together;
            for (const std::size_t i : group) {
                reduced_by[i] = &r;
                colour_table set;
                for (const pixel8888 p : anim.frames[i].picture.pixels)
                    set.add(colour(i, p));
                colours[i].palette = sorted(set);
                for (const pixel8888 k : colours[i].palette)
                    together.add(k);
            }
            before = std::max(before, r.colours_before() + std::size_t(transparent));
            after = std::max(after, together.size());
            if (!fit.per_frame)
                shared_palette.emplace(sorted(together));
        }
        if (not_exact != nullptr) {
            const std::string which = frames == 1 ? std::string("the image")
                                                  : std::to_string(over.size()) + " of " + std::to_string(frames) + " frames";
            const bool each = fit.per_frame && over.size() > 1, one = !fit.per_frame && over.size() > 1;
            not_exact->push_back("not exact: " + setting_name(setting::colours) + " " + std::to_string(fit.colours) +
                                 " reduced " + which + " from " + (each ? "up to " : "") + std::to_string(before) +
                                 " colours to " + (each ? "at most " : "") + std::to_string(after) +
                                 (each ? " each" : one ? ", in one palette" : ""));
        }
    }

    // One palette for all when all frames' colours fit it together; else,
    // with a shared reduction, that palette for every frame whose colours
    // it holds; otherwise each frame its own.
    std::vector<bool> transparent(frames);
    colour_table all;
    bool fits = true;
    for (std::size_t i = 0; i < frames; ++i) {
        transparent[i] = colours[i].transparent;
        for (const pixel8888 k : colours[i].palette)
            fits = fits && (all.add(k), all.size() <= MOST_COLOURS);
    }
    std::vector<pixel8888> global_colours;
    if (fits)
        global_colours = sorted(all);
    else if (shared_palette)
        global_colours = shared_palette->colours();
    std::optional<colour_table> global_set;
    std::optional<gif_palette> global;
    std::vector<bool> uses_global(frames, false);
    if (!global_colours.empty()) {
        global_set.emplace(global_colours);
        global.emplace(global_colours);
        for (std::size_t i = 0; i < frames; ++i)
            uses_global[i] = std::includes(global_colours.begin(), global_colours.end(), colours[i].palette.begin(),
                                           colours[i].palette.end());
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
        if (!uses_global[i]) {
            own.emplace(colours[i].palette);
            local.emplace(colours[i].palette);
        }
        const colour_table& set = uses_global[i] ? *global_set : *own;
        // giflib forgets (and leaks) the last frame's own palette when the
        // next has none, as a frame after a reduction's own may not.
        if (!local && w.gif->Image.ColorMap != nullptr) {
            GifFreeMapObject(w.gif->Image.ColorMap);
            w.gif->Image.ColorMap = nullptr;
        }
        w.check(EGifPutImageDesc(w.gif, 0, 0, width, height, false, local ? &local->map : nullptr));
        const pixel8888* px = anim.frames[i].picture.pixels.data();
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x)
                row[std::size_t(x)] = set.index(colour(i, px[std::size_t(y) * std::size_t(width) + std::size_t(x)]));
            w.check(EGifPutLine(w.gif, row.data(), width));
        }
    }
    return w.finish();
}

} // namespace lq2x::files
