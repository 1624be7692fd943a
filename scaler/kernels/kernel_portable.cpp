// The portable frame walk, one source pixel at a time: it runs everywhere,
// and it is the reference every vector target is tested against. The plain
// function of one row goes through it too (frame.cpp).
#include <cassert>
#include <cstddef>

#include "scaler/rule/rules.h"
#include "scaler/kernels/targets.h"

namespace lq2x {
namespace {

using detail::frame_args;
using detail::offset_bytes;
using detail::seen;

// Where source row k's blocks go: its first pixel's block at d0 (one output
// row) and d1 (the next), each later pixel's block `step` bytes further on.
template <typename P>
struct row_spot {
    P *d0, *d1;
    std::ptrdiff_t step;
};

template <orientation TURN, typename P>
row_spot<P> row_start(const frame_args<P>& f, int k)
{
    const detail::spot first = detail::block_at(TURN, f.width, f.height, 0, k),
                       next = detail::block_at(TURN, f.width, f.height, 1, k);
    P* d0 = offset_bytes(f.dst, first.row * f.dst_pitch) + first.column;
    return {d0, offset_bytes(d0, f.dst_pitch),
            (next.column - first.column) * std::ptrdiff_t(sizeof(P)) + (next.row - first.row) * f.dst_pitch};
}

// Stores the blocks of source pixels [first, end) of a row, `block(i)` giving
// pixel i's quarters, where QUARTER_AT puts them.
template <orientation TURN, typename P, typename Block>
void place_row(row_spot<P> at, int first, int end, Block block)
{
    for (int i = first; i < end; ++i) {
        const quarters<P> q = block(i);
        // Offsets are taken from the row's first block each time, so no
        // pointer is ever formed outside the output frame.
        P* d0 = offset_bytes(at.d0, at.step * i);
        P* d1 = offset_bytes(at.d1, at.step * i);
        constexpr auto& at = detail::QUARTER_AT[int(TURN)];
        const P quarter[4] = {q.tl, q.tr, q.bl, q.br};
        d0[0] = quarter[at[0][0]], d0[1] = quarter[at[0][1]], d1[0] = quarter[at[1][0]], d1[1] = quarter[at[1][1]];
    }
}

// The walk over a source row with clamped ends, given its three rows.
template <orientation TURN, bool HIDES, typename P>
void walk_row(row_spot<P> at, const P* above, const P* row, const P* below, int count)
{
    const detail::axis_cells whole{count, 0, 0, edge::clamp};
    const detail::cell_span all{0, count - 1};
    place_row<TURN>(at, 0, count, [&](int i) {
        const int l = detail::neighbour(whole, all, i, -1), r = detail::neighbour(whole, all, i, 1);
        const auto at = [](const P* p, int x) { return seen<HIDES>(p[x]); };
        return detail::corners<P>({at(above, l), at(above, i), at(above, r), at(row, l), at(row, i), at(row, r),
                                   at(below, l), at(below, i), at(below, r)});
    });
}

// The walk over a frame's band, cell by cell; a row with neither cells nor
// edge modes across, and rows on both sides, as above.
template <orientation TURN, bool HIDES, typename P>
void walk_frame(const frame_args<P>& f)
{
    const int w = f.width, h = f.height;
    const auto source_row = [&](int y) { return y < 0 ? nullptr : offset_bytes(f.src, y * f.src_pitch); };
    const bool whole_rows = detail::plain_axis(f.across, w);
    for (int k = f.y_begin; k < f.y_end; ++k) {
        const row_spot<P> at = row_start<TURN>(f, k);
        const P* row = source_row(k);
        const auto pixel = [](const P* p, int x) { return p == nullptr || x < 0 ? P(0) : seen<HIDES>(p[x]); };
        const auto own = [&](int x) {
            const P c = pixel(row, x);
            return quarters<P>{c, c, c, c};
        };
        const detail::cell_span down = detail::span_at(f.down, h, k);
        if (down.first < 0) { // a row in no cell
            place_row<TURN>(at, 0, w, own);
            continue;
        }
        const P* above = source_row(detail::neighbour(f.down, down, k, -1));
        const P* below = source_row(detail::neighbour(f.down, down, k, 1));
        if (whole_rows && above != nullptr && below != nullptr) {
            walk_row<TURN, HIDES>(at, above, row, below, w);
            continue;
        }
        for (int x = 0; x < w;) {
            const detail::cell_span c = detail::span_at(f.across, w, x);
            if (c.first < 0) { // a pixel in no cell
                place_row<TURN>(at, x, x + 1, own);
                ++x;
                continue;
            }
            place_row<TURN>(at, x, c.last + 1, [&](int i) {
                const int l = detail::neighbour(f.across, c, i, -1), r = detail::neighbour(f.across, c, i, 1);
                return detail::corners<P>({pixel(above, l), pixel(above, i), pixel(above, r), pixel(row, l),
                                           pixel(row, i), pixel(row, r), pixel(below, l), pixel(below, i),
                                           pixel(below, r)});
            });
            x = c.last + 1;
        }
    }
}

template <bool HIDES, typename P>
void walk_turned(const frame_args<P>& f)
{
    switch (f.turn) {
    case orientation::upright: return walk_frame<orientation::upright, HIDES>(f);
    case orientation::ccw: return walk_frame<orientation::ccw, HIDES>(f);
    case orientation::cw: return walk_frame<orientation::cw, HIDES>(f);
    }
}

template <typename P>
void portable(const frame_args<P>& f)
{
    if (sizeof(P) == 4 && f.alpha_hides)
        return walk_turned<true>(f);
    walk_turned<false>(f);
}

bool hides_colour(const pixel8888* first, std::ptrdiff_t pitch, int width, int height)
{
    for (int y = 0; y < height; ++y) {
        const pixel8888* row = offset_bytes(first, y * pitch);
        for (int x = 0; x < width; ++x)
            if (seen<true>(row[x]) != row[x])
                return true;
    }
    return false;
}

} // namespace

namespace detail {
extern const target PORTABLE_TARGET{kernel::portable, [] { return true; }, portable<pixel565>,
                                    portable<pixel8888>, hides_colour, false};

void portable_row(pixel565* dst0, pixel565* dst1, std::ptrdiff_t step, const pixel565* above, const pixel565* row,
                  const pixel565* below, int count)
{
    walk_row<orientation::ccw, false>(row_spot<pixel565>{dst0, dst1, step}, above, row, below, count);
}
} // namespace detail

} // namespace lq2x
