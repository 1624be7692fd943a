// Frame streams (--stream) run end to end: every frame scaled as the model
// scales it alone, frames written as they come, a cut-short stream refused
// after its whole frames, memory independent of the stream's length.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "support.h"

using namespace testing_support;

namespace fs = std::filesystem;

namespace {

std::string text(const bytes& b) { return std::string(b.begin(), b.end()); }

std::vector<std::string> listing(const fs::path& dir)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// A picture's pixels in `channels` bytes each: 3 RGB, 4 RGBA.
bytes packed(const ref::image8888& img, int channels)
{
    bytes out;
    for (const pixel8888 p : img.pixels)
        for (int c = 0; c < channels; ++c)
            out.push_back(files::channel(p, c));
    return out;
}

// A frame of a few colours in `channels` bytes a pixel (3 RGB, 4 RGBA with
// some pixels invisible, one of them with colour bits), and the model's
// result for it: the rule `passes` times, the first pass turned.
struct frame_case {
    bytes in, out;
};
frame_case random_frame(int w, int h, int channels, std::uint32_t seed,
                        lq2x::orientation turn = lq2x::orientation::upright, int passes = 1)
{
    const files::image img = testing_support::picture(w, h, channels == 4 ? files::layout::rgba : files::layout::rgb, seed);
    return {packed(testing_support::as_ref(img), channels), packed(testing_support::scaled(img, turn, passes), channels)};
}

class Stream : public testing_support::tool_case {
protected:
    outcome lq2x(const std::vector<std::string>& args, const bytes& input = {})
    {
        run_options opt;
        opt.input = text(input);
        return tool_case::lq2x(args, opt);
    }
};

TEST_F(Stream, EveryFrameIsScaledAsTheModelScalesItAlone)
{
    struct option_case {
        std::vector<std::string> args;
        lq2x::orientation turn;
        int passes;
    };
    const option_case cases[] = {
        {{}, lq2x::orientation::upright, 1},
        {{"--rotate", "cw"}, lq2x::orientation::cw, 1},
        {{"--rotate", "ccw", "--scale", "4"}, lq2x::orientation::ccw, 2},
        {{"--scale", "8"}, lq2x::orientation::upright, 3},
    };
    constexpr int W = 13, H = 9, FRAMES = 4;
    for (const int channels : {3, 4}) {
        for (const auto& c : cases) {
            bytes stream, want;
            for (int f = 0; f < FRAMES; ++f) {
                const frame_case frame = random_frame(W, H, channels, std::uint32_t(10 * f + channels), c.turn, c.passes);
                stream.insert(stream.end(), frame.in.begin(), frame.in.end());
                want.insert(want.end(), frame.out.begin(), frame.out.end());
            }
            std::vector<std::string> args = {"--stream", "13x9", "--pixel", channels == 3 ? "rgb24" : "rgba"};
            args.insert(args.end(), c.args.begin(), c.args.end());
            args.insert(args.end(), {"-", "-"});
            const outcome o = lq2x(args, stream);
            ASSERT_EQ(o.status, 0) << o.err;
            EXPECT_EQ(o.err, "");
            EXPECT_TRUE(o.out == text(want)) << channels << " channels, " << c.args.size() << " option words";
        }
    }
}

TEST_F(Stream, Rgb24IsTheDefaultAndEqualsTheToolOnEachFrameAsAFile)
{
    constexpr int FRAMES = 3;
    bytes stream;
    std::string alone;
    for (int f = 0; f < FRAMES; ++f) {
        const bytes frame = random_frame(20, 11, 3, std::uint32_t(100 + f)).in;
        stream.insert(stream.end(), frame.begin(), frame.end());
        write_file(dir / "frame.raw", frame);
        const outcome o = lq2x({"--rotate", "cw", "--size", "20x11", "frame.raw", "frame2x.raw"});
        ASSERT_EQ(o.status, 0) << o.err;
        alone += text(read_file(dir / "frame2x.raw"));
    }
    write_file(dir / "video.rgb", stream);
    const outcome o = lq2x({"--rotate", "cw", "--stream", "20x11", "video.rgb", "video2x.rgb"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(text(read_file(dir / "video2x.rgb")), alone);
}

TEST_F(Stream, Rgb565IsScaledInRgb565)
{
    constexpr int W = 17, H = 6, FRAMES = 3;
    bytes stream, want;
    for (int f = 0; f < FRAMES; ++f) {
        const ref::image565 frame = ref::random_image<pixel565>(W, H, 4, std::uint32_t(7 + f));
        for (const pixel565 p : frame.pixels)
            stream.insert(stream.end(), {std::uint8_t(p), std::uint8_t(p >> 8)});
        for (const pixel565 p : ref::scale(ref::scale(frame, lq2x::orientation::cw), lq2x::orientation::upright).pixels)
            want.insert(want.end(), {std::uint8_t(p), std::uint8_t(p >> 8)});
    }
    const outcome o = lq2x({"--stream", "17x6", "--pixel", "rgb565le", "--rotate", "cw", "--scale", "4", "-", "-"}, stream);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(o.out == text(want));
}

TEST_F(Stream, ACutShortStreamIsRefusedAfterItsWholeFrames)
{
    constexpr int W = 8, H = 5;
    bytes stream, want;
    for (int f = 0; f < 3; ++f) {
        const frame_case frame = random_frame(W, H, 3, std::uint32_t(f));
        stream.insert(stream.end(), frame.in.begin(), frame.in.end());
        want.insert(want.end(), frame.out.begin(), frame.out.end());
    }
    stream.resize(stream.size() + 50, 0x33); // 50 of a frame's 120 bytes
    for (const std::string out : {"-", "cut.rgb"}) {
        const outcome o = lq2x({"--stream", "8x5", "-", out}, stream);
        EXPECT_EQ(o.status, 1) << out;
        EXPECT_EQ(o.err, "lq2x: standard input: the stream ends inside a frame (50 of its 120 bytes) after 3 whole "
                         "frames, which were written\n");
        EXPECT_TRUE((out == "-" ? o.out : text(read_file(dir / out))) == text(want)) << out;
    }
    // One byte short of the first frame: no whole frame, an empty output.
    const outcome first = lq2x({"--stream", "8x5", "-", "-"}, bytes(119, 1));
    EXPECT_EQ(first.status, 1);
    EXPECT_EQ(first.out, "");
    EXPECT_NE(first.err.find("(119 of its 120 bytes) after 0 whole frames"), std::string::npos) << first.err;
}

TEST_F(Stream, AnEmptyStreamGivesAnEmptyOne)
{
    const outcome o = lq2x({"--stream", "8x5", "-", "empty.rgb"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(fs::exists(dir / "empty.rgb"));
    EXPECT_EQ(fs::file_size(dir / "empty.rgb"), 0u);
}

TEST_F(Stream, WrongUseIsRefusedAndLeavesNothing)
{
    const bytes frame = random_frame(4, 4, 3, 1).in;
    write_file(dir / "in.rgb", frame);
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--pixel", "rgba", "in.rgb", "out.rgb"},
             {"--stream", "4x4", "--pixel", "bgr24", "in.rgb", "out.rgb"},
             {"--stream", "4x0", "in.rgb", "out.rgb"},
             {"--stream", "4x4", "-o", "outdir", "in.rgb"},
             {"--stream", "4x4", "--size", "4x4", "in.rgb", "out.rgb"},
             {"--stream", "4x4", "--format", "raw", "in.rgb", "out.rgb"},
         }) {
        const outcome o = lq2x(args);
        EXPECT_EQ(o.status, 2) << args[0] << " " << args[1];
        EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
    }
    // A layout it does not have is refused naming those it has, as the
    // library's settings are (the shell completion reads the list from it).
    EXPECT_EQ(lq2x({"--stream", "4x4", "--pixel", "bgr24", "in.rgb", "out.rgb"}).err,
              "lq2x: --pixel: wants rgb24, rgba or rgb565le, not 'bgr24'\n");
    const outcome missing = lq2x({"--stream", "4x4", "nothing.rgb", "out.rgb"});
    EXPECT_EQ(missing.status, 1);
    const outcome big = lq2x({"--stream", "100000x100000", "in.rgb", "out.rgb"});
    EXPECT_EQ(big.status, 1);
    EXPECT_EQ(std::count(big.err.begin(), big.err.end(), '\n'), 1) << big.err;
    // A grid that leaves no cell in a frame is a usage error, as for files.
    const outcome no_cell = lq2x({"--stream", "4x4", "--tile", "2x2", "--tile-margin", "4", "in.rgb", "out.rgb"});
    EXPECT_EQ(no_cell.status, 2);
    EXPECT_EQ(no_cell.err, "lq2x: in.rgb: --tile-margin: a margin of 4 leaves no cell in a picture of 4 x 4\n");
    const outcome self = lq2x({"--stream", "4x4", "in.rgb", "in.rgb"});
    EXPECT_EQ(self.status, 1);
    EXPECT_EQ(read_file(dir / "in.rgb"), frame);
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(dir))
        left.push_back(e.path().filename());
    EXPECT_EQ(left, std::vector<std::string>{"in.rgb"});
}

// Each frame comes out before the next goes in: what a pipe to a video
// encoder needs.
TEST_F(Stream, EachFrameIsWrittenBeforeTheNextIsRead)
{
    const fs::path in = dir / "in.fifo", out = dir / "out.fifo";
    ASSERT_EQ(::mkfifo(in.c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(out.c_str(), 0600), 0);
    testing_support::started_program tool(TOOL_PATH, {"--stream", "6x4", in.string(), out.string()});
    const int writer = ::open(in.c_str(), O_WRONLY); // waits for the tool to open it
    ASSERT_GE(writer, 0);
    const int reader = ::open(out.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    for (int f = 0; f < 3; ++f) {
        const frame_case frame = random_frame(6, 4, 3, std::uint32_t(f + 40));
        ASSERT_EQ(::write(writer, frame.in.data(), frame.in.size()), ssize_t(frame.in.size()));
        const bytes& want = frame.out;
        bytes got;
        while (got.size() < want.size()) {
            pollfd p{reader, POLLIN, 0};
            ASSERT_EQ(::poll(&p, 1, 20000), 1) << "frame " << f << " not written within 20 s";
            std::uint8_t buffer[4096];
            const ssize_t n = ::read(reader, buffer, sizeof buffer);
            if (n < 0 && errno == EAGAIN)
                continue;
            ASSERT_GT(n, 0) << "frame " << f;
            got.insert(got.end(), buffer, buffer + n);
        }
        EXPECT_EQ(got, want) << "frame " << f;
    }
    ::close(writer);
    const outcome o = tool.wait();
    ::close(reader);
    EXPECT_EQ(o.status, 0) << o.err;
}

// The memory a stream takes is one frame's, however many frames there are.
TEST_F(Stream, MemoryDoesNotGrowWithTheStream)
{
    const bytes frame = random_frame(256, 224, 3, 5).in;
    long rss[2] = {};
    const int counts[2] = {2, 100};
    // AddressSanitizer holds freed memory back to catch its use, which would
    // count every frame's freed buffers; the runs here measure what the tool
    // itself holds (the other tests keep the check).
    struct asan_options {
        const char* before = std::getenv("ASAN_OPTIONS");
        const std::string saved = before ? before : "";
        asan_options()
        {
            ::setenv("ASAN_OPTIONS", ((saved.empty() ? saved : saved + ":") + "quarantine_size_mb=0").c_str(), 1);
        }
        ~asan_options()
        {
            if (before)
                ::setenv("ASAN_OPTIONS", saved.c_str(), 1);
            else
                ::unsetenv("ASAN_OPTIONS");
        }
    } const no_quarantine;
    for (int i = 0; i < 2; ++i) {
        bytes stream;
        for (int f = 0; f < counts[i]; ++f)
            stream.insert(stream.end(), frame.begin(), frame.end());
        write_file(dir / "in.rgb", stream);
        run_options opt;
        opt.measure_memory = true;
        const outcome o = tool_case::lq2x({"--stream", "256x224", "in.rgb", "out.rgb"}, opt);
        ASSERT_EQ(o.status, 0) << o.err;
        ASSERT_EQ(fs::file_size(dir / "out.rgb"), std::uintmax_t(counts[i]) * 512 * 448 * 3);
        rss[i] = o.max_rss_kb;
    }
    EXPECT_GT(rss[0], 0);
    // 100 frames are 17 MB in and 69 MB out; one frame and its result are under 4 MB.
    EXPECT_LT(rss[1], rss[0] + 8192) << rss[0] << " KiB for 2 frames, " << rss[1] << " KiB for 100";
}

} // namespace

namespace {

// Starts a stream from the FIFO `in` to a file, feeds it a frame, waits for
// its temporary output and ends it by SIGTERM: nothing may be left but `in`.
void signal_mid_stream(const fs::path& dir, const fs::path& in, run_options opt)
{
    testing_support::started_program tool(TOOL_PATH, {"--stream", "6x4", in.string(), (dir / "out.rgb").string()}, opt);
    const int writer = ::open(in.c_str(), O_WRONLY);
    ASSERT_GE(writer, 0);
    const bytes frame = random_frame(6, 4, 3, 3).in;
    ASSERT_EQ(::write(writer, frame.data(), frame.size()), ssize_t(frame.size()));
    // The output is being made, a file of no name until the stream ends.
    for (int i = 0; i < 2000 && testing_support::unnamed_files(tool.pid(), dir) == 0; ++i)
        ::usleep(10000);
    ASSERT_EQ(testing_support::unnamed_files(tool.pid(), dir), 1);
    ::kill(tool.pid(), SIGTERM);
    const outcome o = tool.wait();
    ::close(writer);
    EXPECT_EQ(o.status, 128 + SIGTERM) << o.err;
    EXPECT_EQ(listing(dir), std::vector<std::string>{"in.fifo"});
}

// A closed standard input or output as "-" is refused at once, in one line,
// leaving nothing; the tool started with them closed otherwise works as ever.
TEST_F(Stream, ClosedStandardStreamsAreRefusedAtOnce)
{
    const bytes frame = random_frame(4, 4, 3, 2).in;
    write_file(dir / "in.rgb", frame);
    struct closed_case {
        std::vector<std::string> args;
        bool input, output;
        const char* err;
    };
    const closed_case cases[] = {
        {{"--stream", "4x4", "-", "out.rgb"}, true, false, "lq2x: standard input: closed\n"},
        {{"--stream", "4x4", "in.rgb", "-"}, false, true, "lq2x: standard output: closed\n"},
        {{"--size", "4x4", "-", "out.raw"}, true, false, "lq2x: standard input: closed\n"},
        {{"--size", "4x4", "in.rgb", "-"}, false, true, "lq2x: standard output: closed\n"},
    };
    for (const closed_case& c : cases) {
        run_options opt;
        opt.dir = dir;
        opt.close_input = c.input;
        opt.close_output = c.output;
        opt.timeout_seconds = 30; // it hung, reading its own signal descriptor
        const outcome o = tool_case::lq2x(c.args, opt);
        EXPECT_EQ(o.status, 1) << c.err;
        EXPECT_EQ(o.err, c.err);
        EXPECT_EQ(listing(dir), std::vector<std::string>{"in.rgb"});
    }
    run_options closed;
    closed.dir = dir;
    closed.close_input = closed.close_output = true;
    const outcome o = tool_case::lq2x({"--stream", "4x4", "in.rgb", "out.rgb"}, closed);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(read_file(dir / "out.rgb"), random_frame(4, 4, 3, 2).out);
}

// A stream to a file that a signal ends leaves no file behind: the frames
// go to a temporary file, renamed into place only when the stream is done;
// with standard input closed too.
TEST_F(Stream, ASignalMidStreamLeavesNothing)
{
    const fs::path in = dir / "in.fifo";
    ASSERT_EQ(::mkfifo(in.c_str(), 0600), 0);
    for (const bool closed_input : {false, true}) {
        SCOPED_TRACE(closed_input ? "standard input closed" : "standard input open");
        run_options opt;
        opt.close_input = closed_input;
        opt.timeout_seconds = 60;
        signal_mid_stream(dir, in, opt);
    }
}

} // namespace
