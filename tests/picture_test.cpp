// Whole pictures against a model made only of the reference scaler: every
// layout in and out, 2x, 4x and 8x as that many upright passes of the model
// with the grid doubled each time, and a turn as a plain turn of the
// finished picture. Bands are forced down to a row so that every way a band
// meets its neighbours is crossed.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "edge_model.h"
#include "guarded.h"
#include "reference.h"
#include <lq2x/lq2x.h>
#include <lq2x/lq2x.hpp>

namespace {

using lq2x::edge;
using lq2x::layout;
using lq2x::orientation;

constexpr layout LAYOUTS[] = {layout::grey, layout::grey_alpha, layout::rgb, layout::rgba, layout::rgb565};

int bytes_of(layout l) { return l == layout::grey ? 1 : l == layout::rgb ? 3 : l == layout::rgba ? 4 : 2; }

// A picture's bytes, rows `pitch` apart.
struct picture {
    int width, height, pitch;
    layout kind;
    std::vector<std::uint8_t> bytes;
    const std::uint8_t* at(int x, int y) const { return bytes.data() + y * pitch + x * bytes_of(kind); }
};

// Few colours, so the rule finds equal neighbours; some pixels fully
// transparent with random colour bits under them.
picture random_picture(int w, int h, layout kind, std::mt19937& rng)
{
    picture p{w, h, w * bytes_of(kind) + (kind == layout::rgb565 ? 2 : 1) * int(rng() % 3), kind, {}};
    p.bytes.resize(std::size_t(p.pitch) * h);
    std::array<std::array<std::uint8_t, 4>, 4> palette;
    for (auto& c : palette)
        for (auto& b : c)
            b = std::uint8_t(rng());
    palette[1][3] = 255;
    palette[2][1] = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            auto c = palette[rng() % 4];
            if (rng() % 5 == 0)
                c = {std::uint8_t(rng()), std::uint8_t(rng()), std::uint8_t(rng()), 0}; // hidden colour
            std::memcpy(p.bytes.data() + y * p.pitch + x * bytes_of(kind), c.data(), std::size_t(bytes_of(kind)));
        }
    return p;
}

// The model's reading of a pixel: R, G, B, A, grey spread, alpha 0 hiding
// the colour.
pixel8888 as_rgba(const std::uint8_t* p, layout kind)
{
    std::uint8_t c[4] = {p[0], p[0], p[0], 255};
    if (kind == layout::grey_alpha)
        c[3] = p[1];
    if (kind == layout::rgb || kind == layout::rgba)
        c[1] = p[1], c[2] = p[2];
    if (kind == layout::rgba)
        c[3] = p[3];
    pixel8888 v = 0;
    if (c[3] != 0)
        std::memcpy(&v, c, 4);
    return v;
}

pixel565 narrow(pixel8888 v)
{
    std::uint8_t c[4];
    std::memcpy(c, &v, 4);
    return pixel565((c[0] >> 3) << 11 | (c[1] >> 2) << 5 | c[2] >> 3);
}

std::array<std::uint8_t, 4> widen(pixel565 p)
{
    return {std::uint8_t((p >> 11) << 3), std::uint8_t(((p >> 5) & 63) << 2), std::uint8_t((p & 31) << 3), 255};
}

template <typename P>
ref::image<P> read_model(const picture& in)
{
    ref::image<P> img{in.width, in.height, std::vector<P>(std::size_t(in.width) * in.height)};
    for (int y = 0; y < in.height; ++y)
        for (int x = 0; x < in.width; ++x) {
            const std::uint8_t* p = in.at(x, y);
            if constexpr (sizeof(P) == 2) {
                pixel565 w = 0; // two bytes only where the pixel has them: a grey one has one
                if (in.kind == layout::rgb565)
                    std::memcpy(&w, p, 2);
                img.at(x, y) = in.kind == layout::rgb565 ? w : narrow(as_rgba(p, in.kind));
            } else {
                img.at(x, y) = as_rgba(p, in.kind);
            }
        }
    return img;
}

