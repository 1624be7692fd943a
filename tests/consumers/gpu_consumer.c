/* A C99 program outside the project that scales a frame with the GPU host
 * and with the library, and prints "same" when the two agree bit for bit. */
#include <stdio.h>
#include <string.h>

#include <lq2x/lq2x_gpu.h>

enum { W = 7, H = 5 };

int main(void)
{
    uint32_t src[W * H], gpu_out[4 * W * H], cpu_out[4 * W * H];
    for (int i = 0; i < W * H; ++i) /* blocks of a few colours, so the rule blends */
        src[i] = (i / 3 % 2 ? 0xff204080u : 0xffe0c0a0u) + (uint32_t)(i % W > 3);
    lq2x_gpu* gpu = NULL;
    lq2x_gpu_status s = lq2x_gpu_create(LQ2X_GPU_GLES3, &gpu);
    if (s == LQ2X_GPU_OK)
        s = lq2x_gpu_scale8888(gpu, src, W, H, W * 4, gpu_out, 2 * W, 2 * H, 2 * W * 4, NULL);
    lq2x_gpu_destroy(gpu);
    if (s != LQ2X_GPU_OK) {
        fprintf(stderr, "lq2x_gpu: %s\n", lq2x_gpu_describe(s));
        return 1;
    }
    if (lq2x_scale8888(src, W, H, W * 4, cpu_out, 2 * W, 2 * H, 2 * W * 4, NULL) != LQ2X_OK)
        return 1;
    puts(memcmp(gpu_out, cpu_out, sizeof gpu_out) == 0 ? "same" : "different");
    return 0;
}
