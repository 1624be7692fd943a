// TGA read: colour-mapped (8- or 16-bit indices into 15-, 16-, 24- or
// 32-bit entries), true colour of 15, 16, 24 or 32 bits, grey of 8 bits or
// 16 (grey and alpha), each plain or RLE; rows in any of the four corner
// orders the descriptor names.
//
// Alpha as ImageMagick reads it, which Pillow mostly shares: a 32-bit pixel
// or map entry's fourth byte always (the descriptor's alpha bits and the
// extension area's attribute type are often wrong, and neither decoder
// looks at them for it); a 16-bit pixel's top bit only when the descriptor
// gives it an alpha bit; a 15- or 16-bit map entry is opaque; 16-bit grey
// is grey and alpha, as Pillow reads it (ImageMagick takes it for one
// 16-bit sample). An index past the colour map is opaque black, as the BMP
// reader takes one past its palette.
//
// TGA has no signature, so what is taken for one is checked strictly:
// every header field in its range and the file long enough for what the
// header says (tga_problem).
#include <algorithm>
#include <array>
#include <string>

#include "formats.h"

namespace lq2x::files {
namespace {

constexpr std::size_t HEADER = 18;

std::uint32_t u16(std::span<const std::uint8_t> d, std::size_t at) { return std::uint32_t(d[at] | d[at + 1] << 8); }

struct tga_header {
    std::size_t id_length, map_type, type, map_first, map_length, map_bits, width, height, bits, descriptor;