template <typename P>
ref::image<P> scale_model(ref::image<P> img, const lq2x::options& opt)
{
    lq2x::options pass{.edge_x = opt.edge_x, .edge_y = opt.edge_y, .tile = opt.tile};
    for (int factor = 2; factor <= opt.scale; factor *= 2) {
        img = ref::scale_with(img, pass);
        pass.tile = {2 * pass.tile.width, 2 * pass.tile.height, 2 * pass.tile.margin, 2 * pass.tile.spacing};
    }
    return opt.turn == orientation::ccw ? ref::turn_ccw(img) : opt.turn == orientation::cw ? ref::turn_cw(img) : img;
}

// The expected bytes of one output pixel in `kind` (its first bytes_of(kind)).
template <typename P>
std::array<std::uint8_t, 4> write_model(P v, layout kind)
{
    std::array<std::uint8_t, 4> c;
    if constexpr (sizeof(P) == 2) {
        if (kind == layout::rgb565) {
            std::memcpy(c.data(), &v, 2);
            return c;
        }
        c = widen(v);
    } else {
        std::memcpy(c.data(), &v, 4);
        if (kind == layout::rgb565) {
            const pixel565 w = narrow(v);
            std::memcpy(c.data(), &w, 2);
            return c;
        }
    }
    switch (kind) {
    case layout::grey: return {c[0]};
    case layout::grey_alpha: return {c[0], c[3]};
    case layout::rgb: return {c[0], c[1], c[2]};
    default: return c;
    }
}

// Scales `in` into a dst of `out_kind` with a spare column and row around
// the result, through the C interface, and compares every byte of it with
// the model: the result, and the spare bytes untouched.
template <typename P>
void check(const picture& in, layout out_kind, const lq2x_options& c, const lq2x::options& opt, const std::string& what)
{
    const ref::image<P> want = scale_model(read_model<P>(in), opt);
    const int ob = bytes_of(out_kind), pitch = (want.width + 2) * ob;
    std::vector<std::uint8_t> out(std::size_t(pitch) * (want.height + 1), 0xA5);
    // The source flush against an inaccessible page: a read past it faults.
    const guarded_pixels<std::uint8_t> src(in.bytes.size(), true);
    std::memcpy(src.pixels, in.bytes.data(), in.bytes.size());
    const lq2x_picture s{src.pixels, in.width, in.height, in.pitch, int32_t(in.kind)};
    const lq2x_picture d{out.data(), want.width + 1, want.height + 1, pitch, int32_t(out_kind)};
    ASSERT_EQ(lq2x_scale_picture(&s, &d, &c), LQ2X_OK) << what;
    // (Byte by byte, but with each pixel's bytes made once: results run to
    // millions of bytes, and the sanitizer build pays for every call.)
    std::array<std::uint8_t, 4> pixel{};
    for (int y = 0; y <= want.height; ++y)
        for (int x = 0; x < pitch; ++x) {
            const std::uint8_t got = out[std::size_t(y) * pitch + x];
            const bool inside = y < want.height && x < want.width * ob;
            if (inside && x % ob == 0)
                pixel = write_model(want.at(x / ob, y), out_kind);
            const std::uint8_t expect = inside ? pixel[x % ob] : 0xA5;
            if (got != expect)
                FAIL() << what << " at byte " << x << " of row " << y << ": " << int(got) << ", not " << int(expect);
        }
}

const char* name(layout l)
{
    constexpr const char* NAMES[] = {"grey", "grey+alpha", "rgb", "rgba", "rgb565"};
    return NAMES[int(l) - 1];
}

