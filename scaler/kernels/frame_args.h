// Internal: what every frame walk is given, the portable one and each
// vector target's alike: a checked, non-empty frame (see frame.cpp), the band
// of its source rows to write, how its axes are cut into cells, and where
// each source pixel's block goes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include <lq2x/lq2x.hpp>

namespace lq2x::detail {

// How one axis of a frame is cut into cells: `cell` pixels a cell (the whole
// axis without a grid), the first `margin` pixels and `spacing` between cells
// in none; and what a cell's border pixels see beyond it.
struct axis_cells {
    std::int64_t cell, margin, spacing;
    edge mode;
};

// The cell that pixel i of an axis of n pixels is in: its first and last
// pixel (cut short by the axis's end), or first = -1 outside every cell.
struct cell_span {
    int first, last;
};

// Forced inline here and below: the kernels call them, and an out-of-line
// copy built for one processor must not be the one every caller gets
// (tests/shared_code.sh holds every function here to it).
[[gnu::always_inline]] constexpr cell_span span_at(const axis_cells& a, int n, int i)
{
    if (i < a.margin)
        return {-1, -1};
    const std::int64_t into = (i - a.margin) % (a.cell + a.spacing);
    if (into >= a.cell)
        return {-1, -1};
    const std::int64_t first = i - into, last = first + a.cell - 1;
    return {int(first), last < n ? int(last) : n - 1};
}

// The pixel that pixel i of a cell [s.first, s.last] sees one step back
// (step -1) or on (+1): an index on the axis, or -1 for the all-zero pixel.
// The one statement of the edge modes.
[[gnu::always_inline]] constexpr int neighbour(const axis_cells& a, cell_span s, int i, int step)
{
    const int j = i + step;
    if (j >= s.first && j <= s.last)
        return j;
    switch (a.mode) {
    case edge::wrap: return step < 0 ? s.last : s.first;
    case edge::transparent: return -1;
    case edge::clamp: break;
    }
    return i;
}

// A checked frame, and the band of its source rows [y_begin, y_end) to scale
// now; rows outside the band are still read as neighbours. Each cell is
// scaled as a frame of its own; pixels outside every cell (on either axis)
// become a 2x2 block of themselves.
template <typename P>
struct frame_args {
    const P* src;
    std::ptrdiff_t src_pitch; // bytes
    P* dst;
    std::ptrdiff_t dst_pitch; // bytes
    int width, height;
    orientation turn;
    int y_begin, y_end;
    axis_cells across, down;
    // 32-bit pixels only: a pixel whose alpha byte (byte 3 in memory) is 0
    // is read as the all-zero pixel, as pictures define it, so that a source
    // with colour under alpha 0 is read in place rather than copied first.
    bool alpha_hides = false;
    // Whether the vector walks stream the output past the caches in whole
    // lines (see STREAM_BYTES), where the frame has no cells and no colour
    // to hide.
    bool stream = false;
    // Whether a turned walk that streams streams its blended blocks too, not
    // only its flat ones: the target's trait, or what the family table says
    // of this processor (targets.h).
    bool stream_blended = false;
};

// Outputs of more bytes than this may be streamed past the caches by the
// vector walks (see streamed_row in plan/stores.h); smaller ones take
// ordinary stores and stay in the cache for whoever reads them next. It is a
// core's L2 cache; the measurements are in docs/performance.md.
constexpr std::uint64_t STREAM_BYTES = std::uint64_t{1} << 20;

// Whether an axis is one cell with clamped ends: a frame whose two axes are
// takes the walks' plain path, with the cell bookkeeping compiled out.
[[gnu::always_inline]] constexpr bool plain_axis(const axis_cells& a, int n) { return a.mode == edge::clamp && a.margin == 0 && a.cell >= n; }

template <typename P>
[[gnu::always_inline]] constexpr bool plain_frame(const frame_args<P>& f)
{
    return plain_axis(f.across, f.width) && plain_axis(f.down, f.height);
}

// The pixel a walk sees at p: under alpha_hides (HIDES), the zero pixel for
// one whose alpha byte is 0. Pixels are little-endian on every target.
template <bool HIDES, typename P>
[[gnu::always_inline]] constexpr P seen(P p)
{
    if constexpr (HIDES && sizeof(P) == 4)
        return p >> 24 == 0 ? P(0) : p;
    return p;
}

// p moved on by a number of bytes: rows are a pitch in bytes apart.
template <typename P>
[[gnu::always_inline]] inline P* offset_bytes(P* p, std::ptrdiff_t bytes)
{
    using byte_type = std::conditional_t<std::is_const_v<P>, const std::byte, std::byte>;
    return reinterpret_cast<P*>(reinterpret_cast<byte_type*>(p) + bytes);
}

// Where source pixel (x, y) of a width x height frame puts its block: the
// output column and row of the block's top-left pixel (the placement that
// lq2x_orientation documents), and which quarter goes where in it:
// QUARTER_AT[turn][r][c] is the quarter (0 tl, 1 tr, 2 bl, 3 br) at row r,
// column c of the output block. The one statement of the placement, for the
// portable walk and every kernel.
struct spot {
    std::ptrdiff_t column, row;
};

[[gnu::always_inline]] constexpr spot block_at(orientation turn, int width, int height, int x, int y)
{
    switch (turn) {
    case orientation::ccw: return {2 * std::ptrdiff_t{y}, 2 * (std::ptrdiff_t{width} - 1 - x)};
    case orientation::cw: return {2 * (std::ptrdiff_t{height} - 1 - y), 2 * std::ptrdiff_t{x}};
    case orientation::upright: break;
    }
    return {2 * std::ptrdiff_t{x}, 2 * std::ptrdiff_t{y}};
}

inline constexpr std::uint8_t QUARTER_AT[3][2][2] = {{{0, 1}, {2, 3}}, {{1, 3}, {0, 2}}, {{2, 0}, {3, 1}}};

// The byte offset of that block's top-left pixel from the output frame's first one.
template <orientation TURN, typename P>
[[gnu::always_inline]] inline std::ptrdiff_t block_offset(const frame_args<P>& f, int x, int y)
{
    const spot at = block_at(TURN, f.width, f.height, x, y);
    return at.row * f.dst_pitch + at.column * std::ptrdiff_t(sizeof(P));
}

} // namespace lq2x::detail
