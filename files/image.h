// The files library's picture in memory: 8-bit RGBA pixels whatever the file
// held; how to reach a pixel's channels; and the failure every reader and
// writer throws.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include <lq2x/files.hpp>
#include <lq2x/pixel8888.h>

namespace lq2x::files {

using lq2x::pixel8888;

// What a file's pixels carried, which decides what is written back: grey
// stays grey, and an image without alpha is written without it. The values
// are the picture layouts' own.
using lq2x::layout;

constexpr bool has_alpha(layout l) { return l == layout::grey_alpha || l == layout::rgba; }
constexpr bool is_grey(layout l) { return l == layout::grey || l == layout::grey_alpha; }
constexpr int channels(layout l) { return l == layout::grey ? 1 : l == layout::grey_alpha ? 2 : l == layout::rgb ? 3 : 4; }

// A pixel is the four bytes R, G, B, A in memory order; the scaler treats
// the channels alike, so their order inside the 32-bit value does not
// matter. Every reader and writer reaches them through these.
using channel_bytes = std::array<std::uint8_t, 4>;

constexpr pixel8888 rgba(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a)
{
    return std::bit_cast<pixel8888>(channel_bytes{r, g, b, a});
}
constexpr std::uint8_t channel(pixel8888 p, int i) { return std::bit_cast<channel_bytes>(p)[std::size_t(i)]; }
constexpr std::uint8_t alpha_of(pixel8888 p) { return channel(p, 3); }
// The alpha channel's bits, set: an opaque pixel is p | ALPHA_BITS.
constexpr pixel8888 ALPHA_BITS = rgba(0, 0, 0, 0xFF);

struct image {
    int width = 0, height = 0;
    layout kind = layout::rgba;
    std::vector<pixel8888> pixels;

    std::uint8_t* bytes() { return reinterpret_cast<std::uint8_t*>(pixels.data()); }
    const std::uint8_t* bytes() const { return reinterpret_cast<const std::uint8_t*>(pixels.data()); }
};

// The layout of a frame assembled from an animation: rgba when any pixel is
// not opaque, rgb otherwise.
inline layout layout_of_frame(std::span<const pixel8888> pixels)
{
    for (const pixel8888 p : pixels)
        if (alpha_of(p) != 0xFF)
            return layout::rgba;
    return layout::rgb;
}

// 24-bit RGB (raw files, PPM rows) to the picture's pixels and back.
inline void unpack_rgb24(const std::uint8_t* in, std::size_t count, pixel8888* out)
{
    for (std::size_t i = 0; i < count; ++i, in += 3)
        out[i] = rgba(in[0], in[1], in[2], 0xFF);
}
inline void pack_rgb24(const pixel8888* in, std::size_t count, std::uint8_t* out)
{
    for (std::size_t i = 0; i < count; ++i, out += 3)
        for (int c = 0; c < 3; ++c)
            out[c] = channel(in[i], c);
}

// A file that cannot be read or written, with the reason in plain words and
// the status the library's interface gives it (a file it cannot read,
// unless said otherwise).
struct failure : std::runtime_error {
    error status = error::bad_file;

    explicit failure(const std::string& why) : std::runtime_error(why) {}
    failure(error status_, const std::string& why) : std::runtime_error(why), status(status_) {}
};

} // namespace lq2x::files
