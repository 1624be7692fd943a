// The frame walk: the portable implementation, the one check of every
// caller's frame, edge modes and tile grids over the kernels, threads, and the
// public entry points over them.
#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <functional>
#include <limits>
#include <thread>
#include <vector>

#include <lq2x/lq2x.hpp>
#include <lq2x/lq2x_corners.h>
#include <lq2x/lq2x_frame.h>

#include "kernels.h"
#include "lq2x_isa.h"
#include "rules.h"

namespace lq2x {
namespace {

using detail::frame_args;
using detail::offset_bytes;
using detail::block_at;
using detail::spot;

// Where a frame's border pixels look beyond it, on an axis of n pixels: the
// index that neighbour i (-1 <= i <= n) reads, or -1 for the all-zero pixel.
// The one statement of the edge modes.
constexpr int edge_index(int i, int n, edge e)
{
    if (i >= 0 && i < n)
        return i;
    switch (e) {
    case edge::wrap: return i < 0 ? n - 1 : 0;
    case edge::transparent: return -1;
    case edge::clamp: break;
    }
    return i < 0 ? 0 : n - 1;
}

// Source pixel (x, y) of a frame as its border pixels see it, for x and y
// up to one pixel outside.
template <typename P>
P source_pixel(const frame_args<P>& f, edge ex, edge ey, int x, int y)
{
    const int sx = edge_index(x, f.width, ex), sy = edge_index(y, f.height, ey);
    return sx < 0 || sy < 0 ? P(0) : offset_bytes(f.src, sy * f.src_pitch)[sx];
}

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
    const spot first = block_at(TURN, f.width, f.height, 0, k), next = block_at(TURN, f.width, f.height, 1, k);
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
template <orientation TURN, typename P>
void walk_row(row_spot<P> at, const P* above, const P* row, const P* below, int count)
{
    place_row<TURN>(at, 0, count, [&](int i) {
        const int l = edge_index(i - 1, count, edge::clamp), r = edge_index(i + 1, count, edge::clamp);
        return detail::corners<P>({above[l], above[i], above[r], row[l], row[i], row[r], below[l], below[i], below[r]});
    });
}

template <orientation TURN, typename P>
void walk_frame(const frame_args<P>& f)
{
    const auto source_row = [&](int y) {
        return offset_bytes(f.src, edge_index(y, f.height, edge::clamp) * f.src_pitch);
    };
    for (int k = f.y_begin; k < f.y_end; ++k)
        walk_row<TURN>(row_start<TURN>(f, k), source_row(k - 1), source_row(k), source_row(k + 1), f.width);
}

// Calls fn.template operator()<TURN>() with the frame's turn as a constant.
template <typename Fn>
void with_turn(orientation turn, Fn fn)
{
    switch (turn) {
    case orientation::upright: return fn.template operator()<orientation::upright>();
    case orientation::ccw: return fn.template operator()<orientation::ccw>();
    case orientation::cw: return fn.template operator()<orientation::cw>();
    }
}

// Rescales with the edge modes, where the kernels (which clamp) differ, the
// pixels of a frame's band at its left and right ends (for a non-clamped
// edge_x), but not those of its top and bottom rows when edge_y is not
// clamped: those are redone whole, from a padded copy. With `all`, every
// pixel of the band.
template <orientation TURN, typename P>
void walk_edges(const frame_args<P>& f, edge ex, edge ey, bool all)
{
    const auto block = [&](int x, int y) {
        const auto at = [&](int dx, int dy) { return source_pixel(f, ex, ey, x + dx, y + dy); };
        return detail::corners<P>(
            {at(-1, -1), at(0, -1), at(1, -1), at(-1, 0), at(0, 0), at(1, 0), at(-1, 1), at(0, 1), at(1, 1)});
    };
    for (int y = f.y_begin; y < f.y_end; ++y) {
        const row_spot<P> at = row_start<TURN>(f, y);
        const auto row_block = [&](int x) { return block(x, y); };
        if (all) {
            place_row<TURN>(at, 0, f.width, row_block);
        } else if (ex != edge::clamp && (ey == edge::clamp || (y > 0 && y < f.height - 1))) {
            // Not `all`, so the frame is at least three pixels wide.
            place_row<TURN>(at, 0, 1, row_block);
            place_row<TURN>(at, f.width - 1, f.width, row_block);
        }
    }
}

// Pixels that belong to no cell: each becomes a 2x2 block of itself.
template <orientation TURN, typename P>
void copy_blocks(const frame_args<P>& f)
{
    for (int y = f.y_begin; y < f.y_end; ++y) {
        const P* row = offset_bytes(f.src, y * f.src_pitch);
        place_row<TURN>(row_start<TURN>(f, y), 0, f.width,
                        [&](int x) { return quarters<P>{row[x], row[x], row[x], row[x]}; });
    }
}

constexpr std::int64_t MAX_32 = std::numeric_limits<std::int32_t>::max();

template <typename P>
error check_view(const image_view<P>& v)
{
    if (v.width < 0 || v.height < 0)
        return error::bad_size;
    if (v.width == 0 || v.height == 0)
        return error::none;
    if (v.pixels == nullptr)
        return error::null_pixels;
    if (v.pitch <= 0 || v.pitch > MAX_32 || v.pitch % std::ptrdiff_t(sizeof(P)) != 0 ||
        v.pitch < std::ptrdiff_t{v.width} * std::ptrdiff_t(sizeof(P)))
        return error::bad_pitch;
    return error::none;
}

// The bytes a non-empty view spans, first to last pixel.
template <typename P>
std::uintptr_t span_bytes(const image_view<P>& v)
{
    return std::uintptr_t(v.height - 1) * std::uintptr_t(v.pitch) + std::uintptr_t(v.width) * sizeof(P);
}

// The one check of a caller's frame, for every entry point: the typed and C
// interfaces return its error, the plain functions assert that there is none.
template <typename P>
error check(image_view<const P> src, image_view<P> dst, std::int32_t y0, std::int32_t y1, const options& opt)
{
    const auto known = [](edge e) { return e == edge::clamp || e == edge::wrap || e == edge::transparent; };
    if ((opt.turn != orientation::upright && opt.turn != orientation::ccw && opt.turn != orientation::cw) ||
        !known(opt.edge_x) || !known(opt.edge_y))
        return error::bad_options;
    const grid& g = opt.tile;
    const bool no_grid = g.width == 0 && g.height == 0;
    if ((!no_grid && (g.width < 1 || g.height < 1)) || g.margin < 0 || g.spacing < 0 ||
        (no_grid && (g.margin != 0 || g.spacing != 0)))
        return error::bad_grid;
    if (const error e = check_view(src); e != error::none)
        return e;
    if (y0 < 0 || y0 > y1 || y1 > src.height)
        return error::bad_rows;
    const size need = scaled_size(src.width, src.height, opt.turn);
    if (need.width > MAX_32 || need.height > MAX_32)
        return error::bad_size;
    if (src.width == 0 || src.height == 0)
        return error::none;
    if (const error e = check_view(dst); e != error::none)
        return e;
    if (dst.width < need.width || dst.height < need.height)
        return error::output_too_small;
    image_view<P> out = dst;
    out.width = std::int32_t(need.width);
    out.height = std::int32_t(need.height);
    const auto a = reinterpret_cast<std::uintptr_t>(src.pixels), b = reinterpret_cast<std::uintptr_t>(out.pixels);
    if (a < b + span_bytes(out) && b < a + span_bytes(src))
        return error::overlap;
    return error::none;
}

template <typename P>
void run_kernel(lq2x_isa isa, const frame_args<P>& f)
{
    switch (isa) {
    case lq2x_isa::avx512: return detail::frame_avx512(f);
    case lq2x_isa::avx2: return detail::frame_avx2(f);
    case lq2x_isa::sse41: return detail::frame_sse41(f);
    case lq2x_isa::neon: return detail::frame_neon(f);
    case lq2x_isa::scalar: return detail::frame_scalar(f);
    }
}

// A grid along one axis: `cell` pixels a cell (the whole axis without a
// grid), the first `margin` pixels and `spacing` between cells in none.
struct axis_grid {
    std::int64_t cell, margin, spacing;
};

// The run of pixels from `pos` on an axis of n pixels that is all one cell,
// or all outside cells: its length, and which.
struct axis_run {
    int length;
    bool cell;
};

axis_run run_at(int pos, int n, axis_grid a)
{
    const std::int64_t left = n - pos;
    if (pos < a.margin)
        return {int(std::min(a.margin - pos, left)), false};
    const std::int64_t into = (pos - a.margin) % (a.cell + a.spacing);
    if (into < a.cell)
        return {int(std::min(a.cell - into, left)), true};
    return {int(std::min(a.cell + a.spacing - into, left)), false};
}

// The w x h rectangle of a frame at (x, y) as a frame of its own, its
// blocks where the whole frame's placement puts them, and the band's rows
// that fall in it.
template <typename P>
frame_args<P> sub_frame(const frame_args<P>& f, int x, int y, int w, int h)
{
    const spot a = block_at(f.turn, f.width, f.height, x, y),
               b = block_at(f.turn, f.width, f.height, x + w - 1, y + h - 1);
    frame_args<P> p = f;
    p.src = offset_bytes(f.src, y * f.src_pitch) + x;
    p.dst = offset_bytes(f.dst, std::min(a.row, b.row) * f.dst_pitch) + std::min(a.column, b.column);
    p.width = w;
    p.height = h;
    p.y_begin = std::max(f.y_begin - y, 0);
    p.y_end = std::min(f.y_end - y, h);
    return p;
}

// Cells up to this many pixels with their outer ring are scaled whole by the
// kernel from a copy on the stack (about 23 KB for 32-bit pixels), where the
// ring holds what the edge modes say the cell's border pixels see.
constexpr int PADDED_PIXELS = 34 * 34;

// The output rectangle that a frame's band of rows writes: top-left column
// and row, and size.
struct rect {
    std::ptrdiff_t column, row, width, height;
};

template <typename P>
rect band_output(const frame_args<P>& f)
{
    const spot a = block_at(f.turn, f.width, f.height, 0, f.y_begin),
               b = block_at(f.turn, f.width, f.height, f.width - 1, f.y_end - 1);
    const std::ptrdiff_t column = std::min(a.column, b.column), row = std::min(a.row, b.row);
    return {column, row, std::max(a.column, b.column) + 2 - column, std::max(a.row, b.row) + 2 - row};
}

// Scales the w x h rectangle at (x0, y0) of a cell (the rows of it in the
// band) from a copy on the stack with its ring of neighbours as the edge
// modes make them. (w + 2) * (h + 2) <= PADDED_PIXELS.
template <typename P>
void scale_padded(lq2x_isa isa, const frame_args<P>& f, edge ex, edge ey, int x0, int y0, int w, int h)
{
    const frame_args<P> r = sub_frame(f, x0, y0, w, h);
    if (r.y_begin >= r.y_end)
        return;
    const int pw = w + 2, ph = h + 2;
    assert(pw * ph <= PADDED_PIXELS);
    P src[PADDED_PIXELS];
    P out[4 * PADDED_PIXELS];
    // All of it, band or not: the kernels may read rows past a band's.
    for (int y = -1; y <= h; ++y)
        for (int x = -1; x <= w; ++x)
            src[(y + 1) * pw + x + 1] = source_pixel(f, ex, ey, x0 + x, y0 + y);
    const std::ptrdiff_t out_pitch = scaled_size(pw, ph, f.turn).width * std::ptrdiff_t(sizeof(P));
    const frame_args<P> padded{src, pw * std::ptrdiff_t(sizeof(P)), out, out_pitch, pw, ph, f.turn, r.y_begin + 1,
                               r.y_end + 1};
    run_kernel(isa, padded);
    // The rectangle's blocks of the band, from where the padded frame put them.
    const frame_args<P> inner = sub_frame(padded, 1, 1, w, h);
    const rect o = band_output(r);
    for (std::ptrdiff_t row = o.row; row < o.row + o.height; ++row)
        std::memcpy(offset_bytes(r.dst, row * r.dst_pitch) + o.column,
                    offset_bytes(inner.dst, row * inner.dst_pitch) + o.column, std::size_t(o.width) * sizeof(P));
}

// One cell. With clamped edges the kernel scales it as a frame of its own.
// Otherwise a small cell is scaled whole from a padded copy; in a larger one
// the kernel gives every pixel whose neighbours stay inside it, padded
// copies the top and bottom rows and the portable walk the two end columns.
template <typename P>
void scale_cell(lq2x_isa isa, const frame_args<P>& f, edge ex, edge ey)
{
    if (ex == edge::clamp && ey == edge::clamp)
        return run_kernel(isa, f);
    // With a non-clamped edge on an axis two pixels or shorter, all is ring.
    const bool all = (ex != edge::clamp && f.width <= 2) || (ey != edge::clamp && f.height <= 2);
    if (all)
        return with_turn(f.turn, [&]<orientation TURN>() { walk_edges<TURN>(f, ex, ey, true); });
    if ((f.width + 2) * (f.height + 2) <= PADDED_PIXELS)
        return scale_padded(isa, f, ex, ey, 0, 0, f.width, f.height);
    // A strip of rows at a time, so that the ring's pixels at its ends are
    // still in cache from the kernel's pass.
    constexpr int STRIP = 32, ROW_PIECE = PADDED_PIXELS / 3 - 2;
    for (int y = f.y_begin; y < f.y_end; y += STRIP) {
        frame_args<P> strip = f;
        strip.y_begin = y;
        strip.y_end = std::min(y + STRIP, f.y_end);
        run_kernel(isa, strip);
        if (ey != edge::clamp)
            for (const int ring_row : {0, f.height - 1})
                for (int x = 0; x < f.width; x += ROW_PIECE)
                    scale_padded(isa, strip, ex, ey, x, ring_row, std::min(ROW_PIECE, f.width - x), 1);
        with_turn(f.turn, [&]<orientation TURN>() { walk_edges<TURN>(strip, ex, ey, false); });
    }
}

// A band of rows of a checked frame, cell by cell.
template <typename P>
void scale_band(lq2x_isa isa, const frame_args<P>& f, const options& opt)
{
    const grid& g = opt.tile;
    if (g.width == 0 && opt.edge_x == edge::clamp && opt.edge_y == edge::clamp)
        return run_kernel(isa, f);
    const bool no_grid = g.width == 0;
    const axis_grid across{no_grid ? f.width : g.width, g.margin, g.spacing};
    const axis_grid down{no_grid ? f.height : g.height, g.margin, g.spacing};
    for (int y = f.y_begin; y < f.y_end;) {
        // The whole run, so that a cell is its own frame; its rows in the band.
        const axis_run rows = run_at(y, f.height, down);
        const int top = rows.cell ? y - int((y - down.margin) % (down.cell + down.spacing)) : y;
        const int height = rows.cell ? int(std::min<std::int64_t>(down.cell, f.height - top)) : rows.length;
        for (int x = 0; x < f.width;) {
            const axis_run columns = run_at(x, f.width, across);
            const frame_args<P> p = sub_frame(f, x, top, columns.length, height);
            if (rows.cell && columns.cell)
                scale_cell(isa, p, opt.edge_x, opt.edge_y);
            else
                with_turn(f.turn, [&]<orientation TURN>() { copy_blocks<TURN>(p); });
            x += columns.length;
        }
        y = std::min(top + height, f.y_end);
    }
}

// Scales source rows [y0, y1) of a checked frame in `threads` bands of rows,
// each on its own thread, the last on the caller's.
template <typename P>
void run(lq2x_isa isa, image_view<const P> src, image_view<P> dst, std::int32_t y0, std::int32_t y1,
         const options& opt)
{
    assert(lq2x_isa_available(isa));
    if (src.width == 0 || y0 == y1)
        return;
    frame_args<P> f{src.pixels, src.pitch, dst.pixels, dst.pitch, src.width, src.height, opt.turn, y0, y1};
    const int threads = opt.threads > 0 ? opt.threads : int(std::max(1u, std::thread::hardware_concurrency()));
    // Bands of whole 32-row strips, so the vector kernels lose no lanes.
    const int band = (y1 - y0 + threads - 1) / threads;
    const int rows = std::max(32, (band + 31) / 32 * 32);
    std::vector<std::thread> helpers;
    int y = y0;
    if (threads > 1) {
        for (; y1 - y > rows; y += rows) {
            frame_args<P> part = f;
            part.y_begin = y;
            part.y_end = y + rows;
            try {
                helpers.emplace_back(scale_band<P>, isa, part, std::cref(opt));
            } catch (const std::exception&) {
                scale_band(isa, part, opt); // no thread to be had: this band on the caller's
            }
        }
    }
    f.y_begin = y;
    scale_band(isa, f, opt);
    for (std::thread& t : helpers)
        t.join();
}

template <typename P>
error checked_run(lq2x_isa isa, image_view<const P> src, image_view<P> dst, std::int32_t y0, std::int32_t y1,
                  const options& opt)
{
    if (const error e = check(src, dst, y0, y1, opt); e != error::none)
        return e;
    run(isa, src, dst, y0, y1, opt);
    return error::none;
}

// The plain functions' frame: its contract is checked by assert alone.
template <typename P>
void run_plain(lq2x_isa isa, const P* src, std::int32_t src_pitch, P* dst, std::int32_t dst_pitch,
               std::int32_t width, std::int32_t height, orientation turn, int threads)
{
    const size out = scaled_size(width, height, turn);
    const image_view<const P> s{src, width, height, src_pitch};
    const image_view<P> d{dst, std::int32_t(out.width), std::int32_t(out.height), dst_pitch};
    const options opt{turn, threads};
    assert(check(s, d, 0, height, opt) == error::none);
    run(isa, s, d, 0, height, opt);
}

} // namespace

namespace detail {

// The portable walk, one source row at a time: the reference for the others.
template <typename P>
void frame_scalar(const frame_args<P>& f)
{
    switch (f.turn) {
    case orientation::upright: return walk_frame<orientation::upright>(f);
    case orientation::ccw: return walk_frame<orientation::ccw>(f);
    case orientation::cw: return walk_frame<orientation::cw>(f);
    }
}

template void frame_scalar(const frame_args<pixel565>&);
template void frame_scalar(const frame_args<pixel8888>&);

} // namespace detail

void lq2x_row(pixel565* dst0, pixel565* dst1,
              const pixel565* above, const pixel565* row, const pixel565* below,
              std::int32_t count, std::int32_t dst_pitch)
{
    assert(count >= 0);
    assert(dst_pitch > 0 && dst_pitch % 2 == 0);
    // Each later pixel's block is two output rows up.
    walk_row<orientation::ccw>({dst0, dst1, -2 * std::ptrdiff_t{dst_pitch}}, above, row, below, count);
}

void lq2x_frame(const pixel565* src, std::int32_t src_pitch,
                pixel565* dst, std::int32_t dst_pitch,
                std::int32_t width, std::int32_t height)
{
    run_plain(lq2x_best_isa(), src, src_pitch, dst, dst_pitch, width, height, orientation::ccw, 1);
}

block565 lq2x_corners(pixel565 TL, pixel565 T, pixel565 TR, pixel565 L, pixel565 C, pixel565 R,
                      pixel565 BL, pixel565 B, pixel565 BR)
{
    return detail::corners<pixel565>({TL, T, TR, L, C, R, BL, B, BR});
}

block8888 lq2x_corners8888(pixel8888 TL, pixel8888 T, pixel8888 TR, pixel8888 L, pixel8888 C, pixel8888 R,
                           pixel8888 BL, pixel8888 B, pixel8888 BR)
{
    return detail::corners<pixel8888>({TL, T, TR, L, C, R, BL, B, BR});
}

error scale(image_view<const pixel565> src, image_view<pixel565> dst, options opt)
{
    return checked_run(lq2x_best_isa(), src, dst, 0, std::max(src.height, 0), opt);
}

error scale(image_view<const pixel8888> src, image_view<pixel8888> dst, options opt)
{
    return checked_run(lq2x_best_isa(), src, dst, 0, std::max(src.height, 0), opt);
}

error scale_rows(image_view<const pixel565> src, image_view<pixel565> dst, std::int32_t y0, std::int32_t y1,
                 options opt)
{
    return checked_run(lq2x_best_isa(), src, dst, y0, y1, opt);
}

error scale_rows(image_view<const pixel8888> src, image_view<pixel8888> dst, std::int32_t y0, std::int32_t y1,
                 options opt)
{
    return checked_run(lq2x_best_isa(), src, dst, y0, y1, opt);
}

} // namespace lq2x

