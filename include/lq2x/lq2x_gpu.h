/*
 * lq2x_gpu: the LQ2x rule on the GPU, through OpenGL ES 3.0 or desktop
 * OpenGL 3.3 in a headless EGL context of its own. Valid C99 and C++.
 *
 * It gives the same bits as lq2x_scale565 and lq2x_scale8888 (the shader
 * works on integer textures only). It needs EGL with Mesa's surfaceless
 * platform, which a machine without a GPU has through the llvmpipe software
 * rasteriser.
 *
 *     lq2x_gpu* gpu;
 *     lq2x_gpu_status s = lq2x_gpu_create(LQ2X_GPU_GLES3, &gpu);
 *     lq2x_options opt = lq2x_default_options();
 *     opt.scale = 4;
 *     if (s == LQ2X_GPU_OK)
 *         s = lq2x_gpu_scale8888(gpu, src, w, h, src_pitch, dst, 4 * w, 4 * h, dst_pitch, &opt);
 *     if (s != LQ2X_GPU_OK) fprintf(stderr, "lq2x: %s\n", lq2x_gpu_describe(s));
 *     lq2x_gpu_destroy(gpu);
 *
 * A front end with a GL context of its own takes the shaders' text from
 * lq2x_gpu_fragment_shader() and lq2x_gpu_vertex_shader() (or the installed
 * share/lq2x/shaders/) and runs the passes itself, as docs/gpu.md says.
 *
 * An lq2x_gpu is used by one thread at a time; each call makes its context
 * current on the calling thread. It prints nothing and never exits.
 */
#ifndef LQ2X_GPU_H
#define LQ2X_GPU_H

#include <stddef.h>
#include <stdint.h>

#include <lq2x/lq2x.h>

#ifdef __cplusplus
extern "C" {
#endif

/* What a call returned. Below 64 they are the library's own lq2x_status
 * codes, for frames and options that the library refuses too. */
typedef enum lq2x_gpu_status {
    LQ2X_GPU_OK = 0,
    LQ2X_GPU_ERROR_NO_DISPLAY = 64,   /* EGL has no surfaceless display here (Mesa's EGL driver missing?) */
    LQ2X_GPU_ERROR_NO_CONTEXT = 65,   /* the display gave no context of the OpenGL version asked for */
    LQ2X_GPU_ERROR_SHADER = 66,       /* the driver did not compile or link the shaders */
    LQ2X_GPU_ERROR_TEXTURE_SIZE = 67, /* the scaled frame is larger than the driver's largest texture */
    LQ2X_GPU_ERROR_DRIVER = 68,       /* the driver reported an error while scaling */
    LQ2X_GPU_ERROR_NULL = 69          /* no lq2x_gpu, or nowhere to put one */
} lq2x_gpu_status;

/* Which OpenGL the context is: ES 3.0 (which the shaders are written in), or
 * desktop 3.3 core, given the same shaders with "#version 330 core" as
 * their first line; and which shader runs: lq2x.frag on integer textures,
 * or (_FLOAT) lq2x_float.frag on normalized ones (RGBA8, an RGB565 frame as
 * GL_RGB565), as front ends' shader chains run it. The results are the same. */
typedef enum lq2x_gpu_api {
    LQ2X_GPU_GLES3 = 0,
    LQ2X_GPU_GL33 = 1,
    LQ2X_GPU_GLES3_FLOAT = 2,
    LQ2X_GPU_GL33_FLOAT = 3
} lq2x_gpu_api;

typedef struct lq2x_gpu lq2x_gpu;

/* Opens the EGL display, makes a context and builds the program. On an error
 * *gpu is NULL. */
LQ2X_API lq2x_gpu_status lq2x_gpu_create(lq2x_gpu_api api, lq2x_gpu** gpu);
/* Frees the context and everything it holds; NULL does nothing. The EGL
 * display stays initialized until the process ends: EGL has one per process,
 * which other code in it may share. */
LQ2X_API void lq2x_gpu_destroy(lq2x_gpu* gpu);

/* The driver's name for itself (GL_RENDERER), such as "llvmpipe (LLVM 15.0.6,
 * 256 bits)"; lives as long as gpu. */
LQ2X_API const char* lq2x_gpu_renderer(const lq2x_gpu* gpu);

/* Scales src (width x height) by options->scale (2, 4 or 8; NULL options:
 * the defaults, 2x) into the top-left of dst, which is at least
 * lq2x_picture_size; the rest of dst is left alone. The same bits as
 * lq2x_scale565 and lq2x_scale8888 give, pass by pass as lq2x_pass_options
 * plans them (for 32-bit pixels every bit counts, alpha 0 or not, as in the
 * frame functions; lq2x_gpu_scale_rgba below reads them as pictures).
 * threads, kernel and band_pixels change nothing here; rgb565 is refused.
 * Every argument is checked before anything is written. The frame's
 * textures are kept for the next call of the same size. */
LQ2X_API lq2x_gpu_status lq2x_gpu_scale565(lq2x_gpu* gpu, const uint16_t* src, int32_t width, int32_t height,
                                           ptrdiff_t src_pitch, uint16_t* dst, int32_t dst_width,
                                           int32_t dst_height, ptrdiff_t dst_pitch, const lq2x_options* options);
LQ2X_API lq2x_gpu_status lq2x_gpu_scale8888(lq2x_gpu* gpu, const uint32_t* src, int32_t width, int32_t height,
                                            ptrdiff_t src_pitch, uint32_t* dst, int32_t dst_width,
                                            int32_t dst_height, ptrdiff_t dst_pitch, const lq2x_options* options);
/* The same for RGBA pixels (bytes R, G, B, A in memory) read as
 * lq2x_scale_picture reads an RGBA picture: a pixel whose alpha is 0 counts
 * as all zero, whatever its colour, so the result is lq2x_scale_picture's for
 * the same pixels and options. (The shader's u_hidden on the first pass.) */
LQ2X_API lq2x_gpu_status lq2x_gpu_scale_rgba(lq2x_gpu* gpu, const uint32_t* src, int32_t width, int32_t height,
                                             ptrdiff_t src_pitch, uint32_t* dst, int32_t dst_width,
                                             int32_t dst_height, ptrdiff_t dst_pitch, const lq2x_options* options);

/* The shaders' text, as installed in share/lq2x/shaders/: GLSL ES 3.00, first
 * line "#version 300 es". */
LQ2X_API const char* lq2x_gpu_fragment_shader(void);
LQ2X_API const char* lq2x_gpu_vertex_shader(void);

/* One line of English for a status; never NULL. */
LQ2X_API const char* lq2x_gpu_describe(lq2x_gpu_status status);

#ifdef __cplusplus
}
#endif

#endif
