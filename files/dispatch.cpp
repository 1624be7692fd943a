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
        case '1': // bitmaps are read as grey
        case '2':
        case '4':
        case '5': return format::pgm;
        case '3':
        case '6': return format::ppm;
        case '7': return format::pam;
        }
    if (starts(0, "BM"))
        return format::bmp;
    // ICO (type 1) and CUR (type 2): a zero word, the type, a count of images.
    if (data.size() >= 6 && data[0] == 0 && data[1] == 0 && (data[2] == 1 || data[2] == 2) && data[3] == 0 &&
        (data[4] != 0 || data[5] != 0))
        return format::ico;
    // PCX: its maker's byte, a version, RLE or none, bits a plane.
    if (data.size() >= 4 && data[0] == 0x0A && data[1] <= 5 && data[1] != 1 && data[2] <= 1 &&
        (data[3] == 1 || data[3] == 2 || data[3] == 4 || data[3] == 8))
        return format::pcx;
    if (looks_like_tga(data, true))
        return format::tga;
    return format::same;
}

namespace {

[[noreturn]] void refuse(std::span<const std::uint8_t> data)
{
    throw failure(data.empty() ? "empty file"
                               : "not a PNG, GIF, WebP, PBM, PGM, PPM, PAM, BMP, TGA, ICO, CUR or PCX image");
}

// Formats read only: a result read from one of them is written as PNG.
bool read_only(format f) { return f == format::bmp || f == format::tga || f == format::ico || f == format::pcx; }

} // namespace

void check_signature(std::span<const std::uint8_t> head, const decode_options& opt)
{
    // A TGA header is 18 bytes, more than a head may hold: its first 16 are checked.
    if (sniff(head, opt) == format::same && !looks_like_tga(head, false))
        refuse(head);
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
    switch (sniff(data, opt)) {
    case format::png: return decode_png_animation(data, opt.limit);
    case format::gif: return decode_gif(data, opt.limit);
    case format::webp: return decode_webp(data, opt.limit);
    case format::raw: return still(decode_raw(data, opt.raw_size->first, opt.raw_size->second, opt.limit));
    case format::bmp: return still(decode_bmp(data, opt.limit));
    case format::tga: return still(decode_tga(data, opt.limit));
    case format::ico: return still(decode_ico(data, opt.icon_image, opt.limit));
    case format::pcx: return still(decode_pcx(data, opt.limit));
    case format::pgm:
    case format::ppm:
    case format::pam: return still(decode_pnm(data, opt.limit));
    default:
        // A header that looks like a TGA's but is not a whole one: say what is wrong with it.
        if (data.size() >= 16 && looks_like_tga(data.first(16), false))
            throw failure(tga_problem(data, true));
        refuse(data);
    }
}

image decode(std::span<const std::uint8_t> data, const decode_options& opt)
{
    return std::move(decode_animation(data, opt).frames.front().picture);
}

std::vector<std::uint8_t> encode_animation(const animation& anim, format f, const encode_options& opt)
{
    if (read_only(f))
        f = format::png;
    switch (f) {
    case format::gif: return encode_gif(anim);
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
    if (read_only(f))
        f = format::png;
    switch (f) {
    case format::png: return encode_png(img, opt.png_level, opt.threads);
    case format::raw: return encode_raw(img);
    case format::gif:
    case format::webp: return encode_animation(still(img), f, opt);
    default: return encode_pnm(img, f);
    }
}

} // namespace lq2x::files
