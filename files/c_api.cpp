// The C interface, over the typed C++ one: results copied into memory the
// caller gives back with lq2x_file_free and lq2x_frames_free.
#include <lq2x/files.hpp>
#include <lq2x/lq2x_files.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The most a caller's file options may claim to be, as for lq2x_options.
constexpr std::uint32_t OPTIONS_MAX_SIZE = 256;

// The caller's scaling options, checked by the core library (their size,
// their values) and then taken field by field.
lq2x_status read_options(const lq2x_options* given, lq2x::options& out)
{
    if (const lq2x_status s = lq2x_picture_size(0, 0, given, nullptr, nullptr); s != LQ2X_OK)
        return s;
    lq2x_options o = lq2x_default_options();
    if (given)
        std::memcpy(&o, given, std::min<std::size_t>(given->size, sizeof o));
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
    return LQ2X_OK;
}

// Fields past the caller's `size` keep their defaults, and bytes past the
// library's own must be zero, so that a newer caller's setting is never
// silently ignored.
bool read_file_options(const lq2x_file_options* given, lq2x::file_options& out)
{
    lq2x_file_options o = lq2x_default_file_options();
    if (given) {
        if (given->size < sizeof o || given->size > OPTIONS_MAX_SIZE)
            return false;
        const auto* extra = reinterpret_cast<const unsigned char*>(given);
        for (std::uint32_t i = sizeof o; i < given->size; ++i)
            if (extra[i] != 0)
                return false;
        std::memcpy(&o, given, sizeof o);
    }
    out = {lq2x::format(o.format), o.frame, o.png_level, o.raw_width, o.raw_height};
    return true;
}

template <std::size_t N>
lq2x_status fail(char (&message)[N], lq2x_status status, const char* why)
{
    std::snprintf(message, N, "%s", why);
    return status;
}

// Runs a call whose options are read; its file_error becomes the status and
// the message.
template <std::size_t N, typename F>
lq2x_status run(const lq2x_options* options, const lq2x_file_options* file_options, char (&message)[N], F call)
{
    lq2x::options opt;
    lq2x::file_options file;
    if (const lq2x_status s = read_options(options, opt); s != LQ2X_OK)
        return fail(message, s, lq2x_describe(s));
    if (!read_file_options(file_options, file))
        return fail(message, LQ2X_ERROR_BAD_OPTIONS, lq2x_describe(LQ2X_ERROR_BAD_OPTIONS));
    try {
        return call(opt, file);
    } catch (const lq2x::file_error& e) {
        return fail(message, lq2x_status(e.status()), e.what());
    } catch (const std::bad_alloc&) {
        return fail(message, LQ2X_ERROR_NO_MEMORY, lq2x_describe(LQ2X_ERROR_NO_MEMORY));
    }
}

template <typename T>
T* copy_out(const std::vector<T>& v)
{
    T* p = static_cast<T*>(std::malloc(std::max<std::size_t>(v.size(), 1) * sizeof(T)));
    if (p == nullptr)
        throw std::bad_alloc();
    std::copy(v.begin(), v.end(), p);
    return p;
}

lq2x_status give(const std::vector<std::uint8_t>& bytes, lq2x_file* out)
{
    out->bytes = copy_out(bytes);
    out->size = bytes.size();
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
    return o;
}

lq2x_status lq2x_scale_file(const std::uint8_t* data, std::size_t size, const lq2x_options* options,
                            const lq2x_file_options* file_options, lq2x_file* out)
{
    if (out == nullptr)
        return LQ2X_ERROR_NULL_PIXELS;
    *out = {};
    if (data == nullptr && size > 0)
        return fail(out->message, LQ2X_ERROR_NULL_PIXELS, lq2x_describe(LQ2X_ERROR_NULL_PIXELS));
    return run(options, file_options, out->message, [&](const lq2x::options& opt, const lq2x::file_options& file) {
        return give(lq2x::scale_file({data, size}, opt, file), out);
    });
}

lq2x_status lq2x_read_file(const std::uint8_t* data, std::size_t size, const lq2x_options* options,
                           const lq2x_file_options* file_options, lq2x_frames* out)
{
    if (out == nullptr)
        return LQ2X_ERROR_NULL_PIXELS;
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
        return LQ2X_OK;
    });
}

lq2x_status lq2x_write_file(const lq2x_frames* frames, const lq2x_file_options* file_options, lq2x_file* out)
{
    if (out == nullptr)
        return LQ2X_ERROR_NULL_PIXELS;
    *out = {};
    if (frames == nullptr || frames->width < 0 || frames->height < 0 || frames->count < 0)
        return fail(out->message, LQ2X_ERROR_BAD_SIZE, lq2x_describe(LQ2X_ERROR_BAD_SIZE));
    const std::size_t count = std::size_t(frames->count),
                      bytes = 4 * std::size_t(frames->width) * std::size_t(frames->height) * count;
    if (count > 0 && (frames->pixels == nullptr || frames->delays == nullptr))
        return fail(out->message, LQ2X_ERROR_NULL_PIXELS, lq2x_describe(LQ2X_ERROR_NULL_PIXELS));
    return run(nullptr, file_options, out->message, [&](const lq2x::options&, const lq2x::file_options& file) {
        lq2x::frames in{frames->width, frames->height, lq2x::layout(frames->layout), frames->animated != 0,
                        frames->loops, {}, {}};
        in.pixels.assign(frames->pixels, frames->pixels + bytes);
        for (std::size_t i = 0; i < count; ++i)
            in.delays.push_back({frames->delays[2 * i], frames->delays[2 * i + 1]});
        return give(lq2x::write_file(in, file), out);
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
    if (format <= LQ2X_FORMAT_SAME || format > LQ2X_FORMAT_RAW)
        return nullptr;
    return lq2x::format_name(lq2x::format(format));
}

} // extern "C"
