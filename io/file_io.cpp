#include "file_io.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

namespace io {
namespace {

std::string reason(int error) { return std::strerror(error); }

[[noreturn]] void fail_output(int error) { throw output_failure("cannot write: " + reason(error)); }

bool write_all(int fd, std::span<const std::uint8_t> bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes = bytes.subspan(std::size_t(n));
    }
    return true;
}

// The temporary files write_file has made and not yet renamed or removed.
// Whoever holds the lock may create, rename or remove one; a signal takes
// the lock for good before it removes them.
std::mutex temporaries_mutex;
std::vector<std::string> temporaries;

// Once an ending signal has come (still pending, or taken by the thread that
// waits for it) no temporary file is renamed into place: the run is ending,
// and every output not yet replaced stays as it was.
constexpr int ENDING_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
std::atomic<bool> watching = false, ending = false;

bool ending_signal_came()
{
    if (!watching)
        return false;
    sigset_t pending;
    ::sigpending(&pending);
    return ending || std::any_of(std::begin(ENDING_SIGNALS), std::end(ENDING_SIGNALS),
                                 [&](int sig) { return ::sigismember(&pending, sig) == 1; });
}

void forget(const std::string& temp)
{
    temporaries.erase(std::find(temporaries.begin(), temporaries.end(), temp));
}

// `path` with ".XXXXXX" for mkstemp, its last component shortened when the
// suffix would make it longer than a name may be.
std::string temporary_template(const std::string& path)
{
    constexpr std::string_view SUFFIX = ".tmpXXXXXX";
    const auto slash = path.find_last_of('/');
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    std::string name = path.substr(start);
    if (name.size() + SUFFIX.size() > NAME_MAX)
        name.resize(NAME_MAX - SUFFIX.size());
    return path.substr(0, start) + name + std::string(SUFFIX);
}

mode_t new_file_mode()
{
    // The mask is read once; while it is briefly 0 only mkstemp, which sets
    // its own mode, creates files.
    static const mode_t mask = [] {
        const mode_t m = ::umask(0);
        ::umask(m);
        return m;
    }();
    return 0666 & ~mask;
}

} // namespace

standard_streams hold_standard_streams()
{
    bool closed[3] = {};
    for (int fd = 0; fd < 3; ++fd)
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            closed[fd] = true;
            // open() takes the lowest free descriptor, which is this one.
            ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        }
    return {closed[0], closed[1]};
}

void widen_pipe(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode))
        ::fcntl(fd, F_SETPIPE_SZ, PIPE_BYTES); // advice: failure (a lower limit) changes nothing
}

input_file::input_file(const std::string& path) : standard_(path == "-")
{
    fd_ = standard_ ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0)
        throw failure(reason(errno));
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || S_ISDIR(st.st_mode)) {
        const int error = S_ISDIR(st.st_mode) ? EISDIR : errno;
        if (!standard_)
            ::close(fd_);
        throw failure(error == EISDIR ? reason(error) : "cannot read: " + reason(error));
    }
    if (S_ISREG(st.st_mode))
        size_ = std::uint64_t(st.st_size);
}

input_file::~input_file()
{
    if (!standard_)
        ::close(fd_);
}

