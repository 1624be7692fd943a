// lq2x: scales pixel-art images with the LQ2x rule.
//
//     lq2x [options] INPUT OUTPUT
//     lq2x [options] -o DIR INPUT...
//
// Exit status: 0 all done, 1 some input failed (the others are still done),
// 2 the command line was wrong (for a --tile-margin, only known once a file
// is decoded: that file is refused, the others are still done).
#include <csignal>

#include "command_line.h"
#include "file_io.h"
#include "jobs.h"
#include "progress.h"

int main(int argc, char** argv)
{
    const io::standard_streams closed = io::hold_standard_streams();
    tool::settings s;
    if (const std::optional<int> status = tool::read_command_line(argc, argv, s))
        return *status;
    // "-" for a stream the tool was started without: refused before any work.
    for (const tool::job& j : s.jobs)
        if ((j.input == "-" && closed.input) || (j.output == "-" && closed.output)) {
            tool::progress(1, false).failed("-", "closed", j.output == "-" && closed.output);
            return 1;
        }
    // A write past a file-size limit, or to a pipe whose reader has gone,
    // fails (EFBIG, EPIPE) like any other, instead of ending the process.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    io::remove_temporaries_on_signals();
    return s.stream ? tool::run_stream(s) : tool::run_batch(s);
}
