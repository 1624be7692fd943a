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

pixel8888 blend(pixel8888 a, pixel8888 b, unsigned wa, unsigned wb)
{
    pixel8888 out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const unsigned ca = (a >> shift) & 0xFF, cb = (b >> shift) & 0xFF;
        out |= pixel8888((wa * ca + wb * cb) / (wa + wb)) << shift;
    }
    return out;
}

namespace {

bool in(unsigned v, std::initializer_list<unsigned> list)
{
    return std::find(list.begin(), list.end(), v) != list.end();
}

} // namespace

// Uses the pattern lists (not the grid) so that a mistake in transcribing the
// grid cannot hide in both places.
template <typename P>
P out_tl(P TL, P T, P TR, P L, P C, P R, P BL, P B, P BR)
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

template <typename P>
block<P> corners(P TL, P T, P TR, P L, P C, P R, P BL, P B, P BR)
{
    return {
        out_tl(TL, T, TR, L, C, R, BL, B, BR),
        out_tl(TR, T, TL, R, C, L, BR, B, BL),
        out_tl(BL, B, BR, L, C, R, TL, T, TR),
        out_tl(BR, B, BL, R, C, L, TR, T, TL),
    };
}

template <typename P>
image<P> scale(const image<P>& src, lq2x::orientation turn)
{
    const int w = src.width, h = src.height;
    const bool upright = turn == lq2x::orientation::upright;
    image<P> out{upright ? 2 * w : 2 * h, upright ? 2 * h : 2 * w, std::vector<P>(std::size_t(4) * w * h)};
    const auto at = [&](int x, int y) { return src.at(std::clamp(x, 0, w - 1), std::clamp(y, 0, h - 1)); };
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const block<P> q = corners(at(x - 1, y - 1), at(x, y - 1), at(x + 1, y - 1),
                                       at(x - 1, y), at(x, y), at(x + 1, y),
                                       at(x - 1, y + 1), at(x, y + 1), at(x + 1, y + 1));
            // The block's top-left corner in the output, and its four pixels in reading order.
            int col = 0, row = 0;
            P p[4] = {};
            switch (turn) {
            case lq2x::orientation::upright:
                col = 2 * x, row = 2 * y;
                p[0] = q.tl, p[1] = q.tr, p[2] = q.bl, p[3] = q.br;
                break;
            case lq2x::orientation::ccw:
                col = 2 * y, row = 2 * (w - 1 - x);
                p[0] = q.tr, p[1] = q.br, p[2] = q.tl, p[3] = q.bl;
                break;
            case lq2x::orientation::cw:
                col = 2 * (h - 1 - y), row = 2 * x;
                p[0] = q.bl, p[1] = q.tl, p[2] = q.br, p[3] = q.tr;
                break;
            }
            out.at(col, row) = p[0];
            out.at(col + 1, row) = p[1];
            out.at(col, row + 1) = p[2];
            out.at(col + 1, row + 1) = p[3];
        }
    }
    return out;
}

template <typename P>
image<P> turn_ccw(const image<P>& src)
{
    image<P> out{src.height, src.width, std::vector<P>(src.pixels.size())};
    for (int y = 0; y < src.height; ++y)
        for (int x = 0; x < src.width; ++x)
            out.at(y, src.width - 1 - x) = src.at(x, y);
    return out;
}

template <typename P>
image<P> turn_cw(const image<P>& src)
{
    image<P> out{src.height, src.width, std::vector<P>(src.pixels.size())};
    for (int y = 0; y < src.height; ++y)
        for (int x = 0; x < src.width; ++x)
            out.at(src.height - 1 - y, x) = src.at(x, y);
    return out;
}

template <typename P>
image<P> random_image(int width, int height, int colours, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<P> palette(colours);
    for (auto& c : palette)
        c = P(rng());
    image<P> img{width, height, std::vector<P>(std::size_t(width) * height)};
    std::uniform_int_distribution<int> pick(0, colours - 1);
    for (auto& p : img.pixels)
        p = palette[pick(rng)];
    return img;
}

template <typename P>
image<P> blocky_image(int width, int height, int colours, int block, std::uint32_t seed)
{
    const image<P> blocks = random_image<P>((width + block - 1) / block, (height + block - 1) / block, colours, seed);
    const image<P> specks = random_image<P>(width, height, colours, seed + 1);
    std::mt19937 rng(seed);
    image<P> img{width, height, std::vector<P>(std::size_t(width) * height)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            img.at(x, y) = rng() % 64 == 0 ? specks.at(x, y) : blocks.at(x / block, y / block);
    return img;
}

template pixel565 out_tl(pixel565, pixel565, pixel565, pixel565, pixel565, pixel565, pixel565, pixel565, pixel565);
template block<pixel565> corners(pixel565, pixel565, pixel565, pixel565, pixel565, pixel565, pixel565, pixel565, pixel565);
template image<pixel565> scale(const image<pixel565>&, lq2x::orientation);
template image<pixel565> turn_ccw(const image<pixel565>&);
template image<pixel565> turn_cw(const image<pixel565>&);
template image<pixel565> random_image(int, int, int, std::uint32_t);
template image<pixel565> blocky_image(int, int, int, int, std::uint32_t);
template pixel8888 out_tl(pixel8888, pixel8888, pixel8888, pixel8888, pixel8888, pixel8888, pixel8888, pixel8888, pixel8888);
template block<pixel8888> corners(pixel8888, pixel8888, pixel8888, pixel8888, pixel8888, pixel8888, pixel8888, pixel8888, pixel8888);
template image<pixel8888> scale(const image<pixel8888>&, lq2x::orientation);
template image<pixel8888> turn_ccw(const image<pixel8888>&);
template image<pixel8888> turn_cw(const image<pixel8888>&);
template image<pixel8888> random_image(int, int, int, std::uint32_t);
template image<pixel8888> blocky_image(int, int, int, int, std::uint32_t);

} // namespace ref
