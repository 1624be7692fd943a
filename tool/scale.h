// What the tool does to a decoded picture.
#pragma once

#include "image.h"
#include <lq2x/lq2x.hpp>

namespace tool {

struct scale_settings {
    lq2x::orientation turn = lq2x::orientation::upright;
    int factor = 2;      // 2, 4 or 8: the 2x rule applied once, twice or three times
    bool rgb565 = false; // the test bench's arithmetic: RGB565 in and out, alpha dropped
    int threads = 1;
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
// first, so that invisible colour bits cannot change the result. A picture
// without alpha that gains some (transparent edges blend its border with the
// all-zero pixel) is given an alpha channel. Throws grid_misfit for a grid
// with no cell in the picture.
image scale(image img, const scale_settings& s);

} // namespace tool
