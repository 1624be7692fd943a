// A slow, literal model of the scaler, written apart from the library so the
// tests can check one against the other. Nothing here uses the library's
// tables or helpers; only the pixel types and the orientation names are shared.
#pragma once

#include <cstdint>
#include <vector>

#include <lq2x/lq2x.hpp>
#include <lq2x/lq2x_frame.h>

using lq2x::pixel8888;

namespace ref {

// Per-channel floor of (wa*a + wb*b) / (wa + wb), channels unpacked.
pixel565 blend(pixel565 a, pixel565 b, unsigned wa, unsigned wb);
pixel8888 blend(pixel8888 a, pixel8888 b, unsigned wa, unsigned wb);

template <typename P>
struct block {
    P tl, tr, bl, br;
};

// The top-left quarter of the rule, and all four quarters by literal renaming.
template <typename P>
P out_tl(P TL, P T, P TR, P L, P C, P R, P BL, P B, P BR);
template <typename P>
block<P> corners(P TL, P T, P TR, P L, P C, P R, P BL, P B, P BR);

// A packed frame, pixels row after row.
template <typename P>
struct image {
    int width = 0, height = 0;
    std::vector<P> pixels;
    P at(int x, int y) const { return pixels[std::size_t(y) * width + x]; }
    P& at(int x, int y) { return pixels[std::size_t(y) * width + x]; }
    bool operator==(const image&) const = default;
};

using image565 = image<pixel565>;
using image8888 = image<pixel8888>;

// The whole frame scaled 2x and placed as `turn` says.
template <typename P>
image<P> scale(const image<P>& src, lq2x::orientation turn);

inline image<pixel565> scale_ccw(const image<pixel565>& src) { return scale(src, lq2x::orientation::ccw); }

// Plain quarter turns of a whole image.
template <typename P>
image<P> turn_ccw(const image<P>& src);
template <typename P>
image<P> turn_cw(const image<P>& src);

// A frame of `colours` random colours (few colours make equal neighbours likely).
template <typename P = pixel565>
image<P> random_image(int width, int height, int colours, std::uint32_t seed);

// Art-like: random blocks of `block` x `block` pixels with a few random
// pixels strewn over them, so that wide flat areas meet edges and details.
template <typename P = pixel565>
image<P> blocky_image(int width, int height, int colours, int block, std::uint32_t seed);

} // namespace ref
