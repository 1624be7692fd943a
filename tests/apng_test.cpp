// Animated PNG: files made here chunk by chunk (support.h: zlib for the
// data, zlib's crc32 for the checksums), read by the tool and
// compared frame by frame with a compositing model written here; the tool's
// animations read back by a reader written here and by ffmpeg.
#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "support.h"

using namespace testing_support;

namespace fs = std::filesystem;
using rgba = std::array<std::uint8_t, 4>;

namespace {

// ---- Pictures as the model sees them: 8-bit R, G, B, A.

struct picture {
    int width = 0, height = 0;
    std::vector<rgba> px;
    rgba& at(int x, int y) { return px[std::size_t(y) * width + x]; }
    const rgba& at(int x, int y) const { return px[std::size_t(y) * width + x]; }
    bool operator==(const picture&) const = default;
};

picture of(const files::image& img)
{
    picture p{img.width, img.height, std::vector<rgba>(img.pixels.size())};
    std::memcpy(p.px.data(), img.bytes(), img.pixels.size() * 4);
    return p;
}

// ---- The files' side: samples as stored, and how they read as 8 bits.

struct png_kind {
    const char* name;
    int colour = 6, depth = 8;
    bool interlaced = false;
    std::vector<rgba> palette;   // colour type 3 (alpha goes to tRNS while any entry from there on is not opaque)
    std::optional<unsigned> key; // grey or RGB: the sample value (all three equal) made clear by tRNS

