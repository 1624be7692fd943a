// The tool's --edge and --tile options, run end to end on real files, against
// the edge and grid model (edge_model.h) built from the clamped model alone.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "edge_model.h"
#include "support.h"

using namespace testing_support;

namespace fs = std::filesystem;
using lq2x::edge;

namespace {

class ToolEdges : public testing_support::tool_case {
protected:

    std::vector<std::uint8_t> bytes_of(const std::string& name)
    {
        std::ifstream in(dir / name, std::ios::binary);
        return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
    }

    void put(const std::string& name, const files::image& img)
    {
        const std::vector<std::uint8_t> b = files::encode(img, files::format::png, {});
        std::ofstream(dir / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
    }

    ref::image8888 get(const std::string& name)
    {
        const files::image img = files::decode(bytes_of(name), {});
        return {img.width, img.height, img.pixels};
    }
};

// An opaque picture of a few colours (alpha 0xFF in every pixel).
files::image opaque_picture(int w, int h, std::uint32_t seed)
{
    return testing_support::picture(w, h, files::layout::rgb, seed);
}

TEST_F(ToolEdges, EdgeModesPerAxis)
{
    const files::image in = opaque_picture(13, 9, 1);
    put("in.png", in);
    struct edge_case {
        const char* word;
        edge x, y;
    };
    for (const edge_case c : {edge_case{"wrap", edge::wrap, edge::wrap}, {"clamp", edge::clamp, edge::clamp},
                              {"wrap,clamp", edge::wrap, edge::clamp}, {"clamp,wrap", edge::clamp, edge::wrap},
                              {"transparent,wrap", edge::transparent, edge::wrap}}) {
        const outcome o = lq2x({"--edge", c.word, "in.png", "out.png"});
        ASSERT_EQ(o.status, 0) << c.word << ": " << o.err;
        EXPECT_EQ(get("out.png"), ref::scale_with(as_ref(in), {.edge_x = c.x, .edge_y = c.y})) << c.word;
    }
}

// Whether a PNG stores alpha, read from its bytes: a colour type with an
// alpha channel (IHDR's byte 25: 4 grey and alpha, 6 RGBA), or a tRNS chunk
// (the writer may choose a palette or a colour key for few colours).
bool png_has_alpha(const std::vector<std::uint8_t>& png)
{
    const std::string text(png.begin(), png.end());
    return (png.size() > 25 && (png[25] == 4 || png[25] == 6)) || text.find("tRNS") != std::string::npos;
}

TEST_F(ToolEdges, TransparentEdgesGiveAnOpaquePictureAlpha)
{
    const files::image in = opaque_picture(10, 7, 2);
    put("in.png", in);
    ASSERT_EQ(lq2x({"in.png", "clamp.png"}).status, 0);
    EXPECT_FALSE(png_has_alpha(bytes_of("clamp.png")));
    const outcome o = lq2x({"--edge", "transparent", "in.png", "out.png"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(png_has_alpha(bytes_of("out.png")));
    const ref::image8888 got = get("out.png"), want = ref::scale_with(as_ref(in), {.edge_x = edge::transparent,
                                                                                     .edge_y = edge::transparent});
    EXPECT_EQ(got, want);
    // The border did blend with the outside: some alpha below 0xFF, all of
    // it on the outer ring of blocks.
    int translucent = 0;
    for (int y = 0; y < got.height; ++y)
        for (int x = 0; x < got.width; ++x)
            if (got.at(x, y) >> 24 != 0xFF) {
                ++translucent;
                EXPECT_TRUE(x < 2 || y < 2 || x >= got.width - 2 || y >= got.height - 2) << x << ", " << y;
            }
    EXPECT_GT(translucent, 0);
}

// With --scale 4 the grid doubles with the image, so each cell is scaled 4x
// on its own; the turn applies to the whole result.
TEST_F(ToolEdges, GridKeepsItsCellsThroughEveryPassAndTurn)
{
    const files::image in = opaque_picture(23, 17, 3);
    put("in.png", in);
    const outcome o = lq2x({"--tile", "4x3", "--tile-margin", "1", "--tile-spacing", "2", "--edge", "wrap,clamp",
                            "--scale", "4", "--rotate", "cw", "in.png", "out.png"});
    ASSERT_EQ(o.status, 0) << o.err;
    // Each cell cut out and scaled twice alone; the pixels between cells
    // become 4 x 4 blocks of themselves.
    const ref::image8888 src = as_ref(in);
    const auto across = ref::grid_slots(23, 4, 1, 2), down = ref::grid_slots(17, 3, 1, 2);
    ref::image8888 want{4 * 23, 4 * 17, std::vector<pixel8888>(16 * 23 * 17)};
    for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 23; ++x) {
            const ref::slot sx = across[std::size_t(x)], sy = down[std::size_t(y)];
            if (!sx.in_cell || !sy.in_cell) {
                for (int k = 0; k < 16; ++k)
                    want.at(4 * x + k % 4, 4 * y + k / 4) = src.at(x, y);
            } else if (x == sx.start && y == sy.start) {
                ref::image8888 cell = ref::crop(src, x, y, sx.end - x, sy.end - y);
                for (int pass = 0; pass < 2; ++pass)
                    cell = ref::scale_edges(cell, edge::wrap, edge::clamp);
                for (int v = 0; v < cell.height; ++v)
                    for (int u = 0; u < cell.width; ++u)
                        want.at(4 * x + u, 4 * y + v) = cell.at(u, v);
            }
        }
    EXPECT_EQ(get("out.png"), ref::turn_cw(want));
}

TEST_F(ToolEdges, BadValuesAreUsageErrors)
{
    put("in.png", opaque_picture(8, 6, 4));
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--tile", "0x8"}, {"--tile", "8"}, {"--tile", "8x-2"}, {"--edge", "mirror"},
          {"--edge", "wrap,"}, {"--edge", "wrap,clamp,wrap"}, {"--tile-margin", "1"}, {"--tile-spacing", "2"},
          {"--tile", "2x2", "--tile-margin", "-1"}}) {
        std::vector<std::string> full = args;
        full.insert(full.end(), {"in.png", "out.png"});
        const outcome o = lq2x(full);
        EXPECT_EQ(o.status, 2) << args[0] << ' ' << args[1] << ": " << o.err;
        EXPECT_FALSE(o.err.empty());
        EXPECT_FALSE(fs::exists(dir / "out.png")) << args[0] << ' ' << args[1];
    }
    // A margin that leaves no cell, known once the image is read: one line
    // naming the file in the library's words, exit 2, nothing written for
    // it; other files are done.
    const outcome o = lq2x({"--tile", "2x2", "--tile-margin", "6", "in.png", "out.png"});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err, "lq2x: in.png: --tile-margin: a margin of 6 leaves no cell in a picture of 8 x 6\n");
    EXPECT_FALSE(fs::exists(dir / "out.png"));
    put("wide.png", opaque_picture(20, 20, 5));
    fs::create_directory(dir / "out");
    const outcome many = lq2x({"--tile", "2x2", "--tile-margin", "7", "-o", "out", "in.png", "wide.png"});
    EXPECT_EQ(many.status, 2) << many.err;
    EXPECT_FALSE(fs::exists(dir / "out" / "in.png"));
    EXPECT_EQ(get("out/wide.png"), ref::scale_with(as_ref(opaque_picture(20, 20, 5)), {.tile = {2, 2, 7, 0}}));
    // A usage fault beside a failed input: the status is the usage fault's,
    // in whichever order the files were done.
    testing_support::write_file(dir / "junk.png", {'j', 'u', 'n', 'k'});
    for (const auto& order : {std::vector<std::string>{"junk.png", "in.png"}, {"in.png", "junk.png"}}) {
        std::vector<std::string> args = {"--tile", "2x2", "--tile-margin", "7", "--threads", "1", "-o", "out"};
        args.insert(args.end(), order.begin(), order.end());
        const outcome both = lq2x(args);
        EXPECT_EQ(both.status, 2) << both.err;
        EXPECT_NE(both.err.find("lq2x: junk.png: not a "), std::string::npos) << both.err;
        EXPECT_NE(both.err.find("lq2x: in.png: --tile-margin: a margin of 7 leaves no cell"), std::string::npos)
            << both.err;
    }
}

} // namespace
