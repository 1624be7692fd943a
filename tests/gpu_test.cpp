// The shader against the library, bit for bit, run by the GPU host under
// whatever driver EGL finds (in CI Mesa's llvmpipe software rasteriser):
// every equality structure of a neighbourhood for both rules, random frames of
// awkward sizes in every orientation, edge mode and tile grid, 4x and 8x,
// frames with colour under alpha 0 read as pictures, and real pixel art. No context is a failure unless LQ2X_ALLOW_NO_GPU=1 allows
// the gap, which is then printed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <png.h>

#include "edge_model.h"
#include "guarded.h"
#include "partitions.h"
#include "reference.h"
#include "run_program.h"
#include <lq2x/lq2x_gpu.h>

namespace {

// lq2x.frag on integer textures in both contexts, and lq2x_float.frag on
// normalized ones, as front ends' chains run it, in the ES one: its text is
// the same in both but for the version line, which the integer runs try.
constexpr lq2x_gpu_api APIS[] = {LQ2X_GPU_GLES3, LQ2X_GPU_GL33, LQ2X_GPU_GLES3_FLOAT};
constexpr const char* API_NAMES[] = {"OpenGL ES 3.0", "OpenGL 3.3 core", "OpenGL ES 3.0, normalized textures",
                                     "OpenGL 3.3 core, normalized textures"};
constexpr const char* API_TAGS[] = {"gles3", "gl33", "gles3_float", "gl33_float"};
constexpr const char* ART_DIR = "/usr/share/crawl/dat/tiles"; // Debian's crawl-tiles-data

struct tally {
    long structures = 0, frames = 0, art = 0;
    long hidden = 0, hidden_matters = 0; // frames read as pictures; of them, those the reading changes
} counted;

lq2x_gpu* contexts[4] = {};
lq2x_gpu_status made[4] = {};

// The context for an API, made once; the test fails without one unless the gap is allowed.
lq2x_gpu* gpu(lq2x_gpu_api api)
{
    static bool tried[4] = {};
    if (!tried[api]) {
        tried[api] = true;
        made[api] = lq2x_gpu_create(api, &contexts[api]);
        if (made[api] == LQ2X_GPU_OK)
            std::printf("%s context: %s\n", API_NAMES[api], lq2x_gpu_renderer(contexts[api]));
    }
    return contexts[api];
}

bool no_gpu_allowed()
{
    const char* allow = std::getenv("LQ2X_ALLOW_NO_GPU");
    return allow && std::string(allow) == "1";
}

template <typename P>
lq2x_status library_pass(const ref::image<P>& src, ref::image<P>& out, const lq2x_options& o)
{
    const auto pitch = [](const ref::image<P>& i) { return std::ptrdiff_t(i.width) * std::ptrdiff_t(sizeof(P)); };
    if constexpr (sizeof(P) == 2)
        return lq2x_scale565(src.pixels.data(), src.width, src.height, pitch(src), out.pixels.data(), out.width,
                             out.height, pitch(out), &o);
    else
        return lq2x_scale8888(src.pixels.data(), src.width, src.height, pitch(src), out.pixels.data(), out.width,
                              out.height, pitch(out), &o);
}

template <typename P>
ref::image<P> sized_for(const ref::image<P>& src, const lq2x_options& o)
{
    const bool turned = o.orientation != LQ2X_UPRIGHT;
    ref::image<P> out{o.scale * (turned ? src.height : src.width), o.scale * (turned ? src.width : src.height), {}};
    out.pixels.resize(std::size_t(out.width) * out.height);
    return out;
}

// The library's whole-picture call, on RGBA (or RGB565) pixels.
template <typename P>
ref::image<P> by_picture(const ref::image<P>& src, const lq2x_options& o)
{
    ref::image<P> out = sized_for(src, o);
    const int layout = sizeof(P) == 2 ? LQ2X_LAYOUT_RGB565 : LQ2X_LAYOUT_RGBA;
    const lq2x_picture in{const_cast<P*>(src.pixels.data()), src.width, src.height,
                          std::ptrdiff_t(src.width) * std::ptrdiff_t(sizeof(P)), layout};
    const lq2x_picture to{out.pixels.data(), out.width, out.height, std::ptrdiff_t(out.width) * std::ptrdiff_t(sizeof(P)),
                          layout};
    EXPECT_EQ(lq2x_scale_picture(&in, &to, &o), LQ2X_OK);
    return out;
}

// The library's result: 2x by its frame call, 4x and 8x by its whole-picture call.
template <typename P>
ref::image<P> by_library(const ref::image<P>& src, const lq2x_options& o)
{
    if (o.scale != 2)
        return by_picture(src, o);
    ref::image<P> out = sized_for(src, o);
    EXPECT_EQ(library_pass(src, out, o), LQ2X_OK);
    return out;
}

// The whole-picture call counts a pixel of alpha 0 as zero, as the frame
// calls and the shader do not: frames compared with it have no colour there.
template <typename P>
ref::image<P> without_hidden_colour(ref::image<P> img)
{
    if constexpr (sizeof(P) == 4)
        for (P& p : img.pixels) {
            unsigned char b[4];
            std::memcpy(b, &p, 4);
            if (b[3] == 0)
                p = 0;
        }
    return img;
}

// The GPU host's result, through rows with room after them on both sides; the
// room in the output must come back untouched. `picture`: 32-bit pixels read
// as lq2x_scale_picture reads RGBA (lq2x_gpu_scale_rgba).
template <typename P>
ref::image<P> by_gpu(lq2x_gpu* g, const ref::image<P>& src, const lq2x_options& o, bool picture = false)
{
    constexpr int ROOM = 3;
    constexpr P UNTOUCHED = P(0x5A5A5A5A);
    const int sp = src.width + ROOM;
    std::vector<P> in(std::size_t(sp) * src.height);
    for (int y = 0; y < src.height; ++y)
        for (int x = 0; x < src.width; ++x)
            in[std::size_t(y) * sp + x] = src.at(x, y);
    const bool turned = o.orientation != LQ2X_UPRIGHT;
    ref::image<P> out{o.scale * (turned ? src.height : src.width), o.scale * (turned ? src.width : src.height), {}};
    const int dp = out.width + ROOM;
    std::vector<P> dst(std::size_t(dp) * out.height, UNTOUCHED);
    lq2x_gpu_status s;
    if constexpr (sizeof(P) == 2)
        s = lq2x_gpu_scale565(g, in.data(), src.width, src.height, sp * 2, dst.data(), out.width, out.height, dp * 2, &o);
    else
        s = (picture ? lq2x_gpu_scale_rgba : lq2x_gpu_scale8888)(g, in.data(), src.width, src.height, sp * 4,
                                                                 dst.data(), out.width, out.height, dp * 4, &o);
    EXPECT_EQ(s, LQ2X_GPU_OK) << lq2x_gpu_describe(s);
    out.pixels.resize(std::size_t(out.width) * out.height);
    for (int y = 0; y < out.height; ++y) {
        for (int x = 0; x < out.width; ++x)
            out.at(x, y) = dst[std::size_t(y) * dp + x];
        for (int x = out.width; x < dp; ++x)
            EXPECT_EQ(dst[std::size_t(y) * dp + x], UNTOUCHED) << "written past row " << y;
    }
    return out;
}

// Where two results first differ, or "" when they are the same.
template <typename P>
std::string first_difference(const ref::image<P>& gpu, const ref::image<P>& lib)
{
    if (gpu.width != lib.width || gpu.height != lib.height)
        return "sizes differ";
    for (int y = 0; y < lib.height; ++y)
        for (int x = 0; x < lib.width; ++x)
            if (gpu.at(x, y) != lib.at(x, y)) {
                char s[96];
                std::snprintf(s, sizeof s, "at (%d, %d): GPU %08x, library %08x", x, y, unsigned(gpu.at(x, y)),
                              unsigned(lib.at(x, y)));
                return s;
            }
    return "";
}

template <typename P>
void expect_same(lq2x_gpu_api api, const ref::image<P>& frame, int scale, lq2x_options o, const std::string& what)
{
    o.scale = scale;
    const ref::image<P> src = scale == 2 ? frame : without_hidden_colour(frame);
    EXPECT_EQ(first_difference(by_gpu(gpu(api), src, o), by_library(src, o)), "")
        << what << ", " << API_NAMES[api] << ", " << src.width << " x " << src.height << ", " << 8 * sizeof(P)
        << "-bit, " << scale << "x, turn " << o.orientation << ", edges " << o.edge_x << "/" << o.edge_y << ", grid "
        << o.tile_width << "x" << o.tile_height << " +" << o.tile_margin << " +" << o.tile_spacing;
}

std::string described(lq2x_gpu_api api, const ref::image8888& src, const lq2x_options& o, const std::string& what)
{
    char s[160];
    std::snprintf(s, sizeof s, "%s, %s, %d x %d, %dx, turn %d, edges %d/%d, grid %dx%d +%d +%d", what.c_str(),
                  API_NAMES[api], src.width, src.height, o.scale, o.orientation, o.edge_x, o.edge_y, o.tile_width,
                  o.tile_height, o.tile_margin, o.tile_spacing);
    return s;
}

// An RGBA frame read as a picture, colour under alpha 0 and all: the host's
// picture reading against lq2x_scale_picture. Counts whether reading every
// bit (the frame call's way) would have given another result.
void expect_same_picture(lq2x_gpu_api api, const ref::image8888& src, int scale, lq2x_options o, const std::string& what)
{
    o.scale = scale;
    const ref::image8888 expected = by_picture(src, o);
    EXPECT_EQ(first_difference(by_gpu(gpu(api), src, o, true), expected), "") << described(api, src, o, what);
    ++counted.hidden;
    if (by_gpu(gpu(api), src, o) != expected)
        ++counted.hidden_matters;
}

lq2x_options options(int turn, int edge_x = LQ2X_EDGE_CLAMP, int edge_y = LQ2X_EDGE_CLAMP, lq2x::grid g = {})
{
    lq2x_options o = lq2x_default_options();
    o.orientation = turn, o.edge_x = edge_x, o.edge_y = edge_y;
    o.tile_width = g.width, o.tile_height = g.height, o.tile_margin = g.margin, o.tile_spacing = g.spacing;
    return o;
}

// Every set partition of the nine positions as a 3x3 block of palette
// colours, the blocks side by side: each centre sees exactly its structure.
template <typename P>
ref::image<P> all_structures(std::uint32_t seed)
{
    const auto& parts = ref::partitions();
    const std::array<P, 9> palette = ref::distinguishable_palette<P>(seed);
    constexpr int ACROSS = 147;
    const int down = int(parts.size() + ACROSS - 1) / ACROSS;
    ref::image<P> img{3 * ACROSS, 3 * down, std::vector<P>(std::size_t(9) * ACROSS * down, palette[0])};
    for (std::size_t i = 0; i < parts.size(); ++i)
        for (int k = 0; k < 9; ++k)
            img.at(3 * int(i % ACROSS) + k % 3, 3 * int(i / ACROSS) + k / 3) = palette[std::size_t(parts[i][k])];
    return img;
}

template <typename P>
void check_structures(lq2x_gpu_api api)
{
    for (int turn = 0; turn < 3; ++turn)
        for (std::uint32_t seed : {1u, 2u}) {
            expect_same(api, all_structures<P>(seed), 2, options(turn), "every structure");
            counted.structures += long(ref::partitions().size());
            ++counted.frames;
        }
}

// Awkward sizes in every orientation and edge mode per axis, with few colours
// so that equal neighbours are common.
template <typename P>
void check_awkward(lq2x_gpu_api api)
{
    constexpr int SIZES[][2] = {{1, 1}, {1, 9}, {9, 1}, {2, 2}, {3, 5}, {13, 11}, {31, 17}, {2, 33}, {64, 3}};
    std::uint32_t seed = 100;
    for (const auto& s : SIZES)
        for (int turn = 0; turn < 3; ++turn)
            for (int ex = 0; ex < 3; ++ex)
                for (int ey = 0; ey < 3; ++ey) {
                    expect_same(api, ref::random_image<P>(s[0], s[1], 2 + seed % 3, seed), 2, options(turn, ex, ey),
                                "random frame");
                    ++seed, ++counted.frames;
                }
}

// Tile grids with margin and spacing, cells cut short at the right and
// bottom (to one pixel, past a large margin), one-pixel cells.
constexpr lq2x::grid GRIDS[] = {{4, 3, 1, 2}, {5, 5, 0, 1}, {8, 8, 3, 0}, {1, 1, 0, 0},
                                {3, 7, 28, 0}, {6, 2, 2, 3}, {16, 16, 0, 0}};

template <typename P>
void check_grids(lq2x_gpu_api api)
{
    std::uint32_t seed = 500;
    for (const lq2x::grid g : GRIDS)
        for (int turn = 0; turn < 3; ++turn)
            for (int e = 0; e < 3; ++e) {
                expect_same(api, ref::random_image<P>(37, 29, 3, seed), 2, options(turn, e, (e + 1) % 3, g), "grid");
                ++seed, ++counted.frames;
            }
}

// 4x and 8x: passes with the grid doubled and one turn.
template <typename P>
void check_passes(lq2x_gpu_api api)
{
    std::uint32_t seed = 900;
    for (int scale : {4, 8})
        for (int turn = 0; turn < 3; ++turn)
            for (const lq2x::grid g : {lq2x::grid{}, GRIDS[0], GRIDS[5]}) {
                expect_same(api, ref::random_image<P>(11 + turn, 7, 3, seed), scale,
                            options(turn, turn, (turn + 2) % 3, g), "passes");
                ++seed, ++counted.frames;
            }
}

// A frame of few colours where many pixels hide colour under alpha 0 (of as
// many colours again, so hidden pixels differ from each other and from zero)
// and some have alpha 1, which a blend with a hidden neighbour on the first
// pass takes to 0 under colour that the next pass must see as it is.
ref::image8888 hiding(int width, int height, std::uint32_t seed)
{
    ref::image8888 img = ref::random_image<pixel8888>(width, height, 3, seed);
    const ref::image8888 alphas = ref::random_image<pixel8888>(width, height, 5, seed ^ 0x9E3779B9u);
    for (std::size_t i = 0; i < img.pixels.size(); ++i) {
        unsigned char b[4], a[4];
        std::memcpy(b, &img.pixels[i], 4);
        std::memcpy(a, &alphas.pixels[i], 4);
        const unsigned pick = (a[0] ^ a[1] ^ a[2]) % 5; // five classes from the second frame's colours
        b[3] = pick < 2 ? 0 : pick == 2 ? 1 : 255;
        if (pick == 1)
            b[0] ^= a[1], b[1] ^= a[2]; // more colours under alpha 0 than in sight
        std::memcpy(&img.pixels[i], b, 4);
    }
    return img;
}

// Frames with colour under alpha 0, read as pictures: awkward sizes in every
// orientation and edge mode, grids, 4x and 8x.
void check_hidden(lq2x_gpu_api api)
{
    constexpr int SIZES[][2] = {{1, 1}, {2, 2}, {1, 7}, {7, 1}, {5, 3}, {13, 11}, {31, 17}};
    std::uint32_t seed = 1300;
    for (const auto& s : SIZES)
        for (int turn = 0; turn < 3; ++turn)
            for (int e = 0; e < 3; ++e)
                for (int scale : {2, 4, 8})
                    if (scale < 8 || s[0] * s[1] <= 35)
                        expect_same_picture(api, hiding(s[0], s[1], seed++), scale, options(turn, e, (e + 2) % 3),
                                            "hidden colour");
    for (const lq2x::grid g : GRIDS)
        for (int turn = 0; turn < 3; ++turn)
            expect_same_picture(api, hiding(37, 29, seed++), 2 << (turn % 2), options(turn, turn, 2 - turn, g),
                                "hidden colour, grid");
}

// A PNG as 32-bit pixels, bytes R, G, B, A in memory.
ref::image8888 read_png(const std::string& path)
{
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    ref::image8888 img;
    if (png_image_begin_read_from_file(&png, path.c_str())) {
        png.format = PNG_FORMAT_RGBA;
        img = {int(png.width), int(png.height), std::vector<pixel8888>(std::size_t(png.width) * png.height)};
        if (!png_image_finish_read(&png, nullptr, img.pixels.data(), 0, nullptr))
            img = {};
    }
    png_image_free(&png);
    return img;
}

ref::image565 to565(const ref::image8888& img)
{
    ref::image565 out{img.width, img.height, std::vector<pixel565>(img.pixels.size())};
    for (std::size_t i = 0; i < img.pixels.size(); ++i) {
        unsigned char b[4];
        std::memcpy(b, &img.pixels[i], 4);
        out.pixels[i] = lq2x::rgb888_to_565(b[0], b[1], b[2]);
    }
    return out;
}

// Real pixel art: the tile sheets whole at 2x as 32x32 tiles (8-bit and
// RGB565), pieces of every sheet and title picture at 2x, 4x and 8x.
void check_art(lq2x_gpu_api api)
{
    ASSERT_TRUE(std::filesystem::is_directory(ART_DIR))
        << ART_DIR << " is missing: the real-art cases need Debian's crawl-tiles-data";
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(ART_DIR))
        if (entry.path().extension() == ".png")
            files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    ASSERT_GE(files.size(), 40u) << "too few PNG files in " << ART_DIR;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const ref::image8888 art = read_png(files[i]);
        ASSERT_GT(art.width, 0) << "cannot read " << files[i];
        const std::string name = std::filesystem::path(files[i]).filename().string();
        const int turn = int(i % 3);
        if (name == "main.png" || name == "player.png") { // whole sheets of 32x32 tiles
            const lq2x_options tiles = options(turn, LQ2X_EDGE_WRAP, LQ2X_EDGE_TRANSPARENT, {32, 32, 0, 0});
            expect_same(api, art, 2, tiles, name);
            expect_same(api, to565(art), 2, tiles, name);
            counted.art += 2;
        }
        const ref::image8888 piece = ref::crop(art, 0, 0, std::min(art.width, 160), std::min(art.height, 144));
        expect_same(api, piece, 2, options(turn), name);
        expect_same(api, to565(piece), 2, options(2 - turn), name);
        const ref::image8888 small = ref::crop(art, art.width / 3, art.height / 3, std::min(art.width / 3, 40),
                                               std::min(art.height / 3, 36));
        expect_same(api, small, 4 << (i % 2), options(turn, int(i / 3 % 3), int(i / 9 % 3)), name);
        // The piece read as a picture as it is, and with colour put under
        // its clear pixels, as an editor may leave it there.
        ref::image8888 hidden = piece;
        for (std::size_t k = 0; k < hidden.pixels.size(); ++k) {
            unsigned char b[4];
            std::memcpy(b, &hidden.pixels[k], 4);
            if (b[3] == 0)
                b[0] = static_cast<unsigned char>(k * 37), b[1] = static_cast<unsigned char>(k / 7), b[2] = 200;
            std::memcpy(&hidden.pixels[k], b, 4);
        }
        expect_same_picture(api, piece, 2, options(turn, int(i % 3), int(i / 3 % 3)), name);
        expect_same_picture(api, hidden, 2 << (i % 2), options(2 - turn, int(i / 3 % 3), int(i % 3)),
                            name + ", colour under alpha 0");
        counted.art += 5;
    }
}

