/*
 * lq2x files: whole image files read, scaled and written, in memory or on
 * disk, exactly as the lq2x tool does. PNG (animated too), GIF, WebP, PGM,
 * PPM and PAM, and raw 24-bit RGB, read and written; BMP, TGA, ICO/CUR and
 * PCX read. The tool, the Python package and the web page all come through
 * here, so the same bytes and options give the same bytes out of every one
 * of them, and the same words for the same mistakes. Valid C99 and C++.
 * Links liblq2x_files, which needs libpng, zlib, libdeflate, giflib, libwebp
 * and Leptonica; liblq2x needs none.
 *
 *     lq2x_options o = lq2x_default_options();
 *     o.scale = 4;
 *     lq2x_file_options f = lq2x_default_file_options();
 *     f.format = LQ2X_FORMAT_PNG;
 *     lq2x_file out;
 *     if (lq2x_scale_file(data, size, &o, &f, &out) == LQ2X_OK)
 *         fwrite(out.bytes, 1, out.size, stdout);
 *     else
 *         fprintf(stderr, "lq2x: %s\n", out.message);
 *     lq2x_file_free(&out);
 *
 * Results are allocated by the library, because their size is known only
 * once they are made, and given back with lq2x_file_free and
 * lq2x_frames_free, which take a result in any state (zeroed, failed, made).
 * Nothing is kept between calls; calls on different threads do not meet.
 */
#ifndef LQ2X_FILES_H
#define LQ2X_FILES_H

#include <stddef.h>
#include <stdint.h>

#include <lq2x/lq2x.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A file format, as an output name's extension names it. */
typedef enum lq2x_format {
    LQ2X_FORMAT_SAME = 0, /* the input's own (PGM, PPM or PAM as read; raw for raw) */
    LQ2X_FORMAT_PNG = 1,  /* still, or animated when the input is an animation */
    LQ2X_FORMAT_GIF = 2,  /* exact or refused: never quantised */
    LQ2X_FORMAT_WEBP = 3, /* lossless, still or animated */
    LQ2X_FORMAT_PPM = 4,
    LQ2X_FORMAT_PGM = 5,
    LQ2X_FORMAT_PAM = 6,
    LQ2X_FORMAT_PNM = 7,  /* PGM for grey, PPM otherwise */
    LQ2X_FORMAT_RAW = 8,  /* 24-bit RGB, no header */
    /* Read, never written: a result read from one of these goes out as PNG
     * unless `format` names another. */
    LQ2X_FORMAT_BMP = 9,  /* Windows and OS/2 bitmaps: 1 to 32 bits, palette or true colour, RLE, alpha */
    LQ2X_FORMAT_TGA = 10, /* Truevision TGA: palette, true colour or grey, RLE, either row order, alpha */
    LQ2X_FORMAT_ICO = 11, /* icons and cursors (ICO, CUR): the largest image, or file_options->frame's */
    LQ2X_FORMAT_PCX = 12  /* PCX: 1 to 8 bits a plane, palette or true colour */
} lq2x_format;

/* How GIF output holds frames that carry more than a GIF can: refused (the
 * default), or made to fit when the file options ask for it. */
typedef enum lq2x_gif_palette {
    LQ2X_GIF_PALETTE_SHARED = 0,   /* with gif_colours: one palette for every frame */
    LQ2X_GIF_PALETTE_PER_FRAME = 1 /* with gif_colours: each frame a palette of its own */
} lq2x_gif_palette;

/* What to read and write. Start from lq2x_default_file_options(), which sets
 * `size`; later versions add fields at the end, as lq2x_options does. */
