// GIF in and out. Input GIFs are made here with giflib's encoder, record by
// record, and their frames are composited by a plain model written here
// (checked itself against ImageMagick's -coalesce); the tool is run end to
// end and every frame it writes is compared with the model's frame scaled by
// the reference scaler. GIF output is read back by ImageMagick.
#include <gtest/gtest.h>

#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>
#include <set>
#include <source_location>

#include "support.h"

using namespace testing_support;

namespace fs = std::filesystem;

namespace {

const std::string IMAGEMAGICK = "/usr/bin/convert";
constexpr long SMALL_MEMORY_KB = 96 << 10;

using rgb = std::array<std::uint8_t, 3>;

// One image record of a GIF and the graphics control extension before it.
struct test_frame {
    int left = 0, top = 0, width = 1, height = 1;
    std::vector<rgb> palette; // its own; empty: the global one
    bool interlaced = false;
    bool control = true; // without the extension: disposal 0, no transparency, no delay
    int disposal = 0;
    int transparent = -1;
    int delay = 0;
    std::vector<std::uint8_t> indices; // width x height, row after row
    // Without transparency, the extension's index byte all the same: files
    // hold any value there, which only the flag makes transparent.
    std::uint8_t unflagged_index = 255;
};

struct test_gif {
    int width = 1, height = 1;
    std::vector<rgb> global;
    std::optional<int> loop; // the loop extension's count
    std::vector<test_frame> frames;
};

void ok(int status, std::source_location where = std::source_location::current())
{
    if (status != GIF_OK)
        throw std::runtime_error("giflib refused to write the test GIF, line " + std::to_string(where.line()));
}

int append_output(GifFileType* gif, const GifByteType* data, int length)
{
    auto& out = *static_cast<bytes*>(gif->UserData);
    out.insert(out.end(), data, data + length);
    return length;
}

// giflib's own map object, padded to the power of two GIF wants.
struct colour_map {
    ColorMapObject* map = nullptr;
    explicit colour_map(const std::vector<rgb>& colours)
    {
        if (colours.empty())
            return;
        std::vector<GifColorType> c(std::size_t(1) << GifBitSize(int(colours.size())), GifColorType{0, 0, 0});
        for (std::size_t i = 0; i < colours.size(); ++i)
            c[i] = {colours[i][0], colours[i][1], colours[i][2]};
        map = GifMakeMapObject(int(c.size()), c.data());
    }
    ~colour_map() { GifFreeMapObject(map); }
};

bytes write_gif(const test_gif& g)
{
    bytes out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, append_output, &error);
    EGifSetGifVersion(gif, true);
    const colour_map global(g.global);
    ok(EGifPutScreenDesc(gif, g.width, g.height, 8, 0, global.map));
    if (g.loop) {
        const std::uint8_t count[3] = {1, std::uint8_t(*g.loop & 0xFF), std::uint8_t(*g.loop >> 8)};
        ok(EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE));
        ok(EGifPutExtensionBlock(gif, 11, "NETSCAPE2.0"));
        ok(EGifPutExtensionBlock(gif, 3, count));
        ok(EGifPutExtensionTrailer(gif));
    }
    for (const test_frame& f : g.frames) {
        if (f.control) {
            const GraphicsControlBlock gcb{f.disposal, false, f.delay, f.transparent};
            GifByteType ext[4];
            EGifGCBToExtension(&gcb, ext);
            if (f.transparent < 0)
                ext[3] = f.unflagged_index;
            ok(EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, ext));
        }
        const colour_map local(f.palette);
        // giflib loses (and leaks) the last image's own palette when the next has none.
        if (local.map == nullptr && gif->Image.ColorMap != nullptr) {
            GifFreeMapObject(gif->Image.ColorMap);
            gif->Image.ColorMap = nullptr;
        }
        ok(EGifPutImageDesc(gif, f.left, f.top, f.width, f.height, f.interlaced, local.map));
        std::vector<int> rows;
        if (f.interlaced) {
            for (const auto& [first, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}})
                for (int y = first; y < f.height; y += step)
                    rows.push_back(y);
        } else {
            for (int y = 0; y < f.height; ++y)
                rows.push_back(y);
        }
        for (const int y : rows) {
            std::vector<GifPixelType> line(f.indices.begin() + std::ptrdiff_t(y) * f.width,
                                           f.indices.begin() + std::ptrdiff_t(y + 1) * f.width);
            ok(EGifPutLine(gif, line.data(), f.width));
        }
    }
    ok(EGifCloseFile(gif, &error));
    return out;
}

