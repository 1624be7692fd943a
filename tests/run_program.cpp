#include "run_program.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <fstream>
#include <iterator>

namespace testing_support {
namespace {

// Standard input, output and error go through files, so that nothing can
// block however much the program writes.
struct scratch {
    std::filesystem::path path;
    scratch()
    {
        std::string t = (std::filesystem::temp_directory_path() / "lq2x_run_XXXXXX").string();
        const int fd = mkstemp(t.data());
        if (fd >= 0)
            close(fd);
        path = t;
    }
    ~scratch() { std::filesystem::remove(path); }
    std::string contents() const
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

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

outcome run_program(const std::string& program, const std::vector<std::string>& args, const run_options& opt)
{
    scratch in, out, err;
    std::ofstream(in.path, std::ios::binary) << opt.input;
    const pid_t pid = fork();
    if (pid == 0) {
        const int fds[3] = {open(in.path.c_str(), O_RDONLY), open(out.path.c_str(), O_WRONLY | O_TRUNC),
                            open(err.path.c_str(), O_WRONLY | O_TRUNC)};
        for (int i = 0; i < 3; ++i)
            if (fds[i] < 0 || dup2(fds[i], i) < 0)
                _exit(126);
        if (chdir(opt.dir.c_str()) != 0)
            _exit(126);
        if (opt.max_file_bytes >= 0) {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit rl{rlim_t(opt.max_file_bytes), rlim_t(opt.max_file_bytes)};
            setrlimit(RLIMIT_FSIZE, &rl);
        }
        if (opt.unprivileged && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(126);
        if (opt.preload)
            setenv("LD_PRELOAD", opt.preload, 1);
        std::vector<char*> argv;
        const std::string name = std::filesystem::path(program).filename().string();
        argv.push_back(const_cast<char*>(name.c_str()));
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), out.contents(), err.contents()};
}

} // namespace testing_support
