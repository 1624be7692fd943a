/* The native side of the page's scaling-step comparison: times
 * lq2x_scale_picture on one thread, on the same RGBA frame the browser test
 * scales in WebAssembly, and writes the result for the test to compare.
 *
 *     scale_time FRAME.rgba WIDTH HEIGHT RUNS RESULT.rgba
 * prints each run's milliseconds on one line. */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <lq2x/lq2x.h>

int main(int argc, char** argv)
{
    if (argc != 6)
        return 2;
    const int width = atoi(argv[2]), height = atoi(argv[3]), runs = atoi(argv[4]);
    const size_t bytes = (size_t)width * height * 4;
    unsigned char* src = malloc(bytes);
    unsigned char* dst = malloc(bytes * 4);
    FILE* in = fopen(argv[1], "rb");
    if (!src || !dst || !in || fread(src, 1, bytes, in) != bytes)
        return 1;
    fclose(in);
    lq2x_options o = lq2x_default_options(); /* one thread, 2x, the fastest kernel here */
    const lq2x_picture s = {src, width, height, (ptrdiff_t)width * 4, LQ2X_LAYOUT_RGBA};
    const lq2x_picture d = {dst, 2 * width, 2 * height, (ptrdiff_t)width * 8, LQ2X_LAYOUT_RGBA};
    for (int i = 0; i < runs; ++i) {
        struct timespec t0, t1;
        clock_gettime(CLOCK_MONOTONIC, &t0);
        const lq2x_status status = lq2x_scale_picture(&s, &d, &o);
        clock_gettime(CLOCK_MONOTONIC, &t1);
        if (status != LQ2X_OK) {
            fprintf(stderr, "%s\n", lq2x_describe(status));
            return 1;
        }
        printf("%s%.3f", i ? " " : "", (t1.tv_sec - t0.tv_sec) * 1e3 + (t1.tv_nsec - t0.tv_nsec) / 1e6);
    }
    printf("\n");
    FILE* out = fopen(argv[5], "wb");
    if (!out || fwrite(dst, 1, bytes * 4, out) != bytes * 4 || fclose(out) != 0)
        return 1;
    return 0;
}
