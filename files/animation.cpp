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

namespace {

constexpr std::uint32_t GIF_MOST_PLAYS = 0x10000, WEBP_MOST_PLAYS = 0xFFFF, PNG_MOST_PLAYS = 0x7FFFFFFF;
constexpr std::uint32_t GIF_MOST_DELAY = 0xFFFF, WEBP_MOST_DELAY_MS = (1u << 24) - 1;

bool same_time(frame_delay a, frame_delay b)
{
    const std::uint64_t da = a.denominator == 0 ? 100 : a.denominator, db = b.denominator == 0 ? 100 : b.denominator;
    return std::uint64_t(a.numerator) * db == std::uint64_t(b.numerator) * da;
}

// A delay in seconds as a person reads it: "655.35 s", "1/3 s".
std::string seconds(frame_delay d)
{
    const std::uint64_t den = d.denominator == 0 ? 100 : d.denominator;
    if (std::uint64_t(d.numerator) * 1000 % den != 0)
        return std::to_string(d.numerator) + "/" + std::to_string(den) + " s";
    const std::uint64_t ms = std::uint64_t(d.numerator) * 1000 / den;
    std::string fraction = std::to_string(1000 + ms % 1000).substr(1);
    while (!fraction.empty() && fraction.back() == '0')
        fraction.pop_back();
    return std::to_string(ms / 1000) + (fraction.empty() ? "" : "." + fraction) + " s";
}

const char* animated_name(format f) { return f == format::gif ? "GIF" : f == format::webp ? "WebP" : "animated PNG"; }

bool keeps(const animation& anim, format f, bool delays)
{
    if (!delays)
        return held_loops(f, anim.loops) == anim.loops;
    return std::all_of(anim.frames.begin(), anim.frames.end(),
                       [&](const frame& fr) { return same_time(held_delay(f, fr.delay), fr.delay); });
}

// The animated formats that hold these values, for the warning to name.
std::string holders(const animation& anim, format f, bool delays)
{
    std::string names;
    for (const format other : {format::png, format::webp, format::gif})
        if (other != f && keeps(anim, other, delays))
            names += std::string(names.empty() ? "" : " and ") + animated_name(other);
    return names.empty() ? "" : " (" + names + " hold" + (names.find(" and ") == std::string::npos ? "s" : "") + " " +
                                    (delays ? "them" : "it") + ")";
}

} // namespace

frame_delay held_delay(format f, frame_delay d)
{
    switch (f) {
    case format::gif: return {in_units(d, 100, GIF_MOST_DELAY), 100};
    case format::webp: return {in_units(d, 1000, WEBP_MOST_DELAY_MS), 1000};
    default: {
        const auto [num, den] = in_16_bits(d);
        return {num, den};
    }
    }
}

std::uint32_t held_loops(format f, std::uint32_t loops)
{
    return std::min(loops, f == format::gif ? GIF_MOST_PLAYS : f == format::webp ? WEBP_MOST_PLAYS : PNG_MOST_PLAYS);
}

bool writes_timing(const animation& anim, format f)
{
    switch (f) {
    case format::gif: return anim.animated || anim.frames.size() > 1;
    case format::webp: return anim.frames.size() > 1;
    case format::png: return anim.animated;
    default: return false;
    }
}

std::string timing_changes(const animation& anim, format f)
{
    if (!writes_timing(anim, f))
        return {};
    std::string said;
    std::size_t changed = 0;
    for (const frame& fr : anim.frames)
        if (const frame_delay held = held_delay(f, fr.delay); !same_time(held, fr.delay) && changed++ == 0)
            said = seconds(fr.delay) + " written as " + seconds(held);
    if (changed > 0)
        said = std::to_string(changed) + (changed == 1 ? " delay" : " delays") + " that " + animated_name(f) +
               " cannot hold written as the nearest it holds (" + said + ")" + holders(anim, f, true);
    if (const std::uint32_t held = held_loops(f, anim.loops); held != anim.loops)
        said += (said.empty() ? "" : "; ") + std::to_string(anim.loops) + " plays written as " + std::to_string(held) +
                ", the most " + animated_name(f) + " holds" + holders(anim, f, false);
    return said;
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
