// The frame walk with SSE4.1: the plan over its operations (ops_sse41.h).
// Built with SSE4.1 enabled for this file alone; chosen at run time.
#include "scaler/kernels/ops_sse41.h"
#include "scaler/kernels/targets.h"

namespace lq2x::detail::sse41 {
#include "scaler/kernels/plan/plan.h"
} // namespace lq2x::detail::sse41

namespace lq2x::detail {
extern const target SSE41_TARGET{kernel::sse41, [] { return __builtin_cpu_supports("sse4.1") != 0; },
                                 sse41::walk_frame<pixel565>, sse41::walk_frame<pixel8888>, sse41::hides_colour,
    sse41::STREAM_BLENDED};
} // namespace lq2x::detail
