// The frame walk with NEON: 8 RGB565 or 4 32-bit pixels at a time. Every
// AArch64 processor has it, so there it is always the one used.
#include "kernels.h"

#if defined(__aarch64__)

#include <arm_neon.h>

#include <cstdint>
#include <cstring>
#include <utility>

namespace lq2x::detail::neon {
constexpr int WIDTH = 16;
#include "ops_vector.h"

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

#include "plan.h"
} // namespace lq2x::detail::neon

namespace lq2x::detail {
bool neon_available() { return true; }
void frame_neon(const frame_args<pixel565>& f) { neon::frame(f); }
void frame_neon(const frame_args<pixel8888>& f) { neon::frame(f); }
} // namespace lq2x::detail

#else

namespace lq2x::detail {
bool neon_available() { return false; }
void frame_neon(const frame_args<pixel565>&) {}
void frame_neon(const frame_args<pixel8888>&) {}
} // namespace lq2x::detail

#endif
