// GIF output made to fit (file_options' gif_alpha, gif_colours and
// gif_shares), through the public files interface, on real pixel art from
// Debian's crawl-tiles-data. Each sprite is scaled to PNG as well, which
// gives the library's scaled pixels; the GIF is read back by ImageMagick and
// held to them: exactly where nothing had to change, and where colours were
// reduced, within the bounds measured below.
#include <gtest/gtest.h>

#include <lq2x/files.hpp>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "support.h"

using namespace testing_support;

namespace fs = std::filesystem;

namespace {

const std::string TILES = "/usr/share/crawl/dat/tiles"; // Debian's crawl-tiles-data
const std::string IMAGEMAGICK = "/usr/bin/convert";
constexpr int TILE = 32;

using rgba = std::array<std::uint8_t, 4>;

rgba at(const std::vector<std::uint8_t>& pixels, std::size_t i)
{
    return {pixels[4 * i], pixels[4 * i + 1], pixels[4 * i + 2], pixels[4 * i + 3]};
}

// One frame as ImageMagick or the PNG route gives it: RGBA, clear pixels all zero.
using picture_t = std::vector<rgba>;

picture_t visible(const std::vector<std::uint8_t>& pixels, std::size_t from, std::size_t count)
{
    picture_t out(count);
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = at(pixels, from + i);
        if (out[i][3] == 0)
            out[i] = {0, 0, 0, 0};
    }
    return out;
}

// Tiles of a crawl sheet, numbered row by row, as frames of an animation.
lq2x::frames tiles(const std::string& sheet, const std::vector<int>& numbers, lq2x::frame_delay delay)
{
    const lq2x::frames whole = lq2x::read_file(read_file(TILES + "/" + sheet));
    lq2x::frames out;
    out.width = out.height = TILE;
    out.kind = lq2x::layout::rgba;
    out.animated = numbers.size() > 1;
    for (const int n : numbers) {
        const int across = whole.width / TILE, left = n % across * TILE, top = n / across * TILE;
        for (int y = 0; y < TILE; ++y) {
            const auto row = whole.pixels.begin() + 4 * (std::ptrdiff_t(top + y) * whole.width + left);
            out.pixels.insert(out.pixels.end(), row, row + 4 * TILE);
        }
        out.delays.push_back(delay);
    }
    return out;
}

std::uint32_t colour_key(const rgba& c) { return c[3] == 0 ? 0 : (c[0] << 16 | c[1] << 8 | c[2]) + 1; }

struct sprite {
    std::string name;
    std::vector<std::uint8_t> file;
    std::string timing = ""; // the line on delays a GIF of it warns of first
};

// The four inputs, made once: GIFs and the APNG and WebP written by the
// library's exact writers, which the test suite holds to outside decoders.
const std::vector<sprite>& sprites()
{
    static const std::vector<sprite> made = [] {
        std::vector<sprite> out;
        const auto put = [&](const std::string& name, const lq2x::frames& f, lq2x::format as,
                             const std::string& timing = "") {
            out.push_back({name, lq2x::write_file(f, {.out = as}), timing});
        };
        // A player sprite of 14 colours on transparency: 15 with it.
        put("sprite.gif", tiles("player.png", {100}, {0, 100}), lq2x::format::gif);
        // Opaque floor tiles of 151 to 281 colours once scaled: the last alone over 256.
        put("floor.gif", tiles("floor.png", {265, 266, 267, 268}, {10, 100}), lq2x::format::gif);
        // Monsters on transparency, a third of a second each (which GIF cannot hold).
        put("monsters.png", tiles("main.png", {100, 101, 102, 103}, {1, 3}), lq2x::format::png,
            "4 delays that GIF cannot hold written as the nearest it holds (1/3 s written as 0.33 s) "
            "(animated PNG holds them)");
        // The first three of those alone: a GIF exactly.
        put("floor3.gif", tiles("floor.png", {265, 266, 267}, {10, 100}), lq2x::format::gif);
        // Floor tiles of 917 to 944 colours once scaled: all over.
        put("floor.webp", tiles("floor.png", {329, 330, 331, 332}, {50, 1000}), lq2x::format::webp);
        return out;
    }();
    return made;
}

