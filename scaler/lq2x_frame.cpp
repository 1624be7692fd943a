#include "lq2x_frame.h"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <thread>
#include <vector>

#include "kernels.h"
#include "lq2x_corners.h"
#include "lq2x_isa.h"

namespace {

using lq2x_detail::frame_args;
using lq2x_detail::offset_bytes;

[[maybe_unused]] bool disjoint(const void* a, std::ptrdiff_t a_size, const void* b, std::ptrdiff_t b_size)
{
    const auto a0 = reinterpret_cast<std::uintptr_t>(a);
    const auto b0 = reinterpret_cast<std::uintptr_t>(b);
    return a0 + std::uintptr_t(a_size) <= b0 || b0 + std::uintptr_t(b_size) <= a0;
}

// The one walk over a source row: each pixel's block is stored at d0[0],
// d0[1] (one output row) and d1[0], d1[1] (the next), and the next pixel's
// block is `step` bytes further on. The placement says which quarter goes
// where.
template <lq2x_orientation TURN, typename P>
void walk_row(P* dst0, P* dst1, std::ptrdiff_t step, const P* above, const P* row, const P* below, int count)
{
    constexpr auto& at = lq2x_detail::QUARTER_AT[int(TURN)];
    for (int i = 0; i < count; ++i) {
        // The row's ends are their own outer neighbours.
        const int l = i > 0 ? i - 1 : i;
        const int r = i + 1 < count ? i + 1 : i;
        const lq2x_quarters<P> b = lq2x_detail::corners<P>(
            {above[l], above[i], above[r], row[l], row[i], row[r], below[l], below[i], below[r]});
        const P q[4] = {b.tl, b.tr, b.bl, b.br};
        // Offsets are taken from the row's first block each time, so no
        // pointer is ever formed outside the output frame.
        P* d0 = offset_bytes(dst0, step * i);
        P* d1 = offset_bytes(dst1, step * i);
        d0[0] = q[at[0][0]], d0[1] = q[at[0][1]], d1[0] = q[at[1][0]], d1[1] = q[at[1][1]];
    }
}

template <lq2x_orientation TURN, typename P>
void walk_frame(const frame_args<P>& f)
{
    const auto source_row = [&](int y) { return offset_bytes(f.src, std::clamp(y, 0, f.height - 1) * f.src_pitch); };
    for (int k = f.y_begin; k < f.y_end; ++k) {
        // Where the row's first block goes, and how far on the next one is.
        P* d0 = offset_bytes(f.dst, lq2x_detail::block_offset<TURN>(f, 0, k));
        const std::ptrdiff_t step = lq2x_detail::block_offset<TURN>(f, 1, k) - lq2x_detail::block_offset<TURN>(f, 0, k);
        walk_row<TURN>(d0, offset_bytes(d0, f.dst_pitch), step, source_row(k - 1), source_row(k),
                       source_row(k + 1), f.width);
    }
}

[[maybe_unused]] bool valid_pitch(std::int32_t pitch, std::size_t pixel, std::int64_t min_pixels)
{
    return pitch > 0 && pitch % std::int32_t(pixel) == 0 && std::int64_t{pitch} >= min_pixels * std::int64_t(pixel);
}

// Checks the contract (in debug builds), then scales the frame in `threads`
// bands of source rows, each on its own thread, the last on the caller's.
template <typename P, typename Kernel>
void scale(Kernel kernel, const P* src, std::int32_t src_pitch, P* dst, std::int32_t dst_pitch,
           std::int32_t width, std::int32_t height, lq2x_orientation turn, int threads)
{
    const bool upright = turn == lq2x_orientation::upright;
    assert(width >= 0 && height >= 0);
    assert(valid_pitch(src_pitch, sizeof(P), width));
    assert(valid_pitch(dst_pitch, sizeof(P), 2 * std::int64_t{upright ? width : height}));
    if (width == 0 || height == 0)
        return;
    [[maybe_unused]] const std::ptrdiff_t out_rows = 2 * std::ptrdiff_t{upright ? height : width};
    [[maybe_unused]] const std::ptrdiff_t out_cols = 2 * std::ptrdiff_t{upright ? width : height};
    assert(disjoint(src, std::ptrdiff_t{height - 1} * src_pitch + std::ptrdiff_t{width} * std::ptrdiff_t(sizeof(P)),
                    dst, (out_rows - 1) * dst_pitch + out_cols * std::ptrdiff_t(sizeof(P))));

    frame_args<P> f{src, src_pitch, dst, dst_pitch, width, height, turn, 0, height};
    if (threads <= 0)
        threads = int(std::max(1u, std::thread::hardware_concurrency()));
    // Bands of whole 32-row strips, so the vector kernels lose no lanes.
    const int band = (height + threads - 1) / threads;
    const int rows = std::max(32, (band + 31) / 32 * 32);
    if (threads == 1 || rows >= height) {
        kernel(f);
        return;
    }
    std::vector<std::thread> helpers;
    int y = 0;
    for (; y + rows < height; y += rows) {
        frame_args<P> part = f;
        part.y_begin = y;
        part.y_end = y + rows;
        try {
            helpers.emplace_back(kernel, part);
        } catch (const std::exception&) {
            kernel(part); // no thread to be had: this band on the caller's
        }
    }
    f.y_begin = y;
    kernel(f);
    for (std::thread& t : helpers)
        t.join();
}

template <typename P>
auto kernel_for(lq2x_isa isa)
{
    return [isa](const frame_args<P>& f) {
        switch (isa) {
        case lq2x_isa::avx512: return lq2x_detail::frame_avx512(f);
        case lq2x_isa::avx2: return lq2x_detail::frame_avx2(f);
        case lq2x_isa::sse41: return lq2x_detail::frame_sse41(f);
        case lq2x_isa::neon: return lq2x_detail::frame_neon(f);
        case lq2x_isa::scalar: return lq2x_detail::frame_scalar(f);
        }
    };
}

} // namespace

