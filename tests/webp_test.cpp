// WebP in and out. Inputs are made here with libwebp's own encoders (its
// simple API for stills; its muxer and animation encoder for animations),
// outputs are read back by Debian's webp programs as outside readers
// (webpmux lists and extracts the stored frames, dwebp decodes each) and
// composited by a model written here, and the tool runs end to end.
#include <gtest/gtest.h>

#include <webp/decode.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>

#include "support.h"

using namespace testing_support;

namespace fs = std::filesystem;

namespace {

// Random pixels from a few colours; with alpha, some are clear (with
// colour bits of their own) and some half covered.
files::image picture(int w, int h, bool alpha, std::uint32_t seed)
{
    return testing_support::picture(w, h, alpha ? files::layout::rgba : files::layout::rgb, seed);
}

bool same_pixels(const files::image& a, const files::image& b)
{
    return a.width == b.width && a.height == b.height &&
           std::equal(a.bytes(), a.bytes() + a.pixels.size() * 4, b.bytes());
}

// What the tool makes of a frame: clear pixels all zero, then the rule.
files::image scaled(const files::image& img)
{
    const ref::image8888 out = testing_support::scaled(img);
    return {out.width, out.height, files::layout::rgba, out.pixels};
}

// libwebp's simple API, both ways.
bytes simple_encode(const files::image& img, bool lossless)
{
    std::uint8_t* out = nullptr;
    const std::size_t n = lossless ? WebPEncodeLosslessRGBA(img.bytes(), img.width, img.height, img.width * 4, &out)
                                   : WebPEncodeRGBA(img.bytes(), img.width, img.height, img.width * 4, 80, &out);
    bytes b(out, out + n);
    WebPFree(out);
    return b;
}

files::image simple_decode(const bytes& b)
{
    int w = 0, h = 0;
    std::uint8_t* p = WebPDecodeRGBA(b.data(), b.size(), &w, &h);
    if (p == nullptr)
        return {};
    files::image img{w, h, files::layout::rgba, std::vector<pixel8888>(std::size_t(w) * h)};
    std::memcpy(img.bytes(), p, img.pixels.size() * 4);
    WebPFree(p);
    return img;
}

// A frame as an animation stores it: a rectangle of the canvas and how it
// is drawn and taken away.
struct stored_frame {
    files::image pixels; // as the file holds them
    int x = 0, y = 0;
    int duration = 0;
    bool blend = false, dispose = false;
};

// Compositing as viewers do it: the canvas starts clear black; a blended
// frame keeps what is under its clear pixels and covers it with its opaque
// ones (half-covered ones mix, within `tolerance` of the exact "over"); a
// frame disposed to the background is cleared to clear black afterwards.
struct composited {
    std::vector<files::image> frames;
    std::vector<int> partial; // per frame, how many pixels were mixed
};

composited composite(int w, int h, const std::vector<stored_frame>& stored)
{
    composited out;
    files::image canvas{w, h, files::layout::rgba, std::vector<pixel8888>(std::size_t(w) * h, 0)};
    for (const stored_frame& f : stored) {
        int mixed = 0;
        for (int y = 0; y < f.pixels.height; ++y)
            for (int x = 0; x < f.pixels.width; ++x) {
                const std::uint8_t* s = f.pixels.bytes() + 4 * (std::size_t(y) * f.pixels.width + x);
                std::uint8_t* d = canvas.bytes() + 4 * (std::size_t(f.y + y) * w + f.x + x);
                if (!f.blend || s[3] == 0xFF) {
                    std::memcpy(d, s, 4);
                } else if (s[3] != 0) {
                    const double sa = s[3] / 255.0, da = d[3] / 255.0 * (1 - sa), a = sa + da;
                    for (int c = 0; c < 3; ++c)
                        d[c] = std::uint8_t(std::lround((s[c] * sa + d[c] * da) / a));
                    d[3] = std::uint8_t(std::lround(a * 255));
                    ++mixed;
                }
            }
        out.frames.push_back(canvas);
        out.partial.push_back(mixed);
        if (f.dispose)
            for (int y = 0; y < f.pixels.height; ++y)
                std::fill_n(canvas.pixels.begin() + std::ptrdiff_t(std::size_t(f.y + y) * w + f.x), f.pixels.width, 0);
    }
    return out;
}

// An animation assembled here with libwebp's muxer, each frame a lossless
// still from the simple API.
bytes mux_animation(int w, int h, const std::vector<stored_frame>& frames, int loops)
{
    WebPMux* mux = WebPMuxNew();
    std::vector<bytes> keep;
    for (const stored_frame& f : frames) {
        keep.push_back(simple_encode(f.pixels, true));
        WebPMuxFrameInfo info{};
        info.bitstream = {keep.back().data(), keep.back().size()};
        info.x_offset = f.x;
        info.y_offset = f.y;
        info.duration = f.duration;
        info.id = WEBP_CHUNK_ANMF;
        info.dispose_method = f.dispose ? WEBP_MUX_DISPOSE_BACKGROUND : WEBP_MUX_DISPOSE_NONE;
        info.blend_method = f.blend ? WEBP_MUX_BLEND : WEBP_MUX_NO_BLEND;
        EXPECT_EQ(WebPMuxPushFrame(mux, &info, 1), WEBP_MUX_OK);
    }
    const WebPMuxAnimParams params{0xFF00FF00, loops}; // a background colour that viewers ignore
    EXPECT_EQ(WebPMuxSetAnimationParams(mux, &params), WEBP_MUX_OK);
    EXPECT_EQ(WebPMuxSetCanvasSize(mux, w, h), WEBP_MUX_OK);
    WebPData out;
    WebPDataInit(&out);
    EXPECT_EQ(WebPMuxAssemble(mux, &out), WEBP_MUX_OK);
    bytes b(out.bytes, out.bytes + out.size);
    WebPDataClear(&out);
    WebPMuxDelete(mux);
    return b;
}

// An animation of whole frames through libwebp's own animation encoder,
// lossless and exact.
bytes encoder_animation(const std::vector<files::image>& frames, const std::vector<int>& delays, int loops)
{
    WebPAnimEncoderOptions options;
    WebPAnimEncoderOptionsInit(&options);
    options.anim_params.loop_count = loops;
    WebPAnimEncoder* enc = WebPAnimEncoderNew(frames[0].width, frames[0].height, &options);
    WebPConfig config;
    WebPConfigInit(&config);
    config.lossless = 1;
    config.exact = 1;
    int t = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        WebPPicture pic;
        WebPPictureInit(&pic);
        pic.use_argb = 1;
        pic.width = frames[i].width;
        pic.height = frames[i].height;
        WebPPictureImportRGBA(&pic, frames[i].bytes(), frames[i].width * 4);
        EXPECT_TRUE(WebPAnimEncoderAdd(enc, &pic, t, &config));
        WebPPictureFree(&pic);
        t += delays[i];
    }
    WebPAnimEncoderAdd(enc, nullptr, t, nullptr);
    WebPData out;
    WebPDataInit(&out);
    EXPECT_TRUE(WebPAnimEncoderAssemble(enc, &out));
    bytes b(out.bytes, out.bytes + out.size);
    WebPDataClear(&out);
    WebPAnimEncoderDelete(enc);
    return b;
}

