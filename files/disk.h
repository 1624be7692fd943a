// Files on disk, for every door that reads or writes one: an input read
// whole but never past its limit, whatever it is (a file, a pipe, a
// device); an output made whole beside its place and put there in one step,
// or left as it was; the standard streams where no path is given. It needs
// nothing but the C library, threads and the scaler's error codes, so the
// test bench, which links no codec, uses it too.
//
// A path of nullptr is the standard input or output. Failures are
// disk::failure, whose words name no file: the caller knows which it gave.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include <lq2x/lq2x.hpp>

namespace lq2x::disk {

// A file that cannot be read or written: the status, whether it is the
// output that failed, and the reason in plain words.
struct failure : std::runtime_error {
    error status;
    bool output;

    failure(error status_, bool output_, const std::string& why)
        : std::runtime_error(why), status(status_), output(output_)
    {
    }
};

// The most bytes an input may hold, and what to say, with which status, of
// one that holds more.
struct read_limit {
    std::uint64_t max_bytes = 0;
    std::string too_large;
    error status = error::too_large;
};

// What a program does first (the tool, the test bench; never a library):
// descriptors 0, 1 and 2 that are closed (`<&-`) are opened on /dev/null, so
// that no file opened later takes their place; a write past a file-size
// limit or to a pipe whose reader has gone fails as any other (SIGXFSZ and
// SIGPIPE ignored); and from then on SIGINT, SIGTERM and SIGHUP (those not
// ignored at the start) remove the temporary files outputs have named and
// end the process by the same signal. Call before any other thread starts.
// Says which of standard input and output were closed; either is then
// refused wherever it is asked for.
struct standard_streams {
    bool input = false, output = false;
};
standard_streams begin_program();

// An input opened for reading: a path, or (nullptr) standard input, which
// stays open. A folder is refused.
class input {
public:
    explicit input(const char* path);
    ~input();
    input(const input&) = delete;
    input& operator=(const input&) = delete;

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

// How many first bytes `read_whole` shows its `look` before it reads on
// (all of a shorter input): enough for any header's size fields.
constexpr std::size_t HEAD_BYTES = 4096;

// The whole input, never more than limit.max_bytes of it: a regular file's
// size is checked before its contents are read, and a stream is refused as
// soon as it passes the limit, having taken in memory no more than the
// limit and a piece of 1 MiB. `look` sees the first bytes first, and may
// throw to refuse the input before the rest is read.
std::vector<std::uint8_t> read_whole(input& in, const read_limit& limit,
                                     const std::function<void(std::span<const std::uint8_t>)>& look = {});

// An output made as its pieces come. A regular file (or a new one) is
// written to a file of no name beside it (a named temporary where the file
// system has none), given its place by finish(): a reader never sees it
// partly written, and an output not finished (a failure, a full disk, a
// signal) leaves the old file as it was and nothing else. An existing file
// keeps its permission bits. A FIFO, device or socket already there is
// written to as the pieces come, never replaced; a folder, or a link to one,
// is refused untouched. nullptr: standard output. With keep_existing, an
// output that exists (or appears before finish) is kept:
// error::output_exists. (For tests, the environment variable
// LQ2X_NAMED_TEMPORARIES set has named temporaries made everywhere, as on a
// file system without files of no name.)
class output {
public:
    explicit output(const char* path, bool keep_existing = false);
    ~output();
    output(const output&) = delete;
    output& operator=(const output&) = delete;

    void write(std::span<const std::uint8_t> bytes);
    void finish();

private:
    std::string path_, temp_; // temp_: the named temporary, while there is one
    int fd_ = -1;
    bool standard_, keep_;
    bool unnamed_ = false; // written to a file of no name, named at finish
};

// The bytes written to `path` as output does, in one step.
void write_whole(const char* path, std::span<const std::uint8_t> bytes, bool keep_existing = false);

// What makes a file itself whatever path names it: its device and inode.
struct file_id {
    std::uint64_t device, inode;
    friend auto operator<=>(const file_id&, const file_id&) = default;
};

// The identity of an existing file (through links); nullptr is the
// standard stream `standard_fd` when that is a regular file. Nothing for
// a file that is not there.
std::optional<file_id> identify(const char* path, int standard_fd);

// A pipe's buffer grown to 1 MiB (the most an unprivileged process may ask
// for by default), when fd is a pipe: with the usual 64 KiB a stream of large
// frames takes a switch between writer and reader for every 64 KiB.
constexpr int PIPE_BYTES = 1 << 20;
void widen_pipe(int fd);

} // namespace lq2x::disk
