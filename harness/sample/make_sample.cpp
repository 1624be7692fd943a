// Draws the bench's sample frame: a small pixel-art landscape of 160 x 102
// with flat areas, diagonal and curved edges, one-pixel lines, dithering and a
// few dozen colours, so that every blend kind of the scaler shows up.
// Writes raw 24-bit RGB to the file named by its argument.
//
//     lq2x_make_sample test.raw
//
// It also draws, from the same palette, docs/tool.md's pictures of edge modes
// and tile grids (docs/make_figures.sh), as PAM files with alpha:
//
//     lq2x_make_sample --sheet sheet.pam      a tileset of 16 x 16 cells cut from the landscape
//     lq2x_make_sample --texture texture.pam  a seamless 32 x 32 texture

#include <algorithm>
#include <array>
#include <utility>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int W = 160, H = 102;

struct rgb {
    std::uint8_t r, g, b;
};

// The palette, by name.
constexpr rgb SKY_DEEP{40, 56, 120}, SKY_MID{72, 104, 176}, SKY_LIGHT{136, 168, 224}, SKY_HAZE{192, 208, 240};
constexpr rgb SUN{255, 232, 96}, SUN_EDGE{240, 152, 48}, CLOUD{248, 248, 248}, CLOUD_SHADE{200, 200, 216};
constexpr rgb ROCK{112, 96, 136}, ROCK_DARK{80, 64, 104}, SNOW{232, 240, 255};
constexpr rgb GRASS{72, 160, 64}, GRASS_DARK{40, 112, 48}, GRASS_LIGHT{136, 200, 88};
constexpr rgb SOIL{128, 88, 48}, SOIL_DARK{96, 64, 32}, PATH{200, 168, 112};
constexpr rgb WALL{224, 200, 160}, ROOF{176, 56, 48}, ROOF_DARK{128, 32, 40}, WOOD{104, 64, 32};
constexpr rgb GLASS{96, 184, 232}, OUTLINE{24, 20, 32}, WATER{48, 112, 200}, FOAM{224, 240, 255};
constexpr rgb SKIN{248, 192, 152}, SHIRT{56, 88, 200}, HAIR{96, 48, 24}, LEAF{32, 128, 56};

std::array<std::array<rgb, W>, H> frame;

void put(int x, int y, rgb c)
{
    if (x >= 0 && x < W && y >= 0 && y < H)
        frame[y][x] = c;
}

void rect(int x0, int y0, int x1, int y1, rgb c)
{
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            put(x, y, c);
}

// Filled ellipse with a one-pixel outline in another colour.
void ellipse(int cx, int cy, int rx, int ry, rgb fill, rgb edge)
{
    const auto inside = [&](int x, int y, int grow) {
        const double dx = double(x - cx) / (rx + grow), dy = double(y - cy) / (ry + grow);
        return dx * dx + dy * dy <= 1.0;
    };
    for (int y = cy - ry - 1; y <= cy + ry + 1; ++y)
        for (int x = cx - rx - 1; x <= cx + rx + 1; ++x)
            if (inside(x, y, 0))
                put(x, y, inside(x, y, -1) ? fill : edge);
}

void line(int x0, int y0, int x1, int y1, rgb c)
{
    const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    for (int err = dx + dy;;) {
        put(x0, y0, c);
        if (x0 == x1 && y0 == y1)
            break;
        const int e2 = 2 * err;
        if (e2 >= dy) { err += dy; x0 += sx; }
        if (e2 <= dx) { err += dx; y0 += sy; }
    }
}

// Rows of text art: '.' leaves the pixel, other letters pick a colour.
void sprite(int x0, int y0, std::initializer_list<std::string_view> rows)
{
    int y = y0;
    for (const std::string_view row : rows) {
        for (int x = 0; x < int(row.size()); ++x) {
            switch (row[x]) {
            case 'o': put(x0 + x, y, OUTLINE); break;
            case 's': put(x0 + x, y, SKIN); break;
            case 'h': put(x0 + x, y, HAIR); break;
            case 'b': put(x0 + x, y, SHIRT); break;
            case 'w': put(x0 + x, y, WOOD); break;
            case 'c': put(x0 + x, y, CLOUD); break;
            default: break;
            }
        }
        ++y;
    }
}

