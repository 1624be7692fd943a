// The C interface, over the typed C++ one: results copied into memory the
// caller gives back with lq2x_file_free and lq2x_frames_free.
#include <lq2x/files.hpp>
#include <lq2x/lq2x_files.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "c_api.h"
#include "gif.h"
#include "scaler/interface/sized_struct.h"

namespace lq2x::files::c {
namespace {

// Every version of lq2x_file_options, the oldest first: 0.3 up to
// raw_height (padded to 32 bytes), 0.4 to max_frames.
constexpr detail::struct_version FILE_OPTIONS_VERSIONS[] = {
    {32, offsetof(lq2x_file_options, gif_alpha)},
    {sizeof(lq2x_file_options), offsetof(lq2x_file_options, max_frames) + sizeof(std::uint64_t)}};

} // namespace

bool read_file_options(const lq2x_file_options* given, file_options& out)
{
    lq2x_file_options o = lq2x_default_file_options();
    if (!detail::read_sized(given, o, FILE_OPTIONS_VERSIONS))
        return false;
    out = {};
    out.out = format(o.format);
    out.frame = o.frame;
    out.png_level = o.png_level;
    out.raw_width = o.raw_width;
    out.raw_height = o.raw_height;
    out.gif_alpha = o.gif_alpha;
    out.gif_colours = o.gif_colours;
    out.gif_shares = gif_palette(o.gif_palette);
    out.words = door(o.door);
    out.keep_existing = o.keep_existing != 0;
    out.max_input_bytes = o.max_input_bytes;
    out.max_frames = o.max_frames;
    return true;
}

lq2x_file_options to_c(const file_options& in)
{
    lq2x_file_options o = lq2x_default_file_options();
    o.format = std::int32_t(in.out);
    o.frame = in.frame;
    o.png_level = in.png_level;
    o.raw_width = in.raw_width;
    o.raw_height = in.raw_height;
    o.gif_alpha = in.gif_alpha;
    o.gif_colours = in.gif_colours;
    o.gif_palette = std::int32_t(in.gif_shares);
    o.door = std::int32_t(in.words);
    o.keep_existing = in.keep_existing;
    o.max_input_bytes = in.max_input_bytes;
    o.max_frames = in.max_frames;
    return o;
}

bool write_file_options(lq2x_file_options* to, const file_options& from)
{
    return detail::write_sized(to, to_c(from), FILE_OPTIONS_VERSIONS);
}

void put(char* message, std::size_t size, const std::string& text)
{
    if (size > 0)
        std::snprintf(message, size, "%s", text.c_str());
}

} // namespace lq2x::files::c

namespace {

using namespace lq2x::files::c;

template <typename T>
T* copy_out(const std::vector<T>& v)
{
    T* p = static_cast<T*>(std::malloc(std::max<std::size_t>(v.size(), 1) * sizeof(T)));
    if (p == nullptr)
        throw std::bad_alloc();
    std::copy(v.begin(), v.end(), p);
    return p;
}

// A result, with what it could not keep as its message.
lq2x_status give(const std::vector<std::uint8_t>& bytes, const std::string& warning, lq2x_file* out)
{
    out->bytes = copy_out(bytes);
    out->size = bytes.size();
    put(out->message, warning);
    return LQ2X_OK;
}

} // namespace

