// BMP read: Windows bitmaps (info headers of 40 to 124 bytes), OS/2 ones
// (the 12-byte core header and the 16- and 64-byte 2.x headers), and the
// bitmaps inside icons (ico_read). 1, 2, 4 and 8 bits through a palette,
// RLE8 and RLE4, 16 and 32 bits through colour masks, and 24 bits; rows
// bottom-up or, with a negative height, top-down.
//
// Choices where files and decoders differ:
// - A palette index past the palette's end is opaque black, as browsers
//   show it (ImageMagick takes entry 0 and warns).
// - Pixels an RLE bitmap leaves unwritten (skipped by a delta, or after an
//   early end of line or of bitmap) are transparent, as browsers show them
//   (ImageMagick and Pillow give palette entry 0); such a picture is RGBA.
// - 32-bit BI_RGB: the fourth byte is alpha unless it is 0 in every pixel,
//   as ImageMagick and browsers read it (Pillow ignores it); many writers
//   leave it 0, and their pictures would otherwise be invisible.
// - An alpha mask given (BI_BITFIELDS with a V3 to V5 header, or
//   BI_ALPHABITFIELDS) is used as it is, all-zero alpha too, as ImageMagick
//   and Pillow read it.
#include <algorithm>
#include <array>
#include <bit>
#include <optional>
#include <string>

#include "formats.h"

namespace lq2x::files {
namespace {

enum : std::uint32_t { BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3, BI_JPEG = 4, BI_PNG = 5, BI_ALPHABITFIELDS = 6 };

std::uint32_t u16(std::span<const std::uint8_t> d, std::size_t at) { return std::uint32_t(d[at] | d[at + 1] << 8); }
std::uint32_t u32(std::span<const std::uint8_t> d, std::size_t at)
{
    return u16(d, at) | u16(d, at + 2) << 16;
}

// One channel's bits in a 16- or 32-bit pixel, scaled to 8 bits as
// browsers and ImageMagick scale 5 and 6 bits: the bits repeated below
// themselves (v << 3 | v >> 2 for 5); past 8 bits, the top 8.
struct channel_mask {
    std::uint32_t mask = 0;
    int shift = 0, bits = 0;
    std::uint32_t top = 0; // the channel's largest value

