// Files at the formats' edges, end to end through the tool: image data that
// runs on past its picture; delays and play counts an output format cannot
// hold, read back by ImageMagick and webpmux; animated PNGs that viewers
// play with their chunks in another order or show as a still when broken;
// PNM samples of any maximum value against a PNG of the same picture that
// libpng writes; and the bounds on animations of very many frames.
#include <gtest/gtest.h>

#include <png.h>
#include <webp/encode.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "support.h"

using namespace testing_support;

namespace {

using Values = tool_case;

bytes join(std::initializer_list<bytes> parts)
{
    bytes out;
    for (const bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

bytes be16(std::uint32_t v) { return {std::uint8_t(v >> 8), std::uint8_t(v)}; }
bytes be32(std::uint32_t v)
{
    bytes b;
    put32(b, v);
    return b;
}

bytes actl(std::uint32_t frames, std::uint32_t plays) { return join({be32(frames), be32(plays)}); }
bytes fctl(std::uint32_t sequence, std::uint32_t width, std::uint32_t height, std::uint32_t num, std::uint32_t den)
{
    return join({be32(sequence), be32(width), be32(height), be32(0), be32(0), be16(num), be16(den), {0, 0}});
}
bytes fdat(std::uint32_t sequence, const bytes& data) { return join({be32(sequence), data}); }

// Frame i of the 3 x 2 grey animations below: its own samples.
bytes frame_rows(std::uint8_t i) { return unfiltered_rows(3, {i, 10, 20, 30, 40, std::uint8_t(50 + i)}); }

// Two frames of 3 x 2 grey with these delays (numerator, denominator) and plays.
bytes two_frames(std::array<std::uint32_t, 4> delays, std::uint32_t plays)
{
    return png_file({{"IHDR", png_header(3, 2)},
                     {"acTL", actl(2, plays)},
                     {"fcTL", fctl(0, 3, 2, delays[0], delays[1])},
                     {"IDAT", deflated(frame_rows(0))},
                     {"fcTL", fctl(1, 3, 2, delays[2], delays[3])},
                     {"fdAT", fdat(2, deflated(frame_rows(1)))},
                     {"IEND", {}}});
}

// What an outside program prints, or the test fails.
std::string printed(const std::string& program, const std::vector<std::string>& args)
{
    const outcome o = run_program(program, args);
    EXPECT_EQ(o.status, 0) << program << ": " << o.err;
    return o.out;
}

// Every number after `label` (and a colon) in `text`.
std::vector<std::uint64_t> numbers_after(const std::string& text, const std::string& label)
{
    std::vector<std::uint64_t> out;
    for (std::size_t at = text.find(label); at != std::string::npos; at = text.find(label, at + 1)) {
        std::size_t i = at + label.size();
        while (i < text.size() && (text[i] == ' ' || text[i] == ':'))
            ++i;
        if (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])))
            out.push_back(std::stoull(text.substr(i)));
    }
    return out;
}

// The delays (in the format's units) and the plays that outside readers see
// in a written animation: ImageMagick for GIF (hundredths; Iterations
// counts plays), webpmux for WebP (milliseconds), and for animated PNG its
// fcTL and acTL chunks read here.
struct timing {
    std::vector<std::uint64_t> delays;
    std::uint64_t plays = 0;
    bool operator==(const timing&) const = default;
};

