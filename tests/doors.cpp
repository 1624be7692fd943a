// The files library through its C interface or its C++ one, as a program
// that the cross-door test (python/tests/test_doors.py) runs beside the tool
// and the Python package on the same files and options:
//
//     doors c|cpp IN OUT [--scale N] [--rotate none|ccw|cw] [--edge M[,M]]
//                        [--tile WxH] [--tile-margin N] [--tile-spacing N] [--rgb565]
//                        [--threads N] [--max-pixels N] [--format NAME] [--frame N]
//                        [--size WxH] [--png-level N] [--door N]
//
// --door gives the library's messages in the words of door N (lq2x_door).
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
    lq2x::options opt;
    lq2x::read_options(&r.options, opt);
    lq2x::file_options file;
    file.out = lq2x::format(r.file.format);
    file.frame = r.file.frame;
    file.png_level = r.file.png_level;
    file.raw_width = r.file.raw_width;
    file.raw_height = r.file.raw_height;
    file.words = lq2x::door(r.file.door);
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
    // Each flag as the library's setting it names, read by the library from
    // its text as every door reads it (a value it refuses is a refusal).
    constexpr std::pair<std::string_view, const char*> SCALING[] = {
        {"--scale", "scale"}, {"--rotate", "orientation"}, {"--edge", "edge"}, {"--tile", "tile"},
        {"--tile-margin", "tile_margin"}, {"--tile-spacing", "tile_spacing"}, {"--threads", "threads"},
        {"--max-pixels", "max_pixels"}};
    constexpr std::pair<std::string_view, const char*> FILE[] = {
        {"--format", "format"}, {"--frame", "frame"}, {"--size", "raw_size"}, {"--png-level", "png_level"},
        {"--door", "door"}};
    for (int i = 4; i + 1 < argc; ++i)
        if (std::string_view(argv[i]) == "--door")
            r.file.door = std::atoi(argv[i + 1]);
    bool format_given = false;
    char message[320];
    for (int i = 4; i < argc; ++i) {
        const std::string_view flag = argv[i];
        const char* name = nullptr;
        const char* value = "1";
        bool file = false;
        for (const auto& [f, n] : SCALING)
            name = flag == f ? n : name;
        for (const auto& [f, n] : FILE)
            if (flag == f)
                name = n, file = true;
        if (flag == "--rgb565")
            name = "rgb565";
        else if (name != nullptr && i + 1 < argc)
            value = argv[++i];
        else
            usage("unknown option, or no value for " + std::string(flag));
        format_given = format_given || flag == "--format";
        const lq2x_status s = file ? lq2x_set_file_option(&r.file, name, value, r.file.door, message, sizeof message)
                                   : lq2x_set_option(&r.options, name, value, r.file.door, message, sizeof message);
        if (s != LQ2X_OK)
            return refused(s, message);
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
