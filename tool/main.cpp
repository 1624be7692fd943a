// lq2x: scales pixel-art images with the LQ2x rule.
//
//     lq2x [options] INPUT OUTPUT
//     lq2x [options] -o DIR INPUT...
//
// Exit status: 0 all done, 1 some input failed (the others are still done),
// 2 the command line was wrong (for a --tile-margin, only known once a file
// is decoded: that file is refused, the others are still done).
#include <unistd.h>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "codecs.h"
#include "files.h"
#include "numbers.h"
#include "scale.h"
#include "stream.h"

namespace {

// The library's version is the project's one version number.
const std::string VERSION = std::string("lq2x ") + lq2x_version_string();
constexpr std::uint64_t MAX_THREADS = 1024;
constexpr std::uint64_t MAX_PIXELS = std::uint64_t{1} << 48; // input limits computed from it stay far from overflow

struct job {
    std::string input, output;
};

struct settings {
    tool::scale_settings scale;
    tool::decode_options decode;
    tool::encode_options encode;
    std::optional<tool::format> format; // --format
    std::optional<std::uint64_t> frame; // --frame: that frame alone, as a still
};

// Messages and the progress line share standard error.
class reporter {
public:
    reporter(std::size_t total, bool show) : total_(total), show_(show) {}

    void failed(const std::string& file, const std::string& why, bool output)
    {
        const std::lock_guard lock(mutex_);
        clear();
        const char* name = file != "-" ? file.c_str() : output ? "standard output" : "standard input";
        std::fprintf(stderr, "lq2x: %s: %s\n", name, why.c_str());
        draw();
    }

    void finished()
    {
        const std::lock_guard lock(mutex_);
        ++done_;
        draw();
    }

    ~reporter()
    {
        clear();
    }

private:
    void clear()
    {
        if (show_)
            std::fputs("\r\033[K", stderr);
    }
    void draw()
    {
        if (!show_)
            return;
        constexpr int WIDTH = 30;
        const int filled = int(WIDTH * done_ / std::max<std::size_t>(total_, 1));
        std::fprintf(stderr, "\r[%s%s] %zu/%zu", std::string(filled, '#').c_str(),
                     std::string(WIDTH - filled, '.').c_str(), done_, total_);
        std::fflush(stderr);
    }