pixel8888 pixel(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a)
{
    const std::uint8_t c[4] = {r, g, b, a};
    pixel8888 p;
    std::memcpy(&p, c, 4);
    return p;
}

std::uint8_t alpha(pixel8888 p)
{
    std::uint8_t c[4];
    std::memcpy(c, &p, 4);
    return c[3];
}

// The frames as a browser shows them, plainly: a transparent screen; each
// frame's pixels other than its transparent index put in place; then its
// rectangle cleared (disposal 2) or put back as it was before (3).
std::vector<ref::image8888> composite(const test_gif& g)
{
    ref::image8888 screen{g.width, g.height, std::vector<pixel8888>(std::size_t(g.width) * g.height, 0)};
    std::vector<ref::image8888> shown;
    for (const test_frame& f : g.frames) {
        const ref::image8888 before = screen;
        const std::vector<rgb>& palette = f.palette.empty() ? g.global : f.palette;
        // As browsers show them: cut to the screen, black without any palette.
        const auto on_screen = [&](int x, int y) { return f.left + x < g.width && f.top + y < g.height; };
        for (int y = 0; y < f.height; ++y)
            for (int x = 0; x < f.width; ++x) {
                const int i = f.indices[std::size_t(y) * f.width + x];
                if ((f.control && i == f.transparent) || !on_screen(x, y))
                    continue;
                const rgb c = palette.empty() ? rgb{0, 0, 0} : palette.at(std::size_t(i));
                screen.at(f.left + x, f.top + y) = pixel(c[0], c[1], c[2], 0xFF);
            }
        shown.push_back(screen);
        for (int y = 0; y < f.height; ++y)
            for (int x = 0; x < f.width && on_screen(x, y); ++x) {
                if (f.control && f.disposal == 2)
                    screen.at(f.left + x, f.top + y) = 0;
                if (f.control && f.disposal == 3)
                    screen.at(f.left + x, f.top + y) = before.at(f.left + x, f.top + y);
            }
    }
    return shown;
}

// Invisible pixels compare as all zero, whatever colour a reader gives them.
ref::image8888 visible(ref::image8888 img)
{
    for (pixel8888& p : img.pixels)
        if (alpha(p) == 0)
            p = 0;
    return img;
}

ref::image8888 as_ref(const files::image& img) { return visible({img.width, img.height, img.pixels}); }

// What the tool's default 2x makes of a frame.
ref::image8888 scaled(const ref::image8888& frame) { return ref::scale(visible(frame), lq2x::orientation::upright); }

std::vector<rgb> random_palette(std::mt19937& rng, int n)
{
    std::vector<rgb> p(static_cast<std::size_t>(n));
    for (rgb& c : p)
        c = {std::uint8_t(rng()), std::uint8_t(rng()), std::uint8_t(rng())};
    return p;
}

// Frames of every kind: each disposal in turn, transparency, own palettes,
// interlacing, smaller and offset rectangles, with and without a control
// extension; `opaque` keeps every shown frame without transparency (the
// first covers the screen, nothing is cleared or see-through).
test_gif random_gif(std::uint32_t seed, bool opaque = false)
{
    std::mt19937 rng(seed);
    const auto pick = [&](int low, int high) { return low + int(rng() % unsigned(high - low + 1)); };
    test_gif g;
    g.width = pick(3, 17);
    g.height = pick(3, 17);
    if (seed % 3 != 0)
        g.global = random_palette(rng, pick(2, 5));
    if (const int loop = pick(0, 2); loop > 0)
        g.loop = loop == 1 ? 0 : pick(1, 9);
    const int frames = pick(1, 6);
    for (int k = 0; k < frames; ++k) {
        test_frame f;
        const bool whole = k == 0 && opaque;
        f.width = whole ? g.width : pick(1, g.width);
        f.height = whole ? g.height : pick(1, g.height);
        f.left = pick(0, g.width - f.width);
        f.top = pick(0, g.height - f.height);
        if (g.global.empty() || k % 2 == 1)
            f.palette = random_palette(rng, pick(2, 5));
        const int colours = int((f.palette.empty() ? g.global : f.palette).size());
        f.interlaced = rng() % 2 == 0;
        f.control = whole || rng() % 5 != 0;
        // Opaque: the first frame stays, the others are kept or put back.
        f.disposal = opaque ? (k == 0 ? 1 : int(seed + unsigned(k)) % 2 * 3) : int(seed + unsigned(k)) % 4;
        f.transparent = rng() % 3 == 0 || whole ? -1 : pick(0, colours - 1);
        f.unflagged_index = std::uint8_t((seed + unsigned(k)) % unsigned(colours));
        f.delay = pick(0, 300);
        f.indices.resize(std::size_t(f.width) * f.height);
        for (auto& i : f.indices)
            i = std::uint8_t(pick(0, colours - 1));
        g.frames.push_back(f);
    }
    return g;
}

