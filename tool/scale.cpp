#include "scale.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace tool {
namespace {

template <typename P>
std::vector<P> scale_passes(std::vector<P> pixels, int& width, int& height, const scale_settings& s)
{
    lq2x::grid g = s.tile;
    for (int factor = 1; factor < s.factor; factor *= 2) {
        // A turn commutes with the rule, so the last pass does it: the earlier
        // ones keep the input's axes, where the grid and the edges are given.
        const lq2x::orientation turn = 2 * factor == s.factor ? s.turn : lq2x::orientation::upright;
        const lq2x::size out = lq2x::scaled_size(width, height, turn);
        std::vector<P> next(std::size_t(out.width) * std::size_t(out.height));
        const lq2x::error e = lq2x::scale(
            lq2x::packed<const P>(pixels.data(), width, height),
            lq2x::packed(next.data(), std::int32_t(out.width), std::int32_t(out.height)),
            {.turn = turn, .threads = s.threads, .edge_x = s.edge_x, .edge_y = s.edge_y, .tile = g});
        if (e != lq2x::error::none)
            throw failure(lq2x::describe(e));
        pixels = std::move(next);
        width = int(out.width);
        height = int(out.height);
        // Past the largest int a cell, margin or spacing is as good as
        // endless: every picture is smaller.
        const auto twice = [](std::int32_t v) { return v > INT32_MAX / 2 ? INT32_MAX : 2 * v; };
        g = {twice(g.width), twice(g.height), twice(g.margin), twice(g.spacing)};
    }
    return pixels;
}

} // namespace

image scale(image img, const scale_settings& s)
{
    if (s.tile.width > 0 && (s.tile.margin >= img.width || s.tile.margin >= img.height))
        throw grid_misfit("--tile-margin " + std::to_string(s.tile.margin) + " leaves no cell in the " +
                          std::to_string(img.width) + "x" + std::to_string(img.height) + " image");
    std::uint8_t* bytes = img.bytes();
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
    if (has_alpha(img.kind))
        for (std::size_t i = 0; i < img.pixels.size(); ++i)
            if (bytes[4 * i + 3] == 0)
                img.pixels[i] = 0;
    img.pixels = scale_passes(std::move(img.pixels), img.width, img.height, s);
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
