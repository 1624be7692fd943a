// The operations (operations.h) with NEON: 8 RGB565 or 4 32-bit pixels a
// vector. Every AArch64 processor has it.
#pragma once

#include <arm_neon.h>

#include <concepts>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "scaler/rule/codes.h"

namespace lq2x::detail::neon {
constexpr int WIDTH = 16;
#include "scaler/kernels/ops_generic.h"

template <typename P>
vec<P> select(mask<P> m, vec<P> clear, vec<P> set)
{
    return {raw<P>(vbslq_u8(uint8x16_t(m.m), uint8x16_t(set.v), uint8x16_t(clear.v)))};
}
template <typename P>
bool any(mask<P> m) { return vmaxvq_u32(uint32x4_t(m.m)) != 0; }
template <typename P>
bool all(mask<P> m) { return vminvq_u32(uint32x4_t(m.m)) == 0xFFFFFFFF; }
template <typename P, typename E>
void fetch_codes(const std::uint32_t* t, vec<P> pattern, E& entries) { fetch_by_lane(t, pattern, entries); }

// No store past the caches for single vectors (STNP stores pairs of
// registers, and only as a hint): an ordinary store.
template <typename P>
void stream(P* p, vec<P> v) { store(p, v, LANES<P>); }
inline void stream_fence() {}

// The kernel's traits (operations.h). Four 32-bit lanes agree too seldom
// for a branch on any() to pay; there is no store past the caches to stream with.
constexpr int REGISTERS = 32;
constexpr bool BRANCH_ON_ANY = false;
constexpr bool STREAM_BLENDED = false;
constexpr bool LOOK_AHEAD = false;

#include "scaler/kernels/operations.h"
} // namespace lq2x::detail::neon
