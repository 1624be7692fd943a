// Fuzz target: the animated PNG reader, and its writer on what was read.
// Every frame read is whole and of the image's size, within the limit for
// the whole animation; an animation written back reads as the same frames,
// delays and loop count.
#include <cstddef>
#include <cstdint>

#include "codecs.h"

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
    std::uint64_t pixels = 0;
    for (const tool::frame& f : a.frames) {
        if (f.picture.width != a.frames.front().picture.width || f.picture.height != a.frames.front().picture.height ||
            f.picture.pixels.size() != std::size_t(f.picture.width) * std::size_t(f.picture.height))
            __builtin_trap();
        pixels += f.picture.pixels.size();
    }
    if (a.frames.empty() || pixels > limit.max_pixels || (!a.animated && a.frames.size() != 1))
        __builtin_trap();
    if (!a.animated)
        return 0;
    const tool::animation back = tool::decode_png_animation(tool::encode_png_animation(a, 1), limit);
    if (!back.animated || back.loops != a.loops || back.frames.size() != a.frames.size())
        __builtin_trap();
    for (std::size_t i = 0; i < a.frames.size(); ++i) {
        const tool::frame &f = a.frames[i], &g = back.frames[i];
        if (g.picture.pixels != f.picture.pixels || g.picture.kind != f.picture.kind ||
            g.delay.numerator != f.delay.numerator || g.delay.denominator != f.delay.denominator)
            __builtin_trap();
    }
    return 0;
}
