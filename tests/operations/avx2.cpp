// AVX2's operations held to their meaning (checks.h), built with its flags.
#include "scaler/kernels/ops_avx2.h"
#include "operations/report.h"

namespace lq2x::detail::avx2 {
constexpr int ISA_REGISTERS = 16; // ymm0-ymm15
#include "operations/checks.h"
} // namespace lq2x::detail::avx2

operations_report check_avx2(const char* kernel, unsigned char* edge)
{
    return lq2x::detail::avx2::check_operations(kernel, edge);
}
