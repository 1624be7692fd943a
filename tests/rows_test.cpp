// Pictures scaled by rows (files/stream.h): the same bytes as the
// whole-picture path for every scale, grid, edge, layout and output format
// the cross-door and sheet tests use; what is left to the whole-picture
// path; hostile headers and data that stops, refused in words with no
// output left behind; and memory that does not grow with the height.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "file_options.h"
#include "stream.h"
#include "support.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

const std::string TILES = "/usr/share/crawl/dat/tiles"; // Debian's crawl-tiles-data

struct job {
    std::string name;
    lq2x::options opt;
    lq2x::file_options file;
};

lq2x::options with(int scale, lq2x::grid tile = {}, lq2x::edge x = lq2x::edge::clamp, lq2x::edge y = lq2x::edge::clamp)
{
    lq2x::options o;
    o.scale = scale;
    o.tile = tile;
    o.edge_x = x;
    o.edge_y = y;
    return o;
}

// The options of the cross-door test that keep the picture upright (the
// others are the whole-picture path's, below), each also in bands of a
// row or two, where every window's edge is met.
std::vector<lq2x::options> upright_options()
{
    using lq2x::edge;
    std::vector<lq2x::options> out;
    for (const int s : {2, 4, 8})
        out.push_back(with(s));
    for (const edge x : {edge::clamp, edge::wrap, edge::transparent})
        for (const edge y : {edge::clamp, edge::transparent})
            out.push_back(with(4, {}, x, y));
    for (const lq2x::grid g : {lq2x::grid{16, 16, 1, 1}, lq2x::grid{8, 5, 0, 2}, lq2x::grid{7, 7, 3, 0},
                               lq2x::grid{3, 40, 2, 1}})
        for (const int s : {2, 4, 8})
            out.push_back(with(s, g, edge::transparent, edge::transparent));
    lq2x::options narrow = with(8);
    narrow.rgb565 = true;
    out.push_back(narrow);
    const std::size_t whole = out.size();
    for (std::size_t i = 0; i < whole; ++i) {
        lq2x::options banded = out[i];
        banded.band_pixels = 1; // a source row a band
        out.push_back(banded);
    }
    return out;
}

// The whole-picture path's bytes, and the streamed ones (std::nullopt when
// the library would not stream it).
bytes whole(const bytes& in, const job& j)
{
    files::memory_source source(in);
    EXPECT_FALSE(files::plan_streaming(source, j.file.out, j.opt, j.file)) << j.name << ": small, held whole";
    return files::scale_bytes(in, j.opt, j.file, j.file.out, nullptr);
}

std::optional<bytes> streamed(const bytes& in, const job& j)
{
    files::memory_source source(in);
    const auto plan = files::plan_streaming(source, j.file.out, j.opt, j.file, files::streaming::always);
    if (!plan)
        return std::nullopt;
    bytes out;
    files::scale_streamed(*plan, source, j.opt, files::encoding(j.opt, j.file),
                          [&](std::span<const std::uint8_t> piece) { out.insert(out.end(), piece.begin(), piece.end()); });
    return out;
}

bytes png_of(const files::image& img) { return files::encode_png(img, 1); }

void expect_same(const bytes& in, const job& j)
{
    bytes expected;
    try {
        expected = whole(in, j);
    } catch (const files::failure& e) { // refused whole: left to the whole-picture path, to refuse alike
        EXPECT_FALSE(streamed(in, j)) << j.name << ": " << e.what();
        return;
    }
    const std::optional<bytes> got = streamed(in, j);
    ASSERT_TRUE(got) << j.name << ": not streamed";
    EXPECT_TRUE(*got == expected) << j.name << ": " << got->size() << " bytes streamed, " << expected.size()
                                  << " whole";
}

