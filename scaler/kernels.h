// Internal: the frame walk's per-instruction-set implementations. Each takes
// a checked, non-empty frame (see frame.cpp) and writes the output of one
// band of its source rows.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "rules.h"
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
// copy built for one processor must not be the one every caller gets.
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
};

// p moved on by a number of bytes: rows are a pitch in bytes apart.
template <typename P>
P* offset_bytes(P* p, std::ptrdiff_t bytes)
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

constexpr spot block_at(orientation turn, int width, int height, int x, int y)
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
std::ptrdiff_t block_offset(const frame_args<P>& f, int x, int y)
{
    const spot at = block_at(TURN, f.width, f.height, x, y);
    return at.row * f.dst_pitch + at.column * std::ptrdiff_t(sizeof(P));
}

// One frame walk per instruction set; each kernel_<target>.cpp defines its
// pair (and reports false, with empty walks, where it cannot be built).
template <typename P>
void frame_scalar(const frame_args<P>& f);
bool sse41_available();
void frame_sse41(const frame_args<pixel565>& f);
void frame_sse41(const frame_args<pixel8888>& f);
bool avx2_available();
void frame_avx2(const frame_args<pixel565>& f);
void frame_avx2(const frame_args<pixel8888>& f);
bool avx512_available();
void frame_avx512(const frame_args<pixel565>& f);
void frame_avx512(const frame_args<pixel8888>& f);
bool neon_available();
void frame_neon(const frame_args<pixel565>& f);
void frame_neon(const frame_args<pixel8888>& f);

// Vector kernels decide each quarter by a one-byte code per diff_pattern:
//   bits 0-3  the pair that gates the blend, one bit each: T=L, T=R, B=L, B=R
//             (none set: the quarter stays C), so that a lane's bits of
//             which pairs hold, tested against the code, say whether it blends
//   bit 4     the neighbour blended with C is L or R (else T or B)
//   bit 5     kind H, bit 6 kind W, bit 7 kind E (none of them: kind Q)
// The quarter's vertical neighbour is T for tl and tr, B for bl and br; its
// horizontal one is L for tl and bl, R for tr and br.
inline constexpr std::uint8_t CODE_HORIZONTAL = 16, CODE_H = 32, CODE_W = 64, CODE_E = 128;

constexpr std::uint8_t vector_code(const quarter_rule& r)
{
    if (r.kind == K_C)
        return 0;
    const unsigned pair = (r.gate_a == P_B ? 2 : 0) + (r.gate_b == P_R ? 1 : 0);
    const unsigned horizontal = r.x == P_L || r.x == P_R ? CODE_HORIZONTAL : 0;
    const unsigned kind = r.kind == K_H ? CODE_H : r.kind == K_W ? CODE_W : r.kind == K_E ? CODE_E : 0;
    return std::uint8_t(1u << pair | horizontal | kind);
}

constexpr std::array<std::array<std::uint8_t, 256>, 4> make_vector_codes()
{
    std::array<std::array<std::uint8_t, 256>, 4> codes{};
    for (unsigned p = 0; p < 256; ++p) {
        codes[0][p] = vector_code(RULES[p].tl);
        codes[1][p] = vector_code(RULES[p].tr);
        codes[2][p] = vector_code(RULES[p].bl);
        codes[3][p] = vector_code(RULES[p].br);
    }
    return codes;
}

// Codes for the tl, tr, bl and br quarters; on a cache line's start, since
// the AVX-512 kernel reads them 64 bytes at a time.
alignas(64) inline constexpr std::array<std::array<std::uint8_t, 256>, 4> VECTOR_CODES = make_vector_codes();

// The four codes of each pattern in one 32-bit entry, tl in the lowest byte,
// for kernels that fetch a lane's codes at once.
struct packed_codes {
    alignas(32) std::uint32_t entry[256];
};
constexpr packed_codes make_packed_codes()
{
    packed_codes c{};
    for (int p = 0; p < 256; ++p)
        for (int q = 0; q < 4; ++q)
            c.entry[p] |= std::uint32_t(VECTOR_CODES[q][p]) << 8 * q;
    return c;
}
inline constexpr packed_codes PACKED_CODES = make_packed_codes();

} // namespace lq2x::detail

namespace lq2x::detail {

// What the codes assume of the rule: every gate pairs a vertical neighbour
// with a horizontal one, and the blended neighbour is the quarter's own.
constexpr bool codes_fit_rules()
{
    for (const pattern_rule& p : RULES) {
        const quarter_rule q[4] = {p.tl, p.tr, p.bl, p.br};
        for (int i = 0; i < 4; ++i) {
            if (q[i].kind == K_C)
                continue;
            const unsigned vertical = i < 2 ? P_T : P_B, horizontal = i % 2 == 0 ? P_L : P_R;
            if ((q[i].gate_a != P_T && q[i].gate_a != P_B) || (q[i].gate_b != P_L && q[i].gate_b != P_R) ||
                (q[i].x != vertical && q[i].x != horizontal))
                return false;
        }
    }
    return true;
}
static_assert(codes_fit_rules());

} // namespace lq2x::detail