timing read_timing(const std::filesystem::path& file)
{
    const std::string ext = file.extension().string();
    timing t;
    if (ext == ".gif") {
        const std::string info = printed("/usr/bin/convert", {file.string(), "-verbose", "info:"});
        for (const std::uint64_t d : numbers_after(info, "Delay"))
            t.delays.push_back(d);
        // ImageMagick names no Iterations for a GIF without the loop extension, which plays once.
        const std::vector<std::uint64_t> plays = numbers_after(info, "Iterations");
        t.plays = plays.empty() ? 1 : plays[0];
    } else if (ext == ".webp") {
        const std::string info = printed("/usr/bin/webpmux", {"-info", file.string()});
        t.plays = numbers_after(info, "Loop Count").at(0);
        // Frame rows: "N: width height alpha x_offset y_offset duration ...".
        std::istringstream lines(info);
        for (std::string line; std::getline(lines, line);) {
            std::istringstream words(line);
            std::vector<std::string> w{std::istream_iterator<std::string>(words), {}};
            if (w.size() > 6 && w[0].size() > 1 && w[0].back() == ':' && std::isdigit(static_cast<unsigned char>(w[0][0])))
                t.delays.push_back(std::stoull(w[6]));
        }
    } else {
        const bytes png = read_file(file);
        for (std::size_t at = 8; at + 12 <= png.size();) {
            const std::uint32_t length = get32(&png[at]);
            const std::string type(png.begin() + std::ptrdiff_t(at + 4), png.begin() + std::ptrdiff_t(at + 8));
            const std::uint8_t* d = &png[at + 8];
            if (type == "acTL")
                t.plays = get32(d + 4);
            if (type == "fcTL") // numerator and denominator as one number, for the comparison
                t.delays.push_back(std::uint64_t(d[20] << 8 | d[21]) << 16 | std::uint64_t(d[22] << 8 | d[23]));
            at += length + 12;
        }
    }
    return t;
}

std::uint64_t fraction(std::uint32_t num, std::uint32_t den) { return std::uint64_t(num) << 16 | den; }

// Delays and plays that each output format keeps, or writes as the nearest
// it holds with one warning naming a format that holds them.
TEST_F(Values, TimingAFormatCannotHoldIsSaidInOneLine)
{
    struct timing_case {
        std::array<std::uint32_t, 4> delays; // two frames: numerator, denominator
        std::uint32_t plays;
        const char* out;
        timing seen;            // as the outside reader reports it
        const char* warning;    // nullptr: no warning
    };
    const timing_case cases[] = {
        // 65535 s: animated PNG keeps it; GIF stops at 655.35 s, WebP at 16777.215 s.
        {{65535, 1, 1, 10}, 0, "out.png", {{fraction(65535, 1), fraction(1, 10)}, 0}, nullptr},
        {{65535, 1, 1, 10}, 0, "out.gif", {{65535, 10}, 0},
         "1 delay that GIF cannot hold written as the nearest it holds (65535 s written as 655.35 s) (animated PNG holds them)"},
        {{65535, 1, 1, 10}, 0, "out.webp", {{16777215, 100}, 0},
         "1 delay that WebP cannot hold written as the nearest it holds (65535 s written as 16777.215 s) (animated PNG holds them)"},
        // A zero denominator means hundredths.
        {{7, 0, 250, 0}, 3, "out.gif", {{7, 250}, 3}, nullptr},
        {{7, 0, 250, 0}, 3, "out.webp", {{70, 2500}, 3}, nullptr},
        {{7, 0, 250, 0}, 3, "out.png", {{fraction(7, 0), fraction(250, 0)}, 3}, nullptr},
        // A third of a second is rounded in both.
        {{1, 3, 1, 2}, 1, "out.gif", {{33, 50}, 1},
         "1 delay that GIF cannot hold written as the nearest it holds (1/3 s written as 0.33 s) (animated PNG holds them)"},
        // Plays: GIF holds 65536, WebP 65535, animated PNG 2^31 - 1.
        {{1, 10, 1, 10}, 100000, "out.png", {{fraction(1, 10), fraction(1, 10)}, 100000}, nullptr},
        {{1, 10, 1, 10}, 100000, "out.gif", {{10, 10}, 65536},
         "100000 plays written as 65536, the most GIF holds (animated PNG holds it)"},
        {{1, 10, 1, 10}, 100000, "out.webp", {{100, 100}, 65535},
         "100000 plays written as 65535, the most WebP holds (animated PNG holds it)"},
        {{1, 10, 1, 10}, 65536, "out.gif", {{10, 10}, 65536}, nullptr},
        {{1, 10, 1, 10}, 65536, "out.webp", {{100, 100}, 65535},
         "65536 plays written as 65535, the most WebP holds (animated PNG and GIF hold it)"},
        // Both at once: still one line.
        {{65535, 1, 1, 10}, 100000, "out.gif", {{65535, 10}, 65536},
         "1 delay that GIF cannot hold written as the nearest it holds (65535 s written as 655.35 s) (animated PNG "
         "holds them); 100000 plays written as 65536, the most GIF holds (animated PNG holds it)"},
    };
    for (const timing_case& c : cases) {
        SCOPED_TRACE(std::string(c.out) + " plays " + std::to_string(c.plays) + " delay " + std::to_string(c.delays[0]) +
                     "/" + std::to_string(c.delays[1]));
        write_file(dir / "in.png", two_frames(c.delays, c.plays));
        const outcome o = lq2x({"in.png", c.out});
        ASSERT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(o.err, c.warning ? std::string("lq2x: in.png: warning: ") + c.warning + "\n" : "");
        EXPECT_EQ(read_timing(dir / c.out), c.seen);
    }
}

