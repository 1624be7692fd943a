// The operations (operations.h) with AVX-512 (F, BW, VL, VBMI): 32 RGB565 or
// 16 32-bit pixels a vector, masks in mask registers, masked loads and
// stores at the frame's edges, and 256-entry code lookups by two-table byte
// permutes.
#pragma once

#include <immintrin.h>

#include <concepts>
#include <cstdint>
#include <type_traits>

#include "scaler/rule/codes.h"

namespace lq2x::detail::avx512 {

template <typename P>
constexpr int LANES = 64 / int(sizeof(P));
template <typename P>
constexpr bool WORDS = sizeof(P) == 2;

template <typename P>
struct vec {
    __m512i v;
};
template <typename P>
struct mask {
    std::conditional_t<WORDS<P>, __mmask32, __mmask16> k;
};

template <typename P>
mask<P> lanes_below(int n)
{
    using K = decltype(mask<P>::k);
    return {n >= LANES<P> ? K(~K{0}) : K((K{1} << n) - 1)};
}

// The lanes whose bits are set (lane i: bit i).
template <typename P>
mask<P> lanes_of(std::uint32_t bits) { return {decltype(mask<P>::k)(bits)}; }

template <typename P>
vec<P> load(const P* p, int n)
{
    const auto k = lanes_below<P>(n).k;
    return {WORDS<P> ? _mm512_maskz_loadu_epi16(k, p) : _mm512_maskz_loadu_epi32(k, p)};
}

template <typename P>
void store(P* p, vec<P> v, int n)
{
    if (n == LANES<P>)
        _mm512_storeu_si512(p, v.v);
    else if constexpr (WORDS<P>)
        _mm512_mask_storeu_epi16(p, lanes_below<P>(n).k, v.v);
    else
        _mm512_mask_storeu_epi32(p, lanes_below<P>(n).k, v.v);
}

template <typename P>
void stream(P* p, vec<P> v) { _mm512_stream_si512(reinterpret_cast<__m512i*>(p), v.v); }
inline void stream_fence() { _mm_sfence(); }

// The rule's constants (one bit of a byte, or 255) splatted in memory, read
// as instruction operands: splatted in registers they crowd out the walk's
// own vectors, and GCC rebuilds most of them from an immediate at every
// pixel vector instead. Row i holds 1 << i, row 8 holds 255.
template <typename P>
struct splat_tables {
    using word = std::conditional_t<WORDS<P>, std::uint16_t, std::uint32_t>;
    alignas(64) word row[9][LANES<P>];

