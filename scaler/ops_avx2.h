// plan.h's operations with AVX2: 16 RGB565 or 8 32-bit pixels a vector.
// Masks are vectors, the 256-entry code lookups are gathers, and a tile's
// lanes stay in row order, so interleaving two quarters takes unpacks and a
// 128-bit swap. Partial vectors at the frame's edges go through small
// buffers on the stack.
#pragma once

#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "kernels.h"

namespace lq2x_detail::avx2 {

template <typename P>
constexpr int LANES = 32 / int(sizeof(P));
template <typename P>
constexpr bool WORDS = sizeof(P) == 2;

template <typename P>
struct vec {
    __m256i v;
};
template <typename P>
struct mask {
    __m256i m; // all ones in a lane that is set
};

template <typename P>
vec<P> splat(P x)
{
    return {WORDS<P> ? _mm256_set1_epi16(short(x)) : _mm256_set1_epi32(int(x))};
}

template <typename P>
mask<P> eq(vec<P> a, vec<P> b)
{
    return {WORDS<P> ? _mm256_cmpeq_epi16(a.v, b.v) : _mm256_cmpeq_epi32(a.v, b.v)};
}

template <typename P>
mask<P> lanes_below(int n)
{
    const __m256i lane = WORDS<P> ? _mm256_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15)
                                  : _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i limit = splat(P(n)).v;
    return {WORDS<P> ? _mm256_cmpgt_epi16(limit, lane) : _mm256_cmpgt_epi32(limit, lane)};
}

template <typename P>
vec<P> load(const P* p, int n)
{
    if (n == LANES<P>)
        return {_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))};
    alignas(32) P part[LANES<P>] = {};
    std::memcpy(part, p, sizeof(P) * unsigned(n));
    return {_mm256_load_si256(reinterpret_cast<const __m256i*>(part))};
}

template <typename P>
void store(P* p, vec<P> v, int n)
{
    if (n == LANES<P>) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v.v);
        return;
    }
    alignas(32) P part[LANES<P>];
    _mm256_store_si256(reinterpret_cast<__m256i*>(part), v.v);
    std::memcpy(p, part, sizeof(P) * unsigned(n));
}

template <typename P>
mask<P> has(vec<P> a, vec<P> bit) { return eq(vec<P>{_mm256_and_si256(a.v, bit.v)}, bit); }
template <typename P>
mask<P> test(vec<P> a, vec<P> b)
{
    return {_mm256_xor_si256(eq(vec<P>{_mm256_and_si256(a.v, b.v)}, splat(P(0))).m, _mm256_set1_epi8(-1))};
}

template <typename P>
vec<P> select(mask<P> m, vec<P> clear, vec<P> set) { return {_mm256_blendv_epi8(clear.v, set.v, m.m)}; }
template <typename P>
bool any(mask<P> m) { return !_mm256_testz_si256(m.m, m.m); }
template <typename P>
mask<P> and_(mask<P> a, mask<P> b) { return {_mm256_and_si256(a.m, b.m)}; }
template <typename P>
mask<P> and_not(mask<P> a, mask<P> b) { return {_mm256_andnot_si256(b.m, a.m)}; }
template <typename P>
vec<P> or_where(vec<P> acc, mask<P> m, vec<P> bits) { return {_mm256_or_si256(acc.v, _mm256_and_si256(m.m, bits.v))}; }
template <typename P>
vec<P> xor_(vec<P> a, vec<P> b) { return {_mm256_xor_si256(a.v, b.v)}; }

template <typename P>
bool flat(const vec<P> (&n)[9])
{
    __m256i same = eq(n[0], n[4]).m;
    for (int i = 1; i < 9; ++i)
        same = _mm256_and_si256(same, eq(n[i], n[4]).m);
    return _mm256_movemask_epi8(same) == -1;
}

// As with AVX-512: drop the low bit of each channel where the other pixel's
// is clear, then one rounding average halves every channel exactly.
template <typename P>
vec<P> average(vec<P> a, vec<P> b)
{
    const __m256i low = WORDS<P> ? _mm256_set1_epi16(0x0821) : _mm256_set1_epi8(1);
    const __m256i a1 = _mm256_andnot_si256(_mm256_andnot_si256(b.v, low), a.v);
    const __m256i b1 = _mm256_andnot_si256(_mm256_andnot_si256(a.v, low), b.v);
    return {WORDS<P> ? _mm256_avg_epu16(a1, b1) : _mm256_avg_epu8(a1, b1)};
}

