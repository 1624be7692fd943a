// Animated PNG: the animation chunks (acTL, fcTL, fdAT) read and written on
// top of libpng, which knows only still images.
//
// Reading walks the chunks, checking every length, checksum, sequence
// number and frame rectangle, then hands each frame's data to the still
// reader as a PNG of its own (the file's IHDR with the frame's size, its
// PLTE and tRNS, the data as IDAT), so that every colour type, depth and
// interlacing reads exactly as in a still image. The frames are then
// composited on a canvas as a viewer shows them.
//
// Writing stores every frame whole (no rectangles, no blending), the first
// one also as the image that viewers without animation show, all in one
// colour type and depth chosen over every frame.
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <string>

#include "codecs.h"
#include "png_write.h"

namespace tool {
namespace {

constexpr std::uint32_t MOST = 0x7FFFFFFF; // PNG's four-byte numbers stop at 2^31 - 1
constexpr std::uint32_t MOST_16 = 0xFFFF;   // a delay's numerator and denominator

enum dispose_op : std::uint8_t { DISPOSE_NONE, DISPOSE_BACKGROUND, DISPOSE_PREVIOUS };
enum blend_op : std::uint8_t { BLEND_SOURCE, BLEND_OVER };

std::uint32_t get32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}
std::uint32_t get16(const std::uint8_t* p) { return std::uint32_t(p[0]) << 8 | p[1]; }

void put16(std::vector<std::uint8_t>& out, std::uint32_t v) { out.insert(out.end(), {std::uint8_t(v >> 8), std::uint8_t(v)}); }

constexpr std::uint32_t tag(const char (&name)[5])
{
    return std::uint32_t(std::uint8_t(name[0])) << 24 | std::uint32_t(std::uint8_t(name[1])) << 16 |
           std::uint32_t(std::uint8_t(name[2])) << 8 | std::uint8_t(name[3]);
}

struct chunk {
    std::uint32_t type = 0;
    std::span<const std::uint8_t> data;
    std::span<const std::uint8_t> whole; // length, type, data and CRC

