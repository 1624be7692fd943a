// peak_rss FILE PROGRAM [ARGS...]: runs PROGRAM and writes its peak resident
// memory in KiB (getrusage ru_maxrss) to FILE, then ends as PROGRAM did.
//
// Linux counts into a process's peak the memory of what it was before exec,
// so a program forked straight from a large test process would be charged
// with the test's memory. Started from this small program it is not.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 3)
        return 125;
    const pid_t pid = fork();
    if (pid == 0) {
        execv(argv[2], argv + 2);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    if (std::FILE* f = std::fopen(argv[1], "w")) {
        std::fprintf(f, "%ld\n", usage.ru_maxrss);
        std::fclose(f);
    }
    if (WIFSIGNALED(status)) {
        signal(WTERMSIG(status), SIG_DFL);
        raise(WTERMSIG(status));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 125;
}
