// The test bench: reads a 160 x 102 frame of 24-bit RGB from "test.raw" in the
// working directory, scales and turns it, and writes the 204 x 320 result to
// "LQ2x.raw" there. Arguments are ignored. It prints nothing when it works;
// on any failure it prints one line on standard error, exits with status 1 and
// leaves any earlier "LQ2x.raw" as it was. Ended by SIGINT, SIGTERM or SIGHUP
// it removes its temporary file first.

#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include <lq2x/lq2x_frame.h>
#include <lq2x/pixel565.h>

#include "disk.h"

namespace {

constexpr int FRAME_WIDTH = 160;
constexpr int FRAME_HEIGHT = 102;
constexpr const char* INPUT_NAME = "test.raw";
constexpr const char* OUTPUT_NAME = "LQ2x.raw";
constexpr std::size_t INPUT_BYTES = 3 * std::size_t{FRAME_WIDTH} * FRAME_HEIGHT;
constexpr std::size_t OUTPUT_PIXELS = 4 * std::size_t{FRAME_WIDTH} * FRAME_HEIGHT;

int fail(const char* file, const std::string& why)
{
    std::fprintf(stderr, "lq2x_testbench: %s%s%s\n", file, *file ? ": " : "", why.c_str());
    return 1;
}

// The whole frame; what follows it in the file is not read.
std::vector<std::uint8_t> read_input()
{
    std::vector<std::uint8_t> bytes(INPUT_BYTES);
    lq2x::disk::input in(INPUT_NAME);
    if (const std::size_t got = in.read(bytes); got < bytes.size())
        throw lq2x::disk::failure(lq2x::error::bad_file, false,
                                  "too short: expected " + std::to_string(bytes.size()) + " bytes, found " +
                                      std::to_string(got));
    return bytes;
}

} // namespace

int main()
{
    // A closed standard error would otherwise be the next file opened; a
    // write past a file-size limit fails with EFBIG, and is handled as the
    // write error it is; a signal removes the temporary file.
    lq2x::disk::begin_program();
    try {
        std::vector<std::uint8_t> input;
        try {
            input = read_input();
        } catch (const lq2x::disk::failure& e) {
            return fail(INPUT_NAME, e.what());
        }

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
        // Written beside the output and renamed into place once complete, so
        // a failed run never leaves a truncated output.
        lq2x::disk::write_whole(OUTPUT_NAME, bytes);
        return 0;
    } catch (const lq2x::disk::failure& e) {
        return fail(OUTPUT_NAME, e.what());
    } catch (const std::bad_alloc&) {
        return fail("", "out of memory");
    }
}