std::size_t lines(const std::string& s) { return std::size_t(std::count(s.begin(), s.end(), '\n')); }

std::set<std::string> listing(const fs::path& dir)
{
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.insert(e.path().filename().string());
    return names;
}

class Gif : public testing_support::tool_case {
protected:

    // Every frame of a GIF as ImageMagick composites it, on a transparent
    // screen as browsers do (by itself it starts from the background colour).
    std::vector<ref::image8888> imagemagick_frames(const std::string& name)
    {
        const fs::path frames = dir / "coalesced";
        fs::remove_all(frames);
        fs::create_directory(frames);
        const outcome o = testing_support::run_program(
            IMAGEMAGICK, {(dir / name).string(), "-alpha", "set", "-background", "none", "-coalesce",
                          (frames / "frame_%d.pam").string()});
        EXPECT_EQ(o.status, 0) << o.err;
        std::vector<ref::image8888> out;
        for (std::size_t i = 0; fs::exists(frames / ("frame_" + std::to_string(i) + ".pam")); ++i)
            out.push_back(as_ref(files::decode_pnm(read_file(frames / ("frame_" + std::to_string(i) + ".pam")), {})));
        return out;
    }

    // A refused input: one line naming it, exit 1, and no file written.
    void expect_refused(const std::vector<std::string>& args, const std::string& reason)
    {
        const std::set<std::string> before = listing(dir);
        const outcome o = lq2x(args);
        EXPECT_EQ(o.status, 1) << o.err;
        EXPECT_EQ(lines(o.err), 1u) << o.err;
        EXPECT_NE(o.err.find(reason), std::string::npos) << o.err;
        EXPECT_EQ(listing(dir), before) << o.err;
    }
};

// The model itself, on one small case worked by hand.
TEST_F(Gif, EachDisposalOnAHandWorkedCase)
{
    const rgb R{255, 0, 0}, G{0, 255, 0}, B{0, 0, 255};
    test_gif g{3, 1, {R, G, B}, std::nullopt, {}};
    g.frames.push_back({0, 0, 3, 1, {}, false, true, 1, -1, 10, {0, 0, 0}}); // R R R, kept
    g.frames.push_back({1, 0, 1, 1, {}, false, true, 3, -1, 20, {1}});       // R G R, then put back
    g.frames.push_back({2, 0, 1, 1, {}, false, true, 2, -1, 30, {2}});       // R R B, then cleared
    g.frames.push_back({0, 0, 3, 1, {}, false, true, 0, 0, 40, {0, 1, 0}});  // R G _: index 0 is transparent
    const pixel8888 r = pixel(255, 0, 0, 255), gr = pixel(0, 255, 0, 255), b = pixel(0, 0, 255, 255);
    const std::vector<std::vector<pixel8888>> want = {{r, r, r}, {r, gr, r}, {r, r, b}, {r, gr, 0}};
    const auto model = composite(g);
    const files::animation got = files::decode_gif(write_gif(g), {});
    ASSERT_EQ(got.frames.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(model[i].pixels, want[i]) << i;
        EXPECT_EQ(got.frames[i].picture.pixels, want[i]) << i;
        EXPECT_EQ(got.frames[i].picture.kind, i == 3 ? files::layout::rgba : files::layout::rgb) << i;
        EXPECT_EQ(got.frames[i].delay.numerator, 10 * (i + 1));
        EXPECT_EQ(got.frames[i].delay.denominator, 100u);
    }
    EXPECT_TRUE(got.animated);
    EXPECT_EQ(got.loops, 1u); // no loop extension: plays once
}

