// The tool's command line: what it asks for, checked, and the files to do.
#pragma once

#include <optional>
#include <string>
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
    // --stream WxH: jobs holds one, a stream of frames of file.raw_width x
    // raw_height in this layout.
    bool stream = false;
    lq2x::layout pixel = lq2x::layout::rgb;
    int quiet = 0;           // -q: no progress; -qq: no warnings either
    std::size_t skipped = 0; // -r: files in the folders walked that are not images
};

// Reads the command line into `s`, or gives the exit status to end with at
// once: 0 after --help or --version, 2 after a usage error (said on
// standard error), 1 when an output folder cannot be made.
std::optional<int> read_command_line(int argc, char** argv, settings& s);

} // namespace tool