std::string program(const char* name)
{
    const std::string path = std::string("/usr/bin/") + name;
    return fs::exists(path) ? path : std::string();
}

// What Debian's webp programs see in a file: each stored frame (webpmux
// lists them and takes each out, dwebp decodes it) composited by the model
// above, with the delays and loop count webpmux reports.
struct outside_view {
    std::vector<files::image> frames;
    std::vector<int> delays;
    int loops = -1;
    bool animated = false;
    bool lossless = true;
};

files::image dwebp(const fs::path& file)
{
    const fs::path pam = file.string() + ".pam";
    const outcome o = testing_support::run_program(program("dwebp"), {"-quiet", file.string(), "-pam", "-o", pam.string()});
    EXPECT_EQ(o.status, 0) << o.err;
    files::image img = files::decode_pnm(read_file(pam), {});
    img.kind = files::layout::rgba;
    return img;
}

outside_view outside(const fs::path& file)
{
    outside_view v;
    const outcome info = testing_support::run_program(program("webpinfo"), {file.string()});
    EXPECT_EQ(info.status, 0) << info.out;
    v.animated = info.out.find("Animation: 1") != std::string::npos;
    v.lossless = info.out.find("Lossy") == std::string::npos;
    if (!v.animated) {
        v.frames.push_back(dwebp(file));
        return v;
    }
    const outcome list = testing_support::run_program(program("webpmux"), {"-info", file.string()});
    EXPECT_EQ(list.status, 0) << list.err;
    std::istringstream lines(list.out);
    std::string line;
    int width = 0, height = 0;
    std::vector<stored_frame> stored;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string first;
        words >> first;
        if (line.rfind("Canvas size:", 0) == 0)
            std::sscanf(line.c_str(), "Canvas size: %d x %d", &width, &height);
        else if (const auto at = line.find("Loop Count :"); at != std::string::npos)
            v.loops = std::stoi(line.substr(at + 12));
        else if (!first.empty() && first.back() == ':' && std::isdigit(static_cast<unsigned char>(first[0]))) {
            stored_frame f;
            int w = 0, h = 0;
            std::string alpha, dispose, blend;
            words >> w >> h >> alpha >> f.x >> f.y >> f.duration >> dispose >> blend;
            f.dispose = dispose == "background";
            f.blend = blend == "yes";
            const fs::path part = file.string() + "." + std::to_string(stored.size() + 1) + ".webp";
            const outcome get = testing_support::run_program(
                program("webpmux"), {"-get", "frame", std::to_string(stored.size() + 1), file.string(), "-o", part.string()});
            EXPECT_EQ(get.status, 0) << get.err;
            f.pixels = dwebp(part);
            EXPECT_EQ(f.pixels.width, w);
            EXPECT_EQ(f.pixels.height, h);
            v.delays.push_back(f.duration);
            stored.push_back(std::move(f));
        }
    }
    const composited c = composite(width, height, stored);
    for (std::size_t i = 0; i < stored.size(); ++i)
        EXPECT_EQ(c.partial[i], 0) << "frame " << i << " mixes half-covered pixels";
    v.frames = c.frames;
    return v;
}

