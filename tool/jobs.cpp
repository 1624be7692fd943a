#include "jobs.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <new>
#include <set>
#include <thread>

#include "file_io.h"
#include "progress.h"

namespace tool {
namespace {

// Why a file failed, and which: the input, or the output it was to go to;
// and whether the command line was at fault (exit 2).
struct fault {
    std::string why;
    bool output = false;
    bool usage = false;
};

// Runs one job; what went wrong, if anything.
template <typename F>
std::optional<fault> attempt(F work)
{
    try {
        work();
        return std::nullopt;
    } catch (const io::output_failure& e) {
        return fault{e.what(), true};
    } catch (const io::failure& e) {
        return fault{e.what()};
    } catch (const lq2x::file_error& e) {
        return fault{e.what(), false, e.status() == lq2x::error::no_cell};
    } catch (const std::bad_alloc&) {
        return fault{"out of memory"};
    }
}

// One file, start to end: read within the library's limit, scaled and
// written by the library, the result put in place; what the result could
// not keep is said in one line.
std::optional<fault> run(const job& j, const settings& s, const lq2x::options& opt, const std::set<io::file_id>& inputs,
                         progress& report)
{
    if (const auto id = io::identify(j.output, STDOUT_FILENO); id && inputs.count(*id))
        return fault{"refusing to overwrite an input file", true};
    return attempt([&] {
        lq2x::file_options file = s.file;
        if (file.out == lq2x::format::same && j.output != "-")
            file.out = lq2x::format_of_name(j.output); // none known: the input's own, as for "-"
        std::vector<std::uint8_t> result;
        std::string warning;
        {
            lq2x::input_limit limit = lq2x::file_input_limit(opt, file);
            const std::vector<std::uint8_t> data =
                io::read_file(j.input, {limit.max_bytes, std::move(limit.too_large)},
                              [&](std::span<const std::uint8_t> head) { lq2x::check_file_start(head, file); });
            result = lq2x::scale_file(data, opt, file, &warning);
        }
        io::write_file(j.output, result);
        if (!warning.empty())
            report.failed(j.input, "warning: " + warning, false);
    });
}

// 16-bit words as the stream carries them (little-endian), in place.
void to_native(std::span<std::uint8_t> words)
{
    if constexpr (std::endian::native == std::endian::big)
        for (std::size_t i = 0; i + 1 < words.size(); i += 2)
            std::swap(words[i], words[i + 1]);
}

// The stream, start to end; frames in memory one at a time, whatever its length.
void scale_stream(const job& j, const settings& s)
{
    const auto [width, height] = *s.stream;
    lq2x::options opt = s.scale;
    opt.threads = int(s.cores);
    lq2x::size out{};
    if (const lq2x::error e = lq2x::picture_size(width, height, opt, out); e != lq2x::error::none)
        throw lq2x::file_error(e, lq2x::describe(e));
    io::input_file in(j.input);
    io::widen_pipe(in.fd());
    const int bytes = lq2x::pixel_bytes(s.pixel);
    std::vector<std::uint8_t> frame(std::size_t(width) * std::size_t(height) * std::size_t(bytes)),
        scaled(std::size_t(out.width) * std::size_t(out.height) * std::size_t(bytes));
    const lq2x::picture_view<const std::byte> src{reinterpret_cast<const std::byte*>(frame.data()), width, height,
                                                  std::ptrdiff_t(width) * bytes, s.pixel};
    const lq2x::picture_view<std::byte> dst{reinterpret_cast<std::byte*>(scaled.data()), std::int32_t(out.width),
                                            std::int32_t(out.height), std::ptrdiff_t(out.width) * bytes, s.pixel};
    io::output_file to(j.output);
    for (std::uint64_t frames = 0;; ++frames) {
        const std::size_t got = in.read(frame);
        if (got == 0)
            return to.finish();
        if (got < frame.size()) {
            to.finish();
            throw io::failure("the stream ends inside a frame (" + std::to_string(got) + " of its " +
                              std::to_string(frame.size()) + " bytes) after " + std::to_string(frames) +
                              " whole frame" + (frames == 1 ? "" : "s") + ", which were written");
        }
        if (s.pixel == lq2x::layout::rgb565)
            to_native(frame);
        if (const lq2x::error e = lq2x::scale_picture(src, dst, opt); e != lq2x::error::none)
            throw lq2x::file_error(e, lq2x::describe(e));
        if (s.pixel == lq2x::layout::rgb565)
            to_native(scaled);
        to.write(scaled);
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
    progress report(jobs.size(), jobs.size() >= 4 && ::isatty(STDERR_FILENO));
    std::set<io::file_id> inputs;
    for (const job& j : jobs)
        if (const auto id = io::identify(j.input, STDIN_FILENO))
            inputs.insert(*id);
    std::atomic<std::size_t> next = 0;
    std::atomic<bool> any_failed = false, any_usage = false;
    const auto work = [&] {
        for (std::size_t i; (i = next++) < jobs.size();) {
            if (const auto f = run(jobs[i], s, opt, inputs, report)) {
                (f->usage ? any_usage : any_failed) = true;
                report.failed(f->output ? jobs[i].output : jobs[i].input, f->why, f->output);
            }
            report.finished();
        }
    };
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < workers; ++t)
        pool.emplace_back(work);
    work();
    for (std::thread& t : pool)
        t.join();
    return any_usage ? 2 : any_failed ? 1 : 0;
}

int run_stream(const settings& s)
{
    const job& j = s.jobs.front();
    const auto in = io::identify(j.input, STDIN_FILENO);
    std::optional<fault> f;
    if (in && in == io::identify(j.output, STDOUT_FILENO))
        f = fault{"refusing to overwrite an input file", true};
    else
        f = attempt([&] { scale_stream(j, s); });
    if (f)
        progress(1, false).failed(f->output ? j.output : j.input, f->why, f->output);
    return !f ? 0 : f->usage ? 2 : 1;
}

} // namespace tool
