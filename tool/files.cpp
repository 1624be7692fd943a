#include "files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "image.h"

namespace tool {
namespace {

[[noreturn]] void fail_errno(const char* what)
{
    throw failure(std::string(what) + std::strerror(errno));
}

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

} // namespace

std::vector<std::uint8_t> read_file(const std::string& path)
{
    const bool standard = path == "-";
    const int fd = standard ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        fail_errno("");
    struct stat st {};
    if (!standard && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        throw failure(std::strerror(EISDIR));
    }
    std::vector<std::uint8_t> data;
    if (!standard && S_ISREG(st.st_mode))
        data.reserve(std::size_t(st.st_size));
    std::uint8_t buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int saved = errno;
            if (!standard)
                ::close(fd);
            errno = saved;
            fail_errno("cannot read: ");
        }
        if (n == 0)
            break;
        data.insert(data.end(), buffer, buffer + n);
    }
    if (!standard)
        ::close(fd);
    return data;
}

void write_file(const std::string& path, std::span<const std::uint8_t> bytes)
{
    if (path == "-") {
        if (!write_all(STDOUT_FILENO, bytes))
            fail_errno("cannot write to standard output: ");
        return;
    }
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        fail_errno("cannot write: ");
    // mkstemp makes the file private; give it the usual permissions. (The
    // mask is read once; while it is briefly 0 only mkstemp, which sets its
    // own mode, creates files.)
    static const mode_t mask = [] {
        const mode_t m = ::umask(0);
        ::umask(m);
        return m;
    }();
    ::fchmod(fd, 0666 & ~mask);
    const bool written = write_all(fd, bytes);
    const int saved = errno;
    if (::close(fd) != 0 || !written) {
        ::unlink(temp.c_str());
        errno = written ? errno : saved;
        fail_errno("cannot write: ");
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        errno = err;
        fail_errno("cannot write: ");
    }
}

std::optional<file_id> identify(const std::string& path)
{
    struct stat st {};
    if (path == "-" || ::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return file_id{std::uint64_t(st.st_dev), std::uint64_t(st.st_ino)};
}

} // namespace tool
