// Fuzz target: the GIF reader, and the writer on what it read. Whatever the
// reader accepts is whole frames of one size, each pixel opaque or fully
// transparent (and then all zero); written back, when the composited frames
// fit GIF's 256 colours, it reads back the same.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <unordered_set>

#include "dispatch.h"
#include "formats.h"
#include "frames.h"

namespace files = lq2x::files;

namespace {

std::uint8_t alpha(files::pixel8888 p)
{
    std::uint8_t c[4];
    std::memcpy(c, &p, 4);
    return c[3];
}

bool over_256_colours(const files::image& img)
{
    const std::unordered_set<files::pixel8888> colours(img.pixels.begin(), img.pixels.end());
    return colours.size() > 256;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // A small limit keeps huge claimed sizes and counts from spending the fuzzer's memory.
    const files::size_limit limit{std::uint64_t{1} << 22, 1};
    files::animation anim;
    try {
        anim = files::decode_gif({data, size}, limit);
    } catch (const files::failure&) {
        return 0;
    }
    fuzz::whole_frames(anim);
    for (const files::frame& f : anim.frames) {
        const files::image& img = f.picture;
        bool clear = false;
        for (const files::pixel8888 p : img.pixels) {
            const std::uint8_t a = alpha(p);
            if ((a != 0 && a != 255) || (a == 0 && p != 0))
                __builtin_trap();
            clear = clear || a == 0;
        }
        if (clear != files::has_alpha(img.kind))
            __builtin_trap();
    }

    std::vector<std::uint8_t> written;
    try {
        written = files::encode_gif(anim);
    } catch (const files::failure&) {
        bool over = false;
        for (const files::frame& f : anim.frames)
            over = over || over_256_colours(f.picture);
        if (!over) // the only reason a GIF's own frames cannot be written
            __builtin_trap();
        return 0;
    }
    const files::animation back = files::decode_gif(written, limit);
    if (back.loops != anim.loops || back.animated != anim.animated)
        __builtin_trap();
    fuzz::same_frames(anim, back, true);
    return 0;
}
