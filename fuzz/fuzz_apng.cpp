// Fuzz target: the animated PNG reader, and its writer on what was read.
// Every frame read is whole and of the image's size, within the limit for
// the whole animation; an animation written back reads as the same frames,
// delays and loop count.
#include <cstddef>
#include <cstdint>

#include "dispatch.h"
#include "formats.h"
#include "frames.h"

namespace files = lq2x::files;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // A small limit keeps huge claimed sizes and frame counts from spending the fuzzer's memory.
    const files::size_limit limit{std::uint64_t{1} << 20, 1};
    files::animation a;
    try {
        a = files::decode_png_animation({data, size}, limit);
    } catch (const files::failure&) {
        return 0;
    }
    if (fuzz::whole_frames(a) > limit.max_pixels)
        __builtin_trap();
    if (!a.animated)
        return 0;
    const files::animation back = files::decode_png_animation(files::encode_png_animation(a, 1), limit);
    if (!back.animated || back.loops != a.loops)
        __builtin_trap();
    fuzz::same_frames(a, back, true);
    for (std::size_t i = 0; i < a.frames.size(); ++i)
        if (back.frames[i].picture.kind != a.frames[i].picture.kind)
            __builtin_trap();
    return 0;
}
