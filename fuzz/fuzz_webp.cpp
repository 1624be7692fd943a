// Fuzz target: the WebP reader, and the writer on what it reads. Every frame
// read must be whole, of one size, and say truly whether it has alpha; a
// small animation written back must read back the same, frame for frame.
#include <cstddef>
#include <cstdint>

#include "dispatch.h"
#include "formats.h"
#include "frames.h"

namespace files = lq2x::files;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    files::animation anim;
    try {
        // A small limit keeps huge claimed sizes from spending the fuzzer's memory.
        anim = files::decode_webp({data, size}, {std::uint64_t{1} << 22, 1});
    } catch (const files::failure&) {
        return 0;
    }
    const std::uint64_t pixels = fuzz::whole_frames(anim);
    for (const files::frame& f : anim.frames) {
        const files::image& img = f.picture;
        if (anim.animated && f.delay.denominator != 1000)
            __builtin_trap();
        bool clear = false;
        for (std::size_t i = 0; i < img.pixels.size(); ++i)
            clear = clear || img.bytes()[4 * i + 3] != 0xFF;
        if (clear != (img.kind == files::layout::rgba) || (!clear && img.kind != files::layout::rgb))
            __builtin_trap();
    }
    if (pixels > 1 << 14)
        return 0;
    try {
        const files::animation back = files::decode_webp(files::encode_webp(anim), {});
        if (anim.frames.size() > 1 && back.loops != anim.loops)
            __builtin_trap();
        fuzz::same_frames(anim, back, anim.frames.size() > 1);
    } catch (const files::failure&) {
        __builtin_trap(); // what was read can always be written
    }
    return 0;
}