// Random cases over every option; the band size at its smallest half the time.
TEST(Picture, EveryLayoutScaleTurnEdgeAndGridMatchesTheModel)
{
    std::mt19937 rng(2024);
    const std::pair<int, int> sizes[] = {{1, 1}, {1, 6}, {7, 1}, {5, 4}, {13, 9}, {40, 24}, {23, 31}};
    const lq2x::grid grids[] = {{}, {4, 4, 1, 1}, {16, 16, 0, 0}, {3, 5, 2, 0}, {2, 2, 0, 3}, {7, 6, 1, 2}};
    int cases = 0;
    for (int round = 0; round < 600; ++round) {
        const auto [w, h] = sizes[rng() % std::size(sizes)];
        const layout in_kind = LAYOUTS[rng() % 5], out_kind = LAYOUTS[rng() % 5];
        lq2x_options c = lq2x_default_options();
        c.scale = 2 << rng() % 3;
        c.orientation = int32_t(rng() % 3);
        c.edge_x = int32_t(rng() % 3);
        c.edge_y = int32_t(rng() % 3);
        c.threads = 1 + int32_t(rng() % 3);
        c.rgb565 = rng() % 4 == 0;
        c.band_pixels = rng() % 2 ? 1 : 0;
        const lq2x::grid g = grids[rng() % std::size(grids)];
        if (g.margin >= w || g.margin >= h)
            continue; // no cell: refused, as checked below
        c.tile_width = g.width, c.tile_height = g.height, c.tile_margin = g.margin, c.tile_spacing = g.spacing;
        const lq2x::options opt{.turn = orientation(c.orientation), .edge_x = edge(c.edge_x), .edge_y = edge(c.edge_y),
                                .tile = g, .scale = c.scale};
        const picture in = random_picture(w, h, in_kind, rng);
        const std::string what = std::to_string(w) + "x" + std::to_string(h) + " " + name(in_kind) + " to " +
                                 name(out_kind) + " scale " + std::to_string(c.scale) + " turn " +
                                 std::to_string(c.orientation) + " edges " + std::to_string(c.edge_x) + "," +
                                 std::to_string(c.edge_y) + " tile " + std::to_string(g.width) + "x" +
                                 std::to_string(g.height) + "+" + std::to_string(g.margin) + "+" +
                                 std::to_string(g.spacing) + (c.rgb565 ? " rgb565" : "") +
                                 (c.band_pixels ? " one-row bands" : "");
        if (in_kind == layout::rgb565 || c.rgb565)
            check<pixel565>(in, out_kind, c, opt, what);
        else
            check<pixel8888>(in, out_kind, c, opt, what);
        ++cases;
    }
    std::printf("pictures checked against the model: %d\n", cases);
    EXPECT_GT(cases, 400);
}

// Large enough to be made in many bands of the library's own size.
TEST(Picture, DefaultBandsOfAWidePictureMatchTheModel)
{
    std::mt19937 rng(5);
    for (const auto turn : {LQ2X_UPRIGHT, LQ2X_CCW})
        for (const auto ey : {LQ2X_EDGE_CLAMP, LQ2X_EDGE_WRAP}) {
            lq2x_options c = lq2x_default_options();
            c.scale = 8;
            c.orientation = turn;
            c.edge_y = ey;
            const picture in = random_picture(1100, 40, layout::rgba, rng);
            check<pixel8888>(in, layout::rgba, c, {.turn = orientation(turn), .edge_y = edge(ey), .scale = 8},
                             "1100x40 at 8x");
        }
}

// The RGBA picture p with rows 4-byte aligned, so that it is read in place.
picture packed(const picture& p)
{
    picture in{p.width, p.height, 4 * p.width, layout::rgba, {}};
    in.bytes.resize(std::size_t(in.pitch) * p.height);
    for (int y = 0; y < p.height; ++y)
        std::memcpy(in.bytes.data() + y * in.pitch, p.at(0, y), std::size_t(4) * p.width);
    return in;
}