// The model agrees with an outside viewer on every generated case.
TEST_F(Gif, ModelAgreesWithImageMagick)
{
    for (std::uint32_t seed = 1; seed <= 12; ++seed) {
        // The format gives a control extension to the one image after it,
        // as browsers and this model read it; ImageMagick carries one over
        // to later images without their own, so here every image has one.
        test_gif g = random_gif(seed);
        for (test_frame& f : g.frames)
            f.control = true;
        write_file(dir / "in.gif", write_gif(g));
        EXPECT_EQ(imagemagick_frames("in.gif"), composite(g)) << "seed " << seed;
    }
}

// Every frame the tool writes is the model's frame, scaled.
TEST_F(Gif, EveryFrameIsTheCompositedFrameScaled)
{
    for (std::uint32_t seed = 1; seed <= 12; ++seed) {
        const test_gif g = random_gif(seed);
        const auto model = composite(g);
        write_file(dir / "in.gif", write_gif(g));
        for (std::size_t i = 0; i < model.size(); ++i) {
            const outcome o = lq2x({"--frame", std::to_string(i), "in.gif", "out.png"});
            ASSERT_EQ(o.status, 0) << o.err;
            EXPECT_EQ(as_ref(files::decode_png(read_file(dir / "out.png"), {})), scaled(model[i]))
                << "seed " << seed << " frame " << i;
        }
        const std::string count = std::to_string(model.size());
        expect_refused({"--frame", count, "in.gif", "none.png"}, "the input has " + count + " frame");
    }
}

// Delays, loop count and the still-or-animated question, as read.
TEST_F(Gif, DelaysAndLoopsAreRead)
{
    struct loop_case {
        std::optional<int> extension;
        int frames;
        std::uint32_t loops;
        bool animated;
    };
    for (const auto& c : {loop_case{std::nullopt, 1, 1, false}, loop_case{std::nullopt, 3, 1, true},
                          loop_case{0, 1, 0, true}, loop_case{0, 2, 0, true}, loop_case{4, 2, 5, true},
                          loop_case{65535, 2, 65536, true}}) {
        test_gif g{2, 2, {{1, 2, 3}, {4, 5, 6}}, c.extension, {}};
        for (int k = 0; k < c.frames; ++k)
            g.frames.push_back({0, 0, 2, 2, {}, false, true, 0, -1, 7 * k + 1, {0, 1, 1, 0}});
        const files::animation a = files::decode_gif(write_gif(g), {});
        EXPECT_EQ(a.loops, c.loops) << c.frames;
        EXPECT_EQ(a.animated, c.animated) << c.frames;
        for (int k = 0; k < c.frames; ++k)
            EXPECT_EQ(a.frames[std::size_t(k)].delay.numerator, std::uint32_t(7 * k + 1));
    }
}

// Opaque animations scale to GIFs ImageMagick reads back exactly, with the
// same delays and loop extension.
TEST_F(Gif, GifToGifIsExact)
{
    for (std::uint32_t seed = 20; seed < 30; ++seed) {
        const test_gif g = random_gif(seed, true);
        const auto model = composite(g);
        write_file(dir / "in.gif", write_gif(g));
        const outcome o = lq2x({"in.gif", "out.gif"});
        ASSERT_EQ(o.status, 0) << o.err;
        const auto frames = imagemagick_frames("out.gif");
        ASSERT_EQ(frames.size(), model.size()) << "seed " << seed;
        for (std::size_t i = 0; i < model.size(); ++i)
            EXPECT_EQ(frames[i], scaled(model[i])) << "seed " << seed << " frame " << i;
        const files::animation in = files::decode_gif(read_file(dir / "in.gif"), {});
        const files::animation out = files::decode_gif(read_file(dir / "out.gif"), {});
        EXPECT_EQ(out.loops, in.loops);
        EXPECT_EQ(out.animated, in.animated);
        // The loop extension's bytes and the delays, read by giflib's own reader.
        int error = 0;
        GifFileType* before = DGifOpenFileName((dir / "in.gif").c_str(), &error);
        GifFileType* after = DGifOpenFileName((dir / "out.gif").c_str(), &error);
        ASSERT_EQ(DGifSlurp(before), GIF_OK);
        ASSERT_EQ(DGifSlurp(after), GIF_OK);
        const auto loop_blocks = [](GifFileType* gif) {
            std::vector<bytes> blocks;
            const SavedImage& first = gif->SavedImages[0];
            for (int i = 0; i < first.ExtensionBlockCount; ++i) {
                const ExtensionBlock& e = first.ExtensionBlocks[i];
                if (e.Function == APPLICATION_EXT_FUNC_CODE || e.Function == CONTINUE_EXT_FUNC_CODE)
                    blocks.emplace_back(e.Bytes, e.Bytes + e.ByteCount);
            }
            return blocks;
        };
        EXPECT_EQ(loop_blocks(after), loop_blocks(before)) << "seed " << seed;
        ASSERT_EQ(after->ImageCount, before->ImageCount);
        for (int i = 0; i < before->ImageCount; ++i) {
            GraphicsControlBlock a{}, b{};
            DGifSavedExtensionToGCB(before, i, &b);
            DGifSavedExtensionToGCB(after, i, &a);
            EXPECT_EQ(a.DelayTime, g.frames[std::size_t(i)].control ? b.DelayTime : 0) << "seed " << seed;
        }
        DGifCloseFile(before, &error);
        DGifCloseFile(after, &error);
    }
}

