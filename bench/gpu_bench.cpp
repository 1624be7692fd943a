// Time per 256 x 224 frame (a game console's screen) through the GPU host,
// beside the library on the processor, for the same frames. The GPU time is
// one whole call: upload, the passes, and the read-back into memory; on a
// machine without a GPU it is Mesa's software rasteriser (llvmpipe) running
// on the same processor, and says nothing of a real GPU. Each result is
// checked against the library's before anything is timed.
//
//     build/release/lq2x_gpu_bench [repeats]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "content.h"
#include <lq2x/lq2x_gpu.h>
#include <lq2x/pixel8888.h>

namespace {

constexpr int WIDTH = 256, HEIGHT = 224;

// The median time of `body` in microseconds, by the wall clock and by the
// processor time of every thread of the process (llvmpipe draws on threads
// of its own), which other programs on a shared machine do not inflate.
struct timing {
    double wall_us, cpu_us;
};

template <typename Body>
timing median_us(int repeats, Body body)
{
    const auto cpu_now = [] {
        timespec t{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return double(t.tv_sec) * 1e6 + double(t.tv_nsec) * 1e-3;
    };
    std::vector<double> wall, cpu;
    for (int i = 0; i < repeats; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const double cpu_start = cpu_now();
        body();
        cpu.push_back(cpu_now() - cpu_start);
        wall.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    const auto median = [repeats](std::vector<double>& t) {
        std::nth_element(t.begin(), t.begin() + repeats / 2, t.end());
        return t[std::size_t(repeats / 2)];
    };
    return {median(wall), median(cpu)};
}

struct row {
    const char* what;
    timing cpu, gpu;
};

// The library: its frame call at 2x, its whole-picture call at 4x and 8x.
template <typename P>
void by_library(const std::vector<P>& src, std::vector<P>& out, int scale)
{
    out.resize(std::size_t(scale) * scale * WIDTH * HEIGHT);
    lq2x_options o = lq2x_default_options();
    o.scale = scale;
    const ptrdiff_t sp = WIDTH * ptrdiff_t(sizeof(P)), dp = scale * sp;
    if (scale == 2) {
        if constexpr (sizeof(P) == 2)
            lq2x_scale565(src.data(), WIDTH, HEIGHT, sp, out.data(), 2 * WIDTH, 2 * HEIGHT, dp, &o);
        else
            lq2x_scale8888(src.data(), WIDTH, HEIGHT, sp, out.data(), 2 * WIDTH, 2 * HEIGHT, dp, &o);
        return;
    }
    const int layout = sizeof(P) == 2 ? LQ2X_LAYOUT_RGB565 : LQ2X_LAYOUT_RGBA;
    const lq2x_picture in{const_cast<P*>(src.data()), WIDTH, HEIGHT, sp, layout};
    const lq2x_picture to{out.data(), scale * WIDTH, scale * HEIGHT, dp, layout};
    lq2x_scale_picture(&in, &to, &o);
}

template <typename P>
lq2x_gpu_status by_gpu(lq2x_gpu* g, const std::vector<P>& src, std::vector<P>& out, int scale)
{
    out.resize(std::size_t(scale) * scale * WIDTH * HEIGHT);
    lq2x_options o = lq2x_default_options();
    o.scale = scale;
    const ptrdiff_t sp = WIDTH * ptrdiff_t(sizeof(P)), dp = scale * sp;
    if constexpr (sizeof(P) == 2)
        return lq2x_gpu_scale565(g, src.data(), WIDTH, HEIGHT, sp, out.data(), scale * WIDTH, scale * HEIGHT, dp, &o);
    else
        return lq2x_gpu_scale8888(g, src.data(), WIDTH, HEIGHT, sp, out.data(), scale * WIDTH, scale * HEIGHT, dp, &o);
}

template <typename P>
bool measure(lq2x_gpu* g, const std::vector<P>& src, int scale, int repeats, const char* what, std::vector<row>& rows)
{
    std::vector<P> cpu, gpu;
    by_library(src, cpu, scale);
    const lq2x_gpu_status s = by_gpu(g, src, gpu, scale);
    if (s != LQ2X_GPU_OK || gpu != cpu) {
        std::fprintf(stderr, "gpu_bench: %s: %s\n", what, s != LQ2X_GPU_OK ? lq2x_gpu_describe(s) : "results differ");
        return false;
    }
    const timing cpu_us = median_us(repeats, [&] { by_library(src, cpu, scale); });
    const timing gpu_us = median_us(repeats, [&] { by_gpu(g, src, gpu, scale); });
    rows.push_back({what, cpu_us, gpu_us});
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 51;
    lq2x_gpu* g = nullptr;
    if (const lq2x_gpu_status s = lq2x_gpu_create(LQ2X_GPU_GLES3, &g); s != LQ2X_GPU_OK) {
        std::fprintf(stderr, "gpu_bench: %s\n", lq2x_gpu_describe(s));
        return 1;
    }
    const std::vector<pixel565> art565 = make_frame(content::pixel_art, WIDTH, HEIGHT);
    std::vector<lq2x::pixel8888> art8888(art565.size());
    for (std::size_t i = 0; i < art565.size(); ++i) {
        const auto c = lq2x::rgb565_to_888(art565[i]);
        art8888[i] = lq2x::pixel8888(c[0] | c[1] << 8 | c[2] << 16 | 0xFFu << 24);
    }
    std::vector<row> rows;
    const bool ok = measure(g, art565, 2, repeats, "RGB565, 2x", rows) &&
                    measure(g, art8888, 2, repeats, "32-bit, 2x", rows) &&
                    measure(g, art8888, 4, repeats, "32-bit, 4x (2 passes)", rows) &&
                    measure(g, art8888, 8, std::max(1, repeats / 4), "32-bit, 8x (3 passes)", rows);
    std::printf("256 x 224 pixel art, median of %d; GPU host on: %s\n\n", repeats, lq2x_gpu_renderer(g));
    std::printf("| frame | library, 1 thread: wall | processor | GPU host (upload, passes, read-back): wall | "
                "processor, all threads |\n|---|---:|---:|---:|---:|\n");
    for (const row& r : rows)
        std::printf("| %s | %.0f us | %.0f us | %.0f us | %.0f us |\n", r.what, r.cpu.wall_us, r.cpu.cpu_us,
                    r.gpu.wall_us, r.gpu.cpu_us);
    lq2x_gpu_destroy(g);
    return ok ? 0 : 1;
}
