// The tool's work: every file of a batch, or one frame stream, each through
// the files library's entry for files on disk.
#pragma once

#include "command_line.h"

namespace tool {

// Every job, several at once on the cores given (a single file gets them
// all); exit status 0 (outputs kept by -n included), 1 when some input
// failed, 2 when some file was a usage error (a grid that leaves no cell in
// it), which wins over 1.
int run_batch(const settings& s);

// The one job as a stream of frames: read, scaled and written one at a
// time, each as soon as it is done. Exit status 0, 1, or 2 for a grid that
// leaves no cell in a frame.
int run_stream(const settings& s);

} // namespace tool