struct summary : ::testing::Environment {
    void TearDown() override
    {
        for (lq2x_gpu*& g : contexts)
            lq2x_gpu_destroy(std::exchange(g, nullptr));
        std::printf("gpu exactness: %zu structures (every one; %ld neighbourhoods over rules, turns, palettes and "
                    "APIs), %ld frames, %ld real-art cases checked; %ld read as pictures with colour under alpha 0 "
                    "(%ld of them scaled otherwise when every bit counts)\n",
                    ref::partitions().size(), counted.structures, counted.frames, counted.art, counted.hidden,
                    counted.hidden_matters);
    }
};
[[maybe_unused]] const auto* const SUMMARY = ::testing::AddGlobalTestEnvironment(new summary);

// Called from SetUp, so that neither skips nor fails quietly: the test body
// does not run after either.
void need_context(lq2x_gpu_api api)
{
    if (gpu(api))
        return;
    if (no_gpu_allowed())
        GTEST_SKIP() << "ALLOWED GAP (LQ2X_ALLOW_NO_GPU=1): no " << API_NAMES[api] << " context here ("
                     << lq2x_gpu_describe(made[api]) << ")";
    FAIL() << "no " << API_NAMES[api] << " context (" << lq2x_gpu_describe(made[api])
           << "): install libegl-mesa0 libgl1-mesa-dri, or set LQ2X_ALLOW_NO_GPU=1 to allow the gap";
}

