// lq2x: scales pixel-art images with the LQ2x rule.
//
//     lq2x [options] INPUT OUTPUT
//     lq2x [options] -o DIR INPUT...
//
// Exit status: 0 all done, 1 some input failed (the others are still done),
// 2 the command line was wrong (for a --tile-margin, only known once a file
// is decoded: that file is refused, the others are still done).
#include <lq2x/files.hpp>

#include "command_line.h"
#include "jobs.h"
#include "progress.h"

int main(int argc, char** argv)
{
    // Closed standard streams held, writes that fail as failures rather than
    // signals, temporary files removed by a signal: the library's rules for
    // a program that names files.
    lq2x::begin_program();
    tool::settings s;
    if (const std::optional<int> status = tool::read_command_line(argc, argv, s))
        return *status;
    return s.stream ? tool::run_stream(s) : tool::run_batch(s);
}
