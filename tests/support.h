// What the tests of files and of the tool share: the tool run end to end in
// a scratch folder, pictures to feed it, what the rule makes of them, and
// PNG files put together chunk by chunk with zlib, apart from the library.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "dispatch.h"
#include "formats.h"
#include "reference.h"
#include "run_program.h"

namespace files = lq2x::files;

namespace testing_support {

using bytes = std::vector<std::uint8_t>;

#ifdef TOOL_PATH
// The tool run end to end, as a user runs it, in a scratch folder of its own.
class tool_case : public ::testing::Test {
protected:
    // Runs the tool with `args` in the scratch folder.
    outcome lq2x(const std::vector<std::string>& args, run_options opt = {})
    {
        opt.dir = dir;
        return run_program(TOOL_PATH, args, opt);
    }

    scratch_dir scratch;
    const std::filesystem::path& dir = scratch.path();
};
#endif

// A picture of a few random colours in `kind`'s layout: grey for a grey
// kind; with alpha, some pixels clear (one colour of them with colour bits
// of its own) and one colour half covered; without, every pixel opaque.
files::image picture(int width, int height, files::layout kind, std::uint32_t seed);

// What the tool makes of a picture: clear pixels all zero, then the rule
// `passes` times, the first pass turned.
ref::image8888 scaled(files::image img, lq2x::orientation turn = lq2x::orientation::upright, int passes = 1);

// A picture's pixels as the model holds them.
inline ref::image8888 as_ref(const files::image& img) { return {img.width, img.height, img.pixels}; }

// ---- PNG files made chunk by chunk.

void put32(bytes& out, std::uint32_t v);
std::uint32_t get32(const std::uint8_t* p);
// zlib's stream of `raw` at level 9.
bytes deflated(const bytes& raw);

struct chunk {
    std::string type;
    bytes data;
};
// The signature and the chunks, each with its length and CRC.
bytes png_file(const std::vector<chunk>& chunks);
// One chunk's bytes, length to CRC.
bytes png_chunk(std::string_view type, const bytes& data);
// IHDR's data for a still image: width, height, depth, colour type, interlacing.
bytes png_header(std::uint32_t width, std::uint32_t height, int depth = 8, int colour = 0, bool interlaced = false);
// One-byte samples as PNG rows of `width` samples, each with filter 0 (none).
bytes unfiltered_rows(std::uint32_t width, const bytes& samples);
// An 8-bit grey PNG of these samples, rows unfiltered.
bytes grey_png(std::uint32_t width, const bytes& grey);

} // namespace testing_support