// Adam7's seven passes of 8-bit grey samples, rows unfiltered.
bytes adam7_rows(std::uint32_t width, std::uint32_t height, const bytes& samples)
{
    constexpr int PASSES[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                  {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    bytes out;
    for (const auto& [x0, y0, dx, dy] : PASSES)
        for (std::uint32_t y = std::uint32_t(y0); y < height && std::uint32_t(x0) < width; y += std::uint32_t(dy)) {
            out.push_back(0);
            for (std::uint32_t x = std::uint32_t(x0); x < width; x += std::uint32_t(dx))
                out.push_back(samples[y * width + x]);
        }
    return out;
}

// Image data that inflates on past the picture is refused, in a still PNG,
// an interlaced one and an animation's frame, before it is inflated; a
// stream's few closing bytes after the last row are not, nor is a picture
// whose own data is large.
TEST_F(Values, ImageDataRunningOnPastThePictureIsRefused)
{
    const bytes rows = unfiltered_rows(3, {1, 2, 3, 4, 5, 6});
    const bytes run_on = deflated(join({rows, bytes(64 << 20, 0)})), closing = deflated(join({rows, bytes(40, 0)}));
    const auto still = [](const bytes& data) {
        return png_file({{"IHDR", png_header(3, 2)}, {"IDAT", data}, {"IEND", {}}});
    };
    // 161 x 97 samples of noise, which deflate cannot shrink: far more data than the closing bytes.
    bytes noise(161 * 97);
    std::uint32_t state = 12345;
    for (std::uint8_t& v : noise)
        v = std::uint8_t((state = state * 1103515245 + 12345) >> 23);
    const auto interlaced = [&](const bytes& after, std::uint32_t w = 161, std::uint32_t h = 97) {
        return png_file({{"IHDR", png_header(w, h, 8, 0, true)},
                         {"IDAT", deflated(join({adam7_rows(w, h, bytes(noise.begin(), noise.begin() + w * h)), after}))},
                         {"IEND", {}}});
    };
    const auto animated = [](const bytes& data) {
        return png_file({{"IHDR", png_header(3, 2)}, {"acTL", actl(2, 0)}, {"fcTL", fctl(0, 3, 2, 1, 10)},
                         {"IDAT", deflated(frame_rows(0))}, {"fcTL", fctl(1, 3, 2, 1, 10)},
                         {"fdAT", fdat(2, data)}, {"IEND", {}}});
    };
    struct run_on_case {
        const char* name;
        bytes file;
        const char* refused; // nullptr: read
    };
    const run_on_case cases[] = {
        {"still.png", still(run_on), "lq2x: still.png: the image data runs on past the picture ("},
        {"frame.png", animated(run_on), "lq2x: frame.png: frame 1: the image data runs on past the picture ("},
        {"closing.png", still(closing), nullptr},
        {"closing_frame.png", animated(closing), nullptr},
        {"interlaced.png", interlaced(bytes(64 << 20, 0)), "lq2x: interlaced.png: the image data runs on past the picture ("},
        {"noise.png", interlaced({}), nullptr},
        // 3 x 2: Adam7 passes 2, 3 and 5 have no pixels, and no rows of data.
        {"small_interlaced.png", interlaced(bytes(64 << 20, 0), 3, 2),
         "lq2x: small_interlaced.png: the image data runs on past the picture ("},
        {"small_noise.png", interlaced(bytes(40, 0), 3, 2), nullptr},
    };
    for (const run_on_case& c : cases) {
        SCOPED_TRACE(c.name);
        write_file(dir / c.name, c.file);
        const outcome o = lq2x({c.name, "out.png"});
        if (c.refused) {
            EXPECT_EQ(o.status, 1);
            EXPECT_EQ(o.err.rfind(c.refused, 0), 0u) << o.err;
            EXPECT_FALSE(std::filesystem::exists(dir / "out.png"));
        } else {
            EXPECT_EQ(o.status, 0) << o.err;
            EXPECT_EQ(o.err, "");
        }
        std::filesystem::remove(dir / "out.png");
    }
}

// An fcTL before the acTL (both before the image data) is an animation;
// an animation whose chunks are broken is read as its default image, a
// still, with one warning naming the fault, and it has no frame 1.
TEST_F(Values, AnimatedPngChunkOrderAndBrokenAnimations)
{
    const std::vector<chunk> head = {{"IHDR", png_header(3, 2)}};
    const chunk ac = {"acTL", actl(2, 0)}, fc0 = {"fcTL", fctl(0, 3, 2, 1, 10)}, idat = {"IDAT", deflated(frame_rows(0))},
                fc1 = {"fcTL", fctl(1, 3, 2, 1, 10)}, fd = {"fdAT", fdat(2, deflated(frame_rows(1)))},
                end = {"IEND", {}};
    struct order_case {
        const char* name;
        std::vector<chunk> chunks;
        const char* fault; // nullptr: a whole animation
    };
    const auto with = [&](std::vector<chunk> middle) {
        std::vector<chunk> all = head;
        all.insert(all.end(), middle.begin(), middle.end());
        all.push_back(end);
        return all;
    };
    const order_case cases[] = {
        {"usual.png", with({ac, fc0, idat, fc1, fd}), nullptr},
        {"fctl_first.png", with({fc0, ac, idat, fc1, fd}), nullptr},
        {"two_actl.png", with({ac, ac, fc0, idat, fc1, fd}), "a second acTL chunk"},
        {"sequence.png", with({ac, fc0, idat, {"fcTL", fctl(2, 3, 2, 1, 10)}, fd}),
         "animation chunks out of sequence: fcTL numbered 2 where 1 was due"},
        {"count.png", with({{"acTL", actl(3, 0)}, fc0, idat, fc1, fd}), "acTL announces 3 frames, the file has 2"},
        {"no_data.png", with({ac, fc0, idat, fc1}), "frame 1 has no image data"},
    };
    const files::image first = files::decode_png(grey_png(3, {0, 10, 20, 30, 40, 50}), {}),
                       second = files::decode_png(grey_png(3, {1, 10, 20, 30, 40, 51}), {});
    for (const order_case& c : cases) {
        SCOPED_TRACE(c.name);
        write_file(dir / c.name, png_file(c.chunks));
        const outcome o = lq2x({c.name, "out.png"});
        ASSERT_EQ(o.status, 0) << o.err;
        const files::animation out = files::decode_png_animation(read_file(dir / "out.png"), {});
        if (!c.fault) {
            EXPECT_EQ(o.err, "");
            ASSERT_EQ(out.frames.size(), 2u);
            EXPECT_TRUE(out.animated);
            EXPECT_EQ(as_ref(out.frames[0].picture), scaled(first));
            EXPECT_EQ(as_ref(out.frames[1].picture), scaled(second));
            continue;
        }
        EXPECT_EQ(o.err, std::string("lq2x: ") + c.name + ": warning: broken animation (" + c.fault +
                             "): only its default image was read, as a still\n");
        ASSERT_EQ(out.frames.size(), 1u);
        EXPECT_FALSE(out.animated);
        EXPECT_EQ(as_ref(out.frames[0].picture), scaled(first));
        const outcome past = lq2x({"--frame", "1", c.name, "past.png"});
        EXPECT_EQ(past.status, 1) << past.err;
        EXPECT_NE(past.err.find("--frame: no frame 1, the input has 1 frame (0)"), std::string::npos) << past.err;
    }
}

void append(png_structp png, png_bytep data, std::size_t n)
{
    auto* out = static_cast<bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + n);
}

// An 8-bit grey PNG that libpng writes.
bytes libpng_grey(int width, const bytes& samples)
{
    bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    const int height = int(samples.size()) / width;
    if (setjmp(png_jmpbuf(png)) == 0) {
        png_set_write_fn(png, &out, append, nullptr);
        png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (int y = 0; y < height; ++y)
            png_write_row(png, samples.data() + std::size_t(y) * std::size_t(width));
        png_write_end(png, info);
    }
    png_destroy_write_struct(&png, &info);
    return out;
}

// A PGM of every sample value up to its maximum is scaled exactly as a PNG
// of the same picture at 8 bits, each sample rounded to nearest (halves up).
TEST_F(Values, PnmSamplesOfAnyMaximumRoundToNearest)
{
    constexpr int WIDTH = 256;
    for (const unsigned maxval : {1u, 2u, 3u, 6u, 100u, 254u, 256u, 1000u, 1022u, 4095u, 65534u, 65535u}) {
        SCOPED_TRACE(maxval);
        const unsigned count = (maxval + WIDTH) / WIDTH * WIDTH;
        bytes pgm;
        const std::string header = "P5 " + std::to_string(WIDTH) + " " + std::to_string(count / WIDTH) + " " +
                                   std::to_string(maxval) + "\n";
        pgm.assign(header.begin(), header.end());
        bytes rounded;
        for (unsigned i = 0; i < count; ++i) {
            const unsigned v = i % (maxval + 1);
            if (maxval > 255)
                pgm.push_back(std::uint8_t(v >> 8));
            pgm.push_back(std::uint8_t(v));
            rounded.push_back(std::uint8_t((2 * v * 255 + maxval) / (2 * maxval)));
        }
        write_file(dir / "in.pgm", pgm);
        write_file(dir / "in.png", libpng_grey(WIDTH, rounded));
        ASSERT_EQ(lq2x({"in.pgm", "from_pgm.png"}).status, 0);
        ASSERT_EQ(lq2x({"in.png", "from_png.png"}).status, 0);
        EXPECT_EQ(read_file(dir / "from_pgm.png"), read_file(dir / "from_png.png"));
    }
}

// A GIF of `count` one-pixel frames, each an image record and nothing more.
bytes one_pixel_gif(std::size_t count)
{
    const bytes head = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF};
    // At 0,0, 1 x 1, no palette of its own; LZW codes clear, 0, end at 3 bits.
    const bytes frame = {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44, 0x01, 0};
    bytes out = head;
    for (std::size_t i = 0; i < count; ++i)
        out.insert(out.end(), frame.begin(), frame.end());
    out.push_back(0x3B);
    return out;
}

