// AVX-512's operations held to their meaning (checks.h), built with its flags.
#include "scaler/kernels/ops_avx512.h"
#include "operations/report.h"
// GCC 12 takes the self-initialised "undefined" vector of its shuffle
// intrinsics for an uninitialised one, once inlined into these loops.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace lq2x::detail::avx512 {
constexpr int ISA_REGISTERS = 32; // zmm0-zmm31
#include "operations/checks.h"
} // namespace lq2x::detail::avx512

operations_report check_avx512(const char* kernel, unsigned char* edge)
{
    return lq2x::detail::avx512::check_operations(kernel, edge);
}