using Webp = testing_support::tool_case;

// The cases that read the results with Debian's webp programs, which
// tests/run.sh installs: without them these cases fail, as they are the
// ones that catch the writer's faults.
class WebpOutside : public Webp {
protected:
    void SetUp() override
    {
        for (const char* name : {"webpmux", "dwebp", "webpinfo", "img2webp"})
            if (program(name).empty())
                FAIL() << "Debian's webp programs (" << name << " and others) are not installed: apt-get install webp";
    }
};

TEST_F(WebpOutside, StillsFromLibwebpAreScaledToPngAndWebp)
{
    struct still_case {
        const char* name;
        bool alpha, lossless;
    };
    for (const still_case& c : {still_case{"opaque.webp", false, true}, still_case{"alpha.webp", true, true},
                                still_case{"lossy.webp", false, false}, still_case{"lossy_alpha.webp", true, false}}) {
        SCOPED_TRACE(c.name);
        const bytes file = simple_encode(picture(15, 11, c.alpha, 7), c.lossless);
        write_file(dir / c.name, file);
        // The pixels the file holds, as libwebp's simple decoder gives them.
        const files::image held = simple_decode(file);
        ASSERT_EQ(held.width, 15);

        const files::animation read = files::decode_webp(file, {});
        ASSERT_EQ(read.frames.size(), 1u);
        EXPECT_FALSE(read.animated);
        EXPECT_TRUE(same_pixels(read.frames[0].picture, held));
        bool any_clear = false;
        for (std::size_t i = 0; i < held.pixels.size(); ++i)
            any_clear = any_clear || held.bytes()[4 * i + 3] != 0xFF;
        EXPECT_EQ(read.frames[0].picture.kind, any_clear ? files::layout::rgba : files::layout::rgb);
        EXPECT_EQ(any_clear, c.alpha);

        const files::image want = scaled(held);
        ASSERT_EQ(lq2x({c.name, "out.png"}).status, 0);
        EXPECT_TRUE(same_pixels(files::decode(read_file(dir / "out.png"), {}), want));
        const outcome o = lq2x({c.name, "out.webp"});
        ASSERT_EQ(o.status, 0) << o.err;
        const outside_view v = outside(dir / "out.webp");
        EXPECT_FALSE(v.animated);
        EXPECT_TRUE(v.lossless);
        ASSERT_EQ(v.frames.size(), 1u);
        EXPECT_TRUE(same_pixels(v.frames[0], want));
        EXPECT_TRUE(same_pixels(simple_decode(read_file(dir / "out.webp")), want));
    }
}