// RGBA on 4-byte boundaries is read in place, colour under alpha 0
// included: the walk reads such pixels as zero as it loads them, in every
// turn, edge mode and grid, at 2x and through the passes of 4x.
TEST(Picture, HiddenColourReadInPlaceMatchesTheModel)
{
    std::mt19937 rng(77);
    const lq2x::grid grids[] = {{}, {8, 8, 1, 1}, {5, 3, 0, 2}};
    for (const auto& [w, h] : {std::pair{37, 35}, std::pair{70, 19}, std::pair{3, 2}})
        for (const lq2x::grid& g : grids)
            for (int turn = 0; turn < 3; ++turn)
                for (int e = 0; e < 3; ++e)
                    for (const int scale : {2, 4}) {
                        const picture in = packed(random_picture(w, h, layout::rgba, rng));
                        lq2x_options c = lq2x_default_options();
                        c.scale = scale, c.orientation = turn, c.edge_x = c.edge_y = e, c.threads = 1 + turn % 2;
                        c.tile_width = g.width, c.tile_height = g.height, c.tile_margin = g.margin,
                        c.tile_spacing = g.spacing;
                        const lq2x::options opt{.turn = orientation(turn), .edge_x = edge(e), .edge_y = edge(e),
                                                .tile = g, .scale = scale};
                        check<pixel8888>(in, layout::rgba, c, opt,
                                         std::to_string(w) + "x" + std::to_string(h) + " turn " +
                                             std::to_string(turn) + " edges " + std::to_string(e) + " tile " +
                                             std::to_string(g.width) + " scale " + std::to_string(scale));
                    }
    // Wider than the upright walk takes a grid's columns at once (256 vectors
    // of up to 16 pixels), so a row's vectors start again past the first.
    for (const lq2x::grid& g : {grids[1], grids[2]})
        for (int e = 0; e < 3; ++e) {
            const picture in = packed(random_picture(4100, 3, layout::rgba, rng));
            lq2x_options c = lq2x_default_options();
            c.edge_x = c.edge_y = e, c.threads = 1;
            c.tile_width = g.width, c.tile_height = g.height, c.tile_margin = g.margin, c.tile_spacing = g.spacing;
            check<pixel8888>(in, layout::rgba, c, {.edge_x = edge(e), .edge_y = edge(e), .tile = g},
                             "4100x3 edges " + std::to_string(e) + " tile " + std::to_string(g.width));
        }
}

// A single pixel of colour under alpha 0, in every place of rows that end
// before, on and after a vector's lanes: the look for such colour must find
// it wherever it lies, or the walk would scale it as colour.
TEST(Picture, OneHiddenPixelIsFoundWhereverItLies)
{
    for (const int w : {1, 7, 16, 17, 33})
        for (const int h : {1, 3})
            for (int at = 0; at < w * h; ++at) {
                picture in{w, h, 4 * (w + w % 2), layout::rgba, {}};
                in.bytes.resize(std::size_t(in.pitch) * h);
                for (int i = 0; i < w * h; ++i) {
                    const std::array<std::uint8_t, 4> c =
                        i == at ? std::array<std::uint8_t, 4>{200, 100, 50, 0} : std::array<std::uint8_t, 4>{10, 20, 30, 255};
                    std::memcpy(in.bytes.data() + (i / w) * in.pitch + (i % w) * 4, c.data(), 4);
                }
                lq2x_options c = lq2x_default_options();
                c.threads = 1;
                check<pixel8888>(in, layout::rgba, c, {},
                                 std::to_string(w) + "x" + std::to_string(h) + ", hidden at " + std::to_string(at));
            }
}

