// Files on disk through the files library: one file scaled into another,
// an input read under the limits, a stream of raw frames, and the start of
// a program that names files. Every door that names a file comes here, so
// the rules of disk.h hold wherever a file is named.
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstring>

#include <lq2x/files.hpp>
#include <lq2x/lq2x_files.h>

#include "c_api.h"
#include "disk.h"
#include "file_options.h"
#include "stream.h"

namespace lq2x {
namespace {

const char* c_path(const file_place& p) { return p ? p->c_str() : nullptr; }

disk::read_limit byte_limit(const options& opt, const file_options& file)
{
    const files::decode_options d = files::decoding(opt, file);
    return files::input_limit(d.raw_size, d.limit, file.max_input_bytes);
}

// The input whole, refused from its first bytes when they are no image the
// library reads, or a picture over the limits, before the rest is read.
std::vector<std::uint8_t> read_checked(const file_place& input, const options& opt, const file_options& file)
{
    const files::decode_options d = files::decoding(opt, file);
    disk::input in(c_path(input));
    return disk::read_whole(in, byte_limit(opt, file), [&](std::span<const std::uint8_t> head) {
        files::check_signature(head, d);
        if (!d.raw_size)
            if (const auto size = files::header_size(head))
                files::check_size(size->first, size->second, d.limit);
    });
}

// The format `output` is written in (output_format's answer), or failure.
format format_for(const file_place& output, const file_options& file)
{
    if (file.out != format::same || !output)
        return file.out;
    // A name without an extension takes the input's format; one whose
    // extension names no format the library writes is refused.
    const std::string stem = output->filename().string(), name = output->string();
    if (stem.find('.', 1) == std::string::npos)
        return format::same;
    const format f = files::format_named(name);
    if (f == format::same || !files::writes(f))
        throw files::failure(error::bad_options, "cannot tell the output format from '" + name +
                                                     "' (name it .png, .gif, .webp, .ppm, .pgm, .pam, .pnm or "
                                                     ".raw, or give {format})");
    return f;
}

// Refuses an output that is the input itself (by another name or a link),
// or one that exists when the options keep it, before anything is read.
void check_places(const file_place& input, const file_place& output, const file_options& file)
{
    const auto in = disk::identify(c_path(input), STDIN_FILENO);
    const auto out = disk::identify(c_path(output), STDOUT_FILENO);
    if (in && in == out)
        throw disk::failure(error::same_file, true, "is the input file; refusing to write over it");
    if (file.keep_existing && output && out)
        throw disk::failure(error::output_exists, true, "exists, kept as it is");
}

// 16-bit words as a stream carries them (little-endian), in place.
void to_native(std::span<std::uint8_t> words)
{
    if constexpr (std::endian::native == std::endian::big)
        for (std::size_t i = 0; i + 1 < words.size(); i += 2)
            std::swap(words[i], words[i + 1]);
}

// An input on disk read at any place, by pread: its size as it was opened.
class file_source final : public files::byte_source {
public:
    file_source(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
    std::uint64_t size() const override { return size_; }
    std::size_t read_at(std::uint64_t at, std::span<std::uint8_t> into) override
    {
        std::size_t done = 0;
        while (done < into.size() && at + done < size_) {
            const ssize_t n = ::pread(fd_, into.data() + done, into.size() - done, off_t(at + done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                why_ = n < 0 ? std::strerror(errno) : "the file became shorter as it was read";
                break;
            }
            done += std::size_t(n);
        }
        return done;
    }
    const char* why() const override { return why_; }

private:
    int fd_;
    std::uint64_t size_;
    const char* why_ = "truncated data";
};

// A large picture in a regular file that can be scaled by rows (stream.h)
// is, straight from the input into the output: true when it was.
bool scale_by_rows(const file_place& input, const file_place& output, const options& opt, const file_options& file,
                   format out, file_report& report)
{
    disk::input in(c_path(input));
    if (!in.size())
        return false; // a pipe is read once: held whole
    file_source source(in.fd(), *in.size());
    const std::optional<files::stream_plan> plan = files::plan_streaming(source, out, opt, file);
    if (!plan)
        return false;
    disk::output o(c_path(output), file.keep_existing);
    files::scale_streamed(*plan, source, opt, files::encoding(opt, file), [&](std::span<const std::uint8_t> piece) {
        o.write(piece);
        report.bytes_out += piece.size();
    });
    o.finish();
    report.bytes_in = source.size();
    return true;
}

} // namespace

format output_format(const file_place& output, const file_options& file)
{
    return files::guarded(file.words, [&] { return format_for(output, file); });
}

file_report scale_path(const file_place& input, const file_place& output, const options& opt, const file_options& file)
{
    return files::guarded(file.words, [&] {
        files::check(opt, file);
        const format out = format_for(output, file);
        check_places(input, output, file);
        file_report report;
        if (scale_by_rows(input, output, opt, file, out, report))
            return report;
        std::vector<std::uint8_t> result;
        {
            const std::vector<std::uint8_t> data = read_checked(input, opt, file);
            report.bytes_in = data.size();
            result = files::scale_bytes(data, opt, file, out, &report.warning);
        }
        disk::write_whole(c_path(output), result, file.keep_existing);
        report.bytes_out = result.size();
        return report;
    });
}

std::vector<std::uint8_t> read_input(const file_place& input, const options& opt, const file_options& file)
{
    return files::guarded(file.words, [&] {
        files::check(opt, file);
        return read_checked(input, opt, file);
    });
}

file_report scale_stream(const file_place& input, const file_place& output, layout kind, const options& opt,
                         const file_options& file)
{
    return files::guarded(file.words, [&] {
        files::check(opt, file);
        const int width = file.raw_width, height = file.raw_height, bytes = pixel_bytes(kind);
        if (bytes == 0)
            throw files::failure(error::bad_layout, describe(error::bad_layout));
        if (width < 1 || height < 1)
            throw files::failure(error::bad_options, "{stream}: a stream needs its frames' size");
        size out{};
        if (const error e = picture_size(width, height, opt, out); e != error::none) {
            std::string why;
            picture_check(width, height, opt, file.words, why);
            throw files::failure(e, why);
        }
        check_places(input, output, file);
        disk::input in(c_path(input));
        disk::widen_pipe(in.fd());
        std::vector<std::uint8_t> frame(std::size_t(width) * std::size_t(height) * std::size_t(bytes)),
            scaled(std::size_t(out.width) * std::size_t(out.height) * std::size_t(bytes));
        const picture_view<const std::byte> src{reinterpret_cast<const std::byte*>(frame.data()), width, height,
                                                std::ptrdiff_t(width) * bytes, kind};
        const picture_view<std::byte> dst{reinterpret_cast<std::byte*>(scaled.data()), std::int32_t(out.width),
                                          std::int32_t(out.height), std::ptrdiff_t(out.width) * bytes, kind};
        disk::output to(c_path(output), file.keep_existing);
        file_report report;
        for (std::uint64_t frames = 0;; ++frames) {
            const std::size_t got = in.read(frame);
            report.bytes_in += got;
            if (got == 0) {
                to.finish();
                return report;
            }
            if (got < frame.size()) {
                to.finish();
                throw files::failure("the stream ends inside a frame (" + std::to_string(got) + " of its " +
                                     std::to_string(frame.size()) + " bytes) after " + std::to_string(frames) +
                                     " whole frame" + (frames == 1 ? "" : "s") + ", which were written");
            }
            if (kind == layout::rgb565)
                to_native(frame);
            if (const error e = scale_picture(src, dst, opt); e != error::none)
                throw files::failure(e, describe(e));
            if (kind == layout::rgb565)
                to_native(scaled);
            to.write(scaled);
            report.bytes_out += scaled.size();
        }
    });
}

std::optional<file_identity> identify_file(const file_place& path)
{
    const auto id = disk::identify(c_path(path), STDIN_FILENO);
    if (!id)
        return std::nullopt;
    return file_identity{id->device, id->inode};
}

std::filesystem::path batch_output(const std::filesystem::path& relative, const std::filesystem::path& out_dir,
                                   std::string_view suffix, const file_options& file)
{
    const format f = file.out != format::same ? file.out : format_written_for(format_of_name(relative.string()));
    std::string name = relative.stem().string();
    name += suffix;
    if (f == format::same) {
        name += relative.extension().string();
    } else {
        name += '.';
        name += format_name(f);
    }
    return out_dir / relative.parent_path() / name;
}

bool batch_takes(const std::filesystem::path& name, const file_options& file)
{
    const format f = format_of_name(name.string());
    return f != format::same && (f != format::raw || file.raw_width > 0);
}

closed_streams begin_program()
{
    const disk::standard_streams s = disk::begin_program();
    return {s.input, s.output};
}

} // namespace lq2x

namespace {

using namespace lq2x::files::c;

lq2x::file_place place(const char* path) { return path ? lq2x::file_place(path) : std::nullopt; }

// A report's counts and warning from a C++ one.
void give(const lq2x::file_report& r, lq2x_report* out)
{
    out->bytes_in = r.bytes_in;
    out->bytes_out = r.bytes_out;
    put(out->message, r.warning);
}

// A job that writes a file, with its report made empty first and filled in.
template <typename Job>
lq2x_status report_on(const lq2x_options* options, const lq2x_file_options* file_options, lq2x_report* report,
                      Job job)
{
    if (report == nullptr)
        return LQ2X_ERROR_NULL_OUTPUT;
    *report = {};
    return run(
        options, file_options, report->message,
        [&](const lq2x::options& opt, const lq2x::file_options& file) {
            give(job(opt, file), report);
            return LQ2X_OK;
        },
        &report->output);
}

} // namespace

extern "C" {

lq2x_status lq2x_scale_path(const char* input, const char* output, const lq2x_options* options,
                            const lq2x_file_options* file_options, lq2x_report* report)
{
    return report_on(options, file_options, report, [&](const lq2x::options& opt, const lq2x::file_options& file) {
        return lq2x::scale_path(place(input), place(output), opt, file);
    });
}

lq2x_status lq2x_read_input(const char* path, const lq2x_options* options, const lq2x_file_options* file_options,
                            lq2x_file* out)
{
    if (out == nullptr)
        return LQ2X_ERROR_NULL_OUTPUT;
    *out = {};
    return run(options, file_options, out->message, [&](const lq2x::options& opt, const lq2x::file_options& file) {
        const std::vector<std::uint8_t> bytes = lq2x::read_input(place(path), opt, file);
        out->bytes = static_cast<std::uint8_t*>(std::malloc(std::max<std::size_t>(bytes.size(), 1)));
        if (out->bytes == nullptr)
            throw std::bad_alloc();
        std::memcpy(out->bytes, bytes.data(), bytes.size());
        out->size = bytes.size();
        return LQ2X_OK;
    });
}

lq2x_status lq2x_scale_stream(const char* input, const char* output, std::int32_t layout, const lq2x_options* options,
                              const lq2x_file_options* file_options, lq2x_report* report)
{
    return report_on(options, file_options, report, [&](const lq2x::options& opt, const lq2x::file_options& file) {
        return lq2x::scale_stream(place(input), place(output), lq2x::layout(layout), opt, file);
    });
}

std::int32_t lq2x_file_identity(const char* path, std::uint64_t identity[2])
{
    const auto id = lq2x::identify_file(place(path));
    if (!id || identity == nullptr)
        return 0;
    identity[0] = id->device;
    identity[1] = id->inode;
    return 1;
}

std::size_t lq2x_batch_output(const char* relative, const char* out_dir, const char* suffix,
                              const lq2x_file_options* file_options, char* out, std::size_t size)
{
    lq2x::file_options file;
    if (relative == nullptr || out_dir == nullptr || !lq2x::files::c::read_file_options(file_options, file))
        return 0;
    try {
        const std::string path = lq2x::batch_output(relative, out_dir, suffix ? suffix : "", file).string();
        if (out != nullptr && size > path.size())
            std::memcpy(out, path.c_str(), path.size() + 1);
        return path.size();
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

std::int32_t lq2x_batch_takes(const char* name, const lq2x_file_options* file_options)
{
    lq2x::file_options file;
    if (name == nullptr || !lq2x::files::c::read_file_options(file_options, file))
        return 0;
    return lq2x::batch_takes(name, file) ? 1 : 0;
}

std::int32_t lq2x_begin_program(void)
{
    const lq2x::closed_streams s = lq2x::begin_program();
    return (s.input ? 1 : 0) | (s.output ? 2 : 0);
}

} // extern "C"