// The frames a file holds, as ImageMagick composites them on a clear screen.
std::vector<picture_t> imagemagick_frames(const fs::path& dir, const std::vector<std::uint8_t>& gif)
{
    write_file(dir / "out.gif", gif);
    fs::remove_all(dir / "frames");
    fs::create_directory(dir / "frames");
    const outcome o = run_program(IMAGEMAGICK, {(dir / "out.gif").string(), "-alpha", "set", "-background", "none",
                                                "-coalesce", (dir / "frames" / "f_%d.pam").string()});
    EXPECT_EQ(o.status, 0) << o.err;
    std::vector<picture_t> out;
    for (int i = 0; fs::exists(dir / "frames" / ("f_" + std::to_string(i) + ".pam")); ++i) {
        const lq2x::frames f = lq2x::read_file(read_file(dir / "frames" / ("f_" + std::to_string(i) + ".pam")));
        out.push_back(visible(f.pixels, 0, f.pixels.size() / 4));
    }
    return out;
}

// What a GIF made with `fit` must show where nothing had to be reduced: a
// pixel whose alpha is below the threshold clear, any other opaque as it is.
picture_t keyed(const picture_t& scaled, int alpha)
{
    picture_t out = scaled;
    for (rgba& c : out)
        c = c[3] < std::max(alpha, 1) ? rgba{0, 0, 0, 0} : rgba{c[0], c[1], c[2], 0xFF};
    return out;
}

std::set<std::uint32_t> colours(const picture_t& p)
{
    std::set<std::uint32_t> out;
    for (const rgba& c : p)
        out.insert(colour_key(c));
    return out;
}

// The largest channel difference of each reduced pixel from its true
// colour, over every case below.
struct error_counts {
    std::vector<long> of_size = std::vector<long>(256);
    long pixels = 0;
    void add(int e)
    {
        ++of_size[std::size_t(e)];
        ++pixels;
    }
    int percentile(double p) const
    {
        long seen = 0;
        for (int e = 0; e < 256; ++e)
            if ((seen += of_size[std::size_t(e)]) >= p * double(pixels))
                return e;
        return 255;
    }
    double mean() const
    {
        double sum = 0;
        for (int e = 0; e < 256; ++e)
            sum += double(e) * double(of_size[std::size_t(e)]);
        return sum / double(pixels);
    }
    int most() const
    {
        for (int e = 255; e > 0; --e)
            if (of_size[std::size_t(e)] > 0)
                return e;
        return 0;
    }
};

struct fit_case {
    const char* input;
    int alpha, colours;
    lq2x::gif_palette shares;
};

class GifFit : public ::testing::Test {
protected:
    scratch_dir scratch;
    const fs::path& dir = scratch.path();

    static void SetUpTestSuite()
    {
        if (!fs::exists(TILES + "/player.png"))
            GTEST_FAIL() << TILES << " is missing: install Debian's crawl-tiles-data";
    }

    static const sprite& input(const std::string& name)
    {
        for (const sprite& s : sprites())
            if (s.name == name)
                return s;
        throw std::runtime_error("no test input " + name);
    }

    // The library's scaled frames, through PNG.
    static std::vector<picture_t> scaled(const sprite& s)
    {
        const lq2x::frames f = lq2x::read_file(lq2x::scale_file(s.file, {}, {.out = lq2x::format::png}));
        const std::size_t each = std::size_t(f.width) * std::size_t(f.height);
        std::vector<picture_t> out;
        for (std::size_t i = 0; i < f.delays.size(); ++i)
            out.push_back(visible(f.pixels, i * each, each));
        return out;
    }

