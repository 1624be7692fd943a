// The tool's picture in memory: 8-bit RGBA pixels, whatever the file held.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include <lq2x/pixel8888.h>

namespace tool {

using lq2x::pixel8888;

// What a file's pixels carried, which decides what is written back: grey
// stays grey, and an image without alpha is written without it.
enum class layout { grey, grey_alpha, rgb, rgba };

constexpr bool has_alpha(layout l) { return l == layout::grey_alpha || l == layout::rgba; }
constexpr bool is_grey(layout l) { return l == layout::grey || l == layout::grey_alpha; }
constexpr int channels(layout l) { return l == layout::grey ? 1 : l == layout::grey_alpha ? 2 : l == layout::rgb ? 3 : 4; }

// Each pixel is the four bytes R, G, B, A in memory order; the scaler treats
// the channels alike, so their order inside the 32-bit value does not matter.
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
    for (const pixel8888 p : pixels) {
        std::uint8_t channels[4];
        std::memcpy(channels, &p, 4);
        if (channels[3] != 0xFF)
            return layout::rgba;
    }
    return layout::rgb;
}

// A file that cannot be read or written, with the reason in plain words.
struct failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// How large an image may be: its pixels times `growth` (what scaling will
// multiply them by) at most `max_pixels`.
struct size_limit {
    std::uint64_t max_pixels = std::uint64_t{1} << 28;
    std::uint64_t growth = 1;

    // The most pixels an input may have.
    std::uint64_t max_input_pixels() const { return max_pixels / (growth > 0 ? growth : 1); }
};

// The most bytes an input may hold, and what to say when it holds more.
struct read_limit {
    std::uint64_t max_bytes = 0;
    std::string too_large;
};

// The longest side any image may have, whatever the pixel limit.
constexpr std::int64_t MAX_SIDE = std::int64_t{1} << 30;

// Checks a size read from a header against the limit, before any pixel
// memory is taken.
void check_size(std::int64_t width, std::int64_t height, size_limit limit);

} // namespace tool
