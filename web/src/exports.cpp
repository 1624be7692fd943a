/* What the page's worker and the npm package call in the WebAssembly
 * module: the files library's C interface, the page's options passed as
 * plain numbers and the package's as text by name, and its results read
 * through small accessors, so that the script never restates the layout of
 * a C struct. Results live in the module's memory until the script frees
 * them; the script copies out what it keeps. */
#include <emscripten.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <lq2x/lq2x.h>
#include <lq2x/lq2x.hpp>
#include <lq2x/lq2x_files.h>

#include "scaler/interface/passes.h"

extern "C" {

/* The page's choices, named as the tool's options name them. */
static lq2x_options options(int32_t scale, int32_t orientation, int32_t edge_x, int32_t edge_y, int32_t tile_width,
                            int32_t tile_height, int32_t tile_margin, int32_t tile_spacing)
{
    lq2x_options o = lq2x_default_options();
    o.scale = scale;
    o.orientation = orientation;
    o.edge_x = edge_x;
    o.edge_y = edge_y;
    o.tile_width = tile_width;
    o.tile_height = tile_height;
    o.tile_margin = tile_margin;
    o.tile_spacing = tile_spacing;
    return o;
}

/* Settings for one call: the scaling options and the file options, and
 * the words of the last refusal. The page makes them from its controls'
 * numbers (lq2x_web_page_settings); the npm package from its options by
 * name, each value as text that the library reads and refuses in the
 * package's words (lq2x_web_settings_set). */
typedef struct web_settings {
    lq2x_options options;
    lq2x_file_options file;
    int32_t kinds; /* the LQ2X_SETTINGS_ kinds the call takes */
    /* The page's default Save as: the input's format, or the library's
     * lossless one where that cannot hold the result (lq2x_format_lossless_for). */
    int32_t way_out;
    char message[320];
} web_settings;

EMSCRIPTEN_KEEPALIVE web_settings* lq2x_web_page_settings(int32_t scale, int32_t orientation, int32_t edge_x,
                                                          int32_t edge_y, int32_t tile_width, int32_t tile_height,
                                                          int32_t tile_margin, int32_t tile_spacing, int32_t format,
                                                          int32_t gif_alpha, int32_t gif_colours, int32_t gif_palette)
{
    web_settings* s = static_cast<web_settings*>(std::calloc(1, sizeof(web_settings)));
    if (s == NULL)
        return NULL;
    s->options = options(scale, orientation, edge_x, edge_y, tile_width, tile_height, tile_margin, tile_spacing);
    s->file = lq2x_default_file_options();
    s->file.format = format;
    s->file.gif_alpha = gif_alpha;
    s->file.gif_colours = gif_colours;
    s->file.gif_palette = gif_palette;
    s->file.door = LQ2X_DOOR_PAGE; // the library's words name the page's controls
    s->kinds = LQ2X_SETTINGS_SCALING | LQ2X_SETTINGS_FILE;
    s->way_out = format == LQ2X_FORMAT_SAME;
    return s;
}

/* The library's defaults, for a call that takes the settings of `kinds`
 * (LQ2X_SETTINGS_SCALING, and LQ2X_SETTINGS_FILE for a file). */
EMSCRIPTEN_KEEPALIVE web_settings* lq2x_web_script_settings(int32_t kinds)
{
    web_settings* s = static_cast<web_settings*>(std::calloc(1, sizeof(web_settings)));
    if (s == NULL)
        return NULL;
    s->options = lq2x_default_options();
    s->file = lq2x_default_file_options();
    s->file.door = LQ2X_DOOR_SCRIPT;
    s->kinds = kinds;
    return s;
}

/* One setting by the npm package's name for it, from its text: the
 * library's status, and its words in lq2x_web_settings_message. */
EMSCRIPTEN_KEEPALIVE int32_t lq2x_web_settings_set(web_settings* s, const char* name, const char* text)
{
    int32_t kind = 0;
    char setting[320];
    lq2x_status status = lq2x_setting_named(name, LQ2X_DOOR_SCRIPT, s->kinds, &kind, setting, sizeof setting);
    if (status != LQ2X_OK) {
        std::memcpy(s->message, setting, sizeof s->message);
        return status;
    }
    status = kind == LQ2X_SETTINGS_FILE
                 ? lq2x_set_file_option(&s->file, setting, text, LQ2X_DOOR_SCRIPT, s->message, sizeof s->message)
                 : lq2x_set_option(&s->options, setting, text, LQ2X_DOOR_SCRIPT, s->message, sizeof s->message);
    return status;
}

EMSCRIPTEN_KEEPALIVE const char* lq2x_web_settings_message(const web_settings* s) { return s->message; }
EMSCRIPTEN_KEEPALIVE void lq2x_web_settings_free(web_settings* s) { std::free(s); }

/* The file the tool writes for these bytes and settings; never NULL. Its
 * status is lq2x_web_file_status, and the extension of the file it is
 * (the format asked for, or the one a result read from the input is
 * written in) lq2x_web_file_extension: NULL when the bytes name no format.
 * With the page's way out, a result the input's format refuses to hold is
 * written in the library's lossless format for it instead, the file the
 * tool writes when asked for that format, and lq2x_web_file_refused is the
 * refusal it replaces (else empty). */
typedef struct web_file {
    lq2x_status status;
    lq2x_file file;
    const char* extension;
    char refused[320];
} web_file;

EMSCRIPTEN_KEEPALIVE web_file* lq2x_web_scale_file(const uint8_t* data, size_t size, const web_settings* s)
{
    web_file* r = static_cast<web_file*>(std::calloc(1, sizeof(web_file)));
    if (r == NULL)
        return NULL;
    r->status = lq2x_scale_file(data, size, &s->options, &s->file, &r->file);
    int32_t format = s->file.format;
    if (format == LQ2X_FORMAT_SAME)
        format = lq2x_format_written_for(lq2x_format_of_bytes(data, size));
    const int32_t lossless = lq2x_format_lossless_for(format);
    if (r->status == LQ2X_ERROR_CANNOT_WRITE && s->way_out != 0 && lossless != format &&
        lossless != LQ2X_FORMAT_SAME) {
        std::memcpy(r->refused, r->file.message, sizeof r->refused);
        lq2x_file_free(&r->file);
        lq2x_file_options f = s->file;
        f.format = format = lossless;
        r->status = lq2x_scale_file(data, size, &s->options, &f, &r->file);
    }
    r->extension = lq2x_format_name(format);
    return r;
}

EMSCRIPTEN_KEEPALIVE int32_t lq2x_web_file_status(const web_file* r) { return r->status; }
EMSCRIPTEN_KEEPALIVE const uint8_t* lq2x_web_file_bytes(const web_file* r) { return r->file.bytes; }
EMSCRIPTEN_KEEPALIVE size_t lq2x_web_file_size(const web_file* r) { return r->file.size; }
EMSCRIPTEN_KEEPALIVE const char* lq2x_web_file_message(const web_file* r) { return r->file.message; }
EMSCRIPTEN_KEEPALIVE const char* lq2x_web_file_extension(const web_file* r) { return r->extension; }
EMSCRIPTEN_KEEPALIVE const char* lq2x_web_file_refused(const web_file* r) { return r->refused; }
EMSCRIPTEN_KEEPALIVE void lq2x_web_file_free(web_file* r)
{
    if (r != NULL)
        lq2x_file_free(&r->file);
    std::free(r);
}

/* A picture of RGBA pixels scaled with the settings, by lq2x_scale_picture:
 * the result's RGBA pixels (a result the library gives as RGB, under
 * rgb565, with alpha 255, as a PNG of it reads), or the refusal in the
 * settings' words (lq2x_picture_check). */
typedef struct web_pixels {
    lq2x_status status;
    int32_t width;
    int32_t height;
    uint8_t* pixels;
    char message[320];
} web_pixels;

EMSCRIPTEN_KEEPALIVE web_pixels* lq2x_web_scale_pixels(const uint8_t* src, int32_t width, int32_t height,
                                                       const web_settings* s)
{
    web_pixels* r = static_cast<web_pixels*>(std::calloc(1, sizeof(web_pixels)));
    if (r == NULL)
        return NULL;
    const lq2x_options* o = &s->options;
    r->status = lq2x_picture_check(width, height, o, s->file.door, r->message, sizeof r->message);
    int32_t layout = LQ2X_LAYOUT_RGBA;
    if (r->status == LQ2X_OK)
        r->status = lq2x_picture_layout(LQ2X_LAYOUT_RGBA, o, &layout);
    if (r->status == LQ2X_OK)
        r->status = lq2x_picture_size(width, height, o, &r->width, &r->height);
    if (r->status != LQ2X_OK)
        return r;
    const size_t count = size_t(r->width) * size_t(r->height);
    const int channels = layout == LQ2X_LAYOUT_RGB ? 3 : 4;
    r->pixels = static_cast<uint8_t*>(std::malloc(std::max<size_t>(1, count * 4)));
    if (r->pixels == NULL) {
        r->status = LQ2X_ERROR_NO_MEMORY;
        std::snprintf(r->message, sizeof r->message, "%s", lq2x_describe(r->status));
        return r;
    }
    const lq2x_picture in = {const_cast<uint8_t*>(src), width, height, ptrdiff_t(width) * 4, LQ2X_LAYOUT_RGBA};
    // An RGB result is written packed into the front of the buffer, then
    // spread to RGBA from the back, so that no pixel is overwritten unread.
    const lq2x_picture out = {r->pixels, r->width, r->height, ptrdiff_t(r->width) * channels, layout};
    r->status = lq2x_scale_picture(&in, &out, o);
    if (r->status != LQ2X_OK) {
        std::snprintf(r->message, sizeof r->message, "%s", lq2x_describe(r->status));
        return r;
    }
    for (size_t i = count; channels == 3 && i-- > 0;) {
        uint8_t* to = r->pixels + 4 * i;
        const uint8_t* from = r->pixels + 3 * i;
        const uint8_t red = from[0], green = from[1], blue = from[2];
        to[0] = red, to[1] = green, to[2] = blue, to[3] = 255;
    }
    return r;
}

EMSCRIPTEN_KEEPALIVE int32_t lq2x_web_pixels_status(const web_pixels* r) { return r->status; }
EMSCRIPTEN_KEEPALIVE int32_t lq2x_web_pixels_width(const web_pixels* r) { return r->width; }
EMSCRIPTEN_KEEPALIVE int32_t lq2x_web_pixels_height(const web_pixels* r) { return r->height; }
EMSCRIPTEN_KEEPALIVE const uint8_t* lq2x_web_pixels_data(const web_pixels* r) { return r->pixels; }
EMSCRIPTEN_KEEPALIVE const char* lq2x_web_pixels_message(const web_pixels* r) { return r->message; }
EMSCRIPTEN_KEEPALIVE void lq2x_web_pixels_free(web_pixels* r)
{
    if (r != NULL)
        std::free(r->pixels);
    std::free(r);
}

/* The frames a file holds, composited, as lq2x_read_file gives them. With
 * `scaled` the bytes are a result of lq2x_web_scale_file, already held to
 * the pixel limit when they were made, and are read without one; otherwise
 * they are an input, read under the limit the scale sets, as the tool reads
 * it. */
typedef struct web_frames {
    lq2x_status status;
    lq2x_frames frames;
} web_frames;

EMSCRIPTEN_KEEPALIVE web_frames* lq2x_web_read_file(const uint8_t* data, size_t size, int32_t scale, int32_t scaled)
{
    web_frames* r = static_cast<web_frames*>(std::calloc(1, sizeof(web_frames)));
    if (r == NULL)
        return NULL;
    lq2x_options o = options(scale, LQ2X_UPRIGHT, LQ2X_EDGE_CLAMP, LQ2X_EDGE_CLAMP, 0, 0, 0, 0);
    if (scaled != 0)
        o.max_pixels = 0;
    lq2x_file_options f = lq2x_default_file_options();
    f.door = LQ2X_DOOR_PAGE;
    r->status = lq2x_read_file(data, size, &o, &f, &r->frames);
    return r;
}

EMSCRIPTEN_KEEPALIVE int32_t lq2x_web_frames_status(const web_frames* r) { return r->status; }
EMSCRIPTEN_KEEPALIVE int32_t lq2x_web_frames_width(const web_frames* r) { return r->frames.width; }
EMSCRIPTEN_KEEPALIVE int32_t lq2x_web_frames_height(const web_frames* r) { return r->frames.height; }
EMSCRIPTEN_KEEPALIVE int32_t lq2x_web_frames_count(const web_frames* r) { return r->frames.count; }
EMSCRIPTEN_KEEPALIVE int32_t lq2x_web_frames_animated(const web_frames* r) { return r->frames.animated; }
EMSCRIPTEN_KEEPALIVE uint32_t lq2x_web_frames_loops(const web_frames* r) { return r->frames.loops; }
EMSCRIPTEN_KEEPALIVE const uint8_t* lq2x_web_frames_pixels(const web_frames* r) { return r->frames.pixels; }
EMSCRIPTEN_KEEPALIVE const uint32_t* lq2x_web_frames_delays(const web_frames* r) { return r->frames.delays; }
EMSCRIPTEN_KEEPALIVE const char* lq2x_web_frames_message(const web_frames* r) { return r->frames.message; }
EMSCRIPTEN_KEEPALIVE void lq2x_web_frames_free(web_frames* r)
{
    if (r != NULL)
        lq2x_frames_free(&r->frames);
    std::free(r);
}

/* A whole picture of RGBA pixels scaled into dst (which holds the result):
 * what the page times as its scaling step, on frames read by
 * lq2x_web_read_file. */
EMSCRIPTEN_KEEPALIVE int32_t lq2x_web_scale_rgba(const uint8_t* src, int32_t width, int32_t height, uint8_t* dst,
                                                 int32_t scale, int32_t orientation)
{
    const lq2x_options o = options(scale, orientation, LQ2X_EDGE_CLAMP, LQ2X_EDGE_CLAMP, 0, 0, 0, 0);
    int32_t w = 0, h = 0;
    const lq2x_status s = lq2x_picture_size(width, height, &o, &w, &h);
    if (s != LQ2X_OK)
        return s;
    const lq2x_picture in = {const_cast<uint8_t*>(src), width, height, ptrdiff_t(width) * 4, LQ2X_LAYOUT_RGBA};
    const lq2x_picture out = {dst, w, h, ptrdiff_t(w) * 4, LQ2X_LAYOUT_RGBA};
    return lq2x_scale_picture(&in, &out, &o);
}

/* What the worker does once it has started, while the page waits for a
 * file: a picture made here goes through the library's PNG reading, scaling
 * and writing a few times, so that the engine has compiled the code they run
 * at its best before the first real file; then the module's memory is
 * grown to, and written over, what a sheet of a million pixels takes at 2x,
 * since the first write to each new page of WebAssembly memory costs a page
 * fault that a later file then does not pay. */
EMSCRIPTEN_KEEPALIVE void lq2x_web_warm_up()
{
    enum { side = 400, runs = 3, memory = 48 << 20 };
    static const uint32_t delay[2] = {0, 1};
    uint8_t* pixels = static_cast<uint8_t*>(std::malloc(side * side * 4));
    if (pixels == NULL)
        return;
    /* Tiles of a few colours, some half or wholly clear, as sprite sheets have. */
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            const int tile = (x / 16) * 7 + (y / 16) * 3 + ((x ^ y) & 4);
            uint8_t* p = pixels + 4 * (y * side + x);
            p[0] = (uint8_t)(tile * 37);
            p[1] = (uint8_t)(tile * 91 + (x & 8) * 8);
            p[2] = (uint8_t)(tile * 53);
            p[3] = (uint8_t)(tile % 5 == 0 ? 0 : tile % 5 == 1 ? 128 : 255);
        }
    lq2x_frames frames = {side, side, 1, LQ2X_LAYOUT_RGBA, 0, 0, pixels, const_cast<uint32_t*>(delay), ""};
    lq2x_file_options f = lq2x_default_file_options();
    f.format = LQ2X_FORMAT_PNG;
    lq2x_file png;
    if (lq2x_write_file(&frames, &f, &png) == LQ2X_OK) {
        const lq2x_options o = lq2x_default_options();
        for (int i = 0; i < runs; ++i) {
            lq2x_file out;
            lq2x_scale_file(png.bytes, png.size, &o, &f, &out);
            lq2x_file_free(&out);
        }
    }
    lq2x_file_free(&png);
    std::free(pixels);
    void* room = std::malloc(memory);
    if (room != NULL)
        std::memset(room, 1, memory);
    std::free(room);
}