typedef struct lq2x_file_options {
    uint32_t size;        /* sizeof(lq2x_file_options) of the caller's header */
    int32_t format;       /* the output's lq2x_format; default LQ2X_FORMAT_SAME */
    int64_t frame;        /* -1 (the default): every frame; N: frame N of an animation alone, as a still */
    int32_t png_level;    /* deflate level of PNG output, 0 to 12; default 6 */
    int32_t raw_width;    /* > 0 with raw_height: the input is raw 24-bit RGB of this size (raw has no header) */
    int32_t raw_height;
    /* Added in 0.4. GIF output that is not exact, each asked for by name and
     * warned of in the result's message ("not exact: ..."); 0 (the default):
     * a result a GIF cannot hold exactly is refused (LQ2X_ERROR_CANNOT_WRITE). */
    int32_t gif_alpha;    /* 1 to 255: pixels whose alpha is below this become transparent, the rest opaque */
    int32_t gif_colours;  /* 2 to 256: frames of more colours reduced to at most this many */
    int32_t gif_palette;  /* an lq2x_gif_palette, for gif_colours; default LQ2X_GIF_PALETTE_SHARED */
    int32_t door;         /* whose words the messages are in (an lq2x_door); default LQ2X_DOOR_C */
    int32_t keep_existing; /* nonzero: lq2x_scale_path keeps an output that exists (LQ2X_ERROR_OUTPUT_EXISTS) */
    /* Limits beside options->max_pixels (see lq2x_file_limits); 0 (the default): what it allows. */
    uint64_t max_input_bytes; /* the most bytes an input may hold */
    uint64_t max_frames;      /* the most frames an animation may have */
} lq2x_file_options;

LQ2X_API lq2x_file_options lq2x_default_file_options(void);

/* A file the library made. On failure `bytes` is NULL and `message` says
 * why in one line, as the tool prints it ("truncated data", "not a PNG, GIF,
 * WebP, PPM, PGM or PAM image", ...); on success `message` is empty, or a
 * warning in one line that the tool prints as well: what the result could
 * not keep, such as a delay past GIF's 655.35 s written as the nearest it
 * holds, or an animated PNG whose broken animation was read as its still. */
typedef struct lq2x_file {
    uint8_t* bytes;
    size_t size;
    char message[320];
} lq2x_file;

/* The picture or animation a file holds, every frame whole and composited as
 * a viewer shows it. */
typedef struct lq2x_frames {
    int32_t width;            /* of every frame */
    int32_t height;
    int32_t count;            /* frames */
    int32_t layout;           /* what the file's pixels carried: an lq2x_layout, never RGB565 */
    int32_t animated;         /* read from an animation (of any number of frames) */
    uint32_t loops;           /* times the animation plays; 0: without end */
    uint8_t* pixels;          /* count frames of height rows of width RGBA pixels, 4 bytes each, packed */
    uint32_t* delays;         /* count pairs: each frame's time on screen, numerator then
                               * denominator, in seconds (GIF hundredths, WebP thousandths) */
    char message[320];        /* on failure, why; on success empty, or a warning (as lq2x_file's) */
} lq2x_frames;

/* The limits a file is read under, all stated here:
 *   max_pixels       the result's pixels, all frames together: options->max_pixels
 *                    (LQ2X_DEFAULT_MAX_PIXELS by default; 0, or more than
 *                    LQ2X_MOST_PIXELS: LQ2X_MOST_PIXELS); a picture whose header
 *                    says more is refused before its pixels are read, whatever
 *                    its format, and no side may pass LQ2X_MAX_SIDE;
 *   max_input_bytes  the most bytes an input may hold: file_options->max_input_bytes,
 *                    or the most an image within max_pixels can take stored as
 *                    loosely as its format allows (raw: exactly its size);
 *   max_frames       the most frames: file_options->max_frames, or as many
 *                    one-pixel frames as max_pixels allows (each frame counts 64
 *                    pixels more than its own). */
typedef struct lq2x_limits {
    uint64_t max_pixels;
    uint64_t max_input_bytes;
    uint64_t max_frames;
} lq2x_limits;

/* The limits under `options` and `file_options` (NULL: the defaults), for a
 * caller that reads an input itself and would bound it as the library does. */
LQ2X_API lq2x_status lq2x_file_limits(const lq2x_options* options, const lq2x_file_options* file_options,
                                      lq2x_limits* out);

/* Reads `data` (a whole file, `size` bytes), scales every frame (or
 * file_options->frame alone) with `options` (NULL: the defaults) and writes
 * the result in file_options->format (NULL: the defaults) into *out, which
 * need not be initialised (and must not be NULL: LQ2X_ERROR_NULL_OUTPUT).
 * Within the limits of lq2x_file_limits. The result's layout is
 * lq2x_picture_layout's for what the file carried.
 * Statuses: LQ2X_OK; LQ2X_ERROR_BAD_FILE (the input is no image the library
 * reads, or no whole one); LQ2X_ERROR_CANNOT_WRITE (the result cannot be
 * written in the format asked); LQ2X_ERROR_TOO_LARGE; LQ2X_ERROR_NO_MEMORY;
 * and the option statuses of lq2x_scale_picture (LQ2X_ERROR_NO_CELL when the
 * grid leaves no cell in the picture; LQ2X_ERROR_BAD_OPTIONS also for a
 * frame the file does not have). out->message says why in every case. */