    constexpr splat_tables() : row{}
    {
        for (int i = 0; i < 9; ++i)
            for (int j = 0; j < LANES<P>; ++j)
                row[i][j] = word(i < 8 ? 1 << i : 255);
    }
};
template <typename P>
constexpr splat_tables<P> SPLATS{};

template <typename P>
vec<P> splat(P x)
{
    // Known at compile time once inlined; the empty asm hides the row's
    // address, so the optimiser cannot see its contents and go back to
    // building them in a register.
    if (__builtin_constant_p(x) && (x == 255 || (x != 0 && x <= 128 && (x & (x - 1)) == 0))) {
        const void* row = SPLATS<P>.row[x == 255 ? 8 : __builtin_ctz(x)];
        asm volatile("" : "+r"(row));
        return {_mm512_load_si512(row)};
    }
    return {WORDS<P> ? _mm512_set1_epi16(short(x)) : _mm512_set1_epi32(int(x))};
}

template <typename P>
mask<P> eq(vec<P> a, vec<P> b)
{
    return {decltype(mask<P>::k)(WORDS<P> ? _mm512_cmpeq_epi16_mask(a.v, b.v) : _mm512_cmpeq_epi32_mask(a.v, b.v))};
}

// Lanes where a and b share a set bit; `has` is the same for a single bit.
template <typename P>
mask<P> test(vec<P> a, vec<P> b)
{
    return {decltype(mask<P>::k)(WORDS<P> ? _mm512_test_epi16_mask(a.v, b.v) : _mm512_test_epi32_mask(a.v, b.v))};
}
template <typename P>
mask<P> has(vec<P> a, vec<P> bit) { return test(a, bit); }

template <typename P>
vec<P> select(mask<P> m, vec<P> clear, vec<P> set)
{
    return {WORDS<P> ? _mm512_mask_blend_epi16(m.k, clear.v, set.v) : _mm512_mask_blend_epi32(m.k, clear.v, set.v)};
}

template <typename P>
bool any(mask<P> m) { return m.k != 0; }
template <typename P>
mask<P> and_(mask<P> a, mask<P> b) { return {decltype(a.k)(a.k & b.k)}; }
template <typename P>
mask<P> and_not(mask<P> a, mask<P> b) { return {decltype(a.k)(a.k & ~b.k)}; }

// acc with `bits` added where m is set (the bits are not yet in acc).
template <typename P>
vec<P> or_where(vec<P> acc, mask<P> m, vec<P> bits)
{
    const __m512i a = acc.v;
    return {WORDS<P> ? _mm512_mask_add_epi16(a, m.k, a, bits.v) : _mm512_mask_add_epi32(a, m.k, a, bits.v)};
}

// acc with `bits` taken out where m is set (the bits are in acc).
template <typename P>
vec<P> clear_where(vec<P> acc, mask<P> m, vec<P> bits)
{
    const __m512i a = acc.v;
    return {WORDS<P> ? _mm512_mask_sub_epi16(a, m.k, a, bits.v) : _mm512_mask_sub_epi32(a, m.k, a, bits.v)};
}

// Whether T, L, R and B equal C in every lane, in a few bitwise steps:
// ternary-logic 0x7E is (a ^ c) | (b ^ c).
template <typename P>
bool flat(const vec<P> (&n)[9])
{
    const __m512i c = n[4].v;
    const __m512i differ = _mm512_or_si512(_mm512_ternarylogic_epi32(n[1].v, n[3].v, c, 0x7E),
                                           _mm512_ternarylogic_epi32(n[5].v, n[7].v, c, 0x7E));
    return _mm512_test_epi64_mask(differ, differ) == 0;
}

// Per-channel floor average. First each pixel drops the lowest bit of every
// channel where the other pixel's is clear, which makes every channel's sum
// even; then the rounding average (of words for RGB565, which keeps the
// 17-bit sum) halves all channels at once with nothing crossing into the
// channel below, and its +1 falls on an even sum, so it rounds nothing.
template <typename P>
vec<P> average(vec<P> a, vec<P> b)
{
    const __m512i low = WORDS<P> ? _mm512_set1_epi16(0x0821) : _mm512_set1_epi8(1);
    // x & (y | ~low): ternary-logic truth table 0xD0.
    const __m512i a1 = _mm512_ternarylogic_epi32(a.v, b.v, low, 0xD0);
    const __m512i b1 = _mm512_ternarylogic_epi32(b.v, a.v, low, 0xD0);
    return {WORDS<P> ? _mm512_avg_epu16(a1, b1) : _mm512_avg_epu8(a1, b1)};
}

// Interleaves lanes inside each 128-bit block: first halves, second halves.
template <typename P>
vec<P> zip_lo(vec<P> a, vec<P> b)
{
    return {WORDS<P> ? _mm512_unpacklo_epi16(a.v, b.v) : _mm512_unpacklo_epi32(a.v, b.v)};
}
template <typename P>
vec<P> zip_hi(vec<P> a, vec<P> b)
{
    return {WORDS<P> ? _mm512_unpackhi_epi16(a.v, b.v) : _mm512_unpackhi_epi32(a.v, b.v)};
}

// A tile's lanes hold the strip's rows in the order that lets zip_lo and
// zip_hi interleave two quarters straight into output order: in 128-bit
// block L, the first half of the B lanes are rows (B/2)L.., the second half
// rows N/2 + (B/2)L...
template <typename P>
constexpr int tile_row(int lane)
{
    const int b = 16 / int(sizeof(P)), half = b / 2, block = lane / b, i = lane % b;
    return i < half ? half * block + i : LANES<P> / 2 + half * block + i - half;
}

// The 4 x 4 transpose of 128-bit blocks that ends a tile's transpose:
// block m of vector BL + k becomes block L of vector Bm + k.
template <typename P>
void transpose_blocks(vec<P> (&v)[LANES<P>])
{
    constexpr int B = 16 / int(sizeof(P));
#pragma GCC unroll 8
    for (int k = 0; k < B; ++k) {
        const __m512i p0 = _mm512_shuffle_i64x2(v[k].v, v[B + k].v, 0x88);
        const __m512i p1 = _mm512_shuffle_i64x2(v[k].v, v[B + k].v, 0xDD);
        const __m512i p2 = _mm512_shuffle_i64x2(v[2 * B + k].v, v[3 * B + k].v, 0x88);
        const __m512i p3 = _mm512_shuffle_i64x2(v[2 * B + k].v, v[3 * B + k].v, 0xDD);
        v[k].v = _mm512_shuffle_i64x2(p0, p2, 0x88);
        v[2 * B + k].v = _mm512_shuffle_i64x2(p0, p2, 0xDD);
        v[B + k].v = _mm512_shuffle_i64x2(p1, p3, 0x88);
        v[3 * B + k].v = _mm512_shuffle_i64x2(p1, p3, 0xDD);
    }
}

// Two-source permute indices, kept in memory as instruction operands: a
// tile's lanes moved one row earlier or later, the lane left free taking lane
// c of the second source; lanes moved one later (earlier) in natural order,
// the first (last) taking the last (first) lane of the second source; and
// interleaves of two vectors' first and second halves in natural order.
template <typename P>
struct index_tables {
    using word = std::conditional_t<WORDS<P>, std::int16_t, std::int32_t>;
    static constexpr int n = LANES<P>;
    static constexpr std::size_t N = LANES<P>;
    alignas(64) word previous[N][N], next[N][N], later[N], earlier[N], zip_first[N], zip_second[N];