class Gpu : public ::testing::TestWithParam<lq2x_gpu_api> {
protected:
    void SetUp() override { need_context(GetParam()); }
};

class FrontEnd : public ::testing::Test {
protected:
    void SetUp() override { need_context(LQ2X_GPU_GLES3); }
};

TEST_P(Gpu, EveryStructure565)
{
    check_structures<pixel565>(GetParam());
}
TEST_P(Gpu, EveryStructure8888)
{
    check_structures<pixel8888>(GetParam());
}
TEST_P(Gpu, AwkwardSizesEveryTurnAndEdge)
{
    check_awkward<pixel565>(GetParam());
    check_awkward<pixel8888>(GetParam());
}
TEST_P(Gpu, TileGrids)
{
    check_grids<pixel565>(GetParam());
    check_grids<pixel8888>(GetParam());
}
TEST_P(Gpu, FourAndEightTimes)
{
    check_passes<pixel565>(GetParam());
    check_passes<pixel8888>(GetParam());
}
TEST_P(Gpu, ColourUnderAlphaZeroReadAsPictures)
{
    const long before = counted.hidden, mattered = counted.hidden_matters;
    check_hidden(GetParam());
    // The frames are made to hide colour that counts: most must come out
    // otherwise when every bit counts, or the test shows nothing.
    EXPECT_GE(2 * (counted.hidden_matters - mattered), counted.hidden - before);
}
TEST_P(Gpu, RealPixelArt)
{
    check_art(GetParam());
}