extern "C" {

lq2x_file_options lq2x_default_file_options(void)
{
    lq2x_file_options o{};
    o.size = sizeof o;
    o.format = LQ2X_FORMAT_SAME;
    o.frame = -1;
    o.png_level = lq2x::file_options{}.png_level;
    o.gif_palette = LQ2X_GIF_PALETTE_SHARED;
    o.door = LQ2X_DOOR_C;
    return o;
}

lq2x_status lq2x_scale_file(const std::uint8_t* data, std::size_t size, const lq2x_options* options,
                            const lq2x_file_options* file_options, lq2x_file* out)
{
    if (out == nullptr)
        return LQ2X_ERROR_NULL_OUTPUT;
    *out = {};
    if (data == nullptr && size > 0)
        return fail(out->message, LQ2X_ERROR_NULL_PIXELS, lq2x_describe(LQ2X_ERROR_NULL_PIXELS));
    return run(options, file_options, out->message, [&](const lq2x::options& opt, const lq2x::file_options& file) {
        std::string warning;
        const std::vector<std::uint8_t> bytes = lq2x::scale_file({data, size}, opt, file, &warning);
        return give(bytes, warning, out);
    });
}

lq2x_status lq2x_read_file(const std::uint8_t* data, std::size_t size, const lq2x_options* options,
                           const lq2x_file_options* file_options, lq2x_frames* out)
{
    if (out == nullptr)
        return LQ2X_ERROR_NULL_OUTPUT;
    *out = {};
    if (data == nullptr && size > 0)
        return fail(out->message, LQ2X_ERROR_NULL_PIXELS, lq2x_describe(LQ2X_ERROR_NULL_PIXELS));
    return run(options, file_options, out->message, [&](const lq2x::options& opt, const lq2x::file_options& file) {
        const lq2x::frames f = lq2x::read_file({data, size}, opt, file);
        std::vector<std::uint32_t> delays;
        for (const lq2x::frame_delay d : f.delays)
            delays.insert(delays.end(), {d.numerator, d.denominator});
        out->pixels = copy_out(f.pixels);
        try {
            out->delays = copy_out(delays);
        } catch (...) {
            lq2x_frames_free(out);
            throw;
        }
        out->width = f.width;
        out->height = f.height;
        out->count = std::int32_t(f.delays.size());
        out->layout = std::int32_t(f.kind);
        out->animated = f.animated;
        out->loops = f.loops;
        put(out->message, f.warning);
        return LQ2X_OK;
    });
}

lq2x_status lq2x_write_file(const lq2x_frames* frames, const lq2x_file_options* file_options, lq2x_file* out)
{
    if (out == nullptr)
        return LQ2X_ERROR_NULL_OUTPUT;
    *out = {};
    if (frames == nullptr)
        return fail(out->message, LQ2X_ERROR_NULL_PIXELS, lq2x_describe(LQ2X_ERROR_NULL_PIXELS));
    if (frames->width < 0 || frames->height < 0 || frames->count < 0)
        return fail(out->message, LQ2X_ERROR_BAD_SIZE, lq2x_describe(LQ2X_ERROR_BAD_SIZE));
    const std::size_t count = std::size_t(frames->count),
                      bytes = 4 * std::size_t(frames->width) * std::size_t(frames->height) * count;
    if (count > 0 && (frames->pixels == nullptr || frames->delays == nullptr))
        return fail(out->message, LQ2X_ERROR_NULL_PIXELS, lq2x_describe(LQ2X_ERROR_NULL_PIXELS));
    return run(nullptr, file_options, out->message, [&](const lq2x::options&, const lq2x::file_options& file) {
        lq2x::frames in{frames->width, frames->height, lq2x::layout(frames->layout), frames->animated != 0,
                        frames->loops, {}, {}, {}};
        in.pixels.assign(frames->pixels, frames->pixels + bytes);
        for (std::size_t i = 0; i < count; ++i)
            in.delays.push_back({frames->delays[2 * i], frames->delays[2 * i + 1]});
        std::string warning;
        const std::vector<std::uint8_t> result = lq2x::write_file(in, file, &warning);
        return give(result, warning, out);
    });
}

void lq2x_file_free(lq2x_file* file)
{
    if (file == nullptr)
        return;
    std::free(file->bytes);
    file->bytes = nullptr;
    file->size = 0;
}

void lq2x_frames_free(lq2x_frames* frames)
{
    if (frames == nullptr)
        return;
    std::free(frames->pixels);
    std::free(frames->delays);
    frames->pixels = nullptr;
    frames->delays = nullptr;
    frames->count = 0;
}

lq2x_status lq2x_file_limits(const lq2x_options* options, const lq2x_file_options* file_options, lq2x_limits* out)
{
    if (out == nullptr)
        return LQ2X_ERROR_NULL_OUTPUT;
    char message[320];
    return run(options, file_options, message, [&](const lq2x::options& opt, const lq2x::file_options& file) {
        const lq2x::limits l = lq2x::file_limits(opt, file);
        *out = {l.max_pixels, l.max_input_bytes, l.max_frames};
        return LQ2X_OK;
    });
}

std::int32_t lq2x_format_of_bytes(const std::uint8_t* data, std::size_t size)
{
    if (data == nullptr)
        return LQ2X_FORMAT_SAME;
    return std::int32_t(lq2x::format_of_bytes({data, size}));
}

std::int32_t lq2x_format_of_name(const char* name)
{
    return name == nullptr ? LQ2X_FORMAT_SAME : std::int32_t(lq2x::format_of_name(name));
}

const char* lq2x_format_name(std::int32_t format)
{
    if (format <= LQ2X_FORMAT_SAME || format > LQ2X_FORMAT_PCX)
        return nullptr;
    return lq2x::format_name(lq2x::format(format));
}

std::int32_t lq2x_format_writes(std::int32_t format)
{
    return format > LQ2X_FORMAT_SAME && format <= LQ2X_FORMAT_PCX && lq2x::format_writes(lq2x::format(format));
}

std::int32_t lq2x_format_written_for(std::int32_t input)
{
    if (input <= LQ2X_FORMAT_SAME || input > LQ2X_FORMAT_PCX)
        return LQ2X_FORMAT_SAME;
    return std::int32_t(lq2x::format_written_for(lq2x::format(input)));
}

std::int32_t lq2x_format_lossless_for(std::int32_t format)
{
    if (lq2x_format_writes(format) == 0)
        return LQ2X_FORMAT_SAME;
    return format == LQ2X_FORMAT_GIF || format == LQ2X_FORMAT_PGM ? LQ2X_FORMAT_PNG : format;
}

void lq2x_gif_fit_any(lq2x_file_options* file_options)
{
    // A caller's header from before the GIF settings has no room for them.
    if (file_options == nullptr ||
        file_options->size < offsetof(lq2x_file_options, gif_palette) + sizeof file_options->gif_palette)
        return;
    file_options->gif_alpha = 128;
    file_options->gif_colours = lq2x::files::gif::MOST_COLOURS;
    file_options->gif_palette = LQ2X_GIF_PALETTE_SHARED;
}

lq2x_status lq2x_set_file_option(lq2x_file_options* file_options, const char* name, const char* text,
                                 std::int32_t door, char* message, std::size_t size)
{
    lq2x::file_options file;
    std::string why;
    lq2x::error e = lq2x::error::bad_options;
    if (file_options == nullptr)
        e = lq2x::error::null_output, why = lq2x_describe(LQ2X_ERROR_NULL_OUTPUT);
    else if (!read_file_options(file_options, file) || name == nullptr || text == nullptr)
        why = lq2x_describe(LQ2X_ERROR_BAD_OPTIONS);
    else if ((e = lq2x::set_file_option(file, name, text, lq2x::door(door), why)) == lq2x::error::none)
        write_file_options(file_options, file);
    put(message, size, why);
    return lq2x_status(e);
}

} // extern "C"
