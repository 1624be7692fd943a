#include "dispatch.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "formats.h"
#include "png_chunks.h"

namespace lq2x::files {

format sniff(std::span<const std::uint8_t> data, const decode_options& opt)
{
    if (opt.raw_size)
        return format::raw;
    if (has_png_signature(data))
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
    return format::same;
}

void check_signature(std::span<const std::uint8_t> head, const decode_options& opt)
{
    if (sniff(head, opt) == format::same)
        throw failure(head.empty() ? "empty file" : "not a PNG, GIF, WebP, PPM, PGM or PAM image");
}

format format_named(std::string_view name)
{
    const auto dot = name.find_last_of('.');
    const auto slash = name.find_last_of('/');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
        return format::same;
    std::string word(name.substr(dot + 1));
    std::transform(word.begin(), word.end(), word.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    for (const format f : ALL_FORMATS)
        if (word == name_of(f))
            return f;
    return format::same;
}

const char* name_of(format f)
{
    switch (f) {
    case format::same: return "";
    case format::png: return "png";
    case format::gif: return "gif";
    case format::webp: return "webp";
    case format::ppm: return "ppm";
    case format::pgm: return "pgm";
    case format::pam: return "pam";
    case format::pnm: return "pnm";
    case format::raw: return "raw";
    case format::bmp: return "bmp";
    case format::tga: return "tga";
    case format::ico: return "ico";
    case format::pcx: return "pcx";
    }
    return "";
}

animation decode_animation(std::span<const std::uint8_t> data, const decode_options& opt)
{
    check_signature(data, opt);
    switch (sniff(data, opt)) {
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

std::vector<std::uint8_t> encode_animation(const animation& anim, format f, const encode_options& opt,
                                           std::vector<std::string>* not_exact)
{
    switch (f) {
    case format::gif: return encode_gif(anim, opt.gif, not_exact);
    case format::webp: return encode_webp(anim);
    case format::png:
        if (anim.animated)
            return encode_png_animation(anim, opt.png_level, opt.threads);
        [[fallthrough]];
    default:
        if (anim.frames.size() != 1)
            throw failure(std::to_string(anim.frames.size()) + " frames, and " + name_of(f) +
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
    case format::webp: return encode_animation(still(img), f, opt);
    default: return encode_pnm(img, f);
    }
}

} // namespace lq2x::files
