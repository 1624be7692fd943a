// The frame functions: the one check of every caller's frame, the target
// that runs it (targets.h), bands of rows on threads, and the public entry
// points over them, the plain functions of lq2x_frame.h and lq2x_corners.h
// among them.
#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <limits>
#include <thread>
#include <vector>

#include <lq2x/lq2x.hpp>
#include <lq2x/lq2x_corners.h>
#include <lq2x/lq2x_frame.h>

#include "scaler/frame/frame_layer.h"
#include "scaler/kernels/targets.h"
#include "scaler/rule/rules.h"

namespace lq2x {
namespace {

using detail::frame_args;
using detail::target;

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

// Scales source rows [y0, y1) of a checked frame in `threads` bands of rows,
// each on its own thread, the last on the caller's.
template <typename P>
void run(const target& t, image_view<const P> src, image_view<P> dst, std::int32_t y0, std::int32_t y1,
         const options& opt, bool alpha_hides = false)
{
    if (src.width == 0 || y0 == y1)
        return;
    // Without a grid, each axis is one cell.
    const grid& g = opt.tile;
    const detail::axis_cells across{g.width == 0 ? src.width : g.width, g.margin, g.spacing, opt.edge_x},
        down{g.width == 0 ? src.height : g.height, g.margin, g.spacing, opt.edge_y};
    const std::uint64_t out_bytes = std::uint64_t(y1 - y0) * std::uint64_t(src.width) * 4 * sizeof(P);
    frame_args<P> f{src.pixels, src.pitch, dst.pixels, dst.pitch, src.width, src.height, opt.turn, y0, y1,
                    across, down, alpha_hides, out_bytes > detail::STREAM_BYTES};
    f.stream_blended = f.stream && detail::streams_blended(t);
    const detail::frame_walk<P> walk = detail::walk_of<P>(t);
    const int threads = opt.threads > 0 ? opt.threads : int(std::max(1u, std::thread::hardware_concurrency()));
    // Bands of whole 32-row strips, so the vector kernels lose no lanes.
    // In 64 bits: `threads` may be as large as an int goes.
    const std::int64_t band = (std::int64_t(y1) - y0 + threads - 1) / threads;
    const int rows = int(std::max<std::int64_t>(32, (band + 31) / 32 * 32));
    std::vector<std::thread> helpers;
    int y = y0;
    if (threads > 1) {
        for (; y1 - y > rows; y += rows) {
            frame_args<P> part = f;
            part.y_begin = y;
            part.y_end = y + rows;
            try {
                helpers.emplace_back(walk, part);
            } catch (const std::exception&) {
                walk(part); // no thread to be had: this band on the caller's
            }
        }
    }
    f.y_begin = y;
    walk(f);
    for (std::thread& t : helpers)
        t.join();
}

template <typename P>
error checked_run(image_view<const P> src, image_view<P> dst, std::int32_t y0, std::int32_t y1, const options& opt)
{
    if (const error e = check(src, dst, y0, y1, opt); e != error::none)
        return e;
    // Colour under alpha 0 is hidden only where there is any: the look costs
    // far less than hiding it everywhere.
    bool hides = false;
    if constexpr (sizeof(P) == 4)
        hides = opt.alpha_hides && src.width > 0 && src.height > 0 && detail::hides_colour(src, opt);
    run(*detail::target_for(opt.use), src, dst, y0, y1, opt, hides);
    return error::none;
}

// The plain functions' frame: its contract is checked by assert alone, and
// the kernel is the one the processor's best (or the environment's choice).
template <typename P>
void run_plain(const P* src, std::int32_t src_pitch, P* dst, std::int32_t dst_pitch, std::int32_t width,
               std::int32_t height)
{
    const size out = scaled_size(width, height, orientation::ccw);
    const image_view<const P> s{src, width, height, src_pitch};
    const image_view<P> d{dst, std::int32_t(out.width), std::int32_t(out.height), dst_pitch};
    const options opt{orientation::ccw, 1};
    assert(check(s, d, 0, height, opt) == error::none);
    // Without a kernel (hidden by the environment) nothing is written.
    if (const target* t = detail::target_for(opt.use))
        run(*t, s, d, 0, height, opt);
}

} // namespace

namespace detail {

template <typename P>
void scale_checked(image_view<const P> src, image_view<P> dst, std::int32_t y0, std::int32_t y1,
                   const options& opt, bool alpha_hides)
{
    run(*target_for(opt.use), src, dst, y0, y1, opt, alpha_hides);
}

bool hides_colour(image_view<const pixel8888> src, const options& opt)
{
    return target_for(opt.use)->hides_colour(src.pixels, src.pitch, src.width, src.height);
}

template void scale_checked(image_view<const pixel565>, image_view<pixel565>, std::int32_t, std::int32_t,
                            const options&, bool);
template void scale_checked(image_view<const pixel8888>, image_view<pixel8888>, std::int32_t, std::int32_t,
                            const options&, bool);

} // namespace detail

void lq2x_frame(const pixel565* src, std::int32_t src_pitch,
                pixel565* dst, std::int32_t dst_pitch,
                std::int32_t width, std::int32_t height)
{
    run_plain(src, src_pitch, dst, dst_pitch, width, height);
}

void lq2x_row(pixel565* dst0, pixel565* dst1,
              const pixel565* above, const pixel565* row, const pixel565* below,
              std::int32_t count, std::int32_t dst_pitch)
{
    assert(count >= 0);
    assert(dst_pitch > 0 && dst_pitch % 2 == 0);
    // Each later pixel's block is two output rows up.
    detail::portable_row(dst0, dst1, -2 * std::ptrdiff_t{dst_pitch}, above, row, below, count);
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

error kernel_in_use(const options& opt, kernel& out)
{
    if (const error e = detail::check_options(opt); e != error::none)
        return e;
    out = detail::target_for(opt.use)->id;
    return error::none;
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