    static channel_mask of(std::uint32_t mask, int bits, const char* name)
    {
        channel_mask c{mask};
        if (mask == 0)
            return c;
        c.shift = std::countr_zero(mask);
        c.top = mask >> c.shift;
        c.bits = std::popcount(c.top);
        if ((c.top & (c.top + 1)) != 0)
            throw failure(std::string("BMP ") + name + " mask's bits are not contiguous");
        if (bits < 32 && (mask >> bits) != 0)
            throw failure(std::string("BMP ") + name + " mask reaches past the pixel's " + std::to_string(bits) + " bits");
        return c;
    }
    std::uint8_t value(std::uint32_t pixel) const
    {
        if (top == 0)
            return 0;
        const std::uint32_t v = (pixel & mask) >> shift;
        if (bits >= 8)
            return std::uint8_t(v >> (bits - 8));
        std::uint32_t out = 0;
        for (int at = 8 - bits; at > -bits; at -= bits)
            out |= at >= 0 ? v << at : v >> -at;
        return std::uint8_t(out);
    }
};

// What the header says, checked against the file.
struct dib_header {
    std::int64_t width = 0, height = 0;
    bool top_down = false;
    int bits = 0;
    std::uint32_t compression = BI_RGB;
    std::array<channel_mask, 4> masks{}; // red, green, blue, alpha
    bool alpha_if_any = false;           // 32-bit BI_RGB: the fourth byte is alpha unless all zero
    std::vector<pixel8888> palette;
    std::size_t pixels_at = 0;
};

std::string compression_name(std::uint32_t c)
{
    switch (c) {
    case BI_JPEG: return "JPEG";
    case BI_PNG: return "PNG";
    }
    return "compression " + std::to_string(c);
}

// The header at `at`; `pixels_at` is where a BMP file's header says its
// pixels start (an icon's follow its palette).
dib_header read_header(std::span<const std::uint8_t> file, std::size_t at, std::optional<std::size_t> pixels_at,
                       bool icon, size_limit limit)
{
    if (file.size() < at || file.size() - at < 4)
        throw failure("truncated BMP header");
    const std::uint32_t size = u32(file, at);
    const bool core = size == 12, os2 = size == 16 || size == 64;
    if (!core && !os2 && (size < 40 || size > 4096))
        throw failure("BMP header of " + std::to_string(size) + " bytes, which no bitmap has");
    if (file.size() - at < size)
        throw failure("truncated BMP header: " + std::to_string(size) + " bytes, the file holds " +
                      std::to_string(file.size() - at));
    dib_header h;
    std::uint32_t colours_used = 0;
    if (core) {
        h.width = u16(file, at + 4);
        h.height = u16(file, at + 6);
        h.bits = int(u16(file, at + 10));
    } else {
        h.width = std::int32_t(u32(file, at + 4));
        h.height = std::int32_t(u32(file, at + 8));
        h.bits = int(u16(file, at + 14));
        if (size >= 20)
            h.compression = u32(file, at + 16);
        if (size >= 36)
            colours_used = u32(file, at + 32);
    }
    if (h.height < 0) {
        h.top_down = true;
        h.height = -h.height;
    }
    if (icon) // an icon's height counts its transparency mask too
        h.height /= 2;

    const std::uint32_t c = h.compression;
    const int b = h.bits;
    const bool valid = c == BI_RGB ? b == 1 || b == 2 || b == 4 || b == 8 || b == 16 || b == 24 || b == 32
                       : c == BI_RLE8                          ? b == 8
                       : c == BI_RLE4                          ? b == 4
                       : c == BI_BITFIELDS || c == BI_ALPHABITFIELDS ? b == 16 || b == 32
                                                               : false;
    if (os2 && c > BI_RLE4) // OS/2 numbers 3 and 4 are Huffman and RLE24
        throw failure("OS/2 bitmap of compression " + std::to_string(c) + " (Huffman or RLE24), which is not read");
    if (c == BI_JPEG || c == BI_PNG || c > BI_ALPHABITFIELDS)
        throw failure("BMP holding " + compression_name(c) + ", which is not read");
    if (!valid)
        throw failure("BMP of " + std::to_string(b) + " bits a pixel with " +
                      (c == BI_RGB ? std::string("no compression") : compression_name(c)) + ", which no bitmap has");
    if (h.top_down && (c == BI_RLE8 || c == BI_RLE4))
        throw failure("RLE bitmap stored top-down, which no bitmap may be");
    check_size(h.width, h.height, limit);

    // Colour masks: in a V2 or later header, or just after a 40-byte one.
    std::size_t after = at + size;
    if (c == BI_BITFIELDS || c == BI_ALPHABITFIELDS) {
        std::array<std::uint32_t, 4> m{};
        const std::size_t count = c == BI_ALPHABITFIELDS ? 4 : 3;
        if (size >= 52) {
            for (std::size_t i = 0; i < 3; ++i)
                m[i] = u32(file, at + 40 + 4 * i);
            if (size >= 56)
                m[3] = u32(file, at + 52);
        } else {
            if (file.size() - after < 4 * count)
                throw failure("truncated BMP: its colour masks end past the file");
            for (std::size_t i = 0; i < count; ++i)
                m[i] = u32(file, after + 4 * i);
            after += 4 * count;
        }
        const char* names[] = {"red", "green", "blue", "alpha"};
        for (std::size_t i = 0; i < 4; ++i)
            h.masks[i] = channel_mask::of(m[i], b, names[i]);
        if (h.masks[0].mask == 0 && h.masks[1].mask == 0 && h.masks[2].mask == 0)
            throw failure("BMP colour masks are all zero");
    } else if (b == 16) {
        h.masks = {channel_mask::of(0x7C00, 16, ""), channel_mask::of(0x03E0, 16, ""), channel_mask::of(0x001F, 16, ""), {}};
    } else if (b == 32) {
        h.masks = {channel_mask::of(0xFF0000, 32, ""), channel_mask::of(0xFF00, 32, ""), channel_mask::of(0xFF, 32, ""),
                   channel_mask::of(0xFF000000, 32, "")};
        h.alpha_if_any = true;
    }

    // The palette: as many entries as the header says (all 2^bits when it
    // says none), cut to what lies before the pixels.
    const std::size_t entry = core ? 3 : 4;
    std::size_t count = 0;
    if (b <= 8) {
        const std::size_t most = std::size_t(1) << b;
        count = colours_used != 0 && colours_used < most ? colours_used : most;
    } else if (icon) {
        count = std::min<std::size_t>(colours_used, 1 << 16); // unused, but an icon's pixels come after it
    }
    if (pixels_at) {
        if (*pixels_at < after)
            throw failure("BMP pixel offset " + std::to_string(*pixels_at) + " lies inside its header");
        count = std::min(count, (*pixels_at - after) / entry);
    }
    if ((file.size() - after) / entry < count)
        throw failure("truncated BMP: its palette of " + std::to_string(count) + " colours ends past the file");
    if (b <= 8) {
        h.palette.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t* p = file.data() + after + entry * i;
            h.palette[i] = rgba(p[2], p[1], p[0], 0xFF);
        }
    }
    h.pixels_at = pixels_at ? *pixels_at : after + entry * count;
    if (h.pixels_at > file.size())
        throw failure("BMP pixel offset " + std::to_string(h.pixels_at) + " lies past the end of the file (" +
                      std::to_string(file.size()) + " bytes)");
    return h;
}

// A palette entry; past the palette's end, opaque black (see the top).
pixel8888 colour(const dib_header& h, std::size_t index)
{
    return index < h.palette.size() ? h.palette[index] : rgba(0, 0, 0, 0xFF);
}

std::size_t row_bytes(const dib_header& h) { return std::size_t((std::uint64_t(h.width) * std::uint64_t(h.bits) + 31) / 32 * 4); }

// Uncompressed rows.
void read_rows(std::span<const std::uint8_t> file, const dib_header& h, image& img)
{
    const std::size_t stride = row_bytes(h);
    const std::size_t width = std::size_t(h.width), height = std::size_t(h.height);
    // The last row's padding may be missing: writers differ there.
    const std::size_t last = (width * std::size_t(h.bits) + 7) / 8;
    const std::size_t have = file.size() - h.pixels_at;
    if (have / stride < height - 1 || have - stride * (height - 1) < last)
        throw failure("truncated BMP: " + std::to_string(height) + " rows of " + std::to_string(stride) +
                      " bytes expected, " + std::to_string(have) + " bytes found");
    bool any_alpha = false;
    for (std::size_t r = 0; r < height; ++r) {
        const std::uint8_t* in = file.data() + h.pixels_at + r * stride;
        pixel8888* out = img.pixels.data() + (h.top_down ? r : height - 1 - r) * width;
        switch (h.bits) {
        case 1:
        case 2:
        case 4:
        case 8: {
            const int b = h.bits, per_byte = 8 / b;
            const unsigned low = (1u << b) - 1;
            for (std::size_t x = 0; x < width; ++x) {
                const int shift = 8 - b * (int(x % std::size_t(per_byte)) + 1);
                out[x] = colour(h, (unsigned(in[x / std::size_t(per_byte)]) >> shift) & low);
            }
            break;
        }
        case 24:
            for (std::size_t x = 0; x < width; ++x, in += 3)
                out[x] = rgba(in[2], in[1], in[0], 0xFF);
            break;
        default: {
            const auto& m = h.masks;
            for (std::size_t x = 0; x < width; ++x) {
                const std::uint32_t v = h.bits == 16 ? u16(file, std::size_t(in - file.data()) + 2 * x)
                                                     : u32(file, std::size_t(in - file.data()) + 4 * x);
                const std::uint8_t a = m[3].mask != 0 ? m[3].value(v) : 0xFF;
                any_alpha |= a != 0;
                out[x] = rgba(m[0].value(v), m[1].value(v), m[2].value(v), a);
            }
        }
        }
    }
    if (h.masks[3].mask == 0)
        return;
    if (h.alpha_if_any && !any_alpha) {
        for (pixel8888& p : img.pixels)
            p |= ALPHA_BITS;
        return;
    }
    img.kind = layout::rgba;
}

// RLE8 and RLE4, bottom-up: runs of one index (RLE4: two alternating),
// literal runs, end of line, end of bitmap and delta moves. A run may
// cover the row's padding, as ImageMagick writes them (those pixels are
// dropped); past that it is refused.
void read_rle(std::span<const std::uint8_t> file, const dib_header& h, image& img)
{
    const bool four = h.compression == BI_RLE4;
    const std::size_t width = std::size_t(h.width), height = std::size_t(h.height);
    const std::size_t room = row_bytes(h) * 8 / std::size_t(h.bits);
    std::size_t at = h.pixels_at, x = 0, y = 0; // y counts rows from the bottom
    const auto put = [&](std::size_t index) {
        if (y >= height)
            throw failure("corrupt BMP: an RLE run past the top of the picture");
        if (x >= room)
            throw failure("corrupt BMP: an RLE run past the end of row " + std::to_string(height - 1 - y));
        if (x < width)
            img.pixels[(height - 1 - y) * width + x] = colour(h, index);
        ++x;
    };
    bool ended = false;
    while (!ended) {
        if (file.size() - at < 2) {
            // A file that stops once every row is done has said all it holds.
            if (y >= height)
                break;
            throw failure("truncated BMP: its RLE data ends at row " + std::to_string(height - 1 - std::min(y, height - 1)));
        }
        const std::uint8_t count = file[at], value = file[at + 1];
        at += 2;
        if (count > 0) {
            for (unsigned i = 0; i < count; ++i)
                put(four ? (i % 2 == 0 ? value >> 4 : value & 15) : value);
            continue;
        }
        switch (value) {
        case 0: // end of line
            x = 0;
            ++y;
            break;
        case 1: // end of bitmap
            ended = true;
            break;
        case 2: { // delta: right and up
            if (file.size() - at < 2)
                throw failure("truncated BMP: its RLE data ends in a delta");
            x += file[at];
            y += file[at + 1];
            at += 2;
            if (x > width || (y >= height && !(y == height && x == 0)))
                throw failure("corrupt BMP: an RLE delta moves past the picture");
            break;
        }
        default: { // literal run of `value` indices, padded to 16 bits
            const std::size_t bytes = four ? (value + 1u) / 2 : value;
            if (file.size() - at < bytes)
                throw failure("truncated BMP: its RLE data ends in a literal run");
            for (unsigned i = 0; i < value; ++i)
                put(four ? (i % 2 == 0 ? file[at + i / 2] >> 4 : file[at + i / 2] & 15) : file[at + i]);
            at += bytes + bytes % 2;
            at = std::min(at, file.size());
        }
        }
    }
    // Every colour is opaque, so a pixel still clear (as the picture
    // started) was never written: transparent (see the top).
    if (std::any_of(img.pixels.begin(), img.pixels.end(), [](pixel8888 p) { return alpha_of(p) == 0; }))
        img.kind = layout::rgba;
}

image decode_dib(std::span<const std::uint8_t> file, std::size_t header_at, std::optional<std::size_t> pixels_at,
                 bool icon, size_limit limit)
{
    const dib_header h = read_header(file, header_at, pixels_at, icon, limit);
    image img{int(h.width), int(h.height), layout::rgb,
              std::vector<pixel8888>(std::size_t(h.width) * std::size_t(h.height))};
    if (h.compression == BI_RLE8 || h.compression == BI_RLE4)
        read_rle(file, h, img);
    else
        read_rows(file, h, img);
    if (!icon)
        return img;

    // The icon's transparency mask: a bit a pixel (1 clear), rows of 32-bit
    // words after the colour rows. A 32-bit image with alpha of its own
    // uses that; one whose alpha is all zero (older icons) uses the mask.
    const bool own_alpha = h.bits == 32 && img.kind == layout::rgba;
    const std::size_t stride = (std::size_t(h.width) + 31) / 32 * 4, height = std::size_t(h.height);
    const std::size_t mask_at = h.pixels_at + row_bytes(h) * height;
    const bool has_mask = mask_at <= file.size() && (file.size() - mask_at) / stride >= height;
    if (own_alpha)
        return img;
    if (!has_mask) {
        if (h.bits == 32)
            return img; // no mask and no alpha: opaque, as browsers show it
        throw failure("truncated icon: its transparency mask ends past the file");
    }
    for (std::size_t r = 0; r < height; ++r) {
        const std::uint8_t* in = file.data() + mask_at + r * stride;
        pixel8888* out = img.pixels.data() + (h.top_down ? r : height - 1 - r) * std::size_t(h.width);
        for (std::size_t x = 0; x < std::size_t(h.width); ++x)
            if ((in[x / 8] >> (7 - x % 8) & 1) != 0)
                out[x] = 0;
    }
    img.kind = layout_of_frame(img.pixels);
    return img;
}

} // namespace

image decode_bmp(std::span<const std::uint8_t> data, size_limit limit)
{
    if (data.size() < 18 || data[0] != 'B' || data[1] != 'M')
        throw failure(data.size() < 18 ? "truncated BMP header" : "not a BMP image");
    return decode_dib(data, 14, u32(data, 10), false, limit);
}

image decode_icon_bitmap(std::span<const std::uint8_t> bitmap, size_limit limit)
{
    return decode_dib(bitmap, 0, std::nullopt, true, limit);
}

} // namespace lq2x::files