TEST_F(WebpOutside, PngInWebpOut)
{
    for (const bool alpha : {false, true}) {
        const files::image in = picture(23, 17, alpha, 11 + alpha);
        write_file(dir / "in.png", files::encode(in, files::format::png, {}));
        const outcome o = lq2x({"in.png", "out.webp"});
        ASSERT_EQ(o.status, 0) << o.err;
        const outside_view v = outside(dir / "out.webp");
        EXPECT_FALSE(v.animated);
        EXPECT_TRUE(v.lossless);
        ASSERT_EQ(v.frames.size(), 1u);
        EXPECT_TRUE(same_pixels(v.frames[0], scaled(in))) << alpha;
    }
}

// Frames stored as rectangles with every disposal and blending, composited
// by the reader as by the model; the tool scales each whole frame.
TEST_F(Webp, AnimationsAreCompositedAsViewersShowThem)
{
    const int w = 12, h = 10;
    std::vector<stored_frame> stored;
    auto add = [&](int fw, int fh, int x, int y, int duration, bool blend, bool dispose, std::uint32_t seed) {
        // The pixels as the file will hold them (the simple encoder may
        // change the colour under clear pixels).
        stored.push_back({simple_decode(simple_encode(picture(fw, fh, true, seed), true)), x, y, duration, blend, dispose});
    };
    add(w, h, 0, 0, 40, false, false, 1); // whole, with clear and half-covered pixels
    add(4, 4, 2, 2, 50, true, true, 2);   // blended, then cleared
    add(6, 4, 4, 6, 0, false, false, 3);  // not blended: its clear pixels replace
    add(w, h, 0, 0, 70, true, true, 4);   // blended over everything, half-covered pixels mix
    add(2, 2, 10, 8, 1000, true, false, 5);
    add(4, 6, 8, 0, 16777215, false, true, 6);
    const bytes file = mux_animation(w, h, stored, 7);
    write_file(dir / "anim.webp", file);

    const composited model = composite(w, h, stored);
    const files::animation read = files::decode_webp(file, {});
    EXPECT_TRUE(read.animated);
    EXPECT_EQ(read.loops, 7u);
    ASSERT_EQ(read.frames.size(), stored.size());
    for (std::size_t i = 0; i < stored.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(read.frames[i].delay.numerator, std::uint32_t(stored[i].duration));
        EXPECT_EQ(read.frames[i].delay.denominator, 1000u);
        const files::image& got = read.frames[i].picture;
        ASSERT_EQ(got.width, w);
        ASSERT_EQ(got.height, h);
        // Exact, except that libwebp rounds "over" its own way: within 2.
        int off = 0, worst = 0;
        for (std::size_t b = 0; b < got.pixels.size() * 4; ++b) {
            const int d = std::abs(int(got.bytes()[b]) - int(model.frames[i].bytes()[b]));
            off += d != 0;
            worst = std::max(worst, d);
        }
        EXPECT_LE(worst, model.partial[i] ? 2 : 0);
        EXPECT_LE(off, 4 * model.partial[i]);
        EXPECT_EQ(got.kind, files::layout::rgba);
    }
    EXPECT_GT(model.partial[3], 0); // the mixing case was exercised

    // An animation of one frame is still an animation.
    const std::vector<stored_frame> one = {stored[1]};
    const files::animation single = files::decode_webp(mux_animation(w, h, one, 0), {});
    EXPECT_TRUE(single.animated);
    ASSERT_EQ(single.frames.size(), 1u);
    EXPECT_EQ(single.frames[0].delay.numerator, 50u);
    EXPECT_TRUE(same_pixels(single.frames[0].picture, composite(w, h, one).frames[0]));

    // The tool scales each whole frame; one picked with --frame is a still.
    for (const int n : {1, 3, 5}) {
        const std::string out = "frame" + std::to_string(n) + ".png";
        const outcome o = lq2x({"--frame", std::to_string(n), "anim.webp", out});
        ASSERT_EQ(o.status, 0) << o.err;
        EXPECT_TRUE(same_pixels(files::decode(read_file(dir / out), {}), scaled(read.frames[n].picture))) << n;
    }
}

