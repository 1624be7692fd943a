// An animation in memory: whole frames of one size, each already composited
// as a viewer shows it, so that the scaler sees every frame as a picture of
// its own. A still image is an animation of one frame that is not animated.
#pragma once

#include <cstdint>
#include <vector>

#include "image.h"

namespace tool {

// How long a frame stays, as a fraction of a second: each format's own
// unit (GIF hundredths, animated PNG any fraction, WebP milliseconds) is
// kept exactly until it is written to another.
struct frame_delay {
    std::uint32_t numerator = 0, denominator = 100;

    // The delay in 1/`unit` seconds, rounded to nearest, at most `most`.
    std::uint32_t in_units(std::uint32_t unit, std::uint32_t most) const;
};

struct frame {
    image picture;
    frame_delay delay;
};

struct animation {
    std::vector<frame> frames;
    std::uint32_t loops = 0; // times the whole animation plays; 0 without end
    // Read from an animation (a GIF or WebP of any number of frames, a PNG
    // with animation chunks), and so written as one where the format allows.
    bool animated = false;
};

// Checks, before their pixels are taken, that `count` frames of width x
// height are within the pixel limit for the whole animation: every frame's
// result pixels together at most limit.max_pixels. Throws tool::failure.
void check_frames(std::uint64_t count, std::int64_t width, std::int64_t height, size_limit limit);

} // namespace tool
