// Edge modes and tile grids against models built only from the whole-frame,
// clamped model: wrap is the image tiled 3 x 3 and scaled, transparent the
// image padded with the zero pixel and scaled (each axis on its own), and a
// grid is every cell cut out, scaled alone and pasted back, with the pixels
// between cells doubled.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "c_calls.h"
#include "edge_model.h"
#include "guarded.h"
#include "reference.h"
#include <lq2x/lq2x.hpp>

namespace {

using lq2x::edge;
using lq2x::orientation;

constexpr orientation TURNS[] = {orientation::upright, orientation::ccw, orientation::cw};
constexpr edge EDGES[] = {edge::clamp, edge::wrap, edge::transparent};

const char* name(edge e) { return e == edge::clamp ? "clamp" : e == edge::wrap ? "wrap" : "transparent"; }
const char* name(orientation t) { return t == orientation::upright ? "upright" : t == orientation::ccw ? "ccw" : "cw"; }

// Few colours, one of them often the zero pixel, so that borders meet equal
// pixels beyond them as often as not.
template <typename P>
ref::image<P> test_image(int w, int h, std::uint32_t seed)
{
    ref::image<P> img = ref::random_image<P>(w, h, 3, seed);
    if (seed % 2 == 0) {
        const P zero_of = img.pixels[0];
        for (P& p : img.pixels)
            p = p == zero_of ? P(0) : p;
    }
    return img;
}

// Scales rows [y0, y1) into a padded output filled with `guard`, and
// returns the whole buffer: the frame's pitch is 3 pixels wider and 2 rows
// spare follow it. The source lies against an inaccessible page, after its
// end or before its start (`at_end`), so that a read outside it faults.
// The kernel is the one the process runs (see kernel_main.cpp).
template <typename P>
std::vector<P> scale_padded(const ref::image<P>& img, const lq2x::options& opt, P guard,
                            const std::vector<int>& cuts, bool at_end, lq2x::error& status)
{
    const guarded_pixels<P> src(img.pixels.size(), at_end);
    std::copy(img.pixels.begin(), img.pixels.end(), src.pixels);
    const lq2x::size s = lq2x::scaled_size(img.width, img.height, opt.turn);
    const int pitch = int(s.width) + 3;
    std::vector<P> out(std::size_t(pitch) * std::size_t(s.height + 2), guard);
    status = lq2x::error::none;
    for (std::size_t i = 0; i + 1 < cuts.size() && status == lq2x::error::none; ++i)
        status = lq2x::scale_rows(lq2x::packed<const P>(src.pixels, img.width, img.height),
                                  lq2x::image_view<P>{out.data(), pitch, int(s.height),
                                                      std::ptrdiff_t(pitch) * std::ptrdiff_t(sizeof(P))},
                                  cuts[i], cuts[i + 1], opt);
    return out;
}

// Checks every pixel of the padded output: the frame against the model and
// the rest against the guard, with two guards so that a pixel left unwritten
// shows.
template <typename P>
void check(const ref::image<P>& img, const lq2x::options& opt, const std::vector<int>& cuts,
           const std::string& what)
{
    // A margin that leaves no pixel in a cell is refused, with nothing written.
    const bool no_cell = opt.tile.width > 0 && (opt.tile.margin >= img.width || opt.tile.margin >= img.height);
    ref::image<P> want = ref::scale_with(img, opt);
    const int pitch = want.width + 3;
    for (const P guard : {P(0x5A5A5A5Au), P(~P(0))}) {
        lq2x::error status;
        const std::vector<P> got = scale_padded(img, opt, guard, cuts, guard == P(~P(0)), status);
        ASSERT_EQ(status, no_cell ? lq2x::error::no_cell : lq2x::error::none) << what;
        if (no_cell)
            std::fill(want.pixels.begin(), want.pixels.end(), guard);
        for (int y = 0; y < want.height + 2; ++y)
            for (int x = 0; x < pitch; ++x) {
                const P g = got[std::size_t(y) * pitch + x];
                if (x < want.width && y < want.height)
                    ASSERT_EQ(g, want.at(x, y)) << what << " at output (" << x << ", " << y << ")";
                else
                    ASSERT_EQ(g, guard) << what << " wrote outside the frame at (" << x << ", " << y << ")";
            }
    }
}

std::string describe(int w, int h, const lq2x::options& o)
{
    return std::to_string(w) + 'x' + std::to_string(h) + ' ' + name(o.turn) +
           " edges " + name(o.edge_x) + ',' + name(o.edge_y) + " tile " + std::to_string(o.tile.width) + 'x' +
           std::to_string(o.tile.height) + " margin " + std::to_string(o.tile.margin) + " spacing " +
           std::to_string(o.tile.spacing) + " threads " + std::to_string(o.threads);
}

// Whole frames: every pair of edge modes, every turn, both pixel types,
// sizes from one pixel to more than a vector of lanes, and frames too large
// to be scaled from one padded copy (rows longer than one padded piece too).
template <typename P>
void whole_frames()
{
    const std::pair<int, int> sizes[] = {{1, 1}, {1, 5}, {6, 1}, {2, 2},   {7, 5},
                                         {13, 34}, {37, 19}, {66, 9}, {40, 41}, {800, 4}};
    std::uint32_t seed = 1;
    for (const auto& [w, h] : sizes)
        for (const edge ex : EDGES)
            for (const edge ey : EDGES)
                for (const orientation turn : TURNS) {
                    const lq2x::options o{.turn = turn, .threads = 1, .edge_x = ex, .edge_y = ey};
                    check(test_image<P>(w, h, seed++), o, {0, h}, describe(w, h, o));
                }
}

TEST(Edges, WholeFrameEdges565) { whole_frames<pixel565>(); }
TEST(Edges, WholeFrameEdges8888) { whole_frames<pixel8888>(); }

// Grids of every shape the issue names: 1x1, 1xN and 2x2 cells, cells that
// do not divide the image, margins, spacings, a margin past the image,
// cells wider than a vector (and than a turned kernel's tile, whose wrapped
// columns then lie outside it), and a cell larger than the image.
constexpr lq2x::grid GRIDS[] = {{1, 1, 0, 0}, {1, 4, 0, 0}, {3, 1, 1, 0}, {2, 2, 0, 0}, {2, 2, 1, 1},
                                {5, 3, 2, 1}, {4, 7, 0, 3}, {16, 16, 0, 0}, {6, 6, 3, 2}, {2, 2, 40, 0},
                                {35, 33, 1, 2}, {1, 9, 0, 0}, {9, 1, 0, 2}, {3, 3, 0, 0}, {40, 3, 0, 1},
                                {100, 100, 0, 0}};

template <typename P>
void grids()
{
    const std::pair<int, int> sizes[] = {{9, 7}, {20, 17}, {75, 70}};
    std::uint32_t seed = 100;
    for (const auto& [w, h] : sizes)
        for (const lq2x::grid& g : GRIDS)
            for (const edge ex : EDGES)
                for (const edge ey : EDGES)
                    for (const orientation turn : TURNS) {
                        if (w == 75 && ex != ey)
                            continue; // the large frame keeps the run short: mixed edges are covered above
                        const lq2x::options o{.turn = turn, .threads = 1, .edge_x = ex, .edge_y = ey, .tile = g};
                        check(test_image<P>(w, h, seed++), o, {0, h}, describe(w, h, o));
                    }
}

TEST(Edges, Grids565) { grids<pixel565>(); }
TEST(Edges, Grids8888) { grids<pixel8888>(); }

// Threads and row ranges split a grid at any row, cells included, and write
// the same as one call.
template <typename P>
void threads_and_rows()
{
    std::mt19937 rng(7);
    const int w = 53, h = 101;
    for (const lq2x::grid g : {lq2x::grid{}, lq2x::grid{8, 8, 1, 1}, lq2x::grid{5, 13, 0, 2}, lq2x::grid{2, 2, 3, 0}})
        for (const orientation turn : TURNS)
            for (const edge e : EDGES) {
                const ref::image<P> img = test_image<P>(w, h, rng());
                for (const int threads : {2, 3, 5}) {
                    const lq2x::options o{
                        .turn = turn, .threads = threads, .edge_x = e, .edge_y = edge::wrap, .tile = g};
                    check(img, o, {0, h}, describe(w, h, o));
                }
                std::vector<int> cuts{0, h};
                for (int i = 0; i < 5; ++i)
                    cuts.push_back(int(rng() % (h + 1)));
                std::sort(cuts.begin(), cuts.end());
                const lq2x::options o{.turn = turn, .threads = 1, .edge_x = e, .edge_y = edge::transparent, .tile = g};
                check(img, o, cuts, describe(w, h, o) + " in row ranges");
            }
}

TEST(Edges, ThreadsAndRowRanges565) { threads_and_rows<pixel565>(); }
TEST(Edges, ThreadsAndRowRanges8888) { threads_and_rows<pixel8888>(); }

// The seamless-texture property itself: a wrapped texture scaled equals the
// centre of its 3 x 3 tiling scaled, so tiling the result shows no seam.
TEST(Edges, WrappedTextureTilesWithoutSeam)
{
    const auto img = test_image<pixel8888>(12, 10, 4);
    std::vector<pixel8888> out(4 * 12 * 10);
    ASSERT_EQ(lq2x::scale(lq2x::packed(img.pixels.data(), 12, 10), lq2x::packed(out.data(), 24, 20),
                          {.edge_x = edge::wrap, .edge_y = edge::wrap}),
              lq2x::error::none);
    ref::image8888 tiled{36, 30, std::vector<pixel8888>(36 * 30)};
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 36; ++x)
            tiled.at(x, y) = img.at(x % 12, y % 10);
    const ref::image8888 centre = ref::crop(ref::scale(tiled, orientation::upright), 24, 20, 24, 20);
    EXPECT_EQ(out, centre.pixels);
}

