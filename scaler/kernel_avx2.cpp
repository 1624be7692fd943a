// The frame walk with AVX2: 16 RGB565 or 8 32-bit pixels at a time, for
// x86-64 processors without AVX-512. Built with AVX2 enabled for this file
// alone; lq2x_frame calls it only when the processor has it.
#include "kernels.h"

#if defined(__x86_64__)

#include "ops_avx2.h"

namespace lq2x_detail::avx2 {
#include "plan.h"
} // namespace lq2x_detail::avx2

namespace lq2x_detail {
bool avx2_available() { return __builtin_cpu_supports("avx2"); }
void frame_avx2(const frame_args<pixel565>& f) { avx2::frame(f); }
void frame_avx2(const frame_args<pixel8888>& f) { avx2::frame(f); }
} // namespace lq2x_detail

#else

namespace lq2x_detail {
bool avx2_available() { return false; }
void frame_avx2(const frame_args<pixel565>&) {}
void frame_avx2(const frame_args<pixel8888>&) {}
} // namespace lq2x_detail

#endif