TEST(ScaledByRows, SameBytesAsTheWholePicture)
{
    using lq2x::layout;
    // Every layout the PNG writer stores differently: few colours (a
    // palette), grey levels, binary alpha with one clear colour (a tRNS key,
    // which takes a second look at the result), alpha of every kind.
    files::image keyed = picture(40, 24, layout::rgba, 7);
    for (pixel8888& p : keyed.pixels)
        if (files::alpha_of(p) == 0x80)
            p |= files::ALPHA_BITS;
    const std::vector<std::pair<std::string, bytes>> inputs = {
        {"rgb", png_of(picture(40, 24, layout::rgb, 1))},       {"grey", png_of(picture(40, 24, layout::grey, 2))},
        {"grey_alpha", png_of(picture(40, 24, layout::grey_alpha, 3))},
        {"rgba", png_of(picture(40, 24, layout::rgba, 4))},     {"keyed", png_of(keyed)},
        {"ppm", files::encode_pnm(picture(40, 24, layout::rgb, 9), lq2x::format::ppm)},
        {"pam", files::encode_pnm(picture(40, 24, layout::rgba, 10), lq2x::format::pam)},
        {"pgm of 16 bits", [] {
             const std::string head = "P5\n# deep\n40 24\n1000\n";
             bytes b(head.begin(), head.end());
             for (int i = 0; i < 40 * 24; ++i)
                 b.insert(b.end(), {std::uint8_t(i * 7 % 4 + (i % 3 == 0)), std::uint8_t(i * 13)});
             return b;
         }()},
    };
    int count = 0;
    for (const auto& [name, in] : inputs)
        for (const lq2x::options& o : upright_options()) {
            expect_same(in, {name + " x" + std::to_string(o.scale) + (o.tile.width ? " grid" : "") +
                                 (o.band_pixels ? " banded" : ""),
                             o, {}});
            ++count;
        }
    // Every output format the rows are written in, raw input among them.
    const bytes raw = [] {
        const files::image img = picture(12, 10, lq2x::layout::rgb, 5);
        return files::encode_raw(img);
    }();
    for (const lq2x::format f : {lq2x::format::png, lq2x::format::ppm, lq2x::format::pgm, lq2x::format::pam,
                                 lq2x::format::pnm, lq2x::format::raw})
        for (const auto& [name, in] : inputs) {
            expect_same(in, {name + " as " + files::name_of(f), with(4), {.out = f}});
            ++count;
        }
    for (const lq2x::format f : {lq2x::format::png, lq2x::format::ppm, lq2x::format::pam, lq2x::format::pnm,
                                 lq2x::format::raw}) {
        lq2x::file_options raw_file{.out = f};
        raw_file.raw_width = 12, raw_file.raw_height = 10;
        expect_same(raw, {std::string("raw as ") + files::name_of(f), with(2), raw_file});
        ++count;
    }
    std::printf("scaled by rows: %d cases, the same bytes as the whole picture\n", count);
}

// A crawl sheet whole at 2x, plain and as 32 x 32 tiles, and a piece of
// it at 4x and 8x (as the GPU test's sheets), on two threads.
TEST(ScaledByRows, TileSheets)
{
    if (!fs::exists(TILES + "/player.png"))
        GTEST_SKIP() << "crawl-tiles-data is not installed";
    const bytes sheet = read_file(TILES + "/player.png");
    lq2x::options o = with(2);
    o.threads = 2;
    expect_same(sheet, {"player.png x2", o, {}});
    o.tile = {32, 32, 0, 0};
    expect_same(sheet, {"player.png x2 32x32 tiles", o, {}});
    const files::image img = files::decode_png(sheet, {});
    files::image piece{256, 200, img.kind, {}};
    for (int y = 0; y < piece.height; ++y)
        piece.pixels.insert(piece.pixels.end(), img.pixels.begin() + std::ptrdiff_t(y) * img.width,
                            img.pixels.begin() + std::ptrdiff_t(y) * img.width + piece.width);
    for (const int s : {4, 8}) {
        o = with(s);
        o.threads = 2;
        expect_same(png_of(piece), {"player.png piece x" + std::to_string(s), o, {}});
    }
}

TEST(ScaledByRows, LeftToTheWholePicture)
{
    const bytes still = png_of(picture(20, 12, lq2x::layout::rgba, 6));
    files::memory_source source(still);
    const auto plan = [&](const lq2x::options& o, const lq2x::file_options& f = {}) {
        return files::plan_streaming(source, f.out, o, f, files::streaming::always).has_value();
    };
    EXPECT_TRUE(plan(with(2)));
    lq2x::options turned = with(2);
    turned.turn = lq2x::orientation::cw;
    EXPECT_FALSE(plan(turned)) << "a turned row is a source column";
    EXPECT_FALSE(plan(with(2, {}, lq2x::edge::clamp, lq2x::edge::wrap))) << "wrap reads the last rows first";
    EXPECT_FALSE(plan(with(2), {.out = lq2x::format::gif}));
    EXPECT_FALSE(plan(with(2), {.out = lq2x::format::webp}));
    // A plain PGM, and a binary one cut short.
    for (const std::string text : {"P2\n2 1\n255\n0 1\n", "P5\n4 4\n255\nabc"}) {
        const bytes b(text.begin(), text.end());
        files::memory_source pnm(b);
        EXPECT_FALSE(files::plan_streaming(pnm, lq2x::format::same, with(2), {}, files::streaming::always)) << text;
    }
    // An interlaced PNG; an animated one.
    const bytes interlaced = png_file({{"IHDR", png_header(3, 2, 8, 0, true)}, {"IDAT", deflated(bytes(12))}, {"IEND", {}}});
    files::memory_source s2(interlaced);
    EXPECT_FALSE(files::plan_streaming(s2, lq2x::format::same, with(2), {}, files::streaming::always));
    const bytes animated = png_file({{"IHDR", png_header(3, 2)}, {"acTL", bytes(8)}, {"IDAT", deflated(bytes(8))},
                                     {"IEND", {}}});
    files::memory_source s3(animated);
    EXPECT_FALSE(files::plan_streaming(s3, lq2x::format::same, with(2), {}, files::streaming::always));
}

