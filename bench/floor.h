// The floor a turned kernel is measured against: the least any quarter-turned
// 2x of RGB565 has to do. Each source pixel is read once and copied into its
// 2 x 2 block where the counter-clockwise turn puts it; no rule, no
// neighbours. Written by hand for the fastest way this benchmark knows to
// move those bytes, and independent of the library.
#pragma once

#include <cstddef>
#include <cstdint>

#include <lq2x/pixel565.h>

using lq2x::pixel565; // the benchmarks name it as the plain functions do

namespace floor_case {

// How the floor writes its output: ordinary stores straight from the
// registers, or whole aligned 64-byte lines streamed past the caches (a row
// that starts inside a line has its pieces joined into whole lines first).
enum class stores { ordinary, streamed };

// Whether this processor runs the vector floor (AVX-512 F and BW); without
// it the floor is a plain loop, and says so through this.
bool vector_floor();

// The turned doubling of a width x height frame (pitches in bytes) into dst,
// 2 * height x 2 * width pixels.
void turned_double(const pixel565* src, int width, int height, std::ptrdiff_t src_pitch, pixel565* dst,
                   std::ptrdiff_t dst_pitch, stores how);

} // namespace floor_case
