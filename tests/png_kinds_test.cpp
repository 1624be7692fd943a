// PNG files of every colour type and bit depth, made here with libpng, read
// by the tool's reader into 8-bit RGBA as the test works it out by itself.
#include <gtest/gtest.h>

#include <png.h>

#include <array>
#include <cstring>
#include <random>
#include <vector>

#include "dispatch.h"
#include "formats.h"

namespace files = lq2x::files;

namespace {

using bytes = std::vector<std::uint8_t>;

struct png_case {
    const char* name;
    int color_type, bit_depth;
    bool interlaced = false;
    bool transparency = false; // a tRNS chunk
};

void append(png_structp png, png_bytep data, std::size_t n)
{
    auto* out = static_cast<bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + n);
}

// samples: one value per channel per pixel, at the file's bit depth.
bytes make_png(const png_case& kind, int w, int h, const std::vector<unsigned>& samples,
               const std::vector<png_color>& palette, const std::vector<png_byte>& palette_alpha, unsigned grey_key)
{
    bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &out, append, nullptr);
    png_set_IHDR(png, info, w, h, kind.bit_depth, kind.color_type,
                 kind.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (kind.color_type == PNG_COLOR_TYPE_PALETTE)
        png_set_PLTE(png, info, palette.data(), int(palette.size()));
    if (kind.transparency) {
        png_color_16 key{};
        key.gray = png_uint_16(grey_key);
        png_set_tRNS(png, info, palette_alpha.data(), int(palette_alpha.size()), &key);
    }
    png_write_info(png, info);
    if (kind.bit_depth < 8)
        png_set_packing(png);
    if (kind.bit_depth == 16)
        png_set_swap(png); // rows below are in host order
    const int per_pixel = png_get_channels(png, info);
    const int sample_bytes = kind.bit_depth == 16 ? 2 : 1;
    std::vector<std::uint8_t> rows(std::size_t(w) * h * per_pixel * sample_bytes);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (sample_bytes == 2) {
            const auto v = std::uint16_t(samples[i]);
            std::memcpy(&rows[2 * i], &v, 2);
        } else {
            rows[i] = std::uint8_t(samples[i]);
        }
    }
    std::vector<png_bytep> row_ptrs(h);
    for (int y = 0; y < h; ++y)
        row_ptrs[y] = rows.data() + std::size_t(y) * w * per_pixel * sample_bytes;
    png_write_image(png, row_ptrs.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

std::uint8_t to8(unsigned v, int depth)
{
    if (depth == 16)
        return std::uint8_t((v * 255u + 32767u) / 65535u);
    return std::uint8_t(v * 255u / ((1u << depth) - 1));
}

TEST(PngKinds, EveryColourTypeAndDepthReadsAsRgba)
{
    const png_case cases[] = {
        {"grey 1", PNG_COLOR_TYPE_GRAY, 1},
        {"grey 2", PNG_COLOR_TYPE_GRAY, 2},
        {"grey 4 + key", PNG_COLOR_TYPE_GRAY, 4, false, true},
        {"grey 8 interlaced", PNG_COLOR_TYPE_GRAY, 8, true},
        {"grey 16", PNG_COLOR_TYPE_GRAY, 16},
        {"grey+alpha 8", PNG_COLOR_TYPE_GRAY_ALPHA, 8},
        {"grey+alpha 16", PNG_COLOR_TYPE_GRAY_ALPHA, 16},
        {"rgb 8", PNG_COLOR_TYPE_RGB, 8},
        {"rgb 16 interlaced", PNG_COLOR_TYPE_RGB, 16, true},
        {"rgba 8", PNG_COLOR_TYPE_RGB_ALPHA, 8},
        {"rgba 16", PNG_COLOR_TYPE_RGB_ALPHA, 16},
        {"palette 2", PNG_COLOR_TYPE_PALETTE, 2},
        {"palette 8 + alpha", PNG_COLOR_TYPE_PALETTE, 8, false, true},
    };
    const int w = 9, h = 7;
    std::mt19937 rng(42);
    std::vector<png_color> palette(4);
    for (auto& c : palette)
        c = {png_byte(rng()), png_byte(rng()), png_byte(rng())};
    const std::vector<png_byte> palette_alpha = {255, 0, 128};

    for (const png_case& kind : cases) {
        const bool palette_type = kind.color_type == PNG_COLOR_TYPE_PALETTE;
        const bool grey = (kind.color_type & PNG_COLOR_MASK_COLOR) == 0;
        const bool alpha = (kind.color_type & PNG_COLOR_MASK_ALPHA) != 0;
        const int per_pixel = palette_type ? 1 : (grey ? 1 : 3) + (alpha ? 1 : 0);
        const unsigned top = palette_type ? unsigned(palette.size()) : 1u << kind.bit_depth;
        const unsigned grey_key = 1;

        std::vector<unsigned> samples(std::size_t(w) * h * per_pixel);
        for (auto& v : samples)
            v = rng() % top;
        const bytes file = make_png(kind, w, h, samples, palette, palette_alpha, grey_key);
        ASSERT_FALSE(file.empty()) << kind.name;

        const files::image img = files::decode(file, {});
        ASSERT_EQ(img.width, w) << kind.name;
        ASSERT_EQ(img.height, h) << kind.name;
        const bool has_alpha = alpha || kind.transparency;
        EXPECT_EQ(files::has_alpha(img.kind), has_alpha) << kind.name;
        EXPECT_EQ(files::is_grey(img.kind), grey) << kind.name;
        for (int i = 0; i < w * h; ++i) {
            const unsigned* s = &samples[std::size_t(i) * per_pixel];
            std::array<std::uint8_t, 4> want{};
            if (palette_type) {
                const png_color c = palette[s[0]];
                want = {c.red, c.green, c.blue, kind.transparency && s[0] < palette_alpha.size() ? palette_alpha[s[0]]
                                                                                                 : std::uint8_t(255)};
            } else if (grey) {
                const std::uint8_t g = to8(s[0], kind.bit_depth);
                const std::uint8_t a = alpha ? to8(s[1], kind.bit_depth) : kind.transparency && s[0] == grey_key ? 0 : 255;
                want = {g, g, g, a};
            } else {
                want = {to8(s[0], kind.bit_depth), to8(s[1], kind.bit_depth), to8(s[2], kind.bit_depth),
                        alpha ? to8(s[3], kind.bit_depth) : std::uint8_t(255)};
            }
            const std::uint8_t* got = img.bytes() + 4 * i;
            ASSERT_EQ((std::array<std::uint8_t, 4>{got[0], got[1], got[2], got[3]}), want)
                << kind.name << " pixel " << i;
        }
    }
}

} // namespace