LQ2X_API lq2x_status lq2x_scale_file(const uint8_t* data, size_t size, const lq2x_options* options,
                                     const lq2x_file_options* file_options, lq2x_file* out);

/* Reads a whole file into *out without scaling it; the pixel limit is
 * options->max_pixels divided by the square of options->scale, as for
 * lq2x_scale_file. file_options->frame picks one frame. */
LQ2X_API lq2x_status lq2x_read_file(const uint8_t* data, size_t size, const lq2x_options* options,
                                    const lq2x_file_options* file_options, lq2x_frames* out);

/* Writes frames (as lq2x_read_file gives them) in `format`, as lq2x_scale_file
 * would write them once scaled. A layout that is not an 8-bit lq2x_layout
 * is refused (LQ2X_ERROR_BAD_LAYOUT). */
LQ2X_API lq2x_status lq2x_write_file(const lq2x_frames* frames, const lq2x_file_options* file_options,
                                     lq2x_file* out);

LQ2X_API void lq2x_file_free(lq2x_file* file);
LQ2X_API void lq2x_frames_free(lq2x_frames* frames);

/* The format a file's first bytes say it is (LQ2X_FORMAT_SAME when none),
 * and the format an output name's extension asks for (LQ2X_FORMAT_SAME when
 * none): what the tool uses to choose. */
LQ2X_API int32_t lq2x_format_of_bytes(const uint8_t* data, size_t size);
LQ2X_API int32_t lq2x_format_of_name(const char* name);
/* A format's name, as the tool's --format takes it ("png", "gif", ...); NULL
 * for anything else. */
LQ2X_API const char* lq2x_format_name(int32_t format);
/* Nonzero for a format the library writes (the read-only ones, and
 * LQ2X_FORMAT_SAME, are not); and the format a result read from `input` is
 * written in when none is asked for: its own, or PNG for a format the
 * library only reads (LQ2X_FORMAT_SAME for none). */
LQ2X_API int32_t lq2x_format_writes(int32_t format);
LQ2X_API int32_t lq2x_format_written_for(int32_t input);
/* For a door that offers a way out when a result is refused as one `format`
 * cannot hold (LQ2X_ERROR_CANNOT_WRITE): the lossless format that holds it,
 * an animation as one. PNG (animated for an animation) for GIF, which holds
 * no partial alpha and at most 256 colours, and for PGM, which holds no
 * colour; `format` itself for the others it writes; LQ2X_FORMAT_SAME for
 * one it does not write. */
LQ2X_API int32_t lq2x_format_lossless_for(int32_t format);
/* Sets the GIF settings of *file_options that make any result fit a GIF,
 * for a door that offers "a GIF all the same", which is then not exact and
 * says so in its warning: alpha cut at its middle (128), more than 256
 * colours reduced to 256, one palette for all frames. */
LQ2X_API void lq2x_gif_fit_any(lq2x_file_options* file_options);

/* Sets one file setting from its text, as lq2x_set_option does for the
 * scaling options: "format" (a format's name, or "same"), "frame" (-1 or
 * more), "png_level", "raw_size" ("WxH"), "gif_alpha", "gif_colours",
 * "gif_palette" ("shared", "per-frame"), "keep_existing" ("0", "1"),
 * "max_input_bytes", "max_frames", "door" (0 to 5). */
LQ2X_API lq2x_status lq2x_set_file_option(lq2x_file_options* file_options, const char* name, const char* text,
                                          int32_t door, char* message, size_t size);

/* ---- Files on disk.
 * Every door that reads or writes a file on disk comes through here, so the
 * same rules hold wherever a file is named: an input is read whole but never
 * past the limits (a regular file's size is checked unread; a pipe or
 * device is refused as soon as it passes them, and no further bytes are
 * taken); a file's first bytes must be an image the library reads before
 * the rest is read. An output is made beside its place, as a file of no
 * name where the file system allows, and put there in one step once whole:
 * a reader never sees it partly written, and a failure, a full disk, a
 * file-size limit or a signal leaves the old file as it was and nothing
 * beside it. An existing file keeps its permission bits; a FIFO or device
 * is written to as it is; a folder is refused. The output is never the
 * input itself or a link to it (LQ2X_ERROR_SAME_FILE). A path of NULL is
 * the standard input or output. Not in WebAssembly builds. */

