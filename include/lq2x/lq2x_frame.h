// The frame walk on RGB565, turned counter-clockwise: the plain functions
// over raw buffers. lq2x::scale (lq2x.hpp) does the same with any
// orientation, 32-bit pixels and threads, and reports errors instead of
// asserting a contract.
//
// Source pixel (x, y) becomes the 2x2 output block whose top-left pixel is at
// output column 2y, output row 2(width - 1 - x), holding
//
//     tr  br
//     tl  bl
//
// (the upright block turned counter-clockwise). At every border the missing
// neighbours are the nearest pixels of the frame; nothing outside the source
// frame is read and nothing outside the output frame is written.
#pragma once

#include <cstdint>

#include <lq2x/lq2x.h>
#include <lq2x/pixel565.h>

namespace lq2x {

// Scales one source row. `above`, `row` and `below` are the first pixels of
// three source rows (the same row may be passed twice); `count` pixels of each
// are read. dst0 and dst1 are the output pixels that receive the first pixel's
// tr and tl quarters (top-left and bottom-left of its block); each later pixel's
// block is two output rows higher. dst_pitch is in bytes.
//
// Contract: count >= 0 (0 does nothing); dst_pitch even and positive; the
// count blocks fit in the caller's output. Checked by assert in debug builds.
LQ2X_API void lq2x_row(pixel565* dst0, pixel565* dst1,
                       const pixel565* above, const pixel565* row, const pixel565* below,
                       std::int32_t count, std::int32_t dst_pitch);

// Scales a width x height source frame into a 2*height wide, 2*width tall
// output frame. Pitches are in bytes.
//
// Contract (checked by assert in debug builds):
//  - width >= 0 and height >= 0; either being 0 reads and writes nothing. A
//    single row is its own row above and below.
//  - src_pitch and dst_pitch are even, src_pitch >= 2*width and
//    dst_pitch >= 4*height bytes: rows do not overlap.
//  - The source frame and the output frame do not overlap.
// Offsets are computed in pointer-width arithmetic, so any frame that fits in
// memory is handled even where 2*width*dst_pitch exceeds 32 bits.
LQ2X_API void lq2x_frame(const pixel565* src, std::int32_t src_pitch,
                         pixel565* dst, std::int32_t dst_pitch,
                         std::int32_t width, std::int32_t height);

} // namespace lq2x

// The frame walk, its pixel type and blend by the names the scaler has
// always had, for callers of these plain functions (only: lq2x.hpp and the
// other headers leave the global namespace alone).
using lq2x::blend565;
using lq2x::lq2x_frame;
using lq2x::lq2x_row;
using lq2x::pixel565;
