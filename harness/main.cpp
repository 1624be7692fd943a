// The test bench: reads a 160 x 102 frame of 24-bit RGB from "test.raw" in the
// working directory, scales and turns it, and writes the 204 x 320 result to
// "LQ2x.raw" there. Arguments are ignored. It prints nothing when it works;
// on any failure it prints one line on standard error, exits with status 1 and
// leaves any earlier "LQ2x.raw" as it was. Ended by SIGINT, SIGTERM or SIGHUP
// it removes its temporary file first.

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include <lq2x/lq2x_frame.h>
#include <lq2x/pixel565.h>

namespace {

constexpr int FRAME_WIDTH = 160;
constexpr int FRAME_HEIGHT = 102;
constexpr const char* INPUT_NAME = "test.raw";
constexpr const char* OUTPUT_NAME = "LQ2x.raw";
constexpr std::size_t INPUT_BYTES = 3 * std::size_t{FRAME_WIDTH} * FRAME_HEIGHT;
constexpr std::size_t OUTPUT_PIXELS = 4 * std::size_t{FRAME_WIDTH} * FRAME_HEIGHT;

// The temporary output while it exists, for the signal handler to remove.
char temporary[64];
volatile std::sig_atomic_t temporary_exists = 0;

extern "C" void on_signal(int sig)
{
    if (temporary_exists)
        ::unlink(temporary);
    std::signal(sig, SIG_DFL); // and end as the signal would have
    std::raise(sig);
}

constexpr int ENDING_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

void handle_signals()
{
    for (const int sig : ENDING_SIGNALS) {
        struct sigaction old {};
        if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) // nohup stays nohup
            std::signal(sig, on_signal);
    }
    // A write past a file-size limit fails with EFBIG, and is handled as the write error it is.
    std::signal(SIGXFSZ, SIG_IGN);
}

// Holds the ending signals off while the temporary file and what the handler knows of it change together.
struct signals_held {
    sigset_t old;
    signals_held()
    {
        sigset_t set;
        sigemptyset(&set);
        for (const int sig : ENDING_SIGNALS)
            sigaddset(&set, sig);
        ::sigprocmask(SIG_BLOCK, &set, &old);
    }
    ~signals_held() { ::sigprocmask(SIG_SETMASK, &old, nullptr); }
};

bool signal_pending()
{
    sigset_t pending;
    ::sigpending(&pending);
    for (const int sig : ENDING_SIGNALS)
        if (::sigismember(&pending, sig) == 1)
            return true;
    return false;
}

int fail(const std::string& what)
{
    std::fprintf(stderr, "lq2x_testbench: %s\n", what.c_str());
    return 1;
}

std::string because(const char* file, const std::string& reason) { return std::string(file) + ": " + reason; }

// Reads the whole frame; an empty string means success, anything else is the reason it failed.
std::string read_input(std::vector<std::uint8_t>& bytes)
{
    std::FILE* f = std::fopen(INPUT_NAME, "rb");
    if (!f)
        return std::strerror(errno);
    errno = 0;
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), f);
    const bool error = std::ferror(f);
    const int saved = errno;
    std::fclose(f);
    if (error)
        return saved ? std::strerror(saved) : "read error";
    if (got < bytes.size())
        return "too short: expected " + std::to_string(bytes.size()) + " bytes, found " + std::to_string(got);
    return {};
}

// Writes to a fresh file beside the output and renames it into place only once
// it is complete and closed, so a failed run never leaves a truncated output.
std::string write_output(const std::vector<std::uint8_t>& bytes)
{
    std::string temp;
    std::FILE* f = nullptr;
    {
        const signals_held held;
        // A name no other file has: "x" refuses to open one that exists.
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        for (int attempt = 0; attempt < 16 && !f; ++attempt) {
            temp = std::string(OUTPUT_NAME) + ".tmp" + std::to_string((stamp + attempt) % 1000000007);
            errno = 0;
            f = std::fopen(temp.c_str(), "wbx");
            if (!f && errno != EEXIST)
                break;
        }
        if (!f)
            return std::strerror(errno ? errno : EEXIST);
        std::snprintf(temporary, sizeof temporary, "%s", temp.c_str());
        temporary_exists = 1;
    }

    errno = 0;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() && std::fflush(f) == 0;
    const int saved = errno;
    const bool closed = std::fclose(f) == 0;
    const signals_held held;
    temporary_exists = 0;
    std::error_code ec;
    if (signal_pending()) { // the run is ending: leave the output as it was
        std::filesystem::remove(temp, ec);
        return "interrupted";
    }
    if (!written || !closed) {
        std::filesystem::remove(temp, ec);
        return saved ? std::strerror(saved) : "write error";
    }
    std::filesystem::rename(temp, OUTPUT_NAME, ec);
    if (ec) {
        std::error_code ignored;
        std::filesystem::remove(temp, ignored);
        return ec.message();
    }
    return {};
}

} // namespace

int main()
{
    handle_signals();
    try {
        std::vector<std::uint8_t> input(INPUT_BYTES);
        if (const std::string why = read_input(input); !why.empty())
            return fail(because(INPUT_NAME, why));

        std::vector<pixel565> source(std::size_t{FRAME_WIDTH} * FRAME_HEIGHT);
        for (std::size_t i = 0; i < source.size(); ++i)
            source[i] = lq2x::rgb888_to_565(input[3 * i], input[3 * i + 1], input[3 * i + 2]);

        std::vector<pixel565> output(OUTPUT_PIXELS);
        lq2x_frame(source.data(), 2 * FRAME_WIDTH, output.data(), 4 * FRAME_HEIGHT, FRAME_WIDTH, FRAME_HEIGHT);

        std::vector<std::uint8_t> bytes(3 * OUTPUT_PIXELS);
        for (std::size_t i = 0; i < output.size(); ++i) {
            const auto rgb = lq2x::rgb565_to_888(output[i]);
            bytes[3 * i] = rgb[0];
            bytes[3 * i + 1] = rgb[1];
            bytes[3 * i + 2] = rgb[2];
        }
        if (const std::string why = write_output(bytes); !why.empty())
            return fail(because(OUTPUT_NAME, "cannot write: " + why));
        return 0;
    } catch (const std::bad_alloc&) {
        return fail("out of memory");
    }
}
