// PNG output: the colour type and depth chosen from the pixels, rows packed
// in bands and compressed on every thread given into one zlib stream.
#include "png_write.h"

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cstring>

#include "codecs.h"
#include "deflate_bands.h"
#include "large_buffer.h"

namespace tool {
namespace {

// Byte i (R, G, B, A) of a pixel stored as those bytes in memory order.
constexpr unsigned byte_of(pixel8888 p, int i)
{
    const int shift = std::endian::native == std::endian::little ? 8 * i : 8 * (3 - i);
    return (p >> shift) & 0xFF;
}

constexpr pixel8888 ALPHA_BITS = std::endian::native == std::endian::little ? 0xFF000000u : 0x000000FFu;

unsigned alpha_of(pixel8888 p) { return byte_of(p, 3); }
bool grey(pixel8888 p) { return byte_of(p, 0) == byte_of(p, 1) && byte_of(p, 1) == byte_of(p, 2); }

// The step between grey levels a sample of `depth` bits can hold: a d-bit
// sample s reads back as s * 255 / (2^d - 1), which is exact for 1, 2, 4, 8.
constexpr unsigned grey_step(int depth) { return 255u / ((1u << depth) - 1u); }

// Everything choose_form needs to know, from one pass over the pixels.
struct survey {
    bool all_grey = true, opaque = true;
    bool binary_alpha = true;  // every alpha 0 or 255
    bool one_clear = true;     // every pixel with alpha 0 the same colour
    bool any_clear = false;
    pixel8888 clear = 0;       // that colour
    int grey_depth = 1;        // fewest bits that hold every grey level
    std::vector<pixel8888> colours; // in order of first appearance, up to 257
};

survey look(std::span<const image* const> imgs)
{
    survey s;
    palette_lookup seen;
    bool counting = true;
    for (const image* const one : imgs) {
        const image& img = *one;
        bool first = true;
        pixel8888 last = 0;
        for (const pixel8888 raw : img.pixels) {
            const pixel8888 p = visible(raw, img.kind);
            if (p == last && !first)
                continue; // pixel art repeats: runs cost one comparison a pixel
            first = false;
            last = p;
            if (const unsigned a = alpha_of(p); a != 255) {
                s.opaque = false;
                if (a != 0)
                    s.binary_alpha = false;
                else if (!s.any_clear) {
                    s.any_clear = true;
                    s.clear = p;
                } else if (p != s.clear)
                    s.one_clear = false;
            }
            if (!grey(p))
                s.all_grey = false;
            else
                while (s.grey_depth < 8 && byte_of(p, 0) % grey_step(s.grey_depth) != 0)
                    s.grey_depth *= 2;
            if (counting && seen.add(p)) {
                s.colours.push_back(p);
                counting = s.colours.size() <= 256;
            }
            if (!counting && !s.all_grey && !s.binary_alpha)
                return s; // RGBA it is: nothing further can change the choice
        }
    }
    return s;
}

// Whether any opaque pixel has the colour a tRNS key would make clear.
bool key_taken(std::span<const image* const> imgs, pixel8888 key)
{
    const pixel8888 shown = key | ALPHA_BITS;
    return std::any_of(imgs.begin(), imgs.end(), [&](const image* img) {
        return std::any_of(img->pixels.begin(), img->pixels.end(),
                           [&](pixel8888 raw) { return visible(raw, img->kind) == shown; });
    });
}

int palette_depth(std::size_t colours) { return colours <= 2 ? 1 : colours <= 4 ? 2 : colours <= 16 ? 4 : 8; }

} // namespace

void put32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(std::uint8_t(v >> shift));
}