TEST_F(WebpOutside, AnimationRoundTripsThroughTheTool)
{
    std::vector<files::image> frames;
    for (std::uint32_t i = 0; i < 6; ++i)
        frames.push_back(picture(14, 9, i % 3 != 1, 100 + i));
    // Mostly the same picture, so the encoder stores changed rectangles.
    for (std::size_t i = 3; i < frames.size(); ++i) {
        frames[i] = frames[2];
        std::memcpy(frames[i].bytes() + 4 * (9 * 14 / 2 + i), frames[0].bytes(), 4 * i);
    }
    const std::vector<int> delays = {100, 20, 0, 1500, 33, 70};
    write_file(dir / "in.webp", encoder_animation(frames, delays, 5));

    const outcome o = lq2x({"in.webp", "out.webp"});
    ASSERT_EQ(o.status, 0) << o.err;
    const outside_view v = outside(dir / "out.webp");
    EXPECT_TRUE(v.animated);
    EXPECT_TRUE(v.lossless);
    EXPECT_EQ(v.loops, 5);
    EXPECT_EQ(v.delays, delays);
    ASSERT_EQ(v.frames.size(), frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i)
        EXPECT_TRUE(same_pixels(v.frames[i], scaled(frames[i]))) << "frame " << i;

    // And read back by the tool's own reader, the same.
    const files::animation back = files::decode_webp(read_file(dir / "out.webp"), {});
    EXPECT_TRUE(back.animated);
    EXPECT_EQ(back.loops, 5u);
    ASSERT_EQ(back.frames.size(), frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_TRUE(same_pixels(back.frames[i].picture, v.frames[i])) << i;
        EXPECT_EQ(back.frames[i].delay.numerator, std::uint32_t(delays[i])) << i;
    }
}

struct writer_case {
    const char* name;
    std::vector<files::image> frames;
    std::vector<files::frame_delay> delays;
    std::vector<int> ms;
    std::uint32_t loops;
    int written_loops;
};

// 40 frames: a sprite moving on a background, now and then standing
// still for a frame, so that the encoder makes key frames as well as
// changed rectangles and folds repeated frames.
writer_case long_case(const files::image& sprite, const files::image& background)
{
    writer_case w{"long", {}, {}, {}, 9, 9};
    files::image canvas{30, 20, files::layout::rgba, std::vector<pixel8888>(600)};
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x)
            canvas.pixels[std::size_t(y) * 30 + x] = background.pixels[std::size_t(y % 8) * 10 + x % 10];
    int at = 0;
    for (int i = 0; i < 40; ++i) {
        at += i % 5 == 4 ? 0 : 1;
        files::image f = canvas;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 10; ++x)
                f.pixels[std::size_t(y + at % 12) * 30 + (x + at) % 30] = sprite.pixels[std::size_t(y) * 10 + x];
        w.frames.push_back(f);
        w.delays.push_back({std::uint32_t(i), 1000});
        w.ms.push_back(i);
    }
    return w;
}

// A lossy animation made by Debian's img2webp: the reader gives what the
// outside programs composite, and the tool scales it.
TEST_F(WebpOutside, LossyAnimationFromImg2webp)
{
    std::vector<std::string> args = {"-loop", "4", "-lossy", "-q", "60"};
    for (int i = 0; i < 4; ++i) {
        files::image f = picture(16, 12, false, 40 + std::uint32_t(i % 2));
        for (int y = 0; y < 5; ++y) // a block that moves over the same background
            for (int x = 0; x < 5; ++x)
                f.pixels[std::size_t(y + 2) * 16 + std::size_t(x + 3 * i)] = f.pixels[0];
        const std::string name = std::string("frame") + char('0' + i) + ".png";
        write_file(dir / name, files::encode(f, files::format::png, {}));
        args.insert(args.end(), {"-d", std::to_string(30 + 10 * i), (dir / name).string()});
    }
    args.insert(args.end(), {"-o", (dir / "in.webp").string()});
    const outcome made = testing_support::run_program(program("img2webp"), args);
    ASSERT_EQ(made.status, 0) << made.err;

    const outside_view in = outside(dir / "in.webp");
    EXPECT_FALSE(in.lossless);
    const files::animation read = files::decode_webp(read_file(dir / "in.webp"), {});
    ASSERT_EQ(read.frames.size(), in.frames.size());
    ASSERT_EQ(read.frames.size(), 4u);
    EXPECT_EQ(read.loops, 4u);
    for (std::size_t i = 0; i < read.frames.size(); ++i) {
        EXPECT_TRUE(same_pixels(read.frames[i].picture, in.frames[i])) << i;
        EXPECT_EQ(read.frames[i].delay.numerator, std::uint32_t(in.delays[i])) << i;
        EXPECT_EQ(in.delays[i], 30 + 10 * int(i));
    }
    const outcome o = lq2x({"in.webp", "out.webp"});
    ASSERT_EQ(o.status, 0) << o.err;
    const outside_view out = outside(dir / "out.webp");
    EXPECT_TRUE(out.lossless);
    EXPECT_EQ(out.loops, 4);
    EXPECT_EQ(out.delays, in.delays);
    ASSERT_EQ(out.frames.size(), in.frames.size());
    for (std::size_t i = 0; i < out.frames.size(); ++i)
        EXPECT_TRUE(same_pixels(out.frames[i], scaled(in.frames[i]))) << i;
}