/* The passes the page's WebGL preview runs on a width x height frame of the
 * file's RGBA pixels, read as lq2x_scale_picture reads them, as JSON: the
 * status and its line, and for each pass the size it renders and its
 * uniforms by name, each a list of integers:
 *   {"status":0,"message":"no error","passes":[{"width":64,"height":64,
 *    "uniforms":{"u_source":[0],"u_size":[32,32],...}},...]}
 * The page sets them as they come, knowing nothing of what they mean. The
 * caller frees the text; NULL when there is no memory for it. */
EMSCRIPTEN_KEEPALIVE char* lq2x_web_shader_plan(int32_t width, int32_t height, int32_t scale, int32_t orientation,
                                                int32_t edge_x, int32_t edge_y, int32_t tile_width,
                                                int32_t tile_height, int32_t tile_margin, int32_t tile_spacing)
{
    const lq2x_options o =
        options(scale, orientation, edge_x, edge_y, tile_width, tile_height, tile_margin, tile_spacing);
    lq2x::shader::plan plan;
    const lq2x_status status =
        lq2x::shader::plan_of(&o, width, height, false, lq2x::shader::reading::picture, plan);
    std::string json = "{\"status\":" + std::to_string(int(status)) + ",\"message\":\"" + lq2x_describe(status) +
                       "\",\"passes\":[";
    for (int i = 0; i < plan.count; ++i) {
        const lq2x::shader::pass& pass = plan.passes[i];
        json += std::string(i ? "," : "") + "{\"width\":" + std::to_string(pass.width) +
                ",\"height\":" + std::to_string(pass.height) + ",\"uniforms\":{";
        for (int u = 0; u < lq2x::shader::pass::UNIFORMS; ++u) {
            const lq2x::shader::uniform& v = pass.uniforms[u];
            json += std::string(u ? "," : "") + "\"" + v.name + "\":[";
            for (int k = 0; k < v.count; ++k)
                json += std::string(k ? "," : "") + std::to_string(v.value[k]);
            json += "]";
        }
        json += "}}";
    }
    json += "]}";
    char* text = static_cast<char*>(std::malloc(json.size() + 1));
    if (text != NULL)
        std::memcpy(text, json.c_str(), json.size() + 1);
    return text;
}

