// The settings as every door gives them: one table of names, values read
// from text and refused in words, the layout a picture comes out in, and
// every earlier version of the options struct read as its caller meant it.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include <lq2x/lq2x.h>
#include <lq2x/lq2x.hpp>

#include "guarded.h"

namespace {

std::string words(const char* text, int door)
{
    char out[320];
    const std::size_t length = lq2x_words(text, door, out, sizeof out);
    EXPECT_EQ(length, std::strlen(out));
    return out;
}

TEST(Settings, OneTableNamesEachSettingInEachDoor)
{
    struct named {
        const char* text;
        const char* c;
        const char* tool;
        const char* python;
        const char* page;
        const char* script;
        const char* gimp;
    };
    const named cases[] = {
        {"{scale}: wants 2", "scale: wants 2", "--scale: wants 2", "scale: wants 2", "Scale: wants 2", "scale: wants 2",
         "scale: wants 2"},
        {"{orientation}", "orientation", "--rotate", "rotate", "Rotation", "rotate", "turn"},
        {"{tile_margin}: needs a grid ({tile})", "tile_margin: needs a grid (tile_width, tile_height)",
         "--tile-margin: needs a grid (--tile)", "tile_margin: needs a grid (tile)",
         "Tile margin: needs a grid (Cell width and height)", "tileMargin: needs a grid (tile)",
         "tile-margin: needs a grid (tile-width, tile-height)"},
        {"{edge_y} {gif_alpha} {raw_size}", "edge_y gif_alpha raw_width, raw_height", "--edge --gif-alpha --size",
         "edge gif_alpha size", "Top and bottom edges GIF alpha threshold raw_width, raw_height",
         "edgeY gifAlpha size", "edge-y gif_alpha raw_width, raw_height"},
        // A hint naming a setting the door has no control for is left out.
        {"too large (over {max_pixels}) ({max_pixels} raises it)", "too large (over max_pixels) (max_pixels raises it)",
         "too large (over --max-pixels) (--max-pixels raises it)",
         "too large (over max_pixels) (max_pixels raises it)", "too large",
         "too large (over maxPixels) (maxPixels raises it)", "too large"},
        {"{threads} ({threads} here)", "threads (threads here)", "--threads (--threads here)",
         "threads (threads here)", "threads", "threads", "threads"},
        // A setting the door has no name for, outside a hint: its field's.
        {"{kernel}: none here", "kernel: none here", "kernel: none here", "kernel: none here", "kernel: none here",
         "kernel: none here", "kernel: none here"},
        {"{no_such} stays", "{no_such} stays", "{no_such} stays", "{no_such} stays", "{no_such} stays",
         "{no_such} stays", "{no_such} stays"},
    };
    for (const named& n : cases) {
        EXPECT_EQ(words(n.text, LQ2X_DOOR_C), n.c);
        EXPECT_EQ(words(n.text, LQ2X_DOOR_TOOL), n.tool);
        EXPECT_EQ(words(n.text, LQ2X_DOOR_PYTHON), n.python);
        EXPECT_EQ(words(n.text, LQ2X_DOOR_PAGE), n.page);
        EXPECT_EQ(words(n.text, LQ2X_DOOR_SCRIPT), n.script);
        EXPECT_EQ(words(n.text, LQ2X_DOOR_GIMP), n.gimp);
    }
    char small[6];
    EXPECT_EQ(lq2x_words("{scale} is long", LQ2X_DOOR_TOOL, small, sizeof small), 15u); // the whole length
    EXPECT_STREQ(small, "--sca");
}

TEST(Settings, ADoorsOwnNameFindsTheSettingItPassesOn)
{
    const int SCALING = LQ2X_SETTINGS_SCALING, FILES = LQ2X_SETTINGS_FILE, BOTH = SCALING | FILES;
    struct name_case {
        const char* name;
        int door, kinds;
        lq2x_status status;
        const char* setting; // or the refusal
        int kind;
    };
    const name_case cases[] = {
        {"rotate", LQ2X_DOOR_SCRIPT, BOTH, LQ2X_OK, "orientation", SCALING},
        {"edgeX", LQ2X_DOOR_SCRIPT, SCALING, LQ2X_OK, "edge_x", SCALING},
        {"tileMargin", LQ2X_DOOR_SCRIPT, BOTH, LQ2X_OK, "tile_margin", SCALING},
        {"gifAlpha", LQ2X_DOOR_SCRIPT, BOTH, LQ2X_OK, "gif_alpha", FILES},
        {"size", LQ2X_DOOR_SCRIPT, FILES, LQ2X_OK, "raw_size", FILES},
        {"--edge", LQ2X_DOOR_TOOL, BOTH, LQ2X_OK, "edge", SCALING}, // the first row of a shared name
        {"--stream", LQ2X_DOOR_TOOL, FILES, LQ2X_OK, "stream", FILES},
        {"Save as", LQ2X_DOOR_PAGE, BOTH, LQ2X_OK, "format", FILES},
        {"edge-x", LQ2X_DOOR_GIMP, BOTH, LQ2X_OK, "edge_x", SCALING},
        {"max_pixels", LQ2X_DOOR_GIMP, BOTH, LQ2X_ERROR_BAD_OPTIONS,
         "no setting named 'max_pixels' (turn, edge-x, edge-y, edge-x, edge-y, tile-width, tile-height, tile-margin, "
         "tile-spacing or scale)",
         0},
        // Each door's names only, of the kinds asked for, listed when refused.
        {"tile_margin", LQ2X_DOOR_SCRIPT, BOTH, LQ2X_ERROR_BAD_OPTIONS,
         "no setting named 'tile_margin' (rotate, edge, edgeX, edgeY, tile, tileMargin, tileSpacing, scale, rgb565, "
         "maxPixels, format, frame, pngLevel, size, gifAlpha, gifColours, gifPalette, maxInputBytes or maxFrames)",
         0},
        {"format", LQ2X_DOOR_SCRIPT, SCALING, LQ2X_ERROR_BAD_OPTIONS,
         "no setting named 'format' (rotate, edge, edgeX, edgeY, tile, tileMargin, tileSpacing, scale, rgb565 or "
         "maxPixels)",
         0},
        {"threads", LQ2X_DOOR_SCRIPT, BOTH, LQ2X_ERROR_BAD_OPTIONS, nullptr, 0},
        {"rotate", LQ2X_DOOR_PYTHON, FILES, LQ2X_ERROR_BAD_OPTIONS,
         "no setting named 'rotate' (format, frame, png_level, size, gif_alpha, gif_colours, gif_palette, "
         "max_input_bytes, max_frames or keep_existing)",
         0},
        {"", LQ2X_DOOR_PAGE, BOTH, LQ2X_ERROR_BAD_OPTIONS, nullptr, 0}, // no control is named ""
    };
    for (const name_case& c : cases) {
        char setting[320];
        int32_t kind = -1;
        EXPECT_EQ(lq2x_setting_named(c.name, c.door, c.kinds, &kind, setting, sizeof setting), c.status) << c.name;
        if (c.setting != nullptr)
            EXPECT_STREQ(setting, c.setting) << c.name;
        else
            EXPECT_EQ(std::string(setting).rfind("no setting named ", 0), 0u) << setting;
        EXPECT_EQ(kind, c.status == LQ2X_OK ? c.kind : -1) << c.name;
    }
    char setting[320];
    EXPECT_EQ(lq2x_setting_named("scale", LQ2X_DOOR_C, SCALING, nullptr, setting, sizeof setting),
              LQ2X_ERROR_NULL_OUTPUT);
}

TEST(Settings, ValuesAreReadFromTextAndRefusedInWords)
{
    struct text_case {
        const char* name;
        const char* text;
        lq2x_status status;
        const char* tool_words; // "" when taken
    };
    const text_case cases[] = {
        {"scale", "4", LQ2X_OK, ""},
        {"scale", "3", LQ2X_ERROR_BAD_OPTIONS, "--scale: wants 2, 4 or 8, not 3"},
        {"scale", "4.0", LQ2X_ERROR_BAD_OPTIONS, "--scale: wants 2, 4 or 8, not '4.0'"},
        {"scale", "+4", LQ2X_ERROR_BAD_OPTIONS, "--scale: wants 2, 4 or 8, not '+4'"},
        {"orientation", "cw", LQ2X_OK, ""},
        {"orientation", "left", LQ2X_ERROR_BAD_OPTIONS, "--rotate: wants none, ccw or cw, not 'left'"},
        {"edge", "wrap,transparent", LQ2X_OK, ""},
        {"edge", "wrap,", LQ2X_ERROR_BAD_OPTIONS,
         "--edge: wants clamp, wrap or transparent, or two of them as H,V, not 'wrap,'"},
        {"tile", "16x8", LQ2X_OK, ""},
        {"tile", "0x4", LQ2X_ERROR_BAD_GRID,
         "--tile: wants cells of WIDTHxHEIGHT, each from 1 to 2147483647 (0x0: none), not '0x4'"},
        {"tile_margin", "-1", LQ2X_ERROR_BAD_GRID, "--tile-margin: wants a whole number from 0 to 2147483647, not -1"},
        {"tile_spacing", "4294967296", LQ2X_ERROR_BAD_GRID,
         "--tile-spacing: wants a whole number from 0 to 2147483647, not 4294967296"},
        {"threads", "1025", LQ2X_ERROR_BAD_OPTIONS, "--threads: wants a whole number from 0 to 1024, not 1025"},
        {"max_pixels", "18446744073709551615", LQ2X_OK, ""},
        {"max_pixels", "18446744073709551616", LQ2X_ERROR_BAD_OPTIONS,
         "--max-pixels: wants a whole number of pixels (0: no limit), not 18446744073709551616"},
        {"kernel", "fastest", LQ2X_ERROR_BAD_OPTIONS,
         "kernel: wants auto, portable, sse41, avx2, avx512, neon or simd128, not 'fastest'"},
        {"rgb565", "yes", LQ2X_ERROR_BAD_OPTIONS, "--rgb565: wants 0 or 1, not 'yes'"},
        {"colour", "red", LQ2X_ERROR_BAD_OPTIONS, "no setting named 'colour' in the scaler's options"},
    };
    for (const text_case& c : cases) {
        lq2x_options o = lq2x_default_options();
        const lq2x_options before = o;
        char why[320];
        EXPECT_EQ(lq2x_set_option(&o, c.name, c.text, LQ2X_DOOR_TOOL, why, sizeof why), c.status) << c.name;
        EXPECT_STREQ(why, c.tool_words) << c.name << " " << c.text;
        if (c.status != LQ2X_OK) {
            EXPECT_EQ(std::memcmp(&o, &before, sizeof o), 0) << "changed by a refusal: " << c.name;
        }
    }
    lq2x_options o = lq2x_default_options();
    ASSERT_EQ(lq2x_set_option(&o, "edge", "wrap,transparent", LQ2X_DOOR_C, nullptr, 0), LQ2X_OK);
    EXPECT_EQ(o.edge_x, LQ2X_EDGE_WRAP);
    EXPECT_EQ(o.edge_y, LQ2X_EDGE_TRANSPARENT);
    EXPECT_EQ(lq2x_set_option(nullptr, "scale", "2", LQ2X_DOOR_C, nullptr, 0), LQ2X_ERROR_NULL_OUTPUT);
    // A setting past an older caller's struct has nowhere to go.
    o.size = offsetof(lq2x_options, scale);
    char why[320];
    EXPECT_EQ(lq2x_set_option(&o, "scale", "4", LQ2X_DOOR_PYTHON, why, sizeof why), LQ2X_ERROR_BAD_OPTIONS);
    EXPECT_STREQ(why, "scale: not in the options of this caller's version");
    EXPECT_EQ(lq2x_set_option(&o, "tile", "4x4", LQ2X_DOOR_PYTHON, why, sizeof why), LQ2X_OK);
}

TEST(Settings, PictureChecksSayWhichSettingIsAtFault)
{
    const auto check = [](int w, int h, auto change, int door) {
        lq2x_options o = lq2x_default_options();
        change(o);
        char why[320];
        const lq2x_status s = lq2x_picture_check(w, h, &o, door, why, sizeof why);
        return std::pair{s, std::string(why)};
    };
    EXPECT_EQ(check(4, 4, [](lq2x_options&) {}, LQ2X_DOOR_C), std::pair(LQ2X_OK, std::string("no error")));
    EXPECT_EQ(check(40, 24, [](lq2x_options& o) { o.tile_width = o.tile_height = 16, o.tile_margin = 24; },
                    LQ2X_DOOR_TOOL),
              std::pair(LQ2X_ERROR_NO_CELL, std::string("--tile-margin: a margin of 24 leaves no cell in a picture "
                                                        "of 40 x 24")));
    EXPECT_EQ(check(4, 4, [](lq2x_options& o) { o.orientation = 7; }, LQ2X_DOOR_PAGE),
              std::pair(LQ2X_ERROR_BAD_OPTIONS, std::string("Rotation: wants none, ccw or cw, not 7")));
    // The limit itself is within it; one pixel less is not.
    EXPECT_EQ(check(10, 5, [](lq2x_options& o) { o.max_pixels = 200; }, LQ2X_DOOR_PYTHON).first, LQ2X_OK);
    EXPECT_EQ(check(10, 5, [](lq2x_options& o) { o.max_pixels = 199; }, LQ2X_DOOR_PYTHON),
              std::pair(LQ2X_ERROR_TOO_LARGE, std::string("image too large: the result, 20 x 10 pixels, is over the "
                                                          "limit of 199 pixels (max_pixels raises it)")));
}

TEST(Settings, TheLayoutAPictureComesOutIn)
{
    struct layout_case {
        int in;
        int edge_x, edge_y, rgb565;
        int out;
    };
    const int T = LQ2X_EDGE_TRANSPARENT, C = LQ2X_EDGE_CLAMP, W = LQ2X_EDGE_WRAP;
    const layout_case cases[] = {
        {LQ2X_LAYOUT_RGB, C, C, 0, LQ2X_LAYOUT_RGB},       {LQ2X_LAYOUT_RGB, T, C, 0, LQ2X_LAYOUT_RGBA},
        {LQ2X_LAYOUT_RGB, W, T, 0, LQ2X_LAYOUT_RGBA},      {LQ2X_LAYOUT_GREY, T, T, 0, LQ2X_LAYOUT_GREY_ALPHA},
        {LQ2X_LAYOUT_GREY, W, W, 0, LQ2X_LAYOUT_GREY},     {LQ2X_LAYOUT_GREY_ALPHA, T, T, 0, LQ2X_LAYOUT_GREY_ALPHA},
        {LQ2X_LAYOUT_RGBA, T, T, 0, LQ2X_LAYOUT_RGBA},     {LQ2X_LAYOUT_RGBA, C, C, 1, LQ2X_LAYOUT_RGB},
        {LQ2X_LAYOUT_GREY, T, T, 1, LQ2X_LAYOUT_RGB},      {LQ2X_LAYOUT_RGB565, T, T, 0, LQ2X_LAYOUT_RGB565},
    };
    for (const layout_case& c : cases) {
        lq2x_options o = lq2x_default_options();
        o.edge_x = c.edge_x, o.edge_y = c.edge_y, o.rgb565 = c.rgb565;
        std::int32_t out = 0;
        EXPECT_EQ(lq2x_picture_layout(c.in, &o, &out), LQ2X_OK);
        EXPECT_EQ(out, c.out) << c.in << " " << c.edge_x << "," << c.edge_y << " " << c.rgb565;
    }
    std::int32_t out = 0;
    EXPECT_EQ(lq2x_picture_layout(9, nullptr, &out), LQ2X_ERROR_BAD_LAYOUT);
    EXPECT_EQ(lq2x_picture_layout(LQ2X_LAYOUT_RGB, nullptr, nullptr), LQ2X_ERROR_NULL_OUTPUT);
}

// Each earlier version's struct, ending at an inaccessible page, as its
// caller made it from that version's lq2x_default_options: read whole, and
// not a byte past it; the fields it lacks at their defaults.
TEST(Settings, EveryEarlierOptionsVersionIsRead)
{
    const std::size_t versions[] = {offsetof(lq2x_options, scale), offsetof(lq2x_options, alpha_hides),
                                    sizeof(lq2x_options)};
    const std::vector<std::uint32_t> in = {0x00112233, 0x00445566, 0xFF778899, 0xFF778899};
    for (const std::size_t size : versions) {
        const guarded_pixels<std::uint8_t> page(size, true);
        lq2x_options o = lq2x_default_options();
        o.size = std::uint32_t(size);
        o.orientation = LQ2X_CW;
        std::memcpy(page.pixels, &o, size);
        const lq2x_options* given = reinterpret_cast<const lq2x_options*>(page.pixels);
        // Frames: the turn a field of every version.
        std::vector<std::uint32_t> frame(16, 0), want(16, 0);
        ASSERT_EQ(lq2x_scale8888(in.data(), 2, 2, 8, frame.data(), 4, 4, 16, given), LQ2X_OK) << size;
        ASSERT_EQ(lq2x_scale8888(in.data(), 2, 2, 8, want.data(), 4, 4, 16, &o), LQ2X_OK);
        EXPECT_EQ(frame, want) << size;
        // Pictures: a version without `scale` gets the default, 2.
        std::int32_t w = 0, h = 0;
        EXPECT_EQ(lq2x_picture_size(2, 2, given, &w, &h), LQ2X_OK);
        EXPECT_EQ(std::pair(w, h), std::pair(4, 4)) << size;
        // And the pass plan is written back only as far as the struct goes.
        EXPECT_EQ(lq2x_pass_options(nullptr, 0, reinterpret_cast<lq2x_options*>(page.pixels)), LQ2X_OK) << size;
    }
}

} // namespace
