// The frame walk with WebAssembly's 128-bit SIMD: 8 RGB565 or 4 32-bit pixels
// at a time, as on SSE4.1 and NEON. An engine validates the whole module
// before it runs any of it, so where this runs at all it has SIMD128: the
// target is always there.
#include <wasm_simd128.h>

#include <concepts>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "codes.h"
#include "targets.h"

namespace lq2x::detail::simd128 {
constexpr int WIDTH = 16;
#include "ops_generic.h"

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

#include "operations.h"
#include "plan_rule.h"
#include "plan_walk.h"
} // namespace lq2x::detail::simd128

namespace lq2x::detail {
extern const target SIMD128_TARGET{kernel::simd128, [] { return true; }, simd128::walk_frame<pixel565>,
                                   simd128::walk_frame<pixel8888>, simd128::hides_colour};
} // namespace lq2x::detail
