// The PNG writer's choice of how to store an image: the smallest exact PNG
// colour type and bit depth its pixels allow, and rows packed that way.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "colour_table.h"
#include "image.h"

namespace lq2x::files {

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
    std::size_t row_bytes(int width) const { return (std::size_t(width) * std::size_t(bits_per_pixel()) + 7) / 8; }
};

// The step between grey levels a sample of `depth` bits can hold: a d-bit
// sample s reads back as s * 255 / (2^d - 1), which is exact for 1, 2, 4, 8.
constexpr unsigned grey_step(int depth) { return 255u / ((1u << depth) - 1u); }

// The form with the fewest bits per pixel that stores `img` exactly; grey
// before a palette of the same size, since it needs no PLTE chunk.
png_form choose_form(const image& img);

// What choose_form learns from the pixels, taken a row (or an image) at a
// time: a picture scaled by rows is seen as its rows come.
class form_survey {
public:
    void look(std::span<const pixel8888> pixels, layout kind);
    // Whether nothing further can change the choice.
    bool settled() const { return settled_; }
    // The colour a tRNS key would make clear, when the choice hangs on
    // whether an opaque pixel has it (key_seen over every pixel tells).
    std::optional<pixel8888> key_to_check() const;
    png_form choose(bool key_taken) const;

private:
    struct survey {
        bool all_grey = true, opaque = true;
        bool binary_alpha = true;       // every alpha 0 or 255
        bool one_clear = true;          // every pixel with alpha 0 the same colour
        bool any_clear = false;
        pixel8888 clear = 0;            // that colour
        int grey_depth = 1;             // fewest bits that hold every grey level
        std::vector<pixel8888> colours; // in order of first appearance, up to 257
    } s_;
    colour_table seen_;
    bool counting_ = true, settled_ = false;
};
bool key_seen(std::span<const pixel8888> pixels, layout kind, pixel8888 key);
// The same over several images of one file (an animation's frames), so that
// one form stores every one of them exactly.
png_form choose_form(std::span<const image* const> imgs);

// Packs one row of pixels (of an image of layout `kind`) into `out`,
// row_bytes long; `palette` holds the form's palette for colour type 3.
void pack_row(const png_form& form, const colour_table* palette, std::span<const pixel8888> row, layout kind,
              std::span<std::uint8_t> out);

} // namespace lq2x::files