namespace lq2x_detail {

// The portable walk, one source row at a time: the reference for the others.
template <typename P>
void frame_scalar(const frame_args<P>& f)
{
    switch (f.turn) {
    case lq2x_orientation::upright: return walk_frame<lq2x_orientation::upright>(f);
    case lq2x_orientation::ccw: return walk_frame<lq2x_orientation::ccw>(f);
    case lq2x_orientation::cw: return walk_frame<lq2x_orientation::cw>(f);
    }
}

template void frame_scalar(const frame_args<pixel565>&);
template void frame_scalar(const frame_args<pixel8888>&);

} // namespace lq2x_detail

void lq2x_row(pixel565* dst0, pixel565* dst1,
              const pixel565* above, const pixel565* row, const pixel565* below,
              std::int32_t count, std::int32_t dst_pitch)
{
    assert(count >= 0);
    assert(dst_pitch > 0 && dst_pitch % 2 == 0);
    // Each later pixel's block is two output rows up.
    walk_row<lq2x_orientation::ccw>(dst0, dst1, -2 * std::ptrdiff_t{dst_pitch}, above, row, below, count);
}

bool lq2x_isa_available(lq2x_isa isa)
{
    switch (isa) {
    case lq2x_isa::scalar: return true;
    case lq2x_isa::avx2: return lq2x_detail::avx2_available();
    case lq2x_isa::avx512: return lq2x_detail::avx512_available();
    case lq2x_isa::sse41: return lq2x_detail::sse41_available();
    case lq2x_isa::neon: return lq2x_detail::neon_available();
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

void lq2x_scale565_using(lq2x_isa isa, const pixel565* src, std::int32_t src_pitch,
                         pixel565* dst, std::int32_t dst_pitch, std::int32_t width, std::int32_t height,
                         lq2x_orientation turn, int threads)
{
    assert(lq2x_isa_available(isa));
    scale(kernel_for<pixel565>(isa), src, src_pitch, dst, dst_pitch, width, height, turn, threads);
}

void lq2x_scale8888_using(lq2x_isa isa, const pixel8888* src, std::int32_t src_pitch,
                          pixel8888* dst, std::int32_t dst_pitch, std::int32_t width, std::int32_t height,
                          lq2x_orientation turn, int threads)
{
    assert(lq2x_isa_available(isa));
    scale(kernel_for<pixel8888>(isa), src, src_pitch, dst, dst_pitch, width, height, turn, threads);
}

void lq2x_scale565(const pixel565* src, std::int32_t src_pitch, pixel565* dst, std::int32_t dst_pitch,
                   std::int32_t width, std::int32_t height, lq2x_orientation turn, int threads)
{
    lq2x_scale565_using(lq2x_best_isa(), src, src_pitch, dst, dst_pitch, width, height, turn, threads);
}

void lq2x_scale8888(const pixel8888* src, std::int32_t src_pitch, pixel8888* dst, std::int32_t dst_pitch,
                    std::int32_t width, std::int32_t height, lq2x_orientation turn, int threads)
{
    lq2x_scale8888_using(lq2x_best_isa(), src, src_pitch, dst, dst_pitch, width, height, turn, threads);
}

void lq2x_frame(const pixel565* src, std::int32_t src_pitch,
                pixel565* dst, std::int32_t dst_pitch,
                std::int32_t width, std::int32_t height)
{
    lq2x_scale565(src, src_pitch, dst, dst_pitch, width, height, lq2x_orientation::ccw);
}
