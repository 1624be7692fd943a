// The LQ2x rule on one neighbourhood: one source pixel and its eight
// neighbours give the four pixels of its 2x2 output block.
//
// Neighbourhood, in source orientation:
//
//     TL  T  TR
//      L  C  R
//     BL  B  BR
//
// Only exact equality is ever tested: each neighbour against C (which builds
// the 8-bit diff_pattern, bit values 1..128 for TL T TR L R BL B BR), and the
// edge neighbours in the pairs T=L, T=R, B=L, B=R. Every output pixel is C or a
// blend of C with one neighbour (blend565 or blend8888).
#pragma once

#include <lq2x/lq2x.h>
#include <lq2x/pixel565.h>
#include <lq2x/pixel8888.h>

namespace lq2x {

// The four quarters of an output block, named by the source corner they cover.
template <typename P>
struct quarters {
    P tl, tr, bl, br;
    friend constexpr bool operator==(const quarters&, const quarters&) = default;
};
using block565 = quarters<pixel565>;
using block8888 = quarters<pixel8888>;

LQ2X_API block565 lq2x_corners(pixel565 TL, pixel565 T, pixel565 TR,
                               pixel565 L, pixel565 C, pixel565 R,
                               pixel565 BL, pixel565 B, pixel565 BR);

// The same rule on 32-bit pixels.
LQ2X_API block8888 lq2x_corners8888(pixel8888 TL, pixel8888 T, pixel8888 TR,
                                    pixel8888 L, pixel8888 C, pixel8888 R,
                                    pixel8888 BL, pixel8888 B, pixel8888 BR);

} // namespace lq2x

// By the names the scaler has always had (see lq2x_frame.h).
using lq2x::blend565;
using lq2x::lq2x_corners;
using lq2x::pixel565;
