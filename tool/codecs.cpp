#include "codecs.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

namespace tool {

void check_size(std::int64_t width, std::int64_t height, size_limit limit)
{
    if (width <= 0 || height <= 0)
        throw failure("image has no pixels (" + std::to_string(width) + " x " + std::to_string(height) + ")");
    if (width > MAX_SIDE || height > MAX_SIDE ||
        std::uint64_t(width) * std::uint64_t(height) > limit.max_input_pixels())
        throw failure("image too large: " + std::to_string(width) + " x " + std::to_string(height) +
                      " pixels, over the limit of " + std::to_string(limit.max_pixels) +
                      " output pixels (--max-pixels raises it)");
}

std::optional<format> sniff(std::span<const std::uint8_t> data, const decode_options& opt)
{
    if (opt.raw_size)
        return format::raw;
    if (data.size() >= sizeof PNG_SIGNATURE && std::equal(std::begin(PNG_SIGNATURE), std::end(PNG_SIGNATURE), data.begin()))
        return format::png;
    const auto starts = [&](std::size_t at, std::string_view text) {
        return data.size() >= at + text.size() && std::equal(text.begin(), text.end(), data.begin() + std::ptrdiff_t(at));
    };
    if (starts(0, "GIF87a") || starts(0, "GIF89a"))
        return format::gif;
    if (starts(0, "RIFF") && starts(8, "WEBP"))
        return format::webp;
    if (data.size() >= 2 && data[0] == 'P')
        switch (data[1]) {
        case '5': return format::pgm;
        case '6': return format::ppm;
        case '7': return format::pam;
        }
    return std::nullopt;
}

void check_signature(std::span<const std::uint8_t> head, const decode_options& opt)
{
    if (!sniff(head, opt))
        throw failure(head.empty() ? "empty file" : "not a PNG, GIF, WebP, PPM, PGM or PAM image");
}

read_limit input_limit(const decode_options& opt)
{
    if (opt.raw_size) {
        const auto [width, height] = *opt.raw_size;
        check_size(width, height, opt.limit);
        const std::uint64_t bytes = std::uint64_t(width) * std::uint64_t(height) * 3;
        return {bytes, "raw RGB of " + std::to_string(width) + " x " + std::to_string(height) + " is " +
                           std::to_string(bytes) + " bytes, the input has more"};
    }
    constexpr std::uint64_t MOST_PER_PIXEL = 10, ROOM = 16 << 20;
    const std::uint64_t bytes = opt.limit.max_input_pixels() * MOST_PER_PIXEL + ROOM;
    return {bytes, "input too large: over " + std::to_string(bytes) + " bytes, more than an image within the limit of " +
                       std::to_string(opt.limit.max_pixels) + " output pixels takes (--max-pixels raises it)"};
}

std::uint32_t frame_delay::in_units(std::uint32_t unit, std::uint32_t most) const
{
    if (denominator == 0) // animated PNG: a zero denominator means hundredths
        return frame_delay{numerator, 100}.in_units(unit, most);
    const std::uint64_t units = (std::uint64_t(numerator) * unit + denominator / 2) / denominator;
    return std::uint32_t(std::min<std::uint64_t>(units, most));
}

void check_frames(std::uint64_t count, std::int64_t width, std::int64_t height, size_limit limit)
{
    check_size(width, height, limit);
    const std::uint64_t most = limit.max_input_pixels() / (std::uint64_t(width) * std::uint64_t(height));
    if (count > most)
        throw failure("animation too large: " + std::to_string(count) + " frames of " + std::to_string(width) + " x " +
                      std::to_string(height) + " pixels, over the limit of " + std::to_string(limit.max_pixels) +
                      " output pixels for all frames together (--max-pixels raises it)");
}

void before_frame(std::span<const pixel8888> canvas, std::size_t canvas_width, rectangle r, disposal d,
                  std::vector<pixel8888>& saved)
{
    if (d != disposal::restore)
        return;
    saved.resize(r.width * r.height);
    for (std::size_t y = 0; y < r.height; ++y)
        std::copy_n(canvas.begin() + std::ptrdiff_t((r.y + y) * canvas_width + r.x), r.width,
                    saved.begin() + std::ptrdiff_t(y * r.width));
}

void after_frame(std::span<pixel8888> canvas, std::size_t canvas_width, rectangle r, disposal d,
                 std::span<const pixel8888> saved)
{
    for (std::size_t y = 0; y < r.height && d != disposal::keep; ++y) {
        const auto row = canvas.begin() + std::ptrdiff_t((r.y + y) * canvas_width + r.x);
        if (d == disposal::clear)
            std::fill_n(row, r.width, pixel8888{0});
        else
            std::copy_n(saved.begin() + std::ptrdiff_t(y * r.width), r.width, row);
    }
}

animation decode_animation(std::span<const std::uint8_t> data, const decode_options& opt)
{
    check_signature(data, opt);
    const auto still = [](image img) {
        animation a;
        a.frames.push_back({std::move(img), {}});
        return a;
    };
    switch (*sniff(data, opt)) {
    case format::png: return decode_png_animation(data, opt.limit);
    case format::gif: return decode_gif(data, opt.limit);
    case format::webp: return decode_webp(data, opt.limit);
    case format::raw: return still(decode_raw(data, opt.raw_size->first, opt.raw_size->second, opt.limit));
    default: return still(decode_pnm(data, opt.limit));
    }
}

image decode(std::span<const std::uint8_t> data, const decode_options& opt)
{
    return std::move(decode_animation(data, opt).frames.front().picture);
}

image decode_raw(std::span<const std::uint8_t> data, int width, int height, size_limit limit)
{
    check_size(width, height, limit);
    const std::size_t want = std::size_t(width) * std::size_t(height) * 3;
    if (data.size() != want)
        throw failure("raw RGB of " + std::to_string(width) + " x " + std::to_string(height) + " is " +
                      std::to_string(want) + " bytes, the file has " + std::to_string(data.size()));
    image img{width, height, layout::rgb, std::vector<pixel8888>(std::size_t(width) * height)};
    std::uint8_t* out = img.bytes();
    for (std::size_t i = 0; i < img.pixels.size(); ++i) {
        std::memcpy(out + 4 * i, data.data() + 3 * i, 3);
        out[4 * i + 3] = 0xFF;
    }
    return img;
}

std::vector<std::uint8_t> encode_raw(const image& img)
{
    std::vector<std::uint8_t> out(img.pixels.size() * 3);
    const std::uint8_t* in = img.bytes();
    for (std::size_t i = 0; i < img.pixels.size(); ++i)
        std::memcpy(out.data() + 3 * i, in + 4 * i, 3);
    return out;
}

std::vector<std::uint8_t> encode_animation(const animation& anim, format f, const encode_options& opt)
{
    switch (f) {
    case format::gif: return encode_gif(anim);
    case format::webp: return encode_webp(anim);
    case format::png:
        if (anim.animated)
            return encode_png_animation(anim, opt.png_level, opt.threads);
        [[fallthrough]];
    default:
        if (anim.frames.size() != 1)
            throw failure(std::to_string(anim.frames.size()) + " frames, and " + format_name(f) +
                          " holds one picture: pick one with --frame N, or write .png, .gif or .webp");
        return encode(anim.frames.front().picture, f, opt);
    }
}

std::vector<std::uint8_t> encode(const image& img, format f, const encode_options& opt)
{
    switch (f) {
    case format::png: return encode_png(img, opt.png_level, opt.threads);
    case format::raw: return encode_raw(img);
    case format::gif:
    case format::webp: {
        animation a;
        a.frames.push_back({img, {}});
        return encode_animation(a, f, opt);
    }
    default: return encode_pnm(img, f);
    }
}

std::optional<format> format_from_word(const std::string& word)
{
    std::string w = word;
    std::transform(w.begin(), w.end(), w.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    for (const format f : ALL_FORMATS)
        if (w == format_name(f))
            return f;
    return std::nullopt;
}

std::optional<format> format_for_name(const std::string& name)
{
    const auto dot = name.find_last_of('.');
    const auto slash = name.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return std::nullopt;
    return format_from_word(name.substr(dot + 1));
}

const char* format_name(format f)
{
    switch (f) {
    case format::png: return "png";
    case format::pnm: return "pnm";
    case format::pgm: return "pgm";
    case format::ppm: return "ppm";
    case format::pam: return "pam";
    case format::raw: return "raw";
    case format::gif: return "gif";
    case format::webp: return "webp";
    }
    return "?";
}

} // namespace tool
