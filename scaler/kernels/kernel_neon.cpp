// The frame walk with NEON: the plan over its operations (ops_neon.h).
// Every AArch64 processor has it, so there it is always there to choose.
#include "scaler/kernels/ops_neon.h"
#include "scaler/kernels/targets.h"

namespace lq2x::detail::neon {
#include "scaler/kernels/plan/plan.h"
} // namespace lq2x::detail::neon

namespace lq2x::detail {
extern const target NEON_TARGET{kernel::neon, [] { return true; }, neon::walk_frame<pixel565>,
                                neon::walk_frame<pixel8888>, neon::hides_colour,
    neon::STREAM_BLENDED};
} // namespace lq2x::detail
