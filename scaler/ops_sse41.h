// plan.h's operations with SSE4.1: 8 RGB565 or 4 32-bit pixels a vector, for
// x86-64 processors without AVX2. SSE4.1 rather than SSSE3 because every
// quarter selects lanes (blendv), asks whether any lane needs a blend at all
// (ptest) and looks its codes up lane by lane (pinsrd): without them each is
// three or more instructions. Every x86-64 processor since 2008 has it.
// Masks are vectors; partial vectors at the frame's edges go through small
// buffers on the stack.
#pragma once

#include <smmintrin.h>

#include <cstdint>
#include <cstring>

#include "kernels.h"

namespace lq2x_detail::sse41 {

template <typename P>
constexpr int LANES = 16 / int(sizeof(P));
template <typename P>
constexpr bool WORDS = sizeof(P) == 2;

template <typename P>
struct vec {
    __m128i v;
};
template <typename P>
struct mask {
    __m128i m; // all ones in a lane that is set
};

template <typename P>
vec<P> splat(P x)
{
    return {WORDS<P> ? _mm_set1_epi16(short(x)) : _mm_set1_epi32(int(x))};
}

template <typename P>
mask<P> eq(vec<P> a, vec<P> b)
{
    return {WORDS<P> ? _mm_cmpeq_epi16(a.v, b.v) : _mm_cmpeq_epi32(a.v, b.v)};
}

template <typename P>
mask<P> lanes_below(int n)
{
    const __m128i lane = WORDS<P> ? _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7) : _mm_setr_epi32(0, 1, 2, 3);
    const __m128i limit = splat(P(n)).v;
    return {WORDS<P> ? _mm_cmpgt_epi16(limit, lane) : _mm_cmpgt_epi32(limit, lane)};
}

template <typename P>
vec<P> load(const P* p, int n)
{
    if (n == LANES<P>)
        return {_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))};
    alignas(16) P part[LANES<P>] = {};
    std::memcpy(part, p, sizeof(P) * unsigned(n));
    return {_mm_load_si128(reinterpret_cast<const __m128i*>(part))};
}

template <typename P>
void store(P* p, vec<P> v, int n)
{
    if (n == LANES<P>) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v.v);
        return;
    }
    alignas(16) P part[LANES<P>];
    _mm_store_si128(reinterpret_cast<__m128i*>(part), v.v);
    std::memcpy(p, part, sizeof(P) * unsigned(n));
}

template <typename P>
mask<P> has(vec<P> a, vec<P> bit) { return eq(vec<P>{_mm_and_si128(a.v, bit.v)}, bit); }
template <typename P>
mask<P> test(vec<P> a, vec<P> b)
{
    return {_mm_xor_si128(eq(vec<P>{_mm_and_si128(a.v, b.v)}, splat(P(0))).m, _mm_set1_epi8(-1))};
}

template <typename P>
vec<P> select(mask<P> m, vec<P> clear, vec<P> set) { return {_mm_blendv_epi8(clear.v, set.v, m.m)}; }
template <typename P>
bool any(mask<P> m) { return !_mm_testz_si128(m.m, m.m); }
template <typename P>
mask<P> and_(mask<P> a, mask<P> b) { return {_mm_and_si128(a.m, b.m)}; }
template <typename P>
mask<P> and_not(mask<P> a, mask<P> b) { return {_mm_andnot_si128(b.m, a.m)}; }
template <typename P>
vec<P> or_where(vec<P> acc, mask<P> m, vec<P> bits) { return {_mm_or_si128(acc.v, _mm_and_si128(m.m, bits.v))}; }
template <typename P>
vec<P> xor_(vec<P> a, vec<P> b) { return {_mm_xor_si128(a.v, b.v)}; }

template <typename P>
bool flat(const vec<P> (&n)[9])
{
    __m128i same = eq(n[0], n[4]).m;
    for (int i = 1; i < 9; ++i)
        same = _mm_and_si128(same, eq(n[i], n[4]).m);
    return _mm_movemask_epi8(same) == 0xFFFF;
}

// As with AVX-512: drop the low bit of each channel where the other pixel's
// is clear, then one rounding average halves every channel exactly.
template <typename P>
vec<P> average(vec<P> a, vec<P> b)
{
    const __m128i low = WORDS<P> ? _mm_set1_epi16(0x0821) : _mm_set1_epi8(1);
    const __m128i a1 = _mm_andnot_si128(_mm_andnot_si128(b.v, low), a.v);
    const __m128i b1 = _mm_andnot_si128(_mm_andnot_si128(a.v, low), b.v);
    return {WORDS<P> ? _mm_avg_epu16(a1, b1) : _mm_avg_epu8(a1, b1)};
}

template <typename P>
vec<P> zip_lo(vec<P> a, vec<P> b)
{
    return {WORDS<P> ? _mm_unpacklo_epi16(a.v, b.v) : _mm_unpacklo_epi32(a.v, b.v)};
}
template <typename P>
vec<P> zip_hi(vec<P> a, vec<P> b)
{
    return {WORDS<P> ? _mm_unpackhi_epi16(a.v, b.v) : _mm_unpackhi_epi32(a.v, b.v)};
}

// One 128-bit block a vector: tiles in natural order, nothing across blocks.
template <typename P>
constexpr int tile_row(int lane) { return lane; }
template <typename P>
void transpose_blocks(vec<P> (&)[LANES<P>]) {}

template <bool TILE, typename P>
vec<P> from_previous(vec<P> v, P fill) { return {_mm_alignr_epi8(v.v, splat(fill).v, 16 - int(sizeof(P)))}; }
template <bool TILE, typename P>
vec<P> from_next(vec<P> v, P fill) { return {_mm_alignr_epi8(splat(fill).v, v.v, int(sizeof(P)))}; }

template <bool TILE, typename P>
void zip(vec<P> a, vec<P> b, vec<P>& first, vec<P>& second)
{
    first = zip_lo(a, b), second = zip_hi(a, b);
}

template <typename P>
const std::uint32_t* code_tables() { return PACKED_CODES.entry; }

// Byte q of a lane's entry into the lane's low byte (the other bytes junk).
template <typename P>
void codes(const std::uint32_t* t, vec<P> pattern, vec<P> (&code)[4])
{
    alignas(16) P p[LANES<P>];
    _mm_store_si128(reinterpret_cast<__m128i*>(p), pattern.v);
    const __m128i low = _mm_setr_epi32(int(t[p[0]]), int(t[p[1]]), int(t[p[2]]), int(t[p[3]]));
    if constexpr (WORDS<P>) {
        const __m128i high = _mm_setr_epi32(int(t[p[4]]), int(t[p[5]]), int(t[p[6]]), int(t[p[7]]));
        for (int q = 0; q < 4; ++q) {
            const __m128i pick = _mm_setr_epi8(char(q), -1, char(4 + q), -1, char(8 + q), -1, char(12 + q), -1, -1,
                                               -1, -1, -1, -1, -1, -1, -1);
            code[q].v = _mm_unpacklo_epi64(_mm_shuffle_epi8(low, pick), _mm_shuffle_epi8(high, pick));
        }
    } else {
        code[0].v = low;
        code[1].v = _mm_srli_epi32(low, 8);
        code[2].v = _mm_srli_epi32(low, 16);
        code[3].v = _mm_srli_epi32(low, 24);
    }
}

} // namespace lq2x_detail::sse41
