// An animation in memory: whole frames of one size, each already composited
// as a viewer shows it, so that the scaler sees every frame as a picture of
// its own. A still image is an animation of one frame that is not animated.
// Everything the animated formats share is here: delays, the canvas a file's
// frames are drawn on (placement, blending, disposal), and the checks on the
// frames about to be written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "image.h"

namespace lq2x::files {

// How long a frame stays, as a fraction of a second: each format's own
// unit (GIF hundredths, animated PNG any fraction, WebP milliseconds) is
// kept exactly until it is written to another.
using lq2x::frame_delay;

// The delay in 1/`unit` seconds, rounded to nearest, at most `most`.
std::uint32_t in_units(frame_delay d, std::uint32_t unit, std::uint32_t most);
// As a fraction whose terms both fit in 16 bits (animated PNG's): as it is
// when both fit, else with common factors cancelled, else the nearest such
// fraction; 65535 s at most.
std::pair<std::uint32_t, std::uint32_t> in_16_bits(frame_delay d);

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
    // What the reader could not keep and said instead of failing, in one
    // line (an animated PNG whose animation is broken, read as its still).
    std::string warning;
};

// A delay and a play count as an animated format stores them: the nearest
// it holds (GIF: hundredths to 655.35 s, plays to 65536; WebP: thousandths
// to 16777.215 s, plays to 65535; animated PNG: 16-bit fractions, plays to
// 2^31 - 1). The writers write these.
frame_delay held_delay(format f, frame_delay d);
std::uint32_t held_loops(format f, std::uint32_t loops);
// Whether `f` writes `anim` as an animation, with delays and plays.
bool writes_timing(const animation& anim, format f);
// One line on the delays and play count that `f` would change, naming a
// format that holds them; empty when it keeps them all.
std::string timing_changes(const animation& anim, format f);

// A still image as the one frame of an animation that is not animated.
animation still(image img);

// Refuses (failure) frames that cannot be written as one file: none, or
// frames of different sizes.
void check_writable(const animation& anim);

// A frame's rectangle on an animation's canvas, in pixels.
struct rectangle {
    std::size_t x = 0, y = 0, width = 0, height = 0;
};

// What becomes of a frame's rectangle once the frame has been shown: left as
// drawn, cleared to transparent, or put back as it was before the frame.
enum class disposal { keep, clear, restore };

// A format's disposal number as the canvas applies it: `clear_code` and
// `restore_code` are the format's numbers for those; any other keeps.
constexpr disposal disposal_of(int code, int clear_code, int restore_code)
{
    return code == clear_code ? disposal::clear : code == restore_code ? disposal::restore : disposal::keep;
}

// The screen an animation's frames are drawn on, starting transparent.
class canvas {
public:
    canvas(std::size_t width, std::size_t height);

    // Before a frame is drawn at `r`: keeps what its disposal will need.
    void begin(rectangle r, disposal d);
    // The frame's pixels (r.width x r.height) put at r, replacing what was
    // there or, with `blend`, over it.
    void draw(rectangle r, std::span<const pixel8888> part, bool blend);
    // Once the frame has been taken: applies its disposal.
    void end();

    std::span<pixel8888> pixels() { return pixels_; }
    // The canvas as it is now, as a frame: rgba when any pixel is not opaque.
    image snapshot(int width, int height) const;

private:
    std::size_t width_, height_;
    std::vector<pixel8888> pixels_, saved_;
    rectangle place_;
    disposal then_ = disposal::keep;
};

} // namespace lq2x::files
