// SIMD128's operations held to their meaning (checks.h), built with its flags.
#include "scaler/kernels/ops_simd128.h"
#include "operations/report.h"

namespace lq2x::detail::simd128 {
constexpr int ISA_REGISTERS = 16; // none named: the engine maps vectors onto its host's, xmm0-xmm15 on most
#include "operations/checks.h"
} // namespace lq2x::detail::simd128

operations_report check_simd128(const char* kernel, unsigned char* edge)
{
    return lq2x::detail::simd128::check_operations(kernel, edge);
}
