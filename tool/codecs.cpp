#include "codecs.h"

#include <algorithm>
#include <cctype>
#include <cstring>

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
    static constexpr std::uint8_t PNG_SIGNATURE[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (opt.raw_size)
        return format::raw;
    if (data.size() >= sizeof PNG_SIGNATURE && std::equal(std::begin(PNG_SIGNATURE), std::end(PNG_SIGNATURE), data.begin()))
        return format::png;
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
        throw failure(head.empty() ? "empty file" : "not a PNG, PPM, PGM or PAM image");
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

image decode(std::span<const std::uint8_t> data, const decode_options& opt)
{
    check_signature(data, opt);
    switch (*sniff(data, opt)) {
    case format::png: return decode_png(data, opt.limit);
    case format::raw: return decode_raw(data, opt.raw_size->first, opt.raw_size->second, opt.limit);
    default: return decode_pnm(data, opt.limit);
    }
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

std::vector<std::uint8_t> encode(const image& img, format f, const encode_options& opt)
{
    switch (f) {
    case format::png: return encode_png(img, opt.png_level, opt.threads);
    case format::raw: return encode_raw(img);
    default: return encode_pnm(img, f);
    }
}

std::optional<format> format_from_word(const std::string& word)
{
    std::string w = word;
    std::transform(w.begin(), w.end(), w.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    for (const format f : {format::png, format::pnm, format::pgm, format::ppm, format::pam, format::raw})
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
    }
    return "?";
}

} // namespace tool
