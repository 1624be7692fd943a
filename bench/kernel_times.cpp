// Each kernel this build and processor run, side by side on the benchmark's
// frames, where Google Benchmark is not to be had (WebAssembly under
// Node.js): per frame, the fastest of 7 rounds of calls, one thread. Every
// kernel's output is first checked against the portable walk's.
//
//     node build/wasm-tests/lq2x_kernel_times.js
#include <chrono>
#include <cstdio>
#include <vector>

#include <lq2x/lq2x.hpp>

#include "content.h"

namespace {

using lq2x::pixel8888;

template <typename P>
std::vector<P> frame_of(content kind, int w, int h)
{
    const std::vector<pixel565> f = make_frame(kind, w, h);
    if constexpr (sizeof(P) == 2)
        return f;
    std::vector<P> out(f.size());
    for (std::size_t i = 0; i < f.size(); ++i)
        out[i] = 0xFF000000u | (f[i] & 0xF800u) << 8 | (f[i] & 0x07E0u) << 5 | (f[i] & 0x001Fu) << 3;
    return out;
}

// Microseconds a frame with kernel k, or a negative number if its output
// differs from `want`.
template <typename P>
double time_of(lq2x::kernel k, const std::vector<P>& src, int w, int h, lq2x::orientation turn,
               const std::vector<P>& want)
{
    const lq2x::size s = lq2x::scaled_size(w, h, turn);
    std::vector<P> dst(want.size());
    const auto run = [&] {
        lq2x::scale(lq2x::packed(src.data(), w, h), lq2x::packed(dst.data(), int(s.width), int(s.height)),
                    {.turn = turn, .use = k});
    };
    run();
    if (dst != want)
        return -1;
    const int calls = std::max(1, 2'000'000 / (w * h));
    double best = 1e30;
    for (int round = 0; round < 7; ++round) {
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < calls; ++i)
            run();
        const std::chrono::duration<double, std::micro> t = std::chrono::steady_clock::now() - t0;
        best = std::min(best, t.count() / calls);
    }
    return best;
}

template <typename P>
void row(const char* name, content kind, int w, int h, lq2x::orientation turn)
{
    const std::vector<P> src = frame_of<P>(kind, w, h);
    const lq2x::size s = lq2x::scaled_size(w, h, turn);
    std::vector<P> want(std::size_t(s.width) * std::size_t(s.height));
    lq2x::scale(lq2x::packed(src.data(), w, h), lq2x::packed(want.data(), int(s.width), int(s.height)),
                {.turn = turn, .use = lq2x::kernel::portable});
    std::printf("| %s | %d x %d |", name, w, h);
    double portable = 0;
    for (const lq2x::kernel k : {lq2x::kernel::portable, lq2x::kernel::sse41, lq2x::kernel::avx2,
                                 lq2x::kernel::avx512, lq2x::kernel::neon, lq2x::kernel::simd128}) {
        lq2x::kernel used{};
        if (lq2x::kernel_in_use({.use = k}, used) != lq2x::error::none)
            continue;
        const double us = time_of(k, src, w, h, turn, want);
        if (us < 0) {
            std::printf(" %s: OUTPUT DIFFERS |", lq2x::kernel_name(k));
            continue;
        }
        portable = k == lq2x::kernel::portable ? us : portable;
        std::printf(" %s %.1f µs (%.2fx) |", lq2x::kernel_name(k), us, portable / us);
    }
    std::printf("\n");
}

} // namespace

int main()
{
    constexpr auto CCW = lq2x::orientation::ccw, UPRIGHT = lq2x::orientation::upright;
    std::printf("| case | source | per frame, fastest of 7 rounds (speed against portable) |\n|---|---|---|\n");
    for (const auto& [w, h] : {std::pair{160, 102}, std::pair{640, 480}, std::pair{1920, 1080}}) {
        row<pixel565>("RGB565 ccw, art", content::pixel_art, w, h, CCW);
        row<pixel565>("RGB565 ccw, noise", content::noise, w, h, CCW);
        row<pixel8888>("32-bit upright, art", content::pixel_art, w, h, UPRIGHT);
        row<pixel8888>("32-bit upright, noise", content::noise, w, h, UPRIGHT);
    }
}
