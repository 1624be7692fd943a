// A program outside the project that uses the installed or embedded library.
#include <cstdio>
#include <vector>

#include "scaler/lq2x.h"

int main()
{
    // A dark diagonal line on white, 3 x 3: upright, the line's corners blend.
    const pixel8888 W = 0xFFFFFFFF, K = 0xFF000000;
    const std::vector<pixel8888> in = {K, W, W, W, K, W, W, W, K};
    std::vector<pixel8888> out(36);
    const lq2x::error e = lq2x::scale(lq2x::packed(in.data(), 3, 3), lq2x::packed(out.data(), 6, 6));
    if (e != lq2x::error::none) {
        std::fprintf(stderr, "scale failed: %s\n", lq2x::describe(e));
        return 1;
    }
    // The centre pixel's top-right quarter: T and R are white and equal, so it
    // is a blend of black and white, neither of them.
    const pixel8888 q = out[2 * 6 + 3];
    if (q == W || q == K || out[0] != K || out[35] != K) {
        std::fprintf(stderr, "unexpected pixels %08x %08x %08x\n", q, out[0], out[35]);
        return 1;
    }
    if (lq2x::scale(lq2x::packed(in.data(), 3, 3), lq2x::packed(out.data(), 5, 6)) != lq2x::error::output_too_small) {
        std::fprintf(stderr, "a too small output was not refused\n");
        return 1;
    }
    std::puts("lq2x consumer: ok");
    return 0;
}
