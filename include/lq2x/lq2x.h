/*
 * lq2x: the C interface. Valid C99 and C++.
 *
 * Scales a frame of RGB565 or 32-bit pixels 2x with the LQ2x rule, upright or
 * turned a quarter-turn in the same pass. The library works on frames in
 * memory that the caller owns; it keeps no state between calls, prints
 * nothing and allocates nothing (threads aside).
 *
 *     lq2x_options opt = lq2x_default_options();
 *     opt.orientation = LQ2X_CCW;
 *     lq2x_status s = lq2x_scale565(src, w, h, src_pitch, dst, 2 * h, 2 * w, dst_pitch, &opt);
 *     if (s != LQ2X_OK) fprintf(stderr, "lq2x: %s\n", lq2x_describe(s));
 *
 * Frames: `height` rows of `width` pixels, each row `pitch` bytes after the
 * one before (a whole number of pixels, at least one row, at most 2^31 - 1).
 * Every argument is checked before anything is written; on an error nothing
 * is.
 */
#ifndef LQ2X_H
#define LQ2X_H

#include <stddef.h>
#include <stdint.h>

#include <lq2x/version.h>

/* What the shared library exports: its build hides everything else. */
#if defined(__GNUC__)
#define LQ2X_API __attribute__((visibility("default")))
#else
#define LQ2X_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* What a call returned. Codes only ever grow; their values stay. */
typedef enum lq2x_status {
    LQ2X_OK = 0,
    LQ2X_ERROR_BAD_SIZE = 1,         /* a negative width or height, or an output too large to address */
    LQ2X_ERROR_NULL_PIXELS = 2,      /* no pixels for a frame that is not empty */
    LQ2X_ERROR_BAD_PITCH = 3,        /* not a whole number of pixels, shorter than a row, or 2^31 bytes or more */
    LQ2X_ERROR_OUTPUT_TOO_SMALL = 4, /* the output frame is smaller than the scaled frame */
    LQ2X_ERROR_OVERLAP = 5,          /* the source and the output share memory */
    LQ2X_ERROR_BAD_OPTIONS = 6,      /* an unknown orientation or edge mode, or an options size it cannot read */
    LQ2X_ERROR_BAD_ROWS = 7,         /* a row range outside the frame */
    LQ2X_ERROR_BAD_GRID = 8          /* a tile grid with a cell size below 1, or a negative margin or spacing */
} lq2x_status;

/* Where the scaled frame goes. Source pixel (x, y) of a width x height frame
 * becomes the 2x2 output block whose top-left pixel is at
 *   LQ2X_UPRIGHT: column 2x,              row 2y            (2*width x 2*height out)
 *   LQ2X_CCW:     column 2y,              row 2(width-1-x)  (2*height x 2*width out)
 *   LQ2X_CW:      column 2(height-1-y),   row 2x            (2*height x 2*width out) */
typedef enum lq2x_orientation { LQ2X_UPRIGHT = 0, LQ2X_CCW = 1, LQ2X_CW = 2 } lq2x_orientation;

/* What a frame's border pixels see beyond it, on one axis:
 *   LQ2X_EDGE_CLAMP:       the nearest pixel of the frame (the default)
 *   LQ2X_EDGE_WRAP:        the opposite border's pixels, as in a seamless texture
 *   LQ2X_EDGE_TRANSPARENT: the all-zero pixel (transparent black for 32-bit
 *                          pixels, black for RGB565) */
typedef enum lq2x_edge { LQ2X_EDGE_CLAMP = 0, LQ2X_EDGE_WRAP = 1, LQ2X_EDGE_TRANSPARENT = 2 } lq2x_edge;

/* How to scale. Start from lq2x_default_options(), which sets `size`; later
 * versions add fields at the end, and `size` tells the library how much of
 * the struct its caller knows. */
typedef struct lq2x_options {
    uint32_t size;        /* sizeof(lq2x_options) of the caller's header */
    int32_t orientation;  /* an lq2x_orientation; default LQ2X_UPRIGHT */
    int32_t threads;      /* bands of rows scaled at once; 0 or less: one per hardware thread; default 1 */
    int32_t edge_x;       /* an lq2x_edge for the left and right borders; default LQ2X_EDGE_CLAMP */
    int32_t edge_y;       /* an lq2x_edge for the top and bottom borders; default LQ2X_EDGE_CLAMP */
    /* A tile grid, as tileset editors describe sprite sheets: cells of
     * tile_width x tile_height pixels, the first tile_margin pixels from the
     * left and top, tile_spacing pixels apart. Each cell is scaled as a frame
     * of its own, with the edge modes at its borders, and its blocks land
     * where the whole image's placement puts them; margin and spacing pixels
     * belong to no cell and each becomes a 2x2 block of itself; cells cut
     * short by the image's right or bottom border are scaled as smaller
     * cells. A margin past the image leaves no cell: every pixel is doubled.
     * tile_width = tile_height = 0 (the default): no grid, the whole image is
     * one frame, and margin and spacing must be 0. Anything else with a size
     * below 1, or a negative margin or spacing, is LQ2X_ERROR_BAD_GRID. Row
     * ranges and threads split cells anywhere and give the same bits. */
    int32_t tile_width;
    int32_t tile_height;
    int32_t tile_margin;
    int32_t tile_spacing;
} lq2x_options;

LQ2X_API lq2x_options lq2x_default_options(void);

/* Scales src (width x height) into the top-left of dst (dst_width x
 * dst_height, at least the scaled size); the rest of dst is left alone.
 * `options` may be NULL for the defaults. An empty source writes nothing.
 * 32-bit pixels are four 8-bit channels in any order, alpha included: every
 * channel is treated alike, and two pixels are equal only when all 32 bits
 * are. */
LQ2X_API lq2x_status lq2x_scale565(const uint16_t* src, int32_t width, int32_t height, ptrdiff_t src_pitch,
                                   uint16_t* dst, int32_t dst_width, int32_t dst_height, ptrdiff_t dst_pitch,
                                   const lq2x_options* options);
LQ2X_API lq2x_status lq2x_scale8888(const uint32_t* src, int32_t width, int32_t height, ptrdiff_t src_pitch,
                                    uint32_t* dst, int32_t dst_width, int32_t dst_height, ptrdiff_t dst_pitch,
                                    const lq2x_options* options);

/* The same for source rows [y0, y1) only: writes their blocks and nothing
 * else, reading the rows around them as neighbours. Calls for disjoint ranges
 * may run at once on the caller's own threads; together they write exactly
 * what one whole-frame call writes. 0 <= y0 <= y1 <= height. */
LQ2X_API lq2x_status lq2x_scale565_rows(const uint16_t* src, int32_t width, int32_t height, ptrdiff_t src_pitch,
                                        uint16_t* dst, int32_t dst_width, int32_t dst_height, ptrdiff_t dst_pitch,
                                        int32_t y0, int32_t y1, const lq2x_options* options);
LQ2X_API lq2x_status lq2x_scale8888_rows(const uint32_t* src, int32_t width, int32_t height, ptrdiff_t src_pitch,
                                         uint32_t* dst, int32_t dst_width, int32_t dst_height, ptrdiff_t dst_pitch,
                                         int32_t y0, int32_t y1, const lq2x_options* options);

/* One line of English for a status; never NULL. */
LQ2X_API const char* lq2x_describe(lq2x_status status);

/* The library's version at run time, as LQ2X_VERSION and LQ2X_VERSION_STRING
 * give it at compile time. */
LQ2X_API uint32_t lq2x_version(void);
LQ2X_API const char* lq2x_version_string(void);

#ifdef __cplusplus
}
#endif

#endif