// Each frame counts 64 pixels beyond its own against the limit, so that an
// animation of the most one-pixel frames the limit allows stays within
// twice the limit's pixels in memory (about 180 bytes a frame were spent
// beyond the pixels: 7.7 million such frames took 1.45 GB).
TEST_F(Values, FramesCountAgainstTheLimitBeyondTheirPixels)
{
    // One pixel scaled 2x, and each frame's cost after the first.
    constexpr std::uint64_t MAX_PIXELS = 4'000'000, PER_FRAME = 4 + 64;
    constexpr std::size_t MOST = (MAX_PIXELS + 64) / PER_FRAME;
    constexpr long CONSTANT_KB = 48 << 10; // the tool's own, under the sanitizers too (16 MB at most without them)
    write_file(dir / "most.gif", one_pixel_gif(MOST));
    write_file(dir / "over.gif", one_pixel_gif(MOST + 1));
    run_options measured;
    measured.measure_memory = true;
    const std::string limit = std::to_string(MAX_PIXELS);
    const outcome most = lq2x({"--max-pixels", limit, "most.gif", "most_out.gif"}, measured);
    EXPECT_EQ(most.status, 0) << most.err;
    EXPECT_GT(most.max_rss_kb, 0);
    EXPECT_LT(most.max_rss_kb, long(2 * MAX_PIXELS * 4 / 1024) + CONSTANT_KB);
    const outcome over = lq2x({"--max-pixels", limit, "over.gif", "over_out.gif"});
    EXPECT_EQ(over.status, 1);
    EXPECT_EQ(over.err, "lq2x: over.gif: animation too large: " + std::to_string(MOST + 1) +
                            " frames of 1 x 1 pixels, over the limit of " + limit +
                            " output pixels for all frames together, 64 more counted for each frame after the first "
                            "(--max-pixels raises it)\n");
}

