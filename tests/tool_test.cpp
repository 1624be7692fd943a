// The lq2x command-line tool, run end to end on real files.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "support.h"

using namespace testing_support;

namespace fs = std::filesystem;

namespace {

class Tool : public tool_case {
protected:
    outcome lq2x(const std::vector<std::string>& args, const std::string& input = {})
    {
        run_options opt;
        opt.input = input;
        return tool_case::lq2x(args, opt);
    }

    void put(const std::string& name, const files::image& img, files::format f)
    {
        write_file(dir / name, files::encode(img, f, {}));
    }

    files::image get(const std::string& name, files::decode_options opt = {})
    {
        return files::decode(read_file(dir / name), opt);
    }
};

TEST_F(Tool, EveryFormatRoundTripsThroughTheRule)
{
    struct format_case {
        files::format f;
        files::layout kind;
        const char* name;
    };
    const format_case cases[] = {
        {files::format::png, files::layout::rgba, "a.png"}, {files::format::png, files::layout::rgb, "b.png"},
        {files::format::png, files::layout::grey, "c.png"}, {files::format::png, files::layout::grey_alpha, "d.png"},
        {files::format::ppm, files::layout::rgb, "e.ppm"},  {files::format::pgm, files::layout::grey, "f.pgm"},
        {files::format::pam, files::layout::rgba, "g.pam"}, {files::format::pam, files::layout::grey_alpha, "h.pam"},
    };
    std::uint32_t seed = 1;
    for (const auto& c : cases) {
        const files::image in = picture(13, 9, c.kind, seed++);
        put(c.name, in, c.f);
        const std::string out = std::string("out_") + c.name;
        const outcome o = lq2x({c.name, out});
        ASSERT_EQ(o.status, 0) << c.name << ": " << o.err;
        const files::image got = get(out);
        // No alpha stays without, and grey stays grey (PNG may store it in a
        // palette, which reads back as colour, with the same pixels).
        EXPECT_TRUE(files::has_alpha(c.kind) || !files::has_alpha(got.kind)) << c.name;
        if (c.f != files::format::png) {
            EXPECT_EQ(got.kind, c.kind) << c.name;
        }
        EXPECT_EQ(ref::image8888(got.width, got.height, got.pixels), scaled(in)) << c.name;
    }
}

TEST_F(Tool, RawInAndOut)
{
    const files::image in = picture(6, 4, files::layout::rgb, 7);
    put("in.raw", in, files::format::raw);
    ASSERT_EQ(lq2x({"--size", "6x4", "in.raw", "out.raw"}).status, 0);
    files::decode_options raw;
    raw.raw_size = std::pair{12, 8};
    EXPECT_EQ(get("out.raw", raw).pixels, scaled(in).pixels);
    // A raw file of the wrong length for its size is refused.
    const outcome o = lq2x({"--size", "6x5", "in.raw", "bad.raw"});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("raw RGB of 6 x 5 is 90 bytes, the file has 72"), std::string::npos) << o.err;
    EXPECT_FALSE(fs::exists(dir / "bad.raw"));
}

TEST_F(Tool, RotationAndRepeatedScaling)
{
    const files::image in = picture(11, 7, files::layout::rgba, 8);
    put("in.png", in, files::format::png);
    ASSERT_EQ(lq2x({"--rotate", "ccw", "in.png", "ccw.png"}).status, 0);
    ASSERT_EQ(lq2x({"--rotate", "cw", "--scale", "4", "in.png", "cw4.png"}).status, 0);
    ASSERT_EQ(lq2x({"--scale", "8", "--threads", "2", "in.png", "x8.png"}).status, 0);
    const auto as_ref = [](const files::image& i) { return ref::image8888{i.width, i.height, i.pixels}; };
    EXPECT_EQ(as_ref(get("ccw.png")), scaled(in, lq2x::orientation::ccw));
    EXPECT_EQ(as_ref(get("cw4.png")), scaled(in, lq2x::orientation::cw, 2));
    EXPECT_EQ(as_ref(get("x8.png")), scaled(in, lq2x::orientation::upright, 3));
}

