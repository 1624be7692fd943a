#include "disk.h"

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
#include <deque>
#include <mutex>
#include <random>
#include <thread>
#include <utility>

namespace lq2x::disk {
namespace {

std::string reason(int error) { return std::strerror(error); }

[[noreturn]] void fail_input(const std::string& why) { throw failure(error::cannot_read, false, why); }
[[noreturn]] void fail_output(int error) { throw failure(error::cannot_save, true, "cannot write: " + reason(error)); }

// Which standard streams were closed when the program began (begin_program):
// "-" for one of them reads nothing or writes nowhere, and is refused.
std::atomic<bool> input_closed = false, output_closed = false;

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

// The temporary files outputs have named and not yet renamed or removed.
// Whoever holds the lock may name, rename or remove one; a signal takes the
// lock for good before it removes them.
std::mutex temporaries_mutex;
std::vector<std::string> temporaries;

// Once an ending signal has come (still pending, or taken by the thread that
// waits for it) no temporary file is put in its place: the run is ending,
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

// `path` with ".tmp" and six more characters, its last component shortened
// when the suffix would make it longer than a name may be.
std::string temporary_name(const std::string& path, std::string_view six)
{
    constexpr std::size_t SUFFIX = 10;
    const auto slash = path.find_last_of('/');
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    std::string name = path.substr(start);
    if (name.size() + SUFFIX > NAME_MAX)
        name.resize(NAME_MAX - SUFFIX);
    return path.substr(0, start) + name + ".tmp" + std::string(six);
}

// The folder a path's file lies in, as open() takes it.
std::string folder_of(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
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

std::string proc_path(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// Gives the unnamed file `fd` a free name beside `path`, recorded among the
// temporaries; the name, or errno's reason it has none.
std::string name_unnamed(int fd, const std::string& path)
{
    static constexpr char LETTERS[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::minstd_rand random(std::random_device{}());
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string six(6, 'x');
        for (char& c : six)
            c = LETTERS[random() % (sizeof LETTERS - 1)];
        const std::string name = temporary_name(path, six);
        if (::linkat(AT_FDCWD, proc_path(fd).c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            temporaries.push_back(name);
            return name;
        }
        if (errno != EEXIST)
            break;
    }
    fail_output(errno);
}

} // namespace

standard_streams begin_program()
{
    bool closed[3] = {};
    for (int fd = 0; fd < 3; ++fd)
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            closed[fd] = true;
            // open() takes the lowest free descriptor, which is this one.
            ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        }
    input_closed = closed[0];
    output_closed = closed[1];
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);

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
        return {closed[0], closed[1]}; // then signals end the process as they would anyway
    watching = true;
    std::thread([fd] {
        // The signal stays pending until this thread holds the lock, so a
        // rename either comes before it or sees it.
        for (pollfd p{fd, POLLIN, 0}; ::poll(&p, 1, -1) != 1;) {
        }
        temporaries_mutex.lock(); // never released: nothing is named or renamed after this
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
    return {closed[0], closed[1]};
}

void widen_pipe(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode))
        ::fcntl(fd, F_SETPIPE_SZ, PIPE_BYTES); // advice: failure (a lower limit) changes nothing
}

input::input(const char* path) : standard_(path == nullptr)
{
    if (standard_ && input_closed)
        fail_input("closed");
    fd_ = standard_ ? STDIN_FILENO : ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd_ < 0)
        fail_input(reason(errno));
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || S_ISDIR(st.st_mode)) {
        const int error = S_ISDIR(st.st_mode) ? EISDIR : errno;
        if (!standard_)
            ::close(fd_);
        fail_input(error == EISDIR ? reason(error) : "cannot read: " + reason(error));
    }
    if (S_ISREG(st.st_mode))
        size_ = std::uint64_t(st.st_size);
}

input::~input()
{
    if (!standard_)
        ::close(fd_);
}

