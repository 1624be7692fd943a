#include "run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#if __has_include(<linux/securebits.h>) // not in WebAssembly, which starts no programs
#include <linux/securebits.h>
#endif
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <system_error>
#include <thread>

namespace testing_support {

std::vector<std::uint8_t> read_file(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void write_file(const std::filesystem::path& p, const std::vector<std::uint8_t>& b)
{
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

namespace {

// Root's capabilities given up for good, in this process and what it runs;
// false where that cannot be done.
bool give_up_capabilities()
{
#ifdef SECBIT_NOROOT
    const unsigned powerless = SECBIT_NOROOT | SECBIT_NOROOT_LOCKED | SECBIT_NO_SETUID_FIXUP |
                               SECBIT_NO_SETUID_FIXUP_LOCKED | SECBIT_NO_CAP_AMBIENT_RAISE |
                               SECBIT_NO_CAP_AMBIENT_RAISE_LOCKED;
    return prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) == 0 && prctl(PR_SET_SECUREBITS, powerless) == 0;
#else
    return false;
#endif
}

// Standard input, output and error go through files, so that nothing can
// block however much the program writes.
std::filesystem::path scratch_file()
{
    std::string t = (std::filesystem::temp_directory_path() / "lq2x_run_XXXXXX").string();
    const int fd = mkstemp(t.data());
    if (fd >= 0)
        close(fd);
    return t;
}

std::string contents(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

scratch_dir::scratch_dir()
{
    std::string t = (std::filesystem::temp_directory_path() / "lq2x_test_XXXXXX").string();
    if (mkdtemp(t.data()) == nullptr)
        throw std::filesystem::filesystem_error("mkdtemp", std::error_code(errno, std::generic_category()));
    path_ = t;
    using p = std::filesystem::perms;
    std::filesystem::permissions(path_, p::owner_all | p::group_read | p::group_exec | p::others_read | p::others_exec);
}

scratch_dir::~scratch_dir()
{
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

started_program::started_program(const std::string& program, const std::vector<std::string>& args,
                                 const run_options& opt)
    : in_(scratch_file()), out_(scratch_file()), err_(scratch_file()), rss_(scratch_file()),
      timeout_seconds_(opt.timeout_seconds)
{
    std::ofstream(in_, std::ios::binary) << opt.input;
    const std::filesystem::path input = opt.input_from.empty() ? in_ : opt.input_from;
    pid_ = fork();
    if (pid_ == 0) {
        const std::filesystem::path output = opt.output_to.empty() ? out_ : opt.output_to;
        const int fds[3] = {open(input.c_str(), O_RDONLY), open(output.c_str(), O_WRONLY | O_TRUNC),
                            open(err_.c_str(), O_WRONLY | O_TRUNC)};
        for (int i = 0; i < 3; ++i)
            if (fds[i] < 0 || dup2(fds[i], i) < 0)
                _exit(126);
        for (const int fd : fds)
            if (fd > 2)
                close(fd);
        if (opt.close_input)
            close(0);
        if (opt.close_output)
            close(1);
        if (chdir(opt.dir.c_str()) != 0)
            _exit(126);
        signal(SIGPIPE, SIG_DFL); // a test may ignore it for itself
        if (opt.max_file_bytes >= 0) {
            if (!opt.default_sigxfsz)
                signal(SIGXFSZ, SIG_IGN);
            const rlimit rl{rlim_t(opt.max_file_bytes), rlim_t(opt.max_file_bytes)};
            setrlimit(RLIMIT_FSIZE, &rl);
        }
        // Root without its capabilities, from here on and in what it runs:
        // permissions then apply to it as to anyone else, while the program
        // and its libraries stay reachable wherever the build is (a clone in
        // root's own 0700 home, where the user nobody could not reach them).
        // Where capabilities cannot be given up, the user nobody.
        if (opt.unprivileged && geteuid() == 0 && !give_up_capabilities() && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(126);
        if (opt.unprivileged && getuid() == 65534 && access(program.c_str(), X_OK) != 0) {
            dprintf(2, "run_program: cannot give up root's capabilities, and the user nobody cannot reach %s\n",
                    program.c_str());
            _exit(126);
        }
        if (opt.preload)
            setenv("LD_PRELOAD", opt.preload, 1);
        for (const auto& [name, value] : opt.environment)
            setenv(name.c_str(), value.c_str(), 1);
        std::vector<char*> argv;
        std::string path = program, rss = rss_.string();
#ifdef PEAK_RSS_PATH
        if (opt.measure_memory) {
            path = PEAK_RSS_PATH;
            argv.insert(argv.end(), {path.data(), rss.data()});
        }
#endif
        std::string name = std::filesystem::path(program).filename().string();
        argv.push_back(opt.measure_memory ? const_cast<char*>(program.c_str()) : name.data());
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(path.c_str(), argv.data());
        _exit(127);
    }
}

started_program::~started_program()
{
    if (pid_ > 0) { // a test gave up on it, perhaps stopped
        kill(pid_, SIGKILL);
        wait();
    }
    std::error_code ignored;
    for (const auto& p : {in_, out_, err_, rss_})
        std::filesystem::remove(p, ignored);
}

outcome started_program::wait()
{
    int status = 0;
    // Polled, so that a program that hangs is killed at its time.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds_);
    for (auto pause = std::chrono::microseconds(200);;) {
        const pid_t got = waitpid(pid_, &status, WNOHANG);
        if (got == pid_ || (got < 0 && errno != EINTR))
            break;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid_, SIGKILL);
            while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
            break;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(2 * pause, std::chrono::microseconds(20000));
    }
    pid_ = -1;
    const std::string rss = contents(rss_);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), contents(out_), contents(err_),
            rss.empty() ? 0 : std::stol(rss)};
}

namespace {

// The files of no name in `dir` that `pid` holds open, by their descriptors'
// links in /proc ("DIR/#INODE (deleted)"), with their sizes.
std::vector<std::uintmax_t> unnamed_sizes(pid_t pid, const std::filesystem::path& dir)
{
    std::vector<std::uintmax_t> sizes;
    const std::filesystem::path fds = "/proc/" + std::to_string(pid) + "/fd";
    const std::string start = dir.string() + "/#";
    std::error_code error;
    for (auto it = std::filesystem::directory_iterator(fds, error); !error && it != std::filesystem::directory_iterator();
         it.increment(error)) {
        const std::string target = std::filesystem::read_symlink(it->path(), error).string();
        struct stat st {};
        if (!error && target.starts_with(start) && target.ends_with(" (deleted)") && ::stat(it->path().c_str(), &st) == 0)
            sizes.push_back(std::uintmax_t(st.st_size));
        error.clear();
    }
    return sizes;
}

bool ended(pid_t pid)
{
    siginfo_t info{};
    return waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

} // namespace

int unnamed_files(pid_t pid, const std::filesystem::path& dir) { return int(unnamed_sizes(pid, dir).size()); }

std::optional<std::uintmax_t> stop_while_writing(pid_t pid, const std::filesystem::path& dir, const std::string& prefix,
                                                 int timeout_ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    const auto found = [&]() -> bool {
        if (!unnamed_sizes(pid, dir).empty())
            return true;
        std::error_code error;
        for (auto it = std::filesystem::directory_iterator(dir, error);
             !error && it != std::filesystem::directory_iterator(); it.increment(error))
            if (it->path().filename().string().starts_with(prefix))
                return true;
        return false;
    };
    while (std::chrono::steady_clock::now() < deadline) {
        if (ended(pid))
            return std::nullopt;
        if (!found()) {
            usleep(200);
            continue;
        }
        kill(pid, SIGSTOP);
        siginfo_t state{};
        if (waitid(P_PID, id_t(pid), &state, WSTOPPED | WEXITED | WNOWAIT) != 0 || state.si_code != CLD_STOPPED)
            return std::nullopt;
        // Stopped: the file as it is now, named or not (gone already: the stop came too late).
        if (const std::vector<std::uintmax_t> sizes = unnamed_sizes(pid, dir); !sizes.empty())
            return sizes.front();
        std::error_code error;
        for (auto it = std::filesystem::directory_iterator(dir, error);
             !error && it != std::filesystem::directory_iterator(); it.increment(error))
            if (it->path().filename().string().starts_with(prefix))
                return it->file_size();
        return std::nullopt;
    }
    return std::nullopt;
}

outcome run_program(const std::string& program, const std::vector<std::string>& args, const run_options& opt)
{
    return started_program(program, args, opt).wait();
}

} // namespace testing_support