// Every byte in every channel, beside neighbours that pass it through and
// neighbours that blend it: on normalized textures a sample read back by
// anything but rounding to the nearest byte (truncating b / 255 * 255, say)
// loses some of them.
TEST_P(Gpu, EveryByteComesBack)
{
    ref::image8888 frame{32, 16, {}};
    for (int i = 0; i < 512; ++i) {
        const pixel8888 b = pixel8888(i % 256);
        frame.pixels.push_back(i < 256 ? b | (255 - b) << 8 | (b * 7 % 256) << 16 | (b * 13 % 256) << 24
                                       : frame.pixels[std::size_t(i % 256 / 3 * 3)]);
    }
    for (int scale : {2, 4})
        expect_same(GetParam(), frame, scale, options(0), "every byte");
    expect_same(GetParam(), to565(frame), 2, options(0), "every byte");
}

// What the host refuses, with the library's own codes for what the library refuses.
TEST_P(Gpu, RefusesWhatTheLibraryRefuses)
{
    lq2x_gpu* g = gpu(GetParam());
    std::vector<pixel8888> src(16, 1), dst(16 * 64, 7);
    lq2x_options turned4 = options(LQ2X_CW), bad = options(5), scale3 = options(0), wide = options(0),
                 margin = options(0, 0, 0, {2, 2, 4, 0}), rgb565 = options(0);
    turned4.scale = 4, scale3.scale = 3, wide.scale = 8, rgb565.rgb565 = 1;
    const auto call = [&](std::int32_t w, std::ptrdiff_t pitch, std::int32_t dw, std::int32_t dh, const lq2x_options* o) {
        return lq2x_gpu_scale8888(g, src.data(), w, w == 4 ? 4 : 1, pitch, dst.data(), dw, dh, std::ptrdiff_t(dw) * 4, o);
    };
    EXPECT_EQ(call(4, 16, 16, 16, &scale3), lq2x_gpu_status(LQ2X_ERROR_BAD_OPTIONS));
    EXPECT_EQ(call(4, 16, 16, 15, &turned4), lq2x_gpu_status(LQ2X_ERROR_OUTPUT_TOO_SMALL));
    EXPECT_EQ(call(4, 16, 16, 16, &bad), lq2x_gpu_status(LQ2X_ERROR_BAD_OPTIONS));
    EXPECT_EQ(call(4, 16, 16, 16, &margin), lq2x_gpu_status(LQ2X_ERROR_NO_CELL));
    EXPECT_EQ(call(4, 16, 16, 16, &rgb565), lq2x_gpu_status(LQ2X_ERROR_BAD_OPTIONS));
    EXPECT_EQ(call(4, 15, 16, 16, nullptr), lq2x_gpu_status(LQ2X_ERROR_BAD_PITCH));
    // (Buffers as large as the call says: smaller ones might lie inside the
    // other's claimed span, which the library refuses as an overlap first.)
    std::vector<pixel8888> wide_src(3000, 1), wide_dst(std::size_t{24000} * 8);
    EXPECT_EQ(lq2x_gpu_scale8888(g, wide_src.data(), 3000, 1, 12000, wide_dst.data(), 24000, 8, 96000, &wide),
              LQ2X_GPU_ERROR_TEXTURE_SIZE);
    EXPECT_EQ(lq2x_gpu_scale8888(nullptr, src.data(), 4, 4, 16, dst.data(), 8, 8, 32, nullptr), LQ2X_GPU_ERROR_NULL);
    EXPECT_EQ(std::count(dst.begin(), dst.end(), 7u), std::ptrdiff_t(dst.size())) << "written on an error";
    EXPECT_STREQ(lq2x_gpu_describe(lq2x_gpu_status(LQ2X_ERROR_BAD_PITCH)), lq2x_describe(LQ2X_ERROR_BAD_PITCH));
}

