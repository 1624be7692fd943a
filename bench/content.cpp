#include "content.h"

#include <algorithm>
#include <random>

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

} // namespace

std::vector<pixel565> make_frame(content kind, int width, int height)
{
    switch (kind) {
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
