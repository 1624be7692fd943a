// The typed C++ interface: a file read, its frames scaled through the
// picture entry, and written, with every failure given back as a
// file_error that carries its status.
#include <lq2x/files.hpp>

#include <algorithm>
#include <cstring>
#include <new>
#include <thread>

#include "dispatch.h"
#include "gif.h"
#include "scale.h"

namespace lq2x {
namespace {

// Pixel limits past this (or none, 0) are taken as this: the input limits
// computed from it stay far from overflow.
constexpr std::uint64_t MOST_PIXELS = std::uint64_t{1} << 48;
constexpr int MOST_PNG_LEVEL = 12;

// Runs one call of the interface: the library's own failures and running
// out of memory become file_error.
template <typename F>
auto guarded(F call) -> decltype(call())
{
    try {
        return call();
    } catch (const files::failure& e) {
        throw file_error(e.status, e.what());
    } catch (const std::bad_alloc&) {
        throw file_error(error::no_memory, describe(error::no_memory));
    }
}

void check(const options& opt, const file_options& file)
{
    size unused{};
    if (const error e = picture_size(0, 0, opt, unused); e != error::none)
        throw files::failure(e, describe(e));
    const int f = int(file.out);
    if (f < int(format::same) || f > int(format::raw) || file.png_level < 0 || file.png_level > MOST_PNG_LEVEL ||
        file.frame < -1)
        throw files::failure(error::bad_options, "file options are not valid: an unknown format, a PNG level outside "
                                                 "0 to 12, or a frame below -1");
    using files::gif::setting;
    const auto refuse = [](setting s, int value, const std::string& takes) {
        throw files::failure(error::bad_options, files::gif::setting_name(s) + " is " + std::to_string(value) +
                                                     ": it takes " + takes);
    };
    if (file.gif_alpha < 0 || file.gif_alpha > 255)
        refuse(setting::alpha, file.gif_alpha, "1 to 255, or 0 to refuse partly transparent pixels");
    if (file.gif_colours < 0 || file.gif_colours == 1 || file.gif_colours > files::gif::MOST_COLOURS)
        refuse(setting::colours, file.gif_colours, "2 to 256, or 0 to refuse more colours than a GIF holds");
    if (file.gif_shares != gif_palette::shared && file.gif_shares != gif_palette::per_frame)
        refuse(setting::palette, int(file.gif_shares), "0 (one palette shared by the frames) or 1 (a palette each)");
}

files::decode_options decoding(const options& opt, const file_options& file)
{
    files::decode_options d;
    if (file.raw_width != 0 || file.raw_height != 0)
        d.raw_size = std::pair{file.raw_width, file.raw_height};
    const std::uint64_t most = opt.max_pixels == 0 ? MOST_PIXELS : std::min(opt.max_pixels, MOST_PIXELS);
    d.limit = {most, std::uint64_t(opt.scale) * std::uint64_t(opt.scale)};
    return d;
}

files::encode_options encoding(const options& opt, const file_options& file)
{
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    return {file.png_level, opt.threads > 0 ? opt.threads : int(cores),
            {file.gif_alpha, file.gif_colours, file.gif_shares == gif_palette::per_frame}};
}

// The file's frames, or with file.frame the one frame asked for, as a still.
files::animation read(std::span<const std::uint8_t> data, const options& opt, const file_options& file)
{
    check(opt, file);
    const files::decode_options d = decoding(opt, file);
    const files::read_limit limit = files::input_limit(d.raw_size, d.limit);
    if (data.size() > limit.max_bytes)
        throw files::failure(limit.status, limit.too_large);
    files::animation a = files::decode_animation(data, d);
    if (file.frame < 0)
        return a;
    const std::size_t count = a.frames.size();
    if (std::uint64_t(file.frame) >= count)
        throw files::failure(error::bad_options,
                             "no frame " + std::to_string(file.frame) + ": the input has " + std::to_string(count) +
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
    f = f == format::same ? format::png : f;
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

std::vector<std::uint8_t> scale_file(std::span<const std::uint8_t> data, const options& opt, const file_options& file,
                                     std::string* warning)
{
    return guarded([&] {
        files::animation a = read(data, opt, file);
        for (files::frame& f : a.frames)
            f.picture = files::scale(f.picture, opt); // one frame's source and result at a time
        const format out = file.out != format::same ? file.out : files::sniff(data, decoding(opt, file));
        return write(a, out, encoding(opt, file), warning);
    });
}

frames read_file(std::span<const std::uint8_t> data, const options& opt, const file_options& file)
{
    return guarded([&] {
        const files::animation a = read(data, opt, file);
        const files::image& first = a.frames.front().picture;
        frames out{first.width, first.height, first.kind, a.animated, a.loops, {}, {}, a.warning};
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
    return guarded([&] {
        check({}, file);
        const std::size_t per_frame = std::size_t(std::max(in.width, 0)) * std::size_t(std::max(in.height, 0));
        if (in.width <= 0 || in.height <= 0 || in.delays.empty() || in.pixels.size() != 4 * per_frame * in.delays.size() ||
            in.kind == layout::rgb565 || files::channels(in.kind) == 0)
            throw files::failure(error::bad_size, "frames of no pixels, or not as many pixels as their size and "
                                                  "count say, or of no 8-bit layout");
        files::animation a;
        a.animated = in.animated;
        a.loops = in.loops;
        for (std::size_t i = 0; i < in.delays.size(); ++i) {
            files::image img{in.width, in.height, in.kind, std::vector<pixel8888>(per_frame)};
            std::memcpy(img.bytes(), in.pixels.data() + 4 * per_frame * i, 4 * per_frame);
            a.frames.push_back({std::move(img), in.delays[i]});
        }
        return write(a, file.out, encoding({}, file), warning);
    });
}

format format_of_bytes(std::span<const std::uint8_t> data) { return files::sniff(data); }

format format_of_name(std::string_view name) { return files::format_named(name); }

const char* format_name(format f) { return files::name_of(f); }

input_limit file_input_limit(const options& opt, const file_options& file)
{
    return guarded([&] {
        check(opt, file);
        const files::decode_options d = decoding(opt, file);
        files::read_limit limit = files::input_limit(d.raw_size, d.limit);
        return input_limit{limit.max_bytes, std::move(limit.too_large)};
    });
}

void check_file_start(std::span<const std::uint8_t> head, const file_options& file)
{
    guarded([&] { files::check_signature(head, decoding({}, file)); });
}

} // namespace lq2x
