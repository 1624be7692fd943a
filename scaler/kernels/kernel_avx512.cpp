// The frame walk with AVX-512 (F, BW, VL and VBMI): the plan over its
// operations (ops_avx512.h). Built with those instruction sets enabled for this file
// alone; chosen at run time on processors that have all four.
#if !defined(__clang__)
// GCC 12 takes the "undefined" source operand inside some AVX-512
// intrinsics for an uninitialised variable. The plan is compiled with these
// warnings on for every other target.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "scaler/kernels/ops_avx512.h"
#include "scaler/kernels/targets.h"

namespace lq2x::detail::avx512 {
#include "scaler/kernels/plan/plan.h"
} // namespace lq2x::detail::avx512

namespace lq2x::detail {
extern const target AVX512_TARGET{kernel::avx512,
    [] {
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi");
    },
    avx512::walk_frame<pixel565>, avx512::walk_frame<pixel8888>, avx512::hides_colour,
    avx512::STREAM_BLENDED};
} // namespace lq2x::detail