class ScaledByRowsTool : public tool_case {};

// A header claiming 2^29 rows, and data for 2: refused once the data stops,
// in libpng's words, and nothing left where the output was to be.
TEST_F(ScaledByRowsTool, DataThatStopsLeavesNoOutput)
{
    const bytes rows = unfiltered_rows(1, bytes(2, 0x40));
    write_file(dir / "tall.png", png_file({{"IHDR", png_header(1, 1u << 29)}, {"IDAT", deflated(rows)}, {"IEND", {}}}));
    // PNG takes a look at every row before it writes; PPM writes at once.
    for (const std::string out : {"out.png", "out.ppm"}) {
        const outcome o = lq2x({"tall.png", out});
        EXPECT_EQ(o.status, 1) << o.err;
        EXPECT_NE(o.err.find("tall.png"), std::string::npos) << o.err;
        std::printf("%s: %s", out.c_str(), o.err.c_str());
        EXPECT_FALSE(fs::exists(dir / out));
    }
    for (const auto& e : fs::directory_iterator(dir))
        EXPECT_TRUE(e.path().filename() == "tall.png") << "left behind: " << e.path();
}

// Rows too wide for the memory the pixel limit allows, and a header past
// the longest side, refused in the library's words.
TEST_F(ScaledByRowsTool, LimitsInWords)
{
    // Beyond the limits of a picture scaled by rows (its rows held, its
    // whole result) a picture is the whole-picture path's, refused in the
    // words every format gets.
    const chunk data = {"IDAT", deflated(bytes(16))};
    write_file(dir / "wide.png", png_file({{"IHDR", png_header(1u << 20, 1)}, data, {"IEND", {}}}));
    outcome o = lq2x({"--max-pixels", "1000000", "wide.png", "out.png"});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("image too large: 1048576 x 1 pixels scale to 4194304, over the limit of 1000000 "
                         "(--max-pixels raises it)"),
              std::string::npos)
        << o.err;
    write_file(dir / "long.png", png_file({{"IHDR", png_header(1000, 100000)}, data, {"IEND", {}}}));
    o = lq2x({"--max-pixels", "1000000", "long.png", "out.png"});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("image too large: 1000 x 100000 pixels scale to 400000000, over the limit of 1000000 "
                         "(--max-pixels raises it)"),
              std::string::npos)
        << o.err;
    write_file(dir / "high.png", png_file({{"IHDR", png_header(1, 0x7FFFFFFFu)}, data, {"IEND", {}}}));
    o = lq2x({"high.png", "out.png"});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("too large"), std::string::npos) << o.err;
    EXPECT_FALSE(fs::exists(dir / "out.png"));
}

// A picture over the whole-picture limit is scaled by rows, and one four
// times as high takes no more memory to speak of: held whole, its result
// alone would be 96 MiB more.
TEST_F(ScaledByRowsTool, MemoryDoesNotGrowWithTheHeight)
{
    long rss[2] = {};
    const int heights[2] = {4096, 16384};
    for (int i = 0; i < 2; ++i) {
        write_file(dir / "in.png", png_of(picture(512, heights[i], lq2x::layout::rgb, 8)));
        run_options opt;
        opt.measure_memory = true;
        // AddressSanitizer holds freed memory back to catch its use, which
        // would count every band's freed buffers: what the tool holds is
        // measured without that.
        const char* asan = std::getenv("ASAN_OPTIONS");
        opt.environment = {{"ASAN_OPTIONS", (asan ? std::string(asan) + ":" : "") + "quarantine_size_mb=0"}};
        const outcome o = lq2x({"--max-pixels", "2097152", "in.png", "out.png"}, opt);
        ASSERT_EQ(o.status, 0) << o.err;
        const files::image out = files::decode_png(read_file(dir / "out.png"), {});
        ASSERT_EQ(out.height, 2 * heights[i]);
        rss[i] = o.max_rss_kb;
    }
    std::printf("scaled by rows: peak %ld KiB for 512 x 4096 at 2x, %ld KiB for 512 x 16384\n", rss[0], rss[1]);
    EXPECT_GT(rss[0], 0);
    EXPECT_LT(rss[1], rss[0] + 16384) << rss[0] << " KiB for 4096 rows, " << rss[1] << " KiB for 16384";
}

} // namespace
