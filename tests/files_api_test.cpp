// The files library's C entry (lq2x_files.h) and its C++ one (files.hpp)
// against the tool: the same file and options give the bytes the tool
// writes, and the same refusal in the same words, for every format and
// option the tool has. Its reading is held to ImageMagick's.
#include <gtest/gtest.h>

#include <lq2x/files.hpp>
#include <lq2x/lq2x_files.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "guarded.h"
#include "support.h"

using namespace testing_support;

namespace {

struct entry_case {
    const char* input;                   // made by SetUp
    std::vector<std::string> tool_words; // the tool's options for it
    lq2x_options scale;
    lq2x_file_options file;
};

lq2x_options scaling(int scale = 2, int turn = LQ2X_UPRIGHT)
{
    lq2x_options o = lq2x_default_options();
    o.scale = scale;
    o.orientation = turn;
    return o;
}

lq2x_file_options writing(int format, std::int64_t frame = -1)
{
    lq2x_file_options f = lq2x_default_file_options();
    f.format = format;
    f.frame = frame;
    return f;
}

class FilesEntry : public testing_support::tool_case {
protected:
    void SetUp() override
    {
                const auto put = [&](const char* name, const files::animation& a, files::format f) {
            write_file(dir / name, files::encode_animation(a, f, {}));
        };
        put("rgba.png", files::still(picture(13, 9, files::layout::rgba, 1)), files::format::png);
        put("grey.pgm", files::still(picture(7, 5, files::layout::grey, 2)), files::format::pgm);
        put("rgb.raw", files::still(picture(6, 4, files::layout::rgb, 3)), files::format::raw);
        put("still.webp", files::still(picture(9, 9, files::layout::rgba, 4)), files::format::webp);
        files::animation walk;
        walk.animated = true;
        walk.loops = 3;
        for (std::uint32_t i = 0; i < 3; ++i) {
            files::image frame = picture(8, 6, i == 1 ? files::layout::rgba : files::layout::rgb, 10 + i);
            for (pixel8888& p : frame.pixels) // clear or opaque, as a GIF holds them
                p = files::alpha_of(p) == 0 ? p : p | files::ALPHA_BITS;
            walk.frames.push_back({std::move(frame), {7 + i, 100}});
        }
        for (const auto& [name, f] : {std::pair{"walk.gif", files::format::gif}, {"walk.png", files::format::png},
                                      {"walk.webp", files::format::webp}})
            put(name, walk, f);
    }

