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
    LQ2X_ERROR_BAD_GRID = 8,         /* a tile grid with a cell size below 1, or a negative margin or spacing */
    LQ2X_ERROR_NO_CELL = 9,          /* a tile margin that leaves no pixel of the picture in a cell */
    LQ2X_ERROR_TOO_LARGE = 10,       /* a picture whose result has more pixels than options.max_pixels */
    LQ2X_ERROR_BAD_LAYOUT = 11,      /* a picture's pixel layout that is not an lq2x_layout */
    LQ2X_ERROR_NO_KERNEL = 12,       /* a kernel this build or this processor does not have */
    LQ2X_ERROR_NO_MEMORY = 13,       /* the memory a call works in could not be had */
    LQ2X_ERROR_BAD_FILE = 14,        /* (lq2x_files.h) a file that is no image the library reads, or no whole one */
    LQ2X_ERROR_CANNOT_WRITE = 15,    /* (lq2x_files.h) a result the format asked for cannot hold */
    LQ2X_ERROR_NULL_OUTPUT = 16,     /* nowhere to put the result: a NULL pointer for it */
    LQ2X_ERROR_CANNOT_READ = 17,     /* (lq2x_files.h) an input file that cannot be opened or read */
    LQ2X_ERROR_CANNOT_SAVE = 18,     /* (lq2x_files.h) an output file that cannot be made or written */
    LQ2X_ERROR_SAME_FILE = 19,       /* (lq2x_files.h) an output that is the input file, or a link to it */
    LQ2X_ERROR_OUTPUT_EXISTS = 20    /* (lq2x_files.h) an output that exists, which the options keep */
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

/* Which implementation of the frame walk runs. Every one writes the same
 * bits; LQ2X_KERNEL_AUTO, the default, takes the fastest this processor
 * has. Naming one that this build or processor lacks is LQ2X_ERROR_NO_KERNEL,
 * never a quiet substitute.
 * For tests, two environment variables, read once per process, change that
 * for every call (their names are the lowercase ones below: "portable",
 * "sse41", "avx2", "avx512", "neon", "simd128"):
 *   LQ2X_KERNEL=<name>           LQ2X_KERNEL_AUTO means that kernel, and is
 *                                LQ2X_ERROR_NO_KERNEL where it is missing;
 *   LQ2X_HIDE_KERNELS=<name>,... those kernels are missing, as on a
 *                                processor without them. */
typedef enum lq2x_kernel {
    LQ2X_KERNEL_AUTO = 0,
    LQ2X_KERNEL_PORTABLE = 1, /* plain C++, everywhere */
    LQ2X_KERNEL_SSE41 = 2,    /* x86-64 */
    LQ2X_KERNEL_AVX2 = 3,     /* x86-64 */
    LQ2X_KERNEL_AVX512 = 4,   /* x86-64 with AVX-512 F, BW, VL and VBMI */
    LQ2X_KERNEL_NEON = 5,     /* AArch64 */
    LQ2X_KERNEL_SIMD128 = 6   /* WebAssembly with SIMD */
} lq2x_kernel;

/* How a picture's pixels lie in memory (lq2x_scale_picture). The 8-bit
 * layouts hold one byte per channel in the order named; RGB565 is one native
 * 16-bit word per pixel, red in bits 15-11. */
typedef enum lq2x_layout {
    LQ2X_LAYOUT_GREY = 1,       /* grey */
    LQ2X_LAYOUT_GREY_ALPHA = 2, /* grey, alpha */
    LQ2X_LAYOUT_RGB = 3,        /* red, green, blue */
    LQ2X_LAYOUT_RGBA = 4,       /* red, green, blue, alpha */
    LQ2X_LAYOUT_RGB565 = 5      /* a 16-bit RGB565 word */
} lq2x_layout;