// The writer alone: transparency, one shared palette or one per frame.
TEST_F(Gif, WrittenGifsReadBackExactly)
{
    std::mt19937 rng(5);
    const auto frame_of = [&](int colours, int first, bool holes) {
        files::image img{16, 16, holes ? files::layout::rgba : files::layout::rgb, std::vector<pixel8888>(256)};
        for (pixel8888& p : img.pixels) {
            const int c = first + int(rng() % unsigned(colours));
            p = holes && rng() % 4 == 0 ? 0 : pixel(std::uint8_t(c & 0xFF), std::uint8_t(c >> 8), 9, 0xFF);
        }
        return img;
    };
    struct writer_case {
        int colours, shift;
        bool holes;
        std::uint32_t loops;
        bool global; // all frames' colours fit one palette
    };
    for (const auto& c : {writer_case{5, 0, false, 1, true}, writer_case{200, 0, true, 0, true},
                          writer_case{200, 200, true, 3, false}, writer_case{255, 256, false, 2, false},
                          writer_case{255, 255, true, 9, false}}) {
        files::animation a;
        a.animated = true;
        a.loops = c.loops;
        for (int k = 0; k < 3; ++k)
            a.frames.push_back({frame_of(c.colours, k * c.shift, c.holes && k != 1), {std::uint32_t(k * 5), 100}});
        write_file(dir / "w.gif", files::encode_gif(a));
        const auto frames = imagemagick_frames("w.gif");
        const files::animation back = files::decode_gif(read_file(dir / "w.gif"), {});
        ASSERT_EQ(frames.size(), 3u);
        ASSERT_EQ(back.frames.size(), 3u);
        for (std::size_t k = 0; k < 3; ++k) {
            EXPECT_EQ(frames[k], as_ref(a.frames[k].picture)) << c.colours << " frame " << k;
            EXPECT_EQ(back.frames[k].picture.pixels, a.frames[k].picture.pixels) << c.colours << " frame " << k;
            EXPECT_EQ(back.frames[k].delay.numerator, k * 5);
        }
        EXPECT_EQ(back.loops, c.loops);
        int error = 0;
        GifFileType* gif = DGifOpenFileName((dir / "w.gif").c_str(), &error);
        ASSERT_EQ(DGifSlurp(gif), GIF_OK);
        EXPECT_EQ(gif->SColorMap != nullptr, c.global) << c.colours;
        DGifCloseFile(gif, &error);
    }
}

