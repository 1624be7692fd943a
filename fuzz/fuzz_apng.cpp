// Fuzz target: the animated PNG reader, and its writer on what was read.
// Every frame read is whole and of the image's size, within the limit for
// the whole animation; an animation written back reads as the same frames,
// delays and loop count.
#include <cstddef>
#include <cstdint>

#include "codecs.h"
#include "frames.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // A small limit keeps huge claimed sizes and frame counts from spending the fuzzer's memory.
    const tool::size_limit limit{std::uint64_t{1} << 20, 1};
    tool::animation a;
    try {
        a = tool::decode_png_animation({data, size}, limit);
    } catch (const tool::failure&) {
        return 0;
    }
    if (fuzz::whole_frames(a) > limit.max_pixels)
        __builtin_trap();
    if (!a.animated)
        return 0;
    const tool::animation back = tool::decode_png_animation(tool::encode_png_animation(a, 1), limit);
    if (!back.animated || back.loops != a.loops)
        __builtin_trap();
    fuzz::same_frames(a, back, true);
    for (std::size_t i = 0; i < a.frames.size(); ++i)
        if (back.frames[i].picture.kind != a.frames[i].picture.kind)
            __builtin_trap();
    return 0;
}