// A WebP of `count` one-pixel frames, put together here around one
// lossless picture that libwebp encodes.
bytes one_pixel_webp(std::size_t count)
{
    const std::uint8_t pixel[4] = {10, 20, 30, 255};
    std::uint8_t* encoded = nullptr;
    const std::size_t size = WebPEncodeLosslessRGBA(pixel, 1, 1, 4, &encoded);
    const bytes still(encoded, encoded + size);
    WebPFree(encoded);
    const auto le = [](std::uint32_t v, int n) {
        bytes b;
        for (int i = 0; i < n; ++i)
            b.push_back(i < 4 ? std::uint8_t(v >> (8 * i)) : 0);
        return b;
    };
    const auto riff_chunk = [&](const char* type, const bytes& payload) {
        bytes c(type, type + 4);
        c = join({c, le(std::uint32_t(payload.size()), 4), payload});
        if (payload.size() % 2 != 0)
            c.push_back(0);
        return c;
    };
    const bytes vp8l(still.begin() + 12, still.end()); // the VP8L chunk after the RIFF header
    const bytes frame = riff_chunk("ANMF", join({le(0, 12), le(10, 3), {0x02}, vp8l}));
    bytes body = join({{'W', 'E', 'B', 'P'}, riff_chunk("VP8X", join({{0x02}, le(0, 3), le(0, 6)})),
                       riff_chunk("ANIM", le(0, 6))});
    for (std::size_t i = 0; i < count; ++i)
        body.insert(body.end(), frame.begin(), frame.end());
    return join({{'R', 'I', 'F', 'F'}, le(std::uint32_t(body.size()), 4), body});
}

// libwebp's animation decoder takes time with the square of the frame
// count, so animations of more than 10,000 frames are refused at once.
TEST_F(Values, WebpAnimationsOfTooManyFramesAreRefused)
{
    write_file(dir / "most.webp", one_pixel_webp(10000));
    write_file(dir / "over.webp", one_pixel_webp(10001));
    const outcome most = lq2x({"most.webp", "most.gif"});
    EXPECT_EQ(most.status, 0) << most.err;
    EXPECT_EQ(files::decode_gif(read_file(dir / "most.gif"), {}).frames.size(), 10000u);
    const outcome over = lq2x({"over.webp", "over.gif"});
    EXPECT_EQ(over.status, 1);
    EXPECT_EQ(over.err, "lq2x: over.webp: WebP animation of 10001 frames: this reader takes at most 10000\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "over.gif"));
}

} // namespace
