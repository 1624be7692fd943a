// SSE4.1's operations held to their meaning (checks.h), built with its flags.
#include "scaler/kernels/ops_sse41.h"
#include "operations/report.h"

namespace lq2x::detail::sse41 {
constexpr int ISA_REGISTERS = 16; // xmm0-xmm15
#include "operations/checks.h"
} // namespace lq2x::detail::sse41

operations_report check_sse41(const char* kernel, unsigned char* edge)
{
    return lq2x::detail::sse41::check_operations(kernel, edge);
}