TEST_F(Gif, TooManyColoursOrPartialAlphaAreRefusedNotQuantised)
{
    test_gif g{32, 32, {}, std::nullopt, {}};
    std::mt19937 rng(3);
    g.global = random_palette(rng, 256);
    // Up to 256 colours, often repeated to the left or above: shapes whose edges the rule blends.
    test_frame f{0, 0, 32, 32, {}, false, false, 0, -1, 0, std::vector<std::uint8_t>(1024)};
    for (std::size_t i = 0; i < 1024; ++i) {
        const unsigned r = rng() % 10;
        f.indices[i] = r < 3 && i % 32 > 0 ? f.indices[i - 1] : r < 6 && i >= 32 ? f.indices[i - 32] : std::uint8_t(rng());
    }
    g.frames = {f, f};
    write_file(dir / "many.gif", write_gif(g));
    expect_refused({"many.gif", "out.gif"}, "frame 0 has ");
    const outcome o = lq2x({"many.gif", "out.gif"});
    EXPECT_NE(o.err.find("colours, more than a GIF holds (256): set --gif-colours to reduce them, or write PNG or WebP"),
              std::string::npos)
        << o.err;
    // The same frames to PNG are fine.
    EXPECT_EQ(lq2x({"--frame", "1", "many.gif", "out.png"}).status, 0);

    // A transparent hole: the rule blends its border into partial alpha.
    test_gif t{4, 4, {{0, 0, 0}, {200, 10, 10}}, std::nullopt, {}};
    t.frames.push_back({0, 0, 4, 4, {}, false, true, 0, 0, 0, std::vector<std::uint8_t>(16, 1)});
    t.frames[0].indices[5] = 0;
    write_file(dir / "hole.gif", write_gif(t));
    expect_refused({"hole.gif", "out.gif"}, "partly transparent pixels");
}

