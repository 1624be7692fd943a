#include "command_line.h"

#include <unistd.h>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <map>
#include <thread>

#include "progress.h"

namespace tool {
namespace {

namespace fs = std::filesystem;

// The library's version is the project's one version number.
const std::string VERSION = std::string("lq2x ") + lq2x_version_string();

const std::string DESCRIPTION =
    "Scales pixel art 2x (or 4x, 8x) with the LQ2x rule, optionally turning it a quarter-turn.\n"
    "Reads PNG (any kind, animated too), GIF, WebP, PGM/PPM/PAM (plain too), BMP, TGA, ICO/CUR,\n"
    "PCX and raw 24-bit RGB; writes the format the output name's extension says (.png .gif .webp\n"
    ".ppm .pgm .pam .pnm .raw), or --format. Animations stay animations in .png, .gif and .webp.";

const std::string FOOTER =
    "Examples:\n"
    "  lq2x sprite.png sprite2x.png\n"
    "  lq2x --scale 4 --rotate cw sheet.png sheet4x.png\n"
    "  lq2x -o big/ tiles/*.png            (big/ is made when missing)\n"
    "  lq2x -r --suffix @2x -o big/ art/   (every image under art/, as big/.../NAME@2x.png)\n"
    "  lq2x --rgb565 --rotate ccw --size 160x102 test.raw LQ2x.raw   (the test bench, exactly)\n"
    "  lq2x --tile 16x16 --tile-margin 1 --tile-spacing 1 --edge transparent sheet.png sheet2x.png\n"
    "  lq2x --edge wrap texture.png texture2x.png\n"
    "  lq2x walk.gif walk2x.png            (every frame, delays and loops kept)\n"
    "  lq2x --gif-alpha 128 walk.gif walk2x.gif   (a GIF anyway: the blended outline made sharp)\n"
    "  lq2x --frame 0 walk.gif first2x.png\n"
    "  ffmpeg -i game.mkv -f rawvideo -pix_fmt rgb24 - | lq2x --stream 256x224 - - |\n"
    "    ffmpeg -f rawvideo -pix_fmt rgb24 -s 512x448 -r 60 -i - game2x.mkv   (man lq2x)\n"
    "\n"
    "Pixels with alpha 0 count as equal whatever their colour bits. 16-bit samples are scaled\n"
    "to 8 bits; gamma and colour-profile chunks are neither applied nor copied.\n"
    "A GIF is written only when it holds the result exactly, unless --gif-alpha or --gif-colours\n"
    "says how to make it fit (each warned as not exact).\n"
    "Standard output (-) gets the input's own format (PNG for one only read) unless --format\n"
    "says otherwise; it is refused on a terminal. An OUTPUT without an extension gets the input's\n"
    "format; an existing folder as the last name is -o DIR.\n"
    "An existing FIFO or device as OUTPUT is written to directly; a file is replaced whole.\n"
    "Pixels in a --tile margin or spacing are doubled as they are. An image without alpha\n"
    "scaled with transparent edges is written with alpha. A --tile-margin that leaves no cell\n"
    "in an image is a usage error for that file (the other files are still done).\n"
    "Exit status: 0 all done (outputs kept by -n included, each named once), 1 some input\n"
    "failed (the others are done), 2 usage (before 1 when both), 128 + N when ended by signal N\n"
    "(temporary files removed).";

// The tool's name for a library setting ("--scale"), from the library's one table.
std::string flag(const std::string& setting) { return lq2x::words("{" + setting + "}", lq2x::door::tool); }

// What the command line gives, before it is checked as a whole.
struct words {
    std::vector<std::string> files;
    std::string out_dir, suffix;
    bool recursive = false;
    int threads = 0;
};

// An option whose value the library reads into one of its settings, and
// refuses in its own words.
CLI::Option* setting(CLI::App& app, const std::string& short_name, const std::string& name, settings& s,
                     const std::string& help, bool file_setting = false)
{
    const std::string names = (short_name.empty() ? "" : short_name + ",") + flag(name);
    return app.add_option_function<std::string>(
        names,
        [&s, name, file_setting](const std::string& text) {
            std::string why;
            const lq2x::error e = file_setting ? lq2x::set_file_option(s.file, name, text, lq2x::door::tool, why)
                                               : lq2x::set_option(s.scale, name, text, lq2x::door::tool, why);
            if (e != lq2x::error::none)
                throw CLI::ValidationError(why);
        },
        help);
}

void describe_options(CLI::App& app, settings& s, words& w)
{
    app.add_option("files", w.files, "INPUT OUTPUT, or with -o the inputs; - is standard input or output")
        ->type_name("FILE");
    app.add_option("-o,--output-dir", w.out_dir,
                   "Write each input's result into DIR (made when missing) under its own name")
        ->type_name("DIR");
    app.add_flag("-r,--recursive", w.recursive, "With -o: walk folders given as inputs, keeping their tree under DIR");
    app.add_option("--suffix", w.suffix, "With -o: put TEXT after each output's name (--suffix @2x: sprite@2x.png)")
        ->type_name("TEXT");
    app.add_flag_callback(
        "-n," + flag("keep_existing"), [&s] { s.file.keep_existing = true; },
        "Keep outputs that exist, naming each once");
    app.add_flag("-q,--quiet", s.quiet, "No progress display; twice: no warnings either");
    setting(app, "", "orientation", s, "Turn the result: none, ccw or cw")->type_name("TURN")->default_str("none");
    setting(app, "", "scale", s, "2, 4 or 8 (4 and 8 apply the 2x rule again to its own result)")
        ->type_name("N")
        ->default_str("2");
    app.add_flag_callback(
        flag("rgb565"), [&s] { s.scale.rgb565 = true; },
        "Scale in RGB565 like the test bench: low bits dropped, alpha dropped");
    // Cores for the whole run (the library reads the number, the tool shares them out).
    app.add_option_function<std::string>(
           flag("threads"),
           [&w](const std::string& text) {
               lq2x::options o;
               std::string why;
               if (lq2x::set_option(o, "threads", text, lq2x::door::tool, why) != lq2x::error::none)
                   throw CLI::ValidationError(why);
               w.threads = o.threads;
           },
           "Threads to use (0: one per core)")
        ->type_name("N")
        ->default_str("0");
    setting(app, "", "raw_size", s, "WxH of raw 24-bit RGB inputs (raw files have no header)", true)->type_name("WxH");
    setting(app, "", "stream", s,
            "INPUT is raw video: WxH frames back to back until its end, each written to OUTPUT scaled, "
            "in the same pixel layout, as soon as it is done",
            true)
        ->type_name("WxH");
    // The stream's pixel layouts, their words as ffmpeg's -pix_fmt has them
    // (on a little-endian machine rgb565 is rgb565le); the first is the
    // default. A word not among them is refused as the library refuses its
    // settings' words, listing them (which the shell completion reads).
    static const std::pair<std::string_view, lq2x::layout> PIXELS[] = {
        {"rgb24", lq2x::layout::rgb}, {"rgba", lq2x::layout::rgba}, {"rgb565le", lq2x::layout::rgb565}};
    std::string listed;
    for (std::size_t i = 0; i < std::size(PIXELS); ++i)
        listed += std::string(i == 0 ? "" : i + 1 == std::size(PIXELS) ? " or " : ", ") + std::string(PIXELS[i].first);
    app.add_option_function<std::string>(
           "--pixel",
           [&s, listed](const std::string& text) {
               const auto at = std::find_if(std::begin(PIXELS), std::end(PIXELS),
                                            [&](const auto& p) { return p.first == text; });
               if (at == std::end(PIXELS))
                   throw CLI::ValidationError("--pixel: wants " + listed + ", not '" + text + "'");
               s.pixel = at->second;
           },
           "Pixel layout of --stream frames: " + listed)
        ->type_name("LAYOUT")
        ->default_str(std::string(PIXELS[0].first));
    setting(app, "", "format", s,
            "Output format: png, gif, webp, ppm, pgm, pam, pnm or raw (without it, a name's extension decides, "
            "and standard output gets the input's format)",
            true)
        ->type_name("FORMAT");
    setting(app, "", "frame", s, "Only frame N of an animation (counted from 0) as a still; an icon's image N", true)
        ->type_name("N");
    setting(app, "", "edge", s,
            "What border pixels see beyond the image (or each --tile cell): clamp (the nearest pixel, the default), "
            "wrap (the opposite border, for seamless textures) or transparent; H,V for each axis")
        ->type_name("MODE");
    setting(app, "", "tile", s, "Scale each WxH cell of a sprite sheet or tile set on its own")->type_name("WxH");
    setting(app, "", "tile_margin", s, "Pixels before the first --tile cell, left and top")->type_name("N");
    setting(app, "", "tile_spacing", s, "Pixels between --tile cells")->type_name("N");
    setting(app, "", "max_pixels", s,
            "Refuse images whose result would have more pixels, and inputs larger than such an image can be "
            "(0: no limit but the library's most)")
        ->type_name("N");
    setting(app, "", "png_level", s, "Deflate level of PNG output, 0-12 (10-12: smallest, many times slower)", true)
        ->type_name("N");
    setting(app, "", "gif_alpha", s,
            "GIF output anyway: pixels with alpha below N transparent, the rest opaque (not exact)", true)
        ->type_name("N");
    setting(app, "", "gif_colours", s, "GIF output anyway: frames reduced to at most N colours (not exact)", true)
        ->type_name("N");
    setting(app, "", "gif_palette", s, "With --gif-colours: one palette for all frames (shared) or one each (per-frame)",
            true)
        ->type_name("PALETTE");
    app.set_version_flag("-V,--version", VERSION);
    app.footer(FOOTER);
}

// One line, whatever names and arguments it quotes.
int usage(const std::string& why)
{
    std::fprintf(stderr, "lq2x: %s\n", printable(why).c_str());
    return 2;
}

// How far apart two words are: the fewest letters added, removed or changed.
std::size_t distance(std::string_view a, std::string_view b)
{
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = up;
        }
    }
    return row[b.size()];
}

