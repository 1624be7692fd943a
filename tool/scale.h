// What the tool does to a decoded picture.
#pragma once

#include <cstddef>

#include "image.h"
#include <lq2x/lq2x.hpp>

namespace tool {

struct scale_settings {
    lq2x::orientation turn = lq2x::orientation::upright;
    int factor = 2;      // 2, 4 or 8: the 2x rule applied once, twice or three times
    bool rgb565 = false; // the test bench's arithmetic: RGB565 in and out, alpha dropped
    int threads = 1;
    // 4x and 8x are made in bands of about this many result pixels, so that
    // memory holds the source, the result and one band's passes (without a
    // grid and with clamped edges; otherwise each pass is whole).
    std::size_t band_pixels = std::size_t{1} << 21;
    lq2x::edge edge_x = lq2x::edge::clamp, edge_y = lq2x::edge::clamp;
    lq2x::grid tile{}; // in the input's pixels; each pass doubles it with the image
};

// A grid that leaves no pixel of the picture in a cell: its margin reaches
// past the right or bottom border. The command line refuses it as a usage
// error, for this file.
struct grid_misfit : failure {
    using failure::failure;
};

// Scales (and turns) the picture. Pixels with alpha 0 are made all zero
// first (in RGB565 too, which then drops alpha), so that invisible colour
// bits can neither change the result nor show. A picture without alpha that
// gains some (transparent edges blend its border with the all-zero pixel) is
// given an alpha channel. Throws grid_misfit for a grid with no cell in the
// picture.
image scale(image img, const scale_settings& s);

} // namespace tool
