#include "stream.h"

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "deflate_bands.h"
#include "file_limits.h"
#include "file_options.h"
#include "formats.h"
#include "png_chunks.h"
#include "png_form.h"

namespace lq2x::files {
namespace {

// Whether a PNG's chunks before its image data hold no animation (an acTL).
// Anything odd on the way (a chunk type not of letters, more chunks than
// any still has there) is left to the whole-picture path to name.
bool still_png(byte_source& in)
{
    constexpr int MOST_CHUNKS = 1000;
    std::uint8_t head[8];
    std::uint64_t at = 8;
    for (int i = 0; i < MOST_CHUNKS && in.read_at(at, head) == sizeof head; ++i, at += 12 + std::uint64_t(get32(head))) {
        if (!std::all_of(head + 4, head + 8, [](std::uint8_t c) { return std::isalpha(c) != 0; }))
            return false;
        if (std::equal(head + 4, head + 8, "acTL"))
            return false;
        if (std::equal(head + 4, head + 8, "IDAT"))
            return true;
    }
    return false;
}

// The source's rows for the scaler, as 8-bit RGBA, one pass over the file.
class source_rows final : public row_source {
public:
    source_rows(const stream_plan& plan, byte_source& in) : plan_(plan), in_(in)
    {
        if (plan.in == format::png) {
            png_.emplace(in, LQ2X_MAX_SIDE);
            png_->start();
        } else {
            packed_.resize(std::size_t(plan.width) * (plan.pnm ? plan.pnm->pixel_bytes() : 3));
        }
    }

    void read(std::int32_t first, std::int32_t count, std::byte* rows, std::ptrdiff_t pitch) override
    {
        auto* out = reinterpret_cast<std::uint8_t*>(rows);
        if (png_) {
            png_->read(std::uint32_t(count), out, pitch);
        } else {
            for (std::int32_t y = 0; y < count; ++y, out += pitch) {
                const std::uint64_t at = (plan_.pnm ? plan_.pnm->pixels_at : 0) + std::uint64_t(first + y) * packed_.size();
                if (in_.read_at(at, packed_) != packed_.size())
                    throw failure(in_.why());
                if (plan_.pnm)
                    unpack_pnm_row(*plan_.pnm, packed_.data(), plan_.width, reinterpret_cast<pixel8888*>(out));
                else
                    unpack_rgb24(packed_.data(), plan_.width, reinterpret_cast<pixel8888*>(out));
            }
        }
        read_ += std::uint32_t(count);
    }

    // After the last row: the rest of the file read and checked.
    void finish()
    {
        if (png_ && read_ == plan_.height)
            png_->finish();
    }

private:
    const stream_plan& plan_;
    byte_source& in_;
    std::optional<png_rows> png_;
    std::vector<std::uint8_t> packed_;
    std::uint32_t read_ = 0;
};

// A result row at a time, with any pitch.
template <class F>
class sink_of final : public row_sink {
public:
    explicit sink_of(std::int32_t width, F take) : width_(std::size_t(width)), take_(std::move(take)) {}
    bool write(std::int32_t first, std::int32_t count, const std::byte* rows, std::ptrdiff_t pitch) override
    {
        for (std::int32_t y = 0; y < count; ++y)
            if (!take_(first + y, std::span(reinterpret_cast<const pixel8888*>(rows + y * pitch), width_)))
                return false;
        return true;
    }

private:
    std::size_t width_;
    F take_;
};

// One pass: the source scaled, each result row given to take(y, row),
// which returns false to stop there.
template <class F>
void pass(const stream_plan& plan, byte_source& in, const options& opt, F take)
{
    source_rows source(plan, in);
    size out{};
    picture_size(std::int32_t(plan.width), std::int32_t(plan.height), opt, out);
    sink_of<F> sink(std::int32_t(out.width), std::move(take));
    options o = opt;
    if (const error e = scale_picture_rows(std::int32_t(plan.width), std::int32_t(plan.height), layout::rgba, source,
                                           layout::rgba, sink, o);
        e != error::none)
        throw failure(e, describe(e));
    source.finish();
}

// Result rows handed from the scaling thread to the compressing ones, in
// order, a few MiB of them at most: each compressing thread takes its band
// of rows when the band before has been taken.
class row_queue {
public:
    row_queue(std::size_t width, std::size_t capacity) : width_(width), capacity_(capacity), rows_(width * capacity) {}