// A long option the tool does not have, said with the nearest it has.
std::optional<int> unknown_option(CLI::App& app, int argc, char** argv)
{
    for (int i = 1; i < argc && std::string_view(argv[i]) != "--"; ++i) {
        const std::string_view arg = argv[i];
        if (!arg.starts_with("--"))
            continue;
        const std::string name(arg.substr(0, arg.find('=')));
        if (app.get_option_no_throw(name) != nullptr || name == "--help" || name == "--version")
            continue;
        std::string nearest;
        std::size_t best = 3; // further than two letters off is no suggestion
        for (const CLI::Option* o : app.get_options())
            for (const std::string& known : o->get_lnames())
                if (const std::size_t d = distance(name.substr(2), known); d < best)
                    best = d, nearest = "--" + known;
        return usage("unknown option '" + name + "'" + (nearest.empty() ? "" : "; did you mean " + nearest + "?") +
                     " (--help lists them)");
    }
    return std::nullopt;
}

// An input's output under DIR, named by the library as every door's batch names it.
job placed(const fs::path& input, const fs::path& relative, const words& w, const settings& s)
{
    return {input.string(), lq2x::batch_output(relative, w.out_dir, w.suffix, s.file).string()};
}

// The files to do in -o mode: each input, and with -r every image in the
// folders given (others counted as skipped); their folders made under DIR.
std::optional<int> plan_directory(const words& w, settings& s)
{
    for (const std::string& in : w.files) {
        if (in == "-")
            return usage("standard input has no name to write under in -o DIR");
        std::error_code error;
        if (!fs::is_directory(in, error)) {
            s.jobs.push_back(placed(in, fs::path(in).filename(), w, s));
            continue;
        }
        if (!w.recursive)
            return usage(in + ": a folder (-r walks folders)");
        for (auto it = fs::recursive_directory_iterator(in, fs::directory_options::skip_permission_denied, error);
             !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
            if (!it->is_regular_file(error))
                continue;
            if (!lq2x::batch_takes(it->path(), s.file))
                ++s.skipped;
            else
                s.jobs.push_back(placed(it->path(), it->path().lexically_relative(in), w, s));
        }
        if (error)
            return usage(in + ": " + error.message());
    }
    // Two inputs that would write the same output: one result would be lost.
    std::map<std::string, const std::string*> taken;
    for (const job& j : s.jobs) {
        const auto [at, fresh] = taken.emplace(fs::path(j.output).lexically_normal().string(), &j.input);
        if (!fresh)
            return usage(*at->second + " and " + j.input + " would both be written to " + j.output);
    }
    // The output folders, made now, once each: a missing DIR is made, not
    // reported for every file.
    std::map<std::string, bool> made;
    for (const job& j : s.jobs) {
        const fs::path folder = fs::path(j.output).parent_path();
        if (folder.empty() || made[folder.string()])
            continue;
        std::error_code error;
        fs::create_directories(folder, error);
        if (error) {
            std::fprintf(stderr, "lq2x: %s: %s\n", printable(folder.string()).c_str(), error.message().c_str());
            return 1;
        }
        made[folder.string()] = true;
    }
    return std::nullopt;
}

