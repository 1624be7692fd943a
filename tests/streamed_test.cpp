// Outputs larger than STREAM_BYTES, which the vector walks stream past the
// caches in whole lines, joining each row's pieces (see streamed_row): the
// cases the other frame tests, on smaller outputs, do not reach. Outputs just
// at the size and just above it; rows whose pieces start on a line, half-way
// into one (alternately, or all of them) or elsewhere; runs of flat blocks
// broken by blended ones (streamed too when turned on AVX-512); strips cut
// short at the frame's end; bands of rows on threads and row ranges whose first strip starts
// half-way into a line; cells, which take ordinary stores. Every pixel of a padded buffer is checked
// against the model, around the frame against the guard, with two guards.
// Runs once per kernel (kernel_main.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "edge_model.h"
#include "reference.h"
#include "scaler/kernels/frame_args.h"
#include <lq2x/lq2x.hpp>

namespace {

using lq2x::orientation;

// Flat regions wide and tall enough for runs of whole vectors of flat
// neighbourhoods along rows and columns, with squares of a few colours at
// random between them.
template <typename P>
ref::image<P> mixed_image(int w, int h, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    ref::image<P> img{w, h, std::vector<P>(std::size_t(w) * std::size_t(h))};
    const P colours[4] = {P(0x1234), P(0x4321), P(0xBEEF), P(0x7777)};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.at(x, y) = (x / 48 + y / 48) % 4 == 0 ? colours[rng() % 3] : colours[(x / 160 + y / 160) % 4];
    return img;
}

struct layout {
    int extra;  // bytes of pitch past the row's bytes rounded up to 64
    int lead;   // bytes from a 64-byte boundary to the frame's first pixel
    int threads;
    int y0, y1; // source rows scaled (scale_rows), y1 = 0: all
};

// The rows of the output that source rows [y0, y1) write, as columns or
// rows of blocks.
bool written(orientation turn, int h, int col, int row, int y0, int y1)
{
    const int y = turn == orientation::upright ? row / 2 : turn == orientation::ccw ? col / 2 : h - 1 - col / 2;
    return y >= y0 && y < y1;
}

// img scaled with `opt` into a buffer laid out as `lay` says, against the
// model's `want`.
template <typename P>
void check(const ref::image<P>& img, const ref::image<P>& want, lq2x::options opt, const layout& lay)
{
    const int w = img.width, h = img.height, y0 = lay.y0, y1 = lay.y1 == 0 ? h : lay.y1;
    const int row_bytes = want.width * int(sizeof(P));
    const int pitch = ((row_bytes + 63) / 64 * 64 + lay.extra) / int(sizeof(P));
    const std::size_t margin = 256 / sizeof(P); // guard pixels before and after
    opt.threads = lay.threads;
    for (const P guard : {P(0), P(~P(0))}) {
        std::vector<P> buffer(2 * margin + std::size_t(pitch) * std::size_t(want.height) + 64, guard);
        // The frame `lead` bytes past a 64-byte boundary.
        const std::size_t to_line = (64 - reinterpret_cast<std::uintptr_t>(buffer.data() + margin) % 64) % 64;
        P* frame = buffer.data() + margin + (to_line + std::size_t(lay.lead)) / sizeof(P);
        const lq2x::image_view<const P> from{img.pixels.data(), w, h, std::ptrdiff_t(sizeof(P)) * w};
        const lq2x::image_view<P> to{frame, want.width, want.height, std::ptrdiff_t(sizeof(P)) * pitch};
        ASSERT_EQ(lq2x::scale_rows(from, to, y0, y1, opt), lq2x::error::none);
        // What the buffer must hold: the model's blocks of those rows in the
        // frame, the guard everywhere else.
        std::vector<P> expected(buffer.size(), guard);
        for (int row = 0; row < want.height; ++row)
            for (int col = 0; col < want.width; ++col)
                if (written(opt.turn, h, col, row, y0, y1))
                    expected[std::size_t(frame - buffer.data()) + std::size_t(row) * std::size_t(pitch) +
                             std::size_t(col)] = want.at(col, row);
        const auto differ = std::mismatch(buffer.begin(), buffer.end(), expected.begin());
        if (differ.first != buffer.end()) {
            const std::ptrdiff_t rel = (differ.first - buffer.begin()) - (frame - buffer.data());
            FAIL() << w << 'x' << h << " turn " << int(opt.turn) << " extra " << lay.extra << " lead " << lay.lead
                   << " threads " << lay.threads << " rows " << y0 << '-' << y1 << ", guard " << guard << ": at "
                   << rel << " pixels from the frame's first (row " << rel / pitch << ", column " << rel % pitch
                   << ") " << *differ.first << " where " << *differ.second << " belongs";
        }
    }
}

constexpr orientation TURNS[] = {orientation::upright, orientation::ccw, orientation::cw};

// Rows on lines; alternately on a line and half-way (pitch 32 past a line);
// all half-way (lead 32); elsewhere (not streamed); on threads.
constexpr layout LAYOUTS[] = {{0, 0, 1, 0, 0},  {32, 0, 1, 0, 0}, {0, 32, 1, 0, 0}, {16, 16, 1, 0, 0},
                              {32, 0, 2, 0, 0}, {0, 0, 3, 0, 0}};

template <typename P>
void around_the_size()
{
    // The output is 4 w h pixels; w of 256 pixels keeps rows a few lines long.
    constexpr int W = 256;
    const int at_size = int(lq2x::detail::STREAM_BYTES / (4 * W * sizeof(P)));
    for (const int h : {at_size, at_size + 1}) {
        const ref::image<P> img = mixed_image<P>(W, h, std::uint32_t(h));
        for (const orientation turn : TURNS) {
            const ref::image<P> want = ref::scale(img, turn);
            for (const layout& lay : LAYOUTS) {
                check(img, want, {.turn = turn}, lay);
                if (::testing::Test::HasFatalFailure())
                    return;
            }
        }
    }
}

TEST(StreamedOutput, AroundTheSizeAndEveryRowPlacement565) { around_the_size<pixel565>(); }
TEST(StreamedOutput, AroundTheSizeAndEveryRowPlacement8888) { around_the_size<pixel8888>(); }

// Frames tall enough for several groups of strips down each band, whose
// ends end every row's run of streamed pieces: groups of 16 strips where rows
// start on lines, 32 where they lie half-way into them.
template <typename P>
void across_strip_groups()
{
    constexpr int H = 1100; // 34 strips of 32 rows and more of 16; over 1 MiB of output
    const int w = int(lq2x::detail::STREAM_BYTES / (4 * H * sizeof(P))) + 8;
    const ref::image<P> img = mixed_image<P>(w, H, 11);
    for (const orientation turn : TURNS) {
        const ref::image<P> want = ref::scale(img, turn);
        for (const layout& lay : {LAYOUTS[0], LAYOUTS[1], LAYOUTS[2], LAYOUTS[4]}) {
            check(img, want, {.turn = turn}, lay);
            if (::testing::Test::HasFatalFailure())
                return;
        }
    }
}

TEST(StreamedOutput, AcrossStripGroups565) { across_strip_groups<pixel565>(); }
TEST(StreamedOutput, AcrossStripGroups8888) { across_strip_groups<pixel8888>(); }

// Flat throughout (every piece streamed); cells with wrapped edges, whose
// lanes the walks fetch one by one and whose columns and rows in no cell are
// their own blocks (a large output that is not streamed); and rows from 8 (where an RGB565 turned strip starts
// half-way into a line) to short of the end.
TEST(StreamedOutput, FlatFramesCellsAndRowRanges)
{
    constexpr int W = 300, H = 480; // 4.4 MiB of RGB565 output
    const ref::image565 flat{W, H, std::vector<pixel565>(std::size_t(W) * H, 0x5AEB)};
    const ref::image565 art = mixed_image<pixel565>(W, H, 7);
    const lq2x::options cells{.edge_x = lq2x::edge::wrap, .edge_y = lq2x::edge::wrap, .tile = {40, 40, 3, 2}};
    for (const orientation turn : TURNS) {
        lq2x::options in_cells = cells;
        in_cells.turn = turn;
        const ref::image565 flat_want = ref::scale(flat, turn), cells_want = ref::scale_with(art, in_cells);
        for (const layout& lay : {LAYOUTS[0], LAYOUTS[1], LAYOUTS[4], layout{32, 0, 1, 8, H - 5}}) {
            check(flat, flat_want, {.turn = turn}, lay);
            check(art, cells_want, in_cells, lay);
            if (HasFatalFailure())
                return;
        }
    }
}

} // namespace