std::size_t input_file::read(std::span<std::uint8_t> into)
{
    std::size_t got = 0;
    while (got < into.size()) {
        const ssize_t n = ::read(fd_, into.data() + got, into.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw failure("cannot read: " + reason(errno));
        if (n == 0)
            break;
        got += std::size_t(n);
    }
    return got;
}

std::vector<std::uint8_t> read_file(const std::string& path, const read_limit& limit,
                                    const std::function<void(std::span<const std::uint8_t>)>& check_head)
{
    input_file in(path);
    constexpr std::size_t HEAD = 16;
    std::vector<std::uint8_t> data;
    bool head_seen = false;
    const auto see_head = [&] {
        head_seen = true;
        if (check_head)
            check_head(data);
        if (in.size() && *in.size() > limit.max_bytes)
            throw failure(limit.too_large);
        if (in.size())
            data.reserve(std::size_t(*in.size()));
    };
    std::uint8_t buffer[1 << 16];
    for (;;) {
        if (!head_seen && data.size() >= HEAD)
            see_head();
        // One byte past the limit tells an input that is too large.
        const std::size_t want = std::size_t(std::min<std::uint64_t>(sizeof buffer, limit.max_bytes + 1 - data.size()));
        const std::size_t n = in.read({buffer, head_seen ? want : std::min(want, HEAD - data.size())});
        // A stream's bytes grow the buffer by doubling, never past the limit
        // and the one byte that tells an input over it.
        if (data.size() + n > data.capacity())
            data.reserve(std::size_t(std::min<std::uint64_t>(std::max(2 * data.capacity(), data.size() + n),
                                                             limit.max_bytes + 1)));
        data.insert(data.end(), buffer, buffer + n);
        if (data.size() > limit.max_bytes)
            throw failure(limit.too_large);
        if (n == 0)
            break;
    }
    if (!head_seen)
        see_head();
    return data;
}

output_file::output_file(const std::string& path) : path_(path)
{
    if (path == "-") {
        fd_ = STDOUT_FILENO;
        widen_pipe(fd_);
        return;
    }
    struct stat st {};
    const bool exists = ::stat(path.c_str(), &st) == 0;
    // A folder, or a link to one, is never replaced by a file (rename would
    // put the file in a link's place).
    if (exists && S_ISDIR(st.st_mode))
        fail_output(EISDIR);
    if (exists && !S_ISREG(st.st_mode)) {
        // A FIFO, device or socket: whoever made it reads from it, so it is
        // written as it is, never replaced by a file.
        fd_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        if (fd_ < 0)
            fail_output(errno);
        widen_pipe(fd_);
        return;
    }
    std::string temp = temporary_template(path);
    {
        const std::lock_guard lock(temporaries_mutex);
        fd_ = ::mkstemp(temp.data());
        if (fd_ < 0)
            fail_output(errno);
        temporaries.push_back(temp);
    }
    temp_ = std::move(temp);
    // mkstemp makes the file private; give it the replaced file's permission
    // bits, or the usual ones for a new file.
    ::fchmod(fd_, exists ? st.st_mode & 07777 : new_file_mode());
}

output_file::~output_file()
{
    if (fd_ >= 0 && path_ != "-")
        ::close(fd_);
    if (!temp_.empty()) {
        const std::lock_guard lock(temporaries_mutex);
        ::unlink(temp_.c_str());
        forget(temp_);
    }
}

void output_file::write(std::span<const std::uint8_t> bytes)
{
    if (!write_all(fd_, bytes))
        fail_output(errno); // the caller names the output, "-" as standard output
}

void output_file::finish()
{
    if (temp_.empty())
        return;
    const int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0)
        fail_output(errno);
    std::unique_lock lock(temporaries_mutex);
    if (ending_signal_came()) {
        lock.unlock();
        for (;;) // until the signal's thread ends the process, removing the temporary file
            ::pause();
    }
    const bool renamed = ::rename(temp_.c_str(), path_.c_str()) == 0;
    const int error = errno;
    if (!renamed)
        ::unlink(temp_.c_str());
    forget(temp_);
    temp_.clear();
    if (!renamed)
        fail_output(error);
}

void write_file(const std::string& path, std::span<const std::uint8_t> bytes)
{
    output_file out(path);
    out.write(bytes);
    out.finish();
}

void remove_temporaries_on_signals()
{
    // A signal ignored at start (nohup, a shell's background job) stays ignored.
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : ENDING_SIGNALS) {
        struct sigaction old {};
        if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
            sigaddset(&set, sig);
    }
    // Every thread started after this has them blocked; this one waits for them.
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    const int fd = ::signalfd(-1, &set, SFD_CLOEXEC);
    if (fd < 0)
        return; // then signals end the process as they would anyway
    watching = true;
    std::thread([fd] {
        // The signal stays pending until this thread holds the lock, so a
        // rename either comes before it or sees it.
        for (pollfd p{fd, POLLIN, 0}; ::poll(&p, 1, -1) != 1;) {
        }
        temporaries_mutex.lock(); // never released: nothing is renamed or created after this
        ending = true;
        signalfd_siginfo info{};
        const int sig = ::read(fd, &info, sizeof info) == ssize_t(sizeof info) ? int(info.ssi_signo) : SIGTERM;
        for (const std::string& temp : temporaries)
            ::unlink(temp.c_str());
        // End as the signal would have: the parent sees it, and the shell's status is 128 + sig.
        std::signal(sig, SIG_DFL);
        sigset_t only;
        sigemptyset(&only);
        sigaddset(&only, sig);
        ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
        std::raise(sig);
        std::_Exit(128 + sig);
    }).detach();
}

std::optional<file_id> identify(const std::string& path, int standard_fd)
{
    struct stat st {};
    if (path == "-" ? ::fstat(standard_fd, &st) != 0 || !S_ISREG(st.st_mode) : ::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return file_id{std::uint64_t(st.st_dev), std::uint64_t(st.st_ino)};
}

} // namespace io
