// main() of the suites that run once per kernel: ctest sets LQ2X_KERNEL to
// each kernel's name in turn, which makes every call's automatic choice that
// kernel. A kernel this machine or build cannot run fails its run, unless
// LQ2X_ALLOWED_MISSING_KERNELS names it: then the run says so and is
// skipped (77), which ctest lists among the tests that did not run.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "kernels.h"

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    const char* chosen = std::getenv("LQ2X_KERNEL");
    if (chosen != nullptr && *chosen != '\0') {
        const char* allowed = std::getenv("LQ2X_ALLOWED_MISSING_KERNELS");
        lq2x::kernel k{};
        if (lq2x::kernel_in_use({}, k) != lq2x::error::none) {
            const bool ok = kernels::listed(allowed, chosen);
            std::printf("\n*** kernel %s NOT RUN: this machine or build lacks it; %s LQ2X_ALLOWED_MISSING_KERNELS=%s\n\n",
                        chosen, ok ? "allowed by" : "a FAILURE, since it is not named in", allowed ? allowed : "");
            return ok ? 77 : 1;
        }
        std::printf("kernel: %s\n", lq2x::kernel_name(k));
    }
    return RUN_ALL_TESTS();
}