    png_kind(const char* name_, int colour_, int depth_, bool interlaced_ = false, std::vector<rgba> palette_ = {},
             std::optional<unsigned> key_ = {})
        : name(name_), colour(colour_), depth(depth_), interlaced(interlaced_), palette(std::move(palette_)), key(key_)
    {
    }
};

int channels(const png_kind& k) { return k.colour == 0 || k.colour == 3 ? 1 : k.colour == 4 ? 2 : k.colour == 2 ? 3 : 4; }

std::uint8_t to8(unsigned v, int depth)
{
    if (depth == 16)
        return std::uint8_t((v * 255u + 32767u) / 65535u);
    return std::uint8_t(v * 255u / ((1u << depth) - 1));
}

// One pixel's samples as the model reads them.
rgba model_pixel(const png_kind& k, const unsigned* s)
{
    switch (k.colour) {
    case 3: return k.palette[s[0]];
    case 0: {
        const std::uint8_t g = to8(s[0], k.depth);
        return {g, g, g, std::uint8_t(k.key && s[0] == *k.key ? 0 : 255)};
    }
    case 4: {
        const std::uint8_t g = to8(s[0], k.depth);
        return {g, g, g, to8(s[1], k.depth)};
    }
    case 2:
        return {to8(s[0], k.depth), to8(s[1], k.depth), to8(s[2], k.depth),
                std::uint8_t(k.key && s[0] == *k.key && s[1] == *k.key && s[2] == *k.key ? 0 : 255)};
    default: return {to8(s[0], k.depth), to8(s[1], k.depth), to8(s[2], k.depth), to8(s[3], k.depth)};
    }
}

struct samples {
    int width = 0, height = 0;
    std::vector<unsigned> v; // channels(kind) a pixel
};

picture model_picture(const png_kind& k, const samples& s)
{
    picture p{s.width, s.height, std::vector<rgba>(std::size_t(s.width) * s.height)};
    for (std::size_t i = 0; i < p.px.size(); ++i)
        p.px[i] = model_pixel(k, &s.v[i * channels(k)]);
    return p;
}

samples random_samples(const png_kind& k, int w, int h, std::mt19937& rng)
{
    samples s{w, h, std::vector<unsigned>(std::size_t(w) * h * channels(k))};
    const unsigned top = k.colour == 3 ? unsigned(k.palette.size()) : 1u << k.depth;
    for (std::size_t i = 0; i < s.v.size(); ++i) {
        // Alpha samples mostly fully clear or fully opaque, some between.
        const bool alpha = (k.colour == 4 || k.colour == 6) && i % channels(k) == std::size_t(channels(k) - 1);
        const unsigned r = rng() % 4;
        s.v[i] = alpha && r < 2 ? (r == 0 ? 0 : top - 1) : rng() % top;
        if (k.key && !alpha && k.colour != 3 && rng() % 5 == 0) {
            // Now and then the clear key colour, as a whole pixel.
            const std::size_t first = i - i % channels(k);
            for (int c = 0; c < channels(k); ++c)
                s.v[first + std::size_t(c)] = *k.key;
            i = first + std::size_t(channels(k)) - 1;
        }
    }
    return s;
}

// Rows of filter type 0 at the file's depth; with Adam7, the seven passes.
bytes scanlines(const png_kind& k, const samples& s)
{
    bytes out;
    const int n = channels(k);
    const auto pass = [&](int x0, int y0, int dx, int dy) {
        for (int y = y0; y < s.height; y += dy) {
            if (x0 >= s.width)
                return;
            out.push_back(0);
            unsigned bits = 0;
            int filled = 0;
            for (int x = x0; x < s.width; x += dx)
                for (int c = 0; c < n; ++c) {
                    const unsigned v = s.v[(std::size_t(y) * s.width + x) * n + c];
                    if (k.depth == 16) {
                        out.push_back(std::uint8_t(v >> 8));
                        out.push_back(std::uint8_t(v));
                    } else {
                        bits = bits << k.depth | v;
                        filled += k.depth;
                        if (filled == 8) {
                            out.push_back(std::uint8_t(bits));
                            bits = 0;
                            filled = 0;
                        }
                    }
                }
            if (filled > 0)
                out.push_back(std::uint8_t(bits << (8 - filled)));
        }
    };
    if (!k.interlaced) {
        pass(0, 0, 1, 1);
        return out;
    }
    constexpr int ADAM7[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4}, {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    for (const auto& p : ADAM7)
        pass(p[0], p[1], p[2], p[3]);
    return out;
}

void put16(bytes& out, unsigned v)
{
    out.push_back(std::uint8_t(v >> 8));
    out.push_back(std::uint8_t(v));
}
unsigned get16(const std::uint8_t* p) { return unsigned(p[0]) << 8 | p[1]; }

// ---- Animations as the test describes them.

enum : std::uint8_t { DISPOSE_NONE, DISPOSE_BACKGROUND, DISPOSE_PREVIOUS };
enum : std::uint8_t { BLEND_SOURCE, BLEND_OVER };

struct test_frame {
    int x = 0, y = 0;
    samples pixels;
    unsigned delay_num = 1, delay_den = 10;
    std::uint8_t dispose = DISPOSE_NONE, blend = BLEND_SOURCE;
};

struct test_animation {
    png_kind kind;
    int width = 0, height = 0;
    std::vector<test_frame> frames;
    std::optional<samples> hidden_default; // an IDAT image that is not one of the frames
    unsigned plays = 0;

    test_animation(png_kind kind_, int width_, int height_) : kind(std::move(kind_)), width(width_), height(height_) {}
};

// The chunks in order, sequence numbers counted from 0 over fcTL and fdAT.
std::vector<chunk> chunks_of(const test_animation& a)
{
    std::vector<chunk> out;
    bytes d;
    put32(d, std::uint32_t(a.width));
    put32(d, std::uint32_t(a.height));
    d.insert(d.end(), {std::uint8_t(a.kind.depth), std::uint8_t(a.kind.colour), 0, 0, std::uint8_t(a.kind.interlaced)});
    out.push_back({"IHDR", d});
    d.clear();
    put32(d, std::uint32_t(a.frames.size()));
    put32(d, a.plays);
    out.push_back({"acTL", d});
    if (a.kind.colour == 3) {
        bytes plte, trns;
        for (const rgba& c : a.kind.palette) {
            plte.insert(plte.end(), c.begin(), c.begin() + 3);
            trns.push_back(c[3]);
        }
        while (!trns.empty() && trns.back() == 255)
            trns.pop_back();
        out.push_back({"PLTE", plte});
        if (!trns.empty())
            out.push_back({"tRNS", trns});
    } else if (a.kind.key) {
        d.clear();
        for (int c = 0; c < (a.kind.colour == 0 ? 1 : 3); ++c)
            put16(d, *a.kind.key);
        out.push_back({"tRNS", d});
    }
    std::uint32_t sequence = 0;
    const auto control = [&](const test_frame& f) {
        bytes c;
        put32(c, sequence++);
        for (const int v : {f.pixels.width, f.pixels.height, f.x, f.y})
            put32(c, std::uint32_t(v));
        put16(c, f.delay_num);
        put16(c, f.delay_den);
        c.insert(c.end(), {f.dispose, f.blend});
        out.push_back({"fcTL", c});
    };
    // Image data in two pieces, to check that they are joined.
    const auto data = [&](const samples& s, bool as_idat) {
        const bytes z = deflated(scanlines(a.kind, s));
        const std::size_t half = z.size() / 2;
        for (const auto& [from, to] : {std::pair{std::size_t{0}, half}, std::pair{half, z.size()}}) {
            bytes c;
            if (!as_idat)
                put32(c, sequence++);
            c.insert(c.end(), z.begin() + std::ptrdiff_t(from), z.begin() + std::ptrdiff_t(to));
            out.push_back({as_idat ? "IDAT" : "fdAT", c});
        }
    };
    if (a.hidden_default)
        data(*a.hidden_default, true);
    for (std::size_t i = 0; i < a.frames.size(); ++i) {
        control(a.frames[i]);
        data(a.frames[i].pixels, i == 0 && !a.hidden_default);
    }
    out.push_back({"IEND", {}});
    return out;
}

// ---- The compositing model: straight alpha, "over" exact and rounded to
// nearest (halves up), dispose ops on a canvas that starts clear.

rgba over(rgba dst, rgba src)
{
    // In 255ths of 255ths: the source's weight, the destination's, and the alpha they make.
    const unsigned ws = src[3] * 255u, wd = dst[3] * (255u - src[3]), alpha = ws + wd;
    if (src[3] == 0)
        return dst;
    const auto nearest = [](unsigned n, unsigned d) { return std::uint8_t((2 * n + d) / (2 * d)); };
    rgba out;
    for (int c = 0; c < 3; ++c)
        out[c] = nearest(src[c] * ws + dst[c] * wd, alpha);
    out[3] = nearest(alpha, 255);
    return out;
}

struct model_frame {
    picture pixels;
    unsigned delay_num = 0, delay_den = 0;
};

std::vector<model_frame> composite(const test_animation& a)
{
    std::vector<model_frame> out;
    picture canvas{a.width, a.height, std::vector<rgba>(std::size_t(a.width) * a.height, rgba{0, 0, 0, 0})};
    for (std::size_t i = 0; i < a.frames.size(); ++i) {
        const test_frame& f = a.frames[i];
        const picture src = model_picture(a.kind, f.pixels);
        const picture before = canvas;
        for (int y = 0; y < src.height; ++y)
            for (int x = 0; x < src.width; ++x) {
                rgba& d = canvas.at(f.x + x, f.y + y);
                d = f.blend == BLEND_SOURCE ? src.at(x, y) : over(d, src.at(x, y));
            }
        out.push_back({canvas, f.delay_num, f.delay_den});
        if (f.dispose == DISPOSE_PREVIOUS && i > 0)
            canvas = before;
        else if (f.dispose != DISPOSE_NONE)
            for (int y = 0; y < src.height; ++y)
                for (int x = 0; x < src.width; ++x)
                    canvas.at(f.x + x, f.y + y) = {0, 0, 0, 0};
    }
    return out;
}

// What the tool makes of a frame: invisible pixels all zero, then the rule `passes` times.
picture scaled(picture p, int passes)
{
    ref::image8888 r{p.width, p.height, std::vector<pixel8888>(p.px.size())};
    for (rgba& c : p.px)
        if (c[3] == 0)
            c = {0, 0, 0, 0};
    std::memcpy(r.pixels.data(), p.px.data(), p.px.size() * 4);
    for (int i = 0; i < passes; ++i)
        r = ref::scale(r, lq2x::orientation::upright);
    picture out{r.width, r.height, std::vector<rgba>(r.pixels.size())};
    std::memcpy(out.px.data(), r.pixels.data(), r.pixels.size() * 4);
    return out;
}

// ---- A reader of the tool's animations, written apart from the tool's:
// any filter, colour type and depth below 16, no interlacing (which the
// tool never writes); frames composited by the model above.

struct read_animation {
    int colour = -1, depth = 0;
    unsigned plays = 0;
    bool first_is_default = false;
    std::vector<model_frame> frames;
    std::vector<std::array<unsigned, 4>> rectangles; // width, height, x, y as the file says
    std::vector<std::array<unsigned, 2>> ops;        // dispose, blend
};

unsigned paeth(unsigned a, unsigned b, unsigned c)
{
    const int p = int(a) + int(b) - int(c), pa = std::abs(p - int(a)), pb = std::abs(p - int(b)), pc = std::abs(p - int(c));
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

std::optional<read_animation> read_apng(const bytes& file, std::string& why)
{
    read_animation r;
    if (file.size() < 8 || std::memcmp(file.data(), "\x89PNG\r\n\x1a\n", 8) != 0)
        return why = "no signature", std::nullopt;
    int width = 0, height = 0;
    std::vector<rgba> palette;
    bytes trns;
    std::vector<std::pair<std::array<unsigned, 8>, bytes>> frames; // fcTL fields, data
    bool seen_idat = false;
    std::uint32_t sequence = 0;
    for (std::size_t at = 8;;) {
        if (file.size() - at < 12)
            return why = "truncated", std::nullopt;
        const std::uint32_t length = get32(&file[at]);
        const std::string type(file.begin() + std::ptrdiff_t(at) + 4, file.begin() + std::ptrdiff_t(at) + 8);
        if (file.size() - at - 12 < length)
            return why = "truncated " + type, std::nullopt;
        const std::uint8_t* d = &file[at + 8];
        if (get32(d + length) != crc32(0, &file[at + 4], length + 4))
            return why = "bad CRC in " + type, std::nullopt;
        at += 12 + length;
        if (type == "IEND")
            break;
        if (type == "IHDR") {
            width = int(get32(d));
            height = int(get32(d + 4));
            r.depth = d[8];
            r.colour = d[9];
            if (d[12] != 0)
                return why = "interlaced", std::nullopt;
        } else if (type == "PLTE") {
            for (std::uint32_t i = 0; i + 2 < length; i += 3)
                palette.push_back({d[i], d[i + 1], d[i + 2], 255});
        } else if (type == "tRNS") {
            trns.assign(d, d + length);
        } else if (type == "acTL") {
            r.plays = get32(d + 4);
        } else if (type == "fcTL" || type == "fdAT") {
            if (get32(d) != sequence++)
                return why = "sequence", std::nullopt;
            if (type == "fcTL") {
                frames.push_back({{get32(d + 4), get32(d + 8), get32(d + 12), get32(d + 16), get16(d + 20),
                                   get16(d + 22), d[24], d[25]},
                                  {}});
                if (!seen_idat)
                    r.first_is_default = true;
            } else {
                if (frames.empty())
                    return why = "fdAT first", std::nullopt;
                frames.back().second.insert(frames.back().second.end(), d + 4, d + length);
            }
        } else if (type == "IDAT") {
            seen_idat = true;
            if (r.first_is_default)
                frames.back().second.insert(frames.back().second.end(), d, d + length);
        }
    }
    for (std::size_t i = 0; i < trns.size() && i < palette.size(); ++i)
        palette[i][3] = trns[i];
    png_kind kind{"read", r.colour, r.depth};
    kind.palette = palette;
    if (!trns.empty() && (r.colour == 0 || r.colour == 2))
        kind.key = get16(trns.data()); // the tool writes one value in all three samples
    test_animation a{kind, width, height};
    for (const auto& [f, z] : frames) {
        const int w = int(f[0]), h = int(f[1]), n = channels(kind);
        const std::size_t bits = std::size_t(n) * r.depth, stride = (w * bits + 7) / 8, bpp = std::max<std::size_t>(1, bits / 8);
        bytes raw((stride + 1) * h);
        uLongf size = uLongf(raw.size());
        if (uncompress(raw.data(), &size, z.data(), uLong(z.size())) != Z_OK || size != raw.size())
            return why = "frame data", std::nullopt;
        samples s{w, h, std::vector<unsigned>(std::size_t(w) * h * n)};
        bytes prior(stride, 0), row(stride);
        for (int y = 0; y < h; ++y) {
            const std::uint8_t filter = raw[y * (stride + 1)];
            const std::uint8_t* in = &raw[y * (stride + 1) + 1];
            for (std::size_t i = 0; i < stride; ++i) {
                const unsigned left = i >= bpp ? row[i - bpp] : 0, up = prior[i], corner = i >= bpp ? prior[i - bpp] : 0;
                const unsigned guess = filter == 0 ? 0 : filter == 1 ? left : filter == 2 ? up : filter == 3 ? (left + up) / 2
                                                                                                            : paeth(left, up, corner);
                row[i] = std::uint8_t(in[i] + guess);
            }
            if (filter > 4)
                return why = "filter", std::nullopt;
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < n; ++c) {
                    const std::size_t bit = (std::size_t(x) * n + c) * r.depth;
                    s.v[(std::size_t(y) * w + x) * n + c] = (row[bit / 8] >> (8 - r.depth - bit % 8)) & ((1u << r.depth) - 1);
                }
            prior = row;
        }
        test_frame t{int(f[2]), int(f[3]), s, f[4], f[5], std::uint8_t(f[6]), std::uint8_t(f[7])};
        a.frames.push_back(t);
        r.rectangles.push_back({f[0], f[1], f[2], f[3]});
        r.ops.push_back({f[6], f[7]});
    }
    r.frames = composite(a);
    return r;
}

// ---- ffmpeg as an outside reader: every frame composited, as RGBA.

constexpr const char* FFMPEG = "/usr/bin/ffmpeg";

std::vector<picture> ffmpeg_frames(const fs::path& file, int width, int height)
{
    const outcome o = testing_support::run_program(
        FFMPEG, {"-v", "error", "-i", file.string(), "-f", "rawvideo", "-pix_fmt", "rgba", "-fps_mode", "passthrough", "-"});
    EXPECT_EQ(o.status, 0) << o.err;
    const std::size_t frame_bytes = std::size_t(width) * height * 4;
    EXPECT_EQ(o.out.size() % frame_bytes, 0u);
    std::vector<picture> out;
    for (std::size_t at = 0; at + frame_bytes <= o.out.size(); at += frame_bytes) {
        picture p{width, height, std::vector<rgba>(std::size_t(width) * height)};
        std::memcpy(p.px.data(), o.out.data() + at, frame_bytes);
        out.push_back(p);
    }
    return out;
}

// ---- Generated animations.

const png_kind KINDS[] = {
    {"rgba 8", 6, 8},
    {"rgba 16", 6, 16},
    {"rgba 8 interlaced", 6, 8, true},
    {"rgb 8 with a key", 2, 8, false, {}, 77},
    {"grey+alpha 16", 4, 16},
    {"grey 2 with a key", 0, 2, false, {}, 1},
    {"palette 4", 3, 4, false, {{10, 20, 30, 0}, {200, 0, 0, 128}, {0, 255, 0, 255}, {1, 2, 3, 255}, {90, 80, 70, 40}}},
    {"palette 8 interlaced", 3, 8, true, {{255, 255, 255, 255}, {0, 0, 0, 0}, {50, 60, 70, 200}}},
};

// Frames of every dispose and blend op (frame i > 0 takes dispose (i - 1) % 3
// and blend (i - 1) / 3 % 2), smaller than the image and offset in it.
test_animation generated(const png_kind& kind, std::uint32_t seed, bool hidden_default, int count = 8)
{
    std::mt19937 rng(seed);
    test_animation a{kind, 13 + int(rng() % 5), 9 + int(rng() % 5)};
    a.plays = rng() % 4;
    if (hidden_default)
        a.hidden_default = random_samples(kind, a.width, a.height, rng);
    for (int i = 0; i < count; ++i) {
        test_frame f;
        const bool whole = i == 0 && !hidden_default;
        const int w = whole ? a.width : 1 + int(rng() % unsigned(a.width));
        const int h = whole ? a.height : 1 + int(rng() % unsigned(a.height));
        f.x = whole ? 0 : int(rng() % unsigned(a.width - w + 1));
        f.y = whole ? 0 : int(rng() % unsigned(a.height - h + 1));
        f.pixels = random_samples(kind, w, h, rng);
        f.delay_num = rng() % 300;
        f.delay_den = rng() % 4 == 0 ? 0 : 1 + rng() % 1000;
        f.dispose = std::uint8_t(i == 0 ? rng() % 3 : (i - 1) % 3);
        f.blend = std::uint8_t(i == 0 ? rng() % 2 : (i - 1) / 3 % 2);
        a.frames.push_back(f);
    }
    return a;
}

void expect_frames(const files::animation& got, const std::vector<model_frame>& want, const std::string& what)
{
    ASSERT_EQ(got.frames.size(), want.size()) << what;
    for (std::size_t i = 0; i < want.size(); ++i) {
        const files::frame& f = got.frames[i];
        const bool opaque = std::all_of(want[i].pixels.px.begin(), want[i].pixels.px.end(), [](const rgba& c) { return c[3] == 255; });
        EXPECT_EQ(f.picture.kind, opaque ? files::layout::rgb : files::layout::rgba) << what << " frame " << i;
        EXPECT_EQ(of(f.picture), want[i].pixels) << what << " frame " << i;
        EXPECT_EQ(f.delay.numerator, want[i].delay_num) << what << " frame " << i;
        EXPECT_EQ(f.delay.denominator, want[i].delay_den) << what << " frame " << i;
    }
}

TEST(ApngRead, EveryKindAndOpComposesAsTheModel)
{
    std::uint32_t seed = 1;
    for (const png_kind& kind : KINDS)
        for (const bool hidden : {false, true})
            for (int round = 0; round < 3; ++round) {
                const test_animation a = generated(kind, seed++, hidden);
                const std::string what = std::string(kind.name) + (hidden ? ", default image apart" : "") + ", seed " +
                                         std::to_string(seed - 1);
                const files::animation got = files::decode_png_animation(png_file(chunks_of(a)), {});
                EXPECT_TRUE(got.animated) << what;
                EXPECT_EQ(got.loops, a.plays) << what;
                expect_frames(got, composite(a), what);
            }
}

// "Over" is exact: every source and destination alpha, against the model.
TEST(ApngRead, OverBlendsEveryAlphaPair)
{
    png_kind kind{"rgba 8", 6, 8};
    test_animation a{kind, 256, 256};
    samples below{256, 256, std::vector<unsigned>(256 * 256 * 4)}, above = below;
    for (unsigned y = 0; y < 256; ++y)
        for (unsigned x = 0; x < 256; ++x) {
            const std::size_t i = (y * 256 + x) * 4;
            const unsigned v[8] = {x * 7 % 256, 255 - x, y * 3 % 256, y, 255 - y, x * 5 % 256, y ^ x, x};
            std::copy(v, v + 4, &below.v[i]);
            std::copy(v + 4, v + 8, &above.v[i]);
        }
    a.frames.push_back({0, 0, below});
    a.frames.push_back({0, 0, above, 1, 10, DISPOSE_NONE, BLEND_OVER});
    const files::animation got = files::decode_png_animation(png_file(chunks_of(a)), {});
    expect_frames(got, composite(a), "every alpha pair");
}

// A PNG without acTL is a still, whatever follows its image data.
TEST(ApngRead, WithoutAcTLAStill)
{
    test_animation a = generated(KINDS[0], 99, false, 3);
    std::vector<chunk> c = chunks_of(a);
    c.erase(c.begin() + 1); // the acTL
    const files::animation got = files::decode_png_animation(png_file(c), {});
    EXPECT_FALSE(got.animated);
    ASSERT_EQ(got.frames.size(), 1u);
    EXPECT_EQ(of(got.frames[0].picture), model_picture(a.kind, a.frames[0].pixels));
}

using ApngTool = testing_support::tool_case;

// The tool end to end: every frame composited and scaled, delays and plays
// kept, read back by the test's reader.
TEST_F(ApngTool, ScalesEveryFrameAndKeepsTheTiming)
{
    std::uint32_t seed = 100;
    for (const png_kind& kind : {KINDS[0], KINDS[3], KINDS[6], KINDS[4]})
        for (const int passes : {1, 2}) {
            const test_animation a = generated(kind, seed++, passes == 2);
            testing_support::write_file(dir / "in.png", png_file(chunks_of(a)));
            const outcome o = lq2x({"--scale", std::to_string(1 << passes), "in.png", "out.png"});
            const std::string what = std::string(kind.name) + " x" + std::to_string(1 << passes);
            ASSERT_EQ(o.status, 0) << what << ": " << o.err;
            std::string why;
            const std::optional<read_animation> r = read_apng(testing_support::read_file(dir / "out.png"), why);
            ASSERT_TRUE(r) << what << ": " << why;
            const std::vector<model_frame> want = composite(a);
            EXPECT_EQ(r->plays, a.plays) << what;
            EXPECT_TRUE(r->first_is_default) << what;
            ASSERT_EQ(r->frames.size(), want.size()) << what;
            const unsigned w = unsigned(a.width) << passes, h = unsigned(a.height) << passes;
            for (std::size_t i = 0; i < want.size(); ++i) {
                EXPECT_EQ(r->frames[i].pixels, scaled(want[i].pixels, passes)) << what << " frame " << i;
                EXPECT_EQ(r->frames[i].delay_num, want[i].delay_num) << what << " frame " << i;
                EXPECT_EQ(r->frames[i].delay_den, want[i].delay_den) << what << " frame " << i;
                EXPECT_EQ(r->rectangles[i], (std::array<unsigned, 4>{w, h, 0, 0})) << what;
                EXPECT_EQ(r->ops[i], (std::array<unsigned, 2>{DISPOSE_NONE, BLEND_SOURCE})) << what;
            }
        }
}

// The tool's animations read by ffmpeg, an outside reader: the same frames.
TEST_F(ApngTool, FfmpegReadsTheSameFrames)
{
    // tests/run.sh installs ffmpeg: without it this outside reader's check is
    // a gap to see, not a pass.
    ASSERT_TRUE(fs::exists(FFMPEG)) << "ffmpeg is not installed (apt-get install ffmpeg; tests/run.sh installs it)";
    std::uint32_t seed = 200;
    for (const png_kind& kind : {KINDS[0], KINDS[2], KINDS[5], KINDS[7]}) {
        const test_animation a = generated(kind, seed, seed % 2 == 0);
        ++seed;
        testing_support::write_file(dir / "in.png", png_file(chunks_of(a)));
        ASSERT_EQ(lq2x({"in.png", "out.png"}).status, 0) << kind.name;
        const std::vector<model_frame> want = composite(a);
        const std::vector<picture> seen = ffmpeg_frames(dir / "out.png", 2 * a.width, 2 * a.height);
        ASSERT_EQ(seen.size(), want.size()) << kind.name;
        for (std::size_t i = 0; i < want.size(); ++i)
            EXPECT_EQ(seen[i], scaled(want[i].pixels, 1)) << kind.name << " frame " << i;
    }
}

// --frame N makes a still of one composited frame; a still stays a still.
TEST_F(ApngTool, OneFrameOrAStillIsWrittenAsAStill)
{
    const test_animation a = generated(KINDS[0], 7, false, 5);
    testing_support::write_file(dir / "in.png", png_file(chunks_of(a)));
    ASSERT_EQ(lq2x({"--frame", "3", "in.png", "three.png"}).status, 0);
    const bytes three = testing_support::read_file(dir / "three.png");
    const auto has = [](const bytes& file, const char* type) {
        return std::search(file.begin(), file.end(), type, type + 4) != file.end();
    };
    EXPECT_FALSE(has(three, "acTL"));
    EXPECT_FALSE(has(three, "fcTL"));
    const files::animation got = files::decode_png_animation(three, {});
    EXPECT_FALSE(got.animated);
    EXPECT_EQ(of(got.frames.at(0).picture), scaled(composite(a)[3].pixels, 1));

    std::vector<chunk> still = chunks_of(generated(KINDS[0], 8, false, 1));
    still.erase(still.begin() + 1);
    testing_support::write_file(dir / "still.png", png_file(still));
    ASSERT_EQ(lq2x({"still.png", "still2.png"}).status, 0);
    EXPECT_FALSE(has(testing_support::read_file(dir / "still2.png"), "acTL"));
}

// Frames written by the tool's writer read back exactly, through the test's
// reader and the tool's: one form for all of them, whatever their kinds.
TEST(ApngWrite, RoundTripsExactly)
{
    std::mt19937 rng(5);
    const auto make = [&](files::layout kind, int colours, bool grey) {
        std::vector<rgba> palette;
        palette.resize(std::size_t(colours));
        for (rgba& c : palette) {
            c = {std::uint8_t(rng()), std::uint8_t(rng()), std::uint8_t(rng()), 255};
            if (grey)
                c[1] = c[2] = c[0];
        }
        if (files::has_alpha(kind)) {
            palette[0][3] = 0;
            palette[1][3] = 100;
        }
        files::image img{24, 16, kind, std::vector<pixel8888>(24 * 16)};
        for (std::size_t i = 0; i < img.pixels.size(); ++i)
            std::memcpy(&img.pixels[i], palette[rng() % palette.size()].data(), 4);
        return img;
    };
    struct mix {
        const char* name;
        std::vector<std::tuple<files::layout, int, bool>> frames;
        int colour; // what the writer must choose
    };
    const mix mixes[] = {
        {"grey frames", {{files::layout::rgb, 100, true}, {files::layout::rgb, 100, true}}, 0},
        {"few colours, one frame with alpha", {{files::layout::rgb, 5, false}, {files::layout::rgba, 4, false}}, 3},
        {"many colours", {{files::layout::rgb, 400, false}, {files::layout::rgb, 400, false}, {files::layout::rgba, 3, false}}, 6},
        {"one frame", {{files::layout::rgba, 9, false}}, 3},
    };
    for (const mix& m : mixes) {
        files::animation anim;
        anim.animated = true;
        anim.loops = 3;
        unsigned n = 1;
        for (const auto& [kind, colours, grey] : m.frames) {
            anim.frames.push_back({make(kind, colours, grey), {n, n % 2 ? 0u : 7u}});
            ++n;
        }
        const bytes file = files::encode_png_animation(anim, 6);
        std::string why;
        const std::optional<read_animation> r = read_apng(file, why);
        ASSERT_TRUE(r) << m.name << ": " << why;
        EXPECT_EQ(r->colour, m.colour) << m.name;
        EXPECT_EQ(r->plays, 3u) << m.name;
        EXPECT_TRUE(r->first_is_default) << m.name;
        const files::animation back = files::decode_png_animation(file, {});
        EXPECT_TRUE(back.animated) << m.name;
        EXPECT_EQ(back.loops, 3u) << m.name;
        ASSERT_EQ(r->frames.size(), anim.frames.size()) << m.name;
        ASSERT_EQ(back.frames.size(), anim.frames.size()) << m.name;
        for (std::size_t i = 0; i < anim.frames.size(); ++i) {
            picture want = of(anim.frames[i].picture);
            if (!files::has_alpha(anim.frames[i].picture.kind))
                for (rgba& c : want.px)
                    c[3] = 255;
            EXPECT_EQ(r->frames[i].pixels, want) << m.name << " frame " << i;
            EXPECT_EQ(of(back.frames[i].picture), want) << m.name << " frame " << i;
            EXPECT_EQ(r->frames[i].delay_num, anim.frames[i].delay.numerator) << m.name;
            EXPECT_EQ(r->frames[i].delay_den, anim.frames[i].delay.denominator) << m.name;
        }
    }
}

// A delay that does not fit 16-bit terms is written as the nearest fraction
// that does: checked against every denominator.
TEST(ApngWrite, DelaysTooFineForSixteenBitsComeOutNearest)
{
    const files::frame_delay delays[] = {{1, 3000000},      {100000, 3},    {123457, 1000000}, {4000000000u, 7},
                                        {70000, 140000},   {65535, 65536}, {1, 0},            {999999, 0},
                                        {3, 200000},       {0, 1000000},   {31415926, 10000000}};
    files::animation anim;
    anim.animated = true;
    for (const files::frame_delay d : delays)
        anim.frames.push_back({files::image{1, 1, files::layout::rgb, {0}}, d});
    std::string why;
    const std::optional<read_animation> r = read_apng(files::encode_png_animation(anim, 6), why);
    ASSERT_TRUE(r) << why;
    ASSERT_EQ(r->frames.size(), std::size(delays));
    for (std::size_t i = 0; i < std::size(delays); ++i) {
        const std::uint64_t num = delays[i].numerator, den = delays[i].denominator ? delays[i].denominator : 100;
        const std::uint64_t p = r->frames[i].delay_num, q = r->frames[i].delay_den ? r->frames[i].delay_den : 100;
        if (delays[i].numerator <= 65535 && delays[i].denominator <= 65535) {
            EXPECT_EQ(r->frames[i].delay_num, delays[i].numerator);
            EXPECT_EQ(r->frames[i].delay_den, delays[i].denominator);
            continue;
        }
        // |p/q - num/den| as a fraction over q * den: compared by cross-multiplying.
        const auto gap = [&](std::uint64_t a, std::uint64_t b) { return a * den > num * b ? a * den - num * b : num * b - a * den; };
        std::uint64_t best_gap = gap(p, q), best_q = q;
        for (std::uint64_t b = 1; b <= 65535; ++b) {
            const std::uint64_t a = std::min<std::uint64_t>((num * b + den / 2) / den, 65535);
            if (gap(a, b) * best_q < best_gap * b) {
                best_gap = gap(a, b);
                best_q = b;
            }
        }
        EXPECT_EQ(best_gap * q, gap(p, q) * best_q) << "delay " << num << "/" << den << " written " << p << "/" << q;
    }
}

// Broken animations: one line, exit status 1, nothing written.
// A fault in the animation chunks shows the default image, as the format
// tells viewers to, with one warning; a fault in the picture is refused.
TEST_F(ApngTool, BrokenAnimationsAreStillsOrRefused)
{
    const test_animation base = generated(KINDS[0], 3, false, 4);
    const std::vector<chunk> good = chunks_of(base);
    // The default image alone, scaled: what a broken animation gives.
    testing_support::write_file(dir / "still.png", files::encode_png(files::decode_png(png_file(good), {}), 6));
    ASSERT_EQ(lq2x({"still.png", "default.png"}).status, 0);
    const auto find = [](std::vector<chunk>& c, const std::string& type, int nth) -> chunk& {
        for (chunk& k : c)
            if (k.type == type && nth-- == 0)
                return k;
        throw std::runtime_error("no such chunk");
    };
    const auto set32 = [](chunk& c, std::size_t at, std::uint32_t v) {
        bytes b;
        put32(b, v);
        std::copy(b.begin(), b.end(), c.data.begin() + std::ptrdiff_t(at));
    };
    struct broken {
        const char* name;
        std::function<bytes(std::vector<chunk>)> make;
        const char* says;
        bool shown_as_still = false;
    };
    const std::vector<broken> cases = {
        {"fdAT out of sequence", [&](std::vector<chunk> c) { set32(find(c, "fdAT", 1), 0, 9); return png_file(c); },
         "out of sequence", true},
        {"two chunks swapped",
         [&](std::vector<chunk> c) {
             std::swap(find(c, "fdAT", 0), find(c, "fdAT", 1));
             return png_file(c);
         },
         "out of sequence", true},
        {"frame outside", [&](std::vector<chunk> c) { set32(find(c, "fcTL", 2), 12, 100); return png_file(c); },
         "reaches outside the", true},
        {"frame outside by wrapping",
         [&](std::vector<chunk> c) { set32(find(c, "fcTL", 2), 16, 0xFFFFFFF0u); return png_file(c); }, "reaches outside the", true},
        {"frame of no width", [&](std::vector<chunk> c) { set32(find(c, "fcTL", 1), 4, 0); return png_file(c); },
         "has no pixels", true},
        {"default image offset", [&](std::vector<chunk> c) { set32(find(c, "fcTL", 0), 4, 2); return png_file(c); },
         "does not cover the whole image", true},
        {"more frames than announced", [&](std::vector<chunk> c) { set32(find(c, "acTL", 0), 0, 3); return png_file(c); },
         "more frames than the 3 acTL announces", true},
        {"fewer frames than announced", [&](std::vector<chunk> c) { set32(find(c, "acTL", 0), 0, 5); return png_file(c); },
         "acTL announces 5 frames, the file has 4", true},
        {"no frames", [&](std::vector<chunk> c) { set32(find(c, "acTL", 0), 0, 0); return png_file(c); }, "no frames", true},
        {"absurd frame count",
         [&](std::vector<chunk> c) { set32(find(c, "acTL", 0), 0, 0x7FFFFFFF); return png_file(c); }, "animation too large"},
        {"absurd size",
         [&](std::vector<chunk> c) {
             set32(find(c, "IHDR", 0), 0, 1000000);
             set32(find(c, "IHDR", 0), 4, 1000000);
             return png_file(c);
         },
         "image too large"},
        {"unknown dispose op", [&](std::vector<chunk> c) { find(c, "fcTL", 2).data[24] = 3; return png_file(c); },
         "unknown dispose_op 3", true},
        {"unknown blend op", [&](std::vector<chunk> c) { find(c, "fcTL", 2).data[25] = 2; return png_file(c); },
         "unknown blend_op 2", true},
        {"truncated fdAT",
         [&](std::vector<chunk> c) {
             bytes f = png_file(c);
             f.resize(f.size() - 12 - 4 - find(c, "fdAT", 5).data.size() / 2); // IEND, fdAT's CRC, half its data
             return f;
         },
         "truncated"},
        {"fdAT of too little data",
         [&](std::vector<chunk> c) {
             chunk& d = find(c, "fdAT", 3); // the second half of frame 2's stream, cut short
             d.data.resize(6);
             return png_file(c);
         },
         "in.png: frame 2: "},
        {"corrupt fcTL",
         [&](std::vector<chunk> c) {
             bytes f = png_file(c);
             const auto at = std::search(f.begin(), f.end(), "fcTL", "fcTL" + 4);
             at[8] ^= 1;
             return f;
         },
         "chunk fcTL is corrupt"},
        {"fdAT before its fcTL",
         [&](std::vector<chunk> c) {
             c.erase(std::find_if(c.begin(), c.end(), [](const chunk& k) { return k.type == "fcTL"; }) + 3);
             return png_file(c);
         },
         "out of sequence", true},
    };
    for (const broken& b : cases) {
        testing_support::write_file(dir / "in.png", b.make(good));
        const outcome o = lq2x({"in.png", "out.png"});
        if (b.shown_as_still) {
            EXPECT_EQ(o.status, 0) << b.name << ": " << o.err;
            EXPECT_EQ(o.err.rfind("lq2x: in.png: warning: broken animation (", 0), 0u) << b.name << ": " << o.err;
            EXPECT_NE(o.err.find(b.says), std::string::npos) << b.name << ": " << o.err;
            EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << b.name << ": " << o.err;
            const files::animation out = files::decode_png_animation(testing_support::read_file(dir / "out.png"), {});
            EXPECT_FALSE(out.animated) << b.name;
            ASSERT_EQ(out.frames.size(), 1u) << b.name;
            EXPECT_EQ(of(out.frames[0].picture), of(files::decode_png(testing_support::read_file(dir / "default.png"), {})))
                << b.name;
            fs::remove(dir / "out.png");
            continue;
        }
        EXPECT_EQ(o.status, 1) << b.name;
        EXPECT_EQ(o.err.rfind("lq2x: in.png: ", 0), 0u) << b.name << ": " << o.err;
        EXPECT_NE(o.err.find(b.says), std::string::npos) << b.name << ": " << o.err;
        EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << b.name << ": " << o.err;
        EXPECT_FALSE(fs::exists(dir / "out.png")) << b.name;
    }
    // The untouched file is fine, so each case above failed for its own fault.
    testing_support::write_file(dir / "in.png", png_file(good));
    EXPECT_EQ(lq2x({"in.png", "out.png"}).status, 0);
}

// The IDAT image outside the animation, followed by an fdAT with no fcTL of
// its own, and an fcTL whose frame never gets data.
TEST(ApngRead, DataWithoutItsFrameIsTheStillAlone)
{
    const test_animation a = generated(KINDS[0], 11, true, 2);
    std::vector<chunk> c = chunks_of(a);
    // IHDR acTL IDAT IDAT fcTL fdAT fdAT fcTL fdAT fdAT IEND: drop frame 1's data.
    ASSERT_EQ(c[7].type, "fcTL");
    c.erase(c.begin() + 8, c.begin() + 10);
    EXPECT_EQ(files::decode_png_animation(png_file(c), {}).warning,
              "broken animation (frame 1 has no image data): only its default image was read, as a still");
    c = chunks_of(a);
    c.erase(c.begin() + 4); // frame 0's fcTL: its fdAT now follows the default image
    for (std::size_t i = 4; i < c.size(); ++i)
        if (c[i].type == "fcTL" || c[i].type == "fdAT") {
            bytes b;
            put32(b, get32(c[i].data.data()) - 1);
            std::copy(b.begin(), b.end(), c[i].data.begin());
        }
    const files::animation read = files::decode_png_animation(png_file(c), {});
    EXPECT_FALSE(read.animated);
    EXPECT_EQ(read.frames.size(), 1u);
    EXPECT_EQ(read.warning, "broken animation (fdAT chunk without an fcTL before it): only its default image was read, "
                            "as a still");
}

} // namespace
