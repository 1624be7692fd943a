// What every animation reader's fuzz target asks of the frames it reads, and
// of the same frames written and read back.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dispatch.h"
#include "formats.h"

namespace files = lq2x::files;

namespace fuzz {

// Traps unless there are frames, each whole and of the first one's size, and
// a still has exactly one; gives the pixels of all frames together.
inline std::uint64_t whole_frames(const files::animation& a)
{
    if (a.frames.empty() || (!a.animated && a.frames.size() != 1))
        __builtin_trap();
    const int width = a.frames.front().picture.width, height = a.frames.front().picture.height;
    std::uint64_t pixels = 0;
    for (const files::frame& f : a.frames) {
        if (f.picture.width != width || f.picture.height != height ||
            f.picture.pixels.size() != std::size_t(width) * std::size_t(height))
            __builtin_trap();
        pixels += f.picture.pixels.size();
    }
    return pixels;
}

// Traps unless `back` has a's frames: as many, the same pixels and, where
// `delays`, the same delays.
inline void same_frames(const files::animation& a, const files::animation& back, bool delays)
{
    if (back.frames.size() != a.frames.size())
        __builtin_trap();
    for (std::size_t i = 0; i < a.frames.size(); ++i) {
        const files::frame &f = a.frames[i], &g = back.frames[i];
        if (g.picture.width != f.picture.width || g.picture.pixels != f.picture.pixels ||
            (delays && (g.delay.numerator != f.delay.numerator || g.delay.denominator != f.delay.denominator)))
            __builtin_trap();
    }
}

} // namespace fuzz