    // Writes `c` and holds the result to the model; reduced pixels' errors go to `errors`.
    void check(const fit_case& c, std::map<int, error_counts>& errors_by_colours)
    {
        error_counts& errors = errors_by_colours[c.colours];
        SCOPED_TRACE(std::string(c.input) + " gif_alpha " + std::to_string(c.alpha) + " gif_colours " +
                     std::to_string(c.colours) + (c.shares == lq2x::gif_palette::per_frame ? " per frame" : ""));
        const sprite& s = input(c.input);
        const std::vector<picture_t> truth = scaled(s);
        const lq2x::file_options options{.out = lq2x::format::gif, .gif_alpha = c.alpha, .gif_colours = c.colours,
                                         .gif_shares = c.shares};

        // What the model says must happen: the first frame a GIF cannot hold
        // as asked is refused; otherwise each frame over the colours is reduced.
        const std::size_t most = std::size_t(c.colours > 0 ? c.colours : 256);
        std::optional<std::size_t> refused;
        std::vector<std::string> refused_for;
        std::vector<bool> over;
        long cleared = 0, opaqued = 0;
        std::set<std::uint32_t> over_colours; // of the frames over, together
        std::size_t most_over = 0;            // of one frame over
        for (std::size_t i = 0; i < truth.size(); ++i) {
            long partial = 0;
            for (const rgba& p : truth[i])
                if (p[3] != 0 && p[3] != 255) {
                    ++partial;
                    ++(p[3] < c.alpha ? cleared : opaqued);
                }
            const std::set<std::uint32_t> own = colours(keyed(truth[i], c.alpha));
            over.push_back(own.size() > most);
            if (over.back()) {
                over_colours.insert(own.begin(), own.end());
                most_over = std::max(most_over, own.size());
            }
            if (!refused && ((partial > 0 && c.alpha == 0) || (over.back() && c.colours == 0))) {
                refused = i;
                if (partial > 0 && c.alpha == 0)
                    refused_for.push_back("has partly transparent pixels");
                if (over.back() && c.colours == 0)
                    refused_for.push_back(std::to_string(own.size()) + " colours");
            }
        }

        std::string warning;
        std::vector<std::uint8_t> gif;
        try {
            gif = lq2x::scale_file(s.file, {}, options, &warning);
        } catch (const lq2x::file_error& e) {
            ASSERT_TRUE(refused) << e.what();
            EXPECT_EQ(e.status(), lq2x::error::cannot_write);
            const std::string what = e.what();
            const std::string frame = truth.size() == 1 ? "the image" : "frame " + std::to_string(*refused);
            EXPECT_EQ(what.rfind(frame + " ", 0), 0u) << what;
            EXPECT_TRUE(std::any_of(refused_for.begin(), refused_for.end(),
                                    [&](const std::string& r) { return what.find(r) != std::string::npos; }))
                << what;
            EXPECT_NE(what.find(what.find("transparent") != std::string::npos
                                    ? "set gif_alpha to make them clear or opaque, or write PNG or WebP"
                                    : "set gif_colours to reduce them, or write PNG or WebP"),
                      std::string::npos)
                << what;
            return;
        }
        ASSERT_FALSE(refused) << "written where frame " << *refused << " cannot be held as asked";

        // The warning: the delays' line, then one line a change.
        std::vector<std::string> lines;
        if (!s.timing.empty())
            lines.push_back(s.timing);
        if (cleared + opaqued > 0)
            lines.push_back("not exact: gif_alpha " + std::to_string(c.alpha) + " made " + std::to_string(cleared) +
                            " partly transparent pixels clear and " + std::to_string(opaqued) + " opaque");
        const std::vector<picture_t> shown = imagemagick_frames(dir, gif);
        ASSERT_EQ(shown.size(), truth.size());
        const std::size_t reduced = std::size_t(std::count(over.begin(), over.end(), true));
        std::set<std::uint32_t> reduced_together;
        std::size_t reduced_most = 0;
        for (std::size_t i = 0; i < truth.size(); ++i) {
            const picture_t model = keyed(truth[i], c.alpha);
            if (!over[i]) {
                EXPECT_EQ(shown[i], model) << "frame " << i << " fits, and must be exact";
                continue;
            }
            const std::set<std::uint32_t> got = colours(shown[i]);
            EXPECT_LE(got.size(), most) << "frame " << i;
            reduced_together.insert(got.begin(), got.end());
            reduced_most = std::max(reduced_most, got.size());
            for (std::size_t p = 0; p < model.size(); ++p) {
                ASSERT_EQ(shown[i][p][3], model[p][3]) << "frame " << i << " pixel " << p << ": clear stays clear";
                int e = 0;
                for (int k = 0; k < 3; ++k)
                    e = std::max(e, std::abs(int(shown[i][p][std::size_t(k)]) - int(model[p][std::size_t(k)])));
                if (model[p][3] != 0)
                    errors.add(e);
            }
        }
        const bool shared = c.shares == lq2x::gif_palette::shared;
        if (shared) {
            EXPECT_LE(reduced_together.size(), most) << "the shared palette";
        }
        if (reduced > 0) {
            const bool each = !shared && reduced > 1, one = shared && reduced > 1;
            const std::string which = truth.size() == 1 ? "the image"
                                                        : std::to_string(reduced) + " of " +
                                                              std::to_string(truth.size()) + " frames";
            const std::size_t before = shared ? over_colours.size() : most_over;
            const std::size_t after = shared ? reduced_together.size() : reduced_most;
            lines.push_back("not exact: gif_colours " + std::to_string(c.colours) + " reduced " + which + " from " +
                            (each ? "up to " : "") + std::to_string(before) + " colours to " +
                            (each ? "at most " : "") + std::to_string(after) +
                            (each ? " each" : one ? ", in one palette" : ""));
        }
        std::string want;
        for (const std::string& line : lines)
            want += (want.empty() ? "" : "; ") + line;
        EXPECT_EQ(warning, want);
    }
};