/* How to scale. Start from lq2x_default_options(), which sets `size`; later
 * versions add fields at the end, and `size` tells the library how much of
 * the struct its caller knows. The library reads no more than `size` bytes;
 * fields it does not know must be zero, and a `size` above 256 is refused
 * (LQ2X_ERROR_BAD_OPTIONS) unread. */
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
     * cells. A margin that leaves no pixel of the image in a cell (as large as
     * its width or height) is LQ2X_ERROR_NO_CELL. tile_width = tile_height = 0 (the default): no grid, the whole image is
     * one frame, and margin and spacing must be 0. Anything else with a size
     * below 1, or a negative margin or spacing, is LQ2X_ERROR_BAD_GRID. Row
     * ranges and threads split cells anywhere and give the same bits. */
    int32_t tile_width;
    int32_t tile_height;
    int32_t tile_margin;
    int32_t tile_spacing;
    /* Added in 0.3. */
    int32_t scale;        /* 2, 4 or 8: the 2x rule applied once, twice or three times
                           * (lq2x_scale_picture; the frame functions make one pass and take 2 only); default 2 */
    int32_t rgb565;       /* nonzero: an 8-bit picture is scaled with the 16-bit rule, as the test bench
                           * does (low bits and alpha dropped; lq2x_scale_picture only); default 0 */
    int32_t kernel;       /* an lq2x_kernel; default LQ2X_KERNEL_AUTO */
    uint64_t max_pixels;  /* lq2x_scale_picture refuses a result of more pixels (LQ2X_ERROR_TOO_LARGE);
                           * 0: no limit. The frame functions, whose caller holds the output already,
                           * do not look at it. Default LQ2X_DEFAULT_MAX_PIXELS */
    uint64_t band_pixels; /* lq2x_scale_picture makes its passes in bands of about this many result
                           * pixels: more take more memory, fewer repeat more rows. 0 (the default):
                           * the library's choice, 2^21 */
    /* Added in 0.4. */
    int32_t alpha_hides;  /* nonzero: a 32-bit pixel whose alpha (its fourth byte in memory) is 0 is
                           * seen as all zero, whatever its colour, as lq2x_scale_picture sees its
                           * source; lq2x_pass_options sets it for the passes that see it so. RGB565
                           * frames have no alpha and ignore it. Default 0: every bit counts */
} lq2x_options;

/* The limits on a picture's result, each stated here alone:
 *   LQ2X_DEFAULT_MAX_PIXELS  options.max_pixels by default: 2^28 pixels, 1 GiB of RGBA;
 *   LQ2X_MOST_PIXELS         the highest limit a file is read under (0, no limit, and
 *                            anything higher are taken as this): 2^48;
 *   LQ2X_MAX_SIDE            the longest side a file's picture may have: 2^30. */
#define LQ2X_DEFAULT_MAX_PIXELS ((uint64_t)1 << 28)
#define LQ2X_MOST_PIXELS ((uint64_t)1 << 48)
#define LQ2X_MAX_SIDE ((int64_t)1 << 30)

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

/* A picture in memory: `height` rows of `width` pixels laid out as `layout`
 * (an lq2x_layout), each row `pitch` bytes after the one before. A source's
 * pixels are only read. */
typedef struct lq2x_picture {
    void* pixels;
    int32_t width;
    int32_t height;
    ptrdiff_t pitch;
    int32_t layout;
} lq2x_picture;

/* The size of the result of scaling a width x height picture with `options`
 * (NULL: the defaults): width and height times the scale, swapped by a turn.
 * Checks everything lq2x_scale_picture checks of the options against the
 * picture's size (the grid, the pixel limit), so a caller can refuse a
 * picture before it allocates anything. */
LQ2X_API lq2x_status lq2x_picture_size(int32_t width, int32_t height, const lq2x_options* options,
                                       int32_t* out_width, int32_t* out_height);