// Invisible pixels count as equal whatever their colour bits.
TEST_F(Tool, TransparentColourBitsChangeNothing)
{
    files::image a = picture(10, 10, files::layout::rgba, 9);
    files::image b = a;
    std::mt19937 rng(3);
    for (std::size_t i = 0; i < b.pixels.size(); ++i)
        if (b.bytes()[4 * i + 3] == 0)
            for (int c = 0; c < 3; ++c)
                b.bytes()[4 * i + c] = std::uint8_t(rng());
    put("a.png", a, files::format::png);
    put("b.png", b, files::format::png);
    ASSERT_EQ(lq2x({"a.png", "a2.png"}).status, 0);
    ASSERT_EQ(lq2x({"b.png", "b2.png"}).status, 0);
    EXPECT_EQ(get("a2.png").pixels, get("b2.png").pixels);
}

TEST_F(Tool, StandardInputAndOutput)
{
    const files::image in = picture(5, 6, files::layout::rgb, 10);
    const bytes png = files::encode(in, files::format::png, {});
    const outcome o = lq2x({"-", "-"}, std::string(png.begin(), png.end()));
    ASSERT_EQ(o.status, 0) << o.err;
    const files::image got = files::decode(bytes(o.out.begin(), o.out.end()), {});
    EXPECT_EQ(got.pixels, scaled(in).pixels);
    // --format picks the output format on standard output.
    const outcome p = lq2x({"--format", "ppm", "-", "-"}, std::string(png.begin(), png.end()));
    ASSERT_EQ(p.status, 0) << p.err;
    EXPECT_EQ(p.out.substr(0, 2), "P6");
}

TEST_F(Tool, ManyFilesWithOneBad)
{
    fs::create_directory(dir / "out");
    put("a.png", picture(4, 4, files::layout::rgb, 11), files::format::png);
    write_file(dir / "bad.png", bytes{'n', 'o', 't'});
    put("c.pam", picture(3, 5, files::layout::rgba, 12), files::format::pam);
    const outcome o = lq2x({"-o", "out", "a.png", "bad.png", "missing.png", "c.pam"});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("lq2x: bad.png: not a PNG, GIF, WebP, PBM, PGM, PPM, PAM, BMP, TGA, ICO, CUR or PCX image\n"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("lq2x: missing.png: No such file or directory\n"), std::string::npos) << o.err;
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 2) << o.err;
    EXPECT_EQ(get("out/a.png").width, 8);
    EXPECT_EQ(get("out/c.pam").height, 10);
    EXPECT_FALSE(fs::exists(dir / "out" / "bad.png"));
}

