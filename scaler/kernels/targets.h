// Internal: the implementations of the frame walk, one per target, and the
// one table of them. Each kernel_<target>.cpp defines its entry; a target
// that cannot be built for this processor family is neither compiled nor in
// the table.
#pragma once

#include <lq2x/lq2x.hpp>

#include "scaler/kernels/frame_args.h"

namespace lq2x::detail {

template <typename P>
using frame_walk = void (*)(const frame_args<P>&);

struct target {
    kernel id;
    bool (*available)(); // whether this processor runs it
    frame_walk<pixel565> walk565;
    frame_walk<pixel8888> walk8888;
    // Whether any pixel of the rows (width pixels each, pitch bytes apart)
    // has colour under alpha 0, which the walk must then be told to hide.
    bool (*hides_colour)(const pixel8888* first, std::ptrdiff_t pitch, int width, int height);
    // The kernel's trait STREAM_BLENDED (operations.h), where the family
    // table has no entry for this processor.
    bool stream_blended;
};

template <typename P>
frame_walk<P> walk_of(const target& t)
{
    if constexpr (sizeof(P) == 2)
        return t.walk565;
    else
        return t.walk8888;
}

extern const target PORTABLE_TARGET;
// The portable walk over one source row, given its three rows: each pixel's
// block at dst0 and dst1 for the first, `step` bytes further on for each
// later one, as a counter-clockwise turn places them (lq2x_row).
void portable_row(pixel565* dst0, pixel565* dst1, std::ptrdiff_t step, const pixel565* above, const pixel565* row,
                  const pixel565* below, int count);
#if defined(__x86_64__)
extern const target SSE41_TARGET, AVX2_TARGET, AVX512_TARGET;
#elif defined(__aarch64__)
extern const target NEON_TARGET;
#elif defined(__wasm__)
extern const target SIMD128_TARGET;
#endif

// The target a kernel choice names, or null where this build or processor
// lacks it. LQ2X_KERNEL_AUTO is the first of the table's targets that this
// processor runs, fastest first, unless the environment says otherwise for
// the whole process (see lq2x_kernel): LQ2X_KERNEL=<name> makes it that
// target, and LQ2X_HIDE_KERNELS=<name>,... takes targets to be missing, as
// on a processor without them.
const target* target_for(kernel k);

// Whether target t streams blended blocks on this processor: the family
// table's entry for it and this processor's family, else its own trait;
// LQ2X_STREAM_BLENDED=0 or 1 says it for the whole process instead (a test
// hook, as LQ2X_KERNEL).
bool streams_blended(const target& t);

} // namespace lq2x::detail
