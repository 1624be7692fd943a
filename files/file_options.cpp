#include "file_options.h"

#include <algorithm>
#include <limits>
#include <thread>

#include "file_limits.h"
#include "scaler/settings/settings.h"

namespace lq2x::files {
namespace {

using detail::listed;
using detail::wants;

constexpr int MOST_PNG_LEVEL = 12;
constexpr int MOST_GIF_COLOURS = 256;
constexpr std::string_view GIF_PALETTE_WORDS[] = {"shared", "per-frame"};
constexpr std::string_view FLAG_WORDS[] = {"0", "1"};

std::string n(std::int64_t v) { return std::to_string(v); }

// The names of the formats the library writes, as a message lists them.
std::string written_formats()
{
    std::vector<std::string_view> names;
    for (const format f : ALL_FORMATS)
        names.push_back(name_of(f));
    return listed(names);
}

} // namespace

void check(const options& opt, const file_options& file)
{
    std::string why;
    if (const error e = picture_check(0, 0, opt, file.words, why); e != error::none)
        throw failure(e, why);
    const auto refuse = [](const std::string& text) { throw failure(error::bad_options, text); };
    const int f = int(file.out);
    if (f < int(format::same) || f > int(format::pcx) || (file.out != format::same && !writes(file.out)))
        refuse(wants("format", written_formats(), f > int(format::same) && f <= int(format::pcx) ? name_of(file.out) : n(f)));
    if (file.frame < -1)
        refuse(wants("frame", "a frame's number from 0 (-1: every frame)", n(file.frame)));
    if (file.png_level < 0 || file.png_level > MOST_PNG_LEVEL)
        refuse(wants("png_level", "a whole number from 0 to " + n(MOST_PNG_LEVEL), n(file.png_level)));
    if ((file.raw_width != 0 || file.raw_height != 0) && (file.raw_width < 1 || file.raw_height < 1))
        refuse(wants("raw_size", "WIDTHxHEIGHT, each from 1", n(file.raw_width) + "x" + n(file.raw_height)));
    if (file.gif_alpha < 0 || file.gif_alpha > 255)
        refuse(wants("gif_alpha", "a whole number from 1 to 255 (0: none)", n(file.gif_alpha)));
    if (file.gif_colours != 0 && (file.gif_colours < 2 || file.gif_colours > MOST_GIF_COLOURS))
        refuse(wants("gif_colours", "a whole number from 2 to " + n(MOST_GIF_COLOURS) + " (0: none)", n(file.gif_colours)));
    if (file.gif_shares != gif_palette::shared && file.gif_shares != gif_palette::per_frame)
        refuse(wants("gif_palette", listed(GIF_PALETTE_WORDS), n(int(file.gif_shares))));
    if (int(file.words) < LQ2X_DOOR_C || int(file.words) > LQ2X_DOOR_GIMP)
        refuse("door " + n(int(file.words)) + " is none the library knows (0 to " + n(LQ2X_DOOR_GIMP) + ")");
}

encode_options encoding(const options& opt, const file_options& file)
{
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    return {file.png_level, opt.threads > 0 ? opt.threads : int(cores),
            {file.gif_alpha, file.gif_colours, file.gif_shares == gif_palette::per_frame}};
}

decode_options decoding(const options& opt, const file_options& file)
{
    decode_options d;
    if (file.raw_width != 0 || file.raw_height != 0)
        d.raw_size = std::pair{file.raw_width, file.raw_height};
    // No limit, or one past the most, is the most: the input limits computed
    // from it stay far from overflow.
    const std::uint64_t most = opt.max_pixels == 0 ? LQ2X_MOST_PIXELS : std::min(opt.max_pixels, LQ2X_MOST_PIXELS);
    d.limit = {most, std::uint64_t(opt.scale) * std::uint64_t(opt.scale), file.max_frames};
    d.icon_image = file.frame;
    return d;
}

std::optional<std::string> read_setting(file_options& file, std::string_view name, std::string_view text)
{
    const auto number = [&](std::int64_t low, std::int64_t high, std::string what, auto set) -> std::optional<std::string> {
        const auto v = detail::whole_number(text, low, high);
        if (!v)
            return wants(name, what, text);
        set(*v);
        return std::nullopt;
    };
    const auto count = [&](std::uint64_t& field) -> std::optional<std::string> {
        const auto v = detail::whole_unsigned(text, 0, std::numeric_limits<std::uint64_t>::max());
        if (!v)
            return wants(name, "a whole number (0: what the pixel limit allows)", text);
        field = *v;
        return std::nullopt;
    };
    if (name == "format") {
        const std::optional<format> f = text == "same" ? format::same : format_called(text);
        if (!f || (*f != format::same && !writes(*f)))
            return wants(name, written_formats(), text);
        file.out = *f;
        return std::nullopt;
    }
    if (name == "frame")
        return number(-1, std::numeric_limits<std::int64_t>::max(), "a frame's number from 0 (-1: every frame)",
                      [&](std::int64_t v) { file.frame = v; });
    if (name == "png_level")
        return number(0, MOST_PNG_LEVEL, "a whole number from 0 to " + n(MOST_PNG_LEVEL),
                      [&](std::int64_t v) { file.png_level = int(v); });
    if (name == "raw_size" || name == "stream") {
        const auto wh = detail::dimensions(text, 1, LQ2X_MAX_SIDE);
        if (!wh)
            return wants(name, "WIDTHxHEIGHT, each from 1 to " + n(LQ2X_MAX_SIDE), text);
        file.raw_width = std::int32_t(wh->first), file.raw_height = std::int32_t(wh->second);
        return std::nullopt;
    }
    if (name == "gif_alpha")
        return number(0, 255, "a whole number from 1 to 255 (0: none)", [&](std::int64_t v) { file.gif_alpha = int(v); });
    if (name == "gif_colours") {
        const auto v = detail::whole_number(text, 0, MOST_GIF_COLOURS);
        if (!v || *v == 1)
            return wants(name, "a whole number from 2 to " + n(MOST_GIF_COLOURS) + " (0: none)", text);
        file.gif_colours = int(*v);
        return std::nullopt;
    }
    if (name == "gif_palette") {
        const auto i = detail::word_index(GIF_PALETTE_WORDS, text);
        if (!i)
            return wants(name, listed(GIF_PALETTE_WORDS), text);
        file.gif_shares = gif_palette(*i);
        return std::nullopt;
    }
    if (name == "keep_existing") {
        const auto i = detail::word_index(FLAG_WORDS, text);
        if (!i)
            return wants(name, listed(FLAG_WORDS), text);
        file.keep_existing = *i != 0;
        return std::nullopt;
    }
    if (name == "max_input_bytes")
        return count(file.max_input_bytes);
    if (name == "max_frames")
        return count(file.max_frames);
    if (name == "door")
        return number(LQ2X_DOOR_C, LQ2X_DOOR_GIMP, "a whole number from 0 to " + n(LQ2X_DOOR_GIMP),
                      [&](std::int64_t v) { file.words = door(v); });
    return detail::joined("no setting named ", detail::quoted(name), " in the file options");
}

} // namespace lq2x::files

namespace lq2x {

error set_file_option(file_options& file, std::string_view name, std::string_view text, door d, std::string& why)
{
    file_options changed = file;
    if (const auto refused = files::read_setting(changed, name, text)) {
        why = words(*refused, d);
        return error::bad_options;
    }
    file = changed;
    why.clear();
    return error::none;
}

} // namespace lq2x
