// Runs the built test bench in a scratch folder, as a user would.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "reference.h"
#include "run_program.h"

namespace fs = std::filesystem;

namespace {

using bytes = std::vector<unsigned char>;

constexpr int SRC_W = 160, SRC_H = 102;
constexpr std::size_t INPUT_SIZE = 3 * SRC_W * SRC_H, OUTPUT_SIZE = 4 * INPUT_SIZE;

using testing_support::read_file;
using testing_support::write_file;

// What the bench must write for a given input, from the test's own model.
bytes expected_output(const bytes& input)
{
    ref::image565 img{SRC_W, SRC_H, std::vector<pixel565>(SRC_W * SRC_H)};
    for (std::size_t i = 0; i < img.pixels.size(); ++i)
        img.pixels[i] = pixel565((input[3 * i] & 0xF8) << 8 | (input[3 * i + 1] & 0xFC) << 3 | input[3 * i + 2] >> 3);
    const ref::image565 out = ref::scale_ccw(img);
    bytes b;
    for (const pixel565 p : out.pixels)
        b.insert(b.end(), {static_cast<unsigned char>(p >> 11 << 3), static_cast<unsigned char>((p >> 5 & 63) << 2),
                           static_cast<unsigned char>((p & 31) << 3)});
    return b;
}

using testing_support::outcome;
using limits = testing_support::run_options;

limits unprivileged()
{
    limits l;
    l.unprivileged = true;
    return l;
}

limits file_size_limit(long bytes)
{
    limits l;
    l.max_file_bytes = bytes;
    return l;
}

[[maybe_unused]] limits preloaded(const char* library)
{
    limits l;
    l.preload = library;
    return l;
}

outcome run_bench(const fs::path& dir, limits lim = {})
{
    lim.dir = dir;
    return testing_support::run_program(TESTBENCH_PATH, {"arguments", "are", "ignored"}, lim);
}

class Testbench : public ::testing::Test {
protected:
    std::set<std::string> listing() const
    {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(dir))
            names.insert(e.path().filename().string());
        return names;
    }

    // Runs the bench and expects a clean success with `input`'s model output.
    bytes run_ok(const bytes& input)
    {
        write_file(dir / "test.raw", input);
        const outcome o = run_bench(dir);
        EXPECT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(o.err, "");
        EXPECT_EQ(listing(), (std::set<std::string>{"test.raw", "LQ2x.raw"}));
        return read_file(dir / "LQ2x.raw");
    }

    // Runs the bench and expects a failure that leaves the folder as it was.
    void run_fails(const std::string& message, const limits& lim = {})
    {
        const auto before = listing();
        const bytes earlier = fs::is_regular_file(dir / "LQ2x.raw") ? read_file(dir / "LQ2x.raw") : bytes{};
        const outcome o = run_bench(dir, lim);
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(o.err.find(message), 0u) << "stderr: " << o.err;
        EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << "stderr: " << o.err;
        EXPECT_EQ(listing(), before);
        if (fs::is_regular_file(dir / "LQ2x.raw")) {
            EXPECT_EQ(read_file(dir / "LQ2x.raw"), earlier);
        }
    }

    void leave_earlier_output() { write_file(dir / "LQ2x.raw", bytes{'o', 'l', 'd'}); }

    testing_support::scratch_dir scratch;
    const fs::path& dir = scratch.path();
};

bytes random_few_colours(std::uint32_t seed)
{
    const ref::image565 img = ref::random_image(SRC_W, SRC_H, 5, seed);
    bytes b;
    for (const pixel565 p : img.pixels)
        b.insert(b.end(), {static_cast<unsigned char>(p >> 8), static_cast<unsigned char>(p >> 3),
                           static_cast<unsigned char>(p << 3)});
    return b;
}

