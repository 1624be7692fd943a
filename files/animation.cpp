#include "animation.h"

#include <algorithm>
#include <numeric>
#include <string>

namespace lq2x::files {
namespace {

constexpr std::uint32_t MOST_16 = 0xFFFF;

// Straight-alpha "over", exact: the result's alpha is as + ad (255 - as) / 255
// and each colour the mean of the two weighted by as * 255 and ad (255 - as),
// each rounded once to nearest, halves up. An opaque source replaces the
// pixel and a clear one leaves it as it was.
pixel8888 over(pixel8888 dst, pixel8888 src)
{
    const std::uint32_t as = alpha_of(src), ad = alpha_of(dst);
    if (as == 0)
        return dst;
    const std::uint32_t ws = as * 255, wd = ad * (255 - as), total = ws + wd;
    const auto mix = [&](int c) {
        return std::uint8_t((channel(src, c) * ws + channel(dst, c) * wd + total / 2) / total);
    };
    return rgba(mix(0), mix(1), mix(2), std::uint8_t((total + 127) / 255));
}

} // namespace

std::uint32_t in_units(frame_delay d, std::uint32_t unit, std::uint32_t most)
{
    if (d.denominator == 0) // animated PNG: a zero denominator means hundredths
        d.denominator = 100;
    const std::uint64_t units = (std::uint64_t(d.numerator) * unit + d.denominator / 2) / d.denominator;
    return std::uint32_t(std::min<std::uint64_t>(units, most));
}

// The nearest fraction is the last convergent or semiconvergent of the
// delay's continued fraction whose terms both fit.
std::pair<std::uint32_t, std::uint32_t> in_16_bits(frame_delay d)
{
    std::uint64_t num = d.numerator, den = d.denominator == 0 ? 100 : d.denominator;
    if (d.numerator <= MOST_16 && d.denominator <= MOST_16)
        return {d.numerator, d.denominator};
    const std::uint64_t common = std::gcd(num, den);
    num /= common;
    den /= common;
    if (num <= MOST_16 && den <= MOST_16)
        return {std::uint32_t(num), std::uint32_t(den)};
    // Convergents h/k of num/den, while both terms fit.
    std::uint64_t h1 = 1, h2 = 0, k1 = 0, k2 = 1;
    for (std::uint64_t a = num, b = den; b != 0;) {
        const std::uint64_t q = a / b;
        const std::uint64_t h = q * h1 + h2, k = q * k1 + k2;
        if (h > MOST_16 || k > MOST_16) {
            // The largest semiconvergent (h2 + t h1) / (k2 + t k1) that fits, against the last convergent.
            const std::uint64_t t = std::min(h1 ? (MOST_16 - h2) / h1 : q, k1 ? (MOST_16 - k2) / k1 : q);
            const std::uint64_t hs = h2 + t * h1, ks = k2 + t * k1;
            if (k1 == 0)
                return {std::uint32_t(hs), std::uint32_t(ks)};
            // |h/k - num/den| compared as |h den - num k| / k, without division.
            const auto distance = [&](std::uint64_t hh, std::uint64_t kk) {
                return hh * den > num * kk ? hh * den - num * kk : num * kk - hh * den;
            };
            if (ks != 0 && distance(hs, ks) * k1 < distance(h1, k1) * ks)
                return {std::uint32_t(hs), std::uint32_t(ks)};
            return {std::uint32_t(h1), std::uint32_t(k1)};
        }
        h2 = h1;
        h1 = h;
        k2 = k1;
        k1 = k;
        const std::uint64_t r = a - q * b;
        a = b;
        b = r;
    }
    return {std::uint32_t(h1), std::uint32_t(k1)}; // not reached: the reduced fraction did not fit
}

animation still(image img)
{
    animation a;
    a.frames.push_back({std::move(img), {}});
    return a;
}

void check_writable(const animation& anim)
{
    if (anim.frames.empty())
        throw failure("no frames to write");
    const image& first = anim.frames.front().picture;
    for (const frame& f : anim.frames)
        if (f.picture.width != first.width || f.picture.height != first.height)
            throw failure("the frames of an animation differ in size");
}

canvas::canvas(std::size_t width, std::size_t height) : width_(width), height_(height) {}

void canvas::begin(rectangle r, disposal d)
{
    if (pixels_.empty()) // taken once a frame is drawn, not for a file that only claims a size
        pixels_.assign(width_ * height_, rgba(0, 0, 0, 0));
    place_ = r;
    then_ = d;
    if (d != disposal::restore)
        return;
    saved_.resize(r.width * r.height);
    for (std::size_t y = 0; y < r.height; ++y)
        std::copy_n(pixels_.begin() + std::ptrdiff_t((r.y + y) * width_ + r.x), r.width,
                    saved_.begin() + std::ptrdiff_t(y * r.width));
}

void canvas::draw(rectangle r, std::span<const pixel8888> part, bool blend)
{
    for (std::size_t y = 0; y < r.height; ++y) {
        pixel8888* dst = pixels_.data() + (r.y + y) * width_ + r.x;
        const pixel8888* src = part.data() + y * r.width;
        if (!blend)
            std::copy_n(src, r.width, dst);
        else
            for (std::size_t x = 0; x < r.width; ++x)
                dst[x] = over(dst[x], src[x]);
    }
}

void canvas::end()
{
    const rectangle r = place_;
    for (std::size_t y = 0; y < r.height && then_ != disposal::keep; ++y) {
        const auto row = pixels_.begin() + std::ptrdiff_t((r.y + y) * width_ + r.x);
        if (then_ == disposal::clear)
            std::fill_n(row, r.width, rgba(0, 0, 0, 0));
        else
            std::copy_n(saved_.begin() + std::ptrdiff_t(y * r.width), r.width, row);
    }
}

image canvas::snapshot(int width, int height) const
{
    return {width, height, layout_of_frame(pixels_), pixels_};
}

} // namespace lq2x::files
