#include "content.h"

#include <algorithm>
#include <random>
#include <string>

#if defined(LQ2X_TILES_DIR)
#include <png.h>
#endif

namespace {

// Sprite-like shapes with dark outlines over flat backgrounds: tiled blobs,
// diagonal ramps and circles in a few dozen colours, the same at any size.
std::vector<pixel565> pixel_art(int width, int height)
{
    std::mt19937 rng(2024);
    std::vector<pixel565> palette(36);
    for (auto& c : palette)
        c = pixel565(rng());
    constexpr pixel565 OUTLINE = 0x18C3;

    std::vector<pixel565> f(std::size_t(width) * height);
    const auto at = [&](int x, int y) -> pixel565& { return f[std::size_t(y) * width + x]; };
    // Background: large flat bands.
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            at(x, y) = palette[(y / 24) % 4];
    // Sprites: outlined circles and diamonds on a 32-pixel grid.
    for (int cy = 16; cy < height; cy += 32)
        for (int cx = 16; cx < width; cx += 32) {
            const pixel565 fill = palette[4 + rng() % 32], shade = palette[4 + rng() % 32];
            const bool round = rng() % 2;
            for (int y = std::max(cy - 13, 0); y < std::min(cy + 14, height); ++y)
                for (int x = std::max(cx - 13, 0); x < std::min(cx + 14, width); ++x) {
                    const int dx = x - cx, dy = y - cy;
                    const int d = round ? dx * dx + dy * dy : (std::abs(dx) + std::abs(dy)) * 12;
                    const int r = round ? 120 : 132;
                    if (d <= r)
                        at(x, y) = d > r - (round ? 22 : 12) ? OUTLINE : (dx + dy < 0 ? shade : fill);
                }
        }
    return f;
}

#if defined(LQ2X_TILES_DIR)
// A sheet of 32 x 32 tiles, RGBA, as libpng's simplified reader gives it.
struct sheet {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgba;
    std::vector<int> tiles; // the tiles with any pixel not wholly transparent

    explicit sheet(const char* name)
    {
        const std::string path = std::string(LQ2X_TILES_DIR) + "/" + name;
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        if (png_image_begin_read_from_file(&image, path.c_str()) == 0)
            return;
        image.format = PNG_FORMAT_RGBA;
        rgba.resize(PNG_IMAGE_SIZE(image));
        if (png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr) == 0) {
            rgba.clear();
            return;
        }
        width = int(image.width), height = int(image.height);
        for (int t = 0; t < (width / 32) * (height / 32); ++t) {
            bool seen = false;
            for (int y = 0; y < 32 && !seen; ++y)
                for (int x = 0; x < 32 && !seen; ++x)
                    seen = at(t, x, y)[3] != 0;
            if (seen)
                tiles.push_back(t);
        }
    }

    const std::uint8_t* at(int tile, int x, int y) const
    {
        const int across = width / 32;
        return &rgba[4 * (std::size_t(tile / across * 32 + y) * std::size_t(width) + std::size_t(tile % across * 32 + x))];
    }
};

const sheet& floors()
{
    static const sheet s("floor.png");
    return s;
}
const sheet& sprites()
{
    static const sheet s("main.png");
    return s;
}

// A dungeon-like mosaic of the game's 32 x 32 tiles: floors in patches of
// one kind (6 x 4 tiles, each a variant next to the patch's own in the
// sheet), and a monster or item sprite on about a third of them, drawn
// where its alpha is at least half.
std::vector<pixel565> real_art(int width, int height)
{
    const sheet &under = floors(), &over = sprites();
    std::mt19937 rng(27);
    const int across = (width + 31) / 32, down = (height + 31) / 32;
    std::vector<int> patch(std::size_t(across / 6 + 1) * std::size_t(down / 4 + 1));
    for (int& p : patch)
        p = int(rng() % under.tiles.size());
    std::vector<pixel565> f(std::size_t(width) * height);
    for (int ty = 0; ty < down; ++ty)
        for (int tx = 0; tx < across; ++tx) {
            const int base = patch[std::size_t(ty / 4) * std::size_t(across / 6 + 1) + std::size_t(tx / 6)];
            const int floor = under.tiles[std::min<std::size_t>(base + rng() % 3, under.tiles.size() - 1)];
            const int sprite = rng() % 3 == 0 ? over.tiles[rng() % over.tiles.size()] : -1;
            for (int y = 0; y < 32 && ty * 32 + y < height; ++y)
                for (int x = 0; x < 32 && tx * 32 + x < width; ++x) {
                    const std::uint8_t* p = under.at(floor, x, y);
                    if (sprite >= 0 && over.at(sprite, x, y)[3] >= 128)
                        p = over.at(sprite, x, y);
                    f[std::size_t(ty * 32 + y) * width + std::size_t(tx * 32 + x)] =
                        pixel565((p[0] >> 3) << 11 | (p[1] >> 2) << 5 | p[2] >> 3);
                }
        }
    return f;
}
#endif

} // namespace

bool available(content kind)
{
#if defined(LQ2X_TILES_DIR)
    if (kind == content::real_art)
        return !floors().tiles.empty() && !sprites().tiles.empty();
#endif
    return kind != content::real_art;
}

std::vector<pixel565> make_frame(content kind, int width, int height)
{
    switch (kind) {
    case content::real_art:
#if defined(LQ2X_TILES_DIR)
        if (available(kind))
            return real_art(width, height);
#endif
        return {};
    case content::pixel_art:
        return pixel_art(width, height);
    case content::noise: {
        std::mt19937 rng(4);
        const pixel565 colours[4] = {0x0000, 0xFFFF, 0xF800, 0x07E0};
        std::vector<pixel565> f(std::size_t(width) * height);
        for (auto& p : f)
            p = colours[rng() % 4];
        return f;
    }
    case content::flat:
        break;
    }
    return std::vector<pixel565>(std::size_t(width) * height, 0x5AEB);
}
