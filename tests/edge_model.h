// Edge modes and tile grids, modelled from the whole-frame clamped model
// (reference.h) and nothing of the library: wrap is the image tiled 3 x 3
// and scaled, transparent the image padded with the zero pixel and scaled,
// each axis on its own; a grid is every cell cut out, scaled alone and
// pasted back, with the pixels between cells doubled.
#pragma once

#include <vector>

#include "reference.h"
#include <lq2x/lq2x.hpp>

namespace ref {

template <typename P>
image<P> crop(const image<P>& img, int x0, int y0, int w, int h);

// One frame scaled upright with its edge modes: extended as they say,
// scaled with the clamped model, and the original's blocks cut out again.
template <typename P>
image<P> scale_edges(const image<P>& img, lq2x::edge ex, lq2x::edge ey);

// Where each pixel falls along one axis of a grid: whether it is in a cell,
// and where that cell starts and ends.
struct slot {
    bool in_cell;
    int start, end;
};
std::vector<slot> grid_slots(int n, int cell, int margin, int spacing);

// The whole image under options (turn, edges, grid; threads ignored).
template <typename P>
image<P> scale_with(const image<P>& img, const lq2x::options& opt);

} // namespace ref
