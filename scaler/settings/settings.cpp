// The settings' names in every door, the words of their values, and one
// setting read from text: the one table behind every message that names a
// setting (settings.h).
#include "scaler/settings/settings.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include <lq2x/lq2x.h>
#include <lq2x/lq2x.hpp>

#include "scaler/kernels/targets.h"
#include "scaler/frame/frame_layer.h"

namespace lq2x {
namespace {

// Each setting as each door names it, by the name messages write it with
// ({field}), and whose setter takes it. An empty name: that door has no
// control for the setting. (The npm package's module has no threads and no
// files on disk, so it names neither threads nor keep_existing. The GIMP
// plug-in's are its procedure's parameters; GIMP reads and writes the files,
// so it names none of the files library's.)
struct names {
    std::string_view field, c, tool, python, page, script, gimp;
    int kind = LQ2X_SETTINGS_SCALING;
};

constexpr int FILES = LQ2X_SETTINGS_FILE;
constexpr names NAMES[] = {
    {"orientation", "orientation", "--rotate", "rotate", "Rotation", "rotate", "turn"},
    {"threads", "threads", "--threads", "threads", "", "", ""},
    {"edge", "edge_x, edge_y", "--edge", "edge", "Edges", "edge", "edge-x, edge-y"},
    {"edge_x", "edge_x", "--edge", "edge", "Left and right edges", "edgeX", "edge-x"},
    {"edge_y", "edge_y", "--edge", "edge", "Top and bottom edges", "edgeY", "edge-y"},
    {"tile", "tile_width, tile_height", "--tile", "tile", "Cell width and height", "tile", "tile-width, tile-height"},
    {"tile_margin", "tile_margin", "--tile-margin", "tile_margin", "Tile margin", "tileMargin", "tile-margin"},
    {"tile_spacing", "tile_spacing", "--tile-spacing", "tile_spacing", "Tile spacing", "tileSpacing", "tile-spacing"},
    {"scale", "scale", "--scale", "scale", "Scale", "scale", "scale"},
    {"rgb565", "rgb565", "--rgb565", "rgb565", "", "rgb565", ""},
    {"kernel", "kernel", "", "", "", "", ""},
    {"max_pixels", "max_pixels", "--max-pixels", "max_pixels", "", "maxPixels", ""},
    {"band_pixels", "band_pixels", "", "", "", "", ""},
    {"alpha_hides", "alpha_hides", "", "", "", "", ""},
    // The files library's (lq2x_file_options).
    {"format", "format", "--format", "format", "Save as", "format", "", FILES},
    {"frame", "frame", "--frame", "frame", "", "frame", "", FILES},
    {"png_level", "png_level", "--png-level", "png_level", "", "pngLevel", "", FILES},
    {"raw_size", "raw_width, raw_height", "--size", "size", "", "size", "", FILES},
    {"stream", "raw_width, raw_height", "--stream", "", "", "", "", FILES}, // a stream's frames, in the same fields
    {"gif_alpha", "gif_alpha", "--gif-alpha", "gif_alpha", "GIF alpha threshold", "gifAlpha", "", FILES},
    {"gif_colours", "gif_colours", "--gif-colours", "gif_colours", "GIF colours", "gifColours", "", FILES},
    {"gif_palette", "gif_palette", "--gif-palette", "gif_palette", "GIF palette", "gifPalette", "", FILES},
    {"max_input_bytes", "max_input_bytes", "", "max_input_bytes", "", "maxInputBytes", "", FILES},
    {"max_frames", "max_frames", "", "max_frames", "", "maxFrames", "", FILES},
    {"keep_existing", "keep_existing", "--no-clobber", "keep_existing", "", "", "", FILES},
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
    case door::script: return n.script;
    case door::gimp: return n.gimp;
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

error setting_named(std::string_view name, door d, int kinds, std::string& setting, int& kind)
{
    // The first row of a name wins: "edge" is the tool's and Python's name
    // for edge, edge_x and edge_y alike, and sets both.
    std::vector<std::string_view> known;
    for (const names& n : NAMES) {
        const std::string_view own = door_name(n, d);
        if ((n.kind & kinds) == 0 || own.empty())
            continue;
        if (own == name) {
            setting = n.field, kind = n.kind;
            return error::none;
        }
        if (std::find(known.begin(), known.end(), own) == known.end())
            known.push_back(own);
    }
    setting = detail::joined("no setting named ", detail::quoted(name), " (", detail::listed(known), ")");
    return error::bad_options;
}

namespace {

using detail::listed;
using detail::wants;

constexpr std::int64_t MAX_32 = std::numeric_limits<std::int32_t>::max();
// What --threads and threads= take: a thread a band, and no machine has more.
constexpr std::int64_t MOST_THREADS = 1024;

constexpr std::string_view FLAG_WORDS[] = {"0", "1"};

std::string n(std::int64_t v) { return std::to_string(v); }

// What each setting wants, as its refusal says it, and the status a value
// outside it gets.
struct wanted {
    std::string what;
    error status = error::bad_options;
};

std::optional<wanted> wanted_by(std::string_view name)
{
    const std::string from_0 = "a whole number from 0 to " + n(MAX_32);
    if (name == "orientation")
        return wanted{listed(detail::ORIENTATION_WORDS)};
    if (name == "edge_x" || name == "edge_y")
        return wanted{listed(detail::EDGE_WORDS)};
    if (name == "edge")
        return wanted{detail::joined(listed(detail::EDGE_WORDS), ", or two of them as H,V")};
    if (name == "kernel")
        return wanted{listed(detail::KERNEL_WORDS)};
    if (name == "tile")
        return wanted{"cells of WIDTHxHEIGHT, each from 1 to " + n(MAX_32) + " (0x0: none)", error::bad_grid};
    if (name == "tile_margin" || name == "tile_spacing")
        return wanted{from_0, error::bad_grid};
    if (name == "scale")
        return wanted{"2, 4 or 8"};
    if (name == "threads")
        return wanted{"a whole number from 0 to " + n(MOST_THREADS)};
    if (name == "max_pixels")
        return wanted{"a whole number of pixels (0: no limit)"};
    if (name == "band_pixels")
        return wanted{"a whole number of pixels (0: the library's choice)"};
    if (name == "rgb565" || name == "alpha_hides")
        return wanted{listed(FLAG_WORDS)};
    return std::nullopt;
}

// A setting read into `opt` from its text: the status and words that refuse
// the text, or none. Text that is no value of the setting's kind is refused
// here; a value of its kind is then judged as a struct holding it would be.
std::optional<std::pair<error, std::string>> read_setting(options& opt, std::string_view name, std::string_view text)
{
    const std::optional<wanted> w = wanted_by(name);
    if (!w)
        return std::pair{error::bad_options,
                         detail::joined("no setting named ", detail::quoted(name), " in the scaler's options")};
    const auto refused = [&] { return std::pair{w->status, wants(name, w->what, text)}; };
    const auto word = [&](std::span<const std::string_view> words, auto set) -> std::optional<std::pair<error, std::string>> {
        const auto i = detail::word_index(words, text);
        if (!i)
            return refused();
        set(*i);
        return std::nullopt;
    };
    const auto int32 = [&](std::int32_t& field, std::int64_t low = INT32_MIN) -> std::optional<std::pair<error, std::string>> {
        const auto v = detail::whole_number(text, low, MAX_32);
        if (!v)
            return refused();
        field = std::int32_t(*v);
        return std::nullopt;
    };
    const auto count = [&](std::uint64_t& field) -> std::optional<std::pair<error, std::string>> {
        const auto v = detail::whole_unsigned(text, 0, std::numeric_limits<std::uint64_t>::max());
        if (!v)
            return refused();
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
            return refused();
        opt.edge_x = as_edge(*h), opt.edge_y = as_edge(*v);
        return std::nullopt;
    }
    if (name == "tile") {
        const auto wh = detail::dimensions(text, INT32_MIN, MAX_32);
        if (!wh)
            return refused();
        opt.tile.width = std::int32_t(wh->first), opt.tile.height = std::int32_t(wh->second);
        return std::nullopt;
    }
    if (name == "tile_margin")
        return int32(opt.tile.margin);
    if (name == "tile_spacing")
        return int32(opt.tile.spacing);
    if (name == "scale") {
        std::int32_t scale = 0;
        if (auto r = int32(scale))
            return r;
        opt.scale = scale;
        return std::nullopt;
    }
    if (name == "threads") {
        const auto v = detail::whole_number(text, 0, MOST_THREADS);
        if (!v)
            return refused();
        opt.threads = int(*v);
        return std::nullopt;
    }
    if (name == "max_pixels")
        return count(opt.max_pixels);
    if (name == "band_pixels")
        return count(opt.band_pixels);
    if (name == "kernel")
        return word(detail::KERNEL_WORDS, [&](int i) { opt.use = kernel(i); });
    if (name == "rgb565")
        return word(FLAG_WORDS, [&](int i) { opt.rgb565 = i != 0; });
    return word(FLAG_WORDS, [&](int i) { opt.alpha_hides = i != 0; }); // alpha_hides
}

} // namespace

namespace detail {

error check_value(const options& opt, field f, std::string* why)
{
    const auto refuse = [&](std::string given) {
        const std::string_view name = FIELD_NAMES[int(f)];
        const wanted w = *wanted_by(name);
        if (why != nullptr)
            *why = wants(name, w.what, given);
        return w.status;
    };
    const auto known = [](edge e) { return e == edge::clamp || e == edge::wrap || e == edge::transparent; };
    const grid& g = opt.tile;
    switch (f) {
    case field::orientation:
        if (opt.turn != orientation::upright && opt.turn != orientation::ccw && opt.turn != orientation::cw)
            return refuse(n(int(opt.turn)));
        break;
    case field::edge_x:
        if (!known(opt.edge_x))
            return refuse(n(int(opt.edge_x)));
        break;
    case field::edge_y:
        if (!known(opt.edge_y))
            return refuse(n(int(opt.edge_y)));
        break;
    case field::kernel:
        if (int(opt.use) < LQ2X_KERNEL_AUTO || int(opt.use) > LQ2X_KERNEL_SIMD128)
            return refuse(n(int(opt.use)));
        if (target_for(opt.use) == nullptr) {
            if (why != nullptr)
                *why = joined("{kernel}: ", kernel_name(opt.use), " is not in this build or not on this processor");
            return error::no_kernel;
        }
        break;
    case field::tile:
        if (!(g.width == 0 && g.height == 0) && (g.width < 1 || g.height < 1))
            return refuse(n(g.width) + "x" + n(g.height));
        break;
    case field::tile_margin:
        if (g.margin < 0)
            return refuse(n(g.margin));
        break;
    case field::tile_spacing:
        if (g.spacing < 0)
            return refuse(n(g.spacing));
        break;
    case field::scale:
        if (opt.scale != 2 && opt.scale != 4 && opt.scale != 8)
            return refuse(n(opt.scale));
        break;
    }
    return error::none;
}

error check_options(const options& opt, std::string* why)
{
    for (const field f : {field::orientation, field::edge_x, field::edge_y, field::kernel, field::tile,
                          field::tile_margin, field::tile_spacing})
        if (const error e = check_value(opt, f, why); e != error::none)
            return e;
    const grid& g = opt.tile;
    const bool no_grid = g.width == 0 && g.height == 0;
    const auto refuse = [why](std::string text) {
        if (why != nullptr)
            *why = std::move(text);
        return error::bad_grid;
    };
    if (no_grid && g.margin != 0)
        return refuse("{tile_margin}: needs a tile grid ({tile})");
    if (no_grid && g.spacing != 0)
        return refuse("{tile_spacing}: needs a tile grid ({tile})");
    return error::none;
}

error check_grid_fits(const grid& g, std::int64_t width, std::int64_t height, std::string* why)
{
    if (g.width == 0 || width == 0 || height == 0 || (g.margin < width && g.margin < height))
        return error::none;
    if (why != nullptr)
        *why = "{tile_margin}: a margin of " + std::to_string(g.margin) + " leaves no cell in a picture of " +
               std::to_string(width) + " x " + std::to_string(height);
    return error::no_cell;
}

} // namespace detail

error set_option(options& opt, std::string_view name, std::string_view text, door d, std::string& why)
{
    options changed = opt;
    if (const auto refused = read_setting(changed, name, text)) {
        why = words(refused->second, d);
        return refused->first;
    }
    // The value as a struct holding it would be judged: each field it sets on
    // its own (how it goes with the others is known once all are given).
    for (int f = 0; f < int(std::size(detail::FIELD_NAMES)); ++f) {
        if (detail::FIELD_NAMES[f] != name && !(name == "edge" && detail::FIELD_NAMES[f].starts_with("edge_")))
            continue;
        if (const error e = detail::check_value(changed, detail::field(f), &why); e != error::none) {
            why = words(why, d);
            return e;
        }
    }
    opt = changed;
    why.clear();
    return error::none;
}

} // namespace lq2x
