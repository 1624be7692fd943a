// The C interface, over the typed C++ one: results copied into memory the
// caller gives back with lq2x_file_free and lq2x_frames_free.
#include <lq2x/files.hpp>
#include <lq2x/lq2x_files.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The most a caller's file options may claim to be, as for lq2x_options.
constexpr std::uint32_t OPTIONS_MAX_SIZE = 256;

// The caller's scaling options, read by the core's rules and checked by it
// (their values, without a picture).
lq2x_status scaling_options(const lq2x_options* given, lq2x::options& out)
{
    if (lq2x::read_options(given, out) != lq2x::error::none)
        return LQ2X_ERROR_BAD_OPTIONS;
    return lq2x_picture_size(0, 0, given, nullptr, nullptr);
}

// Fields past the caller's `size` keep their defaults, and bytes past the
// library's own must be zero, so that a newer caller's setting is never
// silently ignored.
bool read_file_options(const lq2x_file_options* given, lq2x::file_options& out)
{
    lq2x_file_options o = lq2x_default_file_options();
    if (given) {
        std::uint32_t size; // read as bytes: the struct is the caller's, aligned as its header had it
        std::memcpy(&size, given, sizeof size);
        if (size < sizeof o || size > OPTIONS_MAX_SIZE)
            return false;
        const auto* bytes = reinterpret_cast<const unsigned char*>(given);
        for (std::uint32_t i = sizeof o; i < size; ++i)
            if (bytes[i] != 0)
                return false;
        std::memcpy(&o, bytes, sizeof o);
    }
    out = {lq2x::format(o.format), o.frame,       o.png_level,
           o.raw_width,            o.raw_height, o.gif_alpha,
           o.gif_colours,          lq2x::gif_palette(o.gif_palette)};
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
    if (const lq2x_status s = scaling_options(options, opt); s != LQ2X_OK)
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

// A result, with what it could not keep as its message.
lq2x_status give(const std::vector<std::uint8_t>& bytes, const std::string& warning, lq2x_file* out)
{
    out->bytes = copy_out(bytes);
    out->size = bytes.size();
    std::snprintf(out->message, sizeof out->message, "%s", warning.c_str());
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
        std::string warning;
        const std::vector<std::uint8_t> bytes = lq2x::scale_file({data, size}, opt, file, &warning);
        return give(bytes, warning, out);
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
        std::snprintf(out->message, sizeof out->message, "%s", f.warning.c_str());
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
                        frames->loops, {}, {}, {}};
        in.pixels.assign(frames->pixels, frames->pixels + bytes);
        for (std::size_t i = 0; i < count; ++i)
            in.delays.push_back({frames->delays[2 * i], frames->delays[2 * i + 1]});
        std::string warning;
        const std::vector<std::uint8_t> bytes = lq2x::write_file(in, file, &warning);
        return give(bytes, warning, out);
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
