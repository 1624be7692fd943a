// NEON's operations held to their meaning (checks.h), built with its flags.
#include "scaler/kernels/ops_neon.h"
#include "operations/report.h"

namespace lq2x::detail::neon {
constexpr int ISA_REGISTERS = 32; // v0-v31
#include "operations/checks.h"
} // namespace lq2x::detail::neon

operations_report check_neon(const char* kernel, unsigned char* edge)
{
    return lq2x::detail::neon::check_operations(kernel, edge);
}
