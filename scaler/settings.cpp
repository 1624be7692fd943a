// The settings' names in every door, the words of their values, and one
// setting read from text: the one table behind every message that names a
// setting (settings.h).
#include "settings.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include <lq2x/lq2x.h>
#include <lq2x/lq2x.hpp>

#include "walk.h"

namespace lq2x {
namespace {

// Each setting as each door names it, by the name messages write it with
// ({field}). An empty name: that door has no control for the setting.
struct names {
    std::string_view field, c, tool, python, page;
};

constexpr names NAMES[] = {
    {"orientation", "orientation", "--rotate", "rotate", "Rotation"},
    {"threads", "threads", "--threads", "threads", ""},
    {"edge", "edge_x, edge_y", "--edge", "edge", "Edges"},
    {"edge_x", "edge_x", "--edge", "edge", "Left and right edges"},
    {"edge_y", "edge_y", "--edge", "edge", "Top and bottom edges"},
    {"tile", "tile_width, tile_height", "--tile", "tile", "Cell width and height"},
    {"tile_margin", "tile_margin", "--tile-margin", "tile_margin", "Tile margin"},
    {"tile_spacing", "tile_spacing", "--tile-spacing", "tile_spacing", "Tile spacing"},
    {"scale", "scale", "--scale", "scale", "Scale"},
    {"rgb565", "rgb565", "--rgb565", "rgb565", ""},
    {"kernel", "kernel", "", "", ""},
    {"max_pixels", "max_pixels", "--max-pixels", "max_pixels", ""},
    {"band_pixels", "band_pixels", "", "", ""},
    {"alpha_hides", "alpha_hides", "", "", ""},
    // The files library's (lq2x_file_options).
    {"format", "format", "--format", "format", "Save as"},
    {"frame", "frame", "--frame", "frame", ""},
    {"png_level", "png_level", "--png-level", "png_level", ""},
    {"raw_size", "raw_width, raw_height", "--size", "size", ""},
    {"stream", "raw_width, raw_height", "--stream", "", ""}, // a stream's frames, in the same fields
    {"gif_alpha", "gif_alpha", "--gif-alpha", "gif_alpha", "GIF alpha threshold"},
    {"gif_colours", "gif_colours", "--gif-colours", "gif_colours", "GIF colours"},
    {"gif_palette", "gif_palette", "--gif-palette", "gif_palette", "GIF palette"},
    {"max_input_bytes", "max_input_bytes", "", "max_input_bytes", ""},
    {"max_frames", "max_frames", "", "max_frames", ""},
    {"keep_existing", "keep_existing", "--no-clobber", "keep_existing", ""},
};

const names* named(std::string_view field)
{
    for (const names& n : NAMES)
        if (n.field == field)
            return &n;
    return nullptr;
}

std::string_view door_name(const names& n, door d)
{
    switch (d) {
    case door::tool: return n.tool;
    case door::python: return n.python;
    case door::page: return n.page;
    case door::c: break;
    }
    return n.c;
}

// The name a {field} becomes in door d: the door's own, or none; a field
// the table lacks stays as it was written.
std::optional<std::string_view> name_in(std::string_view field, door d)
{
    const names* n = named(field);
    if (n == nullptr)
        return std::nullopt;
    return door_name(*n, d);
}

// The {field}s of a stretch of text put in, or nothing when one names a
// setting the door has no name for (and `drop` says to leave such a part out).
std::optional<std::string> filled(std::string_view text, door d, bool drop)
{
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t open = text.find('{', at), close = open == text.npos ? open : text.find('}', open);
        if (close == text.npos) {
            out += text.substr(at);
            break;
        }
        out += text.substr(at, open - at);
        const std::string_view field = text.substr(open + 1, close - open - 1);
        const auto name = name_in(field, d);
        if (!name)
            out += text.substr(open, close - open + 1);
        else if (!name->empty())
            out += *name;
        else if (drop)
            return std::nullopt;
        else
            out += named(field)->c; // a setting named where the door has none: its field's own name
        at = close + 1;
    }
    return out;
}

} // namespace

std::string words(std::string_view text, door d)
{
    // Parts in parentheses are hints ("(--max-pixels raises it)"): one that
    // names a setting the door lacks is left out with the space before it.
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t open = text.find('(', at), close = open == text.npos ? open : text.find(')', open);
        if (close == text.npos) {
            out += *filled(text.substr(at), d, false);
            break;
        }
        out += *filled(text.substr(at, open - at), d, false);
        if (const auto part = filled(text.substr(open, close - open + 1), d, true)) {
            out += *part;
        } else if (!out.empty() && out.back() == ' ') {
            out.pop_back();
        }
        at = close + 1;
    }
    return out;
}


