#include "scale.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "large_buffer.h"

namespace tool {
namespace {

template <typename P>
void scale_once(lq2x::image_view<const P> src, std::vector<P>& out, const lq2x::options& opt)
{
    const lq2x::size size = lq2x::scaled_size(src.width, src.height, opt.turn);
    reserve_large(out, std::size_t(size.width) * std::size_t(size.height), filling::whole);
    out.resize(std::size_t(size.width) * std::size_t(size.height));
    const lq2x::error e =
        lq2x::scale(src, lq2x::packed(out.data(), std::int32_t(size.width), std::int32_t(size.height)), opt);
    if (e != lq2x::error::none)
        throw failure(lq2x::describe(e));
}

// Every pass on the whole picture: what a grid or edges other than clamp
// need, since a band's window would show them the wrong neighbours. A turn
// commutes with the rule, so the last pass does it: the earlier ones keep
// the input's axes, where the grid and the edges are given.
template <typename P>
std::vector<P> scale_whole(std::vector<P> pixels, int& width, int& height, const scale_settings& s)
{
    lq2x::grid g = s.tile;
    std::vector<P> next;
    for (int factor = 1; factor < s.factor; factor *= 2) {
        const lq2x::orientation turn = 2 * factor == s.factor ? s.turn : lq2x::orientation::upright;
        scale_once<P>(lq2x::packed<const P>(pixels.data(), width, height), next,
                      {.turn = turn, .threads = s.threads, .edge_x = s.edge_x, .edge_y = s.edge_y, .tile = g});
        std::swap(pixels, next);
        const lq2x::size out = lq2x::scaled_size(width, height, turn);
        width = int(out.width);
        height = int(out.height);
        // Past the largest int a cell, margin or spacing is as good as
        // endless: every picture is smaller.
        const auto twice = [](std::int32_t v) { return v > INT32_MAX / 2 ? INT32_MAX : 2 * v; };
        g = {twice(g.width), twice(g.height), twice(g.margin), twice(g.spacing)};
    }
    return pixels;
}

// Scales 2x (and turns) once, or, for 4x and 8x, the picture in bands of
// its result: each band from a window of the source with two lines more on
// each side, through every pass, its edge rows (which see the window's edge
// as the picture's) dropped. Two source lines grow to 16 rows after three
// passes, more than the 14 an edge can spoil, so every kept row is exact,
// and memory holds the source, the result and one band's passes. Bands of
// fewer lines than the margins repeat more work, never get a row wrong.
template <typename P>
std::vector<P> scale_passes(std::vector<P> pixels, int& width, int& height, const scale_settings& s)
{
    const bool plain = s.tile.width == 0 && s.edge_x == lq2x::edge::clamp && s.edge_y == lq2x::edge::clamp;
    if (s.factor <= 2 || !plain)
        return scale_whole(std::move(pixels), width, height, s);
    const bool turned = s.turn != lq2x::orientation::upright;
    const lq2x::size first = lq2x::scaled_size(width, height, s.turn);
    constexpr int MARGIN = 2;
    const int grow = s.factor / 2; // what the passes after the first multiply by
    const std::size_t out_width = std::size_t(first.width) * std::size_t(grow);
    const int lines = turned ? width : height; // source lines, in the order of the result's rows
    const int per_band = int(std::clamp<std::size_t>(s.band_pixels / (out_width * std::size_t(s.factor)), 1, std::size_t(lines)));
    std::vector<P> out;
    reserve_large(out, out_width * std::size_t(first.height) * std::size_t(grow), filling::whole);
    out.resize(out_width * std::size_t(first.height) * std::size_t(grow));
    std::vector<P> a, b;
    for (int l0 = 0; l0 < lines; l0 += per_band) {
        const int l1 = std::min(lines, l0 + per_band);
        const int w0 = std::max(0, l0 - MARGIN), w1 = std::min(lines, l1 + MARGIN);
        const std::ptrdiff_t pitch = std::ptrdiff_t(width) * std::ptrdiff_t(sizeof(P));
        lq2x::image_view<const P> window;
        if (!turned)
            window = {pixels.data() + std::size_t(w0) * std::size_t(width), width, w1 - w0, pitch};
        else if (s.turn == lq2x::orientation::cw) // the result's rows follow the source's columns
            window = {pixels.data() + w0, w1 - w0, height, pitch};
        else // ccw: they run from the last column back
            window = {pixels.data() + (width - w1), w1 - w0, height, pitch};
        scale_once(window, a, {.turn = s.turn, .threads = s.threads});
        std::int32_t w = std::int32_t(first.width), h = std::int32_t(2 * (w1 - w0));
        for (int factor = 4; factor <= s.factor; factor *= 2) {
            scale_once<P>(lq2x::packed<const P>(a.data(), w, h), b, {.threads = s.threads});
            std::swap(a, b);
            w *= 2;
            h *= 2;
        }
        const std::size_t skip = std::size_t(l0 - w0) * std::size_t(s.factor) * out_width;
        const std::size_t keep = std::size_t(l1 - l0) * std::size_t(s.factor) * out_width;
        std::copy_n(a.begin() + std::ptrdiff_t(skip), keep, out.begin() + std::ptrdiff_t(std::size_t(l0) * std::size_t(s.factor) * out_width));
    }
    width = int(out_width);
    height = int(first.height) * grow;
    return out;
}

} // namespace

image scale(image img, const scale_settings& s)
{
    if (s.tile.width > 0 && (s.tile.margin >= img.width || s.tile.margin >= img.height))
        throw grid_misfit("--tile-margin " + std::to_string(s.tile.margin) + " leaves no cell in the " +
                          std::to_string(img.width) + "x" + std::to_string(img.height) + " image");
    std::uint8_t* bytes = img.bytes();
    // Also before RGB565, which drops alpha and would show the hidden colour.
    if (has_alpha(img.kind))
        for (std::size_t i = 0; i < img.pixels.size(); ++i)
            if (bytes[4 * i + 3] == 0)
                img.pixels[i] = 0;
    if (s.rgb565) {
        // Top 5, 6 and 5 bits in; each channel back at the top of its byte.
        std::vector<pixel565> narrow(img.pixels.size());
        for (std::size_t i = 0; i < narrow.size(); ++i) {
            const std::uint8_t* p = bytes + 4 * i;
            narrow[i] = lq2x::rgb888_to_565(p[0], p[1], p[2]);
        }
        narrow = scale_passes(std::move(narrow), img.width, img.height, s);
        img.pixels.assign(narrow.size(), 0);
        img.kind = layout::rgb;
        std::uint8_t* out = img.bytes();
        for (std::size_t i = 0; i < narrow.size(); ++i) {
            const auto rgb = lq2x::rgb565_to_888(narrow[i]);
            std::copy(rgb.begin(), rgb.end(), out + 4 * i);
            out[4 * i + 3] = 0xFF;
        }
        return img;
    }
    img.pixels = scale_passes(std::move(img.pixels), img.width, img.height, s);
    // Transparent edges blend an opaque border with the all-zero pixel.
    if (!has_alpha(img.kind)) {
        bytes = img.bytes();
        for (std::size_t i = 0; i < img.pixels.size(); ++i)
            if (bytes[4 * i + 3] != 0xFF) {
                img.kind = is_grey(img.kind) ? layout::grey_alpha : layout::rgba;
                break;
            }
    }
    return img;
}

} // namespace tool