TEST_F(Testbench, UniformInputs)
{
    EXPECT_EQ(run_ok(bytes(INPUT_SIZE, 0x00)), bytes(OUTPUT_SIZE, 0x00));

    bytes near_white;
    for (std::size_t i = 0; i < OUTPUT_SIZE / 3; ++i)
        near_white.insert(near_white.end(), {248, 252, 248});
    EXPECT_EQ(run_ok(bytes(INPUT_SIZE, 0xFF)), near_white);

    bytes solid, solid_out;
    for (std::size_t i = 0; i < INPUT_SIZE / 3; ++i)
        solid.insert(solid.end(), {203, 103, 55});
    for (std::size_t i = 0; i < OUTPUT_SIZE / 3; ++i)
        solid_out.insert(solid_out.end(), {200, 100, 48});
    EXPECT_EQ(run_ok(solid), solid_out);
}

// Every pixel a different RGB565 colour: no pair test can hold, so each block
// is its pixel four times and the output is a plain turned doubling.
TEST_F(Testbench, PlacementOfDistinctPixels)
{
    bytes input;
    for (int i = 0; i < SRC_W * SRC_H; ++i) {
        const unsigned v = unsigned(i) * 4 + 1;
        input.insert(input.end(), {static_cast<unsigned char>(v >> 11 << 3),
                                   static_cast<unsigned char>((v >> 5 & 63) << 2),
                                   static_cast<unsigned char>((v & 31) << 3)});
    }
    const bytes out = run_ok(input);
    ASSERT_EQ(out.size(), OUTPUT_SIZE);
    const auto source_triple = [&](int x, int y) {
        const std::size_t at = 3 * (std::size_t(y) * SRC_W + x);
        return bytes(input.begin() + at, input.begin() + at + 3);
    };
    EXPECT_EQ(bytes(out.begin(), out.begin() + 3), source_triple(159, 0));
    EXPECT_EQ(bytes(out.end() - 3, out.end()), source_triple(0, 101));
    for (int row = 0; row < 2 * SRC_W; ++row)
        for (int col = 0; col < 2 * SRC_H; ++col) {
            const std::size_t at = 3 * (std::size_t(row) * 2 * SRC_H + col);
            ASSERT_EQ(bytes(out.begin() + at, out.begin() + at + 3), source_triple(SRC_W - 1 - row / 2, col / 2))
                << "output (" << col << ", " << row << ")";
        }
}

TEST_F(Testbench, GeneratedFramesMatchModel)
{
    for (const std::uint32_t seed : {11u, 12u}) {
        const bytes input = random_few_colours(seed);
        EXPECT_EQ(run_ok(input), expected_output(input));
    }
}

TEST_F(Testbench, LongerInputReadsOnlyOneFrame)
{
    const bytes input = random_few_colours(13);
    bytes longer = input;
    longer.insert(longer.end(), 1000, 0x5A);
    EXPECT_EQ(run_ok(longer), run_ok(input));
}

TEST_F(Testbench, ShippedSampleMatchesModelAndItsGenerator)
{
    const bytes sample = read_file(SAMPLE_PATH);
    ASSERT_EQ(sample.size(), INPUT_SIZE);
    EXPECT_EQ(run_ok(sample), expected_output(sample));

    const fs::path regenerated = dir / "regenerated.raw";
    ASSERT_EQ(std::system((std::string(MAKE_SAMPLE_PATH) + " " + regenerated.string()).c_str()), 0);
    EXPECT_EQ(read_file(regenerated), sample);
}

TEST_F(Testbench, UnreadableInputIsReported)
{
    leave_earlier_output();
    run_fails("lq2x_testbench: test.raw: No such file or directory");

    fs::create_directory(dir / "test.raw");
    run_fails("lq2x_testbench: test.raw: Is a directory");
    fs::remove(dir / "test.raw");

    write_file(dir / "test.raw", bytes(INPUT_SIZE, 1));
    fs::permissions(dir / "test.raw", fs::perms::none);
    run_fails("lq2x_testbench: test.raw: Permission denied", unprivileged());
}

TEST_F(Testbench, ShortInputIsRejected)
{
    leave_earlier_output();
    write_file(dir / "test.raw", {});
    run_fails("lq2x_testbench: test.raw: too short: expected 48960 bytes, found 0");
    write_file(dir / "test.raw", bytes(INPUT_SIZE - 1, 7));
    run_fails("lq2x_testbench: test.raw: too short: expected 48960 bytes, found 48959");
}