    constexpr index_tables() : previous{}, next{}, later{}, earlier{}, zip_first{}, zip_second{}
    {
        for (int c = 0; c < n; ++c)
            for (int j = 0; j < n; ++j)
                for (int i = 0; i < n; ++i) {
                    if (tile_row<P>(i) == tile_row<P>(j) - 1 || (tile_row<P>(j) == 0 && i == 0))
                        previous[c][j] = word(tile_row<P>(j) == 0 ? n + c : i);
                    if (tile_row<P>(i) == tile_row<P>(j) + 1 || (tile_row<P>(j) == n - 1 && i == 0))
                        next[c][j] = word(tile_row<P>(j) == n - 1 ? n + c : i);
                }
        for (int i = 0; i < n; ++i) {
            later[i] = word(i == 0 ? 2 * n - 1 : i - 1);
            earlier[i] = word(i == n - 1 ? n : i + 1);
        }
        for (int i = 0; i < n / 2; ++i) {
            zip_first[2 * i] = word(i), zip_first[2 * i + 1] = word(n + i);
            zip_second[2 * i] = word(n / 2 + i), zip_second[2 * i + 1] = word(n + n / 2 + i);
        }
    }
};
template <typename P>
constexpr index_tables<P> INDEX{};

template <typename P>
vec<P> permute(vec<P> a, const void* index, vec<P> b)
{
    const __m512i i = _mm512_load_si512(index);
    return {WORDS<P> ? _mm512_permutex2var_epi16(a.v, i, b.v) : _mm512_permutex2var_epi32(a.v, i, b.v)};
}

// A tile column moved one row later (each lane taking the previous row's
// pixel, the first row fills[c]) or earlier; v moved one lane later in
// natural order, the first lane taking a's last, or earlier, the last lane
// taking b's first (32-bit lanes by one align, no index to load).
template <typename P>
vec<P> tile_previous(vec<P> v, const P (&fills)[LANES<P>], int c)
{
    return permute(v, INDEX<P>.previous[c], vec<P>{_mm512_load_si512(fills)});
}
template <typename P>
vec<P> tile_next(vec<P> v, const P (&fills)[LANES<P>], int c)
{
    return permute(v, INDEX<P>.next[c], vec<P>{_mm512_load_si512(fills)});
}
template <typename P>
vec<P> from_previous(vec<P> a, vec<P> v)
{
    if constexpr (WORDS<P>)
        return permute(v, INDEX<P>.later, a);
    else
        return {_mm512_alignr_epi32(v.v, a.v, LANES<P> - 1)};
}
template <typename P>
vec<P> from_next(vec<P> v, vec<P> b)
{
    if constexpr (WORDS<P>)
        return permute(v, INDEX<P>.earlier, b);
    else
        return {_mm512_alignr_epi32(b.v, v.v, 1)};
}

// a and b interleaved lane by lane (a0 b0 a1 b1 ... in the lanes' order),
// in two vectors.
template <bool TILE, typename P>
void zip(vec<P> a, vec<P> b, vec<P>& first, vec<P>& second)
{
    if constexpr (TILE) {
        first = zip_lo(a, b), second = zip_hi(a, b);
    } else {
        first = permute(a, INDEX<P>.zip_first, b), second = permute(a, INDEX<P>.zip_second, b);
    }
}

// The second half of a's lanes, then the first half of b's: 256-bit halves.
template <typename P>
vec<P> join_halves(vec<P> a, vec<P> b) { return {_mm512_shuffle_i64x2(a.v, b.v, 0x4E)}; }

// Each lane's four quarter codes, looked up by its pattern (in the lane's low
// byte) in the four 256-byte tables, straight from memory: holding them in
// registers would crowd out the walk's own vectors. The other bytes of a lane
// come out as junk (the entry for index 0); every use of a code tests bits of
// its low byte only.
// The tables' bytes, taken by address alone: no library function is
// instantiated here, to be merged with one built for another processor.
template <typename P>
const std::uint8_t* code_tables() { return reinterpret_cast<const std::uint8_t*>(&VECTOR_CODES); }
static_assert(sizeof VECTOR_CODES == 4 * 256);

// A lane's pattern, ready for its codes' lookups (code_of). The empty asm
// hides the tables' address from the optimiser at each pixel vector, so that
// it reads the 16 parts from memory as above instead of hoisting some of them
// out of the walk's loops into registers, which then spills the walk's own
// vectors and constants (noise was the slower for it).
template <typename P>
struct code_source {
    const std::uint8_t* t;
    vec<P> pattern;
    __mmask64 high;
};
template <typename P>
code_source<P> codes(const std::uint8_t* t, vec<P> pattern)
{
    asm("" : "+r"(t));
    return {t, pattern, _mm512_movepi8_mask(pattern.v)};
}
template <typename P>
vec<P> code_of(const code_source<P>& s, int q)
{
    const auto part = [&s, q](int i) { return _mm512_loadu_si512(s.t + 256 * q + 64 * i); };
    return {_mm512_mask_blend_epi8(s.high, _mm512_permutex2var_epi8(part(0), s.pattern.v, part(1)),
                                   _mm512_permutex2var_epi8(part(2), s.pattern.v, part(3)))};
}


// The kernel's traits (operations.h). Streaming blended blocks is where
// the family table (targets.cpp) says nothing of this processor.
constexpr int REGISTERS = 32;
constexpr bool BRANCH_ON_ANY = true;
constexpr bool STREAM_BLENDED = true;
constexpr bool LOOK_AHEAD = true;

#include "scaler/kernels/operations.h"
} // namespace lq2x::detail::avx512
