// A slow, literal model of the scaler, written apart from the library so the
// tests can check one against the other. Nothing here uses the library's
// tables or helpers; only the pixel type is shared.
#pragma once

#include <cstdint>
#include <vector>

#include "scaler/pixel565.h"

namespace ref {

// Per-channel floor of (wa*a + wb*b) / (wa + wb), channels unpacked.
pixel565 blend(pixel565 a, pixel565 b, unsigned wa, unsigned wb);

struct block {
    pixel565 tl, tr, bl, br;
};

// The top-left quarter of the rule, and all four quarters by literal renaming.
pixel565 out_tl(pixel565 TL, pixel565 T, pixel565 TR, pixel565 L, pixel565 C, pixel565 R,
                pixel565 BL, pixel565 B, pixel565 BR);
block corners(pixel565 TL, pixel565 T, pixel565 TR, pixel565 L, pixel565 C, pixel565 R,
              pixel565 BL, pixel565 B, pixel565 BR);

// A packed frame, pixels row after row.
struct image {
    int width = 0, height = 0;
    std::vector<pixel565> pixels;
    pixel565 at(int x, int y) const { return pixels[std::size_t(y) * width + x]; }
    pixel565& at(int x, int y) { return pixels[std::size_t(y) * width + x]; }
};

// The whole frame scaled and turned counter-clockwise: a 2h x 2w image.
image scale_ccw(const image& src);

// A frame of `colours` random colours (few colours make equal neighbours likely).
image random_image(int width, int height, int colours, std::uint32_t seed);

} // namespace ref