bool lq2x_isa_available(lq2x_isa isa)
{
    switch (isa) {
    case lq2x_isa::scalar: return true;
    case lq2x_isa::avx2: return lq2x::detail::avx2_available();
    case lq2x_isa::avx512: return lq2x::detail::avx512_available();
    case lq2x_isa::sse41: return lq2x::detail::sse41_available();
    case lq2x_isa::neon: return lq2x::detail::neon_available();
    }
    return false;
}

lq2x_isa lq2x_best_isa()
{
    static const lq2x_isa best = [] {
        for (const lq2x_isa isa : {lq2x_isa::avx512, lq2x_isa::avx2, lq2x_isa::sse41, lq2x_isa::neon})
            if (lq2x_isa_available(isa))
                return isa;
        return lq2x_isa::scalar;
    }();
    return best;
}

lq2x::error lq2x_scale_using(lq2x_isa isa, lq2x::image_view<const pixel565> src, lq2x::image_view<pixel565> dst,
                             std::int32_t y0, std::int32_t y1, lq2x::options opt)
{
    return lq2x::checked_run(isa, src, dst, y0, y1, opt);
}

lq2x::error lq2x_scale_using(lq2x_isa isa, lq2x::image_view<const lq2x::pixel8888> src,
                             lq2x::image_view<lq2x::pixel8888> dst, std::int32_t y0, std::int32_t y1,
                             lq2x::options opt)
{
    return lq2x::checked_run(isa, src, dst, y0, y1, opt);
}

void lq2x_scale565_using(lq2x_isa isa, const pixel565* src, std::int32_t src_pitch, pixel565* dst,
                         std::int32_t dst_pitch, std::int32_t width, std::int32_t height, lq2x::orientation turn,
                         int threads)
{
    lq2x::run_plain(isa, src, src_pitch, dst, dst_pitch, width, height, turn, threads);
}

void lq2x_scale8888_using(lq2x_isa isa, const lq2x::pixel8888* src, std::int32_t src_pitch, lq2x::pixel8888* dst,
                          std::int32_t dst_pitch, std::int32_t width, std::int32_t height, lq2x::orientation turn,
                          int threads)
{
    lq2x::run_plain(isa, src, src_pitch, dst, dst_pitch, width, height, turn, threads);
}
