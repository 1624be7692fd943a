#include "scale.h"

#include <algorithm>
#include <cstring>

namespace tool {
namespace {

template <typename P>
std::vector<P> scale_passes(std::vector<P> pixels, int& width, int& height, const scale_settings& s)
{
    for (int factor = 1; factor < s.factor; factor *= 2) {
        // A turn commutes with the rule, so the first pass does it.
        const lq2x::orientation turn = factor == 1 ? s.turn : lq2x::orientation::upright;
        const lq2x::size out = lq2x::scaled_size(width, height, turn);
        std::vector<P> next(std::size_t(out.width) * std::size_t(out.height));
        const lq2x::error e = lq2x::scale(lq2x::packed<const P>(pixels.data(), width, height),
                                          lq2x::packed(next.data(), std::int32_t(out.width), std::int32_t(out.height)),
                                          {.turn = turn, .threads = s.threads});
        if (e != lq2x::error::none)
            throw failure(lq2x::describe(e));
        pixels = std::move(next);
        width = int(out.width);
        height = int(out.height);
    }
    return pixels;
}

} // namespace

image scale(image img, const scale_settings& s)
{
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
    return img;
}

} // namespace tool