// Invalid edges and grids are errors from both interfaces, with nothing written.
TEST(Edges, BadEdgesAndGridsAreErrorsWithNothingWritten)
{
    const auto img = test_image<pixel8888>(6, 5, 9);
    std::vector<pixel8888> out(4 * 6 * 5, 0xDEADBEEF);
    const auto call = [&](lq2x::options o) {
        return lq2x::scale(lq2x::packed(img.pixels.data(), 6, 5), lq2x::packed(out.data(), 12, 10), o);
    };
    EXPECT_EQ(call({.edge_x = edge(3)}), lq2x::error::bad_options);
    EXPECT_EQ(call({.edge_y = edge(-1)}), lq2x::error::bad_options);
    EXPECT_EQ(call({.tile = {0, 8, 0, 0}}), lq2x::error::bad_grid);
    EXPECT_EQ(call({.tile = {8, 0, 0, 0}}), lq2x::error::bad_grid);
    EXPECT_EQ(call({.tile = {-2, 2, 0, 0}}), lq2x::error::bad_grid);
    EXPECT_EQ(call({.tile = {2, 2, -1, 0}}), lq2x::error::bad_grid);
    EXPECT_EQ(call({.tile = {2, 2, 0, -1}}), lq2x::error::bad_grid);
    EXPECT_EQ(call({.tile = {0, 0, 1, 0}}), lq2x::error::bad_grid); // a margin with no grid
    // A margin as wide or as tall as the image leaves no cell in it.
    EXPECT_EQ(call({.tile = {2, 2, 6, 0}}), lq2x::error::no_cell);
    EXPECT_EQ(call({.tile = {2, 2, 5, 0}}), lq2x::error::no_cell);
    EXPECT_EQ(call({.tile = {2, 2, 1000, 1000}}), lq2x::error::no_cell);
    for (const pixel8888 p : out)
        ASSERT_EQ(p, 0xDEADBEEF);
    EXPECT_EQ(call({.tile = {2, 2, 4, 1000}}), lq2x::error::none); // one cut-short cell, and spacing past the image
    EXPECT_EQ(out, ref::scale_with(img, {.tile = {2, 2, 4, 1000}}).pixels);

    EXPECT_EQ(c_scale8888_tiled(img.pixels.data(), 6, 5, out.data(), LQ2X_EDGE_WRAP, 7, 0, 0, 0, 0),
              LQ2X_ERROR_BAD_OPTIONS);
    EXPECT_EQ(c_scale8888_tiled(img.pixels.data(), 6, 5, out.data(), 0, 0, 0, 8, 0, 0), LQ2X_ERROR_BAD_GRID);
    EXPECT_EQ(c_scale8888_tiled(img.pixels.data(), 6, 5, out.data(), 0, 0, 2, 2, 0, -3), LQ2X_ERROR_BAD_GRID);
    EXPECT_EQ(c_scale8888_tiled(img.pixels.data(), 6, 5, out.data(), 0, 0, 2, 2, 5, 0), LQ2X_ERROR_NO_CELL);
    EXPECT_STREQ(lq2x_describe(LQ2X_ERROR_BAD_GRID), lq2x::describe(lq2x::error::bad_grid));
}

