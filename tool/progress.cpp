#include "progress.h"

#include <algorithm>
#include <cstdio>

namespace tool {

progress::~progress() { clear(); }

void progress::failed(const std::string& file, const std::string& why, bool output)
{
    const std::lock_guard lock(mutex_);
    clear();
    const char* name = file != "-" ? file.c_str() : output ? "standard output" : "standard input";
    std::fprintf(stderr, "lq2x: %s: %s\n", name, why.c_str());
    draw();
}

void progress::finished()
{
    const std::lock_guard lock(mutex_);
    ++done_;
    draw();
}

void progress::clear()
{
    if (show_)
        std::fputs("\r\033[K", stderr);
}

void progress::draw()
{
    if (!show_)
        return;
    constexpr int WIDTH = 30;
    const int filled = int(WIDTH * done_ / std::max<std::size_t>(total_, 1));
    std::fprintf(stderr, "\r[%s%s] %zu/%zu", std::string(std::size_t(filled), '#').c_str(),
                 std::string(std::size_t(WIDTH - filled), '.').c_str(), done_, total_);
    std::fflush(stderr);
}

} // namespace tool