    // From the scaling thread: false when the compressing side has stopped.
    bool put(std::span<const pixel8888> row)
    {
        std::unique_lock lock(m_);
        changed_.wait(lock, [&] { return stopped_ || made_ - taken_ < capacity_; });
        if (stopped_)
            return false;
        pixel8888* slot = rows_.data() + made_ % capacity_ * width_;
        lock.unlock(); // the slot is free, and only this thread fills slots
        std::memcpy(slot, row.data(), row.size_bytes());
        lock.lock();
        ++made_;
        changed_.notify_all();
        return true;
    }

    // Rows [first, first + count) to use(i, row), once those before are taken.
    template <class F>
    void take(std::uint64_t first, int count, F use)
    {
        std::unique_lock lock(m_);
        changed_.wait(lock, [&] { return error_ || next_ == first; });
        for (int i = 0; i < count; ++i) {
            changed_.wait(lock, [&] { return error_ || made_ > first + std::uint64_t(i); });
            if (error_)
                std::rethrow_exception(error_);
            const pixel8888* row = rows_.data() + (first + std::uint64_t(i)) % capacity_ * width_;
            lock.unlock(); // the row stays until taken_ passes it
            use(i, std::span(row, width_));
            lock.lock();
            ++taken_;
            changed_.notify_all();
        }
        next_ = first + std::uint64_t(count);
        changed_.notify_all();
    }

