// Fuzz target: the WebP reader, and the writer on what it reads. Every frame
// read must be whole, of one size, and say truly whether it has alpha; a
// small animation written back must read back the same, frame for frame.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codecs.h"

namespace {

bool same(const tool::image& a, const tool::image& b)
{
    return a.width == b.width && a.height == b.height &&
           std::memcmp(a.bytes(), b.bytes(), a.pixels.size() * 4) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    tool::animation anim;
    try {
        // A small limit keeps huge claimed sizes from spending the fuzzer's memory.
        anim = tool::decode_webp({data, size}, {std::uint64_t{1} << 22, 1});
    } catch (const tool::failure&) {
        return 0;
    }
    if (anim.frames.empty() || (!anim.animated && anim.frames.size() != 1))
        __builtin_trap();
    std::size_t pixels = 0;
    for (const tool::frame& f : anim.frames) {
        const tool::image& img = f.picture;
        if (img.width != anim.frames[0].picture.width || img.height != anim.frames[0].picture.height ||
            img.pixels.size() != std::size_t(img.width) * std::size_t(img.height) ||
            (anim.animated && f.delay.denominator != 1000))
            __builtin_trap();
        bool clear = false;
        for (std::size_t i = 0; i < img.pixels.size(); ++i)
            clear = clear || img.bytes()[4 * i + 3] != 0xFF;
        if (clear != (img.kind == tool::layout::rgba) || (!clear && img.kind != tool::layout::rgb))
            __builtin_trap();
        pixels += img.pixels.size();
    }
    if (pixels > 1 << 14)
        return 0;
    try {
        const tool::animation back = tool::decode_webp(tool::encode_webp(anim), {});
        if (back.frames.size() != anim.frames.size() || (anim.frames.size() > 1 && back.loops != anim.loops))
            __builtin_trap();
        for (std::size_t i = 0; i < anim.frames.size(); ++i)
            if (!same(back.frames[i].picture, anim.frames[i].picture) ||
                (anim.frames.size() > 1 && back.frames[i].delay.numerator != anim.frames[i].delay.numerator))
                __builtin_trap();
    } catch (const tool::failure&) {
        __builtin_trap(); // what was read can always be written
    }
    return 0;
}