// The writer on its own: frames that repeat, one frame, invisible colour,
// delays in other units.
TEST_F(WebpOutside, EveryFrameAndDelayIsKeptExactly)
{
    const files::image a = picture(10, 8, true, 1), b = picture(10, 8, false, 2), c = picture(10, 8, true, 3);
    const writer_case cases[] = {
        {"repeats", {a, a, b, b, b, c, a}, {{10, 1000}, {20, 1000}, {3, 100}, {1, 3}, {0, 1}, {5, 1000}, {7, 1000}},
         {10, 20, 30, 333, 0, 5, 7}, 2, 2},
        {"all the same", {b, b, b}, {{1, 10}, {2, 10}, {3, 10}}, {100, 200, 300}, 0, 0},
        {"many loops", {a, c}, {{1, 1000}, {1, 1000}}, {1, 1}, 70000, 65535},
        long_case(a, c),
    };
    for (const writer_case& w : cases) {
        SCOPED_TRACE(w.name);
        files::animation anim;
        anim.animated = true;
        anim.loops = w.loops;
        for (std::size_t i = 0; i < w.frames.size(); ++i)
            anim.frames.push_back({w.frames[i], w.delays[i]});
        const bytes file = files::encode_webp(anim);
        write_file(dir / "w.webp", file);

        const outside_view v = outside(dir / "w.webp");
        EXPECT_TRUE(v.animated);
        EXPECT_TRUE(v.lossless);
        EXPECT_EQ(v.loops, w.written_loops);
        EXPECT_EQ(v.delays, w.ms);
        ASSERT_EQ(v.frames.size(), w.frames.size());
        const files::animation back = files::decode_webp(file, {});
        ASSERT_EQ(back.frames.size(), w.frames.size());
        EXPECT_EQ(back.loops, std::uint32_t(w.written_loops));
        for (std::size_t i = 0; i < w.frames.size(); ++i) {
            // Invisible colour included: the frames come back byte for byte.
            EXPECT_TRUE(same_pixels(v.frames[i], w.frames[i])) << i;
            EXPECT_TRUE(same_pixels(back.frames[i].picture, w.frames[i])) << i;
            EXPECT_EQ(back.frames[i].picture.kind, files::has_alpha(w.frames[i].kind) ? files::layout::rgba : files::layout::rgb);
            EXPECT_EQ(back.frames[i].delay.numerator, std::uint32_t(w.ms[i])) << i;
        }
    }
    // A still keeps its invisible colour too; so does one frame of an
    // animation, written as a still (there is no delay to keep).
    for (const bool animated : {false, true}) {
        files::animation still;
        still.animated = animated;
        still.loops = 3;
        still.frames.push_back({a, {250, 1000}});
        write_file(dir / "s.webp", files::encode_webp(still));
        const outside_view v = outside(dir / "s.webp");
        EXPECT_FALSE(v.animated);
        EXPECT_TRUE(v.lossless);
        ASSERT_EQ(v.frames.size(), 1u);
        EXPECT_TRUE(same_pixels(v.frames[0], a));
    }
}

