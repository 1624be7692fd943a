// The lq2x tool against hostile files and awkward outputs, run end to end:
// memory stays bounded, numbers are read exactly, special files are written
// in place, signals leave no temporary file, no result is silently lost.
// The PNG files here are put together chunk by chunk (support.h), apart from libpng.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <thread>

#include "support.h"

using namespace testing_support;

namespace fs = std::filesystem;

namespace {

// Far below what each fault took (2 GiB, 1.2 GB, the whole input), far above
// what the tool needs for the small images here, sanitizers included: under
// AddressSanitizer a stream cut off at its 16 MiB limit took 101 to 104 MB
// (the freed buffers it grew through held back, and the tool itself 43 to
// 47 MB before reading a byte).
constexpr long SMALL_MEMORY_KB = 128 << 10;

void append(bytes& out, std::string_view s) { out.insert(out.end(), s.begin(), s.end()); }

// The signature and header of an 8-bit grey PNG.
bytes png_start(std::uint32_t width, std::uint32_t height) { return png_file({{"IHDR", png_header(width, height)}}); }

// What the tool must make of opaque grey samples.
ref::image8888 grey_model(int width, const bytes& grey)
{
    ref::image8888 img{width, int(grey.size()) / width, {}};
    for (const std::uint8_t g : grey)
        img.pixels.push_back(pixel8888(0xFF000000u | g << 16 | g << 8 | g));
    return ref::scale(img, lq2x::orientation::upright);
}

// The samples of a binary PGM, after checking its header.
bytes pgm_samples(const bytes& file, int width, int height)
{
    const std::string header = "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    if (file.size() != header.size() + std::size_t(width) * height || !std::equal(header.begin(), header.end(), file.begin()))
        return {};
    return bytes(file.begin() + std::ptrdiff_t(header.size()), file.end());
}

bytes model_grey(const ref::image8888& img)
{
    bytes g;
    for (const pixel8888 p : img.pixels)
        g.push_back(std::uint8_t(p & 0xFF));
    return g;
}

std::set<std::string> listing(const fs::path& dir)
{
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.insert(e.path().filename().string());
    return names;
}

std::size_t lines(const std::string& s) { return std::size_t(std::count(s.begin(), s.end(), '\n')); }

class ToolLimits : public testing_support::tool_case {
protected:
    outcome lq2x(const std::vector<std::string>& args, run_options opt = {})
    {
        opt.measure_memory = true;
        const outcome o = tool_case::lq2x(args, opt);
        EXPECT_GT(o.max_rss_kb, 0); // measured, so the memory checks mean something
        return o;
    }
};

// A chunk that claims 2 GiB and then the file ends: skipped, not allocated.
TEST_F(ToolLimits, AHugeChunkLengthTakesNoMemory)
{
    write_file(dir / "out.png", {'o', 'l', 'd'});
    for (const char* type : {"tEXt", "zTXt", "iTXt", "sPLT", "iCCP", "prVt"}) {
        bytes f = png_start(1, 1);
        put32(f, 0x7FFFFFFF);
        append(f, type);
        append(f, "abc");
        ASSERT_EQ(f.size(), 44u);
        write_file(dir / "hostile.png", f);
        const outcome o = lq2x({"hostile.png", "out.png"});
        EXPECT_EQ(o.status, 1) << type;
        EXPECT_EQ(o.err, "lq2x: hostile.png: truncated data\n") << type;
        EXPECT_LT(o.max_rss_kb, SMALL_MEMORY_KB) << type;
        EXPECT_EQ(listing(dir), (std::set<std::string>{"hostile.png", "out.png"}));
        EXPECT_EQ(read_file(dir / "out.png"), bytes({'o', 'l', 'd'}));
    }
    // In a batch, with a worker each.
    fs::create_directory(dir / "out");
    fs::copy_file(dir / "hostile.png", dir / "second.png");
    const outcome batch = lq2x({"--threads", "2", "-o", "out", "hostile.png", "second.png"});
    EXPECT_EQ(batch.status, 1);
    EXPECT_EQ(lines(batch.err), 2u) << batch.err;
    EXPECT_LT(batch.max_rss_kb, SMALL_MEMORY_KB);
    EXPECT_TRUE(fs::is_empty(dir / "out"));
}

// Text chunks that inflate to 60 MB each are never inflated: the image is read in small memory.
TEST_F(ToolLimits, InflatingTextChunksTakeNoMemory)
{
    const bytes grey = {10, 10, 200, 10, 200, 200, 10, 10, 10};
    bytes text;
    append(text, std::string_view("Comment\0", 8));
    text.push_back(0); // deflate
    const bytes packed = deflated(bytes(60'000'000, 'a'));
    text.insert(text.end(), packed.begin(), packed.end());
    const bytes ztxt = png_chunk("zTXt", text);
    bytes f = png_start(3, 3);
    for (int i = 0; i < 20; ++i)
        f.insert(f.end(), ztxt.begin(), ztxt.end());
    for (const bytes& c : {png_chunk("IDAT", deflated(testing_support::unfiltered_rows(3, grey))), png_chunk("IEND", {})})
        f.insert(f.end(), c.begin(), c.end());
    write_file(dir / "texts.png", f);

    const outcome o = lq2x({"texts.png", "out.pgm"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_LT(o.max_rss_kb, SMALL_MEMORY_KB);
    EXPECT_EQ(pgm_samples(read_file(dir / "out.pgm"), 6, 6), model_grey(grey_model(3, grey)));
}

// Inputs larger than any image within the limit are refused without being read.
TEST_F(ToolLimits, LargeInputsAreRefusedUnread)
{
    // 1 GiB that is not an image (sparse: it takes no disk), and 1 GiB that begins like one.
    for (const char* name : {"big.bin", "big.png"}) {
        const int fd = ::open((dir / name).c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        const bytes start = png_start(100, 100);
        if (std::string_view(name) == "big.png") {
            ASSERT_EQ(::write(fd, start.data(), start.size()), ssize_t(start.size()));
        }
        ASSERT_EQ(::ftruncate(fd, off_t{1} << 30), 0);
        ::close(fd);
    }
    const outcome junk = lq2x({"big.bin", "out.png"});
    EXPECT_EQ(junk.status, 1);
    EXPECT_EQ(junk.err, "lq2x: big.bin: not a PNG, GIF, WebP, PBM, PGM, PPM, PAM, BMP, TGA, ICO, CUR or PCX image\n");
    EXPECT_LT(junk.max_rss_kb, SMALL_MEMORY_KB);
    // The default limit, 2^28 output pixels, is 2^26 input pixels: 10 bytes each and 16 MiB.
    const outcome big = lq2x({"big.png", "out.png"});
    EXPECT_EQ(big.status, 1);
    EXPECT_EQ(big.err, "lq2x: big.png: input too large: over 687865856 bytes, more than an image within the limit "
                       "of 268435456 output pixels takes (--max-pixels raises it)\n");
    EXPECT_LT(big.max_rss_kb, SMALL_MEMORY_KB);

    // Endless standard input: zeros, and as raw RGB of a given size.
    run_options zero;
    zero.input_from = "/dev/zero";
    const outcome zeros = lq2x({"-", "out.png"}, zero);
    EXPECT_EQ(zeros.status, 1);
    EXPECT_EQ(zeros.err, "lq2x: standard input: not a PNG, GIF, WebP, PBM, PGM, PPM, PAM, BMP, TGA, ICO, CUR or PCX image\n");
    const outcome raw = lq2x({"--size", "2x2", "-", "out.raw"}, zero);
    EXPECT_EQ(raw.status, 1);
    EXPECT_EQ(raw.err, "lq2x: standard input: raw RGB of 2 x 2 is 12 bytes, the input has more\n");
    EXPECT_FALSE(fs::exists(dir / "out.png"));
    EXPECT_FALSE(fs::exists(dir / "out.raw"));
}

// A stream that begins like a PNG and never ends is refused once past the limit.
// A stream that begins like a PNG and never ends is refused once past the
// limit, having held no more than it; one whose header says too large a
// picture is refused from its first bytes.
TEST_F(ToolLimits, AnEndlessStreamIsCutOffAtTheLimit)
{
    ::signal(SIGPIPE, SIG_IGN); // the writer below learns of the tool's end from EPIPE
    const fs::path fifo = dir / "feed";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // 4096 / 4 input pixels: 10240 bytes and 16 MiB; 16 x 16 is within them, 64 x 64 not.
    const struct {
        std::uint32_t side;
        const char* err;
        std::size_t most_written;
    } cases[] = {
        {16, "lq2x: standard input: input too large: over 16787456 bytes, more than an image within the limit "
             "of 4096 output pixels takes (--max-pixels raises it)\n", std::size_t{64} << 20},
        {64, "lq2x: standard input: image too large: 64 x 64 pixels scale to 16384, over the limit of 4096 "
             "(--max-pixels raises it)\n", std::size_t{4} << 20},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.side);
        std::size_t written = 0;
        std::thread writer([&] {
            const int fd = ::open(fifo.c_str(), O_WRONLY);
            if (fd < 0)
                return;
            bytes head = png_start(c.side, c.side);
            put32(head, 0x7FFFFFFF);
            append(head, "IDAT");
            ssize_t n = ::write(fd, head.data(), head.size());
            const bytes piece(1 << 20, 0x55);
            while (n > 0 && written < (std::size_t{1} << 30)) // 1 GiB at most, should the tool read on
                if ((n = ::write(fd, piece.data(), piece.size())) > 0)
                    written += std::size_t(n);
            ::close(fd);
        });
        run_options opt;
        opt.input_from = fifo;
        const outcome o = lq2x({"--max-pixels", "4096", "-", "out.png"}, opt);
        writer.join();
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(o.err, c.err);
        EXPECT_LT(o.max_rss_kb, SMALL_MEMORY_KB);
        EXPECT_LT(written, c.most_written);
    }
}

TEST_F(ToolLimits, CommandLineNumbersAreReadExactly)
{
    const std::pair<std::vector<std::string>, const char*> refused[] = {
        {{"--size", "4294967297x1"}, "lq2x: --size: wants WIDTHxHEIGHT, each from 1 to 1073741824, "
                                     "not '4294967297x1'\n"},
        {{"--size", "99999999999x99999999999"}, nullptr},
        {{"--size", "0x5"}, nullptr},
        {{"--size", "-1x5"}, nullptr},
        {{"--size", "12x"}, nullptr},
        {{"--size", "3x4 "}, nullptr},
        {{"--size", "1073741825x1"}, nullptr},
        {{"--max-pixels", "-1"}, "lq2x: --max-pixels: wants a whole number of pixels (0: no limit), not -1\n"},
        {{"--max-pixels", "18446744073709551616"}, nullptr},
        {{"--max-pixels", "1e9"}, nullptr},
        {{"--threads", "-1"}, "lq2x: --threads: wants a whole number from 0 to 1024, not -1\n"},
        {{"--threads", "2x"}, nullptr},
        {{"--threads", "99999999999999999999999"}, nullptr},
        {{"--png-level", "13"}, "lq2x: --png-level: wants a whole number from 0 to 12, not 13\n"},
        {{"--png-level", "+5"}, nullptr},
        {{"--png-level", ""}, nullptr},
        {{"--scale", "3"}, "lq2x: --scale: wants 2, 4 or 8, not 3\n"},
        {{"--scale", "016"}, nullptr},
        {{"--scale", "4.0"}, nullptr},
    };
    for (const auto& [args, message] : refused) {
        std::vector<std::string> all = args;
        all.insert(all.end(), {"in.raw", "out.raw"});
        const outcome o = lq2x(all);
        EXPECT_EQ(o.status, 2) << args[0] << ' ' << args[1];
        EXPECT_EQ(lines(o.err), 1u) << o.err;
        EXPECT_LT(o.err.size(), 120u) << o.err;
        EXPECT_EQ(o.err.find("lq2x: " + args[0] + ": "), 0u) << o.err;
        if (message) {
            EXPECT_EQ(o.err, message);
        }
    }
    // Nothing after '=' is no value, not a cue to take the next argument.
    for (const char* name : {"--scale", "--max-pixels", "--frame", "--threads", "--format"}) {
        const outcome o = lq2x({std::string(name) + "=", "4", "in.raw", "out.raw"});
        EXPECT_EQ(o.status, 2) << name;
        EXPECT_EQ(o.err, "lq2x: " + std::string(name) + ": no value after '='\n");
    }
    // The largest accepted values work, leading zeros as anywhere else.
    write_file(dir / "in.raw", bytes(12, 7));
    const outcome ok = lq2x({"--size", "2x2", "--threads", "1024", "--png-level", "12", "--max-pixels",
                             "281474976710656", "--scale", "08", "in.raw", "out.raw"});
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_EQ(read_file(dir / "out.raw"), bytes(16 * 16 * 3, 7));
}

// A name with a newline or other control characters stays on its one line,
// in failures and usage errors alike.
TEST_F(ToolLimits, NamesWithControlCharactersStayOnOneLine)
{
    write_file(dir / "in\tx.png", grey_png(2, bytes(4, 9)));
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err;
    } cases[] = {
        {{"a\nb\x01.png", "out.png"}, 1, "lq2x: a\\nb\\x01.png: No such file or directory\n"},
        {{"in\tx.png", "out\n.what"}, 2, "lq2x: cannot tell the output format from 'out\\n.what' (name it .png, .gif, "
                                        ".webp, .ppm, .pgm, .pam, .pnm or .raw, or give --format)\n"},
        {{"-o", "o", "in\tx.png", "./in\tx.png"}, 2, "lq2x: in\\tx.png and ./in\\tx.png would both be written to o/in\\tx.png\n"},
        {{"--scale", "4\n", "in\tx.png", "out.png"}, 2, "lq2x: --scale: wants 2, 4 or 8, not '4\\n'\n"},
        {{"--no\nsuch", "in\tx.png", "out.png"}, 2, "lq2x: unknown option '--no\\nsuch' (--help lists them)\n"},
    };
    for (const auto& c : cases) {
        const outcome o = lq2x(c.args);
        EXPECT_EQ(o.status, c.status) << c.err;
        EXPECT_EQ(o.err, c.err);
    }
    EXPECT_EQ(listing(dir), std::set<std::string>{"in\tx.png"});
}

// Standard input that is a file counts as an input, and is never the output.
TEST_F(ToolLimits, StandardInputIsNeverOverwritten)
{
    const bytes png = grey_png(2, {1, 2, 3, 4});
    write_file(dir / "in.png", png);
    run_options opt;
    opt.input_from = dir / "in.png";
    const outcome o = lq2x({"-", "in.png"}, opt);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "lq2x: in.png: is the input file; refusing to write over it\n");
    EXPECT_EQ(read_file(dir / "in.png"), png);
}

// FIFOs and devices are written to as they are, never replaced by a file.
TEST_F(ToolLimits, SpecialOutputsAreWrittenInPlace)
{
    const bytes grey = {0, 50, 50, 0, 0, 50};
    write_file(dir / "in.png", grey_png(3, grey));
    const fs::path fifo = dir / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    bytes got;
    std::thread reader([&] {
        // Opened without waiting for a writer, and read until the writer has
        // come and gone, or for 20 s should none come.
        const int fd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); // not the tool's too
        std::uint8_t buffer[4096];
        for (pollfd p{fd, POLLIN, 0}; fd >= 0 && ::poll(&p, 1, 20'000) > 0;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0 && !(n < 0 && errno == EAGAIN))
                break;
            if (n > 0)
                got.insert(got.end(), buffer, buffer + n);
        }
        if (fd >= 0)
            ::close(fd);
    });
    const outcome o = lq2x({"--format", "pgm", "in.png", "pipe"});
    reader.join();
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(pgm_samples(got, 6, 4), model_grey(grey_model(3, grey)));
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_EQ(listing(dir), (std::set<std::string>{"in.png", "pipe"}));

    // A device of our own, the null device's numbers (root may make one).
    const fs::path null = dir / "null";
    if (::mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
        GTEST_SKIP() << "cannot make a device node here";
    const outcome d = lq2x({"--format", "ppm", "in.png", "null"});
    EXPECT_EQ(d.status, 0) << d.err;
    EXPECT_TRUE(fs::is_character_file(null));
    EXPECT_EQ(listing(dir), (std::set<std::string>{"in.png", "pipe", "null"}));
}

// Reads one byte from a FIFO and closes it, as `head -c 1` does: the writer's
// next write past the pipe's buffer fails. Gives up after 60 s without a writer.
std::thread first_byte_then_close(const fs::path& fifo)
{
    return std::thread([fifo] {
        const int fd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); // not the tool's too
        std::uint8_t byte;
        for (pollfd p{fd, POLLIN, 0}; fd >= 0 && ::poll(&p, 1, 60'000) > 0;)
            if (::read(fd, &byte, 1) != -1 || errno != EAGAIN)
                break;
        if (fd >= 0)
            ::close(fd);
    });
}

// An output whose reader goes away early fails on its own, in one line: the
// other files are done, no temporary file is left, and the tool is not ended
// by SIGPIPE.
TEST_F(ToolLimits, AnOutputWhoseReaderLeavesFailsAlone)
{
    // 600 x 600 scaled: a 4.3 MB PPM, far past a pipe's buffer of 1 MiB.
    bytes ppm = {'P', '6', '\n', '6', '0', '0', ' ', '6', '0', '0', '\n', '2', '5', '5', '\n'};
    for (int i = 0; i < 600 * 600 * 3; ++i)
        ppm.push_back(std::uint8_t(i / 3 % 7 * 40));
    for (const char* name : {"a.ppm", "b.ppm", "c.ppm"})
        write_file(dir / name, ppm);
    const std::uintmax_t whole = 17 + 1200 * 1200 * 3; // "P6\n1200 1200\n255\n" and the pixels
    fs::create_directory(dir / "out");
    ASSERT_EQ(::mkfifo((dir / "out/a.ppm").c_str(), 0600), 0);
    std::thread reader = first_byte_then_close(dir / "out/a.ppm");
    const outcome batch = lq2x({"--threads", "2", "-o", "out", "a.ppm", "b.ppm", "c.ppm"});
    reader.join();
    EXPECT_EQ(batch.status, 1);
    EXPECT_EQ(batch.err, "lq2x: out/a.ppm: cannot write: Broken pipe\n");
    EXPECT_EQ(listing(dir / "out"), (std::set<std::string>{"a.ppm", "b.ppm", "c.ppm"}));
    EXPECT_EQ(fs::file_size(dir / "out/b.ppm"), whole);
    EXPECT_EQ(read_file(dir / "out/c.ppm"), read_file(dir / "out/b.ppm"));

    // One file to standard output, a pipe read the same way.
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    reader = first_byte_then_close(dir / "pipe");
    run_options opt;
    opt.output_to = dir / "pipe";
    const outcome single = lq2x({"a.ppm", "-"}, opt);
    reader.join();
    EXPECT_EQ(single.status, 1);
    EXPECT_EQ(single.err, "lq2x: standard output: cannot write: Broken pipe\n");
}

// Starts the tool, stops it while it writes its output (a file of no name
// until it is whole), sends `sig` and lets it go on: it must end by the
// signal and leave nothing but the files that were there.
// Caught before the file was complete (as it all but always is: the write
// takes milliseconds), the earlier output stays; with the file complete the
// signal may come just after the last check, and the output is then whole
// (and the tool may even end normally before the signal's thread ends it).
// On a loaded machine the tool may finish before it can be stopped, which
// shows nothing about signals: that run must have written its output whole,
// and another is started, five at most.
void signal_while_writing(const fs::path& dir, int sig, bool named)
{
    constexpr std::uintmax_t WHOLE = 17 + 4000 * 4000 * 3; // "P6\n4000 4000\n255\n" and the pixels
    for (int attempt = 0; attempt < 5; ++attempt) {
        write_file(dir / "out.ppm", {'o', 'l', 'd'});
        run_options opt;
        opt.dir = dir;
        if (named)
            opt.environment = {{"LQ2X_NAMED_TEMPORARIES", "1"}};
        testing_support::started_program tool(TOOL_PATH, {"--scale", "4", "in.png", "out.ppm"}, opt);
        const std::optional<std::uintmax_t> temp_size = testing_support::stop_while_writing(tool.pid(), dir, "out.ppm.");
        if (!temp_size) {
            ::kill(tool.pid(), SIGCONT);
            const outcome late = tool.wait();
            EXPECT_EQ(late.status, 0) << late.err;
            EXPECT_EQ(fs::file_size(dir / "out.ppm"), WHOLE);
            continue;
        }
        ::kill(tool.pid(), sig);
        ::kill(tool.pid(), SIGCONT);
        const outcome o = tool.wait();
        EXPECT_EQ(listing(dir), (std::set<std::string>{"in.png", "out.ppm"}));
        if (*temp_size < WHOLE) {
            EXPECT_EQ(o.status, 128 + sig) << o.err;
            EXPECT_EQ(read_file(dir / "out.ppm"), bytes({'o', 'l', 'd'}));
        } else {
            const std::uintmax_t size = fs::file_size(dir / "out.ppm");
            EXPECT_TRUE(o.status == 0 || o.status == 128 + sig) << o.status << o.err;
            EXPECT_TRUE(size == WHOLE || (o.status != 0 && size == 3)) << size;
        }
        return;
    }
    ADD_FAILURE() << "the tool was never caught writing, in five runs";
}

TEST_F(ToolLimits, SignalsRemoveTheTemporaryFile)
{
    // 1000 x 1000 scaled 4x: a 48 MB PPM, far from written the moment its file appears.
    bytes grey(1000 * 1000);
    for (std::size_t i = 0; i < grey.size(); ++i)
        grey[i] = std::uint8_t((i / 7 + i / 3000) % 3 * 60);
    write_file(dir / "in.png", grey_png(1000, grey));
    // Files of no name where the file system has them; named ones elsewhere.
    for (const bool named : {false, true})
        for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
            SCOPED_TRACE(std::to_string(sig) + (named ? " named" : " unnamed"));
            signal_while_writing(dir, sig, named);
        }
}

// Two inputs that would write the same output name are refused before anything is written.
TEST_F(ToolLimits, TwoInputsForOneOutputAreAUsageError)
{
    for (const char* sub : {"a", "b", "out"})
        fs::create_directory(dir / sub);
    const bytes ppm = {'P', '6', '\n', '1', ' ', '1', '\n', '2', '5', '5', '\n', 1, 2, 3};
    write_file(dir / "a/x.ppm", ppm);
    write_file(dir / "b/x.ppm", ppm);
    write_file(dir / "a/x.png", grey_png(1, {9}));
    const outcome o = lq2x({"-o", "out", "a/x.ppm", "b/x.ppm"});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err, "lq2x: a/x.ppm and b/x.ppm would both be written to out/x.ppm\n");
    const outcome f = lq2x({"--format", "png", "-o", "out/", "a/x.png", "b/x.ppm"});
    EXPECT_EQ(f.status, 2);
    EXPECT_EQ(f.err, "lq2x: a/x.png and b/x.ppm would both be written to out/x.png\n");
    EXPECT_TRUE(fs::is_empty(dir / "out"));
}

// libpng stops at a million pixels wide by default; the tool reads and writes what its own limit allows.
TEST_F(ToolLimits, AMillionAndOnePixelsWide)
{
    constexpr int WIDTH = 1'000'001;
    bytes grey(WIDTH);
    for (std::size_t i = 0; i < grey.size(); ++i)
        grey[i] = i % 5 == 0 ? 200 : 30;
    write_file(dir / "wide.png", grey_png(WIDTH, grey));
    const outcome o = lq2x({"wide.png", "wide.pgm"});
    ASSERT_EQ(o.status, 0) << o.err;
    const bytes want = model_grey(grey_model(WIDTH, grey));
    EXPECT_EQ(pgm_samples(read_file(dir / "wide.pgm"), 2 * WIDTH, 2), want);
    // And as PNG, read back through the PGM route: the same samples.
    ASSERT_EQ(lq2x({"wide.png", "wide2.png"}).status, 0);
    const files::image back = files::decode(read_file(dir / "wide2.png"), {});
    ASSERT_EQ(back.width, 2 * WIDTH);
    bytes samples;
    for (std::size_t i = 0; i < back.pixels.size(); ++i)
        samples.push_back(back.bytes()[4 * i]);
    EXPECT_EQ(samples, want);
}

TEST_F(ToolLimits, OutputFailuresNameTheOutput)
{
    bytes grey(16 * 16);
    for (std::size_t i = 0; i < grey.size(); ++i)
        grey[i] = std::uint8_t(i * 37 % 251);
    write_file(dir / "in.png", grey_png(16, grey));
    const outcome o = lq2x({"in.png", "no/such/dir/out.png"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "lq2x: no/such/dir/out.png: cannot write: No such file or directory\n");
    write_file(dir / "out.png", {'o', 'l', 'd'});
    for (const bool default_signal : {false, true}) { // SIGXFSZ ignored, or at its default
        run_options small;
        small.max_file_bytes = 100; // the message fits, the output does not
        small.default_sigxfsz = default_signal;
        const outcome full = lq2x({"in.png", "out.png"}, small);
        EXPECT_EQ(full.status, 1);
        EXPECT_EQ(full.err, "lq2x: out.png: cannot write: File too large\n");
        EXPECT_EQ(listing(dir), (std::set<std::string>{"in.png", "out.png"}));
        EXPECT_EQ(read_file(dir / "out.png"), bytes({'o', 'l', 'd'}));
    }
}

TEST_F(ToolLimits, AnOutputNameOfAnyValidLengthWorks)
{
    write_file(dir / "in.png", grey_png(2, {1, 2, 3, 4}));
    const std::string name = std::string(250, 'n') + ".png"; // 254 bytes; 255 is the most
    const outcome o = lq2x({"in.png", name});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(listing(dir), (std::set<std::string>{"in.png", name}));
    write_file(dir / name, {'o', 'l', 'd'});
    EXPECT_EQ(lq2x({"in.png", name}).status, 0); // replaced as well
    EXPECT_EQ(files::decode(read_file(dir / name), {}).width, 4);
}

TEST_F(ToolLimits, AReplacedOutputKeepsItsPermissions)
{
    write_file(dir / "in.png", grey_png(2, {1, 2, 3, 4}));
    for (const auto mode : {fs::perms(0640), fs::perms(0755), fs::perms(0600)}) {
        write_file(dir / "out.png", {'o', 'l', 'd'});
        fs::permissions(dir / "out.png", mode);
        ASSERT_EQ(lq2x({"in.png", "out.png"}).status, 0);
        EXPECT_EQ(fs::status(dir / "out.png").permissions(), mode);
        EXPECT_EQ(files::decode(read_file(dir / "out.png"), {}).width, 4);
    }
}

// Fully transparent pixels are zeroed before RGB565 drops alpha, so their colour never shows.
TEST_F(ToolLimits, Rgb565HidesTransparentColour)
{
    const std::string header = "P7\nWIDTH 2\nHEIGHT 1\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
    bytes pam(header.begin(), header.end());
    pam.insert(pam.end(), {255, 0, 0, 0, 0, 0, 255, 255}); // invisible red, opaque blue
    write_file(dir / "t.pam", pam);
    for (const char* mode : {"--rgb565", "--scale=2"}) {
        const outcome o = lq2x({mode, "t.pam", "t.ppm"});
        ASSERT_EQ(o.status, 0) << o.err;
        const bytes ppm = read_file(dir / "t.ppm");
        const std::string want_header = "P6\n4 2\n255\n";
        ASSERT_EQ(ppm.size(), want_header.size() + 4 * 2 * 3) << mode;
        for (std::size_t i = want_header.size(); i < ppm.size(); i += 3)
            EXPECT_EQ(ppm[i], 0) << mode << ": red shows at byte " << i;
        EXPECT_NE(ppm[want_header.size() + 3 * 3 + 2], 0) << mode; // the blue pixel's own block
    }
}

// Without --format, standard output gets the input's own format.
TEST_F(ToolLimits, StandardOutputKeepsTheInputFormat)
{
    const std::string pam_header = "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
    bytes pam(pam_header.begin(), pam_header.end());
    pam.insert(pam.end(), {1, 2, 3, 128});
    write_file(dir / "in.pam", pam);
    write_file(dir / "in.png", grey_png(1, {7}));
    write_file(dir / "in.ppm", {'P', '6', '\n', '1', ' ', '1', '\n', '2', '5', '5', '\n', 1, 2, 3});
    const std::pair<const char*, std::string> cases[] = {
        {"in.pam", "P7\nWIDTH 2\nHEIGHT 2\nDEPTH 4\n"},
        {"in.png", "\x89PNG"},
        {"in.ppm", "P6\n2 2\n255\n"},
    };
    for (const auto& [in, start] : cases) {
        const outcome o = lq2x({in, "-"});
        ASSERT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(o.out.substr(0, start.size()), start) << in;
    }
}

} // namespace
