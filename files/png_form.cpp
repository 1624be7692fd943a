// How the PNG writer stores an image: one pass over the pixels tells which
// colour types and depths hold them exactly, and the smallest wins.
#include "png_form.h"

#include <algorithm>
#include <cstring>

namespace lq2x::files {
namespace {

// A pixel's colour as the writer sees it: alpha forced to 255 when the
// layout has none.
pixel8888 visible(pixel8888 p, layout kind) { return has_alpha(kind) ? p : p | ALPHA_BITS; }

bool grey(pixel8888 p) { return channel(p, 0) == channel(p, 1) && channel(p, 1) == channel(p, 2); }

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
    colour_table seen;
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
                while (s.grey_depth < 8 && channel(p, 0) % grey_step(s.grey_depth) != 0)
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

void pack_row(const png_form& form, const colour_table* palette, std::span<const pixel8888> row, layout kind,
              std::span<std::uint8_t> out)
{
    std::uint8_t* o = out.data();
    if (form.depth < 8 || form.colour == png_colour::palette) {
        // One sample a pixel, packed from the high bits of each byte.
        const bool indexed = form.colour == png_colour::palette;
        const unsigned step = indexed ? 1 : grey_step(form.depth);
        const std::size_t per_byte = std::size_t(8 / form.depth);
        const bool whole_bytes = form.depth == 8;
        if (!whole_bytes)
            std::fill(out.begin(), out.end(), std::uint8_t{0});
        pixel8888 last = ~visible(row[0], kind);
        unsigned sample = 0;
        for (std::size_t x = 0; x < row.size(); ++x) {
            if (const pixel8888 p = visible(row[x], kind); p != last) {
                last = p;
                sample = indexed ? palette->index(last) : channel(last, 0) / step;
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
        case png_colour::grey: *o++ = std::uint8_t(channel(p, 0)); break;
        case png_colour::grey_alpha:
            *o++ = std::uint8_t(channel(p, 0));
            *o++ = std::uint8_t(channel(p, 3));
            break;
        case png_colour::rgb:
            for (int c = 0; c < 3; ++c)
                *o++ = std::uint8_t(channel(p, c));
            break;
        default:
            std::memcpy(o, &p, 4);
            o += 4;
        }
    }
}

} // namespace lq2x::files