void draw()
{
    // Sky in flat bands joined by checkerboard dithering.
    const rgb bands[] = {SKY_DEEP, SKY_MID, SKY_LIGHT, SKY_HAZE};
    for (int y = 0; y < 56; ++y)
        for (int x = 0; x < W; ++x) {
            const int band = y / 14, within = y % 14;
            const bool dither = band < 3 && within >= 12 && (x + y) % 2 == 0;
            put(x, y, bands[dither ? band + 1 : band]);
        }

    // Sun with a ring and one-pixel rays.
    for (int i = 0; i < 8; ++i) {
        const double a = i * 3.14159265 / 4;
        line(132 + int(std::lround(13 * std::cos(a))), 16 + int(std::lround(13 * std::sin(a))),
             132 + int(std::lround(18 * std::cos(a))), 16 + int(std::lround(18 * std::sin(a))), SUN_EDGE);
    }
    ellipse(132, 16, 10, 10, SUN, SUN_EDGE);

    // Clouds: overlapping ellipses, shaded underneath.
    for (const auto& [cx, cy] : {std::array{30, 14}, std::array{40, 11}, std::array{50, 15}, std::array{84, 24}, std::array{94, 22}})
        ellipse(cx, cy, 9, 5, CLOUD, CLOUD_SHADE);

    // Mountains: straight diagonal flanks at several slopes, snow on the peaks.
    const int peaks[][3] = {{20, 30, 1}, {62, 26, 2}, {104, 34, 1}, {150, 30, 2}};
    for (const auto& [px, py, slope] : peaks)
        for (int y = py; y < 64; ++y) {
            const int half = (y - py) * slope / (slope == 1 ? 1 : 3) + (y - py) / 2;
            for (int x = px - half; x <= px + half; ++x)
                put(x, y, y < py + 6 ? SNOW : (x < px ? ROCK_DARK : ROCK));
        }

    // Rolling hills: a curved top edge, a darker dithered band below it.
    for (int x = 0; x < W; ++x) {
        const int top = 60 + int(std::lround(5 * std::sin(x / 11.0) + 3 * std::sin(x / 5.0 + 1)));
        for (int y = top; y < H; ++y) {
            rgb c = GRASS;
            if (y == top)
                c = GRASS_LIGHT;
            else if (y > top + 6 && y < top + 10)
                c = (x + y) % 2 ? GRASS : GRASS_DARK;
            else if (y >= top + 10)
                c = GRASS_DARK;
            put(x, y, c);
        }
    }

    // Soil strip along the bottom with a scattered texture.
    for (int y = 92; y < H; ++y)
        for (int x = 0; x < W; ++x)
            put(x, y, (x * 7 + y * 13) % 11 == 0 ? SOIL_DARK : SOIL);

    // A winding path down to the soil.
    for (int y = 66; y < 92; ++y) {
        const int centre = 70 + int(std::lround(8 * std::sin(y / 6.0))) + (y - 66) / 2;
        const int half = 1 + (y - 66) / 6;
        rect(centre - half, y, centre + half, y, PATH);
    }

    // House: walls, a roof with 45-degree sides, windows framed by single pixels.
    rect(14, 62, 44, 84, WALL);
    for (int i = 0; i <= 19; ++i) {
        rect(10 + i, 61 - i, 48 - i, 61 - i, ROOF);
        put(10 + i, 61 - i, ROOF_DARK);
        put(48 - i, 61 - i, ROOF_DARK);
    }
    rect(38, 40, 41, 50, ROOF_DARK);
    rect(26, 72, 32, 84, WOOD);
    put(31, 78, SUN);
    for (const int wx : {17, 36}) {
        rect(wx, 66, wx + 5, 71, GLASS);
        line(wx, 66, wx + 5, 66, OUTLINE);
        line(wx, 71, wx + 5, 71, OUTLINE);
        line(wx, 66, wx, 71, OUTLINE);
        line(wx + 5, 66, wx + 5, 71, OUTLINE);
        line(wx + 3, 66, wx + 3, 71, OUTLINE);
        line(wx, 69, wx + 5, 69, OUTLINE);
    }

    // Tree: trunk, round outlined canopy with dithered highlights.
    rect(120, 66, 123, 86, WOOD);
    ellipse(121, 58, 12, 10, LEAF, OUTLINE);
    for (int y = 52; y < 60; ++y)
        for (int x = 114; x < 124; ++x)
            if ((x + y) % 2 == 0 && (x - 118) * (x - 118) + (y - 55) * (y - 55) < 14)
                put(x, y, GRASS_LIGHT);

    // Pond: an ellipse with one-pixel foam lines.
    ellipse(96, 90, 14, 5, WATER, OUTLINE);
    line(88, 89, 94, 89, FOAM);
    line(98, 91, 104, 91, FOAM);

    // Fence: one-pixel rails and posts.
    line(132, 78, 159, 78, WOOD);
    line(132, 82, 159, 82, WOOD);
    for (int x = 133; x < W; x += 4)
        line(x, 76, x, 86, WOOD);

    // A character sprite with a dark outline.
    sprite(52, 70, {
        "...oooo...",
        "..ohhhho..",
        ".ohhhhhho.",
        ".osssssso.",
        ".osossoso.",
        ".osssssso.",
        "..ossso...",
        ".obbbbbbo.",
        "obbbbbbbbo",
        "osobbbbos.",
        "osobbbboso",
        ".oobbbboo.",
        "..obooboo.",
        "..owo.owo.",
        "..ooo.ooo.",
    });

    // Birds: single-pixel V shapes.
    for (const auto& [bx, by] : {std::array{60, 8}, std::array{70, 5}, std::array{76, 10}}) {
        put(bx - 1, by - 1, OUTLINE);
        put(bx, by, OUTLINE);
        put(bx + 1, by - 1, OUTLINE);
    }
}

