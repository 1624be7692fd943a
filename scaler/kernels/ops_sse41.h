// The operations (operations.h) with SSE4.1: 8 RGB565 or 4 32-bit pixels a
// vector, for x86-64 processors without AVX2. SSE4.1 rather than SSSE3
// because every quarter selects lanes (pblendvb) and asks whether any lane
// needs a blend (ptest), and codes go into lanes one by one (pinsrd):
// without SSE4.1 each takes three or more instructions. Every x86-64
// processor since 2008 has it.
#pragma once

#include <smmintrin.h>

#include <concepts>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "scaler/rule/codes.h"

namespace lq2x::detail::sse41 {
constexpr int WIDTH = 16;
#include "scaler/kernels/ops_generic.h"

template <typename P>
vec<P> select(mask<P> m, vec<P> clear, vec<P> set)
{
    return {raw<P>(_mm_blendv_epi8(__m128i(clear.v), __m128i(set.v), __m128i(m.m)))};
}
template <typename P>
bool any(mask<P> m) { return !_mm_testz_si128(__m128i(m.m), __m128i(m.m)); }
template <typename P>
bool all(mask<P> m) { return _mm_movemask_epi8(__m128i(m.m)) == 0xFFFF; }
template <typename P, typename E>
void fetch_codes(const std::uint32_t* t, vec<P> pattern, E& entries) { fetch_by_lane(t, pattern, entries); }

template <typename P>
void stream(P* p, vec<P> v) { _mm_stream_si128(reinterpret_cast<__m128i*>(p), __m128i(v.v)); }
inline void stream_fence() { _mm_sfence(); }

// The kernel's traits (operations.h). Four 32-bit lanes agree too seldom
// for a branch on any() to pay; see plan/rule.h.
constexpr int REGISTERS = 16;
constexpr bool BRANCH_ON_ANY = false;
constexpr bool STREAM_BLENDED = false;
constexpr bool LOOK_AHEAD = false;

#include "scaler/kernels/operations.h"
} // namespace lq2x::detail::sse41
