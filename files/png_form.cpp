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

void form_survey::look(std::span<const pixel8888> pixels, layout kind)
{
    if (settled_)
        return;
    survey& s = s_;
    bool first = true;
    pixel8888 last = 0;
    for (const pixel8888 raw : pixels) {
        const pixel8888 p = visible(raw, kind);
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
        if (counting_ && seen_.add(p)) {
            s.colours.push_back(p);
            counting_ = s.colours.size() <= 256;
        }
        if (!counting_ && !s.all_grey && !s.binary_alpha) {
            settled_ = true; // RGBA it is: nothing further can change the choice
            return;
        }
    }
}

std::optional<pixel8888> form_survey::key_to_check() const
{
    const survey& s = s_;
    const bool keyable = !s.opaque && s.binary_alpha && s.one_clear;
    const bool palette_fits = s.colours.size() <= 256;
    const int bare_bits = s.all_grey ? s.grey_depth : 24;
    if (keyable && !(palette_fits && palette_depth(s.colours.size()) < bare_bits))
        return s.clear;
    return std::nullopt;
}

bool key_seen(std::span<const pixel8888> pixels, layout kind, pixel8888 key)
{
    const pixel8888 shown = key | ALPHA_BITS;
    return std::any_of(pixels.begin(), pixels.end(), [&](pixel8888 raw) { return visible(raw, kind) == shown; });
}

png_form choose_form(const image& img)
{
    const image* const one = &img;
    return choose_form(std::span(&one, 1));
}

png_form choose_form(std::span<const image* const> imgs)
{
    form_survey survey;
    for (const image* const img : imgs)
        survey.look(img->pixels, img->kind);
    const std::optional<pixel8888> key = survey.key_to_check();
    return survey.choose(key && std::any_of(imgs.begin(), imgs.end(), [&](const image* img) {
                             return key_seen(img->pixels, img->kind, *key);
                         }));
}

png_form form_survey::choose(bool key_taken) const
{
    const survey& s = s_;
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
    if (keyable && !(palette_fits && palette_bits < best.bits_per_pixel()) && key_taken) {
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
