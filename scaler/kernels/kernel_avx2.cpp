// The frame walk with AVX2: the plan over its operations (ops_avx2.h).
// Built with AVX2 enabled for this file alone; chosen at run time.
#include "scaler/kernels/ops_avx2.h"
#include "scaler/kernels/targets.h"

namespace lq2x::detail::avx2 {
#include "scaler/kernels/plan/plan.h"
} // namespace lq2x::detail::avx2

namespace lq2x::detail {
extern const target AVX2_TARGET{kernel::avx2, [] { return __builtin_cpu_supports("avx2") != 0; },
                                avx2::walk_frame<pixel565>, avx2::walk_frame<pixel8888>, avx2::hides_colour,
    avx2::STREAM_BLENDED};
} // namespace lq2x::detail