std::size_t input::read(std::span<std::uint8_t> into)
{
    std::size_t got = 0;
    while (got < into.size()) {
        const ssize_t n = ::read(fd_, into.data() + got, into.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail_input("cannot read: " + reason(errno));
        if (n == 0)
            break;
        got += std::size_t(n);
    }
    return got;
}

std::vector<std::uint8_t> read_whole(input& in, const read_limit& limit,
                                     const std::function<void(std::span<const std::uint8_t>)>& look)
{
    const auto too_large = [&] { throw failure(limit.status, false, limit.too_large); };
    // The first bytes first: an input that is no image (or whose header says
    // too large a picture) is refused as such, whatever its length. Then a
    // regular file too large is refused unread, and one that fits is read in
    // one piece. (Its size may still change while it is read.)
    std::vector<std::uint8_t> data(std::size_t(std::min<std::uint64_t>(HEAD_BYTES, limit.max_bytes + 1)));
    data.resize(in.read(data));
    if (look)
        look(data);
    if (data.size() > limit.max_bytes || (in.size() && *in.size() > limit.max_bytes))
        too_large();
    const std::uint64_t expected = in.size().value_or(0);
    if (data.size() < HEAD_BYTES && data.size() <= limit.max_bytes)
        return data; // the whole input: shorter than its head
    if (expected > data.size()) {
        const std::size_t head = data.size();
        data.resize(std::size_t(expected));
        data.resize(head + in.read(std::span(data).subspan(head)));
    }
    // A stream, or a file that grew: pieces of 1 MiB, never past the limit
    // and the one byte that tells an input over it, joined once it ends.
    constexpr std::size_t PIECE = std::size_t{1} << 20;
    std::deque<std::vector<std::uint8_t>> pieces;
    std::uint64_t total = data.size();
    for (;;) {
        const std::size_t want = std::size_t(std::min<std::uint64_t>(PIECE, limit.max_bytes + 1 - total));
        std::vector<std::uint8_t> piece(want);
        piece.resize(in.read(piece));
        if (piece.empty())
            break;
        total += piece.size();
        if (total > limit.max_bytes)
            too_large();
        pieces.push_back(std::move(piece));
    }
    if (pieces.empty())
        return data;
    data.reserve(std::size_t(total));
    for (; !pieces.empty(); pieces.pop_front()) // each piece let go once copied
        data.insert(data.end(), pieces.front().begin(), pieces.front().end());
    return data;
}

output::output(const char* path, bool keep_existing)
    : path_(path == nullptr ? "" : path), standard_(path == nullptr), keep_(keep_existing)
{
    if (standard_) {
        if (output_closed)
            throw failure(error::cannot_save, true, "closed");
        fd_ = STDOUT_FILENO;
        widen_pipe(fd_);
        return;
    }
    struct stat st {};
    const bool exists = ::stat(path, &st) == 0;
    if (exists && keep_)
        throw failure(error::output_exists, true, "exists, kept as it is");
    // A folder, or a link to one, is never replaced by a file (rename would
    // put the file in a link's place).
    if (exists && S_ISDIR(st.st_mode))
        fail_output(EISDIR);
    if (exists && !S_ISREG(st.st_mode)) {
        // A FIFO, device or socket: whoever made it reads from it, so it is
        // written as it is, never replaced by a file.
        fd_ = ::open(path, O_WRONLY | O_CLOEXEC | O_NOCTTY);
        if (fd_ < 0)
            fail_output(errno);
        widen_pipe(fd_);
        return;
    }
    const mode_t mode = exists ? st.st_mode & 07777 : new_file_mode();
#ifdef O_TMPFILE
    // A file of no name: whatever ends the process before finish(), a signal
    // that kills it included, leaves nothing behind. It is named through
    // /proc, so without /proc it is no use.
    static const bool named_only = std::getenv("LQ2X_NAMED_TEMPORARIES") != nullptr;
    fd_ = named_only ? -1 : ::open(folder_of(path_).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd_ >= 0 && ::access(proc_path(fd_).c_str(), F_OK) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
    unnamed_ = fd_ >= 0;
#endif
    if (!unnamed_) {
        std::string temp = temporary_name(path_, "XXXXXX");
        const std::lock_guard lock(temporaries_mutex);
        fd_ = ::mkstemp(temp.data());
        if (fd_ < 0)
            fail_output(errno);
        temporaries.push_back(temp);
        temp_ = std::move(temp);
    }
    // Either way the file is made private; it takes the replaced file's
    // permission bits, or the usual ones for a new file.
    ::fchmod(fd_, mode);
}

output::~output()
{
    if (fd_ >= 0 && !standard_)
        ::close(fd_);
    if (!temp_.empty()) {
        const std::lock_guard lock(temporaries_mutex);
        ::unlink(temp_.c_str());
        forget(temp_);
    }
}

void output::write(std::span<const std::uint8_t> bytes)
{
    if (!write_all(fd_, bytes))
        fail_output(errno);
}

void output::finish()
{
    if (standard_ || (!unnamed_ && temp_.empty()))
        return; // written where it goes
    std::unique_lock lock(temporaries_mutex);
    if (unnamed_) {
        // Named while still open (its name is through the descriptor), then
        // closed, so that a failing close is seen before the file is in place.
        temp_ = name_unnamed(fd_, path_);
        unnamed_ = false;
    }
    lock.unlock();
    const int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0)
        fail_output(errno); // the destructor removes the temporary
    lock.lock();
    if (ending_signal_came()) {
        lock.unlock();
        for (;;) // until the signal's thread ends the process, removing the temporary file
            ::pause();
    }
    // Kept outputs are linked, which an existing file refuses; others take
    // the old file's place by rename.
    const bool placed = keep_ ? ::link(temp_.c_str(), path_.c_str()) == 0 : ::rename(temp_.c_str(), path_.c_str()) == 0;
    const int error = errno;
    if (!placed || keep_)
        ::unlink(temp_.c_str());
    forget(temp_);
    temp_.clear();
    if (!placed && keep_ && error == EEXIST)
        throw failure(error::output_exists, true, "exists, kept as it is");
    if (!placed)
        fail_output(error);
}

void write_whole(const char* path, std::span<const std::uint8_t> bytes, bool keep_existing)
{
    output out(path, keep_existing);
    out.write(bytes);
    out.finish();
}

std::optional<file_id> identify(const char* path, int standard_fd)
{
    struct stat st {};
    if (path == nullptr ? ::fstat(standard_fd, &st) != 0 || !S_ISREG(st.st_mode) : ::stat(path, &st) != 0)
        return std::nullopt;
    return file_id{std::uint64_t(st.st_dev), std::uint64_t(st.st_ino)};
}

} // namespace lq2x::disk