template <typename P>
vec<P> zip_lo(vec<P> a, vec<P> b)
{
    return {WORDS<P> ? _mm256_unpacklo_epi16(a.v, b.v) : _mm256_unpacklo_epi32(a.v, b.v)};
}
template <typename P>
vec<P> zip_hi(vec<P> a, vec<P> b)
{
    return {WORDS<P> ? _mm256_unpackhi_epi16(a.v, b.v) : _mm256_unpackhi_epi32(a.v, b.v)};
}

template <typename P>
constexpr int tile_row(int lane) { return lane; }

// The 2 x 2 transpose of 128-bit halves that ends a tile's transpose.
template <typename P>
void transpose_blocks(vec<P> (&v)[LANES<P>])
{
    constexpr int B = LANES<P> / 2;
    for (int k = 0; k < B; ++k) {
        const __m256i a = v[k].v, b = v[B + k].v;
        v[k].v = _mm256_permute2x128_si256(a, b, 0x20);
        v[B + k].v = _mm256_permute2x128_si256(a, b, 0x31);
    }
}

// v one lane later, the first lane taking `fill`; from_next the other way.
// Tiles are in natural order, so TILE changes nothing.
template <bool TILE, typename P>
vec<P> from_previous(vec<P> v, P fill)
{
    return {_mm256_alignr_epi8(v.v, _mm256_permute2x128_si256(splat(fill).v, v.v, 0x20), 16 - int(sizeof(P)))};
}
template <bool TILE, typename P>
vec<P> from_next(vec<P> v, P fill)
{
    return {_mm256_alignr_epi8(_mm256_permute2x128_si256(v.v, splat(fill).v, 0x21), v.v, int(sizeof(P)))};
}

template <bool TILE, typename P>
void zip(vec<P> a, vec<P> b, vec<P>& first, vec<P>& second)
{
    const __m256i lo = zip_lo(a, b).v, hi = zip_hi(a, b).v;
    first.v = _mm256_permute2x128_si256(lo, hi, 0x20);
    second.v = _mm256_permute2x128_si256(lo, hi, 0x31);
}

template <typename P>
const std::uint32_t* code_tables() { return PACKED_CODES.entry; }

inline __m256i gather_codes(const std::uint32_t* table, __m256i index32)
{
    return _mm256_i32gather_epi32(reinterpret_cast<const int*>(table), index32, 4);
}

// Byte q of a lane's entry into the lane's low byte: for 32-bit lanes a
// shift; for 16-bit ones a byte shuffle of each half's four entries into the
// half's first four lanes.
template <typename P>
void codes(const std::uint32_t* table, vec<P> pattern, vec<P> (&code)[4])
{
    if constexpr (WORDS<P>) {
        const __m256i low = gather_codes(table, _mm256_cvtepu16_epi32(_mm256_castsi256_si128(pattern.v)));
        const __m256i high = gather_codes(table, _mm256_cvtepu16_epi32(_mm256_extracti128_si256(pattern.v, 1)));
        for (int q = 0; q < 4; ++q) {
            const __m256i pick = _mm256_setr_epi8(q, -1, 4 + q, -1, 8 + q, -1, 12 + q, -1, -1, -1, -1, -1, -1, -1, -1,
                                                  -1, q, -1, 4 + q, -1, 8 + q, -1, 12 + q, -1, -1, -1, -1, -1, -1, -1,
                                                  -1, -1);
            // Halves hold lanes 0-3 | 8-11 and 4-7 | 12-15; put them in order.
            const __m256i both =
                _mm256_unpacklo_epi64(_mm256_shuffle_epi8(low, pick), _mm256_shuffle_epi8(high, pick));
            code[q].v = _mm256_permute4x64_epi64(both, 0xD8);
        }
    } else {
        const __m256i entries = gather_codes(table, pattern.v);
        code[0].v = entries;
        code[1].v = _mm256_srli_epi32(entries, 8);
        code[2].v = _mm256_srli_epi32(entries, 16);
        code[3].v = _mm256_srli_epi32(entries, 24);
    }
}

} // namespace lq2x_detail::avx2
