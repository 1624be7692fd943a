// The frame walk with AVX-512 (F, BW, VL and VBMI): 32 RGB565 or 16 32-bit
// pixels at a time. Built with those instruction sets enabled for this file
// alone; lq2x_frame calls it only when the processor has them.
#if defined(__x86_64__) && !defined(__clang__)
// GCC 12 takes the "undefined" source operand inside some AVX-512
// intrinsics for an uninitialised variable. The plan is compiled with these
// warnings on for every other target.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "kernels.h"

#if defined(__x86_64__)

#include "ops_avx512.h"

namespace lq2x::detail::avx512 {
#include "plan.h"
} // namespace lq2x::detail::avx512

namespace lq2x::detail {
bool avx512_available()
{
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi");
}
void frame_avx512(const frame_args<pixel565>& f) { avx512::frame(f); }
void frame_avx512(const frame_args<pixel8888>& f) { avx512::frame(f); }
} // namespace lq2x::detail

#else

namespace lq2x::detail {
bool avx512_available() { return false; }
void frame_avx512(const frame_args<pixel565>&) {}
void frame_avx512(const frame_args<pixel8888>&) {}
} // namespace lq2x::detail

#endif
