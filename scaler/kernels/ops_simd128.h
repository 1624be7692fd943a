// The operations (operations.h) with WebAssembly's 128-bit SIMD: 8 RGB565 or
// 4 32-bit pixels a vector, as on SSE4.1 and NEON.
#pragma once

#include <wasm_simd128.h>

#include <concepts>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "scaler/rule/codes.h"

namespace lq2x::detail::simd128 {
constexpr int WIDTH = 16;
#include "scaler/kernels/ops_generic.h"

template <typename P>
vec<P> select(mask<P> m, vec<P> clear, vec<P> set)
{
    return {raw<P>(wasm_v128_bitselect(v128_t(set.v), v128_t(clear.v), v128_t(m.m)))};
}
template <typename P>
bool any(mask<P> m) { return wasm_v128_any_true(v128_t(m.m)); }
// A mask's lanes are all ones or all zeros, so every byte is set exactly
// when every lane is.
template <typename P>
bool all(mask<P> m) { return wasm_i8x16_all_true(v128_t(m.m)); }
template <typename P, typename E>
void fetch_codes(const std::uint32_t* t, vec<P> pattern, E& entries) { fetch_by_lane(t, pattern, entries); }

// WebAssembly has no store past the caches: an ordinary store.
template <typename P>
void stream(P* p, vec<P> v) { store(p, v, LANES<P>); }
inline void stream_fence() {}

// The kernel's traits (operations.h). As SSE4.1: the engine maps the
// vectors onto 128-bit registers; there is no store past the caches.
constexpr int REGISTERS = 16;
constexpr bool BRANCH_ON_ANY = false;
constexpr bool STREAM_BLENDED = false;
constexpr bool LOOK_AHEAD = false;

#include "scaler/kernels/operations.h"
} // namespace lq2x::detail::simd128
