// The typed C++ interface: a file read, its frames scaled through the
// picture entry, and written, with every failure given back as a
// file_error that carries its status, in the words of the caller's door.
#include <lq2x/files.hpp>

#include <algorithm>
#include <cstring>
#include <new>
#include <thread>

#include "dispatch.h"
#include "file_options.h"
#include "scale.h"
#include "stream.h"

namespace lq2x {
namespace {

// The file's frames, or with file.frame the one frame asked for, as a still.
files::animation read(std::span<const std::uint8_t> data, const options& opt, const file_options& file)
{
    files::check(opt, file);
    const files::decode_options d = files::decoding(opt, file);
    const disk::read_limit limit = files::input_limit(d.raw_size, d.limit, file.max_input_bytes);
    if (data.size() > limit.max_bytes)
        throw files::failure(limit.status, limit.too_large);
    files::animation a = files::decode_animation(data, d);
    if (file.frame < 0 || files::sniff(data, d) == format::ico) // an icon's image is picked as it is read
        return a;
    const std::size_t count = a.frames.size();
    if (std::uint64_t(file.frame) >= count)
        throw files::failure(error::bad_options, "{frame}: no frame " + std::to_string(file.frame) + ", the input has " +
                                                     std::to_string(count) +
                                                     (count == 1 ? " frame (0)" : " frames (0 to " + std::to_string(count - 1) + ")"));
    files::animation one = files::still(std::move(a.frames[std::size_t(file.frame)].picture));
    one.warning = std::move(a.warning);
    return one;
}

// Whatever a writer refuses is a result the format cannot hold. What the
// reader and the writer could not keep goes to `warning`, in one line.
std::vector<std::uint8_t> write(const files::animation& a, format f, const files::encode_options& opt,
                                std::string* warning)
{
    std::vector<std::uint8_t> out;
    std::vector<std::string> not_exact;
    try {
        out = files::encode_animation(a, f, opt, &not_exact);
    } catch (const files::failure& e) {
        throw files::failure(e.status == error::bad_file ? error::cannot_write : e.status, e.what());
    }
    if (warning != nullptr) {
        const std::string timing = files::timing_changes(a, f);
        *warning = a.warning + (a.warning.empty() || timing.empty() ? "" : "; ") + timing;
        for (const std::string& line : not_exact)
            *warning += (warning->empty() ? "" : "; ") + line;
    }
    return out;
}

} // namespace

namespace files {

std::vector<std::uint8_t> scale_bytes(std::span<const std::uint8_t> data, const options& opt, const file_options& file,
                                      format out, std::string* warning)
{
    check(opt, file);
    memory_source source(data);
    if (const std::optional<stream_plan> plan = plan_streaming(source, out, opt, file)) {
        std::vector<std::uint8_t> bytes;
        scale_streamed(*plan, source, opt, encoding(opt, file), [&](std::span<const std::uint8_t> piece) {
            bytes.insert(bytes.end(), piece.begin(), piece.end());
        });
        if (warning != nullptr)
            warning->clear();
        return bytes;
    }
    animation a = read(data, opt, file);
    for (frame& f : a.frames)
        f.picture = scale(f.picture, opt, file.words); // one frame's source and result at a time
    if (out == format::same)
        out = output_format(sniff(data, decoding(opt, file)));
    const std::vector<std::uint8_t> bytes = write(a, out, files::encoding(opt, file), warning);
    if (warning != nullptr)
        *warning = words(*warning, file.words);
    return bytes;
}

} // namespace files

std::vector<std::uint8_t> scale_file(std::span<const std::uint8_t> data, const options& opt, const file_options& file,
                                     std::string* warning)
{
    return files::guarded(file.words, [&] { return files::scale_bytes(data, opt, file, file.out, warning); });
}

frames read_file(std::span<const std::uint8_t> data, const options& opt, const file_options& file)
{
    return files::guarded(file.words, [&] {
        const files::animation a = read(data, opt, file);
        const files::image& first = a.frames.front().picture;
        frames out{first.width, first.height, first.kind, a.animated, a.loops, {}, {}, words(a.warning, file.words)};
        out.pixels.reserve(a.frames.size() * first.pixels.size() * 4);
        for (const files::frame& f : a.frames) {
            out.pixels.insert(out.pixels.end(), f.picture.bytes(), f.picture.bytes() + f.picture.pixels.size() * 4);
            out.delays.push_back(f.delay);
            // An animation's frames are RGB or RGBA each: it has alpha if any has.
            if (files::has_alpha(f.picture.kind))
                out.kind = f.picture.kind;
        }
        return out;
    });
}

std::vector<std::uint8_t> write_file(const frames& in, const file_options& file, std::string* warning)
{
    return files::guarded(file.words, [&] {
        files::check({}, file);
        const std::size_t per_frame = std::size_t(std::max(in.width, 0)) * std::size_t(std::max(in.height, 0));
        if (in.width <= 0 || in.height <= 0 || in.delays.empty() || in.pixels.size() != 4 * per_frame * in.delays.size())
            throw files::failure(error::bad_size, "frames of no pixels, or not as many pixels as their size and "
                                                  "count say");
        if (pixel_bytes(in.kind) == 0 || in.kind == layout::rgb565)
            throw files::failure(error::bad_layout, "frames of layout " + std::to_string(int(in.kind)) +
                                                        ", which is not one of the 8-bit layouts (grey, grey and "
                                                        "alpha, RGB, RGBA)");
        files::animation a;
        a.animated = in.animated;
        a.loops = in.loops;
        for (std::size_t i = 0; i < in.delays.size(); ++i) {
            files::image img{in.width, in.height, in.kind, std::vector<pixel8888>(per_frame)};
            std::memcpy(img.bytes(), in.pixels.data() + 4 * per_frame * i, 4 * per_frame);
            a.frames.push_back({std::move(img), in.delays[i]});
        }
        const format f = file.out == format::same ? format::png : file.out;
        std::vector<std::uint8_t> bytes = write(a, f, files::encoding({}, file), warning);
        if (warning != nullptr)
            *warning = words(*warning, file.words);
        return bytes;
    });
}

format format_of_bytes(std::span<const std::uint8_t> data) { return files::sniff(data); }

format format_of_name(std::string_view name) { return files::format_named(name); }

const char* format_name(format f) { return files::name_of(f); }

bool format_writes(format f) { return files::writes(f); }

format format_written_for(format input) { return input == format::same ? input : files::output_format(input); }

limits file_limits(const options& opt, const file_options& file)
{
    return files::guarded(file.words, [&] {
        files::check(opt, file);
        const files::decode_options d = files::decoding(opt, file);
        const disk::read_limit bytes = files::input_limit(d.raw_size, d.limit, file.max_input_bytes);
        return limits{d.limit.max_pixels, bytes.max_bytes, files::most_frames(d.limit)};
    });
}

} // namespace lq2x