    std::mutex mutex_;
    std::size_t total_, done_ = 0;
    bool show_;
};

// Why a file failed, and which: the input, or the output it was to go to;
// and whether the command line was at fault (exit 2).
struct fault {
    std::string why;
    bool output = false;
    bool usage = false;
};

// One file, start to end.
std::optional<fault> run(const job& j, const settings& s, const std::set<tool::file_id>& inputs)
{
    if (const auto id = tool::identify(j.output, STDOUT_FILENO); id && inputs.count(*id))
        return fault{"refusing to overwrite an input file", true};
    try {
        const std::vector<std::uint8_t> data =
            tool::read_file(j.input, tool::input_limit(s.decode),
                            [&](std::span<const std::uint8_t> head) { tool::check_signature(head, s.decode); });
        const auto in_format = tool::sniff(data, s.decode);
        tool::animation anim = tool::decode_animation(data, s.decode);
        if (s.frame) {
            const std::size_t count = anim.frames.size();
            if (*s.frame >= count)
                throw tool::failure("no frame " + std::to_string(*s.frame) + ": the input has " +
                                    std::to_string(count) + (count == 1 ? " frame (0)" : " frames (0 to " +
                                                                                         std::to_string(count - 1) + ")"));
            tool::frame picked = std::move(anim.frames[*s.frame]);
            anim.frames.clear();
            anim.frames.push_back(std::move(picked));
            anim.animated = false;
        }
        for (tool::frame& f : anim.frames)
            f.picture = tool::scale(std::move(f.picture), s.scale);
        tool::format out = s.format ? *s.format
                                    : tool::format_for_name(j.output).value_or(in_format.value_or(tool::format::png));
        tool::write_file(j.output, tool::encode_animation(anim, out, s.encode));
        return std::nullopt;
    } catch (const tool::output_failure& e) {
        return fault{e.what(), true};
    } catch (const tool::grid_misfit& e) {
        return fault{e.what(), false, true};
    } catch (const tool::failure& e) {
        return fault{e.what()};
    } catch (const std::bad_alloc&) {
        return fault{"out of memory"};
    }
}

// A frame stream, start to end.
std::optional<fault> run_stream(const job& j, const tool::stream_settings& s)
{
    const auto in = tool::identify(j.input, STDIN_FILENO);
    if (in && in == tool::identify(j.output, STDOUT_FILENO))
        return fault{"refusing to overwrite an input file", true};
    try {
        tool::scale_stream(j.input, j.output, s);
        return std::nullopt;
    } catch (const tool::output_failure& e) {
        return fault{e.what(), true};
    } catch (const tool::failure& e) {
        return fault{e.what()};
    } catch (const std::bad_alloc&) {
        return fault{"out of memory"};
    }
}

// An option taking a whole number from low to high, read by tool::parse_number.
template <typename T>
CLI::Option* add_number(CLI::App& app, const std::string& name, T& target, std::uint64_t low, std::uint64_t high,
                        const std::string& help)
{
    const std::string flag = name.substr(name.rfind(',') + 1);
    return app
        .add_option_function<std::string>(
            name,
            [&target, flag, low, high](const std::string& text) {
                const auto value = tool::parse_number(text, low, high);
                if (!value)
                    throw CLI::ValidationError(flag, "wants a whole number from " + std::to_string(low) + " to " +
                                                         std::to_string(high) + ", not '" + text + "'");
                target = T(*value);
            },
            help)
        ->type_name("N")
        ->default_str(std::to_string(target));
}

// The words --format takes: every format's name.
std::vector<std::string> format_words()
{
    std::vector<std::string> words;
    for (const tool::format f : tool::ALL_FORMATS)
        words.push_back(tool::format_name(f));
    return words;
}

// --edge: one mode for both axes, or H,V.
std::optional<std::pair<lq2x::edge, lq2x::edge>> parse_edges(const std::string& text)
{
    const auto mode = [](const std::string& word) -> std::optional<lq2x::edge> {
        if (word == "clamp")
            return lq2x::edge::clamp;
        if (word == "wrap")
            return lq2x::edge::wrap;
        if (word == "transparent")
            return lq2x::edge::transparent;
        return std::nullopt;
    };
    const std::size_t comma = text.find(',');
    const auto h = mode(text.substr(0, comma));
    const auto v = comma == std::string::npos ? h : mode(text.substr(comma + 1));
    if (!h || !v)
        return std::nullopt;
    return std::pair{*h, *v};
}

// An option taking WIDTHxHEIGHT, each side from 1 to tool::MAX_SIDE.
void add_dimensions(CLI::App& app, const std::string& name, std::optional<std::pair<int, int>>& target,
                    const std::string& example, const std::string& help)
{
    app.add_option_function<std::string>(
           name,
           [&target, name, example](const std::string& text) {
               const auto wh = tool::parse_dimensions(text, std::uint64_t(tool::MAX_SIDE));
               if (!wh)
                   throw CLI::ValidationError(name, "wants WIDTHxHEIGHT, each from 1 to " +
                                                        std::to_string(std::uint64_t(tool::MAX_SIDE)) + ", as in " +
                                                        example + ", not '" + text + "'");
               target = std::pair{int(wh->first), int(wh->second)};
           },
           help)
        ->type_name("WxH");
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app{"Scales pixel art 2x (or 4x, 8x) with the LQ2x rule, optionally turning it a quarter-turn.\n"
                 "Reads PNG (any kind, animated too), GIF, WebP, binary PGM/PPM/PAM and raw 24-bit RGB; writes\n"
                 "the format the output name's extension says (.png .gif .webp .ppm .pgm .pam .pnm .raw), or\n"
                 "--format. Animations stay animations in .png, .gif and .webp.",
                 "lq2x"};
    std::vector<std::string> files;
    std::string out_dir, rotate = "none", format_word, edge_words = "clamp";
    std::optional<std::pair<int, int>> tile;
    std::int32_t tile_margin = 0, tile_spacing = 0;
    int factor = 2, threads = 0, level = tool::encode_options{}.png_level;
    bool rgb565 = false;
    std::uint64_t max_pixels = tool::size_limit{}.max_pixels;
    std::optional<std::pair<int, int>> raw_size, stream_size;
    std::string pixel_word;
    std::uint64_t frame_number = 0;
    app.add_option("files", files, "INPUT OUTPUT, or with -o the inputs; - is standard input or output")->required();
    app.add_option("-o,--output-dir", out_dir,
                   "Write each input's result to DIR under its own name (two inputs with the same name are refused)");
    app.add_option("--rotate", rotate, "Turn the result: none, ccw or cw")
        ->check(CLI::IsMember({"none", "ccw", "cw"}))
        ->capture_default_str();
    add_number(app, "--scale", factor, 2, 8, "2, 4 or 8 (4 and 8 apply the 2x rule again to its own result)")
        ->check(CLI::IsMember({"2", "4", "8"}));
    app.add_flag("--rgb565", rgb565, "Scale in RGB565 like the test bench: low bits dropped, alpha dropped");
    add_number(app, "--threads", threads, 0, MAX_THREADS, "Threads to use (0: one per core)");
    add_dimensions(app, "--size", raw_size, "160x102", "WxH of raw 24-bit RGB inputs (raw files have no header)");
    add_dimensions(app, "--stream", stream_size, "256x224",
                   "INPUT is raw video: WxH frames back to back until its end, each written to OUTPUT scaled, "
                   "in the same pixel layout, as soon as it is done");
    app.add_option("--pixel", pixel_word, "Pixel layout of --stream frames: rgb24 (the default), rgba or rgb565le")
        ->check(CLI::IsMember(std::vector<std::string>(std::begin(tool::PIXEL_LAYOUT_NAMES),
                                                       std::end(tool::PIXEL_LAYOUT_NAMES))));
    app.add_option("--format", format_word,
                   "Output format: png, gif, webp, ppm, pgm, pam, pnm or raw (without it, a name's extension "
                   "decides, and standard output gets the input's format)")
        ->check(CLI::IsMember(format_words()));
    add_number(app, "--frame", frame_number, 0, UINT32_MAX,
               "Only frame N of an animation (counted from 0), written as a still image");
    app.add_option("--edge", edge_words,
                   "What border pixels see beyond the image (or each --tile cell): clamp (the nearest pixel),\n"
                   "wrap (the opposite border: seamless textures) or transparent (transparent black);\n"
                   "one mode for both axes, or H,V")
        ->capture_default_str();
    add_dimensions(app, "--tile", tile, "16x16", "WxH cells of a sprite sheet or tileset, each scaled on its own");
    add_number(app, "--tile-margin", tile_margin, 0, INT32_MAX, "Pixels before the first --tile cell, left and top");
    add_number(app, "--tile-spacing", tile_spacing, 0, INT32_MAX, "Pixels between --tile cells");
    add_number(app, "--max-pixels", max_pixels, 1, MAX_PIXELS,
               "Refuse images whose result would have more pixels, and inputs larger than such an image can be");
    add_number(app, "--png-level", level, 0, 12, "Deflate level of PNG output, 0-12 (10-12: smallest, many times slower)");
    app.set_version_flag("--version", VERSION);
    app.footer("Examples:\n"
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
               "128 + N when ended by signal N (temporary files removed).");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) // --help, --version
            return app.exit(e);
        std::fprintf(stderr, "lq2x: %s\n", e.what());
        return 2;
    }

    settings s;
    s.scale.factor = factor;
    s.scale.rgb565 = rgb565;
    s.scale.turn = rotate == "ccw" ? lq2x::orientation::ccw
                   : rotate == "cw" ? lq2x::orientation::cw
                                    : lq2x::orientation::upright;
    s.decode.limit = {max_pixels, std::uint64_t(factor) * std::uint64_t(factor)};
    s.decode.raw_size = raw_size;
    s.encode.png_level = level;
    if (!format_word.empty())
        s.format = tool::format_from_word(format_word);
    if (app.count("--frame") > 0)
        s.frame = frame_number;
    if (const auto edges = parse_edges(edge_words)) {
        std::tie(s.scale.edge_x, s.scale.edge_y) = *edges;
    } else {
        std::fprintf(stderr, "lq2x: --edge wants clamp, wrap or transparent, or two of them as H,V\n");
        return 2;
    }
    if (tile) {
        s.scale.tile = {tile->first, tile->second, tile_margin, tile_spacing};
    } else if (tile_margin != 0 || tile_spacing != 0) {
        std::fprintf(stderr, "lq2x: --tile-margin and --tile-spacing need --tile\n");
        return 2;
    }

    // A write past a file-size limit fails (EFBIG) like any other, instead of ending the process.
    std::signal(SIGXFSZ, SIG_IGN);
    tool::remove_temporaries_on_signals();

    const unsigned cores = threads > 0 ? unsigned(threads) : std::max(1u, std::thread::hardware_concurrency());

    if (!pixel_word.empty() && !stream_size) {
        std::fprintf(stderr, "lq2x: --pixel is the layout of --stream frames; give --stream WxH with it\n");
        return 2;
    }
    if (stream_size) {
        if (!out_dir.empty() || files.size() != 2 || raw_size || s.format || s.frame) {
            std::fprintf(stderr, "lq2x: --stream WxH takes one INPUT and one OUTPUT (- for the standard ones), "
                                 "without -o, --size, --format or --frame\n");
            return 2;
        }
        tool::stream_settings stream;
        stream.width = stream_size->first;
        stream.height = stream_size->second;
        stream.pixel = pixel_word.empty() ? tool::pixel_layout::rgb24 : *tool::pixel_layout_from_word(pixel_word);
        stream.scale = s.scale;
        stream.scale.threads = int(cores);
        stream.limit = s.decode.limit;
        const job j{files[0], files[1]};
        const auto f = run_stream(j, stream);
        if (f)
            reporter(1, false).failed(f->output ? j.output : j.input, f->why, f->output);
        return f ? 1 : 0;
    }

    std::vector<job> jobs;
    if (out_dir.empty()) {
        if (files.size() != 2) {
            std::fprintf(stderr, "lq2x: give INPUT OUTPUT, or -o DIR with the inputs (--help shows how)\n");
            return 2;
        }
        if (!s.format && files[1] != "-" && !tool::format_for_name(files[1])) {
            std::fprintf(stderr, "lq2x: cannot tell the output format from '%s' (name it .png .gif .webp .ppm "
                                 ".pgm .pam .pnm or .raw, or give --format)\n",
                         files[1].c_str());
            return 2;
        }
        jobs.push_back({files[0], files[1]});
    } else {
        for (const std::string& in : files) {
            if (in == "-") {
                std::fprintf(stderr, "lq2x: standard input has no name to write under in -o DIR\n");
                return 2;
            }
            std::filesystem::path out = std::filesystem::path(out_dir) / std::filesystem::path(in).filename();
            if (s.format)
                out.replace_extension(tool::format_name(*s.format));
            jobs.push_back({in, out.string()});
        }
        // Two inputs that would write the same output: one result would be lost.
        std::map<std::string, const std::string*> taken;
        for (const job& j : jobs) {
            const auto [at, fresh] = taken.emplace(std::filesystem::path(j.output).lexically_normal().string(), &j.input);
            if (!fresh) {
                std::fprintf(stderr, "lq2x: %s and %s would both be written to %s\n", at->second->c_str(),
                             j.input.c_str(), j.output.c_str());
                return 2;
            }
        }
    }

    // Many files go in parallel, one thread each; a single file gets them all.
    const unsigned workers = unsigned(std::min<std::size_t>(cores, jobs.size()));
    s.scale.threads = jobs.size() == 1 ? int(cores) : 1;
    s.encode.threads = s.scale.threads;
    reporter report(jobs.size(), jobs.size() >= 4 && ::isatty(STDERR_FILENO));
    std::set<tool::file_id> inputs;
    for (const job& j : jobs)
        if (const auto id = tool::identify(j.input, STDIN_FILENO))
            inputs.insert(*id);
    std::atomic<std::size_t> next = 0;
    std::atomic<bool> any_failed = false, any_usage = false;
    const auto work = [&] {
        for (std::size_t i; (i = next++) < jobs.size();) {
            if (const auto f = run(jobs[i], s, inputs)) {
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
