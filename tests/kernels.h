// The kernels as the tests see them: through the public options and the
// environment variables of lq2x_kernel, apart from the library's own table.
#pragma once

#include <string_view>
#include <vector>

#include <lq2x/lq2x.hpp>

namespace kernels {

inline constexpr lq2x::kernel ALL[] = {lq2x::kernel::portable, lq2x::kernel::sse41, lq2x::kernel::avx2,
                                       lq2x::kernel::avx512,   lq2x::kernel::neon,  lq2x::kernel::simd128};

// Whether a comma-separated list (null: empty) names `name`.
bool listed(const char* list, std::string_view name);

// The kernels this processor has, as the system reports its instruction
// sets, portable first and the best last.
std::vector<lq2x::kernel> of_processor();

// Whether the library runs kernel k here (options.kernel = k).
bool runs(lq2x::kernel k);

} // namespace kernels
