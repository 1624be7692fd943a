// ICO and CUR read: the directory, and one image from it, either a bitmap
// (bmp_read's decode_icon_bitmap: colour rows, then the transparency mask)
// or a PNG. Without a choice the largest image is read (most pixels, then
// most bits a pixel, then the first); the sizes and depths compared are the
// images' own headers', which writers keep right more often than the
// directory (where 0 stands for 256).
#include <cstdlib>
#include <string>

#include "formats.h"
#include "png_chunks.h"

namespace lq2x::files {
namespace {

constexpr std::size_t DIRECTORY = 6, ENTRY = 16;

std::uint32_t u16(std::span<const std::uint8_t> d, std::size_t at) { return std::uint32_t(d[at] | d[at + 1] << 8); }
std::uint32_t u32(std::span<const std::uint8_t> d, std::size_t at) { return u16(d, at) | u16(d, at + 2) << 16; }
std::uint32_t be32(std::span<const std::uint8_t> d, std::size_t at)
{
    return std::uint32_t(d[at]) << 24 | std::uint32_t(d[at + 1]) << 16 | std::uint32_t(d[at + 2]) << 8 | d[at + 3];
}

struct entry {
    std::size_t at = 0;         // where its bytes start
    std::uint64_t pixels = 0;   // width x height
    std::uint32_t bits = 0;     // bits a pixel
};

// An image's size and depth from its own header, the directory's where the
// header gives none that makes sense.
entry describe(std::span<const std::uint8_t> data, std::size_t number)
{
    const std::size_t d = DIRECTORY + ENTRY * number;
    const std::size_t at = u32(data, d + 12);
    const std::uint32_t listed = u32(data, d + 8);
    if (at < DIRECTORY || at >= data.size() || listed == 0)
        throw failure("icon image " + std::to_string(number) + " lies past the end of the file (at " +
                      std::to_string(at) + ", " + std::to_string(listed) + " bytes; the file has " +
                      std::to_string(data.size()) + ")");
    entry e{at};
    std::uint64_t width = data[d] == 0 ? 256 : data[d], height = data[d + 1] == 0 ? 256 : data[d + 1];
    e.bits = u16(data, d + 6);
    const std::span<const std::uint8_t> image = data.subspan(at);
    if (has_png_signature(image) && image.size() >= 26) {
        // IHDR: width, height, bit depth, colour type.
        width = be32(image, 16);
        height = be32(image, 20);
        const std::uint32_t depth = image.size() > 24 ? image[24] : 8, type = image.size() > 25 ? image[25] : 6;
        const std::uint32_t channels = type == 2 ? 3 : type == 4 ? 2 : type == 6 ? 4 : 1;
        e.bits = depth * channels;
    } else if (image.size() >= 16 && u32(image, 0) >= 40) {
        width = u32(image, 4);
        height = (std::uint32_t(std::abs(std::int64_t(std::int32_t(u32(image, 8)))))) / 2;
        e.bits = u16(image, 14);
    }
    e.pixels = width * height;
    return e;
}

} // namespace

image decode_ico(std::span<const std::uint8_t> data, std::int64_t chosen, size_limit limit)
{
    if (data.size() < DIRECTORY || u16(data, 0) != 0 || (u16(data, 2) != 1 && u16(data, 2) != 2))
        throw failure(data.size() < DIRECTORY ? "truncated icon directory" : "not an ICO or CUR image");
    const std::size_t count = u16(data, 4);
    if (count == 0)
        throw failure("icon without images");
    if ((data.size() - DIRECTORY) / ENTRY < count)
        throw failure("too many icon images: a directory of " + std::to_string(count) + " needs " +
                      std::to_string(DIRECTORY + ENTRY * count) + " bytes, the file has " + std::to_string(data.size()));
    if (chosen >= std::int64_t(count))
        throw failure(error::bad_options, "{frame}: no image " + std::to_string(chosen) + ", the icon has " + std::to_string(count) +
                                              (count == 1 ? " image (0)" : " images (0 to " + std::to_string(count - 1) + ")"));
    std::size_t pick = chosen >= 0 ? std::size_t(chosen) : 0;
    entry best = describe(data, pick);
    for (std::size_t i = 0; chosen < 0 && i < count; ++i) {
        const entry e = describe(data, i);
        if (e.pixels > best.pixels || (e.pixels == best.pixels && e.bits > best.bits))
            best = e, pick = i;
    }
    const std::span<const std::uint8_t> image = data.subspan(best.at);
    try {
        if (has_png_signature(image))
            return decode_png(image, limit);
        return decode_icon_bitmap(image, limit);
    } catch (const failure& e) {
        throw failure(e.status, "icon image " + std::to_string(pick) + ": " + e.what());
    }
}

} // namespace lq2x::files
