#include "jobs.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <new>
#include <set>
#include <thread>

#include "progress.h"

namespace tool {
namespace {

// "-" is the standard stream, which the library names by no path.
lq2x::file_place place(const std::string& name) { return name == "-" ? lq2x::file_place{} : lq2x::file_place(name); }

// What became of one job.
enum class result { done, kept, failed, usage };

// One file through the library: read within its limits, scaled, written in
// one step; what it could not keep said in one line.
result run(const job& j, const settings& s, const lq2x::options& opt, const std::set<lq2x::file_identity>& inputs,
           progress& report)
{
    // The library never writes over a job's own input; over another job's
    // input, only the batch can tell.
    if (const auto id = lq2x::identify_file(place(j.output)); id && j.output != "-" && inputs.count(*id) &&
                                                                  id != lq2x::identify_file(place(j.input))) {
        report.failed(j.output, "is an input file; refusing to write over it", true);
        return result::failed;
    }
    try {
        const lq2x::file_report r = lq2x::scale_path(place(j.input), place(j.output), opt, s.file);
        if (!r.warning.empty() && s.quiet < 2)
            report.warned(j.input, r.warning);
        return result::done;
    } catch (const lq2x::file_error& e) {
        if (e.status() == lq2x::error::output_exists) {
            if (s.quiet < 2)
                report.failed(j.output, e.what(), true);
            return result::kept;
        }
        report.failed(e.output() ? j.output : j.input, e.what(), e.output());
        return e.status() == lq2x::error::no_cell ? result::usage : result::failed;
    } catch (const std::bad_alloc&) {
        report.failed(j.input, "out of memory", false);
        return result::failed;
    }
}

} // namespace

int run_batch(const settings& s)
{
    // Many files go in parallel, one thread each; a single file gets them all.
    const std::vector<job>& jobs = s.jobs;
    const unsigned workers = unsigned(std::min<std::size_t>(s.cores, jobs.size()));
    lq2x::options opt = s.scale;
    opt.threads = jobs.size() == 1 ? int(s.cores) : 1;
    progress report(jobs.size(), jobs.size() >= 4 && s.quiet == 0 && ::isatty(STDERR_FILENO));
    std::set<lq2x::file_identity> inputs;
    for (const job& j : jobs)
        if (const auto id = lq2x::identify_file(place(j.input)))
            inputs.insert(*id);
    std::atomic<std::size_t> next = 0;
    std::atomic<bool> any_failed = false, any_usage = false;
    const auto work = [&] {
        for (std::size_t i; (i = next++) < jobs.size();) {
            const result r = run(jobs[i], s, opt, inputs, report);
            if (r == result::failed)
                any_failed = true;
            if (r == result::usage)
                any_usage = true;
            report.finished();
        }
    };
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < workers; ++t)
        pool.emplace_back(work);
    work();
    for (std::thread& t : pool)
        t.join();
    if (s.skipped > 0 && s.quiet < 2)
        std::fprintf(stderr, "lq2x: skipped %zu file%s whose name%s no image format\n", s.skipped,
                     s.skipped == 1 ? "" : "s", s.skipped == 1 ? " says" : "s say");
    // A usage fault outranks a failed input: the command line needs mending first.
    return any_usage ? 2 : any_failed ? 1 : 0;
}

int run_stream(const settings& s)
{
    const job& j = s.jobs.front();
    lq2x::options opt = s.scale;
    opt.threads = int(s.cores);
    try {
        lq2x::scale_stream(place(j.input), place(j.output), s.pixel, opt, s.file);
        return 0;
    } catch (const lq2x::file_error& e) {
        progress(1, false).failed(e.output() ? j.output : j.input, e.what(), e.output());
        return e.status() == lq2x::error::no_cell ? 2 : 1;
    } catch (const std::bad_alloc&) {
        progress(1, false).failed(j.input, "out of memory", false);
        return 1;
    }
}

} // namespace tool