// What the picture entry refuses, with nothing written, and what the frame
// functions refuse of it alike.
TEST(Picture, RefusalsWriteNothing)
{
    std::vector<std::uint8_t> in(40 * 24 * 4, 7), out(320 * 192 * 4, 0xA5);
    const lq2x_picture s{in.data(), 40, 24, 160, LQ2X_LAYOUT_RGBA};
    const auto call = [&](auto change, lq2x_picture d) {
        lq2x_options o = lq2x_default_options();
        change(o);
        return lq2x_scale_picture(&s, &d, &o);
    };
    const lq2x_picture d{out.data(), 320, 192, 320 * 4, LQ2X_LAYOUT_RGBA};
    const auto grid = [](int margin) {
        return [margin](lq2x_options& o) { o.tile_width = o.tile_height = 16, o.tile_margin = margin; };
    };
    EXPECT_EQ(call(grid(40), d), LQ2X_ERROR_NO_CELL); // the margin as wide as the picture
    EXPECT_EQ(call(grid(24), d), LQ2X_ERROR_NO_CELL); // or as tall
    EXPECT_EQ(call([](lq2x_options& o) { o.scale = 3; }, d), LQ2X_ERROR_BAD_OPTIONS);
    EXPECT_EQ(call([](lq2x_options& o) { o.scale = 8, o.max_pixels = 320 * 192 - 1; }, d), LQ2X_ERROR_TOO_LARGE);
    EXPECT_EQ(call([](lq2x_options& o) { o.scale = 8; }, {out.data(), 320, 191, 320 * 4, LQ2X_LAYOUT_RGBA}),
              LQ2X_ERROR_OUTPUT_TOO_SMALL);
    EXPECT_EQ(call([](lq2x_options&) {}, {out.data(), 80, 48, 80 * 4, 9}), LQ2X_ERROR_BAD_LAYOUT);
    EXPECT_EQ(call([](lq2x_options&) {}, {out.data(), 80, 48, 80 * 4 - 1, LQ2X_LAYOUT_RGBA}), LQ2X_ERROR_BAD_PITCH);
    EXPECT_EQ(call([](lq2x_options&) {}, {in.data() + 4, 80, 48, 80 * 4, LQ2X_LAYOUT_RGBA}), LQ2X_ERROR_OVERLAP);
    EXPECT_EQ(call([](lq2x_options&) {}, {nullptr, 80, 48, 80 * 4, LQ2X_LAYOUT_RGBA}), LQ2X_ERROR_NULL_PIXELS);
    for (const std::uint8_t b : out)
        ASSERT_EQ(b, 0xA5);
    // The same grid rule, status and words for a frame.
    lq2x_options o = lq2x_default_options();
    grid(40)(o);
    EXPECT_EQ(lq2x_scale8888(reinterpret_cast<const uint32_t*>(in.data()), 40, 24, 160,
                             reinterpret_cast<uint32_t*>(out.data()), 80, 48, 320, &o),
              LQ2X_ERROR_NO_CELL);
    int32_t w = 0, h = 0;
    EXPECT_EQ(lq2x_picture_size(40, 24, &o, &w, &h), LQ2X_ERROR_NO_CELL);
    EXPECT_STREQ(lq2x_describe(LQ2X_ERROR_NO_CELL), "tile margin leaves no cell in the picture");
    o.scale = 4;
    EXPECT_EQ(lq2x_scale8888(reinterpret_cast<const uint32_t*>(in.data()), 40, 24, 160,
                             reinterpret_cast<uint32_t*>(out.data()), 80, 48, 320, &o),
              LQ2X_ERROR_BAD_OPTIONS); // a frame is one 2x pass
}

// The pass plan as callers with their own frames see it.
TEST(Picture, PassOptionsTurnOnceAndGrowTheGrid)
{
    lq2x_options o = lq2x_default_options();
    o.scale = 8, o.orientation = LQ2X_CW, o.edge_x = LQ2X_EDGE_WRAP;
    o.tile_width = 3, o.tile_height = 5, o.tile_margin = 1, o.tile_spacing = 2;
    for (int32_t pass = 0; pass < 3; ++pass) {
        lq2x_options p = lq2x_default_options();
        ASSERT_EQ(lq2x_pass_options(&o, pass, &p), LQ2X_OK);
        EXPECT_EQ(p.orientation, pass == 2 ? LQ2X_CW : LQ2X_UPRIGHT);
        EXPECT_EQ(p.scale, 2);
        EXPECT_EQ(p.edge_x, LQ2X_EDGE_WRAP);
        EXPECT_EQ((std::array{p.tile_width, p.tile_height, p.tile_margin, p.tile_spacing}),
                  (std::array{3 << pass, 5 << pass, 1 << pass, 2 << pass}));
    }
    lq2x_options p = lq2x_default_options();
    EXPECT_EQ(lq2x_pass_options(&o, 3, &p), LQ2X_ERROR_BAD_OPTIONS);
}

} // namespace
