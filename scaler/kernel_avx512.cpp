// The frame walk with AVX-512 (F, BW, VL and VBMI): 32 RGB565 or 16 32-bit
// pixels at a time. Built with those instruction sets enabled for this file
// alone; chosen at run time on processors that have all four.
#if !defined(__clang__)
// GCC 12 takes the "undefined" source operand inside some AVX-512
// intrinsics for an uninitialised variable. The plan is compiled with these
// warnings on for every other target.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <concepts>
#include <cstdint>
#include <type_traits>

#include "ops_avx512.h"
#include "targets.h"

namespace lq2x::detail::avx512 {
#include "operations.h"
#include "plan_rule.h"
#include "plan_walk.h"
} // namespace lq2x::detail::avx512

namespace lq2x::detail {
extern const target AVX512_TARGET{kernel::avx512,
    [] {
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi");
    },
    avx512::walk_frame<pixel565>, avx512::walk_frame<pixel8888>, avx512::hides_colour};
} // namespace lq2x::detail
