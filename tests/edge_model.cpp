#include "edge_model.h"

#include <algorithm>

namespace ref {

using lq2x::edge;
using lq2x::orientation;

namespace {

template <typename P>
image<P> transpose(const image<P>& img)
{
    image<P> out{img.height, img.width, std::vector<P>(img.pixels.size())};
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x)
            out.at(y, x) = img.at(x, y);
    return out;
}

// The image extended along x the way `e` says its left and right neighbours
// are: three copies side by side for wrap, a zero column on each side for
// transparent. Returns how many columns now precede the original.
template <typename P>
int extend_x(image<P>& img, edge e)
{
    if (e == edge::clamp)
        return 0;
    const int w = img.width, copies = e == edge::wrap ? 3 : 1, pad = e == edge::transparent ? 1 : 0;
    image<P> out{copies * w + 2 * pad, img.height, {}};
    out.pixels.assign(std::size_t(out.width) * out.height, P(0));
    for (int y = 0; y < img.height; ++y)
        for (int c = 0; c < copies; ++c)
            for (int x = 0; x < w; ++x)
                out.at(pad + c * w + x, y) = img.at(x, y);
    img = out;
    return e == edge::wrap ? w : 1;
}

} // namespace

template <typename P>
image<P> crop(const image<P>& img, int x0, int y0, int w, int h)
{
    image<P> out{w, h, std::vector<P>(std::size_t(w) * h)};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            out.at(x, y) = img.at(x0 + x, y0 + y);
    return out;
}

template <typename P>
image<P> scale_edges(const image<P>& img, edge ex, edge ey)
{
    image<P> big = img;
    const int left = extend_x(big, ex);
    big = transpose(big);
    const int top = extend_x(big, ey);
    big = transpose(big);
    return crop(scale(big, orientation::upright), 2 * left, 2 * top, 2 * img.width, 2 * img.height);
}

std::vector<slot> grid_slots(int n, int cell, int margin, int spacing)
{
    std::vector<slot> out(std::size_t(n), slot{false, 0, 0});
    for (int start = margin; start < n; start += cell + spacing)
        for (int i = start; i < std::min(start + cell, n); ++i)
            out[std::size_t(i)] = {true, start, std::min(start + cell, n)};
    return out;
}

// Every cell cut out, scaled alone and pasted back; the rest doubled; then turned.
template <typename P>
image<P> scale_with(const image<P>& img, const lq2x::options& opt)
{
    const int w = img.width, h = img.height;
    const lq2x::grid g = opt.tile.width == 0 ? lq2x::grid{w, h, 0, 0} : opt.tile;
    const std::vector<slot> across = grid_slots(w, g.width, g.margin, g.spacing),
                            down = grid_slots(h, g.height, g.margin, g.spacing);
    image<P> out{2 * w, 2 * h, std::vector<P>(std::size_t(4) * w * h)};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const slot sx = across[std::size_t(x)], sy = down[std::size_t(y)];
            if (!sx.in_cell || !sy.in_cell) {
                for (int k = 0; k < 4; ++k)
                    out.at(2 * x + k % 2, 2 * y + k / 2) = img.at(x, y);
            } else if (x == sx.start && y == sy.start) {
                const image<P> cut = crop(img, sx.start, sy.start, sx.end - sx.start, sy.end - sy.start);
                const image<P> cell = scale_edges(cut, opt.edge_x, opt.edge_y);
                for (int v = 0; v < cell.height; ++v)
                    for (int u = 0; u < cell.width; ++u)
                        out.at(2 * x + u, 2 * y + v) = cell.at(u, v);
            }
        }
    return opt.turn == orientation::ccw ? turn_ccw(out) : opt.turn == orientation::cw ? turn_cw(out) : out;
}

template image<pixel565> crop(const image<pixel565>&, int, int, int, int);
template image<pixel8888> crop(const image<pixel8888>&, int, int, int, int);
template image<pixel565> scale_edges(const image<pixel565>&, edge, edge);
template image<pixel8888> scale_edges(const image<pixel8888>&, edge, edge);
template image<pixel565> scale_with(const image<pixel565>&, const lq2x::options&);
template image<pixel8888> scale_with(const image<pixel8888>&, const lq2x::options&);

} // namespace ref