void put_chunk(std::vector<std::uint8_t>& out, const char type[4], std::span<const std::uint8_t> data)
{
    put32(out, std::uint32_t(data.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    put32(out, std::uint32_t(crc32(0, out.data() + start, uInt(out.size() - start))));
}

namespace {

} // namespace

int png_form::bits_per_pixel() const
{
    switch (colour) {
    case png_colour::grey:
    case png_colour::palette: return depth;
    case png_colour::grey_alpha: return 2 * depth;
    case png_colour::rgb: return 3 * depth;
    case png_colour::rgba: return 4 * depth;
    }
    return 4 * depth;
}

pixel8888 visible(pixel8888 p, layout kind) { return has_alpha(kind) ? p : p | ALPHA_BITS; }

png_form choose_form(const image& img)
{
    const image* const one = &img;
    return choose_form(std::span(&one, 1));
}

png_form choose_form(std::span<const image* const> imgs)
{
    const survey s = look(imgs);
    png_form best;
    // Without a palette: no alpha channel when every pixel is opaque, or
    // when the only clear pixels share one colour no opaque pixel has.
    const bool keyable = !s.opaque && s.binary_alpha && s.one_clear;
    const bool bare = s.opaque || keyable;
    best.colour = s.all_grey ? (bare ? png_colour::grey : png_colour::grey_alpha) : (bare ? png_colour::rgb : png_colour::rgba);
    best.depth = best.colour == png_colour::grey ? s.grey_depth : 8;
    best.keyed = keyable;
    best.key = s.clear;
    const bool palette_fits = s.colours.size() <= 256;
    const int palette_bits = palette_depth(s.colours.size());
    if (keyable && !(palette_fits && palette_bits < best.bits_per_pixel()) && key_taken(imgs, s.clear)) {
        best.colour = s.all_grey ? png_colour::grey_alpha : png_colour::rgba;
        best.depth = 8;
        best.keyed = false;
    }
    if (palette_fits && palette_bits < best.bits_per_pixel()) {
        best = png_form{};
        best.colour = png_colour::palette;
        best.depth = palette_bits;
        best.palette = s.colours;
        const auto opaque_from = std::stable_partition(best.palette.begin(), best.palette.end(),
                                                       [](pixel8888 p) { return alpha_of(p) != 255; });
        best.translucent = int(opaque_from - best.palette.begin());
    }
    return best;
}

palette_lookup::palette_lookup(std::span<const pixel8888> palette)
{
    for (const pixel8888 p : palette)
        add(p);
}

std::size_t palette_lookup::slot(pixel8888 p) const
{
    std::size_t i = (p * 0x9E3779B1u) >> 22 & (SLOTS - 1);
    while (at_[i] >= 0 && keys_[i] != p)
        i = (i + 1) & (SLOTS - 1);
    return i;
}

bool palette_lookup::add(pixel8888 p)
{
    const std::size_t i = slot(p);
    if (at_[i] >= 0)
        return false;
    keys_[i] = p;
    at_[i] = std::int16_t(count_++);
    return true;
}

std::uint8_t palette_lookup::index(pixel8888 p) const { return std::uint8_t(std::max<std::int16_t>(at_[slot(p)], 0)); }

void pack_row(const png_form& form, const palette_lookup* lookup, std::span<const pixel8888> row, layout kind,
              std::span<std::uint8_t> out)
{
    std::uint8_t* o = out.data();
    if (form.depth < 8 || form.colour == png_colour::palette) {
        // One sample a pixel, packed from the high bits of each byte.
        const bool palette = form.colour == png_colour::palette;
        const unsigned step = palette ? 1 : grey_step(form.depth);
        const int per_byte = 8 / form.depth;
        const bool whole_bytes = form.depth == 8;
        if (!whole_bytes)
            std::fill(out.begin(), out.end(), std::uint8_t{0});
        pixel8888 last = ~visible(row[0], kind);
        unsigned sample = 0;
        for (std::size_t x = 0; x < row.size(); ++x) {
            if (const pixel8888 p = visible(row[x], kind); p != last) {
                last = p;
                sample = palette ? lookup->index(last) : byte_of(last, 0) / step;
            }
            if (whole_bytes) {
                o[x] = std::uint8_t(sample);
                continue;
            }
            const int shift = 8 - form.depth * int(x % per_byte + 1);
            o[x / per_byte] |= std::uint8_t(sample << shift);
        }
        return;
    }
    if (form.colour == png_colour::rgba && has_alpha(kind)) { // the pixels as they are
        std::memcpy(o, row.data(), row.size_bytes());
        return;
    }
    for (const pixel8888 raw : row) {
        const pixel8888 p = visible(raw, kind);
        switch (form.colour) {
        case png_colour::grey: *o++ = std::uint8_t(byte_of(p, 0)); break;
        case png_colour::grey_alpha:
            *o++ = std::uint8_t(byte_of(p, 0));
            *o++ = std::uint8_t(byte_of(p, 3));
            break;
        case png_colour::rgb:
            for (int c = 0; c < 3; ++c)
                *o++ = std::uint8_t(byte_of(p, c));
            break;
        default:
            std::memcpy(o, &p, 4);
            o += 4;
        }
    }
}

std::vector<std::uint8_t> encode_png(const image& img, int level, int threads)
{
    return encode_png(img, choose_form(img), level, threads);
}

std::vector<std::uint8_t> encode_png(const image& img, const png_form& form, int level, int threads)
{
    const std::optional<palette_lookup> lookup =
        form.colour == png_colour::palette ? std::optional<palette_lookup>(form.palette) : std::nullopt;
    const std::size_t row_bytes = form.row_bytes(img.width);

    std::vector<std::uint8_t> head(std::begin(PNG_SIGNATURE), std::end(PNG_SIGNATURE));
    std::vector<std::uint8_t> data;
    put32(data, std::uint32_t(img.width));
    put32(data, std::uint32_t(img.height));
    data.insert(data.end(), {std::uint8_t(form.depth), std::uint8_t(form.colour), 0, 0, 0});
    put_chunk(head, "IHDR", data);
    if (form.colour == png_colour::palette) {
        data.clear();
        for (const pixel8888 p : form.palette)
            for (int c = 0; c < 3; ++c)
                data.push_back(std::uint8_t(byte_of(p, c)));
        put_chunk(head, "PLTE", data);
        if (form.translucent > 0) {
            data.clear();
            for (int i = 0; i < form.translucent; ++i)
                data.push_back(std::uint8_t(alpha_of(form.palette[std::size_t(i)])));
            put_chunk(head, "tRNS", data);
        }
    } else if (form.keyed) {
        // The key is given as 16-bit samples at the image's depth.
        data.clear();
        const unsigned step = grey_step(form.depth);
        const int samples = form.colour == png_colour::grey ? 1 : 3;
        for (int c = 0; c < samples; ++c)
            data.insert(data.end(), {0, std::uint8_t(byte_of(form.key, c) / step)});
        put_chunk(head, "tRNS", data);
    }

    // Each row: filter byte 0 (none), then the packed samples. Scaled pixel
    // art repeats runs of identical pixels and rows, which deflate's matches
    // catch as they are; filters break them up (every filter set tried wrote
    // larger files, and more slowly).
    const auto make_rows = [&](int first, int count, std::span<std::uint8_t> out) {
        for (int y = first; y < first + count; ++y) {
            std::uint8_t* row = out.data() + std::size_t(y - first) * (row_bytes + 1);
            row[0] = 0;
            pack_row(form, lookup ? &*lookup : nullptr,
                     {img.pixels.data() + std::size_t(y) * std::size_t(img.width), std::size_t(img.width)}, img.kind,
                     {row + 1, row_bytes});
        }
    };
    // The stream goes into IDAT chunks of at most 2^30 bytes (a chunk holds
    // under 2^31) as it comes. Room for the most it can take is reserved:
    // pages never written cost address space, not memory, and the file is
    // never copied to grow.
    constexpr std::size_t MAX_CHUNK = std::size_t{1} << 30;
    const std::size_t rows_total = (row_bytes + 1) * std::size_t(img.height);
    std::vector<std::uint8_t> out = std::move(head);
    reserve_large(out, out.size() + rows_total + rows_total / 64 + 12 * (rows_total / MAX_CHUNK + 1) + 1024);
    std::size_t chunk_start = 0; // where the open chunk's length is; 0: none open
    const auto close_chunk = [&] {
        const std::size_t length = out.size() - chunk_start - 8;
        for (int i = 0; i < 4; ++i)
            out[chunk_start + std::size_t(i)] = std::uint8_t(length >> (24 - 8 * i));
        put32(out, std::uint32_t(crc32_z(0, out.data() + chunk_start + 4, length + 4)));
        chunk_start = 0;
    };
    deflate_rows({row_bytes + 1, img.height, make_rows}, level, threads, [&](std::span<const std::uint8_t> piece) {
        while (!piece.empty()) {
            if (chunk_start == 0) {
                chunk_start = out.size();
                out.insert(out.end(), {0, 0, 0, 0, 'I', 'D', 'A', 'T'});
            }
            const std::size_t n = std::min(piece.size(), MAX_CHUNK - (out.size() - chunk_start - 8));
            out.insert(out.end(), piece.begin(), piece.begin() + std::ptrdiff_t(n));
            piece = piece.subspan(n);
            if (out.size() - chunk_start - 8 == MAX_CHUNK)
                close_chunk();
        }
    });
    if (chunk_start != 0)
        close_chunk();
    put_chunk(out, "IEND", {});
    return out;
}

} // namespace tool
