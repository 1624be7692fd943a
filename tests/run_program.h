// Runs a built program as a separate process, as a user would.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

// A whole file's bytes, and a file of exactly these bytes.
std::vector<std::uint8_t> read_file(const std::filesystem::path& p);
void write_file(const std::filesystem::path& p, const std::vector<std::uint8_t>& b);

struct outcome {
    int status = -1; // exit status, or 128 + signal (128 + SIGKILL when it ran past its time)
    std::string out, err;
    long max_rss_kb = 0; // with run_options::measure_memory: the program's peak resident memory in KiB
};

struct run_options {
    std::filesystem::path dir = ".";  // working directory
    std::string input;                // standard input
    std::filesystem::path input_from; // or standard input opened from this path (a device, a FIFO)
    std::filesystem::path output_to;  // standard output opened on this path (a FIFO) rather than kept
    bool close_input = false;         // start it with standard input closed (<&-)
    bool close_output = false;        // with standard output closed (>&-)
    int timeout_seconds = 300;        // then killed (SIGKILL): a hang fails its test instead of stalling the suite
    long max_file_bytes = -1;         // RLIMIT_FSIZE, with SIGXFSZ ignored
    bool default_sigxfsz = false;     // with max_file_bytes: leave SIGXFSZ at its default (end the process)
    bool unprivileged = false;        // as root, run without root's powers so that permissions apply
    const char* preload = nullptr;    // LD_PRELOAD
    std::vector<std::pair<std::string, std::string>> environment; // variables set for it
    bool measure_memory = false;      // start it through PEAK_RSS_PATH, which measures its peak memory alone
};

// A fresh folder under the system's temporary one, removed with everything
// in it at the end; readable by everyone.
class scratch_dir {
public:
    scratch_dir();
    ~scratch_dir();
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// A program started and not yet waited for, so that a test can act on it
// while it runs. argv[0] is the program's file name.
class started_program {
public:
    started_program(const std::string& program, const std::vector<std::string>& args, const run_options& opt = {});
    ~started_program(); // waits, if wait() was not called
    started_program(const started_program&) = delete;
    started_program& operator=(const started_program&) = delete;

    pid_t pid() const { return pid_; }
    // Waits for it to end, at most `timeout_seconds` (then it is killed).
    outcome wait();

private:
    std::filesystem::path in_, out_, err_; // standard input, output and error go through files
    std::filesystem::path rss_;            // the peak memory, when measured
    pid_t pid_ = -1;
    int timeout_seconds_ = 300;
};

// Catches a program in the act of writing an output in `dir` that is not
// yet in its place: a file of no name it holds open there, or a named
// temporary whose name begins with `prefix`. Stops it (SIGSTOP) and waits
// until it has; that file's size so far. None when the program ended first
// or nothing came within `timeout_ms`; the program is left to be waited for
// either way.
std::optional<std::uintmax_t> stop_while_writing(pid_t pid, const std::filesystem::path& dir,
                                                 const std::string& prefix, int timeout_ms = 60000);
// How many files of no name in `dir` the program holds open.
int unnamed_files(pid_t pid, const std::filesystem::path& dir);

outcome run_program(const std::string& program, const std::vector<std::string>& args, const run_options& opt = {});

} // namespace testing_support