using shares = lq2x::gif_palette;

// Every sprite without and with the options, alone and together. The
// statuses and warnings are the model's (check), not listed here.
TEST_F(GifFit, SpritesWithAndWithoutTheOptions)
{
    const std::vector<fit_case> cases = {
        {"sprite.gif", 0, 0, shares::shared},      {"sprite.gif", 128, 0, shares::shared},
        {"sprite.gif", 1, 0, shares::shared},      {"sprite.gif", 255, 0, shares::shared},
        {"sprite.gif", 128, 8, shares::shared},    {"sprite.gif", 0, 256, shares::shared},
        {"floor3.gif", 0, 0, shares::shared},      {"floor3.gif", 128, 256, shares::shared},
        {"floor.gif", 0, 0, shares::shared},       {"floor.gif", 0, 256, shares::shared},
        {"floor.gif", 0, 256, shares::per_frame},  {"floor.gif", 0, 64, shares::shared},
        {"floor.gif", 0, 64, shares::per_frame},   {"floor.gif", 128, 0, shares::shared},
        {"monsters.png", 0, 0, shares::shared},    {"monsters.png", 128, 0, shares::shared},
        {"monsters.png", 0, 256, shares::shared},  {"monsters.png", 128, 256, shares::shared},
        {"monsters.png", 64, 32, shares::per_frame},
        {"floor.webp", 0, 0, shares::shared},      {"floor.webp", 0, 256, shares::shared},
        {"floor.webp", 0, 256, shares::per_frame}, {"floor.webp", 0, 16, shares::shared},
        {"floor.webp", 0, 2, shares::per_frame},
    };
    std::map<int, error_counts> errors;
    for (const fit_case& c : cases)
        check(c, errors);
    for (const auto& [most, e] : errors)
        if (e.pixels > 0)
            std::printf("gif_colours %d: %ld reduced pixels, largest channel error mean %.2f, 99th percentile %d, "
                        "at most %d\n", most, e.pixels, e.mean(), e.percentile(0.99), e.most());
    // Measured on these cases, largest channel error of each reduced pixel:
    // to 256, mean 1.50, 99th percentile 4, at most 6; to 64, mean 0.54, 99th
    // percentile 4, at most 9. Bounded at about twice that: every reduced
    // pixel within 16 levels of its colour in each channel, 99 % within 8.
    // (On all of crawl's 64 x 64 tiles over 256 colours, gif_reduce.cpp
    // measured a 99th percentile of 4 and at most 20.) Fewer colours have
    // no bound but their count.
    for (const int most : {256, 64}) {
        SCOPED_TRACE("gif_colours " + std::to_string(most));
        ASSERT_GT(errors[most].pixels, 0);
        EXPECT_LE(errors[most].mean(), most == 256 ? 3.0 : 1.5);
        EXPECT_LE(errors[most].percentile(0.99), 8);
        EXPECT_LE(errors[most].most(), 16);
    }
}

// Options that find nothing to change change nothing: the same bytes as the
// exact default, and no warning.
TEST_F(GifFit, OptionsWithNothingToChangeWriteTheSameBytes)
{
    const sprite& s = input("floor3.gif");
    std::string warning = "unset";
    const std::vector<std::uint8_t> exact = lq2x::scale_file(s.file, {}, {.out = lq2x::format::gif}, &warning);
    EXPECT_EQ(warning, "");
    for (const auto& [alpha, most, how] : {std::tuple{128, 0, shares::shared}, std::tuple{0, 256, shares::shared},
                                           std::tuple{255, 256, shares::per_frame}, std::tuple{1, 208, shares::shared}}) {
        warning = "unset";
        EXPECT_EQ(lq2x::scale_file(s.file, {},
                                   {.out = lq2x::format::gif, .gif_alpha = alpha, .gif_colours = most, .gif_shares = how},
                                   &warning),
                  exact)
            << alpha << " " << most;
        EXPECT_EQ(warning, "");
    }
}

