// The PNG writer's choice of how to store an image: the smallest exact PNG
// colour type and bit depth its pixels allow, and rows packed that way.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "image.h"

namespace tool {

// PNG's own colour type numbers.
enum class png_colour : std::uint8_t { grey = 0, rgb = 2, palette = 3, grey_alpha = 4, rgba = 6 };

// How a PNG stores the pixels: decoding it gives back exactly the pixels it
// was chosen for (with alpha 255 where the image's layout has no alpha).
struct png_form {
    png_colour colour = png_colour::rgba;
    int depth = 8;                  // bits per sample: 1, 2, 4 or 8
    std::vector<pixel8888> palette; // colour type 3: the entries, those not opaque first
    int translucent = 0;            // how many palette entries come first in tRNS
    bool keyed = false;             // grey or RGB with one colour made transparent by tRNS
    pixel8888 key = 0;              // that colour (alpha 0)

    int bits_per_pixel() const;
    std::size_t row_bytes(int width) const { return (std::size_t(width) * bits_per_pixel() + 7) / 8; }
};

// A pixel's colour as the writer sees it: alpha forced to 255 when the
// layout has none.
pixel8888 visible(pixel8888 p, layout kind);

// The form with the fewest bits per pixel that stores `img` exactly; grey
// before a palette of the same size, since it needs no PLTE chunk.
png_form choose_form(const image& img);
// The same over several images of one file (an animation's frames), so that
// one form stores every one of them exactly.
png_form choose_form(std::span<const image* const> imgs);

// A whole PNG of `img` stored in `form`, which must hold its pixels exactly
// (chosen over it, or over images it is among).
std::vector<std::uint8_t> encode_png(const image& img, const png_form& form, int level, int threads = 1);

// A four-byte number, most significant byte first, and a whole chunk (length, type, data, CRC).
void put32(std::vector<std::uint8_t>& out, std::uint32_t v);
void put_chunk(std::vector<std::uint8_t>& out, const char type[4], std::span<const std::uint8_t> data);

// Where each colour sits in a palette: a small open-addressed table.
class palette_lookup {
public:
    palette_lookup() = default;
    explicit palette_lookup(std::span<const pixel8888> palette);
    // Gives a colour not yet there the next index; false if it was there.
    // Holds up to 512 colours.
    bool add(pixel8888 p);
    std::uint8_t index(pixel8888 p) const; // p must be there

private:
    static constexpr std::size_t SLOTS = 1024; // a power of two, twice the most colours held
    std::size_t slot(pixel8888 p) const;       // where p is, or the empty slot it would take
    std::vector<std::uint32_t> keys_ = std::vector<std::uint32_t>(SLOTS);
    std::vector<std::int16_t> at_ = std::vector<std::int16_t>(SLOTS, -1); // -1: empty
    int count_ = 0;
};

// Packs one row of pixels, as `visible` shows them, into `out`, row_bytes
// long; `lookup` is the form's palette for colour type 3.
void pack_row(const png_form& form, const palette_lookup* lookup, std::span<const pixel8888> row, layout kind,
              std::span<std::uint8_t> out);

} // namespace tool