// The C interface reads every new field: each call matches the model.
TEST(Edges, CInterfaceReadsEdgesAndGrid)
{
    const auto img = test_image<pixel8888>(11, 9, 12);
    for (const edge ex : EDGES)
        for (const edge ey : EDGES)
            for (const lq2x::grid g : {lq2x::grid{}, lq2x::grid{3, 2, 1, 1}, lq2x::grid{4, 4, 0, 2}}) {
                std::vector<pixel8888> out(4 * 11 * 9);
                ASSERT_EQ(c_scale8888_tiled(img.pixels.data(), 11, 9, out.data(), int(ex), int(ey), g.width, g.height,
                                            g.margin, g.spacing),
                          LQ2X_OK);
                EXPECT_EQ(out, ref::scale_with(img, {.edge_x = ex, .edge_y = ey, .tile = g}).pixels)
                    << name(ex) << ',' << name(ey) << ' ' << g.width << 'x' << g.height;
            }
}

// The models themselves, on cases small enough to work by hand: a 2 x 1
// image of colours a, b wrapped on x sees b left of a and a right of b,
// which is the 1 x 1 case of the model's 3 x tiling.
TEST(Edges, ModelsAgreeWithHandWorkedCases)
{
    const pixel565 a = 0x1234, b = 0xF00F;
    const ref::image565 img{2, 1, {a, b}};
    // Wrap across: each pixel's left and right neighbours are the other
    // colour, the same as a clamped 3-wide row b a b around a.
    const ref::image565 wrapped = ref::scale_with(img, {.edge_x = edge::wrap});
    const ref::image565 around_a = ref::scale(ref::image565{3, 1, {b, a, b}}, orientation::upright);
    EXPECT_EQ(wrapped.at(0, 0), around_a.at(2, 0));
    EXPECT_EQ(wrapped.at(1, 1), around_a.at(3, 1));
    // A grid of 1 x 1 cells with clamped edges leaves every pixel flat.
    const ref::image565 cells = ref::scale_with(img, {.tile = {1, 1, 0, 0}});
    EXPECT_EQ(cells.pixels, (std::vector<pixel565>{a, a, b, b, a, a, b, b}));
}

} // namespace
