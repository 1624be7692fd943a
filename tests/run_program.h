// Runs a built program as a separate process, as a user would.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

struct outcome {
    int status = -1; // exit status, or 128 + signal
    std::string out, err;
};

struct run_options {
    std::filesystem::path dir = ".";  // working directory
    std::string input;                // standard input
    long max_file_bytes = -1;         // RLIMIT_FSIZE, with SIGXFSZ ignored
    bool unprivileged = false;        // as root, run as nobody so permissions apply
    const char* preload = nullptr;    // LD_PRELOAD
};

// A fresh folder under the system's temporary one, removed with everything
// in it at the end; readable by the unprivileged user some cases run as.
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

// argv[0] is the program's file name.
outcome run_program(const std::string& program, const std::vector<std::string>& args, const run_options& opt = {});

} // namespace testing_support