// A picture with alpha, for the sheet and the texture.
struct canvas {
    int width, height;
    bool wraps; // coordinates wrap around: a seamless texture
    std::vector<rgb> colour;
    std::vector<bool> opaque;

    canvas(int w, int h, bool wrap) : width(w), height(h), wraps(wrap), colour(std::size_t(w) * h), opaque(colour.size()) {}

    void put(int x, int y, rgb c)
    {
        if (wraps)
            x = (x % width + width) % width, y = (y % height + height) % height;
        if (x >= 0 && x < width && y >= 0 && y < height) {
            colour[std::size_t(y) * width + x] = c;
            opaque[std::size_t(y) * width + x] = true;
        }
    }
    void rect(int x0, int y0, int x1, int y1, rgb c)
    {
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                put(x, y, c);
    }
    void disc(int cx, int cy, int r, rgb fill, rgb edge)
    {
        for (int y = cy - r; y <= cy + r; ++y)
            for (int x = cx - r; x <= cx + r; ++x) {
                const int d = (x - cx) * (x - cx) + (y - cy) * (y - cy);
                if (d <= r * r + r / 2)
                    put(x, y, d <= (r - 1) * (r - 1) + (r - 1) / 2 ? fill : edge);
            }
    }
};

// A tileset as a map editor cuts one: the landscape's top 160 x 96 cut into
// 16 x 16 tiles and laid out in another order, so that each tile's
// neighbours on the sheet are unrelated to it.
canvas sheet()
{
    constexpr int CELL = 16, COLUMNS = W / CELL, ROWS = 96 / CELL, TILES = COLUMNS * ROWS;
    draw();
    canvas c(W, ROWS * CELL, false);
    for (int i = 0; i < TILES; ++i) {
        const int from = i * 7 % TILES; // 7 and 60 share no factor: every tile once
        for (int y = 0; y < CELL; ++y)
            for (int x = 0; x < CELL; ++x)
                c.put(i % COLUMNS * CELL + x, i / COLUMNS * CELL + y,
                      frame[from / COLUMNS * CELL + y][from % COLUMNS * CELL + x]);
    }
    return c;
}

// A seamless 32 x 32 texture: cobbles of a few sizes on grass, drawn with
// wrapping coordinates so that stones cut by one border continue at the other.
canvas texture()
{
    canvas c(32, 32, true);
    c.rect(0, 0, 31, 31, GRASS);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            if ((x * 3 + y * 5) % 11 == 0)
                c.put(x, y, (x + y) % 2 ? GRASS_DARK : GRASS_LIGHT);
    const int stones[][3] = {{0, 0, 5}, {14, 6, 4}, {26, 17, 5}, {8, 22, 4}, {20, 30, 3}, {31, 9, 3}, {3, 13, 2}};
    for (const auto& [x, y, r] : stones)
        c.disc(x, y, r, (x + y) % 2 ? ROCK : PATH, OUTLINE);
    return c;
}

// PAM, RGB_ALPHA, 8 bits a sample.
bool write_pam(const char* name, const canvas& c)
{
    std::FILE* f = std::fopen(name, "wb");
    if (!f)
        return false;
    bool ok = std::fprintf(f, "P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n", c.width,
                           c.height) > 0;
    for (std::size_t i = 0; i < c.colour.size(); ++i) {
        const rgb p = c.colour[i];
        const int a = c.opaque[i] ? 255 : 0;
        ok = ok && std::fputc(p.r, f) != EOF && std::fputc(p.g, f) != EOF && std::fputc(p.b, f) != EOF &&
             std::fputc(a, f) != EOF;
    }
    return std::fclose(f) == 0 && ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && (std::string_view(argv[1]) == "--sheet" || std::string_view(argv[1]) == "--texture")) {
        if (!write_pam(argv[2], std::string_view(argv[1]) == "--sheet" ? sheet() : texture())) {
            std::perror(argv[2]);
            return 1;
        }
        return 0;
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: lq2x_make_sample OUTPUT.raw | --sheet OUTPUT.pam | --texture OUTPUT.pam\n");
        return 2;
    }
    draw();
    std::FILE* f = std::fopen(argv[1], "wb");
    if (!f) {
        std::perror(argv[1]);
        return 1;
    }
    bool ok = true;
    for (const auto& row : frame)
        for (const rgb& c : row)
            ok = ok && std::fputc(c.r, f) != EOF && std::fputc(c.g, f) != EOF && std::fputc(c.b, f) != EOF;
    ok = std::fclose(f) == 0 && ok;
    if (!ok) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
