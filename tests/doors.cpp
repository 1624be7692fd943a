// The files library through its C interface or its C++ one, as a program
// that the cross-door test (python/tests/test_doors.py) runs beside the tool
// and the Python package on the same files and options:
//
//     doors c|cpp IN OUT [--scale N] [--rotate none|ccw|cw] [--edge M[,M]]
//                        [--tile WxH] [--tile-margin N] [--tile-spacing N] [--rgb565]
//                        [--threads N] [--max-pixels N] [--format NAME] [--frame N]
//                        [--size WxH] [--png-level N]
//
// The output's format is --format, else the one OUT's name asks for. On a
// refusal it prints "status S: REASON" and exits 1; a usage error exits 2.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include <lq2x/files.hpp>
#include <lq2x/lq2x_files.h>

namespace {

[[noreturn]] void usage(const std::string& why)
{
    std::fprintf(stderr, "doors: %s\n", why.c_str());
    std::exit(2);
}

long long number(const char* text)
{
    char* end = nullptr;
    const long long v = std::strtoll(text, &end, 10);
    if (end == text || *end != '\0')
        usage(std::string("not a number: ") + text);
    return v;
}

std::pair<long long, long long> pair(const char* text, char between)
{
    const char* at = std::strchr(text, between);
    if (at == nullptr)
        usage(std::string("not a pair: ") + text);
    return {number(std::string(text, at).c_str()), number(at + 1)};
}

int edge(std::string_view name)
{
    if (name == "clamp")
        return LQ2X_EDGE_CLAMP;
    if (name == "wrap")
        return LQ2X_EDGE_WRAP;
    if (name == "transparent")
        return LQ2X_EDGE_TRANSPARENT;
    usage("unknown edge mode " + std::string(name));
}

int turn(std::string_view name)
{
    if (name == "none")
        return LQ2X_UPRIGHT;
    if (name == "ccw")
        return LQ2X_CCW;
    if (name == "cw")
        return LQ2X_CW;
    usage("unknown turn " + std::string(name));
}

int format(std::string_view name)
{
    for (int f = 0; f < 64; ++f)
        if (const char* n = lq2x_format_name(f); n != nullptr && name == n)
            return f;
    usage("unknown format " + std::string(name));
}

// Everything both doors are given, in the C interface's terms.
struct request {
    std::vector<std::uint8_t> data;
    lq2x_options options = lq2x_default_options();
    lq2x_file_options file = lq2x_default_file_options();
};

int refused(int status, const char* why)
{
    std::printf("status %d: %s\n", status, why);
    return 1;
}

int through_c(const request& r, std::vector<std::uint8_t>& out)
{
    lq2x_file made;
    const lq2x_status s = lq2x_scale_file(r.data.data(), r.data.size(), &r.options, &r.file, &made);
    if (s != LQ2X_OK) {
        const int code = refused(s, made.message);
        lq2x_file_free(&made);
        return code;
    }
    out.assign(made.bytes, made.bytes + made.size);
    if (made.message[0] != '\0')
        std::fprintf(stderr, "doors: %s\n", made.message);
    lq2x_file_free(&made);
    return 0;
}

int through_cpp(const request& r, std::vector<std::uint8_t>& out)
{
    const lq2x_options& o = r.options;
    lq2x::options opt;
    opt.turn = lq2x::orientation(o.orientation);
    opt.threads = o.threads;
    opt.edge_x = lq2x::edge(o.edge_x);
    opt.edge_y = lq2x::edge(o.edge_y);
    opt.tile = {o.tile_width, o.tile_height, o.tile_margin, o.tile_spacing};
    opt.scale = o.scale;
    opt.rgb565 = o.rgb565 != 0;
    opt.max_pixels = o.max_pixels;
    lq2x::file_options file;
    file.out = lq2x::format(r.file.format);
    file.frame = r.file.frame;
    file.png_level = r.file.png_level;
    file.raw_width = r.file.raw_width;
    file.raw_height = r.file.raw_height;
    try {
        out = lq2x::scale_file(r.data, opt, file);
    } catch (const lq2x::file_error& e) {
        return refused(int(e.status()), e.what());
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4 || (std::strcmp(argv[1], "c") != 0 && std::strcmp(argv[1], "cpp") != 0))
        usage("usage: doors c|cpp IN OUT [options]");
    request r;
    bool format_given = false;
    for (int i = 4; i < argc; ++i) {
        const std::string_view flag = argv[i];
        if (flag == "--rgb565") {
            r.options.rgb565 = 1;
            continue;
        }
        if (i + 1 >= argc)
            usage("no value for " + std::string(flag));
        const char* v = argv[++i];
        if (flag == "--scale")
            r.options.scale = int(number(v));
        else if (flag == "--rotate")
            r.options.orientation = turn(v);
        else if (flag == "--edge") {
            const char* comma = std::strchr(v, ',');
            r.options.edge_x = edge(comma ? std::string_view(v, std::size_t(comma - v)) : v);
            r.options.edge_y = edge(comma ? comma + 1 : v);
        } else if (flag == "--tile") {
            const auto [w, h] = pair(v, 'x');
            r.options.tile_width = int(w), r.options.tile_height = int(h);
        } else if (flag == "--tile-margin")
            r.options.tile_margin = int(number(v));
        else if (flag == "--tile-spacing")
            r.options.tile_spacing = int(number(v));
        else if (flag == "--threads")
            r.options.threads = int(number(v));
        else if (flag == "--max-pixels")
            r.options.max_pixels = std::uint64_t(number(v));
        else if (flag == "--format")
            r.file.format = format(v), format_given = true;
        else if (flag == "--frame")
            r.file.frame = number(v);
        else if (flag == "--size") {
            const auto [w, h] = pair(v, 'x');
            r.file.raw_width = int(w), r.file.raw_height = int(h);
        } else if (flag == "--png-level")
            r.file.png_level = int(number(v));
        else
            usage("unknown option " + std::string(flag));
    }
    if (!format_given)
        r.file.format = lq2x_format_of_name(argv[3]);
    std::ifstream in(argv[2], std::ios::binary);
    if (!in)
        usage(std::string("cannot read ") + argv[2]);
    r.data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());

    std::vector<std::uint8_t> out;
    const int code = std::strcmp(argv[1], "c") == 0 ? through_c(r, out) : through_cpp(r, out);
    if (code != 0)
        return code;
    std::ofstream file(argv[3], std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(out.data()), std::streamsize(out.size()));
    if (!file.flush())
        usage(std::string("cannot write ") + argv[3]);
    return 0;
}
