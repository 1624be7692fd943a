// PCX read, versions 0 to 5, RLE or uncompressed: one plane of 1, 2, 4 or
// 8 bits, two to four planes of 1 bit (EGA's 16 colours), and three or
// four planes of 8 bits (RGB, and RGBA as ImageMagick reads it).
//
// Colours: one plane of 1 bit is black (0) and white (1) whatever the
// header's palette says, as ZSoft's format and Pillow have it (ImageMagick
// inverts it); 2 and 4 bits, and planes of 1 bit, index the header's 16
// colours (a CGA file's palette byte is not read, as ImageMagick does not);
// 8 bits index the 256 colours after the 0x0C byte that ends the file, or
// are grey when there is none.
#include <algorithm>
#include <array>
#include <string>

#include "formats.h"

namespace lq2x::files {
namespace {

constexpr std::size_t HEADER = 128, PALETTE_256 = 1 + 768;

std::uint32_t u16(std::span<const std::uint8_t> d, std::size_t at) { return std::uint32_t(d[at] | d[at + 1] << 8); }

} // namespace

image decode_pcx(std::span<const std::uint8_t> data, size_limit limit)
{
    if (data.size() < HEADER)
        throw failure("truncated PCX header");
    const std::uint32_t version = data[1], encoding = data[2], bits = data[3], planes = data[65];
    if (data[0] != 0x0A || version > 5 || version == 1)
        throw failure("not a PCX image");
    if (encoding > 1)
        throw failure("PCX encoding " + std::to_string(encoding) + ", which is neither RLE (1) nor none (0)");
    const bool indexed_planes = bits == 1 && planes >= 1 && planes <= 4;
    if (!indexed_planes && !(planes == 1 && (bits == 2 || bits == 4 || bits == 8)) &&
        !(bits == 8 && (planes == 3 || planes == 4)))
        throw failure("PCX of " + std::to_string(planes) + " planes of " + std::to_string(bits) +
                      " bits, which is not read (1 to 4 planes of 1 bit, one of 2, 4 or 8, or 3 or 4 of 8 are)");
    const std::int64_t width = std::int64_t(u16(data, 8)) - std::int64_t(u16(data, 4)) + 1;
    const std::int64_t height = std::int64_t(u16(data, 10)) - std::int64_t(u16(data, 6)) + 1;
    check_size(width, height, limit);
    const std::size_t line = u16(data, 66); // bytes a plane's row takes; may be padded, even to an odd count
    const std::size_t needed = (std::size_t(width) * bits + 7) / 8;
    if (line < needed)
        throw failure("PCX rows of " + std::to_string(line) + " bytes a plane, fewer than " + std::to_string(width) +
                      " pixels of " + std::to_string(bits) + " bits take");

    // The colours an index means.
    std::array<pixel8888, 256> colours{};
    layout kind = layout::rgb;
    bool indexed = true;
    if (bits == 1 && planes == 1) {
        colours[0] = rgba(0, 0, 0, 0xFF);
        colours[1] = rgba(0xFF, 0xFF, 0xFF, 0xFF);
        kind = layout::grey;
    } else if (bits == 8 && planes == 1) {
        const std::size_t at = data.size() - PALETTE_256;
        if (data.size() >= HEADER + PALETTE_256 && data[at] == 0x0C) {
            for (std::size_t i = 0; i < 256; ++i)
                colours[i] = rgba(data[at + 1 + 3 * i], data[at + 2 + 3 * i], data[at + 3 + 3 * i], 0xFF);
        } else {
            for (std::size_t i = 0; i < 256; ++i)
                colours[i] = rgba(std::uint8_t(i), std::uint8_t(i), std::uint8_t(i), 0xFF);
            kind = layout::grey;
        }
    } else if (bits == 8) {
        indexed = false;
        kind = planes == 4 ? layout::rgba : layout::rgb;
    } else {
        for (std::size_t i = 0; i < 16; ++i)
            colours[i] = rgba(data[16 + 3 * i], data[17 + 3 * i], data[18 + 3 * i], 0xFF);
    }

    const std::size_t scanline = line * planes, w = std::size_t(width);
    // Two bytes of RLE give at most 63: a file too short for its rows is
    // refused before their memory is taken.
    const std::uint64_t rows_bytes = std::uint64_t(scanline) * std::uint64_t(height);
    if (rows_bytes > std::uint64_t(data.size() - HEADER) * (encoding == 0 ? 1 : 32))
        throw failure("truncated PCX: " + std::to_string(height) + " rows of " + std::to_string(scanline) +
                      " bytes cannot come from the " + std::to_string(data.size() - HEADER) + " bytes after its header");
    image img{int(width), int(height), kind, std::vector<pixel8888>(std::size_t(width) * std::size_t(height))};
    std::vector<std::uint8_t> row(scanline);
    std::size_t at = HEADER;
    // An RLE run may carry on into the next row, as some writers make it.
    std::uint8_t run_value = 0;
    std::size_t run_left = 0;
    for (std::size_t y = 0; y < std::size_t(height); ++y) {
        if (encoding == 0) {
            if (data.size() - at < scanline)
                throw failure("truncated PCX: row " + std::to_string(y) + " ends past the file");
            std::copy_n(data.begin() + std::ptrdiff_t(at), scanline, row.begin());
            at += scanline;
        } else {
            for (std::size_t i = 0; i < scanline;) {
                if (run_left == 0) {
                    if (at >= data.size())
                        throw failure("truncated PCX: its RLE data ends at row " + std::to_string(y));
                    const std::uint8_t b = data[at++];
                    if ((b & 0xC0) == 0xC0) {
                        if (at >= data.size())
                            throw failure("truncated PCX: its RLE data ends inside a run");
                        run_left = b & 0x3F;
                        run_value = data[at++];
                    } else {
                        run_left = 1;
                        run_value = b;
                    }
                }
                const std::size_t n = std::min(run_left, scanline - i);
                std::fill_n(row.begin() + std::ptrdiff_t(i), n, run_value);
                i += n;
                run_left -= n;
            }
            if (run_left > 0 && y + 1 == std::size_t(height))
                throw failure("corrupt PCX: an RLE run past the end of the picture");
        }
        pixel8888* out = img.pixels.data() + y * w;
        if (!indexed) {
            for (std::size_t x = 0; x < w; ++x)
                out[x] = rgba(row[x], row[line + x], row[2 * line + x], planes == 4 ? row[3 * line + x] : 0xFF);
        } else if (bits == 8) {
            for (std::size_t x = 0; x < w; ++x)
                out[x] = colours[row[x]];
        } else if (planes == 1) {
            const std::size_t per_byte = 8 / bits;
            const unsigned low = (1u << bits) - 1;
            for (std::size_t x = 0; x < w; ++x)
                out[x] = colours[(unsigned(row[x / per_byte]) >> (8 - bits * (x % per_byte + 1))) & low];
        } else {
            for (std::size_t x = 0; x < w; ++x) {
                std::size_t index = 0;
                for (std::size_t p = 0; p < planes; ++p)
                    index |= std::size_t(row[p * line + x / 8] >> (7 - x % 8) & 1) << p;
                out[x] = colours[index];
            }
        }
    }
    return img;
}

} // namespace lq2x::files
