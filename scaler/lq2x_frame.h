// The frame walk: scales a whole frame by two, upright or turned a
// quarter-turn in the same pass.
//
// lq2x_frame and lq2x_row work on RGB565 and turn counter-clockwise: source
// pixel (x, y) becomes the 2x2 output block whose top-left pixel is at
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

#include "pixel565.h"
#include "pixel8888.h"

// Scales one source row. `above`, `row` and `below` are the first pixels of
// three source rows (the same row may be passed twice); `count` pixels of each
// are read. dst0 and dst1 are the output pixels that receive the first pixel's
// tr and tl quarters (top-left and bottom-left of its block); each later pixel's
// block is two output rows higher. dst_pitch is in bytes.
//
// Contract: count >= 0 (0 does nothing); dst_pitch even and positive; the
// count blocks fit in the caller's output. Checked by assert in debug builds.
void lq2x_row(pixel565* dst0, pixel565* dst1,
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
void lq2x_frame(const pixel565* src, std::int32_t src_pitch,
                pixel565* dst, std::int32_t dst_pitch,
                std::int32_t width, std::int32_t height);

// Where the scaled frame goes. Source pixel (x, y) of a width x height frame
// becomes the 2x2 output block whose top-left pixel is at
//   upright: column 2x,                row 2y             (tl tr / bl br)
//   ccw:     column 2y,                row 2(width-1-x)   (tr br / tl bl)
//   cw:      column 2(height-1-y),     row 2x             (bl tl / br tr)
// The upright output is 2*width wide and 2*height tall; the turned ones are
// 2*height wide and 2*width tall.
enum class lq2x_orientation { upright, ccw, cw };

// The rule on a whole frame with any placement, for RGB565 or 32-bit pixels.
// `threads` > 1 splits the source into bands of rows scaled at once, each
// writing its own part of the output (0: one per hardware thread); the output
// is the same bits whatever the count. lq2x_scale565 with ccw and one thread
// is lq2x_frame. Same contract as lq2x_frame, with pitches a multiple of the
// pixel size, source rows of width pixels and output rows of 2*height pixels
// (upright: 2*width).
void lq2x_scale565(const pixel565* src, std::int32_t src_pitch,
                   pixel565* dst, std::int32_t dst_pitch,
                   std::int32_t width, std::int32_t height,
                   lq2x_orientation turn, int threads = 1);
void lq2x_scale8888(const pixel8888* src, std::int32_t src_pitch,
                    pixel8888* dst, std::int32_t dst_pitch,
                    std::int32_t width, std::int32_t height,
                    lq2x_orientation turn, int threads = 1);
