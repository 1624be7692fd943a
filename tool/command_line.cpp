#include "command_line.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <thread>

#include "numbers.h"
#include "progress.h"

namespace tool {
namespace {

// The library's version is the project's one version number.
const std::string VERSION = std::string("lq2x ") + lq2x_version_string();
constexpr std::uint64_t MAX_THREADS = 1024;
constexpr std::uint64_t MAX_PIXELS = std::uint64_t{1} << 48; // input limits computed from it stay far from overflow
constexpr std::uint64_t MAX_SIDE = std::uint64_t{1} << 30;

const std::string DESCRIPTION =
    "Scales pixel art 2x (or 4x, 8x) with the LQ2x rule, optionally turning it a quarter-turn.\n"
    "Reads PNG (any kind, animated too), GIF, WebP, binary PGM/PPM/PAM and raw 24-bit RGB; writes\n"
    "the format the output name's extension says (.png .gif .webp .ppm .pgm .pam .pnm .raw), or\n"
    "--format. Animations stay animations in .png, .gif and .webp.";

const std::string FOOTER =
    "Examples:\n"
    "  lq2x sprite.png sprite2x.png\n"
    "  lq2x --scale 4 --rotate cw sheet.png sheet4x.png\n"
    "  lq2x -o big/ tiles/*.png\n"
    "  lq2x --rgb565 --rotate ccw --size 160x102 test.raw LQ2x.raw   (the test bench, exactly)\n"
    "  lq2x --tile 16x16 --tile-margin 1 --tile-spacing 1 --edge transparent sheet.png sheet2x.png\n"
    "  lq2x --edge wrap texture.png texture2x.png\n"
    "  lq2x walk.gif walk2x.gif            (every frame, delays and loops kept)\n"
    "  lq2x --frame 0 walk.gif first2x.png\n"
    "  ffmpeg -i game.mkv -f rawvideo -pix_fmt rgb24 - | lq2x --stream 256x224 - - |\n"
    "    ffmpeg -f rawvideo -pix_fmt rgb24 -s 512x448 -r 60 -i - game2x.mkv   (see README)\n"
    "\n"
    "Pixels with alpha 0 count as equal whatever their colour bits. 16-bit samples are scaled\n"
    "to 8 bits; gamma and colour-profile chunks are neither applied nor copied.\n"
    "Standard output (-) gets the input's own format (PNG for PNG, PGM, PPM or PAM as read,\n"
    "raw for raw) unless --format says otherwise.\n"
    "An existing FIFO or device as OUTPUT is written to directly; a file is replaced whole.\n"
    "Pixels in a --tile margin or spacing are doubled as they are. An image without alpha\n"
    "scaled with transparent edges is written with alpha. A --tile-margin that leaves no cell\n"
    "in an image is a usage error for that file (the other files are still done).\n"
    "Exit status: 0 all done, 1 some input failed (the others are done), 2 usage,\n"
    "128 + N when ended by signal N (temporary files removed).";

// An option taking a whole number from low to high, read by parse_number.
template <typename T>
CLI::Option* add_number(CLI::App& app, const std::string& name, T& target, std::uint64_t low, std::uint64_t high,
                        const std::string& help)
{
    const std::string flag = name.substr(name.rfind(',') + 1);
    return app
        .add_option_function<std::string>(
            name,
            [&target, flag, low, high](const std::string& text) {
                const auto value = parse_number(text, low, high);
                if (!value)
                    throw CLI::ValidationError(flag, "wants a whole number from " + std::to_string(low) + " to " +
                                                         std::to_string(high) + ", not '" + text + "'");
                target = T(*value);
            },
            help)
        ->type_name("N")
        ->default_str(std::to_string(target));
}

// An option taking WIDTHxHEIGHT, each side from 1 to MAX_SIDE.
void add_dimensions(CLI::App& app, const std::string& name, std::optional<std::pair<int, int>>& target,
                    const std::string& example, const std::string& help)
{
    app.add_option_function<std::string>(
           name,
           [&target, name, example](const std::string& text) {
               const auto wh = parse_dimensions(text, MAX_SIDE);
               if (!wh)
                   throw CLI::ValidationError(name, "wants WIDTHxHEIGHT, each from 1 to " + std::to_string(MAX_SIDE) +
                                                        ", as in " + example + ", not '" + text + "'");
               target = std::pair{int(wh->first), int(wh->second)};
           },
           help)
        ->type_name("WxH");
}

// An option that takes one of these words for a value of E: each word is
// checked, then turned into its value (a transform runs before those added
// earlier, so the check is added last).
template <typename E>
CLI::Option* words_for(CLI::Option* option, const std::vector<std::pair<std::string, E>>& words)
{
    std::vector<std::string> names;
    for (const auto& w : words)
        names.push_back(w.first);
    return option->transform(CLI::Transformer(words).description(""))->transform(CLI::IsMember(names));
}

// The words --format takes: the library's name of every format.
std::vector<std::pair<std::string, lq2x::format>> format_words()
{
    std::vector<std::pair<std::string, lq2x::format>> words;
    for (const lq2x::format f : lq2x::ALL_FORMATS)
        words.emplace_back(lq2x::format_name(f), f);
    return words;
}

// An edge mode by its word (--edge takes one, or two as H,V, which no
// CLI11 transformer splits as a whole).
std::optional<lq2x::edge> edge_of(const std::string& word)
{
    constexpr std::pair<std::string_view, lq2x::edge> WORDS[] = {
        {"clamp", lq2x::edge::clamp}, {"wrap", lq2x::edge::wrap}, {"transparent", lq2x::edge::transparent}};
    for (const auto& [name, mode] : WORDS)
        if (word == name)
            return mode;
    return std::nullopt;
}

// What the command line gives, before it is checked as a whole.
struct words {
    std::vector<std::string> files;
    std::string out_dir;
    std::pair<lq2x::edge, lq2x::edge> edges{lq2x::edge::clamp, lq2x::edge::clamp};
    std::optional<std::pair<int, int>> tile, raw_size, stream;
    std::uint64_t frame = 0;
    int threads = 0;
};

void describe_options(CLI::App& app, settings& s, words& w)
{
    app.add_option("files", w.files, "INPUT OUTPUT, or with -o the inputs; - is standard input or output")->required();
    app.add_option("-o,--output-dir", w.out_dir,
                   "Write each input's result to DIR under its own name (two inputs with the same name are refused)");
    words_for<lq2x::orientation>(app.add_option("--rotate", s.scale.turn, "Turn the result: none, ccw or cw"),
                                 {{"none", lq2x::orientation::upright},
                                  {"ccw", lq2x::orientation::ccw},
                                  {"cw", lq2x::orientation::cw}})
        ->default_str("none");
    add_number(app, "--scale", s.scale.scale, 2, 8, "2, 4 or 8 (4 and 8 apply the 2x rule again to its own result)");
    app.add_flag("--rgb565", s.scale.rgb565, "Scale in RGB565 like the test bench: low bits dropped, alpha dropped");
    add_number(app, "--threads", w.threads, 0, MAX_THREADS, "Threads to use (0: one per core)");
    add_dimensions(app, "--size", w.raw_size, "160x102", "WxH of raw 24-bit RGB inputs (raw files have no header)");
    add_dimensions(app, "--stream", w.stream, "256x224",
                   "INPUT is raw video: WxH frames back to back until its end, each written to OUTPUT scaled, "
                   "in the same pixel layout, as soon as it is done");
    // The picture layouts, their words as ffmpeg's -pix_fmt has them (on a
    // little-endian machine rgb565 is rgb565le).
    words_for<lq2x::layout>(
        app.add_option("--pixel", s.pixel, "Pixel layout of --stream frames: rgb24 (the default), rgba or rgb565le"),
        {{"rgb24", lq2x::layout::rgb}, {"rgba", lq2x::layout::rgba}, {"rgb565le", lq2x::layout::rgb565}});
    words_for(app.add_option("--format", s.file.out,
                             "Output format: png, gif, webp, ppm, pgm, pam, pnm or raw (without it, a name's "
                             "extension decides, and standard output gets the input's format)"),
              format_words());
    add_number(app, "--frame", w.frame, 0, UINT32_MAX,
               "Only frame N of an animation (counted from 0), written as a still image");
    app.add_option_function<std::string>(
           "--edge",
           [&w](const std::string& text) {
               const std::size_t comma = text.find(',');
               const auto h = edge_of(text.substr(0, comma));
               const auto v = comma == std::string::npos ? h : edge_of(text.substr(comma + 1));
               if (!h || !v)
                   throw CLI::ValidationError("--edge", "wants clamp, wrap or transparent, or two of them as H,V");
               w.edges = {*h, *v};
           },
           "What border pixels see beyond the image (or each --tile cell): clamp (the nearest pixel),\n"
           "wrap (the opposite border: seamless textures) or transparent (transparent black);\n"
           "one mode for both axes, or H,V")
        ->type_name("MODE[,MODE]")
        ->default_str("clamp");
    add_dimensions(app, "--tile", w.tile, "16x16", "WxH cells of a sprite sheet or tileset, each scaled on its own");
    add_number(app, "--tile-margin", s.scale.tile.margin, 0, INT32_MAX, "Pixels before the first --tile cell, left and top");
    add_number(app, "--tile-spacing", s.scale.tile.spacing, 0, INT32_MAX, "Pixels between --tile cells");
    add_number(app, "--max-pixels", s.scale.max_pixels, 1, MAX_PIXELS,
               "Refuse images whose result would have more pixels, and inputs larger than such an image can be");
    add_number(app, "--png-level", s.file.png_level, 0, 12,
               "Deflate level of PNG output, 0-12 (10-12: smallest, many times slower)");
    app.set_version_flag("--version", VERSION);
    app.footer(FOOTER);
}

// One line, whatever names and arguments it quotes.
int usage(const std::string& why)
{
    std::fprintf(stderr, "lq2x: %s\n", printable(why).c_str());
    return 2;
}

// The files to do: INPUT OUTPUT, or each input into -o DIR under its own name.
std::optional<int> plan_jobs(const words& w, settings& s)
{
    if (w.out_dir.empty()) {
        if (w.files.size() != 2)
            return usage("give INPUT OUTPUT, or -o DIR with the inputs (--help shows how)");
        if (s.file.out == lq2x::format::same && w.files[1] != "-" &&
            lq2x::format_of_name(w.files[1]) == lq2x::format::same)
            return usage("cannot tell the output format from '" + w.files[1] +
                         "' (name it .png .gif .webp .ppm .pgm .pam .pnm or .raw, or give --format)");
        s.jobs.push_back({w.files[0], w.files[1]});
        return std::nullopt;
    }
    for (const std::string& in : w.files) {
        if (in == "-")
            return usage("standard input has no name to write under in -o DIR");
        std::filesystem::path out = std::filesystem::path(w.out_dir) / std::filesystem::path(in).filename();
        if (s.file.out != lq2x::format::same)
            out.replace_extension(lq2x::format_name(s.file.out));
        s.jobs.push_back({in, out.string()});
    }
    // Two inputs that would write the same output: one result would be lost.
    std::map<std::string, const std::string*> taken;
    for (const job& j : s.jobs) {
        const auto [at, fresh] = taken.emplace(std::filesystem::path(j.output).lexically_normal().string(), &j.input);
        if (!fresh)
            return usage(*at->second + " and " + j.input + " would both be written to " + j.output);
    }
    return std::nullopt;
}

// The options that only make sense together, and the stream's own rules.
std::optional<int> check(CLI::App& app, const words& w, settings& s)
{
    if (s.scale.scale != 2 && s.scale.scale != 4 && s.scale.scale != 8)
        return usage("--scale: wants 2, 4 or 8, not '" + app["--scale"]->as<std::string>() + "'");
    if (w.tile)
        s.scale.tile = {w.tile->first, w.tile->second, s.scale.tile.margin, s.scale.tile.spacing};
    else if (s.scale.tile.margin != 0 || s.scale.tile.spacing != 0)
        return usage("--tile-margin and --tile-spacing need --tile");
    std::tie(s.scale.edge_x, s.scale.edge_y) = w.edges;
    if (app.count("--frame") > 0)
        s.file.frame = std::int64_t(w.frame);
    if (w.raw_size)
        std::tie(s.file.raw_width, s.file.raw_height) = *w.raw_size;
    s.cores = w.threads > 0 ? unsigned(w.threads) : std::max(1u, std::thread::hardware_concurrency());

    if (app.count("--pixel") > 0 && !w.stream)
        return usage("--pixel is the layout of --stream frames; give --stream WxH with it");
    if (!w.stream)
        return plan_jobs(w, s);
    if (!w.out_dir.empty() || w.files.size() != 2 || w.raw_size || s.file.out != lq2x::format::same ||
        s.file.frame >= 0)
        return usage("--stream WxH takes one INPUT and one OUTPUT (- for the standard ones), "
                     "without -o, --size, --format or --frame");
    s.stream = w.stream;
    s.jobs.push_back({w.files[0], w.files[1]});
    return std::nullopt;
}

} // namespace

std::optional<int> read_command_line(int argc, char** argv, settings& s)
{
    // CLI11 would take the next argument as the value of "--name=" with
    // nothing after the '='.
    for (int i = 1; i < argc && std::string_view(argv[i]) != "--"; ++i) {
        const std::string_view arg = argv[i];
        if (arg.starts_with("--") && arg.find('=') == arg.size() - 1)
            return usage(std::string(arg.substr(0, arg.size() - 1)) + ": no value after '='");
    }
    CLI::App app{DESCRIPTION, "lq2x"};
    words w;
    describe_options(app, s, w);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) // --help, --version
            return app.exit(e);
        return usage(e.what());
    }
    return check(app, w, s);
}

} // namespace tool
