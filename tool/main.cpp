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
#include <cstdio>
#include <filesystem>
#include <limits>
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
#include "scale.h"

namespace {

// The library's version is the project's one version number.
const std::string VERSION = std::string("lq2x ") + lq2x_version_string();

struct job {
    std::string input, output;
};

struct settings {
    tool::scale_settings scale;
    tool::decode_options decode;
    tool::encode_options encode;
    std::optional<tool::format> format; // --format
};

// Messages and the progress line share standard error.
class reporter {
public:
    reporter(std::size_t total, bool show) : total_(total), show_(show) {}

    void failed(const job& j, const std::string& why)
    {
        const std::lock_guard lock(mutex_);
        clear();
        std::fprintf(stderr, "lq2x: %s: %s\n", j.input == "-" ? "standard input" : j.input.c_str(), why.c_str());
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

// Why a file failed, and whether the command line was at fault (exit 2).
struct file_failure {
    std::string why;
    bool usage = false;
};

// One file, start to end; returns why it failed, or nothing.
std::optional<file_failure> run(const job& j, const settings& s, const std::set<tool::file_id>& inputs)
{
    if (const auto id = tool::identify(j.output); id && inputs.count(*id))
        return file_failure{"refusing to overwrite an input file (" + j.output + ")"};
    try {
        const std::vector<std::uint8_t> data = tool::read_file(j.input);
        const auto in_format = tool::sniff(data, s.decode);
        tool::image img = tool::scale(tool::decode(data, s.decode), s.scale);
        tool::format out = s.format ? *s.format
                                    : tool::format_for_name(j.output).value_or(in_format.value_or(tool::format::png));
        tool::write_file(j.output, tool::encode(img, out, s.encode));
        return std::nullopt;
    } catch (const tool::grid_misfit& e) {
        return file_failure{e.what(), true};
    } catch (const tool::failure& e) {
        return file_failure{e.what()};
    } catch (const std::bad_alloc&) {
        return file_failure{"out of memory"};
    }
}

std::optional<std::pair<int, int>> parse_size(const std::string& text)
{
    int w = 0, h = 0;
    char x = 0, extra = 0;
    if (std::sscanf(text.c_str(), "%d%c%d%c", &w, &x, &h, &extra) != 3 || (x != 'x' && x != 'X') || w <= 0 || h <= 0)
        return std::nullopt;
    return std::pair{w, h};
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

} // namespace

int main(int argc, char** argv)
{
    CLI::App app{"Scales pixel art 2x (or 4x, 8x) with the LQ2x rule, optionally turning it a quarter-turn.\n"
                 "Reads PNG (any kind), binary PGM/PPM/PAM and raw 24-bit RGB; writes the format the output\n"
                 "name's extension says (.png .ppm .pgm .pam .pnm .raw), or --format.",
                 "lq2x"};
    std::vector<std::string> files;
    std::string out_dir, rotate = "none", size, format_word, edge_words = "clamp", tile;
    int tile_margin = 0, tile_spacing = 0;
    int factor = 2, threads = 0, level = tool::encode_options{}.png_level;
    bool rgb565 = false;
    std::uint64_t max_pixels = std::uint64_t{1} << 28;
    app.add_option("files", files, "INPUT OUTPUT, or with -o the inputs; - is standard input or output")->required();
    app.add_option("-o,--output-dir", out_dir, "Write each input's result to DIR under its own name");
    app.add_option("--rotate", rotate, "Turn the result: none, ccw or cw")
        ->check(CLI::IsMember({"none", "ccw", "cw"}))
        ->capture_default_str();
    app.add_option("--scale", factor, "2, 4 or 8 (4 and 8 apply the 2x rule again to its own result)")
        ->check(CLI::IsMember({2, 4, 8}))
        ->capture_default_str();
    app.add_flag("--rgb565", rgb565, "Scale in RGB565 like the test bench: low bits dropped, alpha dropped");
    app.add_option("--threads", threads, "Threads to use (0: one per core)")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    app.add_option("--edge", edge_words,
                   "What border pixels see beyond the image (or each --tile cell): clamp (the nearest pixel),\n"
                   "wrap (the opposite border: seamless textures) or transparent (transparent black);\n"
                   "one mode for both axes, or H,V")
        ->capture_default_str();
    app.add_option("--tile", tile, "WxH cells of a sprite sheet or tileset, each scaled on its own");
    app.add_option("--tile-margin", tile_margin, "Pixels before the first --tile cell, left and top")
        ->check(CLI::Range(0, std::numeric_limits<int>::max()))
        ->capture_default_str();
    app.add_option("--tile-spacing", tile_spacing, "Pixels between --tile cells")
        ->check(CLI::Range(0, std::numeric_limits<int>::max()))
        ->capture_default_str();
    app.add_option("--size", size, "WxH of raw 24-bit RGB inputs (raw files have no header)");
    app.add_option("--format", format_word, "Output format: png, ppm, pgm, pam, pnm or raw")
        ->check(CLI::IsMember({"png", "ppm", "pgm", "pam", "pnm", "raw"}));
    app.add_option("--max-pixels", max_pixels, "Refuse images whose result would have more pixels")
        ->capture_default_str();
    app.add_option("--png-level", level, "zlib level of PNG output, 0-9")
        ->check(CLI::Range(0, 9))
        ->capture_default_str();
    app.set_version_flag("--version", VERSION);
    app.footer("Examples:\n"
               "  lq2x sprite.png sprite2x.png\n"
               "  lq2x --scale 4 --rotate cw sheet.png sheet4x.png\n"
               "  lq2x -o big/ tiles/*.png\n"
               "  lq2x --rgb565 --rotate ccw --size 160x102 test.raw LQ2x.raw   (the test bench, exactly)\n"
               "  lq2x --tile 16x16 --tile-margin 1 --tile-spacing 1 --edge transparent sheet.png sheet2x.png\n"
               "  lq2x --edge wrap texture.png texture2x.png\n"
               "  convert in.gif png:- | lq2x - out.png\n"
               "\n"
               "Pixels with alpha 0 count as equal whatever their colour bits. 16-bit samples are scaled\n"
               "to 8 bits; gamma and colour-profile chunks are neither applied nor copied.\n"
               "Pixels in a --tile margin or spacing are doubled as they are. An image without alpha\n"
               "scaled with transparent edges is written with alpha. A --tile-margin that leaves no cell\n"
               "in an image is a usage error for that file (the other files are still done).\n"
               "Exit status: 0 all done, 1 some input failed (the others are done), 2 usage.");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }

    settings s;
    s.scale.factor = factor;
    s.scale.rgb565 = rgb565;
    s.scale.turn = rotate == "ccw" ? lq2x::orientation::ccw
                   : rotate == "cw" ? lq2x::orientation::cw
                                    : lq2x::orientation::upright;
    s.decode.limit = {max_pixels, std::uint64_t(factor) * std::uint64_t(factor)};
    s.encode.png_level = level;
    if (!format_word.empty())
        s.format = tool::format_from_word(format_word);
    if (const auto edges = parse_edges(edge_words)) {
        std::tie(s.scale.edge_x, s.scale.edge_y) = *edges;
    } else {
        std::fprintf(stderr, "lq2x: --edge wants clamp, wrap or transparent, or two of them as H,V\n");
        return 2;
    }
    if (!tile.empty()) {
        const auto cell = parse_size(tile);
        if (!cell) {
            std::fprintf(stderr, "lq2x: --tile wants WIDTHxHEIGHT of at least 1x1, as in 16x16\n");
            return 2;
        }
        s.scale.tile = {cell->first, cell->second, tile_margin, tile_spacing};
    } else if (tile_margin != 0 || tile_spacing != 0) {
        std::fprintf(stderr, "lq2x: --tile-margin and --tile-spacing need --tile\n");
        return 2;
    }
    if (!size.empty()) {
        s.decode.raw_size = parse_size(size);
        if (!s.decode.raw_size) {
            std::fprintf(stderr, "lq2x: --size wants WIDTHxHEIGHT, as in 160x102\n");
            return 2;
        }
    }

    std::vector<job> jobs;
    if (out_dir.empty()) {
        if (files.size() != 2) {
            std::fprintf(stderr, "lq2x: give INPUT OUTPUT, or -o DIR with the inputs (--help shows how)\n");
            return 2;
        }
        if (!s.format && files[1] != "-" && !tool::format_for_name(files[1])) {
            std::fprintf(stderr, "lq2x: cannot tell the output format from '%s' (name it .png .ppm .pgm .pam "
                                 ".pnm or .raw, or give --format)\n",
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
    }

    // Many files go in parallel, one thread each; a single file gets them all.
    const unsigned cores = threads > 0 ? unsigned(threads) : std::max(1u, std::thread::hardware_concurrency());
    const unsigned workers = unsigned(std::min<std::size_t>(cores, jobs.size()));
    s.scale.threads = jobs.size() == 1 ? int(cores) : 1;
    reporter report(jobs.size(), jobs.size() >= 4 && ::isatty(STDERR_FILENO));
    std::set<tool::file_id> inputs;
    for (const job& j : jobs)
        if (const auto id = tool::identify(j.input))
            inputs.insert(*id);
    std::atomic<std::size_t> next = 0;
    std::atomic<bool> any_failed = false, any_usage = false;
    const auto work = [&] {
        for (std::size_t i; (i = next++) < jobs.size();) {
            if (const auto f = run(jobs[i], s, inputs)) {
                (f->usage ? any_usage : any_failed) = true;
                report.failed(jobs[i], f->why);
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