/* The layout a picture of `layout` comes out in under `options` (NULL: the
 * defaults), in *out_layout: its own, but
 *   - a picture without alpha gains it under a transparent edge (either
 *     axis), whose border pixels blend with the all-zero pixel: grey becomes
 *     grey and alpha, RGB becomes RGBA;
 *   - an 8-bit picture scaled with options->rgb565 comes out RGB: the 16-bit
 *     rule keeps neither grey nor alpha.
 * RGB565 stays RGB565. The files library writes its files so, and every
 * door returns pictures so. LQ2X_ERROR_BAD_LAYOUT for a layout it does not know. */
LQ2X_API lq2x_status lq2x_picture_layout(int32_t layout, const lq2x_options* options, int32_t* out_layout);

/* The passes lq2x_scale_picture makes, for callers that run them on frames
 * of their own (a GPU, say): log2(options->scale) passes of the 2x rule,
 * pass 0 first. Sets *pass_options to what a frame function needs for pass
 * `pass`: scale 2, the turn on the last pass alone (a turn commutes with the
 * rule, and on the last pass every earlier one keeps the source's axes, in
 * which the edge modes and the grid are given), the tile grid doubled once
 * for every pass before, and alpha_hides on the first pass of a picture
 * scaled as 32-bit pixels, which sees its source's colour under alpha 0 as
 * zero (later passes see their blends as they are). Only as much of
 * *pass_options is written as its `size` says. LQ2X_ERROR_BAD_OPTIONS past
 * the last pass; LQ2X_ERROR_NULL_OUTPUT for no pass_options. */
LQ2X_API lq2x_status lq2x_pass_options(const lq2x_options* options, int32_t pass, lq2x_options* pass_options);

/* Scales a whole picture 2x, 4x or 8x (options.scale) into the top-left of
 * `dst`, which may be of any layout and must hold at least
 * lq2x_picture_size; the rest of dst is left alone.
 *   - Pixels are read as RGBA (grey as R = G = B, a missing alpha as 255) and
 *     written in dst's layout (grey takes R; a missing alpha is dropped).
 *     RGB565 pictures, and 8-bit ones with options.rgb565, are scaled as
 *     RGB565 words; written to an 8-bit layout each channel goes to the top
 *     of its byte and alpha is 255.
 *   - A pixel whose alpha is 0 counts as all zero, whatever its colour: the
 *     colour nobody sees changes nothing.
 *   - 4x and 8x apply the 2x rule to its own result, with the tile grid
 *     doubled each time (each cell scaled 4x or 8x on its own) and the turn
 *     made once; the edge modes and the grid are in the source's axes and
 *     pixels. The picture goes through the passes in bands of rows, so the
 *     memory the call takes beyond src and dst stays a few MiB.
 * Every argument is checked before anything is written. */
LQ2X_API lq2x_status lq2x_scale_picture(const lq2x_picture* src, const lq2x_picture* dst, const lq2x_options* options);

/* The kernel that a frame or picture call with `options` (NULL: the
 * defaults) runs, in *kernel: never LQ2X_KERNEL_AUTO. LQ2X_ERROR_NO_KERNEL
 * where it names one this build or processor lacks. */
LQ2X_API lq2x_status lq2x_kernel_in_use(const lq2x_options* options, int32_t* kernel);

/* One line of English for a status; never NULL. */
LQ2X_API const char* lq2x_describe(lq2x_status status);

/* Who shows the library's words to a person. Each door names the settings
 * its own way, and the library's messages about a setting name it as the
 * door given them does ("--scale: wants 2, 4 or 8, not 3" for the tool,
 * "scale: ..." from C and Python, "Scale: ..." on the page, "tileMargin:
 * ..." in JavaScript). One table in the library holds every door's names. */
