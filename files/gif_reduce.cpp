// The colour reduction is Leptonica's (BSD-2-clause-style licence, so the
// project stays MIT; maintained, and fuzzed upstream). Not libimagequant,
// which is GPL-3, nor giflib's GifQuantizeBuffer, which giflib deprecates.
#include "gif_reduce.h"

#include <allheaders.h>

#include <algorithm>
#include <array>
#include <memory>
#include <mutex>
#include <new>

namespace lq2x::files::gif {
namespace {

// Median cut as Leptonica's pixMedianCutQuantGeneral makes it: without
// dithering, since pixel art keeps flat areas flat; without subsampling; and
// without its check for pictures of little colour, which would give a sprite
// of a few saturated colours on black a grey palette. Each of its boxes then
// takes the mean of the true colours it holds (Leptonica gives the mean of
// its histogram cells' centres, off by up to half a cell), each colour the
// nearest of these, and slots it left unused the colours worst kept (see
// reduction's constructor). Measured on Debian's crawl tiles scaled 2x, the
// sheets cut into 64 x 64 tiles, by each pixel's largest channel error:
//   - 759 groups of four tiles side by side of more than 256 colours, to
//     256 shared: Leptonica's own colours and cells (at 6 bits a channel)
//     keep 29 % of pixels exact, mean error 2.6, 99th percentile 21, at
//     most 112; with the means, the nearest and the slots filled, 78 %,
//     mean 0.6, 99th percentile 8, at most 39.
//   - 442 single tiles over 256, to 256: 72 % exact, mean 0.5, 99th
//     percentile 4, at most 20 (Leptonica's own: 17 %, 2.4, 12, 70).
//   - to 64 and to 16 colours alike; 5 significant bits a channel was as
//     good as 6 or a little better everywhere (6: at most 29 for the single
//     tiles), and its histogram is an eighth of the size.
constexpr int SIGNIFICANT_BITS = 5;
// At most this many pixels go to Leptonica (64 MB of them), every k-th
// beyond, so that its picture stays under its 2 GB and memory stays near the
// frames' own size; every colour still takes the nearest of the palette.
constexpr std::size_t MOST_SAMPLES = std::size_t{1} << 24;
constexpr std::size_t ROW = 1024; // the width of the picture handed over

// Leptonica reports trouble on stderr, which a library must not write to:
// silenced for the whole process, once, before the first call. Its failures
// are seen from what it returns.
extern "C" void ignore_message(const char*) {}
void silence_leptonica()
{
    static std::once_flag once;
    std::call_once(once, [] {
        setMsgSeverity(L_SEVERITY_NONE);
        leptSetStderrHandler(ignore_message);
    });
}

struct pix_deleter {
    void operator()(PIX* p) const { pixDestroy(&p); }
};
using pix_ptr = std::unique_ptr<PIX, pix_deleter>;

// With valid arguments Leptonica fails only for want of memory.
PIX* checked(PIX* p)
{
    if (p == nullptr)
        throw std::bad_alloc();
    return p;
}

l_uint32 leptonica_pixel(pixel8888 p)
{
    return l_uint32(channel(p, 0)) << L_RED_SHIFT | l_uint32(channel(p, 1)) << L_GREEN_SHIFT |
           l_uint32(channel(p, 2)) << L_BLUE_SHIFT;
}

pixel8888 from_leptonica(l_uint32 w)
{
    return rgba(std::uint8_t(w >> L_RED_SHIFT), std::uint8_t(w >> L_GREEN_SHIFT), std::uint8_t(w >> L_BLUE_SHIFT),
                0xFF);
}

// The palette's colours for `count` opaque pixels of `frames`.
std::vector<pixel8888> palette_for(std::span<const image* const> frames, std::uint8_t threshold, std::size_t count,
                                   int most)
{
    const std::size_t step = (count + MOST_SAMPLES - 1) / MOST_SAMPLES;
    const std::size_t samples = (count + step - 1) / step;
    const std::size_t width = std::min(samples, ROW), height = (samples + width - 1) / width;
    pix_ptr in(checked(pixCreateNoInit(l_int32(width), l_int32(height), 32)));
    l_uint32* const data = pixGetData(in.get());
    const std::size_t wpl = std::size_t(pixGetWpl(in.get()));
    const auto at = [&](std::size_t i) -> l_uint32& { return data[i / width * wpl + i % width]; };
    std::size_t seen = 0, n = 0;
    for (const image* f : frames)
        for (const pixel8888 p : f->pixels)
            if (alpha_of(p) >= threshold && seen++ % step == 0)
                at(n++) = leptonica_pixel(p);
    // The last row's rest repeats the first samples: a few more of those,
    // fewer than a row, where Leptonica's picture must be a rectangle.
    for (std::size_t i = samples; i < width * height; ++i)
        at(i) = at(i - samples);

    // One box's mean: the sums of red, green and blue, and the count.
    std::array<std::array<std::uint64_t, 4>, 256> sums{};
    if (most == 1) {
        for (std::size_t i = 0; i < samples; ++i)
            for (int c = 0; c < 3; ++c)
                sums[0][std::size_t(c)] += channel(from_leptonica(at(i)), c);
        sums[0][3] = samples;
    } else {
        const pix_ptr out(checked(pixMedianCutQuantGeneral(in.get(), 0, 8, most, SIGNIFICANT_BITS, 1, 0)));
        if (pixGetDepth(out.get()) != 8)
            throw std::bad_alloc(); // never with these arguments
        const l_uint32* const indices = pixGetData(out.get());
        const std::size_t out_wpl = std::size_t(pixGetWpl(out.get()));
        for (std::size_t i = 0; i < samples; ++i) {
            auto& box = sums[GET_DATA_BYTE(indices + i / width * out_wpl, i % width)];
            const pixel8888 p = from_leptonica(at(i));
            for (int c = 0; c < 3; ++c)
                box[std::size_t(c)] += channel(p, c);
            ++box[3];
        }
    }
    // Asked for 2, Leptonica's median cut can give 3 (its second round
    // splits a box before it counts): the most populous boxes are kept, and
    // the rest of the colours take the nearest of them.
    std::vector<const std::array<std::uint64_t, 4>*> boxes;
    for (const auto& box : sums)
        if (box[3] > 0)
            boxes.push_back(&box);
    std::stable_sort(boxes.begin(), boxes.end(), [](const auto* a, const auto* b) { return (*a)[3] > (*b)[3]; });
    boxes.resize(std::min(boxes.size(), std::size_t(most)));
    std::vector<pixel8888> palette;
    for (const auto* box : boxes) {
        const auto mean = [&](int c) { return std::uint8_t(((*box)[std::size_t(c)] + (*box)[3] / 2) / (*box)[3]); };
        palette.push_back(rgba(mean(0), mean(1), mean(2), 0xFF));
    }
    return palette;
}

int distance(pixel8888 a, pixel8888 b)
{
    int d = 0;
    for (int c = 0; c < 3; ++c) {
        const int e = int(channel(a, c)) - int(channel(b, c));
        d += e * e;
    }
    return d;
}

} // namespace

reduction::reduction(std::span<const image* const> frames, std::uint8_t threshold, int most)
{
    silence_leptonica();
    const auto opaque = [threshold](pixel8888 p) { return alpha_of(p) >= threshold; };
    std::size_t count = 0;
    for (const image* f : frames)
        count += std::size_t(std::count_if(f->pixels.begin(), f->pixels.end(), opaque));
    if (count == 0)
        return;
    from_.reserve(count);
    for (const image* f : frames)
        for (const pixel8888 p : f->pixels)
            if (opaque(p))
                from_.push_back(p | ALPHA_BITS);
    std::sort(from_.begin(), from_.end());
    // Each colour once, with how many pixels have it.
    std::vector<std::uint32_t> pixels;
    std::size_t n = 0;
    for (std::size_t i = 0; i < from_.size(); ++i) {
        if (i == 0 || from_[i] != from_[n - 1]) {
            from_[n++] = from_[i];
            pixels.push_back(0);
        }
        ++pixels.back();
    }
    from_.resize(n);
    from_.shrink_to_fit();

    std::vector<pixel8888> palette = palette_for(frames, threshold, count, most);
    const auto nearest = [&] {
        to_.resize(from_.size());
        for (std::size_t i = 0; i < from_.size(); ++i)
            to_[i] = *std::min_element(palette.begin(), palette.end(), [&](pixel8888 a, pixel8888 b) {
                return distance(a, from_[i]) < distance(b, from_[i]);
            });
    };
    nearest();
    // Leptonica's median cut stops splitting once its histogram's cells
    // (8 levels a channel) fit the count, so frames just over it keep far
    // fewer colours than allowed (281 to 64 on a crawl floor tile, to 256).
    // The slots left go to the colours worst kept (pixels times squared
    // distance), as they are: their pixels exact, the rest no farther.
    if (palette.size() < std::size_t(most)) {
        std::vector<std::size_t> worst;
        for (std::size_t i = 0; i < from_.size(); ++i)
            if (to_[i] != from_[i])
                worst.push_back(i);
        const auto cost = [&](std::size_t i) { return std::uint64_t(pixels[i]) * std::uint64_t(distance(to_[i], from_[i])); };
        const std::size_t extra = std::min(worst.size(), std::size_t(most) - palette.size());
        std::partial_sort(worst.begin(), worst.begin() + std::ptrdiff_t(extra), worst.end(),
                          [&](std::size_t a, std::size_t b) { return cost(a) > cost(b) || (cost(a) == cost(b) && a < b); });
        for (std::size_t k = 0; k < extra; ++k)
            palette.push_back(from_[worst[k]]);
        if (extra > 0)
            nearest();
    }
}

pixel8888 reduction::operator()(pixel8888 p) const
{
    const auto it = std::lower_bound(from_.begin(), from_.end(), p);
    return it != from_.end() && *it == p ? to_[std::size_t(it - from_.begin())] : p;
}

} // namespace lq2x::files::gif
