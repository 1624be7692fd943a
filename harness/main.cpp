// The test bench: reads a 160 x 102 frame of 24-bit RGB from "test.raw" in the
// working directory, scales and turns it, and writes the 204 x 320 result to
// "LQ2x.raw" there. Arguments are ignored. It prints nothing when it works;
// on any failure it prints one line on standard error, exits with status 1 and
// leaves any earlier "LQ2x.raw" as it was.

#include <cerrno>
#include <chrono>
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

    errno = 0;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() && std::fflush(f) == 0;
    const int saved = errno;
    const bool closed = std::fclose(f) == 0;
    std::error_code ec;
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
