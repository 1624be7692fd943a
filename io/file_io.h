// Whole files in and out, "-" meaning standard input or output: read
// within a limit, written to a temporary file renamed into place, which a
// signal removes. Shared by the test bench and the tool, it needs nothing
// but the C library and threads.
#pragma once

#include <compare>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace io {

// An input that cannot be read, with the reason in plain words (naming no
// file: the caller does).
struct failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The most bytes an input may hold, and what to say when it holds more.
struct read_limit {
    std::uint64_t max_bytes = 0;
    std::string too_large;
};

// Descriptors 0, 1 and 2 that are closed when a program starts (`<&-`) are
// opened on /dev/null, so that no descriptor the program opens later takes
// their place: a signal descriptor read as standard input, an output file
// that messages to standard error would land in. Call first, before any
// file is opened. Says which of standard input and output were closed: "-"
// then reads nothing or writes nowhere, which the caller should refuse.
struct standard_streams {
    bool input = false, output = false;
};
standard_streams hold_standard_streams();

// An input opened for reading; "-" is standard input, which stays open.
// Throws failure with the reason (a folder is refused).
class input_file {
public:
    explicit input_file(const std::string& path);
    ~input_file();
    input_file(const input_file&) = delete;
    input_file& operator=(const input_file&) = delete;

    int fd() const { return fd_; }
    // A regular file's size; nothing for a pipe or device.
    std::optional<std::uint64_t> size() const { return size_; }
    // Reads until `into` is full or the input ends; how many bytes it read.
    std::size_t read(std::span<std::uint8_t> into);

private:
    int fd_ = -1;
    bool standard_;
    std::optional<std::uint64_t> size_;
};

// The whole input, read in pieces and never more than limit.max_bytes of it:
// a regular file's size is checked before its contents are read, a stream is
// refused as soon as it passes the limit. `check_head` sees the first bytes
// (at least 16 unless the input is shorter) before the rest is read, and may
// throw to refuse the input early. Throws io::failure with the reason.
std::vector<std::uint8_t> read_file(const std::string& path, const read_limit& limit,
                                    const std::function<void(std::span<const std::uint8_t>)>& check_head = {});

// A failure to write an output; the reason names no file, the caller does.
struct output_failure : failure {
    using failure::failure;
};

// Writes the bytes to `path`. A regular file (or a new one) is written to a
// temporary file beside it, renamed into place once complete, so a failed
// write never leaves a partial file and a reader never sees one; an existing
// file is replaced and keeps its permission bits. Any other existing file is
// never replaced: a FIFO or device is written to directly (a socket cannot be
// opened, and fails), and a folder, or a link to one, is refused untouched.
// "-" writes to standard output. Throws output_failure.
void write_file(const std::string& path, std::span<const std::uint8_t> bytes);

// An output written in pieces as they are made (a frame stream), by
// write_file's rules: "-", a FIFO, device or socket are written to as the
// pieces come; anything else goes to a temporary file beside `path` that
// finish() renames into place. Destroyed unfinished, the temporary file is
// removed and the output stays as it was. Throws output_failure.
class output_file {
public:
    explicit output_file(const std::string& path);
    ~output_file();
    output_file(const output_file&) = delete;
    output_file& operator=(const output_file&) = delete;

    void write(std::span<const std::uint8_t> bytes);
    void finish();

private:
    std::string path_, temp_;
    int fd_ = -1;
};

// From here on, SIGINT, SIGTERM or SIGHUP (those not ignored when this is
// called) remove the temporary files write_file has open and then end the
// process by the same signal; an output not yet renamed into place when the
// signal comes stays as it was. Call once, before any other thread starts.
void remove_temporaries_on_signals();

// A pipe's buffer grown to 1 MiB (the most an unprivileged process may ask
// for by default), when fd is a pipe: with the usual 64 KiB a stream of large
// frames takes a switch between writer and reader for every 64 KiB.
constexpr int PIPE_BYTES = 1 << 20;
void widen_pipe(int fd);

// What makes a file itself whatever path names it: its device and inode.
struct file_id {
    std::uint64_t device, inode;
    friend auto operator<=>(const file_id&, const file_id&) = default;
};

// The identity of an existing file; "-" is the open file `standard_fd`
// (standard input or output) when that is a regular file. Nothing for a
// missing file.
std::optional<file_id> identify(const std::string& path, int standard_fd);

} // namespace io
