// The frame walk: the portable implementation, the one check of every
// caller's frame, threads, and the public entry points over them. Edge modes
// and tile grids are the frame's cells (kernels.h), which every walk sees.
#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <limits>
#include <optional>
#include <thread>
#include <vector>

#include <lq2x/lq2x.hpp>
#include <lq2x/lq2x_corners.h>
#include <lq2x/lq2x_frame.h>

#include "kernels.h"
#include "lq2x_isa.h"
#include "rules.h"
#include "walk.h"

namespace lq2x {
namespace {

using detail::frame_args;
using detail::offset_bytes;
using detail::block_at;
using detail::spot;

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
    const detail::axis_cells whole{count, 0, 0, edge::clamp};
    const detail::cell_span all{0, count - 1};
    place_row<TURN>(at, 0, count, [&](int i) {
        const int l = detail::neighbour(whole, all, i, -1), r = detail::neighbour(whole, all, i, 1);
        return detail::corners<P>({above[l], above[i], above[r], row[l], row[i], row[r], below[l], below[i], below[r]});
    });
}

// The walk over a frame's band, cell by cell; without cells or edge modes,
// row by row as above.
template <orientation TURN, typename P>
void walk_frame(const frame_args<P>& f)
{
    const int w = f.width, h = f.height;
    const auto source_row = [&](int y) { return y < 0 ? nullptr : offset_bytes(f.src, y * f.src_pitch); };
    const bool whole_rows = f.across.cell >= w && f.across.margin == 0 && f.across.mode == edge::clamp;
    for (int k = f.y_begin; k < f.y_end; ++k) {
        const row_spot<P> at = row_start<TURN>(f, k);
        const P* row = source_row(k);
        const auto own = [&](int x) { return quarters<P>{row[x], row[x], row[x], row[x]}; };
        const detail::cell_span down = detail::span_at(f.down, h, k);
        if (down.first < 0) { // a row in no cell
            place_row<TURN>(at, 0, w, own);
            continue;
        }
        const P* above = source_row(detail::neighbour(f.down, down, k, -1));
        const P* below = source_row(detail::neighbour(f.down, down, k, 1));
        if (whole_rows && above != nullptr && below != nullptr) {
            walk_row<TURN>(at, above, row, below, w);
            continue;
        }
        const auto pixel = [](const P* p, int x) { return p == nullptr || x < 0 ? P(0) : p[x]; };
        for (int x = 0; x < w;) {
            const detail::cell_span c = detail::span_at(f.across, w, x);
            if (c.first < 0) { // a pixel in no cell
                place_row<TURN>(at, x, x + 1, own);
                ++x;
                continue;
            }
            place_row<TURN>(at, x, c.last + 1, [&](int i) {
                const int l = detail::neighbour(f.across, c, i, -1), r = detail::neighbour(f.across, c, i, 1);
                return detail::corners<P>({pixel(above, l), pixel(above, i), pixel(above, r), pixel(row, l), row[i],
                                           pixel(row, r), pixel(below, l), pixel(below, i), pixel(below, r)});
            });
            x = c.last + 1;
        }
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
    if (const error e = detail::check_options(opt); e != error::none)
        return e;
    if (opt.scale != 2 || opt.rgb565) // a frame is one pass of its own pixels
        return error::bad_options;
    if (const error e = check_view(src); e != error::none)
        return e;
    if (y0 < 0 || y0 > y1 || y1 > src.height)
        return error::bad_rows;
    const size need = scaled_size(src.width, src.height, opt.turn);
    if (need.width > MAX_32 || need.height > MAX_32)
        return error::bad_size;
    if (src.width == 0 || src.height == 0)
        return error::none;
    if (const error e = detail::check_grid_fits(opt.tile, src.width, src.height); e != error::none)
        return e;
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

// The implementation a kernel choice names, when this build and processor have it.
std::optional<lq2x_isa> isa_for(kernel k)
{
    const auto have = [](lq2x_isa isa) { return lq2x_isa_available(isa) ? std::optional(isa) : std::nullopt; };
    switch (k) {
    case kernel::automatic: return lq2x_best_isa();
    case kernel::portable: return lq2x_isa::scalar;
    case kernel::sse41: return have(lq2x_isa::sse41);
    case kernel::avx2: return have(lq2x_isa::avx2);
    case kernel::avx512: return have(lq2x_isa::avx512);
    case kernel::neon: return have(lq2x_isa::neon);
    case kernel::simd128: break;
    }
    return std::nullopt;
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

// Scales source rows [y0, y1) of a checked frame in `threads` bands of rows,
// each on its own thread, the last on the caller's.
template <typename P>
void run(lq2x_isa isa, image_view<const P> src, image_view<P> dst, std::int32_t y0, std::int32_t y1,
         const options& opt)
{
    assert(lq2x_isa_available(isa));
    if (src.width == 0 || y0 == y1)
        return;
    // Without a grid, each axis is one cell.
    const grid& g = opt.tile;
    const detail::axis_cells across{g.width == 0 ? src.width : g.width, g.margin, g.spacing, opt.edge_x},
        down{g.width == 0 ? src.height : g.height, g.margin, g.spacing, opt.edge_y};
    frame_args<P> f{src.pixels, src.pitch, dst.pixels, dst.pitch, src.width, src.height, opt.turn, y0, y1,
                    across, down};
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
                helpers.emplace_back(run_kernel<P>, isa, part);
            } catch (const std::exception&) {
                run_kernel(isa, part); // no thread to be had: this band on the caller's
            }
        }
    }
    f.y_begin = y;
    run_kernel(isa, f);
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

// The same with the kernel the options name.
template <typename P>
error checked_run(image_view<const P> src, image_view<P> dst, std::int32_t y0, std::int32_t y1, const options& opt)
{
    if (const error e = check(src, dst, y0, y1, opt); e != error::none)
        return e;
    run(*isa_for(opt.use), src, dst, y0, y1, opt);
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

error check_options(const options& opt)
{
    const auto known = [](edge e) { return e == edge::clamp || e == edge::wrap || e == edge::transparent; };
    if ((opt.turn != orientation::upright && opt.turn != orientation::ccw && opt.turn != orientation::cw) ||
        !known(opt.edge_x) || !known(opt.edge_y) || int(opt.use) < LQ2X_KERNEL_AUTO ||
        int(opt.use) > LQ2X_KERNEL_SIMD128)
        return error::bad_options;
    if (!isa_for(opt.use))
        return error::no_kernel;
    const grid& g = opt.tile;
    const bool no_grid = g.width == 0 && g.height == 0;
    if ((!no_grid && (g.width < 1 || g.height < 1)) || g.margin < 0 || g.spacing < 0 ||
        (no_grid && (g.margin != 0 || g.spacing != 0)))
        return error::bad_grid;
    return error::none;
}

error check_grid_fits(const grid& g, std::int64_t width, std::int64_t height)
{
    if (g.width == 0 || width == 0 || height == 0)
        return error::none;
    return g.margin >= width || g.margin >= height ? error::no_cell : error::none;
}

template <typename P>
void walk(image_view<const P> src, image_view<P> dst, std::int32_t y0, std::int32_t y1, const options& opt)
{
    run(*isa_for(opt.use), src, dst, y0, y1, opt);
}

template void walk(image_view<const pixel565>, image_view<pixel565>, std::int32_t, std::int32_t, const options&);
template void walk(image_view<const pixel8888>, image_view<pixel8888>, std::int32_t, std::int32_t, const options&);

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
    return checked_run(src, dst, 0, std::max(src.height, 0), opt);
}

error scale(image_view<const pixel8888> src, image_view<pixel8888> dst, options opt)
{
    return checked_run(src, dst, 0, std::max(src.height, 0), opt);
}

error scale_rows(image_view<const pixel565> src, image_view<pixel565> dst, std::int32_t y0, std::int32_t y1,
                 options opt)
{
    return checked_run(src, dst, y0, y1, opt);
}

error scale_rows(image_view<const pixel8888> src, image_view<pixel8888> dst, std::int32_t y0, std::int32_t y1,
                 options opt)
{
    return checked_run(src, dst, y0, y1, opt);
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
