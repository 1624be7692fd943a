#include "reference.h"

#include <algorithm>
#include <random>

namespace ref {

pixel565 blend(pixel565 a, pixel565 b, unsigned wa, unsigned wb)
{
    const auto mix = [&](int shift, int bits) {
        const unsigned mask = (1u << bits) - 1;
        const unsigned ca = (a >> shift) & mask, cb = (b >> shift) & mask;
        return ((wa * ca + wb * cb) / (wa + wb)) << shift;
    };
    return pixel565(mix(11, 5) | mix(5, 6) | mix(0, 5));
}

namespace {

bool in(unsigned v, std::initializer_list<unsigned> list)
{
    return std::find(list.begin(), list.end(), v) != list.end();
}

} // namespace

// Uses the pattern lists (not the grid) so that a mistake in transcribing the
// grid cannot hide in both places.
pixel565 out_tl(pixel565 TL, pixel565 T, pixel565 TR, pixel565 L, pixel565 C, pixel565 R,
                pixel565 BL, pixel565 B, pixel565 BR)
{
    const unsigned p = (TL != C ? 1 : 0) + (T != C ? 2 : 0) + (TR != C ? 4 : 0) + (L != C ? 8 : 0) +
                       (R != C ? 16 : 0) + (BL != C ? 32 : 0) + (B != C ? 64 : 0) + (BR != C ? 128 : 0);

    if (in(p, {10, 11, 26, 27, 31, 59, 74, 75, 79, 91, 95, 107, 123, 138, 139, 155, 159, 203, 219, 223, 235, 251}))
        return T == L ? blend(C, T, 1, 1) : C;
    if (in(p, {46, 58, 78, 90, 94, 122, 154, 158, 174, 186, 202, 206, 218, 234}))
        return T == L ? blend(C, T, 3, 1) : C;
    if (in(p, {14, 15, 42, 43, 142, 143, 170, 171, 187, 207}))
        return T == L ? blend(T, C, 3, 1) : C;
    if (in(p, {47, 63, 111, 127, 175, 191, 239, 255}))
        return T == L ? blend(C, T, 7, 1) : C;
    if (in(p, {19, 23, 51, 55, 119}))
        return T == R ? blend(C, T, 3, 1) : C;
    if (in(p, {73, 77, 105, 109, 125}))
        return B == L ? blend(C, L, 3, 1) : C;
    return C;
}

block corners(pixel565 TL, pixel565 T, pixel565 TR, pixel565 L, pixel565 C, pixel565 R,
              pixel565 BL, pixel565 B, pixel565 BR)
{
    return {
        out_tl(TL, T, TR, L, C, R, BL, B, BR),
        out_tl(TR, T, TL, R, C, L, BR, B, BL),
        out_tl(BL, B, BR, L, C, R, TL, T, TR),
        out_tl(BR, B, BL, R, C, L, TR, T, TL),
    };
}

image scale_ccw(const image& src)
{
    const int w = src.width, h = src.height;
    image out{2 * h, 2 * w, std::vector<pixel565>(std::size_t(4) * w * h)};
    const auto at = [&](int x, int y) {
        return src.at(std::clamp(x, 0, w - 1), std::clamp(y, 0, h - 1));
    };
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const block q = corners(at(x - 1, y - 1), at(x, y - 1), at(x + 1, y - 1),
                                    at(x - 1, y), at(x, y), at(x + 1, y),
                                    at(x - 1, y + 1), at(x, y + 1), at(x + 1, y + 1));
            const int col = 2 * y, row = 2 * (w - 1 - x);
            out.at(col, row) = q.tr;
            out.at(col + 1, row) = q.br;
            out.at(col, row + 1) = q.tl;
            out.at(col + 1, row + 1) = q.bl;
        }
    }
    return out;
}

image random_image(int width, int height, int colours, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<pixel565> palette(colours);
    for (auto& c : palette)
        c = pixel565(rng());
    image img{width, height, std::vector<pixel565>(std::size_t(width) * height)};
    std::uniform_int_distribution<int> pick(0, colours - 1);
    for (auto& p : img.pixels)
        p = palette[pick(rng)];
    return img;
}

} // namespace ref
