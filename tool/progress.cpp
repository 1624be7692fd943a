#include "progress.h"

#include <algorithm>
#include <cstdio>

namespace tool {

std::string printable(const std::string& name)
{
    std::string out;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (u < 0x20 || u == 0x7F) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            out += hex;
        } else
            out += c;
    }
    return out;
}

progress::~progress() { clear(); }

void progress::failed(const std::string& file, const std::string& why, bool output) { say(file, why, output); }

void progress::warned(const std::string& file, const std::string& what) { say(file, "warning: " + what, false); }

void progress::say(const std::string& file, const std::string& text, bool output)
{
    const std::lock_guard lock(mutex_);
    clear();
    const std::string name = file != "-" ? printable(file) : output ? "standard output" : "standard input";
    std::fprintf(stderr, "lq2x: %s: %s\n", name.c_str(), printable(text).c_str());
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