    std::string name() const
    {
        std::string s;
        for (int shift = 24; shift >= 0; shift -= 8) {
            const char c = char(type >> shift);
            s += (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ? c : '?';
        }
        return s;
    }
};

// The chunk at `at`, which then moves past it; its length and CRC checked.
chunk next_chunk(std::span<const std::uint8_t> file, std::size_t& at)
{
    if (file.size() - at < 12)
        throw failure("truncated: the file ends before its IEND chunk");
    chunk c;
    const std::uint32_t length = get32(file.data() + at);
    c.type = get32(file.data() + at + 4);
    if (length > MOST)
        throw failure("chunk " + c.name() + " has an impossible length");
    if (file.size() - at - 12 < length)
        throw failure("truncated: chunk " + c.name() + " ends past the end of the file");
    c.whole = file.subspan(at, std::size_t(length) + 12);
    c.data = c.whole.subspan(8, length);
    const std::uint32_t crc = std::uint32_t(crc32_z(0, c.whole.data() + 4, std::size_t(length) + 4));
    if (crc != get32(c.whole.data() + 8 + length))
        throw failure("chunk " + c.name() + " is corrupt (its CRC does not match)");
    at += c.whole.size();
    return c;
}

// Whether an acTL comes before the image data, which makes the file an
// animation; only chunk headers are looked at. A file too broken to tell is
// left to the still reader, which says what is wrong with it.
bool announces_animation(std::span<const std::uint8_t> file)
{
    if (file.size() < sizeof PNG_SIGNATURE || !std::equal(std::begin(PNG_SIGNATURE), std::end(PNG_SIGNATURE), file.begin()))
        return false;
    for (std::size_t at = sizeof PNG_SIGNATURE; file.size() - at >= 12;) {
        const std::uint32_t length = get32(file.data() + at), type = get32(file.data() + at + 4);
        if (type == tag("acTL"))
            return true;
        if (type == tag("IDAT") || type == tag("IEND") || length > file.size() - at - 12)
            return false;
        at += std::size_t(length) + 12;
    }
    return false;
}

// One frame as the file describes it.
struct frame_control {
    std::uint32_t width = 0, height = 0, x = 0, y = 0;
    frame_delay delay;
    std::uint8_t dispose = DISPOSE_NONE, blend = BLEND_SOURCE;
    bool from_idat = false;                          // the default image is this frame's data
    std::vector<std::span<const std::uint8_t>> data; // pieces of its zlib stream
};

struct animated_png {
    std::span<const std::uint8_t> header; // IHDR's 13 bytes
    std::uint32_t width = 0, height = 0;
    std::vector<std::span<const std::uint8_t>> copied; // PLTE and tRNS, whole, for every frame
    std::uint32_t plays = 0;
    std::vector<frame_control> frames;
};

frame_control read_fctl(std::span<const std::uint8_t> d, std::size_t index, const animated_png& png, bool over_idat)
{
    frame_control f;
    f.width = get32(&d[4]);
    f.height = get32(&d[8]);
    f.x = get32(&d[12]);
    f.y = get32(&d[16]);
    f.delay = {get16(&d[20]), get16(&d[22])};
    f.dispose = d[24];
    f.blend = d[25];
    f.from_idat = over_idat;
    const std::string which = "frame " + std::to_string(index);
    if (f.width == 0 || f.height == 0)
        throw failure(which + " has no pixels (" + std::to_string(f.width) + " x " + std::to_string(f.height) + ")");
    if (std::uint64_t(f.x) + f.width > png.width || std::uint64_t(f.y) + f.height > png.height)
        throw failure(which + " (" + std::to_string(f.width) + " x " + std::to_string(f.height) + " at " +
                      std::to_string(f.x) + ", " + std::to_string(f.y) + ") reaches outside the " +
                      std::to_string(png.width) + " x " + std::to_string(png.height) + " image");
    if (over_idat && (f.x != 0 || f.y != 0 || f.width != png.width || f.height != png.height))
        throw failure(which + " is the default image but does not cover the whole image");
    if (f.dispose > DISPOSE_PREVIOUS)
        throw failure(which + " has an unknown dispose_op " + std::to_string(f.dispose));
    if (f.blend > BLEND_OVER)
        throw failure(which + " has an unknown blend_op " + std::to_string(f.blend));
    // Nothing comes before the first frame to go back to: its canvas was clear.
    if (index == 0 && f.dispose == DISPOSE_PREVIOUS)
        f.dispose = DISPOSE_BACKGROUND;
    return f;
}

// Every chunk walked and checked; no pixel decoded yet.
animated_png read_chunks(std::span<const std::uint8_t> file, size_limit limit)
{
    animated_png png;
    std::size_t at = sizeof PNG_SIGNATURE;
    const chunk ihdr = next_chunk(file, at);
    if (ihdr.type != tag("IHDR") || ihdr.data.size() != 13)
        throw failure("the first chunk is not a valid IHDR");
    png.header = ihdr.data;
    png.width = get32(&ihdr.data[0]);
    png.height = get32(&ihdr.data[4]);
    check_size(png.width, png.height, limit);

    std::uint64_t announced = 0;
    bool seen_actl = false, in_idat = false, after_idat = false;
    std::uint32_t sequence = 0;
    const auto check_sequence = [&](const chunk& c) {
        if (c.data.size() < 4)
            throw failure("chunk " + c.name() + " is too short for its sequence number");
        if (const std::uint32_t n = get32(c.data.data()); n != sequence)
            throw failure("animation chunks out of sequence: " + c.name() + " numbered " + std::to_string(n) +
                          " where " + std::to_string(sequence) + " was due");
        ++sequence;
    };
    const auto check_has_data = [&] {
        if (!png.frames.empty() && png.frames.back().data.empty())
            throw failure("frame " + std::to_string(png.frames.size() - 1) + " has no image data");
    };
    for (;;) {
        const chunk c = next_chunk(file, at);
        if (c.type == tag("IEND"))
            break;
        if (c.type == tag("IDAT")) {
            if (after_idat)
                throw failure("IDAT chunks are not all together");
            in_idat = true;
            if (!png.frames.empty())
                png.frames.back().data.push_back(c.data);
            continue;
        }
        if (in_idat) {
            in_idat = false;
            after_idat = true;
        }
        if (c.type == tag("acTL")) {
            if (seen_actl || after_idat || c.data.size() != 8)
                throw failure(seen_actl ? "a second acTL chunk" : "a misplaced or malformed acTL chunk");
            seen_actl = true;
            announced = get32(&c.data[0]);
            png.plays = get32(&c.data[4]);
            if (announced == 0)
                throw failure("animation of no frames (acTL says 0)");
            if (announced > MOST || png.plays > MOST)
                throw failure("acTL holds an impossible number");
            check_frames(announced, png.width, png.height, limit); // before any frame is kept
        } else if (c.type == tag("fcTL")) {
            if (!seen_actl)
                throw failure("fcTL chunk without an acTL before the image data");
            if (c.data.size() != 26)
                throw failure("fcTL chunk of the wrong length");
            check_sequence(c);
            if (!png.frames.empty() && !after_idat)
                throw failure("a second fcTL chunk before the image data");
            check_has_data();
            if (png.frames.size() == announced)
                throw failure("more frames than the " + std::to_string(announced) + " acTL announces");
            png.frames.push_back(read_fctl(c.data, png.frames.size(), png, !after_idat));
        } else if (c.type == tag("fdAT")) {
            check_sequence(c);
            if (png.frames.empty() || png.frames.back().from_idat)
                throw failure("fdAT chunk without an fcTL before it");
            png.frames.back().data.push_back(c.data.subspan(4));
        } else if (c.type == tag("PLTE") || c.type == tag("tRNS")) {
            if (!after_idat)
                png.copied.push_back(c.whole);
        } else if (c.type == tag("IHDR")) {
            throw failure("a second IHDR chunk");
        } else if ((c.type >> 29 & 1) == 0) { // upper case first letter: a chunk the image needs
            throw failure("unknown critical chunk " + c.name());
        }
    }
    if (!in_idat && !after_idat)
        throw failure("no image data (IDAT)");
    check_has_data();
    if (png.frames.size() != announced)
        throw failure("acTL announces " + std::to_string(announced) + " frames, the file has " +
                      std::to_string(png.frames.size()));
    return png;
}

// A frame's pixels, read by the still reader from a PNG of its own.
image decode_frame(const animated_png& png, const frame_control& f, std::size_t index, size_limit limit)
{
    std::size_t bytes = sizeof PNG_SIGNATURE + 25 + 12;
    for (const auto c : png.copied)
        bytes += c.size();
    for (const auto piece : f.data)
        bytes += piece.size() + 12;
    std::vector<std::uint8_t> still(std::begin(PNG_SIGNATURE), std::end(PNG_SIGNATURE));
    still.reserve(bytes);
    std::vector<std::uint8_t> header;
    put32(header, f.width);
    put32(header, f.height);
    header.insert(header.end(), png.header.begin() + 8, png.header.end());
    put_chunk(still, "IHDR", header);
    for (const auto c : png.copied)
        still.insert(still.end(), c.begin(), c.end());
    for (const auto piece : f.data)
        put_chunk(still, "IDAT", piece);
    put_chunk(still, "IEND", {});
    try {
        image img = decode_png(still, limit);
        if (std::uint32_t(img.width) != f.width || std::uint32_t(img.height) != f.height)
            throw failure("read back at the wrong size");
        return img;
    } catch (const failure& e) {
        throw failure("frame " + std::to_string(index) + ": " + e.what());
    }
}

// Straight-alpha "over", exact: the result's alpha is as + ad (255 - as) / 255
// and each colour the mean of the two weighted by as * 255 and ad (255 - as),
// each rounded once to nearest, halves up. An opaque source replaces the
// pixel and a clear one leaves it as it was.
void over(std::uint8_t* dst, const std::uint8_t* src)
{
    const std::uint32_t as = src[3], ad = dst[3];
    const std::uint32_t ws = as * 255, wd = ad * (255 - as), total = ws + wd;
    if (as == 0)
        return;
    for (int c = 0; c < 3; ++c)
        dst[c] = std::uint8_t((src[c] * ws + dst[c] * wd + total / 2) / total);
    dst[3] = std::uint8_t((total + 127) / 255);
}

void draw(image& canvas, const image& part, const frame_control& f)
{
    for (std::uint32_t y = 0; y < f.height; ++y) {
        std::uint8_t* dst = canvas.bytes() + 4 * ((std::size_t(f.y) + y) * std::size_t(canvas.width) + f.x);
        const std::uint8_t* src = part.bytes() + 4 * std::size_t(y) * f.width;
        if (f.blend == BLEND_SOURCE) {
            std::memcpy(dst, src, 4 * std::size_t(f.width));
            continue;
        }
        for (std::uint32_t x = 0; x < f.width; ++x)
            over(dst + 4 * x, src + 4 * x);
    }
}


// A delay as animated PNG's 16-bit numerator and denominator: as it is when
// both fit, else with common factors cancelled, else the nearest fraction
// whose terms both fit (the last convergent or semiconvergent of its
// continued fraction within the bounds); 65535 s at most.
std::pair<std::uint32_t, std::uint32_t> delay_fraction(frame_delay d)
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

} // namespace

animation decode_png_animation(std::span<const std::uint8_t> data, size_limit limit)
{
    animation a;
    if (!announces_animation(data)) {
        a.frames.push_back({decode_png(data, limit), {}});
        return a;
    }
    const animated_png png = read_chunks(data, limit);
    a.animated = true;
    a.loops = png.plays;
    image canvas{int(png.width), int(png.height), layout::rgba, {}};
    std::vector<pixel8888> saved;
    for (const frame_control& f : png.frames) {
        const image part = decode_frame(png, f, a.frames.size(), limit);
        if (canvas.pixels.empty()) // taken once a frame has read well, not for a file that only claims a size
            canvas.pixels.assign(std::size_t(png.width) * png.height, 0);
        const rectangle place{f.x, f.y, f.width, f.height};
        const disposal then = f.dispose == DISPOSE_BACKGROUND ? disposal::clear
                              : f.dispose == DISPOSE_PREVIOUS ? disposal::restore
                                                              : disposal::keep;
        before_frame(canvas.pixels, png.width, place, then, saved);
        draw(canvas, part, f);
        frame out{canvas, f.delay};
        out.picture.kind = layout_of_frame(out.picture.pixels);
        a.frames.push_back(std::move(out));
        after_frame(canvas.pixels, png.width, place, then, saved);
    }
    return a;
}

std::vector<std::uint8_t> encode_png_animation(const animation& anim, int level, int threads)
{
    if (anim.frames.empty())
        throw failure("an animation of no frames");
    std::vector<const image*> pictures;
    for (const frame& f : anim.frames) {
        if (f.picture.width != anim.frames.front().picture.width ||
            f.picture.height != anim.frames.front().picture.height)
            throw failure("the frames of an animation differ in size");
        pictures.push_back(&f.picture);
    }
    if (anim.frames.size() > MOST)
        throw failure("too many frames for an animated PNG");
    const png_form form = choose_form(pictures);
    const image& first = anim.frames.front().picture;

    std::vector<std::uint8_t> out(std::begin(PNG_SIGNATURE), std::end(PNG_SIGNATURE));
    std::uint32_t sequence = 0;
    std::vector<std::uint8_t> fields;
    const auto put_fctl = [&](const frame& f) {
        const auto [num, den] = delay_fraction(f.delay);
        fields.clear();
        for (const std::uint32_t v : {sequence++, std::uint32_t(first.width), std::uint32_t(first.height), 0u, 0u})
            put32(fields, v);
        put16(fields, num);
        put16(fields, den);
        fields.insert(fields.end(), {DISPOSE_NONE, BLEND_SOURCE});
        put_chunk(out, "fcTL", fields);
    };
    for (std::size_t i = 0; i < anim.frames.size(); ++i) {
        // Each frame as a still PNG in the common form; its chunks are then
        // taken apart: the first frame's all, the others' image data as fdAT.
        const std::vector<std::uint8_t> still = encode_png(anim.frames[i].picture, form, level, threads);
        bool first_data = true;
        for (std::size_t at = sizeof PNG_SIGNATURE; at < still.size();) {
            const chunk c = next_chunk(still, at);
            if (c.type == tag("IEND"))
                break;
            if (c.type == tag("IDAT") && first_data) {
                put_fctl(anim.frames[i]);
                first_data = false;
            }
            if (i == 0) {
                out.insert(out.end(), c.whole.begin(), c.whole.end());
                if (c.type == tag("IHDR")) {
                    fields.clear();
                    put32(fields, std::uint32_t(anim.frames.size()));
                    put32(fields, std::min(anim.loops, MOST));
                    put_chunk(out, "acTL", fields);
                }
            } else if (c.type == tag("IDAT")) {
                fields.clear();
                put32(fields, sequence++);
                fields.insert(fields.end(), c.data.begin(), c.data.end());
                put_chunk(out, "fdAT", fields);
            }
        }
    }
    put_chunk(out, "IEND", {});
    return out;
}

} // namespace tool
