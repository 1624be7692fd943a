#include "kernels.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#if defined(__aarch64__) && defined(__linux__)
#include <asm/hwcap.h>
#include <sys/auxv.h>
#endif

namespace kernels {

bool listed(const char* list, std::string_view name)
{
    std::string_view rest = list != nullptr ? list : "";
    while (!rest.empty()) {
        const std::size_t comma = rest.find(',');
        if (rest.substr(0, comma) == name)
            return true;
        rest = comma == rest.npos ? std::string_view{} : rest.substr(comma + 1);
    }
    return false;
}

std::vector<lq2x::kernel> of_processor()
{
    std::vector<lq2x::kernel> have{lq2x::kernel::portable};
#if defined(__x86_64__)
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line) && line.rfind("flags", 0) != 0) {
    }
    std::istringstream words(line);
    const std::vector<std::string> flags{std::istream_iterator<std::string>(words), {}};
    const auto has = [&](const char* f) { return std::find(flags.begin(), flags.end(), f) != flags.end(); };
    if (has("sse4_1"))
        have.push_back(lq2x::kernel::sse41);
    if (has("avx2"))
        have.push_back(lq2x::kernel::avx2);
    if (has("avx512f") && has("avx512bw") && has("avx512vl") && has("avx512vbmi"))
        have.push_back(lq2x::kernel::avx512);
#elif defined(__aarch64__) && defined(__linux__)
    if (getauxval(AT_HWCAP) & HWCAP_ASIMD)
        have.push_back(lq2x::kernel::neon);
#elif defined(__EMSCRIPTEN__)
    have.push_back(lq2x::kernel::simd128); // the module would not have loaded without it
#endif
    return have;
}

bool runs(lq2x::kernel k)
{
    lq2x::kernel used{};
    return lq2x::kernel_in_use({.use = k}, used) == lq2x::error::none && used == k;
}

} // namespace kernels