/* The GIF settings that make any result fit a GIF (lq2x_gif_fit_any), for
 * the page's "a GIF all the same": 0 the alpha threshold, 1 the colours,
 * 2 the palette. */
EMSCRIPTEN_KEEPALIVE int32_t lq2x_web_gif_fit(int32_t which)
{
    lq2x_file_options f = lq2x_default_file_options();
    lq2x_gif_fit_any(&f);
    return which == 0 ? f.gif_alpha : which == 1 ? f.gif_colours : f.gif_palette;
}

/* Whether a status is the library's refusal of a picture over its limits
 * (LQ2X_ERROR_TOO_LARGE), to which the page adds its own hint. */
EMSCRIPTEN_KEEPALIVE int32_t lq2x_web_over_limit(int32_t status) { return status == LQ2X_ERROR_TOO_LARGE; }

EMSCRIPTEN_KEEPALIVE const char* lq2x_web_describe(int32_t status) { return lq2x_describe(lq2x_status(status)); }
/* What to say when the module's memory has no room for a call at all. */
EMSCRIPTEN_KEEPALIVE const char* lq2x_web_no_memory() { return lq2x_describe(LQ2X_ERROR_NO_MEMORY); }

/* The name of the kernel the page's calls run ("simd128" where the browser
 * has WebAssembly's SIMD, which every module built here needs). */
EMSCRIPTEN_KEEPALIVE const char* lq2x_web_kernel()
{
    int32_t k = LQ2X_KERNEL_AUTO;
    return lq2x_kernel_in_use(nullptr, &k) == LQ2X_OK ? lq2x::kernel_name(lq2x::kernel(k)) : "none";
}

} // extern "C"