TEST_F(Gif, FramesAndStills)
{
    write_file(dir / "anim.gif", write_gif(random_gif(7)));
    ASSERT_GT(random_gif(7).frames.size(), 1u);
    // An animation to a format of one picture is refused unless a frame is picked.
    expect_refused({"anim.gif", "out.ppm"}, "pick one (--frame)");
    const auto model = composite(random_gif(7));
    ASSERT_EQ(lq2x({"--frame", "1", "anim.gif", "out.pam"}).status, 0);
    EXPECT_EQ(as_ref(files::decode_pnm(read_file(dir / "out.pam"), {})), scaled(model[1]));
    expect_refused({"--frame", "99", "anim.gif", "none.pam"},
                   "--frame: no frame 99, the input has " + std::to_string(model.size()) + " frames");

    // A still GIF (one frame, no loop extension) goes to any format.
    test_gif still = random_gif(20, true);
    still.frames.resize(1);
    still.loop.reset();
    write_file(dir / "still.gif", write_gif(still));
    ASSERT_EQ(lq2x({"still.gif", "still.ppm"}).status, 0);
    EXPECT_EQ(as_ref(files::decode_pnm(read_file(dir / "still.ppm"), {})), scaled(composite(still)[0]));

    // Several GIFs into a folder, each under its own name, still GIFs.
    fs::create_directory(dir / "out");
    const test_gif second = random_gif(22, true);
    write_file(dir / "second.gif", write_gif(second));
    const outcome o = lq2x({"-o", "out", "still.gif", "second.gif"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(imagemagick_frames("out/still.gif"), std::vector{scaled(composite(still)[0])});
    std::vector<ref::image8888> want;
    for (const auto& frame : composite(second))
        want.push_back(scaled(frame));
    EXPECT_EQ(imagemagick_frames("out/second.gif"), want);
}

// Files every browser shows though they break the format's rules: a frame
// reaching past the screen is cut to it, and without any palette colours
// are black. ImageMagick agrees on the first; on the second it is the model.
TEST_F(Gif, BrowsersCasesAreShownAsBrowsersShowThem)
{
    test_gif past{4, 4, {{0, 0, 0}, {9, 9, 9}, {200, 0, 0}}, std::nullopt, {}};
    past.frames.push_back({0, 0, 4, 4, {}, false, true, 1, -1, 10, std::vector<std::uint8_t>(16, 1)});
    past.frames.push_back({2, 1, 3, 5, {}, false, true, 2, -1, 10, {2, 0, 2, 0, 2, 0, 2, 0, 2, 0, 2, 0, 2, 0, 2}});
    past.frames.push_back({3, 3, 1, 1, {}, false, true, 0, -1, 10, {0}});
    write_file(dir / "past.gif", write_gif(past));
    EXPECT_EQ(imagemagick_frames("past.gif"), composite(past));
    test_gif bare_model = past;
    bare_model.global.clear();
    // giflib's encoder writes no GIF without a palette: the global one is cut out.
    bytes bare = write_gif(past);
    ASSERT_EQ(bare.at(10), 0xF1); // a global palette of 4 colours
    bare[10] = 0x71;
    bare.erase(bare.begin() + 13, bare.begin() + 25);
    write_file(dir / "bare.gif", bare);
    for (const auto& [name, model] : {std::pair{"past.gif", composite(past)}, std::pair{"bare.gif", composite(bare_model)}})
        for (std::size_t i = 0; i < model.size(); ++i) {
            SCOPED_TRACE(std::string(name) + " frame " + std::to_string(i));
            const outcome o = lq2x({"--frame", std::to_string(i), name, "out.png"});
            ASSERT_EQ(o.status, 0) << o.err;
            EXPECT_EQ(o.err, "");
            EXPECT_EQ(as_ref(files::decode_png(read_file(dir / "out.png"), {})), scaled(model[i]));
        }
}

TEST_F(Gif, BadFilesAreRefused)
{
    const bytes good = write_gif(random_gif(8));
    const auto refused = [&](const bytes& file, const std::string& reason) {
        write_file(dir / "bad.gif", file);
        expect_refused({"bad.gif", "out.png"}, reason);
        expect_refused({"--frame", "0", "bad.gif", "out.png"}, reason);
    };
    for (const std::size_t cut : {std::size_t(6), std::size_t(11), std::size_t(20), good.size() / 2, good.size() - 1})
        refused(bytes(good.begin(), good.begin() + std::ptrdiff_t(cut)), "lq2x: bad.gif: truncated GIF");

    // One frame of colour 1 at left, top, of width x height.
    const auto one = [](int left, int top, int width, int height) {
        test_gif g{4, 4, {{0, 0, 0}, {9, 9, 9}}, std::nullopt, {}};
        test_frame f;
        f.left = left;
        f.top = top;
        f.width = width;
        f.height = height;
        f.indices.assign(std::size_t(width) * height, 1);
        g.frames.push_back(f);
        return g;
    };
    refused(write_gif(test_gif{4, 4, {{0, 0, 0}, {9, 9, 9}}, 0, {}}), "GIF without frames");
    test_gif wide = one(0, 0, 1, 1);
    wide.width = wide.height = 65535;
    refused(write_gif(wide), "image too large: 65535 x 65535");
    // 4000 x 4000 pixels take 64 MB a frame: 100 of them are refused before one is made.
    test_gif many = one(0, 0, 1, 1);
    many.width = many.height = 4000;
    many.frames.resize(100, many.frames[0]);
    write_file(dir / "many.gif", write_gif(many));
    testing_support::run_options measured;
    measured.measure_memory = true;
    const outcome o = lq2x({"many.gif", "out.gif"}, measured);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "lq2x: many.gif: animation too large: 100 frames of 4000 x 4000 pixels, over the limit of "
                     "268435456 output pixels for all frames together, 64 more counted for each frame after the first "
                     "(--max-pixels raises it)\n");
    EXPECT_GT(o.max_rss_kb, 0);
    EXPECT_LT(o.max_rss_kb, SMALL_MEMORY_KB);

    // Index 3 in a palette of 2 (giflib's encoder lets it through: codes are 2 bits at least).
    test_gif beyond = one(0, 0, 2, 2);
    beyond.frames[0].indices = {1, 0, 3, 1};
    refused(write_gif(beyond), "frame 0 uses colour 3 of a palette of 2");
    // A frame over the pixel limit is refused from its descriptor, even where the screen would cut it.
    bytes huge_frame = write_gif(one(1, 1, 2, 2));
    ASSERT_EQ(huge_frame.at(27), 0x2C); // header 13, palette 6, control extension 8, then the image
    for (const std::size_t at : {32, 34}) // width and height, 60,000 each
        huge_frame[at] = 0x60, huge_frame[at + 1] = 0xEA;
    refused(huge_frame, "frame 0 (60000 x 60000 at 1,1) is over the limit");
    // An LZW code size over 8 would name colours beyond 255.
    bytes wide_codes = write_gif(one(0, 0, 4, 4));
    ASSERT_EQ(wide_codes.at(27), 0x2C); // header 13, palette 6, control extension 8, then the image
    ASSERT_EQ(wide_codes.at(37), 2);    // its 10 bytes, then the code size
    wide_codes[37] = 9;
    refused(wide_codes, "corrupt GIF: an LZW code size over 8");
}

} // namespace