namespace {

using detail::listed;
using detail::wants;

constexpr std::int64_t MAX_32 = std::numeric_limits<std::int32_t>::max();
constexpr std::uint64_t MAX_64 = std::numeric_limits<std::uint64_t>::max();
// What --threads and threads= take: a thread a band, and no machine has more.
constexpr std::int64_t MOST_THREADS = 1024;

constexpr std::string_view FLAG_WORDS[] = {"0", "1"};

// A setting read into `opt`, or the message that refuses its text.
std::optional<std::string> read_setting(options& opt, std::string_view name, std::string_view text)
{
    const auto word = [&](std::span<const std::string_view> words, auto set) -> std::optional<std::string> {
        const auto i = detail::word_index(words, text);
        if (!i)
            return wants(name, listed(words), text);
        set(*i);
        return std::nullopt;
    };
    const auto number = [&](std::int64_t low, std::int64_t high, auto set) -> std::optional<std::string> {
        const auto v = detail::whole_number(text, low, high);
        if (!v)
            return wants(name, detail::joined("a whole number from ", std::to_string(low), " to ", std::to_string(high)), text);
        set(*v);
        return std::nullopt;
    };
    const auto count = [&](std::uint64_t& field, std::string_view what) -> std::optional<std::string> {
        const auto v = detail::whole_unsigned(text, 0, MAX_64);
        if (!v)
            return wants(name, what, text);
        field = *v;
        return std::nullopt;
    };
    const auto as_edge = [](int i) { return edge(i); };
    if (name == "orientation")
        return word(detail::ORIENTATION_WORDS, [&](int i) { opt.turn = orientation(i); });
    if (name == "edge_x")
        return word(detail::EDGE_WORDS, [&](int i) { opt.edge_x = as_edge(i); });
    if (name == "edge_y")
        return word(detail::EDGE_WORDS, [&](int i) { opt.edge_y = as_edge(i); });
    if (name == "edge") {
        // One mode for both axes, or "H,V".
        const std::size_t comma = text.find(',');
        const auto h = detail::word_index(detail::EDGE_WORDS, text.substr(0, comma));
        const auto v = comma == text.npos ? h : detail::word_index(detail::EDGE_WORDS, text.substr(comma + 1));
        if (!h || !v)
            return wants(name, detail::joined(listed(detail::EDGE_WORDS), ", or two of them as H,V"), text);
        opt.edge_x = as_edge(*h), opt.edge_y = as_edge(*v);
        return std::nullopt;
    }
    if (name == "tile") {
        const auto wh = detail::dimensions(text, 0, MAX_32);
        if (!wh || (wh->first == 0) != (wh->second == 0))
            return wants(name, detail::joined("WIDTHxHEIGHT, each from 1 to ", std::to_string(MAX_32), " (0x0: none)"), text);
        opt.tile.width = std::int32_t(wh->first), opt.tile.height = std::int32_t(wh->second);
        return std::nullopt;
    }
    if (name == "tile_margin")
        return number(0, MAX_32, [&](std::int64_t v) { opt.tile.margin = std::int32_t(v); });
    if (name == "tile_spacing")
        return number(0, MAX_32, [&](std::int64_t v) { opt.tile.spacing = std::int32_t(v); });
    if (name == "scale") {
        const auto v = detail::whole_number(text, 2, 8);
        if (!v || (*v != 2 && *v != 4 && *v != 8))
            return wants(name, "2, 4 or 8", text);
        opt.scale = int(*v);
        return std::nullopt;
    }
    if (name == "threads")
        return number(0, MOST_THREADS, [&](std::int64_t v) { opt.threads = int(v); });
    if (name == "max_pixels")
        return count(opt.max_pixels, "a whole number of pixels (0: no limit)");
    if (name == "band_pixels")
        return count(opt.band_pixels, "a whole number of pixels (0: the library's choice)");
    if (name == "kernel")
        return word(detail::KERNEL_WORDS, [&](int i) { opt.use = kernel(i); });
    if (name == "rgb565")
        return word(FLAG_WORDS, [&](int i) { opt.rgb565 = i != 0; });
    if (name == "alpha_hides")
        return word(FLAG_WORDS, [&](int i) { opt.alpha_hides = i != 0; });
    return detail::joined("no setting named ", detail::quoted(name), " in the scaler's options");
}

} // namespace

error set_option(options& opt, std::string_view name, std::string_view text, door d, std::string& why)
{
    options changed = opt;
    if (const auto refused = read_setting(changed, name, text)) {
        why = words(*refused, d);
        return error::bad_options;
    }
    // What the options as a whole refuse now (a kernel this processor lacks).
    if (const error e = detail::check_options(changed, &why); e != error::none && e != error::bad_grid) {
        why = words(why, d);
        return e;
    }
    opt = changed;
    why.clear();
    return error::none;
}

} // namespace lq2x