/* What a call on files on disk came to. */
typedef struct lq2x_report {
    int32_t output;     /* on failure: nonzero when the message is about the output, not the input */
    uint64_t bytes_in;  /* bytes read */
    uint64_t bytes_out; /* bytes written */
    char message[320];  /* on failure, why (in file_options->door's words); on success empty, or a warning */
} lq2x_report;

/* Scales the file at `input` into the file at `output`, as lq2x_scale_file
 * scales its bytes. The output's format is file_options->format, else the
 * one the output's name asks for (lq2x_format_of_name), else the input's own
 * (PNG for an input the library only reads). Statuses: those of
 * lq2x_scale_file, and LQ2X_ERROR_CANNOT_READ, LQ2X_ERROR_CANNOT_SAVE,
 * LQ2X_ERROR_SAME_FILE, LQ2X_ERROR_OUTPUT_EXISTS (with keep_existing). */
LQ2X_API lq2x_status lq2x_scale_path(const char* input, const char* output, const lq2x_options* options,
                                     const lq2x_file_options* file_options, lq2x_report* report);

/* The bytes of the input at `path`, read under the limits as lq2x_scale_path
 * reads them, into out->bytes (given back with lq2x_file_free). */
LQ2X_API lq2x_status lq2x_read_input(const char* path, const lq2x_options* options,
                                     const lq2x_file_options* file_options, lq2x_file* out);

/* A stream of raw frames of file_options->raw_width x raw_height pixels in
 * `layout` (16-bit words little-endian), back to back until `input` ends,
 * each scaled and written to `output` as soon as it is done, in the same
 * layout. A stream that ends inside a frame keeps the whole frames before
 * it and is refused (LQ2X_ERROR_BAD_FILE). */
LQ2X_API lq2x_status lq2x_scale_stream(const char* input, const char* output, int32_t layout,
                                       const lq2x_options* options, const lq2x_file_options* file_options,
                                       lq2x_report* report);

/* The device and inode that make a file itself, whatever path or link names
 * it (NULL: standard input's, when a regular file): for a program that
 * writes many files and will not write over any of its inputs. Nonzero when
 * the file is there. */
LQ2X_API int32_t lq2x_file_identity(const char* path, uint64_t identity[2]);

/* For a program that writes many inputs into one folder, as the tool's
 * `-o DIR` does, so that every door names them alike. The output of an
 * input whose path below what names it is `relative` (its file name when
 * named itself; its place below a folder walked, whose tree is kept under
 * out_dir): out_dir, relative's folders, its stem, `suffix` (NULL: none),
 * and the extension of the format written (file_options->format, else the
 * one relative's extension says, PNG for a format only read; a name that
 * says none keeps its own). Written into `out` (`size` bytes, ended by a
 * NUL) when it fits; returns the length of the whole path without the NUL
 * (ask again with more room when it is `size` or more), 0 for a NULL name
 * or options it cannot read. */
LQ2X_API size_t lq2x_batch_output(const char* relative, const char* out_dir, const char* suffix,
                                  const lq2x_file_options* file_options, char* out, size_t size);
/* Nonzero for a file met in a folder walked that a batch scales: one whose
 * name says a format the library reads (raw only with a raw size set). */
LQ2X_API int32_t lq2x_batch_takes(const char* name, const lq2x_file_options* file_options);

/* For a program (never a library), first thing: closed standard streams are
 * opened on /dev/null so that no file takes their place (and are refused
 * where asked for); writes past a file-size limit or to a pipe whose reader
 * has gone fail as any other (SIGXFSZ, SIGPIPE ignored); and SIGINT, SIGTERM
 * and SIGHUP (unless ignored already) remove the temporary files the library
 * has named and end the process by the same signal. Call before any other
 * thread starts. Returns 1 when standard input was closed, 2 when standard
 * output was, 3 for both. */
LQ2X_API int32_t lq2x_begin_program(void);

#ifdef __cplusplus
}
#endif

#endif
