// What the tool says on standard error: a line for each file that failed or
// was kept, one for each warning, and for a batch on a terminal a progress
// line that the messages share.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>

namespace tool {

// A file name, or a message quoting one, as shown: control characters (a
// newline in a name would split the one-line message) written as C escapes,
// \n, \t or \xNN; everything else as it is.
std::string printable(const std::string& text);

class progress {
public:
    progress(std::size_t total, bool show) : total_(total), show_(show) {}
    ~progress();
    progress(const progress&) = delete;
    progress& operator=(const progress&) = delete;

    // "lq2x: FILE: WHY", where "-" is named standard input or output.
    void failed(const std::string& file, const std::string& why, bool output);
    // "lq2x: FILE: warning: WHAT", for a result that could not keep something.
    void warned(const std::string& file, const std::string& what);
    void finished();

private:
    void say(const std::string& file, const std::string& text, bool output);
    void clear();
    void draw();

    std::mutex mutex_;
    std::size_t total_, done_ = 0;
    bool show_;
};

} // namespace tool
