// The C interface, over the typed C++ one.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

#include <lq2x/lq2x.h>
#include <lq2x/lq2x.hpp>

#include "scaler/settings/settings.h"
#include "scaler/interface/sized_struct.h"

namespace {

// Every version of lq2x_options, the oldest first: 0.1 up to tile_spacing,
// 0.3 to band_pixels, 0.4 to alpha_hides.
constexpr lq2x::detail::struct_version OPTIONS_VERSIONS[] = {
    {offsetof(lq2x_options, scale), offsetof(lq2x_options, scale)},
    {offsetof(lq2x_options, alpha_hides), offsetof(lq2x_options, alpha_hides)},
    {sizeof(lq2x_options), offsetof(lq2x_options, alpha_hides) + sizeof(std::int32_t)}};

bool known_options(const lq2x_options* given, lq2x::options& out)
{
    return lq2x::read_options(given, out) == lq2x::error::none;
}

// The typed options as the C interface's struct.
lq2x_options to_c(const lq2x::options& in)
{
    lq2x_options o = lq2x_default_options();
    o.orientation = std::int32_t(in.turn);
    o.threads = in.threads;
    o.edge_x = std::int32_t(in.edge_x);
    o.edge_y = std::int32_t(in.edge_y);
    o.tile_width = in.tile.width;
    o.tile_height = in.tile.height;
    o.tile_margin = in.tile.margin;
    o.tile_spacing = in.tile.spacing;
    o.scale = in.scale;
    o.rgb565 = in.rgb565;
    o.kernel = std::int32_t(in.use);
    o.max_pixels = in.max_pixels;
    o.band_pixels = in.band_pixels;
    o.alpha_hides = in.alpha_hides;
    return o;
}

// A message into the caller's buffer, cut to its size; the whole length.
std::size_t put_message(const std::string& text, char* message, std::size_t size)
{
    if (message != nullptr && size > 0) {
        const std::size_t n = std::min(text.size(), size - 1);
        std::memcpy(message, text.data(), n);
        message[n] = '\0';
    }
    return text.size();
}

template <typename P>
lq2x_status scale_rows(const P* src, std::int32_t width, std::int32_t height, std::ptrdiff_t src_pitch, P* dst,
                       std::int32_t dst_width, std::int32_t dst_height, std::ptrdiff_t dst_pitch, std::int32_t y0,
                       std::int32_t y1, const lq2x_options* options)
{
    lq2x::options opt;
    if (!known_options(options, opt))
        return LQ2X_ERROR_BAD_OPTIONS;
    return lq2x_status(lq2x::scale_rows(lq2x::image_view<const P>{src, width, height, src_pitch},
                                        lq2x::image_view<P>{dst, dst_width, dst_height, dst_pitch}, y0, y1, opt));
}

} // namespace

namespace lq2x {

error read_options(const lq2x_options* given, options& out)
{
    lq2x_options o = lq2x_default_options();
    if (!detail::read_sized(given, o, OPTIONS_VERSIONS))
        return lq2x::error::bad_options;
    out.turn = lq2x::orientation(o.orientation);
    out.threads = o.threads;
    out.edge_x = lq2x::edge(o.edge_x);
    out.edge_y = lq2x::edge(o.edge_y);
    out.tile = {o.tile_width, o.tile_height, o.tile_margin, o.tile_spacing};
    out.scale = o.scale;
    out.rgb565 = o.rgb565 != 0;
    out.use = lq2x::kernel(o.kernel);
    out.max_pixels = o.max_pixels;
    out.band_pixels = o.band_pixels;
    out.alpha_hides = o.alpha_hides != 0;
    return lq2x::error::none;
}

} // namespace lq2x