// Options of every version, each ending at an inaccessible page: read by the
// library's one reader, as the frame functions read them (the turn a field
// of every version, the scale one from 0.3 on, alpha_hides from 0.4); and a
// size no version had refused unread.
TEST_P(Gpu, EveryEarlierOptionsVersionIsRead)
{
    lq2x_gpu* g = gpu(GetParam());
    std::vector<pixel8888> src(24);
    for (std::size_t i = 0; i < src.size(); ++i)
        src[i] = i % 5 == 0 ? 0x00ABCDEFu : 0xFF000000u | pixel8888(i / 3 * 0x252525u); // some colour under alpha 0
    for (const std::size_t size : {offsetof(lq2x_options, scale), offsetof(lq2x_options, alpha_hides),
                                   sizeof(lq2x_options)}) {
        lq2x_options o = options(LQ2X_CCW);
        o.scale = 4;
        o.alpha_hides = 1;
        o.size = std::uint32_t(size);
        const guarded_pixels<std::uint8_t> page(size, true);
        std::memcpy(page.pixels, &o, size);
        const lq2x_options* given = reinterpret_cast<const lq2x_options*>(page.pixels);
        lq2x_options as_read = lq2x_default_options(); // what the version holds, the rest the defaults
        std::memcpy(&as_read, &o, size);
        as_read.size = sizeof as_read;
        // What the frame functions make of it, pass by pass as the library
        // plans the passes, colour under alpha 0 hidden where the plan and
        // the caller both say.
        std::vector<pixel8888> want = src;
        std::int32_t w = 6, h = 4;
        lq2x_options p = lq2x_default_options();
        for (int pass = 0; lq2x_pass_options(&as_read, pass, &p) == LQ2X_OK; ++pass) {
            p.alpha_hides = p.alpha_hides && as_read.alpha_hides;
            const std::int32_t ow = p.orientation == LQ2X_UPRIGHT ? 2 * w : 2 * h, oh = 2 * (w + h) - ow;
            std::vector<pixel8888> next(std::size_t(ow) * std::size_t(oh));
            ASSERT_EQ(lq2x_scale8888(want.data(), w, h, w * 4, next.data(), ow, oh, ow * 4, &p), LQ2X_OK);
            want = std::move(next), w = ow, h = oh;
        }
        std::vector<pixel8888> got(want.size(), 7);
        ASSERT_EQ(lq2x_gpu_scale8888(g, src.data(), 6, 4, 24, got.data(), w, h, w * 4, given), LQ2X_GPU_OK) << size;
        EXPECT_EQ(got, want) << size;
    }
    lq2x_options tiny = options(0);
    tiny.size = 4;
    std::vector<pixel8888> dst(24 * 4, 7);
    EXPECT_EQ(lq2x_gpu_scale8888(g, src.data(), 6, 4, 24, dst.data(), 12, 8, 48, &tiny),
              lq2x_gpu_status(LQ2X_ERROR_BAD_OPTIONS));
}

// The example front end (docs/gpu.md): the shipped shader files in a context of
// its own, two passes by hand, the same bits as the library.
TEST_F(FrontEnd, ExampleRunsTheShippedShaders)
{
    const testing_support::outcome r = testing_support::run_program(FRONTEND_PATH, {SHADER_DIR});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out.rfind("ok: ", 0), 0u) << r.out;
    ++counted.frames;
}

INSTANTIATE_TEST_SUITE_P(Api, Gpu, ::testing::ValuesIn(APIS),
                         [](const auto& info) { return API_TAGS[info.param]; });

} // namespace
