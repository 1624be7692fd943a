// The tool's command line: what it asks for, checked, and the files to do.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <lq2x/files.hpp>

namespace tool {

// One input and the output it goes to ("-": standard input or output).
struct job {
    std::string input, output;
};

struct settings {
    lq2x::options scale;     // threads: what one job may use
    lq2x::file_options file; // out: --format, or format::same to go by each output's name
    std::vector<job> jobs;
    unsigned cores = 1;      // --threads, or one per hardware thread
    // --stream WxH: jobs holds one, a stream of frames of this size and layout.
    std::optional<std::pair<int, int>> stream;
    lq2x::layout pixel = lq2x::layout::rgb;
};

// Reads the command line into `s`, or gives the exit status to end with at
// once: 0 after --help or --version, 2 after a usage error (said on
// standard error).
std::optional<int> read_command_line(int argc, char** argv, settings& s);

} // namespace tool