// Values outside the options' ranges are refused, naming the option; the
// ends of the ranges are taken.
TEST_F(GifFit, OptionsOutOfRangeAreRefused)
{
    const sprite& s = input("floor3.gif");
    struct range_case {
        int alpha, colours, shares;
        const char* named; // nullptr: taken
    };
    const char* ALPHA = "gif_alpha: wants a whole number from 1 to 255 (0: none), not ";
    const char* COLOURS = "gif_colours: wants a whole number from 2 to 256 (0: none), not ";
    const char* PALETTE = "gif_palette: wants shared or per-frame, not ";
    for (const range_case& c : {range_case{-1, 0, 0, ALPHA}, range_case{256, 0, 0, ALPHA}, range_case{0, 1, 0, COLOURS},
                                range_case{0, -2, 0, COLOURS}, range_case{0, 257, 0, COLOURS},
                                range_case{0, 0, 2, PALETTE}, range_case{0, 0, -1, PALETTE},
                                range_case{1, 2, 1, nullptr}, range_case{255, 256, 0, nullptr}}) {
        const lq2x::file_options o{.out = lq2x::format::gif, .gif_alpha = c.alpha, .gif_colours = c.colours,
                                   .gif_shares = shares(c.shares)};
        try {
            lq2x::scale_file(s.file, {}, o);
            EXPECT_EQ(c.named, nullptr) << "taken";
        } catch (const lq2x::file_error& e) {
            ASSERT_NE(c.named, nullptr) << e.what();
            EXPECT_EQ(e.status(), lq2x::error::bad_options);
            EXPECT_EQ(std::string(e.what()).rfind(c.named, 0), 0u) << e.what();
        }
    }
}

} // namespace

namespace {

// The same sprites through the tool, as a user writes them to GIF: the
// exit status and the one line it says, in the tool's words; the exact
// default writes the library's bytes.
TEST_F(GifFit, TheToolSaysWhatToDoAndWhatItChanged)
{
    for (const sprite& s : sprites())
        write_file(dir / s.name, s.file);
    struct tool_case {
        std::string input;
        std::vector<std::string> options;
        int status;
        std::string said; // what standard error holds, after "lq2x: INPUT: "; "" for nothing
    };
    const tool_case cases[] = {
        {"sprite.gif", {}, 1, "set --gif-alpha to make them clear or opaque, or write PNG or WebP"},
        {"sprite.gif", {"--gif-alpha", "128"}, 0, "warning: not exact: --gif-alpha 128 made "},
        {"floor.gif", {}, 1, "set --gif-colours to reduce them, or write PNG or WebP"},
        {"floor.gif", {"--gif-colours", "256", "--gif-palette", "per-frame"}, 0, "warning: not exact: --gif-colours 256 "},
        {"floor3.gif", {}, 0, ""},
        {"floor3.gif", {"--gif-alpha", "128", "--gif-colours", "256"}, 0, ""},
        {"monsters.png", {"--gif-alpha", "128", "--gif-colours", "256"}, 0, "warning: "},
        {"floor.webp", {"--gif-colours", "16"}, 0, "warning: not exact: --gif-colours 16 "},
        {"floor.webp", {"--gif-colours", "1"}, 2, "--gif-colours: wants a whole number from 2 to 256 (0: none), not 1"},
    };
    for (const tool_case& c : cases) {
        SCOPED_TRACE(c.input + " " + testing::PrintToString(c.options));
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {c.input, "out.gif"});
        run_options opt;
        opt.dir = dir;
        fs::remove(dir / "out.gif");
        const outcome o = run_program(TOOL_PATH, args, opt);
        EXPECT_EQ(o.status, c.status) << o.err;
        if (c.said.empty())
            EXPECT_EQ(o.err, "");
        else
            EXPECT_NE(o.err.find(c.said), std::string::npos) << o.err;
        EXPECT_LE(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
        EXPECT_EQ(fs::exists(dir / "out.gif"), c.status == 0);
    }
    // The exact default: the library's bytes, which options that change
    // nothing leave as they are.
    run_options opt;
    opt.dir = dir;
    ASSERT_EQ(run_program(TOOL_PATH, {"floor3.gif", "exact.gif"}, opt).status, 0);
    EXPECT_EQ(read_file(dir / "exact.gif"), lq2x::scale_file(input("floor3.gif").file, {}, {.out = lq2x::format::gif}));
}

} // namespace
