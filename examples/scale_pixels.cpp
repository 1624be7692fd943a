// The typed C++ interface on a picture in memory: a 16 x 16 sprite drawn
// here, scaled 4x and turned clockwise by lq2x::scale_picture, and both
// written as PNG files by the files library.
//
//     scale_pixels FOLDER      (writes FOLDER/sprite.png and FOLDER/sprite-4x.png)
//
// `lq2x --scale 4 --rotate cw sprite.png out.png` writes the same bytes.
#include <lq2x/files.hpp>
#include <lq2x/lq2x.hpp>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

namespace {

constexpr int SIDE = 16;
constexpr const char* ART[SIDE] = {
    "................", "..####....####..", ".#oooo#..#oooo#.", "#oo++oo##oooooo#",
    "#o++ooooooooooo#", "#o+oooooooooooo#", "#oooooooooooooo#", "#oooooooooooooo#",
    ".#oooooooooooo#.", "..#oooooooooo#..", "...#oooooooo#...", "....#oooooo#....",
    ".....#oooo#.....", "......#oo#......", ".......##.......", "................"};

// A picture of RGBA pixels as the files library writes it: PNG bytes, into a file.
bool save(const std::filesystem::path& path, std::int64_t width, std::int64_t height, std::vector<std::uint8_t> rgba)
{
    const lq2x::frames picture{.width = std::int32_t(width), .height = std::int32_t(height), .kind = lq2x::layout::rgba,
                               .pixels = std::move(rgba), .delays = {lq2x::frame_delay{}}, .warning = {}}; // a still
    const std::vector<std::uint8_t> png = lq2x::write_file(picture, {.out = lq2x::format::png});
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(png.data()), std::streamsize(png.size()));
    file.close();
    return !file.fail();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: scale_pixels FOLDER\n");
        return 2;
    }
    // '.' clear, '#' the outline, 'o' the fill, '+' the highlight.
    std::vector<std::uint8_t> sprite;
    for (const char* row : ART)
        for (int x = 0; x < SIDE; ++x) {
            const char c = row[x];
            const std::uint8_t rgba[4][4] = {{0, 0, 0, 0}, {60, 16, 32, 255}, {220, 40, 64, 255}, {255, 200, 210, 255}};
            const auto& p = rgba[c == '#' ? 1 : c == 'o' ? 2 : c == '+' ? 3 : 0];
            sprite.insert(sprite.end(), p, p + 4);
        }

    lq2x::options options;
    options.scale = 4;
    options.turn = lq2x::orientation::cw;
    lq2x::size size{}; // of the result, turned
    if (const lq2x::error e = lq2x::picture_size(SIDE, SIDE, options, size); e != lq2x::error::none) {
        std::fprintf(stderr, "scale_pixels: %s\n", lq2x::describe(e));
        return 1;
    }
    std::vector<std::uint8_t> scaled(std::size_t(size.width * size.height * 4));
    const lq2x::picture_view<const std::byte> from{reinterpret_cast<const std::byte*>(sprite.data()), SIDE, SIDE,
                                                   SIDE * 4, lq2x::layout::rgba};
    const lq2x::picture_view<std::byte> to{reinterpret_cast<std::byte*>(scaled.data()), std::int32_t(size.width),
                                           std::int32_t(size.height), size.width * 4, lq2x::layout::rgba};
    if (const lq2x::error e = lq2x::scale_picture(from, to, options); e != lq2x::error::none) {
        std::fprintf(stderr, "scale_pixels: %s\n", lq2x::describe(e));
        return 1;
    }
    const std::filesystem::path folder = argv[1];
    try {
        if (save(folder / "sprite.png", SIDE, SIDE, std::move(sprite)) &&
            save(folder / "sprite-4x.png", size.width, size.height, std::move(scaled)))
            return 0;
        std::perror(argv[1]);
    } catch (const lq2x::file_error& e) { // the library's words
        std::fprintf(stderr, "scale_pixels: %s\n", e.what());
    }
    return 1;
}