TEST_F(Webp, BadFilesAreRefusedInOneLineAndWriteNothing)
{
    const bytes still = simple_encode(picture(16, 16, true, 9), true);
    std::vector<stored_frame> stored;
    for (int i = 0; i < 3; ++i)
        stored.push_back({picture(8, 6, true, 20 + i), 2 * i, 2, 10, i > 0, false});
    const bytes anim = mux_animation(16, 10, stored, 0);
    const auto find = [](const bytes& b, const char* fourcc) {
        return std::size_t(std::search(b.begin(), b.end(), fourcc, fourcc + 4) - b.begin());
    };

    bytes corrupt = still;
    corrupt[20] ^= 0xFF; // the lossless signature byte
    // The first frame's lossless signature, and then its pixel data.
    const std::size_t frame_data = find(anim, "VP8L") + 8;
    bytes corrupt_frame = anim;
    corrupt_frame[frame_data] ^= 0xFF;
    bytes corrupt_pixels = anim;
    std::fill_n(corrupt_pixels.begin() + std::ptrdiff_t(frame_data + 5), 7, 0xFF);
    // A canvas of 65536 x 65535 pixels (the VP8X header's sides less one;
    // libwebp refuses 2^32 pixels or more itself).
    bytes huge = anim;
    const std::size_t vp8x = find(anim, "VP8X") + 8;
    const std::uint8_t sides[6] = {0xFF, 0xFF, 0x00, 0xFE, 0xFF, 0x00};
    std::copy(sides, sides + 6, huge.begin() + std::ptrdiff_t(vp8x + 4));
    // An animation header and no frames.
    bytes no_frames(anim.begin(), anim.begin() + std::ptrdiff_t(find(anim, "ANMF")));
    const std::uint32_t riff = std::uint32_t(no_frames.size() - 8);
    for (int i = 0; i < 4; ++i)
        no_frames[4 + i] = std::uint8_t(riff >> (8 * i));

    write_file(dir / "corrupt.webp", corrupt);
    write_file(dir / "corrupt_frame.webp", corrupt_frame);
    write_file(dir / "corrupt_pixels.webp", corrupt_pixels);
    write_file(dir / "truncated.webp", bytes(still.begin(), still.begin() + std::ptrdiff_t(still.size() / 2)));
    write_file(dir / "truncated_anim.webp", bytes(anim.begin(), anim.begin() + std::ptrdiff_t(anim.size() * 2 / 3)));
    write_file(dir / "huge.webp", huge);
    write_file(dir / "no_frames.webp", no_frames);
    write_file(dir / "anim.webp", anim);
    write_file(dir / "wide.png", files::encode(picture(8200, 1, false, 3), files::format::png, {}));

    struct bad {
        std::vector<std::string> args;
        const char* file;
        const char* why;
    };
    const bad cases[] = {
        {{"corrupt.webp", "out.png"}, "corrupt.webp", "corrupt WebP data"},
        {{"corrupt_frame.webp", "out.png"}, "corrupt_frame.webp", "corrupt WebP animation"},
        {{"corrupt_pixels.webp", "out.png"}, "corrupt_pixels.webp", "corrupt WebP data in frame 0"},
        {{"truncated.webp", "out.png"}, "truncated.webp", "truncated WebP data"},
        {{"truncated_anim.webp", "out.png"}, "truncated_anim.webp", "truncated WebP data"},
        {{"huge.webp", "out.png"}, "huge.webp", "image too large: 65536 x 65535 pixels"},
        {{"no_frames.webp", "out.png"}, "no_frames.webp", "corrupt WebP animation"},
        // Three frames of 16 x 10 scaled 2x are 1,920 result pixels, and each after the first counts 64 more.
        {{"--max-pixels", "2047", "anim.webp", "out.png"}, "anim.webp", "animation too large: 3 frames of 16 x 10"},
        {{"wide.png", "out.webp"}, "wide.png", "WebP holds at most 16383 pixels a side, the result is 16400 x 2: write .png"},
    };
    for (const bad& c : cases) {
        SCOPED_TRACE(c.file);
        const outcome o = lq2x(c.args);
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(o.err.find(std::string("lq2x: ") + c.file + ": "), 0u) << o.err;
        EXPECT_NE(o.err.find(c.why), std::string::npos) << o.err;
        EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
        EXPECT_FALSE(fs::exists(dir / "out.png"));
        EXPECT_FALSE(fs::exists(dir / "out.webp"));
    }
    // The same animation within the limit is fine.
    const outcome ok = lq2x({"--max-pixels", "2048", "anim.webp", "out.webp"});
    EXPECT_EQ(ok.status, 0) << ok.err;
}

} // namespace
