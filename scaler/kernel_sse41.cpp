// The frame walk with SSE4.1: 8 RGB565 or 4 32-bit pixels at a time, for
// x86-64 processors without AVX2. Built with SSE4.1 enabled for this file
// alone; lq2x_frame calls it only when the processor has it.
#include "kernels.h"

#if defined(__x86_64__)

#include "ops_sse41.h"

namespace lq2x_detail::sse41 {
#include "plan.h"
} // namespace lq2x_detail::sse41

namespace lq2x_detail {
bool sse41_available() { return __builtin_cpu_supports("sse4.1"); }
void frame_sse41(const frame_args<pixel565>& f) { sse41::frame(f); }
void frame_sse41(const frame_args<pixel8888>& f) { sse41::frame(f); }
} // namespace lq2x_detail

#else

namespace lq2x_detail {
bool sse41_available() { return false; }
void frame_sse41(const frame_args<pixel565>&) {}
void frame_sse41(const frame_args<pixel8888>&) {}
} // namespace lq2x_detail

#endif