extern "C" {

lq2x_options lq2x_default_options(void)
{
    lq2x_options o{};
    o.size = sizeof(lq2x_options);
    o.orientation = LQ2X_UPRIGHT;
    o.threads = 1;
    o.edge_x = LQ2X_EDGE_CLAMP;
    o.edge_y = LQ2X_EDGE_CLAMP;
    o.scale = 2;
    o.kernel = LQ2X_KERNEL_AUTO;
    o.max_pixels = LQ2X_DEFAULT_MAX_PIXELS;
    return o;
}

lq2x_status lq2x_scale565(const std::uint16_t* src, std::int32_t width, std::int32_t height, std::ptrdiff_t src_pitch,
                          std::uint16_t* dst, std::int32_t dst_width, std::int32_t dst_height,
                          std::ptrdiff_t dst_pitch, const lq2x_options* options)
{
    return scale_rows(src, width, height, src_pitch, dst, dst_width, dst_height, dst_pitch, 0, height < 0 ? 0 : height,
                      options);
}

lq2x_status lq2x_scale8888(const std::uint32_t* src, std::int32_t width, std::int32_t height,
                           std::ptrdiff_t src_pitch, std::uint32_t* dst, std::int32_t dst_width,
                           std::int32_t dst_height, std::ptrdiff_t dst_pitch, const lq2x_options* options)
{
    return scale_rows(src, width, height, src_pitch, dst, dst_width, dst_height, dst_pitch, 0, height < 0 ? 0 : height,
                      options);
}

lq2x_status lq2x_scale565_rows(const std::uint16_t* src, std::int32_t width, std::int32_t height,
                               std::ptrdiff_t src_pitch, std::uint16_t* dst, std::int32_t dst_width,
                               std::int32_t dst_height, std::ptrdiff_t dst_pitch, std::int32_t y0, std::int32_t y1,
                               const lq2x_options* options)
{
    return scale_rows(src, width, height, src_pitch, dst, dst_width, dst_height, dst_pitch, y0, y1, options);
}

lq2x_status lq2x_scale8888_rows(const std::uint32_t* src, std::int32_t width, std::int32_t height,
                                std::ptrdiff_t src_pitch, std::uint32_t* dst, std::int32_t dst_width,
                                std::int32_t dst_height, std::ptrdiff_t dst_pitch, std::int32_t y0, std::int32_t y1,
                                const lq2x_options* options)
{
    return scale_rows(src, width, height, src_pitch, dst, dst_width, dst_height, dst_pitch, y0, y1, options);
}

lq2x_status lq2x_picture_size(std::int32_t width, std::int32_t height, const lq2x_options* options,
                              std::int32_t* out_width, std::int32_t* out_height)
{
    lq2x::options opt;
    if (!known_options(options, opt))
        return LQ2X_ERROR_BAD_OPTIONS;
    lq2x::size out{};
    const lq2x::error e = lq2x::picture_size(width, height, opt, out);
    if (e == lq2x::error::none) {
        if (out_width)
            *out_width = std::int32_t(out.width);
        if (out_height)
            *out_height = std::int32_t(out.height);
    }
    return lq2x_status(e);
}

lq2x_status lq2x_pass_options(const lq2x_options* options, std::int32_t pass, lq2x_options* pass_options)
{
    lq2x::options opt, out;
    if (!known_options(options, opt))
        return LQ2X_ERROR_BAD_OPTIONS;
    if (pass_options == nullptr)
        return LQ2X_ERROR_NULL_OUTPUT;
    if (lq2x::detail::sized_extent(pass_options, OPTIONS_VERSIONS) == 0)
        return LQ2X_ERROR_BAD_OPTIONS;
    if (const lq2x::error e = lq2x::pass_options(opt, pass, out); e != lq2x::error::none)
        return lq2x_status(e);
    lq2x::detail::write_sized(pass_options, to_c(out), OPTIONS_VERSIONS);
    return LQ2X_OK;
}

lq2x_status lq2x_picture_layout(std::int32_t layout, const lq2x_options* options, std::int32_t* out_layout)
{
    lq2x::options opt;
    if (!known_options(options, opt))
        return LQ2X_ERROR_BAD_OPTIONS;
    if (out_layout == nullptr)
        return LQ2X_ERROR_NULL_OUTPUT;
    lq2x::layout out{};
    const lq2x::error e = lq2x::picture_layout(lq2x::layout(layout), opt, out);
    if (e == lq2x::error::none)
        *out_layout = std::int32_t(out);
    return lq2x_status(e);
}

lq2x_status lq2x_picture_check(std::int32_t width, std::int32_t height, const lq2x_options* options,
                               std::int32_t door, char* message, std::size_t size)
{
    lq2x::options opt;
    std::string why;
    lq2x::error e = lq2x::error::bad_options;
    if (known_options(options, opt))
        e = lq2x::picture_check(width, height, opt, lq2x::door(door), why);
    else
        why = lq2x_describe(LQ2X_ERROR_BAD_OPTIONS);
    put_message(why, message, size);
    return lq2x_status(e);
}

lq2x_status lq2x_set_option(lq2x_options* options, const char* name, const char* text, std::int32_t door,
                            char* message, std::size_t size)
{
    lq2x::options opt;
    std::string why;
    lq2x::error e = lq2x::error::bad_options;
    if (options == nullptr)
        e = lq2x::error::null_output, why = lq2x_describe(LQ2X_ERROR_NULL_OUTPUT);
    else if (!known_options(options, opt) || name == nullptr || text == nullptr)
        why = lq2x_describe(LQ2X_ERROR_BAD_OPTIONS);
    else if ((e = lq2x::set_option(opt, name, text, lq2x::door(door), why)) == lq2x::error::none) {
        // A field past the caller's struct cannot be set: its older header has no room for it.
        lq2x_options before = lq2x_default_options(), after = to_c(opt);
        lq2x::detail::read_sized(options, before, OPTIONS_VERSIONS);
        const std::uint32_t known = lq2x::detail::sized_extent(options, OPTIONS_VERSIONS);
        const auto* a = reinterpret_cast<const unsigned char*>(&before);
        const auto* b = reinterpret_cast<const unsigned char*>(&after);
        const std::uint32_t own = std::end(OPTIONS_VERSIONS)[-1].extent;
        if (known < own && !std::equal(a + known, a + own, b + known)) {
            e = lq2x::error::bad_options;
            why = lq2x::words(lq2x::detail::joined("{", name, "}: not in the options of this caller's version"),
                              lq2x::door(door));
        } else {
            lq2x::detail::write_sized(options, after, OPTIONS_VERSIONS);
        }
    }
    put_message(why, message, size);
    return lq2x_status(e);
}

std::size_t lq2x_words(const char* text, std::int32_t door, char* message, std::size_t size)
{
    return put_message(text == nullptr ? std::string() : lq2x::words(text, lq2x::door(door)), message, size);
}

lq2x_status lq2x_setting_named(const char* name, std::int32_t door, std::int32_t kinds, std::int32_t* kind,
                               char* setting, std::size_t size)
{
    std::string out;
    int k = 0;
    lq2x::error e = lq2x::error::bad_options;
    if (kind == nullptr)
        e = lq2x::error::null_output, out = lq2x_describe(LQ2X_ERROR_NULL_OUTPUT);
    else if (name == nullptr)
        out = lq2x_describe(LQ2X_ERROR_BAD_OPTIONS);
    else if ((e = lq2x::setting_named(name, lq2x::door(door), kinds, out, k)) == lq2x::error::none)
        *kind = k;
    put_message(out, setting, size);
    return lq2x_status(e);
}

lq2x_status lq2x_scale_picture(const lq2x_picture* src, const lq2x_picture* dst, const lq2x_options* options)
{
    lq2x::options opt;
    if (!known_options(options, opt))
        return LQ2X_ERROR_BAD_OPTIONS;
    if (src == nullptr || dst == nullptr)
        return LQ2X_ERROR_NULL_PIXELS;
    const auto view = [](const lq2x_picture& p) {
        return lq2x::picture_view<std::byte>{static_cast<std::byte*>(p.pixels), p.width, p.height, p.pitch,
                                             lq2x::layout(p.layout)};
    };
    const lq2x::picture_view<std::byte> s = view(*src);
    return lq2x_status(lq2x::scale_picture({s.pixels, s.width, s.height, s.pitch, s.kind}, view(*dst), opt));
}

const char* lq2x_describe(lq2x_status status)
{
    switch (status) {
    case LQ2X_OK: return "no error";
    case LQ2X_ERROR_BAD_SIZE: return "image size is negative or too large";
    case LQ2X_ERROR_NULL_PIXELS: return "image has no pixels";
    case LQ2X_ERROR_BAD_PITCH: return "row pitch is not a whole number of pixels at least one row long";
    case LQ2X_ERROR_OUTPUT_TOO_SMALL: return "output image is smaller than the scaled image";
    case LQ2X_ERROR_OVERLAP: return "source and output images overlap";
    case LQ2X_ERROR_BAD_OPTIONS: return "options are not valid for this version of the library";
    case LQ2X_ERROR_BAD_ROWS: return "row range is outside the image";
    case LQ2X_ERROR_BAD_GRID: return "tile grid has a cell size below 1, or a negative margin or spacing";
    case LQ2X_ERROR_NO_CELL: return "tile margin leaves no cell in the picture";
    case LQ2X_ERROR_TOO_LARGE: return "result would have more pixels than the limit";
    case LQ2X_ERROR_BAD_LAYOUT: return "pixel layout is not one the library knows";
    case LQ2X_ERROR_NO_KERNEL: return "kernel asked for is not in this build or not on this processor";
    case LQ2X_ERROR_NO_MEMORY: return "out of memory";
    case LQ2X_ERROR_BAD_FILE: return "file is not an image this library reads, or not a whole one";
    case LQ2X_ERROR_CANNOT_WRITE: return "result cannot be written in the format asked for";
    case LQ2X_ERROR_NULL_OUTPUT: return "nowhere to put the result";
    case LQ2X_ERROR_CANNOT_READ: return "input file cannot be opened or read";
    case LQ2X_ERROR_CANNOT_SAVE: return "output file cannot be made or written";
    case LQ2X_ERROR_SAME_FILE: return "output is the input file";
    case LQ2X_ERROR_OUTPUT_EXISTS: return "output exists and is kept";
    }
    return "unknown error";
}

lq2x_status lq2x_kernel_in_use(const lq2x_options* options, std::int32_t* kernel)
{
    lq2x::options opt;
    if (!known_options(options, opt))
        return LQ2X_ERROR_BAD_OPTIONS;
    lq2x::kernel k{};
    const lq2x::error e = lq2x::kernel_in_use(opt, k);
    if (e == lq2x::error::none && kernel != nullptr)
        *kernel = std::int32_t(k);
    return lq2x_status(e);
}

std::uint32_t lq2x_version(void) { return LQ2X_VERSION; }

const char* lq2x_version_string(void) { return LQ2X_VERSION_STRING; }

} // extern "C"