    // The tool's file, and the entry's bytes (C and C++ must agree).
    void expect_same(const entry_case& c)
    {
        SCOPED_TRACE(testing::Message() << c.input << " with " << testing::PrintToString(c.tool_words));
        const std::string out = std::string("out.") + lq2x_format_name(c.file.format);
        std::vector<std::string> args = c.tool_words;
        args.insert(args.end(), {c.input, out});
        const outcome tool = lq2x(args);
        const bytes input = read_file(dir / c.input);
        lq2x_file made;
        lq2x_file_options file = c.file;
        file.door = LQ2X_DOOR_TOOL; // the tool's words, for its messages
        const lq2x_status s = lq2x_scale_file(input.data(), input.size(), &c.scale, &file, &made);
        if (tool.status == 0) {
            ASSERT_EQ(s, LQ2X_OK) << made.message;
            EXPECT_EQ(bytes(made.bytes, made.bytes + made.size), read_file(dir / out));
            EXPECT_STREQ(made.message, "");
        } else {
            EXPECT_NE(s, LQ2X_OK);
            EXPECT_EQ(made.bytes, nullptr);
            EXPECT_EQ(tool.err, "lq2x: " + std::string(c.input) + ": " + made.message + "\n");
            EXPECT_EQ(tool.status, s == LQ2X_ERROR_NO_CELL ? 2 : 1);
        }
        lq2x_file_free(&made);
        lq2x_file_free(&made); // twice, and on a failed result: harmless
    }
};

TEST_F(FilesEntry, ScaledFilesAreTheToolsBytes)
{
    lq2x_options grid = scaling(4, LQ2X_CW);
    grid.tile_width = 4, grid.tile_height = 3, grid.tile_margin = 1, grid.tile_spacing = 1;
    grid.edge_x = LQ2X_EDGE_WRAP, grid.edge_y = LQ2X_EDGE_TRANSPARENT;
    lq2x_options narrow = scaling(2, LQ2X_CCW);
    narrow.rgb565 = 1;
    lq2x_options margin = scaling();
    margin.tile_width = margin.tile_height = 2, margin.tile_margin = 6;
    lq2x_options tiny = scaling(8);
    tiny.max_pixels = 1000;
    lq2x_file_options raw = writing(LQ2X_FORMAT_RAW);
    raw.raw_width = 6, raw.raw_height = 4;
    const entry_case cases[] = {
        {"rgba.png", {}, scaling(), writing(LQ2X_FORMAT_PNG)},
        {"rgba.png", {"--scale", "8", "--rotate", "ccw"}, scaling(8, LQ2X_CCW), writing(LQ2X_FORMAT_PAM)},
        {"rgba.png", {"--scale", "4", "--rotate", "cw", "--tile", "4x3", "--tile-margin", "1", "--tile-spacing", "1",
                      "--edge", "wrap,transparent"}, grid, writing(LQ2X_FORMAT_WEBP)},
        {"rgba.png", {"--rgb565", "--rotate", "ccw"}, narrow, writing(LQ2X_FORMAT_PPM)},
        {"rgba.png", {"--tile", "2x2", "--tile-margin", "6"}, margin, writing(LQ2X_FORMAT_PNG)},
        {"rgba.png", {"--scale", "8", "--max-pixels", "1000"}, tiny, writing(LQ2X_FORMAT_PNG)},
        {"rgba.png", {}, scaling(), writing(LQ2X_FORMAT_PGM)},
        {"grey.pgm", {"--scale", "4"}, scaling(4), writing(LQ2X_FORMAT_PGM)},
        {"grey.pgm", {"--format", "pnm"}, scaling(), writing(LQ2X_FORMAT_PNM)},
        {"rgb.raw", {"--size", "6x4", "--rotate", "cw"}, scaling(2, LQ2X_CW), raw},
        {"still.webp", {}, scaling(), writing(LQ2X_FORMAT_GIF)},
        {"walk.gif", {"--scale", "4"}, scaling(4), writing(LQ2X_FORMAT_GIF)},
        {"walk.gif", {}, scaling(), writing(LQ2X_FORMAT_PNG)},
        {"walk.png", {"--rotate", "cw"}, scaling(2, LQ2X_CW), writing(LQ2X_FORMAT_WEBP)},
        {"walk.webp", {"--frame", "1"}, scaling(), writing(LQ2X_FORMAT_PNG, 1)},
        {"walk.webp", {"--frame", "3"}, scaling(), writing(LQ2X_FORMAT_PNG, 3)},
        {"walk.png", {}, scaling(), writing(LQ2X_FORMAT_PPM)},
        {"rgb.raw", {}, scaling(), writing(LQ2X_FORMAT_PNG)},
    };
    for (const entry_case& c : cases)
        expect_same(c);
}

// The typed entry gives the same bytes, and its failure the same status and words.
TEST_F(FilesEntry, TheCppEntryAgreesWithTheC)
{
    const bytes input = read_file(dir / "walk.gif");
    lq2x::options o;
    o.scale = 4;
    const lq2x_options c = scaling(4);
    const lq2x_file_options f = writing(LQ2X_FORMAT_WEBP);
    lq2x_file made;
    ASSERT_EQ(lq2x_scale_file(input.data(), input.size(), &c, &f, &made), LQ2X_OK);
    EXPECT_EQ(lq2x::scale_file(input, o, {.out = lq2x::format::webp}), bytes(made.bytes, made.bytes + made.size));
    lq2x_file_free(&made);
    const bytes cut(input.begin(), input.begin() + 40);
    ASSERT_EQ(lq2x_scale_file(cut.data(), cut.size(), &c, &f, &made), LQ2X_ERROR_BAD_FILE);
    try {
        (void)lq2x::scale_file(cut, o);
        ADD_FAILURE() << "a cut file was read";
    } catch (const lq2x::file_error& e) {
        EXPECT_EQ(e.status(), lq2x::error::bad_file);
        EXPECT_STREQ(e.what(), made.message);
    }
}

// Frames read as ImageMagick composites them, and written back as read.
TEST_F(FilesEntry, FramesReadAsImageMagickShowsThemAndWriteBack)
{
    const bytes input = read_file(dir / "walk.gif");
    lq2x_frames frames;
    ASSERT_EQ(lq2x_read_file(input.data(), input.size(), nullptr, nullptr, &frames), LQ2X_OK) << frames.message;
    ASSERT_EQ(frames.count, 3);
    EXPECT_TRUE(frames.animated);
    EXPECT_EQ(frames.loops, 3u);
    EXPECT_EQ(frames.delays[2], 8u); // the second frame's 8 hundredths
    EXPECT_EQ(frames.delays[3], 100u);
    const outcome im = testing_support::run_program(
        "/usr/bin/convert", {(dir / "walk.gif").string(), "-coalesce", "-depth", "8", "rgba:-"});
    ASSERT_EQ(im.status, 0) << im.err;
    const std::size_t size = 4 * std::size_t(frames.width) * std::size_t(frames.height) * std::size_t(frames.count);
    ASSERT_EQ(im.out.size(), size);
    const bytes shown(im.out.begin(), im.out.end());
    // ImageMagick keeps the colour under clear pixels; the library reads them as they are stored.
    for (std::size_t i = 0; i < size; i += 4)
        if (shown[i + 3] != 0) {
            ASSERT_EQ(bytes(frames.pixels + i, frames.pixels + i + 4), bytes(shown.begin() + long(i), shown.begin() + long(i) + 4))
                << "byte " << i;
        }
    lq2x_file written;
    const lq2x_file_options gif = writing(LQ2X_FORMAT_GIF);
    ASSERT_EQ(lq2x_write_file(&frames, &gif, &written), LQ2X_OK) << written.message;
    lq2x_frames back;
    ASSERT_EQ(lq2x_read_file(written.bytes, written.size, nullptr, nullptr, &back), LQ2X_OK) << back.message;
    EXPECT_EQ(bytes(back.pixels, back.pixels + size), bytes(frames.pixels, frames.pixels + size));
    EXPECT_EQ(bytes(back.delays, back.delays + 6), bytes(frames.delays, frames.delays + 6));
    lq2x_file_free(&written);
    lq2x_frames_free(&back);
    lq2x_frames_free(&frames);
}

TEST_F(FilesEntry, MisuseIsRefusedWithAStatus)
{
    const bytes input = read_file(dir / "rgba.png");
    lq2x_file made;
    lq2x_options bad_scale = scaling(3);
    EXPECT_EQ(lq2x_scale_file(input.data(), input.size(), &bad_scale, nullptr, &made), LQ2X_ERROR_BAD_OPTIONS);
    lq2x_file_options level = writing(LQ2X_FORMAT_PNG);
    level.png_level = 13;
    EXPECT_EQ(lq2x_scale_file(input.data(), input.size(), nullptr, &level, &made), LQ2X_ERROR_BAD_OPTIONS);
    lq2x_file_options small = writing(LQ2X_FORMAT_PNG);
    small.size = 4;
    EXPECT_EQ(lq2x_scale_file(input.data(), input.size(), nullptr, &small, &made), LQ2X_ERROR_BAD_OPTIONS);
    EXPECT_EQ(lq2x_scale_file(nullptr, 5, nullptr, nullptr, &made), LQ2X_ERROR_NULL_PIXELS);
    EXPECT_EQ(lq2x_scale_file(input.data(), 0, nullptr, nullptr, &made), LQ2X_ERROR_BAD_FILE);
    EXPECT_STREQ(made.message, "empty file");
    lq2x_frames none{};
    lq2x_file out;
    EXPECT_EQ(lq2x_write_file(&none, nullptr, &out), LQ2X_ERROR_BAD_SIZE);
    EXPECT_EQ(lq2x_write_file(nullptr, nullptr, &out), LQ2X_ERROR_NULL_PIXELS);
    EXPECT_EQ(lq2x_write_file(&none, nullptr, nullptr), LQ2X_ERROR_NULL_OUTPUT);
    // Frames in a layout the library does not know, or not of 8 bits, are
    // refused in the documented words; those it knows are written.
    std::vector<std::uint8_t> pixels(4 * 2 * 2, 200);
    std::uint32_t delay[2] = {0, 1};
    for (const std::int32_t layout : {0, -1, 6, 42, 77, int(LQ2X_LAYOUT_RGB565), int(LQ2X_LAYOUT_GREY),
                                      int(LQ2X_LAYOUT_RGBA)}) {
        const lq2x_frames f{2, 2, 1, layout, 0, 0, pixels.data(), delay, ""};
        const bool known = layout >= LQ2X_LAYOUT_GREY && layout <= LQ2X_LAYOUT_RGBA;
        EXPECT_EQ(lq2x_write_file(&f, nullptr, &out), known ? LQ2X_OK : LQ2X_ERROR_BAD_LAYOUT) << layout;
        if (!known) {
            EXPECT_STREQ(out.message, ("frames of layout " + std::to_string(layout) +
                                       ", which is not one of the 8-bit layouts (grey, grey and alpha, RGB, RGBA)")
                                          .c_str());
        }
        lq2x_file_free(&out);
    }
    EXPECT_EQ(lq2x_scale_file(input.data(), input.size(), nullptr, nullptr, nullptr), LQ2X_ERROR_NULL_OUTPUT);
}

// File options of 0.3, 28 bytes of fields padded to 32, ending at an
// inaccessible page and holding anything in their padding (where 0.4 has
// gif_alpha): read as their caller meant them, fields they lack at their
// defaults. With them, the options of every version.
TEST_F(FilesEntry, EveryEarlierOptionsVersionIsRead)
{
    const bytes input = read_file(dir / "rgba.png");
    lq2x_file png;
    ASSERT_EQ(lq2x_scale_file(input.data(), input.size(), nullptr, nullptr, &png), LQ2X_OK);
    const bytes want(png.bytes, png.bytes + png.size);
    lq2x_file_free(&png);
    for (const std::size_t options_size : {offsetof(lq2x_options, scale), offsetof(lq2x_options, alpha_hides),
                                           sizeof(lq2x_options)}) {
        const guarded_pixels<std::uint8_t> old_file(32, true), old_options(options_size, true);
        lq2x_file_options f = lq2x_default_file_options();
        f.size = 32;
        f.format = LQ2X_FORMAT_PNG;
        std::memcpy(old_file.pixels, &f, 28);
        std::memset(old_file.pixels + 28, 0x5A, 4); // padding as a caller's copy may leave it
        lq2x_options o = lq2x_default_options();
        o.size = std::uint32_t(options_size);
        std::memcpy(old_options.pixels, &o, options_size);
        lq2x_file made;
        ASSERT_EQ(lq2x_scale_file(input.data(), input.size(), reinterpret_cast<const lq2x_options*>(old_options.pixels),
                                  reinterpret_cast<const lq2x_file_options*>(old_file.pixels), &made),
                  LQ2X_OK)
            << made.message;
        EXPECT_EQ(bytes(made.bytes, made.bytes + made.size), want) << options_size;
        lq2x_file_free(&made);
    }
}

TEST(FileFormats, NamesBytesAndExtensions)
{
    const std::pair<const char*, int> names[] = {{"a.png", LQ2X_FORMAT_PNG}, {"b.GIF", LQ2X_FORMAT_GIF},
                                                 {"dir.webp/c", LQ2X_FORMAT_SAME}, {"d.pnm", LQ2X_FORMAT_PNM},
                                                 {"e.bmp", LQ2X_FORMAT_BMP}, {"f.raw", LQ2X_FORMAT_RAW},
                                                 {"g.CUR", LQ2X_FORMAT_ICO}, {"h.pbm", LQ2X_FORMAT_PGM},
                                                 {"i.jpg", LQ2X_FORMAT_SAME}, {"noext", LQ2X_FORMAT_SAME}};
    for (const auto& [name, format] : names)
        EXPECT_EQ(lq2x_format_of_name(name), format) << name;
    const std::pair<std::string, int> starts[] = {{"\x89PNG\r\n\x1a\n", LQ2X_FORMAT_PNG}, {"GIF89a", LQ2X_FORMAT_GIF},
                                                  {"RIFF....WEBP", LQ2X_FORMAT_WEBP}, {"P5", LQ2X_FORMAT_PGM},
                                                  {"P7", LQ2X_FORMAT_PAM}, {"BM", LQ2X_FORMAT_BMP}};
    for (const auto& [start, format] : starts)
        EXPECT_EQ(lq2x_format_of_bytes(reinterpret_cast<const std::uint8_t*>(start.data()), start.size()), format);
    // Every format by its own name; those only read are written as PNG.
    for (int f = LQ2X_FORMAT_PNG; f <= LQ2X_FORMAT_PCX; ++f) {
        EXPECT_EQ(lq2x_format_of_name((std::string("x.") + lq2x_format_name(f)).c_str()), f);
        const bool written = f <= LQ2X_FORMAT_RAW;
        EXPECT_EQ(lq2x_format_writes(f), written) << f;
        EXPECT_EQ(lq2x_format_written_for(f), written ? f : LQ2X_FORMAT_PNG) << f;
    }
    EXPECT_EQ(lq2x_format_name(LQ2X_FORMAT_SAME), nullptr);
    EXPECT_EQ(lq2x_format_writes(LQ2X_FORMAT_SAME), 0);
    EXPECT_EQ(lq2x_format_written_for(LQ2X_FORMAT_SAME), LQ2X_FORMAT_SAME);
    // The lossless way out of a refusal: PNG where the format cannot hold a
    // result (GIF: partial alpha, many colours; PGM: colour), else itself.
    const std::pair<int, int> lossless[] = {
        {LQ2X_FORMAT_GIF, LQ2X_FORMAT_PNG}, {LQ2X_FORMAT_PGM, LQ2X_FORMAT_PNG}, {LQ2X_FORMAT_PNG, LQ2X_FORMAT_PNG},
        {LQ2X_FORMAT_WEBP, LQ2X_FORMAT_WEBP}, {LQ2X_FORMAT_PAM, LQ2X_FORMAT_PAM}, {LQ2X_FORMAT_BMP, LQ2X_FORMAT_SAME},
        {LQ2X_FORMAT_SAME, LQ2X_FORMAT_SAME}, {99, LQ2X_FORMAT_SAME}};
    for (const auto& [format, out] : lossless)
        EXPECT_EQ(lq2x_format_lossless_for(format), out) << format;
}

// A batch's outputs, named alike at every door: the tree below a folder
// walked kept, the suffix, the extension of what is written.
TEST(FilesApi, BatchNames)
{
    lq2x_file_options ppm = lq2x_default_file_options();
    ppm.format = LQ2X_FORMAT_PPM;
    struct batch_case {
        const char *relative, *suffix;
        const lq2x_file_options* file;
        const char* out;
    } const cases[] = {{"a.png", nullptr, nullptr, "out/a.png"},     {"sub/b.gif", "@2x", nullptr, "out/sub/b@2x.gif"},
                       {"c.bmp", nullptr, nullptr, "out/c.png"},     {"d.tar.pcx", "_x", nullptr, "out/d.tar_x.png"},
                       {"e.webp", nullptr, &ppm, "out/e.ppm"},       {"noext", nullptr, nullptr, "out/noext"},
                       {"s/t/f.PAM", nullptr, nullptr, "out/s/t/f.pam"}};
    for (const batch_case& c : cases) {
        char out[64];
        const std::size_t n = lq2x_batch_output(c.relative, "out", c.suffix, c.file, out, sizeof out);
        EXPECT_EQ(std::string(out, n), c.out) << c.relative;
        EXPECT_EQ(lq2x_batch_output(c.relative, "out", c.suffix, c.file, out, n), n) << "no room for the NUL";
    }
    char small[4] = "abc";
    EXPECT_EQ(lq2x_batch_output("a.png", "out", nullptr, nullptr, small, sizeof small), 9u);
    EXPECT_STREQ(small, "abc"); // untouched when it does not fit
    EXPECT_EQ(lq2x_batch_output(nullptr, "out", nullptr, nullptr, small, sizeof small), 0u);
    lq2x_file_options raw = lq2x_default_file_options();
    raw.raw_width = raw.raw_height = 4;
    const std::pair<const char*, int> takes[] = {{"a.png", 1}, {"b.txt", 0}, {"c", 0}, {"d.raw", 0}, {"e.ICO", 1}};
    for (const auto& [name, taken] : takes)
        EXPECT_EQ(lq2x_batch_takes(name, nullptr), taken) << name;
    EXPECT_EQ(lq2x_batch_takes("d.raw", &raw), 1);
}

TEST(FileFormats, AGifAllTheSameFitsWhatTheExactOneRefuses)
{
    // Half-transparent pixels that an exact GIF refuses; the fitted one is
    // made, and says it is not exact.
    std::vector<std::uint8_t> pixels(8 * 8 * 4);
    for (std::size_t i = 0; i < pixels.size(); i += 4)
        pixels[i] = std::uint8_t(i), pixels[i + 3] = i % 8 == 0 ? 100 : 255;
    uint32_t delay[2] = {1, 10};
    const lq2x_frames frames = {8, 8, 1, LQ2X_LAYOUT_RGBA, 0, 0, pixels.data(), delay, ""};
    lq2x_file_options f = lq2x_default_file_options();
    f.format = LQ2X_FORMAT_GIF;
    lq2x_file out;
    ASSERT_EQ(lq2x_write_file(&frames, &f, &out), LQ2X_ERROR_CANNOT_WRITE);
    lq2x_file_free(&out);
    lq2x_gif_fit_any(&f);
    EXPECT_EQ(f.gif_alpha, 128);
    EXPECT_EQ(f.gif_colours, 256);
    EXPECT_EQ(f.gif_palette, LQ2X_GIF_PALETTE_SHARED);
    ASSERT_EQ(lq2x_write_file(&frames, &f, &out), LQ2X_OK) << out.message;
    EXPECT_NE(std::string(out.message).find("not exact"), std::string::npos) << out.message;
    lq2x_file_free(&out);
    // A caller's header from before the GIF settings is left as it is.
    lq2x_file_options old = lq2x_default_file_options();
    old.size = offsetof(lq2x_file_options, gif_alpha);
    lq2x_gif_fit_any(&old);
    EXPECT_EQ(old.gif_alpha, 0);
    lq2x_gif_fit_any(nullptr);
}

} // namespace