    void fail(std::exception_ptr e) // the scaling thread's failure
    {
        const std::lock_guard lock(m_);
        error_ = std::move(e);
        changed_.notify_all();
    }
    void rethrow_failure()
    {
        const std::lock_guard lock(m_);
        if (error_)
            std::rethrow_exception(error_);
    }
    void stop() // the compressing side's
    {
        const std::lock_guard lock(m_);
        stopped_ = true;
        changed_.notify_all();
    }

private:
    std::size_t width_, capacity_;
    std::vector<pixel8888> rows_;
    std::mutex m_;
    std::condition_variable changed_;
    std::uint64_t made_ = 0, taken_ = 0, next_ = 0;
    bool stopped_ = false;
    std::exception_ptr error_;
};

void write_png_streamed(const stream_plan& plan, byte_source& in, const options& opt, const encode_options& enc,
                        layout result_kind, size out, const std::function<void(std::span<const std::uint8_t>)>& emit)
{
    // How to store the pixels, chosen over every result row as they come.
    form_survey survey;
    pass(plan, in, opt, [&](std::int32_t, std::span<const pixel8888> row) {
        survey.look(row, result_kind);
        return !survey.settled();
    });
    bool taken = false;
    if (const std::optional<pixel8888> key = survey.key_to_check())
        pass(plan, in, opt, [&](std::int32_t, std::span<const pixel8888> row) {
            taken = key_seen(row, result_kind, *key);
            return !taken;
        });
    const png_form form = survey.choose(taken);
    const std::optional<colour_table> palette =
        form.colour == png_colour::palette ? std::optional<colour_table>(form.palette) : std::nullopt;
    const std::size_t row_bytes = form.row_bytes(int(out.width)) + 1;

    constexpr std::size_t HELD = std::size_t{16} << 20; // result rows between scaling and compressing
    row_queue queue(std::size_t(out.width), std::max<std::size_t>(16, HELD / (std::size_t(out.width) * 4)));
    std::jthread scaling([&] {
        try {
            pass(plan, in, opt, [&](std::int32_t, std::span<const pixel8888> row) { return queue.put(row); });
        } catch (...) {
            queue.fail(std::current_exception());
        }
    });
    try {
        write_png(int(out.width), int(out.height), form,
                  [&](int first, int count, std::span<std::uint8_t> rows) {
                      queue.take(std::uint64_t(first), count, [&](int i, std::span<const pixel8888> row) {
                          put_png_row(form, palette ? &*palette : nullptr, row, result_kind,
                                      rows.subspan(std::size_t(i) * row_bytes, row_bytes));
                      });
                  },
                  enc.png_level, enc.threads, emit);
    } catch (...) {
        queue.stop();
        throw;
    }
    scaling.join();
    // A failure after the last row (the file's end) is the whole file's.
    queue.rethrow_failure();
}

} // namespace

std::optional<stream_plan> plan_streaming(byte_source& in, format out, const options& opt, const file_options& file,
                                          streaming when)
{
    if (opt.turn != orientation::upright || opt.edge_y == edge::wrap || file.frame > 0)
        return std::nullopt;
    stream_plan plan;
    std::uint8_t head[16] = {};
    const std::size_t got = in.read_at(0, head);
    const decode_options d = decoding(opt, file);
    plan.in = sniff(std::span(head, got), d);
    if (plan.in == format::raw) {
        const auto [w, h] = *d.raw_size;
        if (w <= 0 || h <= 0 || in.size() != std::uint64_t(w) * std::uint64_t(h) * 3)
            return std::nullopt;
        plan.width = std::uint32_t(w), plan.height = std::uint32_t(h), plan.kind = layout::rgb;
    } else if (plan.in == format::png) {
        if (!still_png(in))
            return std::nullopt;
        try {
            const png_rows header(in, LQ2X_MAX_SIDE);
            if (header.interlaced)
                return std::nullopt;
            plan.width = header.width, plan.height = header.height, plan.kind = header.kind();
        } catch (const failure&) {
            return std::nullopt; // the whole-picture path refuses it in its words
        }
    } else if (plan.in == format::pgm || plan.in == format::ppm || plan.in == format::pam) {
        std::vector<std::uint8_t> first(std::min<std::uint64_t>(in.size(), 4096));
        first.resize(in.read_at(0, first));
        try {
            plan.pnm = binary_pnm_header(first);
        } catch (const failure&) {
            return std::nullopt; // the whole-picture path refuses it in its words
        }
        const auto& p = plan.pnm;
        if (!p || p->width <= 0 || p->height <= 0 || p->width > LQ2X_MAX_SIDE || p->height > LQ2X_MAX_SIDE ||
            in.size() < p->pixels_at || (in.size() - p->pixels_at) / p->pixel_bytes() / std::uint64_t(p->width) <
                                            std::uint64_t(p->height))
            return std::nullopt;
        plan.width = std::uint32_t(p->width), plan.height = std::uint32_t(p->height), plan.kind = p->kind;
    } else {
        return std::nullopt;
    }
    plan.out = output_format(out == format::same ? plan.in : out);
    if (plan.out != format::png && plan.out != format::pgm && plan.out != format::ppm && plan.out != format::pam &&
        plan.out != format::pnm && plan.out != format::raw)
        return std::nullopt;
#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
    // PNG by rows hands rows from a scaling thread to the compressing one:
    // WebAssembly without threads (the page) holds it whole.
    if (plan.out == format::png)
        return std::nullopt;
#endif
    layout result_kind{};
    if (picture_layout(plan.kind, opt, result_kind) != error::none || (plan.out == format::pgm && !is_grey(result_kind)))
        return std::nullopt; // refused, in the whole-picture path's words
    const std::uint64_t result = std::uint64_t(plan.width) * plan.height * std::uint64_t(opt.scale) * std::uint64_t(opt.scale);
    const std::uint64_t whole_limit = d.limit.max_pixels;
    if (when == streaming::automatic && result < STREAM_FROM_PIXELS && result <= whole_limit)
        return std::nullopt;
    if (when == streaming::automatic) {
        // Only where the limits of a picture scaled by rows allow it: any
        // other is the whole-picture path's, refused there (if at all) in
        // the same words as every other format, from the header on.
        try {
            check_streamed_size(plan.width, plan.height, opt.scale, d.limit);
        } catch (const failure&) {
            return std::nullopt;
        }
    } else {
        check_streamed_size(plan.width, plan.height, opt.scale, d.limit);
    }
    return plan;
}

void scale_streamed(const stream_plan& plan, byte_source& in, const options& opt, const encode_options& enc,
                    const std::function<void(std::span<const std::uint8_t>)>& emit)
{
    size out{};
    layout result_kind{};
    if (const error e = picture_size(std::int32_t(plan.width), std::int32_t(plan.height), [&] {
            options o = opt;
            o.max_pixels = 0; // held to check_streamed_size's limits instead
            return o;
        }(), out);
        e != error::none)
        throw failure(e, describe(e));
    if (const error e = picture_layout(plan.kind, opt, result_kind); e != error::none)
        throw failure(e, describe(e));
    options o = opt;
    o.max_pixels = 0;
    if (plan.out == format::png) {
        write_png_streamed(plan, in, o, enc, result_kind, out, emit);
        return;
    }
    std::vector<std::uint8_t> bytes;
    layout stored = layout::rgb;
    if (plan.out != format::raw) {
        pnm_form form = pnm_form_of(int(out.width), int(out.height), result_kind, plan.out);
        stored = form.stored;
        bytes.assign(form.header.begin(), form.header.end());
        emit(bytes);
    }
    pass(plan, in, o, [&](std::int32_t, std::span<const pixel8888> row) {
        bytes.clear();
        if (plan.out == format::raw) {
            bytes.resize(row.size() * 3);
            pack_rgb24(row.data(), row.size(), bytes.data());
        } else {
            put_pnm_row(stored, row, bytes);
        }
        emit(bytes);
        return true;
    });
}

} // namespace lq2x::files
