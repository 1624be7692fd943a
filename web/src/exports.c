/* What the page calls in the WebAssembly module: the C interface's 32-bit
 * scaler with its options passed as plain numbers, so that the script never
 * restates the layout of lq2x_options. The script owns every buffer (it takes
 * them with the exported malloc and gives them back with free). */
#include <emscripten.h>

#include <lq2x/lq2x.h>

EMSCRIPTEN_KEEPALIVE lq2x_status lq2x_web_scale(const uint32_t* src, int32_t width, int32_t height, uint32_t* dst,
                                                int32_t dst_width, int32_t dst_height, int32_t orientation,
                                                int32_t edge_x, int32_t edge_y, int32_t tile_width,
                                                int32_t tile_height, int32_t tile_margin, int32_t tile_spacing)
{
    lq2x_options o = lq2x_default_options();
    o.orientation = orientation;
    o.edge_x = edge_x;
    o.edge_y = edge_y;
    o.tile_width = tile_width;
    o.tile_height = tile_height;
    o.tile_margin = tile_margin;
    o.tile_spacing = tile_spacing;
    return lq2x_scale8888(src, width, height, (ptrdiff_t)width * 4, dst, dst_width, dst_height,
                          (ptrdiff_t)dst_width * 4, &o);
}

EMSCRIPTEN_KEEPALIVE const char* lq2x_web_describe(int32_t status) { return lq2x_describe((lq2x_status)status); }
