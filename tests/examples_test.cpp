// The examples (examples/) run as a reader would run them, each checked
// against the tool doing the same job: the same bytes written, and on a
// refusal the same words, which are the library's.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <lq2x/files.hpp>
#include <lq2x/lq2x.hpp>

#include "support.h"

using namespace testing_support;

namespace {

class Examples : public tool_case {
protected:
    outcome example(const char* path, const std::vector<std::string>& args)
    {
        run_options opt;
        opt.dir = dir;
        opt.timeout_seconds = 60;
        return run_program(path, args, opt);
    }

    // The example's file and the tool's, byte for byte (a mismatch said by their sizes).
    static void expect_same(const std::filesystem::path& ours, const std::filesystem::path& tools)
    {
        const bytes a = read_file(ours), b = read_file(tools);
        EXPECT_TRUE(!a.empty() && a == b) << ours.filename() << " (" << a.size() << " bytes) is not "
                                          << tools.filename() << " (" << b.size() << " bytes)";
    }

};

// scale_file.c on a real picture, the project's sample made a PNG, in every
// format it can write and one a GIF cannot hold, and on a file that is no
// image: its output is the tool's byte for byte; it refuses what the tool
// refuses, in the library's words for a C caller.
TEST_F(Examples, ScaleFileDoesWhatTheToolDoes)
{
    ASSERT_EQ(lq2x({"--size", "160x102", SAMPLE_PATH, "sample.png"}).status, 0);
    write_file(dir / "notes.png", {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e', '\n'});
    struct job {
        std::string input, scale, output;
        bool made; // else refused, as the tool refuses it
    };
    const job jobs[] = {
        {"sample.png", "", "out.png", true},   {"sample.png", "4", "out4.png", true},
        {"sample.png", "8", "out8.ppm", true}, {"sample.png", "2", "out.webp", true},
        {"sample.png", "2", "out.pam", true},  {"sample.png", "2", "out.gif", false},
        {"notes.png", "", "notes-out.png", false},
    };
    for (const job& j : jobs) {
        SCOPED_TRACE(j.input + " " + j.scale + " " + j.output);
        std::vector<std::string> args = {j.input, "example-" + j.output}, tool_args = {j.input, "tool-" + j.output};
        if (!j.scale.empty()) {
            args.push_back(j.scale);
            tool_args.insert(tool_args.begin(), {"--scale", j.scale});
        }
        const outcome ours = example(SCALE_FILE_PATH, args), tools = lq2x(tool_args);
        if (j.made) {
            ASSERT_EQ(tools.status, 0) << tools.err;
            EXPECT_EQ(ours.status, 0) << ours.err;
            expect_same(dir / ("example-" + j.output), dir / ("tool-" + j.output));
        } else {
            ASSERT_EQ(tools.status, 1) << tools.err;
            EXPECT_EQ(ours.status, 1);
            EXPECT_FALSE(std::filesystem::exists(dir / ("example-" + j.output)));
            // The library's words for the same job, asked in this process.
            lq2x::options o;
            o.scale = j.scale.empty() ? 2 : std::stoi(j.scale);
            std::string why;
            try {
                (void)lq2x::scale_file(read_file(dir / j.input), o, {.out = lq2x::format_of_name(j.output)});
            } catch (const lq2x::file_error& e) {
                why = e.what();
            }
            EXPECT_EQ(ours.err, "scale_file: " + j.input + ": " + why + "\n");
        }
    }
    // A value the library refuses, in its words for a C caller.
    lq2x::options o;
    std::string why;
    ASSERT_NE(lq2x::set_option(o, "scale", "3", lq2x::door::c, why), lq2x::error::none);
    const outcome refused = example(SCALE_FILE_PATH, {"sample.png", "out3.png", "3"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.err, "scale_file: " + why + "\n");
}

// scale_pixels.cpp draws a sprite, scales it 4x turned clockwise with the
// typed C++ interface and writes both: the tool on its sprite writes the
// same bytes as its own result.
TEST_F(Examples, ScalePixelsWritesWhatTheToolWrites)
{
    const outcome o = example(SCALE_PIXELS_PATH, {dir.string()});
    ASSERT_EQ(o.status, 0) << o.err;
    ASSERT_EQ(lq2x({"--scale", "4", "--rotate", "cw", "sprite.png", "tool.png"}).status, 0);
    expect_same(dir / "sprite-4x.png", dir / "tool.png");
    const bytes result = read_file(dir / "sprite-4x.png");
    // Not the sprite itself, nor a blank: 64 x 64 pixels of both clear and opaque.
    const files::image scaled = files::decode(result, {});
    EXPECT_EQ(scaled.width, 64);
    EXPECT_EQ(scaled.height, 64);
    bool clear = false, opaque = false;
    for (const lq2x::pixel8888 p : scaled.pixels)
        (p >> 24 == 0 ? clear : opaque) = true;
    EXPECT_TRUE(clear && opaque);
}

} // namespace