TEST_F(Testbench, UnwritableOutputKeepsTheEarlierOne)
{
    write_file(dir / "test.raw", random_few_colours(14));
    leave_earlier_output();

    // The folder refuses new files.
    fs::permissions(dir, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    run_fails("lq2x_testbench: LQ2x.raw: cannot write: Permission denied", unprivileged());
    fs::permissions(dir, fs::perms::owner_write, fs::perm_options::add);

    // A file-size limit: the disk fills up part way through.
    run_fails("lq2x_testbench: LQ2x.raw: cannot write: File too large", file_size_limit(50000));

    // A folder where the output should go.
    fs::remove(dir / "LQ2x.raw");
    fs::create_directories(dir / "LQ2x.raw" / "inside");
    run_fails("lq2x_testbench: LQ2x.raw: cannot write: ");
}

// With SIGXFSZ at its default a write past the limit would end the bench and
// leave its temporary file; it ignores the signal and reports the error.
TEST_F(Testbench, FileSizeLimitWithTheDefaultSignal)
{
    write_file(dir / "test.raw", random_few_colours(15));
    leave_earlier_output();
    limits l = file_size_limit(50000);
    l.default_sigxfsz = true;
    run_fails("lq2x_testbench: LQ2x.raw: cannot write: File too large", l);
}

// Stopped while it writes its output (a file of no name beside it, or the
// name that file takes for a moment before its rename), then sent a signal:
// the bench ends by the signal and leaves nothing behind. Caught while the
// file was incomplete, the earlier output stays; once the file was complete,
// the signal may come just after the last check and find the output already
// replaced, but then whole, and the bench may even end normally before the
// signal's thread ends it. The write takes microseconds, so a stop can also
// land after the rename; such runs do not count, and each signal must be
// caught with the temporary file there at least once.
TEST_F(Testbench, SignalsRemoveTheTemporaryFile)
{
    const bytes input = random_few_colours(16);
    const bytes result = expected_output(input);
    write_file(dir / "test.raw", input);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(sig);
        int caught = 0, incomplete = 0;
        for (int attempt = 0; attempt < 200 && caught < 3; ++attempt) {
            leave_earlier_output();
            limits lim;
            lim.dir = dir;
            testing_support::started_program bench(TESTBENCH_PATH, {}, lim);
            const std::optional<std::uintmax_t> temp_size =
                testing_support::stop_while_writing(bench.pid(), dir, "LQ2x.raw.tmp");
            if (temp_size)
                ::kill(bench.pid(), sig);
            ::kill(bench.pid(), SIGCONT);
            const outcome o = bench.wait();
            if (!temp_size) {
                EXPECT_EQ(o.status, 0) << o.err;
                continue;
            }
            ++caught;
            EXPECT_EQ(listing(), (std::set<std::string>{"test.raw", "LQ2x.raw"}));
            const bytes now = read_file(dir / "LQ2x.raw");
            if (*temp_size < OUTPUT_SIZE) {
                ++incomplete;
                EXPECT_EQ(o.status, 128 + sig) << o.err;
                EXPECT_EQ(now, (bytes{'o', 'l', 'd'}));
            } else if (o.status == 0) { // renamed past the last check, then ended first
                EXPECT_EQ(now, result);
            } else {
                EXPECT_EQ(o.status, 128 + sig) << o.err;
                EXPECT_TRUE(now == bytes({'o', 'l', 'd'}) || now == result);
            }
        }
        EXPECT_GT(caught, 0);
        std::printf("signal %d: caught with the temporary file there %d times, %d of them incomplete\n", sig, caught,
                    incomplete);
    }
}

#ifdef FAIL_BIG_MALLOC_PATH
TEST_F(Testbench, OutOfMemoryIsReported)
{
    write_file(dir / "test.raw", bytes(INPUT_SIZE, 1));
    leave_earlier_output();
    run_fails("lq2x_testbench: out of memory", preloaded(FAIL_BIG_MALLOC_PATH));
}
#endif

} // namespace