typedef enum lq2x_door {
    LQ2X_DOOR_C = 0,      /* the fields of lq2x_options and lq2x_file_options */
    LQ2X_DOOR_TOOL = 1,   /* the lq2x tool's options */
    LQ2X_DOOR_PYTHON = 2, /* the Python package's keywords */
    LQ2X_DOOR_PAGE = 3,   /* the web page's controls */
    LQ2X_DOOR_SCRIPT = 4, /* the npm package's options (JavaScript, camelCase) */
    LQ2X_DOOR_GIMP = 5    /* the GIMP plug-in's procedure parameters ("edge-x", "turn"); no file settings */
} lq2x_door;

/* The checks of lq2x_picture_size, with the reason for a refusal in words:
 * which setting is at fault, named as `door` names it, and what it wants
 * ("scale: wants 2, 4 or 8, not 3", "image too large: ... (--max-pixels
 * raises it)"). Writes at most `size` bytes of the line, its NUL included,
 * into `message` (which may be NULL when size is 0); "no error" when there
 * is none. */
LQ2X_API lq2x_status lq2x_picture_check(int32_t width, int32_t height, const lq2x_options* options, int32_t door,
                                        char* message, size_t size);

/* Sets one setting of *options from its text, as every door takes it from a
 * person: "orientation" ("none", "ccw", "cw"), "edge" ("clamp", "wrap",
 * "transparent", or two of them as "H,V"), "edge_x", "edge_y", "tile"
 * ("WxH"), "tile_margin", "tile_spacing", "scale", "threads", "max_pixels",
 * "band_pixels", "kernel" (a kernel's name), "rgb565" and "alpha_hides"
 * ("0" or "1"). Numbers are whole and decimal, nothing around them. A value
 * the setting cannot take is refused (LQ2X_ERROR_BAD_OPTIONS, or the
 * status a struct holding it would get), *options left as it was, with the
 * reason in `message` in the door's words, as lq2x_picture_check writes it.
 * Only fields inside options->size are set. */
LQ2X_API lq2x_status lq2x_set_option(lq2x_options* options, const char* name, const char* text, int32_t door,
                                     char* message, size_t size);

/* `text`, in which a setting is written {field} (an lq2x_options or
 * lq2x_file_options field, or one of lq2x_set_option's names), in the words
 * of `door`: each {field} as that door names it, and a part in parentheses
 * naming a setting the door has no control for left out. The library's own
 * messages are made so; a binding that adds words of its own may use it
 * too. Writes as lq2x_picture_check does; returns the length of the whole
 * line (which may be more than it wrote). */
LQ2X_API size_t lq2x_words(const char* text, int32_t door, char* message, size_t size);

/* The kinds of setting lq2x_setting_named looks among (either or both). */
typedef enum lq2x_settings_kind {
    LQ2X_SETTINGS_SCALING = 1, /* lq2x_set_option's */
    LQ2X_SETTINGS_FILE = 2     /* the files library's lq2x_set_file_option's */
} lq2x_settings_kind;

/* The setting that `door` calls `name` ("rotate" for Python, "--rotate" for
 * the tool, "gifAlpha" for JavaScript), for a door that is handed settings
 * by its own names and passes them on: writes into `setting` the name
 * lq2x_set_option or lq2x_set_file_option takes ("orientation", "gif_alpha")
 * and into *kind which of the two (LQ2X_SETTINGS_SCALING or
 * LQ2X_SETTINGS_FILE), looking only among `kinds`. A name the door has no
 * such setting of: LQ2X_ERROR_BAD_OPTIONS, and `setting` holds the refusal
 * in the door's words, listing the names it has there ("no setting named
 * 'colour' (rotate, edge, ...)"). Writes as lq2x_picture_check does. */
LQ2X_API lq2x_status lq2x_setting_named(const char* name, int32_t door, int32_t kinds, int32_t* kind, char* setting,
                                        size_t size);

/* The library's version at run time, as LQ2X_VERSION and LQ2X_VERSION_STRING
 * give it at compile time. */
LQ2X_API uint32_t lq2x_version(void);
LQ2X_API const char* lq2x_version_string(void);

#ifdef __cplusplus
}
#endif

#endif
