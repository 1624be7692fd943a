// An animation in memory: whole frames of one size, each already composited
// as a viewer shows it, so that the scaler sees every frame as a picture of
// its own. A still image is an animation of one frame that is not animated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
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

// A frame's rectangle on an animation's canvas, in pixels.
struct rectangle {
    std::size_t x = 0, y = 0, width = 0, height = 0;
};

// What becomes of a frame's rectangle once the frame has been shown, as GIF
// and animated PNG both say it: left as drawn, cleared to transparent, or
// put back as it was before the frame.
enum class disposal { keep, clear, restore };

// Before a frame is drawn on `canvas` (`canvas_width` pixels a row): keeps
// in `saved` what its disposal will need.
void before_frame(std::span<const pixel8888> canvas, std::size_t canvas_width, rectangle r, disposal d,
                  std::vector<pixel8888>& saved);
// Once the frame has been taken: applies its disposal to the canvas.
void after_frame(std::span<pixel8888> canvas, std::size_t canvas_width, rectangle r, disposal d,
                 std::span<const pixel8888> saved);

// Checks, before their pixels are taken, that `count` frames of width x
// height are within the pixel limit for the whole animation: every frame's
// result pixels together at most limit.max_pixels. Throws tool::failure.
void check_frames(std::uint64_t count, std::int64_t width, std::int64_t height, size_limit limit);

} // namespace tool
