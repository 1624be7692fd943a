/* Calls into the C interface from a translation unit compiled as C99, so the
 * tests see what a C program sees. */
#include "c_calls.h"

lq2x_status c_scale565(const uint16_t* src, int32_t width, int32_t height, uint16_t* dst, int32_t dst_width,
                       int32_t dst_height, int32_t orientation, int32_t threads)
{
    lq2x_options opt = lq2x_default_options();
    opt.orientation = orientation;
    opt.threads = threads;
    return lq2x_scale565(src, width, height, (ptrdiff_t)width * 2, dst, dst_width, dst_height,
                         (ptrdiff_t)dst_width * 2, &opt);
}

lq2x_status c_scale8888(const uint32_t* src, int32_t width, int32_t height, uint32_t* dst, int32_t dst_width,
                        int32_t dst_height, int32_t orientation, int32_t threads)
{
    lq2x_options opt = lq2x_default_options();
    opt.orientation = orientation;
    opt.threads = threads;
    return lq2x_scale8888(src, width, height, (ptrdiff_t)width * 4, dst, dst_width, dst_height,
                          (ptrdiff_t)dst_width * 4, &opt);
}

lq2x_status c_scale8888_rows(const uint32_t* src, int32_t width, int32_t height, uint32_t* dst, int32_t dst_width,
                             int32_t dst_height, int32_t y0, int32_t y1, int32_t orientation)
{
    lq2x_options opt = lq2x_default_options();
    opt.orientation = orientation;
    return lq2x_scale8888_rows(src, width, height, (ptrdiff_t)width * 4, dst, dst_width, dst_height,
                               (ptrdiff_t)dst_width * 4, y0, y1, &opt);
}

lq2x_status c_scale8888_tiled(const uint32_t* src, int32_t width, int32_t height, uint32_t* dst, int32_t edge_x,
                              int32_t edge_y, int32_t tile_width, int32_t tile_height, int32_t margin,
                              int32_t spacing)
{
    lq2x_options opt = lq2x_default_options();
    opt.edge_x = edge_x;
    opt.edge_y = edge_y;
    opt.tile_width = tile_width;
    opt.tile_height = tile_height;
    opt.tile_margin = margin;
    opt.tile_spacing = spacing;
    return lq2x_scale8888(src, width, height, (ptrdiff_t)width * 4, dst, 2 * width, 2 * height,
                          (ptrdiff_t)width * 8, &opt);
}
