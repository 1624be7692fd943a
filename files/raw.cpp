// Raw 24-bit RGB, read and written in one file: each direction is a few
// lines of the same packing.
#include <string>

#include "formats.h"

namespace lq2x::files {

image decode_raw(std::span<const std::uint8_t> data, int width, int height, size_limit limit)
{
    check_size(width, height, limit);
    const std::size_t want = std::size_t(width) * std::size_t(height) * 3;
    if (data.size() != want)
        throw failure("raw RGB of " + std::to_string(width) + " x " + std::to_string(height) + " is " +
                      std::to_string(want) + " bytes, the file has " + std::to_string(data.size()));
    image img{width, height, layout::rgb, std::vector<pixel8888>(std::size_t(width) * std::size_t(height))};
    unpack_rgb24(data.data(), img.pixels.size(), img.pixels.data());
    return img;
}

std::vector<std::uint8_t> encode_raw(const image& img)
{
    std::vector<std::uint8_t> out(img.pixels.size() * 3);
    pack_rgb24(img.pixels.data(), img.pixels.size(), out.data());
    return out;
}

} // namespace lq2x::files