    explicit tga_header(std::span<const std::uint8_t> d)
        : id_length(d[0]), map_type(d[1]), type(d[2]), map_first(u16(d, 3)), map_length(u16(d, 5)), map_bits(d[7]),
          width(u16(d, 12)), height(u16(d, 14)), bits(d.size() > 16 ? d[16] : 0), descriptor(d.size() > 17 ? d[17] : 0)
    {
    }
    bool mapped() const { return (type & 7) == 1; }
    bool grey() const { return (type & 7) == 3; }
    bool rle() const { return type >= 9; }
    std::size_t pixel_bytes() const { return (bits + 7) / 8; }
    std::size_t map_bytes() const { return map_type == 1 ? map_length * ((map_bits + 7) / 8) : 0; }
    std::size_t pixels_at() const { return HEADER + id_length + map_bytes(); }
};

bool valid_entry(std::size_t bits) { return bits == 15 || bits == 16 || bits == 24 || bits == 32; }

// A 15- or 16-bit pixel (5 bits a channel, red highest), each channel
// scaled as ImageMagick and Pillow both scale it: v * 255 / 31, rounded down.
pixel8888 from_555(std::uint32_t v, bool alpha)
{
    const auto five = [](std::uint32_t c) { return std::uint8_t((c & 31) * 255 / 31); };
    return rgba(five(v >> 10), five(v >> 5), five(v), alpha && (v & 0x8000) == 0 ? 0 : 0xFF);
}

} // namespace

std::string tga_problem(std::span<const std::uint8_t> data, bool whole)
{
    if (data.size() < 16 || (whole && data.size() < HEADER))
        return "truncated TGA header";
    const tga_header h(data);
    if (h.map_type > 1)
        return "TGA colour map type " + std::to_string(h.map_type) + ", which is neither 0 nor 1";
    if (h.type != 1 && h.type != 2 && h.type != 3 && h.type != 9 && h.type != 10 && h.type != 11)
        return "TGA image type " + std::to_string(h.type) + ", which is not read (1, 2, 3, 9, 10 and 11 are)";
    if (h.map_type == 1 ? !valid_entry(h.map_bits) || h.map_length == 0
                        : h.map_first != 0 || h.map_length != 0 || (h.map_bits != 0 && !valid_entry(h.map_bits)))
        return "TGA colour map of " + std::to_string(h.map_length) + " entries of " + std::to_string(h.map_bits) +
               " bits, which no file has";
    if (h.mapped() && h.map_type != 1)
        return "colour-mapped TGA without a colour map";
    if (h.width == 0 || h.height == 0)
        return "image has no pixels (" + std::to_string(h.width) + " x " + std::to_string(h.height) + ")";
    if (data.size() < HEADER)
        return {};
    const bool depth_ok = h.mapped() ? h.bits == 8 || h.bits == 16
                          : h.grey() ? h.bits == 8 || h.bits == 16
                                     : h.bits == 15 || h.bits == 16 || h.bits == 24 || h.bits == 32;
    if (!depth_ok)
        return "TGA of image type " + std::to_string(h.type) + " and " + std::to_string(h.bits) +
               " bits a pixel, which no file has";
    if ((h.descriptor & 0xC0) != 0 || (h.descriptor & 15) > 8)
        return "TGA image descriptor " + std::to_string(h.descriptor) + ", which no file has";
    if (!whole)
        return {};
    const std::size_t need = h.pixels_at() + (h.rle() ? 1 : h.width * h.height * h.pixel_bytes());
    if (data.size() < need)
        return "truncated TGA: " + std::to_string(need) + " bytes expected, " + std::to_string(data.size()) + " found";
    return {};
}

bool looks_like_tga(std::span<const std::uint8_t> data, bool whole) { return tga_problem(data, whole).empty(); }

image decode_tga(std::span<const std::uint8_t> data, size_limit limit)
{
    if (const std::string why = tga_problem(data, true); !why.empty())
        throw failure(why);
    const tga_header h(data);
    check_size(std::int64_t(h.width), std::int64_t(h.height), limit);
    // A packet of RLE gives at most 128 pixels: a file too short for its
    // pixels is refused before their memory is taken.
    if (h.rle() && h.width * h.height > (data.size() - h.pixels_at()) * 128)
        throw failure("truncated TGA: " + std::to_string(h.width * h.height) + " pixels cannot come from the " +
                      std::to_string(data.size() - h.pixels_at()) + " bytes of RLE data");

    // The colour map, whose first entry is index map_first.
    std::vector<pixel8888> map;
    bool map_alpha = false;
    if (h.mapped()) {
        const std::size_t entry = (h.map_bits + 7) / 8;
        map.resize(h.map_length);
        for (std::size_t i = 0; i < h.map_length; ++i) {
            const std::uint8_t* p = data.data() + HEADER + h.id_length + i * entry;
            map[i] = entry == 2 ? from_555(std::uint32_t(p[0] | p[1] << 8), false)
                                : rgba(p[2], p[1], p[0], entry == 4 ? p[3] : 0xFF);
            map_alpha |= entry == 4;
        }
    }
    const bool alpha16 = h.bits == 16 && (h.descriptor & 15) != 0;
    const std::size_t size = h.pixel_bytes();
    const auto pixel = [&](const std::uint8_t* p) -> pixel8888 {
        if (h.mapped()) {
            const std::size_t index = size == 2 ? std::size_t(p[0] | p[1] << 8) : p[0];
            return index >= h.map_first && index - h.map_first < map.size() ? map[index - h.map_first]
                                                                           : rgba(0, 0, 0, 0xFF);
        }
        if (h.grey())
            return rgba(p[0], p[0], p[0], size == 2 ? p[1] : 0xFF);
        if (size == 2)
            return from_555(std::uint32_t(p[0] | p[1] << 8), alpha16);
        return rgba(p[2], p[1], p[0], size == 4 ? p[3] : 0xFF);
    };

    const std::size_t width = h.width, height = h.height, count = width * height;
    image img{int(width), int(height),
              h.grey() ? (size == 2 ? layout::grey_alpha : layout::grey)
              : (h.mapped() ? map_alpha : size == 4 || alpha16) ? layout::rgba
                                                                 : layout::rgb,
              std::vector<pixel8888>(count)};
    // Pixels in the file's order; the descriptor's bits 4 and 5 say whether
    // rows run right to left and whether the first row is the top.
    const bool right_to_left = (h.descriptor & 0x10) != 0, top_first = (h.descriptor & 0x20) != 0;
    const auto put = [&](std::size_t i, pixel8888 p) {
        const std::size_t row = i / width, column = i % width;
        img.pixels[(top_first ? row : height - 1 - row) * width + (right_to_left ? width - 1 - column : column)] = p;
    };
    std::size_t at = h.pixels_at();
    if (!h.rle()) {
        for (std::size_t i = 0; i < count; ++i, at += size)
            put(i, pixel(data.data() + at));
        return img;
    }
    // RLE packets: a header byte (its top bit set for a run of one pixel
    // repeated), 1 to 128 pixels; runs may cross rows, as writers make them.
    for (std::size_t i = 0; i < count;) {
        if (at >= data.size())
            throw failure("truncated TGA: its RLE data ends at pixel " + std::to_string(i) + " of " + std::to_string(count));
        const bool run = (data[at] & 0x80) != 0;
        const std::size_t n = (data[at] & 0x7F) + 1u;
        ++at;
        if (n > count - i)
            throw failure("corrupt TGA: an RLE packet of " + std::to_string(n) + " pixels past the end of the picture");
        const std::size_t bytes = run ? size : n * size;
        if (data.size() - at < bytes)
            throw failure("truncated TGA: its RLE data ends inside a packet");
        for (std::size_t k = 0; k < n; ++k, ++i)
            put(i, pixel(data.data() + at + (run ? 0 : k * size)));
        at += bytes;
    }
    return img;
}

} // namespace lq2x::files
