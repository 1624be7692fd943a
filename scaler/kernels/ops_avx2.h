// The operations (operations.h) with AVX2: 16 RGB565 or 8 32-bit pixels a
// vector, for x86-64 processors without AVX-512; a lane's four quarter codes
// come in one gather.
#pragma once

#include <immintrin.h>

#include <concepts>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "scaler/rule/codes.h"

namespace lq2x::detail::avx2 {
constexpr int WIDTH = 32;
#include "scaler/kernels/ops_generic.h"

template <typename P>
vec<P> select(mask<P> m, vec<P> clear, vec<P> set)
{
    return {raw<P>(_mm256_blendv_epi8(__m256i(clear.v), __m256i(set.v), __m256i(m.m)))};
}
template <typename P>
bool any(mask<P> m) { return !_mm256_testz_si256(__m256i(m.m), __m256i(m.m)); }
template <typename P>
bool all(mask<P> m) { return _mm256_movemask_epi8(__m256i(m.m)) == -1; }

template <typename P, typename E>
void fetch_codes(const std::uint32_t* t, vec<P> pattern, E& entries)
{
    const auto gather = [t](__m256i i) { return raw<std::uint32_t>(_mm256_i32gather_epi32((const int*)t, i, 4)); };
    const __m256i p = __m256i(pattern.v);
    if constexpr (sizeof(P) == 2) {
        entries[0] = gather(_mm256_cvtepu16_epi32(_mm256_castsi256_si128(p)));
        entries[1] = gather(_mm256_cvtepu16_epi32(_mm256_extracti128_si256(p, 1)));
    } else {
        entries[0] = gather(p);
    }
}

template <typename P>
void stream(P* p, vec<P> v) { _mm256_stream_si256(reinterpret_cast<__m256i*>(p), __m256i(v.v)); }
inline void stream_fence() { _mm_sfence(); }

// The kernel's traits (operations.h). Sixteen registers cannot hold two
// columns' state, so the turned walk does not look ahead.
constexpr int REGISTERS = 16;
constexpr bool BRANCH_ON_ANY = true;
constexpr bool STREAM_BLENDED = false;
constexpr bool LOOK_AHEAD = false;

#include "scaler/kernels/operations.h"
} // namespace lq2x::detail::avx2
