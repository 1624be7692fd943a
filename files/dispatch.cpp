#include "dispatch.h"

#include <algorithm>
#include <cctype>
#include <optional>
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
    // Extensions that name a format by another word.
    constexpr std::pair<std::string_view, format> OTHER_NAMES[] = {
        {"apng", format::png}, {"cur", format::ico}, {"pbm", format::pgm}, {"dib", format::bmp}};
    for (const auto& [other, f] : OTHER_NAMES)
        if (word == other)
            return f;
    return format_called(word).value_or(format::same);
}

std::optional<format> format_called(std::string_view word)
{
    for (int f = int(format::png); f <= int(format::pcx); ++f)
        if (word == name_of(format(f)))
            return format(f);
    return std::nullopt;
}

bool writes(format f) { return std::find(std::begin(ALL_FORMATS), std::end(ALL_FORMATS), f) != std::end(ALL_FORMATS); }

format output_format(format input) { return writes(input) ? input : format::png; }

std::optional<std::pair<std::int64_t, std::int64_t>> header_size(std::span<const std::uint8_t> head)
{
    const auto at = [&](std::size_t i) { return std::uint32_t(head[i]); };
    const auto little = [&](std::size_t i, int bytes) {
        std::uint32_t v = 0;
        for (int b = bytes - 1; b >= 0; --b)
            v = v << 8 | at(i + std::size_t(b));
        return v;
    };
    const auto has = [&](std::size_t bytes) { return head.size() >= bytes; };
    const auto text = [&](std::size_t i, std::string_view t) {
        return has(i + t.size()) && std::equal(t.begin(), t.end(), head.begin() + std::ptrdiff_t(i));
    };
    switch (sniff(head)) {
    case format::png:
        if (!text(12, "IHDR") || !has(24))
            return std::nullopt;
        return std::pair{std::int64_t(at(16) << 24 | at(17) << 16 | at(18) << 8 | at(19)),
                         std::int64_t(at(20) << 24 | at(21) << 16 | at(22) << 8 | at(23))};
    case format::gif:
        if (!has(10))
            return std::nullopt;
        return std::pair{std::int64_t(little(6, 2)), std::int64_t(little(8, 2))};
    case format::webp:
        // The canvas of an extended file; else the one bitstream's size.
        if (text(12, "VP8X") && has(30))
            return std::pair{std::int64_t(little(24, 3)) + 1, std::int64_t(little(27, 3)) + 1};
        if (text(12, "VP8L") && has(25) && at(20) == 0x2F) {
            const std::uint32_t bits = little(21, 4);
            return std::pair{std::int64_t(bits & 0x3FFF) + 1, std::int64_t(bits >> 14 & 0x3FFF) + 1};
        }
        if (text(12, "VP8 ") && has(30) && at(23) == 0x9D && at(24) == 0x01 && at(25) == 0x2A)
            return std::pair{std::int64_t(little(26, 2) & 0x3FFF), std::int64_t(little(28, 2) & 0x3FFF)};
        return std::nullopt;
    default:
        // The project's own readers check their header's size before anything else.
        return std::nullopt;
    }
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
    // A picture too large is refused in the same words whatever its format,
    // before a decoder with limits of its own reads the header.
    if (!opt.raw_size)
        if (const auto size = header_size(data))
            check_size(size->first, size->second, opt.limit);
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

std::vector<std::uint8_t> encode_animation(const animation& anim, format f, const encode_options& opt,
                                           std::vector<std::string>* not_exact)
{
    f = output_format(f); // a format only read, or none: PNG
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
                          " holds one picture: pick one ({frame}), or write png, gif or webp");
        return encode(anim.frames.front().picture, f, opt);
    }
}

std::vector<std::uint8_t> encode(const image& img, format f, const encode_options& opt)
{
    f = output_format(f); // a format only read, or none: PNG
    switch (f) {
    case format::png: return encode_png(img, opt.png_level, opt.threads);
    case format::raw: return encode_raw(img);
    case format::gif:
    case format::webp: return encode_animation(still(img), f, opt);
    default: return encode_pnm(img, f);
    }
}

} // namespace lq2x::files