// The test bench's arithmetic, byte for byte, on its own sample.
TEST_F(Tool, Rgb565MatchesTheTestBench)
{
    fs::copy_file(SAMPLE_PATH, dir / "test.raw");
    run_options opt;
    opt.dir = dir;
    ASSERT_EQ(testing_support::run_program(TESTBENCH_PATH, {}, opt).status, 0);
    const outcome o = lq2x({"--rgb565", "--rotate", "ccw", "--size", "160x102", "test.raw", "tool.raw"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(read_file(dir / "tool.raw"), read_file(dir / "LQ2x.raw"));
}

TEST_F(Tool, BadInputsAreReportedAndWriteNothing)
{
    const files::image img = picture(8, 8, files::layout::rgba, 13);
    const bytes good = files::encode(img, files::format::png, {});
    bytes truncated(good.begin(), good.begin() + std::ptrdiff_t(good.size() / 2));
    bytes corrupt = good;
    const std::string idat = "IDAT";
    const auto data_at = std::search(good.begin(), good.end(), idat.begin(), idat.end()) - good.begin() + 4;
    corrupt[std::size_t(data_at) + 4] ^= 0x55; // inside the compressed image data
    bytes bad_crc = good;
    bad_crc[30] ^= 1; // the header chunk's checksum
    // A PNG header claiming 100000 x 100000 pixels (its checksum made right),
    // followed by the small image's data.
    bytes huge = good;
    const std::uint8_t dims[8] = {0, 1, 0x86, 0xA0, 0, 1, 0x86, 0xA0};
    std::memcpy(huge.data() + 16, dims, 8);
    const std::uint32_t crc = std::uint32_t(::crc32(0, huge.data() + 12, 17));
    for (int i = 0; i < 4; ++i)
        huge[29 + i] = std::uint8_t(crc >> (24 - 8 * i));
    const std::string big_pnm = "P6\n100000 100000\n255\n";

    write_file(dir / "truncated.png", truncated);
    write_file(dir / "corrupt.png", corrupt);
    write_file(dir / "bad_crc.png", bad_crc);
    write_file(dir / "huge.png", huge);
    write_file(dir / "huge.ppm", bytes(big_pnm.begin(), big_pnm.end()));
    write_file(dir / "empty.png", {});
    const std::pair<const char*, const char*> cases[] = {
        {"nothing-here.png", "No such file or directory"},
        {"truncated.png", "truncated data"},
        {"corrupt.png", "IDAT"},
        {"bad_crc.png", "CRC error"},
        {"huge.png", "image too large: 100000 x 100000 pixels"},
        {"huge.ppm", "image too large: 100000 x 100000 pixels"},
        {"empty.png", "empty file"},
    };
    for (const auto& [file, why] : cases) {
        const outcome o = lq2x({file, "out.png"});
        EXPECT_EQ(o.status, 1) << file;
        EXPECT_EQ(o.err.find(std::string("lq2x: ") + file + ": "), 0u) << o.err;
        EXPECT_NE(o.err.find(why), std::string::npos) << file << ": " << o.err;
        EXPECT_FALSE(fs::exists(dir / "out.png")) << file;
    }
    // The limit can be raised (here the header passes it, and the missing data is the fault).
    const outcome raised = lq2x({"--max-pixels", "100000000000", "huge.ppm", "out.png"});
    EXPECT_NE(raised.err.find("truncated"), std::string::npos) << raised.err;
}

TEST_F(Tool, OutputsAreReplacedWholeButNeverAnInput)
{
    const files::image img = picture(8, 8, files::layout::rgb, 14);
    put("in.png", img, files::format::png);
    write_file(dir / "out.png", bytes{'o', 'l', 'd'});
    ASSERT_EQ(lq2x({"in.png", "out.png"}).status, 0);
    EXPECT_EQ(get("out.png").width, 16);

    const bytes before = read_file(dir / "in.png");
    const outcome o = lq2x({"in.png", "./in.png"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "lq2x: ./in.png: is the input file; refusing to write over it\n");
    EXPECT_EQ(read_file(dir / "in.png"), before);

    // No room to write: the earlier output stays whole and no temporary file is left.
    const bytes earlier = read_file(dir / "out.png");
    run_options opt;
    opt.dir = dir;
    opt.max_file_bytes = 100;
    const outcome full = tool_case::lq2x({"in.png", "out.png"}, opt);
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.err.find("File too large"), std::string::npos) << full.err;
    EXPECT_EQ(read_file(dir / "out.png"), earlier);
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir))
        ++files;
    EXPECT_EQ(files, 2u);

    const outcome missing_dir = lq2x({"in.png", "no/such/dir/out.png"});
    EXPECT_EQ(missing_dir.status, 1);
    EXPECT_NE(missing_dir.err.find("cannot write: No such file or directory"), std::string::npos) << missing_dir.err;

    // A folder, or a link to one, as OUTPUT is the folder to write into, as
    // cp and mv take it; the link stays a link.
    fs::create_directory(dir / "folder.png");
    fs::create_directory_symlink("folder.png", dir / "link.png");
    for (const char* name : {"folder.png", "link.png"}) {
        fs::remove(dir / "folder.png" / "in.png");
        const outcome o = lq2x({"in.png", name});
        EXPECT_EQ(o.status, 0) << name << ": " << o.err;
        EXPECT_EQ(get("folder.png/in.png").width, 16) << name;
    }
    EXPECT_TRUE(fs::is_symlink(dir / "link.png"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 4);
}

TEST_F(Tool, UsageErrorsExitWithTwo)
{
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, {"a.png"}, {"a.png", "b.png", "c.png"}, {"--scale", "3", "a.png", "b.png"},
          {"--rotate", "up", "a.png", "b.png"}, {"--size", "12", "a.raw", "b.raw"}, {"--bogus", "a.png", "b.png"},
          {"-o", "dir", "-"}, {"a.png", "b.bmp"}}) {
        const outcome o = lq2x(args);
        EXPECT_EQ(o.status, 2) << (args.empty() ? "" : args[0]) << ": " << o.err;
        EXPECT_FALSE(o.err.empty());
    }
    const outcome version = lq2x({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "lq2x " LQ2X_VERSION_STRING "\n"); // the project's one version number
    const outcome help = lq2x({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Examples:"), std::string::npos);
}

} // namespace
