// Every vector operation (scaler/kernels/operations.h) held to its meaning
// on each kernel named, one line each: the checks are written once
// (operations/checks.h) and built once per target with its flags
// (operations/<target>.cpp). As in the model suite (kernel_main.cpp), a
// kernel the build has and the machine lacks fails, unless
// LQ2X_ALLOWED_MISSING_KERNELS names it.
//
//     operations_test KERNEL...     (ctest names those this build has)
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <iterator>

#include <unistd.h>

#include "guarded.h"
#include "kernels.h"
#include "operations/report.h"

const char* volatile operation_running = "";

namespace {

const char* kernel_running = "";

// The targets this build has: CMake defines OPERATIONS_<kernel> for each.
constexpr std::pair<lq2x::kernel, operations_report (*)(const char*, unsigned char*)> BUILT[] = {
#ifdef OPERATIONS_sse41
    {lq2x::kernel::sse41, check_sse41},
#endif
#ifdef OPERATIONS_avx2
    {lq2x::kernel::avx2, check_avx2},
#endif
#ifdef OPERATIONS_avx512
    {lq2x::kernel::avx512, check_avx512},
#endif
#ifdef OPERATIONS_neon
    {lq2x::kernel::neon, check_neon},
#endif
#ifdef OPERATIONS_simd128
    {lq2x::kernel::simd128, check_simd128},
#endif
};

// A load or store past its lanes reaches the inaccessible page.
void on_fault(int)
{
    for (const char* s : {"operations on ", kernel_running, ": FAILED, a fault in ", (const char*)operation_running,
                          " (a load or store past its lanes?)\n"})
        if (write(2, s, std::strlen(s)) < 0)
            break;
    _exit(1);
}

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::signal(SIGSEGV, on_fault);
    std::signal(SIGBUS, on_fault);
    guarded_pixels<unsigned char> page(4096, true);
    unsigned char* const edge = page.pixels + 4096;
#ifdef __EMSCRIPTEN__
    // No inaccessible pages: what lies past the edge is marked instead, for a
    // load past its lanes to bring in and a store to change.
    std::memset(edge, 0x5A, page.page);
#endif
    const char* allowed = std::getenv("LQ2X_ALLOWED_MISSING_KERNELS");
    int failed = 0, ran = 0, missing = 0;
    for (int i = 1; i < argc; ++i) {
        const char* name = kernel_running = argv[i];
        const auto* built = std::find_if(std::begin(BUILT), std::end(BUILT),
                                         [name](auto& b) { return std::strcmp(lq2x::kernel_name(b.first), name) == 0; });
        if (std::strcmp(name, "portable") == 0) {
            std::printf("operations on portable: none, the portable walk has no vector operations\n");
        } else if (built == std::end(BUILT)) {
            std::printf("operations on %s: FAILED, this test has no checks built for it\n", name);
            ++failed;
        } else if (!kernels::runs(built->first)) {
            const bool ok = kernels::listed(allowed, name);
            std::printf("operations on %s: NOT RUN, this machine lacks it; %s LQ2X_ALLOWED_MISSING_KERNELS=%s\n", name,
                        ok ? "allowed by" : "a FAILURE, since it is not named in", allowed ? allowed : "");
            ++(ok ? missing : failed);
        } else {
            operations_report r = built->second(name, edge);
#ifdef __EMSCRIPTEN__
            const long changed = std::count_if(edge, edge + page.page, [](unsigned char b) { return b != 0x5A; });
            if (changed != 0 && ++r.failed)
                std::printf("FAILED on %s: stores changed %ld bytes past their lanes\n", name, changed);
#endif
            std::printf("operations on %s: %d operations, %ld checks, %ld failed\n", name, r.operations, r.checks,
                        r.failed);
            ++ran;
            failed += r.failed != 0 || r.checks == 0;
        }
    }
    return failed != 0 ? 1 : ran == 0 && missing != 0 ? 77 : 0;
}
