/* Helpers compiled as C (c_calls.c) that the C++ tests call. */
#ifndef C_CALLS_H
#define C_CALLS_H

#include <lq2x/lq2x.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Packed frames, default options but for orientation and threads. */
lq2x_status c_scale565(const uint16_t* src, int32_t width, int32_t height, uint16_t* dst, int32_t dst_width,
                       int32_t dst_height, int32_t orientation, int32_t threads);
lq2x_status c_scale8888(const uint32_t* src, int32_t width, int32_t height, uint32_t* dst, int32_t dst_width,
                        int32_t dst_height, int32_t orientation, int32_t threads);
lq2x_status c_scale8888_rows(const uint32_t* src, int32_t width, int32_t height, uint32_t* dst, int32_t dst_width,
                             int32_t dst_height, int32_t y0, int32_t y1, int32_t orientation);
/* Packed 32-bit frames upright, with edge modes and a tile grid. */
lq2x_status c_scale8888_tiled(const uint32_t* src, int32_t width, int32_t height, uint32_t* dst, int32_t edge_x,
                              int32_t edge_y, int32_t tile_width, int32_t tile_height, int32_t margin,
                              int32_t spacing);

#ifdef __cplusplus
}
#endif

#endif
