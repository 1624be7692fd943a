/* The native side of the page's scaling-step comparison: times
 * lq2x_scale_picture on one thread, on the same RGBA frame the browser test
 * scales in WebAssembly, and writes the result for the test to compare.
 *
 *     scale_time FRAME.rgba WIDTH HEIGHT RUNS RESULT.rgba
 * prints the kernel that ran, then each run's milliseconds, on one line. */
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include <lq2x/lq2x.h>
#include <lq2x/lq2x.hpp>

int main(int argc, char** argv)
{
    if (argc != 6)
        return 2;
    const int width = std::atoi(argv[2]), height = std::atoi(argv[3]), runs = std::atoi(argv[4]);
    const size_t bytes = (size_t)width * height * 4;
    auto* src = static_cast<unsigned char*>(std::malloc(bytes));
    auto* dst = static_cast<unsigned char*>(std::malloc(bytes * 4));
    std::FILE* in = std::fopen(argv[1], "rb");
    if (!src || !dst || !in || fread(src, 1, bytes, in) != bytes)
        return 1;
    fclose(in);
    lq2x_options o = lq2x_default_options(); /* one thread, 2x, the fastest kernel here */
    const lq2x_picture s = {src, width, height, std::ptrdiff_t(width) * 4, LQ2X_LAYOUT_RGBA};
    const lq2x_picture d = {dst, 2 * width, 2 * height, std::ptrdiff_t(width) * 8, LQ2X_LAYOUT_RGBA};
    std::int32_t kernel = LQ2X_KERNEL_AUTO;
    if (lq2x_kernel_in_use(&o, &kernel) != LQ2X_OK)
        return 1;
    std::printf("%s", lq2x::kernel_name(lq2x::kernel(kernel)));
    for (int i = 0; i < runs; ++i) {
        struct timespec t0, t1;
        clock_gettime(CLOCK_MONOTONIC, &t0);
        const lq2x_status status = lq2x_scale_picture(&s, &d, &o);
        clock_gettime(CLOCK_MONOTONIC, &t1);
        if (status != LQ2X_OK) {
            std::fprintf(stderr, "%s\n", lq2x_describe(status));
            return 1;
        }
        std::printf(" %.3f", double(t1.tv_sec - t0.tv_sec) * 1e3 + double(t1.tv_nsec - t0.tv_nsec) / 1e6);
    }
    std::printf("\n");
    std::FILE* out = std::fopen(argv[5], "wb");
    if (!out || fwrite(dst, 1, bytes * 4, out) != bytes * 4 || fclose(out) != 0)
        return 1;
    return 0;
}