// The files to do: INPUT OUTPUT, or each input into DIR (-o, or a folder
// as the last name).
std::optional<int> plan_jobs(words& w, settings& s)
{
    std::error_code error;
    if (w.out_dir.empty() && w.files.size() >= 2 &&
        (w.files.back().ends_with('/') || fs::is_directory(w.files.back(), error))) {
        w.out_dir = w.files.back();
        w.files.pop_back();
    }
    if (!w.out_dir.empty())
        return plan_directory(w, s);
    if (w.recursive || !w.suffix.empty())
        return usage("-r and --suffix name outputs in a folder: give -o DIR, or a folder as the last name");
    if (w.files.size() != 2)
        return usage("give INPUT OUTPUT, or -o DIR with the inputs (--help shows how)");
    if (w.files[1] == "-" && ::isatty(STDOUT_FILENO))
        return usage("refusing to write image data to a terminal: redirect standard output, or name an output file");
    if (w.files[1] != "-")
        try {
            (void)lq2x::output_format(w.files[1], s.file);
        } catch (const lq2x::file_error& e) {
            return usage(e.what());
        }
    s.jobs.push_back({w.files[0], w.files[1]});
    return std::nullopt;
}

// The options that only make sense together, and the stream's own rules.
std::optional<int> check(CLI::App& app, words& w, settings& s)
{
    // The settings as a whole, as the library checks them (a margin without a grid).
    if (std::string why; lq2x::picture_check(0, 0, s.scale, lq2x::door::tool, why) != lq2x::error::none)
        return usage(why);
    s.cores = w.threads > 0 ? unsigned(w.threads) : std::max(1u, std::thread::hardware_concurrency());
    s.stream = app.count(flag("stream")) > 0;
    if (app.count("--pixel") > 0 && !s.stream)
        return usage("--pixel is the layout of --stream frames; give --stream WxH with it");
    if (!s.stream)
        return plan_jobs(w, s);
    if (!w.out_dir.empty() || w.files.size() != 2 || app.count(flag("raw_size")) > 0 ||
        s.file.out != lq2x::format::same || s.file.frame >= 0)
        return usage("--stream WxH takes one INPUT and one OUTPUT (- for the standard ones), "
                     "without -o, --size, --format or --frame");
    if (w.files[1] == "-" && ::isatty(STDOUT_FILENO))
        return usage("refusing to write image data to a terminal: redirect standard output, or name an output file");
    s.jobs.push_back({w.files[0], w.files[1]});
    return std::nullopt;
}

} // namespace

std::optional<int> read_command_line(int argc, char** argv, settings& s)
{
    s.file.words = lq2x::door::tool;
    if (argc < 2) {
        std::fprintf(stderr, "usage: lq2x [options] INPUT OUTPUT\n"
                             "       lq2x [options] -o DIR INPUT...\n"
                             "Try 'lq2x --help' for more.\n");
        return 2;
    }
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
    if (const auto status = unknown_option(app, argc, argv))
        return status;
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
