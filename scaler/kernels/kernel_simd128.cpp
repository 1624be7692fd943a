// The frame walk with WebAssembly's 128-bit SIMD: the plan over its
// operations (ops_simd128.h). An engine validates the whole module before it
// runs any of it, so where this runs at all it has SIMD128: the target is
// always there.
#include "scaler/kernels/ops_simd128.h"
#include "scaler/kernels/targets.h"

namespace lq2x::detail::simd128 {
#include "scaler/kernels/plan/plan.h"
} // namespace lq2x::detail::simd128

namespace lq2x::detail {
extern const target SIMD128_TARGET{kernel::simd128, [] { return true; }, simd128::walk_frame<pixel565>,
                                   simd128::walk_frame<pixel8888>, simd128::hides_colour,
    simd128::STREAM_BLENDED};
} // namespace lq2x::detail
