// The readers of older game art (BMP, TGA, ICO and CUR, PCX, and plain PNM)
// against independent decoders. Each file is made at test time, by
// ImageMagick or byte by byte here where ImageMagick cannot make that
// kind, and read by the library and by ImageMagick (Pillow where
// ImageMagick reads a kind otherwise than its format's makers, or not at
// all), pixel for pixel. Pixels with alpha 0 compare by alpha alone: the
// library treats the colour under them as invisible. Where the library
// chose otherwise than both (see the readers' top comments), the expected
// pixels are written here by hand. Then hostile files, refused in words;
// GIFs joined end to end; and the tool end to end.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <optional>
#include <random>

#include "png_chunks.h"
#include "support.h"

using namespace testing_support;
namespace fs = std::filesystem;
using files::format;
using files::pixel8888;

namespace {

const std::string IMAGEMAGICK = "/usr/bin/convert";
const std::string PYTHON = "/usr/bin/python3"; // Debian's, which python3-pil installs Pillow for

constexpr int SECONDS = 120;

// ---- Bytes written by hand, little-endian field by field.

struct writer {
    bytes out;
    writer& u8(unsigned v)
    {
        out.push_back(std::uint8_t(v));
        return *this;
    }
    writer& u16(unsigned v) { return u8(v & 0xFF).u8(v >> 8 & 0xFF); }
    writer& u32(std::uint32_t v) { return u16(v & 0xFFFF).u16(v >> 16); }
    writer& add(const bytes& b)
    {
        out.insert(out.end(), b.begin(), b.end());
        return *this;
    }
};

bytes operator+(bytes a, const bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// `count` random bytes below `below`.
bytes random_bytes(std::size_t count, unsigned below, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    bytes b(count);
    for (auto& v : b)
        v = std::uint8_t(rng() % below);
    return b;
}

// A BMP info header of `size` bytes (40 to 124, or OS/2's 64), the colour
// masks in it where it has room for them.
bytes info_header(std::uint32_t size, std::int32_t width, std::int32_t height, int bits, std::uint32_t compression,
                  std::uint32_t used = 0, std::array<std::uint32_t, 4> masks = {})
{
    writer w;
    w.u32(size).u32(std::uint32_t(width)).u32(std::uint32_t(height)).u16(1).u16(unsigned(bits)).u32(compression);
    w.u32(0).u32(2835).u32(2835).u32(used).u32(0);
    for (std::size_t i = 0; i < 4 && w.out.size() + 4 <= size; ++i)
        w.u32(masks[i]);
    w.out.resize(size);
    return w.out;
}

// The OS/2 core header: 16-bit sizes.
bytes core_header(unsigned width, unsigned height, int bits)
{
    return writer{}.u32(12).u16(width).u16(height).u16(1).u16(unsigned(bits)).out;
}

// A file: its 14-byte header, then `dib` (header, masks, palette), then the pixels.
// An info header's size of the pixels is set (ImageMagick needs it for RLE).
bytes bmp_file(const bytes& dib, const bytes& pixels)
{
    const std::uint32_t offset = std::uint32_t(14 + dib.size());
    bytes file = writer{}.u8('B').u8('M').u32(offset + std::uint32_t(pixels.size())).u32(0).u32(offset).add(dib).add(pixels).out;
    if (dib.size() >= 40 && dib[0] >= 40)
        for (int i = 0; i < 4; ++i)
            file[34 + std::size_t(i)] = std::uint8_t(pixels.size() >> (8 * i));
    return file;
}

// Rows given top first, each padded to 4 bytes, stored bottom-up (or top-down).
bytes bmp_rows(const std::vector<bytes>& rows, bool top_down = false)
{
    bytes out;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const bytes& r = rows[top_down ? i : rows.size() - 1 - i];
        out = out + r;
        out.resize(out.size() + (4 - r.size() % 4) % 4);
    }
    return out;
}

// Rows of `width` pixels of `bits` each, indices or values random below `below`, packed.
std::vector<bytes> packed_rows(int width, int height, int bits, unsigned below, std::uint32_t seed)
{
    std::vector<bytes> rows;
    const bytes values = random_bytes(std::size_t(width) * std::size_t(height), below, seed);
    for (int y = 0; y < height; ++y) {
        bytes row((std::size_t(width) * std::size_t(bits) + 7) / 8);
        for (int x = 0; x < width; ++x) {
            const unsigned v = values[std::size_t(y * width + x)];
            const std::size_t bit = std::size_t(x) * std::size_t(bits);
            row[bit / 8] = std::uint8_t(row[bit / 8] | v << (8 - bits - int(bit % 8)));
        }
        rows.push_back(row);
    }
    return rows;
}

// A palette of `count` random entries of `entry` bytes (4: BGRX, 3: BGR).
bytes palette(int count, int entry, std::uint32_t seed)
{
    bytes p = random_bytes(std::size_t(count * entry), 256, seed);
    if (entry == 4)
        for (std::size_t i = 3; i < p.size(); i += 4)
            p[i] = 0;
    return p;
}

// ---- TGA

bytes tga_file(int type, int bits, int descriptor, int width, int height, const bytes& pixels, const bytes& map = {},
               int map_bits = 0, int map_first = 0, const bytes& id = {})
{
    writer w;
    const unsigned entries = map.empty() ? 0 : unsigned(map.size() * 8 / std::size_t(map_bits == 15 ? 16 : map_bits));
    w.u8(unsigned(id.size())).u8(map.empty() ? 0 : 1).u8(unsigned(type)).u16(unsigned(map_first)).u16(entries);
    w.u8(unsigned(map_bits)).u16(0).u16(0).u16(unsigned(width)).u16(unsigned(height)).u8(unsigned(bits));
    return w.u8(unsigned(descriptor)).add(id).add(map).add(pixels).out;
}

// ---- ICO and CUR

struct icon_entry {
    int width, height, bits; // as the directory lists them (256 written as 0)
    bytes data;
};

bytes icon_file(const std::vector<icon_entry>& images, int type = 1)
{
    writer w;
    w.u16(0).u16(unsigned(type)).u16(unsigned(images.size()));
    std::uint32_t at = std::uint32_t(6 + 16 * images.size());
    for (const icon_entry& e : images) {
        w.u8(unsigned(e.width) & 0xFF).u8(unsigned(e.height) & 0xFF).u8(0).u8(0).u16(1).u16(unsigned(e.bits));
        w.u32(std::uint32_t(e.data.size())).u32(at);
        at += std::uint32_t(e.data.size());
    }
    for (const icon_entry& e : images)
        w.add(e.data);
    return w.out;
}

// An icon's bitmap: a 40-byte header of twice the height, palette, colour
// rows, then the transparency mask's rows (both given top first).
bytes icon_bitmap(int width, int height, int bits, const bytes& pal, const std::vector<bytes>& colour,
                  const std::vector<bytes>& mask)
{
    return info_header(40, width, 2 * height, bits, 0) + pal + bmp_rows(colour) + bmp_rows(mask);
}

// A small RGBA PNG of random pixels, some clear.
bytes rgba_png(int width, int height, std::uint32_t seed)
{
    bytes samples = random_bytes(std::size_t(width * height * 4), 256, seed);
    for (std::size_t i = 3; i < samples.size(); i += 12)
        samples[i] = 0;
    return png_file({{"IHDR", png_header(std::uint32_t(width), std::uint32_t(height), 8, 6)},
                     {"IDAT", deflated(unfiltered_rows(std::uint32_t(width * 4), samples))},
                     {"IEND", {}}});
}

// ---- PCX

// Header then, per row, each plane's `line` bytes RLE-coded (a run of one
// where a byte has its top two bits set, as PCX needs).
bytes pcx_file(int bits, int planes, int width, int height, int line, const std::vector<std::vector<bytes>>& rows,
               const bytes& header_palette, int version = 5, int encoding = 1, const bytes& tail = {})
{
    writer w;
    w.u8(0x0A).u8(unsigned(version)).u8(unsigned(encoding)).u8(unsigned(bits));
    w.u16(0).u16(0).u16(unsigned(width - 1)).u16(unsigned(height - 1)).u16(72).u16(72);
    bytes p = header_palette;
    p.resize(48);
    w.add(p).u8(0).u8(unsigned(planes)).u16(unsigned(line)).u16(1);
    w.out.resize(128);
    for (const auto& row : rows)
        for (const bytes& plane : row)
            for (const std::uint8_t v : plane) {
                if (encoding == 0)
                    w.u8(v);
                else if (v >= 0xC0)
                    w.u8(0xC1).u8(v);
                else
                    w.u8(v);
            }
    return w.add(tail).out;
}

// Rows of planes, each plane `line` bytes of random values below `below`.
std::vector<std::vector<bytes>> pcx_planes(int height, int planes, int line, unsigned below, std::uint32_t seed)
{
    std::vector<std::vector<bytes>> rows(std::size_t(height), std::vector<bytes>{});
    std::uint32_t s = seed;
    for (auto& r : rows)
        for (int p = 0; p < planes; ++p)
            r.push_back(random_bytes(std::size_t(line), below, s++));
    return rows;
}

// ---- The second decoder.

// What another decoder made of a file: its size and RGBA pixels.
struct decoded {
    int width = 0, height = 0;
    std::string pixels;
};

decoded parse_decoded(const outcome& o, const std::string& what)
{
    decoded d;
    const std::size_t end = o.out.find('\n');
    if (o.status != 0 || end == std::string::npos ||
        std::sscanf(o.out.substr(0, end).c_str(), "%d %d", &d.width, &d.height) != 2)
        throw std::runtime_error(what + " failed (status " + std::to_string(o.status) + "): " + o.err);
    d.pixels = o.out.substr(end + 1);
    return d;
}

// Whether ours shows what theirs does: the same size, and every pixel the
// same, except that where either is clear only the alpha is compared.
// `skipped` pixels (indices, row after row) must be clear in ours, and are
// not compared with theirs.
::testing::AssertionResult same_picture(const files::image& ours, const decoded& theirs,
                                        const std::vector<std::size_t>& skipped = {})
{
    if (ours.width != theirs.width || ours.height != theirs.height)
        return ::testing::AssertionFailure() << "size " << ours.width << " x " << ours.height << ", theirs "
                                             << theirs.width << " x " << theirs.height;
    if (theirs.pixels.size() != ours.pixels.size() * 4)
        return ::testing::AssertionFailure() << theirs.pixels.size() << " bytes of their pixels";
    for (std::size_t i = 0; i < ours.pixels.size(); ++i) {
        const std::uint8_t* a = ours.bytes() + 4 * i;
        const auto* b = reinterpret_cast<const std::uint8_t*>(theirs.pixels.data()) + 4 * i;
        const bool skip = std::find(skipped.begin(), skipped.end(), i) != skipped.end();
        const bool same = skip ? a[3] == 0
                          : a[3] == 0 || b[3] == 0 ? a[3] == b[3]
                                                   : std::equal(a, a + 4, b);
        if (!same)
            return ::testing::AssertionFailure()
                   << "pixel " << i % std::size_t(ours.width) << "," << i / std::size_t(ours.width) << ": ours "
                   << int(a[0]) << " " << int(a[1]) << " " << int(a[2]) << " " << int(a[3]) << ", theirs " << int(b[0])
                   << " " << int(b[1]) << " " << int(b[2]) << " " << int(b[3]) << (skip ? " (skipped: clear)" : "");
    }
    return ::testing::AssertionSuccess();
}

enum class second { magick, pillow };

struct variant {
    std::string name; // the file's name; its extension tells ImageMagick the format
    bytes data;
    format sniffed;
    second decoder = second::magick;
    std::int64_t icon_image = -1; // the icon image asked for
    int their_image = 0;          // the one the second decoder is asked for (ICO)
    std::vector<std::size_t> skipped = {};
    std::optional<files::layout> kind = std::nullopt;
};

class legacy_formats : public ::testing::Test {
protected:
    outcome run(const std::string& program, const std::vector<std::string>& args)
    {
        run_options o;
        o.dir = dir;
        o.timeout_seconds = SECONDS;
        return run_program(program, args, o);
    }

    // A file ImageMagick makes: `args` then the output NAME with its coder.
    bytes magick_made(const std::vector<std::string>& args, const std::string& coder, const std::string& name)
    {
        std::vector<std::string> all = args;
        all.push_back(coder + ":" + name);
        const outcome o = run(IMAGEMAGICK, all);
        if (o.status != 0)
            throw std::runtime_error("ImageMagick could not make " + name + ": " + o.err);
        return read_file(dir / name);
    }

    decoded second_decoder(const variant& v)
    {
        write_file(dir / v.name, v.data);
        if (v.decoder == second::pillow)
            return parse_decoded(run(PYTHON, {"-c",
                                              "import sys\n"
                                              "from PIL import Image\n"
                                              "im = Image.open(sys.argv[1])\n"
                                              "im.seek(int(sys.argv[2]))\n"
                                              "im = im.convert('RGBA')\n"
                                              "sys.stdout.buffer.write(b'%d %d\\n' % im.size + im.tobytes())\n",
                                              v.name, std::to_string(v.their_image)}),
                                 "Pillow (python3-pil) on " + v.name);
        // ImageMagick keeps a TGA's row order as an orientation to apply; -auto-orient applies it.
        return parse_decoded(run(IMAGEMAGICK, {v.name + "[" + std::to_string(v.their_image) + "]", "-auto-orient",
                                               "-depth", "8", "-format", "%w %h\n", "-write", "info:-", "rgba:-"}),
                             "ImageMagick on " + v.name);
    }

    void check(const std::vector<variant>& variants)
    {
        for (const variant& v : variants) {
            SCOPED_TRACE(v.name);
            EXPECT_EQ(files::sniff(v.data), v.sniffed);
            files::decode_options opt;
            opt.icon_image = v.icon_image;
            files::image ours;
            try {
                ours = files::decode(v.data, opt);
            } catch (const files::failure& e) {
                ADD_FAILURE() << "refused: " << e.what();
                continue;
            }
            EXPECT_TRUE(same_picture(ours, second_decoder(v), v.skipped));
            if (v.kind) {
                EXPECT_EQ(int(ours.kind), int(*v.kind));
            }
        }
    }

    scratch_dir scratch;
    const fs::path& dir = scratch.path();
};

TEST_F(legacy_formats, ImageMagickFilesReadAsImageMagickOrPillowReadsThem)
{
    // A plasma of 13 x 7, and the same with alpha: clear, half and opaque
    // pixels. 8 bits a sample: ImageMagick 6 cuts 16-bit samples to 8 bits
    // where the readers (and libpng) round them.
    ASSERT_EQ(run(IMAGEMAGICK, {"-seed", "7", "-size", "13x7", "plasma:", "-depth", "8", "src.png"}).status, 0);
    ASSERT_EQ(run(IMAGEMAGICK, {"src.png", "-alpha", "set", "-channel", "A", "-fx", "(i+j)%3==0?0:i/12", "+channel",
                                "srca.png"})
                  .status,
              0);
    const std::vector<std::string> plain{"src.png"}, alpha{"srca.png"};
    const auto with = [](std::vector<std::string> a, std::initializer_list<std::string> more) {
        a.insert(a.end(), more);
        return a;
    };
    const auto palette_of = [&](const char* colours) { return with(plain, {"-colors", colours, "-type", "Palette"}); };
    using L = files::layout;
    const std::vector<variant> variants = {
        {"mono.bmp", magick_made(with(plain, {"-monochrome"}), "BMP3", "mono.bmp"), format::bmp},
        {"pal4.bmp", magick_made(palette_of("16"), "BMP3", "pal4.bmp"), format::bmp},
        {"pal8.bmp", magick_made(palette_of("60"), "BMP3", "pal8.bmp"), format::bmp},
        {"rle8.bmp", magick_made(with(palette_of("60"), {"-compress", "RLE"}), "BMP3", "rle8.bmp"), format::bmp},
        {"rgb24.bmp", magick_made(with(plain, {"-type", "TrueColor"}), "BMP3", "rgb24.bmp"), format::bmp},
        {"v5_rgba.bmp", magick_made(alpha, "BMP", "v5_rgba.bmp"), format::bmp, second::magick, -1, 0, {}, L::rgba},
        {"os2.bmp", magick_made(palette_of("16"), "BMP2", "os2.bmp"), format::bmp},
        {"rgb555.bmp", magick_made(with(plain, {"-define", "bmp:subtype=RGB555"}), "BMP", "rgb555.bmp"), format::bmp},
        {"rgb565.bmp", magick_made(with(plain, {"-define", "bmp:subtype=RGB565"}), "BMP", "rgb565.bmp"), format::bmp},
        {"rgb24.tga", magick_made(with(plain, {"-type", "TrueColor"}), "TGA", "rgb24.tga"), format::tga},
        {"rgb24_rle.tga", magick_made(with(plain, {"-type", "TrueColor", "-compress", "RLE"}), "TGA", "rgb24_rle.tga"),
         format::tga},
        {"rgba.tga", magick_made(alpha, "TGA", "rgba.tga"), format::tga, second::magick, -1, 0, {}, L::rgba},
        {"rgba_rle_top.tga", magick_made(with(alpha, {"-compress", "RLE", "-orient", "TopLeft"}), "TGA", "rgba_rle_top.tga"),
         format::tga},
        {"mapped.tga", magick_made(palette_of("40"), "TGA", "mapped.tga"), format::tga},
        {"mapped_rle.tga", magick_made(with(palette_of("40"), {"-compress", "RLE"}), "TGA", "mapped_rle.tga"), format::tga},
        {"grey.tga", magick_made(with(plain, {"-colorspace", "Gray"}), "TGA", "grey.tga"), format::tga, second::magick,
         -1, 0, {}, L::grey},
        {"grey_rle.tga", magick_made(with(plain, {"-colorspace", "Gray", "-compress", "RLE"}), "TGA", "grey_rle.tga"),
         format::tga},
        // 32 x 32 and 16 x 16, 32-bit bitmaps with alpha: the largest, and each by number.
        {"sizes.ico", magick_made(with(alpha, {"-define", "icon:auto-resize=32,16"}), "ICO", "sizes.ico"), format::ico},
        {"sizes.ico", read_file(dir / "sizes.ico"), format::ico, second::magick, 1, 1},
        // 256 x 256, which ImageMagick writes as a PNG, and a bitmap of 16 x 16.
        {"png.ico", magick_made(with(plain, {"-scale", "256x256!", "-define", "icon:auto-resize=256,16"}), "ICO", "png.ico"),
         format::ico},
        {"png.ico", read_file(dir / "png.ico"), format::ico, second::magick, 1, 1},
        {"cursor.cur", magick_made(alpha, "CUR", "cursor.cur"), format::ico},
        {"two_colours.pcx", magick_made(with(plain, {"-colors", "2", "-type", "Palette"}), "PCX", "two_colours.pcx"),
         format::pcx},
        {"pal8.pcx", magick_made(palette_of("40"), "PCX", "pal8.pcx"), format::pcx},
        {"rgb24.pcx", magick_made(with(plain, {"-type", "TrueColor"}), "PCX", "rgb24.pcx"), format::pcx},
        {"rgba.pcx", magick_made(alpha, "PCX", "rgba.pcx"), format::pcx, second::magick, -1, 0, {}, L::rgba},
        {"plain.pbm", magick_made(with(plain, {"-monochrome", "-compress", "none"}), "PBM", "plain.pbm"), format::pgm,
         second::magick, -1, 0, {}, L::grey},
        {"binary.pbm", magick_made(with(plain, {"-monochrome"}), "PBM", "binary.pbm"), format::pgm},
        {"plain.pgm", magick_made(with(plain, {"-colorspace", "Gray", "-compress", "none"}), "PGM", "plain.pgm"),
         format::pgm},
        {"plain.ppm", magick_made(with(plain, {"-compress", "none"}), "PPM", "plain.ppm"), format::ppm},
        {"plain16.ppm", magick_made(with(plain, {"-depth", "16", "-compress", "none"}), "PPM", "plain16.ppm"),
         format::ppm},
    };
    check(variants);
}

TEST_F(legacy_formats, HandWrittenFilesReadAsImageMagickOrPillowReadsThem)
{
    std::vector<variant> v;
    const bytes pal16 = palette(16, 4, 1), pal256 = palette(256, 4, 2);
    using L = files::layout;
    // ---- BMP
    v.push_back({"top_down_short_palette.bmp",
                 bmp_file(info_header(40, 7, -5, 8, 0, 12) + palette(12, 4, 3), bmp_rows(packed_rows(7, 5, 8, 12, 4), true)),
                 format::bmp});
    for (const int bits : {1, 4, 8})
        v.push_back({"pal" + std::to_string(bits) + "_width33.bmp",
                     bmp_file(info_header(40, 33, 3, bits, 0) + palette(1 << bits, 4, 5),
                              bmp_rows(packed_rows(33, 3, bits, 1u << bits, 6))),
                     format::bmp});
    v.push_back({"core_mono.bmp", bmp_file(core_header(11, 3, 1) + palette(2, 3, 7), bmp_rows(packed_rows(11, 3, 1, 2, 8))),
                 format::bmp});
    v.push_back({"core_pal8.bmp",
                 bmp_file(core_header(6, 4, 8) + palette(256, 3, 9), bmp_rows(packed_rows(6, 4, 8, 256, 10))),
                 format::bmp});
    // ImageMagick misplaces the palette after OS/2's 64-byte header.
    v.push_back({"os2_64.bmp", bmp_file(info_header(64, 5, 3, 4, 0, 16) + pal16, bmp_rows(packed_rows(5, 3, 4, 16, 11))),
                 format::bmp, second::pillow});
    v.push_back({"v4_rgb24.bmp", bmp_file(info_header(108, 5, 3, 24, 0), bmp_rows(packed_rows(15, 3, 8, 256, 12))),
                 format::bmp});
    v.push_back({"rgb555.bmp", bmp_file(info_header(40, 5, 3, 16, 0), bmp_rows(packed_rows(10, 3, 8, 256, 13))),
                 format::bmp});
    v.push_back({"bitfields_40.bmp",
                 bmp_file(info_header(40, 4, 3, 32, 3) + writer{}.u32(0xFF00).u32(0xFF0000).u32(0xFF000000).out,
                          bmp_rows(packed_rows(16, 3, 8, 256, 15))),
                 format::bmp});
    v.push_back({"v3_alpha.bmp",
                 bmp_file(info_header(56, 4, 3, 32, 3, 0, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}),
                          bmp_rows(packed_rows(16, 3, 8, 256, 16))),
                 format::bmp, second::magick, -1, 0, {}, L::rgba});
    // 32-bit BI_RGB: the fourth byte is alpha when any is not zero, as ImageMagick reads it.
    v.push_back({"rgb32_alpha.bmp", bmp_file(info_header(40, 4, 3, 32, 0), bmp_rows(packed_rows(16, 3, 8, 256, 17))),
                 format::bmp, second::magick, -1, 0, {}, L::rgba});
    bytes zero_fourth = bmp_rows(packed_rows(16, 3, 8, 256, 18));
    for (std::size_t i = 3; i < zero_fourth.size(); i += 4)
        zero_fourth[i] = 0;
    v.push_back({"rgb32_zero_fourth.bmp", bmp_file(info_header(40, 4, 3, 32, 0), zero_fourth), format::bmp,
                 second::magick, -1, 0, {}, L::rgb});
    // RLE8 without skips: runs, literal runs of odd length (padded), ends of line.
    const bytes rle8 = {3, 1, 0, 3, 2, 3, 4, 0, 0, 0, // row 0 (bottom): 1 1 1 2 3 4
                        0, 5, 9, 8, 7, 6, 5, 0, 1, 4, 0, 0, 0, 6, 1, 2, 3, 4, 5, 6, 0, 0, 0, 1};
    v.push_back({"rle8.bmp", bmp_file(info_header(40, 6, 3, 8, 1, 10) + palette(10, 4, 19), rle8), format::bmp});
    // RLE4: runs, literal runs of odd and even length (padded), end of
    // line, end of bitmap. (Bitmaps that skip pixels are below, by hand:
    // ImageMagick refuses them and Pillow misreads them.)
    const bytes rle4 = {5, 0x12, 0, 3, 0x34, 0x50, 0, 0,         // bottom row: 1 2 1 2 1 3 4 5
                        0, 8, 0x67, 0x89, 0xAB, 0xCD, 0, 0, 8, 0xEF, 0, 1}; // 6 to D, then E F E F ...
    v.push_back({"rle4.bmp", bmp_file(info_header(40, 8, 3, 4, 2, 16) + pal16, rle4), format::bmp});
    // ---- TGA: the four corners rows start from, 15- and 16-bit colour, colour maps, RLE across rows.
    for (const int corner : {0x00, 0x10, 0x20, 0x30})
        v.push_back({"corner" + std::to_string(corner >> 4) + ".tga",
                     tga_file(2, 24, corner, 5, 3, random_bytes(45, 256, 20)), format::tga});
    v.push_back({"rgb16_alpha_bit.tga", tga_file(2, 16, 0x21, 4, 3, random_bytes(24, 256, 21)), format::tga,
                 second::magick, -1, 0, {}, L::rgba});
    v.push_back({"rgb16.tga", tga_file(2, 16, 0x20, 4, 3, random_bytes(24, 256, 22)), format::tga, second::magick, -1, 0,
                 {}, L::rgb});
    v.push_back({"rgb15_id.tga", tga_file(2, 15, 0x00, 4, 3, random_bytes(24, 256, 23), {}, 0, 0, {'i', 'd'}),
                 format::tga});
    v.push_back({"mapped16.tga", tga_file(1, 8, 0x20, 4, 3, random_bytes(12, 5, 24), random_bytes(10, 256, 25), 16),
                 format::tga});
    bytes first3 = random_bytes(12, 5, 26);
    for (auto& i : first3)
        i = std::uint8_t(i + 3);
    v.push_back({"mapped24_from3.tga", tga_file(1, 8, 0x00, 4, 3, first3, random_bytes(15, 256, 27), 24, 3), format::tga});
    // RLE of 32-bit entries: a run that crosses from one row into the next, literal runs.
    v.push_back({"mapped32_rle.tga",
                 tga_file(9, 8, 0x28, 3, 3, {0x84, 1, 0x01, 0, 2, 0x81, 2}, random_bytes(12, 256, 28), 32),
                 format::tga, second::magick, -1, 0, {}, L::rgba});
    v.push_back({"rgb32_rle.tga",
                 tga_file(10, 32, 0x08, 3, 2, writer{}.u8(0x83).add(random_bytes(4, 256, 29)).u8(0x01).add(random_bytes(8, 256, 30)).out),
                 format::tga});
    // 16-bit grey is grey and alpha, as Pillow reads it.
    v.push_back({"grey_alpha_rle.tga", tga_file(11, 16, 0x08, 3, 2, {0x82, 100, 200, 0x02, 50, 0, 255, 255, 7, 9}),
                 format::tga, second::pillow, -1, 0, {}, L::grey_alpha});
    // ---- ICO and CUR
    const std::vector<bytes> mask4x3 = {{0x90, 0, 0, 0}, {0x00, 0, 0, 0}, {0x60, 0, 0, 0}};
    const bytes bitmap8 = icon_bitmap(4, 3, 8, palette(256, 4, 31), packed_rows(4, 3, 8, 256, 32), mask4x3);
    const bytes png5 = rgba_png(5, 5, 33);
    const bytes two = icon_file({{4, 3, 8, bitmap8}, {5, 5, 32, png5}});
    v.push_back({"two.ico", two, format::ico, second::magick, 0, 0});
    v.push_back({"two.ico", two, format::ico, second::magick, 1, 1});
    v.push_back({"two.ico", two, format::ico, second::magick, -1, 1}); // the PNG has more pixels
    for (const int bits : {1, 4, 24})
        v.push_back({"bits" + std::to_string(bits) + ".ico",
                     icon_file({{4, 3, bits,
                                 icon_bitmap(4, 3, bits, bits <= 8 ? palette(1 << bits, 4, 34) : bytes{},
                                             packed_rows(bits == 24 ? 12 : 4, 3, bits == 24 ? 8 : bits,
                                                         bits == 24 ? 256 : 1u << bits, 35),
                                             mask4x3)}}),
                     format::ico});
    bytes alpha32 = bmp_rows(packed_rows(16, 3, 8, 256, 36));
    v.push_back({"alpha32.ico", icon_file({{4, 3, 32, info_header(40, 4, 6, 32, 0) + alpha32 + bmp_rows(mask4x3)}}),
                 format::ico});
    // Of two images of one size, the deeper: here the 8-bit after a 4-bit one.
    const bytes bitmap4 = icon_bitmap(4, 3, 4, palette(16, 4, 37), packed_rows(4, 3, 4, 16, 38), mask4x3);
    v.push_back({"deeper.ico", icon_file({{4, 3, 4, bitmap4}, {4, 3, 8, bitmap8}}), format::ico, second::magick, -1, 1});
    v.push_back({"cursor.cur", icon_file({{4, 3, 8, bitmap8}}, 2), format::ico});
    // A directory saying 256 x 256 (0) of an image whose header says 4 x 3:
    // the header is trusted, as Pillow does (ImageMagick takes the directory's).
    v.push_back({"listed_256.ico", icon_file({{0, 0, 8, bitmap8}}), format::ico, second::pillow});
    // ---- PCX: planes of bits (EGA and fewer), 2 and 4 bits, odd padding, runs across rows, uncompressed.
    const bytes colours16 = random_bytes(48, 256, 40);
    for (const int planes : {2, 3, 4})
        v.push_back({"planes" + std::to_string(planes) + ".pcx",
                     pcx_file(1, planes, 9, 3, 3, pcx_planes(3, planes, 3, 256, 41), colours16), format::pcx});
    v.push_back({"cga2.pcx", pcx_file(2, 1, 7, 3, 2, pcx_planes(3, 1, 2, 256, 42), colours16, 3), format::pcx});
    v.push_back({"nibbles_odd_line.pcx", pcx_file(4, 1, 5, 3, 3, pcx_planes(3, 1, 3, 256, 43), colours16), format::pcx});
    v.push_back({"rgb24_odd_line.pcx", pcx_file(8, 3, 4, 3, 5, pcx_planes(3, 3, 5, 256, 44), colours16), format::pcx});
    v.push_back({"rgba32.pcx", pcx_file(8, 4, 4, 3, 4, pcx_planes(3, 4, 4, 256, 45), colours16), format::pcx});
    bytes tail = {0x0C};
    tail = tail + random_bytes(768, 256, 46);
    v.push_back({"pal8_raw.pcx", pcx_file(8, 1, 5, 3, 6, pcx_planes(3, 1, 6, 256, 47), {}, 5, 0, tail), format::pcx});
    // A run of five that carries from the first row (of 4 bytes) into the second.
    v.push_back({"run_across_rows.pcx",
                 pcx_file(8, 1, 3, 2, 4, {}, {}) + bytes{0xC5, 7, 1, 2, 3, 0x0C} + random_bytes(768, 256, 48), format::pcx});
    // ImageMagick inverts one-bit PCX (1 black): Pillow reads it as ZSoft's own programs do.
    v.push_back({"mono.pcx", pcx_file(1, 1, 12, 3, 2, pcx_planes(3, 1, 2, 256, 49), colours16), format::pcx,
                 second::pillow, -1, 0, {}, L::grey});
    // ---- Plain PNM: comments, digits without spaces, a maximum of 1000.
    const std::string pbm = "P1\n# a comment\n5 3\n10110\n0 1 0 0 1 # and one here\n11100\n";
    v.push_back({"digits.pbm", bytes(pbm.begin(), pbm.end()), format::pgm});
    // (A maximum whose values scale exactly: ImageMagick 6 rounds others down.)
    const std::string pgm = "P2 4 2 15\n0 15 7 14\n# mid\n1 2 3 11\n";
    v.push_back({"max15.pgm", bytes(pgm.begin(), pgm.end()), format::pgm});
    check(v);
}

// Where the library chose otherwise than ImageMagick and Pillow, or they
// cannot read the file: the pixels written here by hand.
TEST(LegacyFormats, ChoicesOfTheirOwnReadAsWrittenHere)
{
    const pixel8888 black = files::rgba(0, 0, 0, 0xFF), white = files::rgba(255, 255, 255, 0xFF);
    const pixel8888 red = files::rgba(255, 0, 0, 0xFF), green = files::rgba(0, 255, 0, 0xFF);
    const bytes bgrx_red_green = {0, 0, 255, 0, 0, 255, 0, 0};
    const bytes four_colours = {0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0, 9, 8, 7, 0};
    const pixel8888 c[4] = {red, green, files::rgba(0, 0, 255, 0xFF), files::rgba(7, 8, 9, 0xFF)};
    const pixel8888 clear = files::rgba(0, 0, 0, 0);
    struct hand_case {
        const char* name;
        bytes data;
        int width, height;
        std::vector<pixel8888> pixels;
        files::layout kind;
    };
    const std::vector<std::vector<bytes>> pcx_grey_rows = {{{0, 128, 255, 0}}};
    const hand_case cases[] = {
        // Indices 2 and 3 past a palette of 2: opaque black (ImageMagick warns and takes entry 0).
        {"index past a BMP palette", bmp_file(info_header(40, 4, 1, 8, 0, 2) + bgrx_red_green, {0, 1, 2, 3}), 4, 1,
         {red, green, black, black}, files::layout::rgb},
        {"index past a TGA colour map", tga_file(1, 8, 0x20, 3, 1, {1, 2, 0}, {0, 0, 255, 0, 255, 0}, 24, 1), 3, 1,
         {red, green, black}, files::layout::rgb},
        // RLE that leaves pixels unwritten: those are clear, as browsers
        // show them (ImageMagick refuses such bitmaps, Pillow misreads them).
        // RLE4, bottom row 1 2 1 and its end; a delta 2 right, 3 0 and the
        // row's end; the end of the bitmap, the top row unwritten.
        {"RLE4 that skips pixels",
         bmp_file(info_header(40, 4, 3, 4, 2, 4) + four_colours, {3, 0x12, 0, 0, 0, 2, 2, 0, 2, 0x30, 0, 0, 0, 1}), 4, 3,
         {clear, clear, clear, clear, clear, clear, c[3], c[0], c[1], c[2], c[1], clear}, files::layout::rgba},
        // RLE8, bottom row 1 1; a delta 1 right and 1 up; 3; the end of the bitmap.
        {"RLE8 that skips pixels", bmp_file(info_header(40, 4, 2, 8, 1, 4) + four_colours, {2, 1, 0, 2, 1, 1, 1, 3, 0, 1}),
         4, 2, {clear, clear, clear, c[3], c[1], c[1], clear, clear}, files::layout::rgba},
        // 2 bits a pixel, which neither reads.
        {"two-bit BMP", bmp_file(info_header(40, 4, 1, 2, 0, 4) + bgrx_red_green + bytes{255, 0, 0, 0, 9, 9, 9, 0}, {0x1B, 0, 0, 0}),
         4, 1, {red, green, files::rgba(0, 0, 255, 0xFF), files::rgba(9, 9, 9, 0xFF)}, files::layout::rgb},
        // BI_ALPHABITFIELDS, which neither reads: masks after a 40-byte header.
        {"BI_ALPHABITFIELDS", bmp_file(info_header(40, 2, 1, 32, 6) + writer{}.u32(0xFF).u32(0xFF00).u32(0xFF0000).u32(0xFF000000).out,
                                       {10, 20, 30, 40, 50, 60, 70, 0}),
         2, 1, {files::rgba(10, 20, 30, 40), files::rgba(50, 60, 70, 0)}, files::layout::rgba},
        // 16-bit masks of 4 bits and of 1 (alpha): the bits repeated, as
        // browsers read them (ImageMagick takes 4 bits v as v << 4, and
        // alpha 1 as 128; Pillow reads neither).
        {"ARGB4444", bmp_file(info_header(56, 2, 1, 16, 3, 0, {0xF00, 0xF0, 0xF, 0xF000}), {0x12, 0x83, 0xFF, 0x0F}), 2, 1,
         {files::rgba(0x33, 0x11, 0x22, 0x88), files::rgba(0xFF, 0xFF, 0xFF, 0)}, files::layout::rgba},
        {"ARGB1555", bmp_file(info_header(56, 2, 1, 16, 3, 0, {0x7C00, 0x3E0, 0x1F, 0x8000}), {0x1F, 0x80, 0xE0, 0x7F}), 2, 1,
         {files::rgba(0, 0, 0xFF, 0xFF), files::rgba(0xFF, 0xFF, 0, 0)}, files::layout::rgba},
        // Masks in a 52-byte header, which Pillow does not read and
        // ImageMagick reads an alpha mask past.
        {"BI_BITFIELDS 565 in a 52-byte header",
         bmp_file(info_header(52, 2, 1, 16, 3, 0, {0xF800, 0x7E0, 0x1F, 0}), {0xFF, 0xF8, 0x1F, 0x00}), 2, 1,
         {files::rgba(0xFF, 0x1C, 0xFF, 0xFF), files::rgba(0, 0, 0xFF, 0xFF)}, files::layout::rgb},
        // 8 bits without the 256 colours at the end: grey (ImageMagick refuses it).
        {"PCX of 8 bits without a palette", pcx_file(8, 1, 3, 1, 4, pcx_grey_rows, {}), 3, 1,
         {black, files::rgba(128, 128, 128, 0xFF), white}, files::layout::grey},
        // A 32-bit icon whose alpha is all zero: its mask decides, as browsers
        // show such icons (ImageMagick and Pillow make it all clear).
        {"32-bit icon without alpha", icon_file({{2, 1, 32, info_header(40, 2, 2, 32, 0) + bytes{0, 0, 255, 0, 0, 255, 0, 0} + bytes{0x40, 0, 0, 0}}}),
         2, 1, {red, files::rgba(0, 0, 0, 0)}, files::layout::rgba},
        // The same without a mask at all: opaque.
        {"32-bit icon without alpha or mask", icon_file({{2, 1, 32, info_header(40, 2, 2, 32, 0) + bytes{0, 0, 255, 0, 0, 255, 0, 0}}}),
         2, 1, {red, green}, files::layout::rgb},
        // Plain and binary bitmaps: 1 black.
        {"P4 bitmap", {'P', '4', ' ', '9', ' ', '1', '\n', 0x80, 0x80}, 9, 1,
         {black, white, white, white, white, white, white, white, black}, files::layout::grey},
    };
    for (const hand_case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            const files::image img = files::decode(c.data, {});
            EXPECT_EQ(img.width, c.width);
            EXPECT_EQ(img.height, c.height);
            EXPECT_EQ(int(img.kind), int(c.kind));
            ASSERT_EQ(img.pixels.size(), c.pixels.size());
            for (std::size_t i = 0; i < c.pixels.size(); ++i)
                EXPECT_EQ(img.pixels[i], c.pixels[i]) << "pixel " << i;
        } catch (const files::failure& e) {
            ADD_FAILURE() << "refused: " << e.what();
        }
    }
}

// Hostile files: each refused in words that say why, never read past.
TEST(LegacyFormats, HostileFilesRefusedInWords)
{
    const bytes pal2 = {0, 0, 255, 0, 0, 255, 0, 0};
    const auto rle8 = [&](const bytes& data) { return bmp_file(info_header(40, 4, 2, 8, 1, 2) + pal2, data); };
    const bytes bitmap8 = icon_bitmap(4, 3, 8, palette(256, 4, 1), packed_rows(4, 3, 8, 256, 2),
                                      {{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}});
    bytes icon_mask_cut = icon_file({{4, 3, 8, bitmap8}});
    icon_mask_cut.resize(icon_mask_cut.size() - 5);
    bytes icon_past = icon_file({{4, 3, 8, bitmap8}});
    icon_past[21] = 0x7F; // the image's offset, past the end
    const auto pcx8 = [](int width, int line, const bytes& body) {
        return pcx_file(8, 1, width, 2, line, {}, {}) + body;
    };
    bytes no_width = pcx_file(8, 1, 1, 1, 1, {}, {}) + bytes{0};
    no_width[4] = 5; // the left edge past the right
    struct hostile {
        const char* name;
        bytes data;
        const char* words;
        lq2x::error status = lq2x::error::bad_file;
    };
    const hostile cases[] = {
        {"BMP header cut short", {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0}, "truncated BMP header"},
        {"BMP header of 20 bytes", bmp_file(info_header(20, 1, 1, 24, 0), {0, 0, 0, 0}), "BMP header of 20 bytes"},
        {"BMP pixel offset past the end",
         writer{}.u8('B').u8('M').u32(0).u32(0).u32(9999).add(info_header(40, 1, 1, 24, 0)).out, "past the end of the file"},
        {"BMP pixel offset inside the header", writer{}.u8('B').u8('M').u32(0).u32(0).u32(20).add(info_header(40, 1, 1, 24, 0)).u32(0).out,
         "lies inside its header"},
        {"BMP of no width", bmp_file(info_header(40, 0, 1, 24, 0), {}), "image has no pixels"},
        {"BMP far too large", bmp_file(info_header(40, 1 << 20, 1 << 20, 24, 0), {}), "image too large",
         lq2x::error::too_large},
        {"BMP rows cut short", bmp_file(info_header(40, 4, 3, 24, 0), bytes(20)), "truncated BMP: 3 rows of 12 bytes"},
        {"BMP of 7 bits", bmp_file(info_header(40, 1, 1, 7, 0), bytes(4)), "7 bits a pixel"},
        {"BMP holding a JPEG", bmp_file(info_header(40, 1, 1, 24, 4), bytes(4)), "BMP holding JPEG"},
        {"BMP masks not contiguous", bmp_file(info_header(52, 1, 1, 16, 3, 0, {0x7C01, 0x3E0, 0x1E, 0}), bytes(4)),
         "not contiguous"},
        {"BMP mask past 16 bits", bmp_file(info_header(52, 1, 1, 16, 3, 0, {0x1F0000, 0x3E0, 0x1F, 0}), bytes(4)),
         "reaches past the pixel's 16 bits"},
        {"RLE8 run past the row", rle8({5, 1, 0, 1}), "an RLE run past the end of row"},
        {"RLE8 literal past the row", rle8({0, 5, 1, 1, 1, 1, 1, 0}), "an RLE run past the end of row"},
        {"RLE8 delta past the picture", rle8({0, 2, 1, 7, 0, 1}), "an RLE delta moves past the picture"},
        {"RLE8 run past the top", rle8({4, 1, 0, 0, 4, 1, 0, 0, 4, 1}), "past the top of the picture"},
        {"RLE8 data cut short", rle8({4, 1, 0}), "truncated BMP: its RLE data ends"},
        {"RLE8 stored top-down", bmp_file(info_header(40, 4, -2, 8, 1, 2) + pal2, {0, 1}), "RLE bitmap stored top-down"},
        {"TGA pixels cut short", tga_file(2, 24, 0, 4, 4, bytes(40)), "truncated TGA: 66 bytes expected"},
        {"TGA of 7 bits", tga_file(2, 7, 0, 1, 1, bytes(4)), "TGA of image type 2 and 7 bits"},
        {"TGA RLE packet past the picture", tga_file(10, 24, 0, 2, 1, {0x82, 1, 2, 3}), "an RLE packet of 3 pixels past the end"},
        {"TGA RLE data cut short", tga_file(10, 24, 0, 4, 1, {0x81, 1, 2, 3}), "truncated TGA: its RLE data ends at pixel 2"},
        {"TGA RLE literal cut short", tga_file(10, 24, 0, 4, 1, {0x03, 1, 2, 3}), "its RLE data ends inside a packet"},
        {"TGA colour map cut short", tga_file(1, 8, 0, 1, 1, {}, bytes(30), 24), "truncated TGA"},
        {"ICO of too many images", writer{}.u16(0).u16(1).u16(5000).add(bytes(64)).out, "too many icon images"},
        {"ICO image past the end", icon_past, "icon image 0 lies past the end of the file"},
        {"ICO mask cut short", icon_mask_cut, "icon image 0: truncated icon: its transparency mask ends past the file"},
        {"ICO bitmap of 7 bits", icon_file({{1, 1, 8, info_header(40, 1, 2, 7, 0) + bytes(8)}}),
         "icon image 0: BMP of 7 bits a pixel"},
        {"ICO bitmap's palette past the end", icon_file({{1, 1, 8, info_header(40, 1, 2, 8, 0, 200) + bytes(40)}}),
         "its palette of 200 colours ends past the file"},
        {"PCX header cut short", {0x0A, 5, 1, 8, 0, 0}, "truncated PCX header"},
        {"PCX RLE data cut short", pcx8(4, 4, {0xC3, 1}), "truncated PCX: its RLE data ends at row 0"},
        {"PCX RLE run past the picture", pcx8(4, 4, {0xC7, 1, 0xC2, 2}), "an RLE run past the end of the picture"},
        {"PCX rows shorter than the width", pcx8(9, 4, {}), "PCX rows of 4 bytes a plane, fewer than 9 pixels"},
        {"PCX of 2 planes of 8 bits", pcx_file(8, 2, 1, 1, 1, {}, {}) + bytes{0, 0}, "2 planes of 8 bits, which is not read"},
        {"PCX of no width", no_width, "image has no pixels"},
        {"plain PBM cut short", {'P', '1', ' ', '3', ' ', '3', '\n', '1', '0', '1'}, "truncated"},
        {"plain PGM of a word", {'P', '2', ' ', '2', ' ', '1', ' ', '9', ' ', '1', ' ', 'x', '\n'}, "not a number"},
        {"P4 bitmap cut short", {'P', '4', ' ', '9', ' ', '2', '\n', 0, 0, 0}, "truncated: 4 bytes of pixels"},
        {"Garbage", {'h', 'e', 'l', 'l', 'o', ' ', 't', 'h', 'e', 'r', 'e', ',', ' ', 'n', 'o', 't', ' ', 'a', 'n', ' '},
         "not a PNG, GIF, WebP, PBM, PGM, PPM, PAM, BMP, TGA, ICO, CUR or PCX image"},
    };
    for (const hostile& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            files::decode(c.data, {});
            ADD_FAILURE() << "read";
        } catch (const files::failure& e) {
            EXPECT_NE(std::string(e.what()).find(c.words), std::string::npos) << e.what();
            EXPECT_EQ(int(e.status), int(c.status)) << e.what();
        }
    }
    // An icon image the directory does not have, by number.
    files::decode_options opt;
    opt.icon_image = 2;
    try {
        files::decode(icon_file({{4, 3, 8, bitmap8}, {4, 3, 8, bitmap8}}), opt);
        ADD_FAILURE() << "read image 2 of 2";
    } catch (const files::failure& e) {
        EXPECT_STREQ(e.what(), "{frame}: no image 2, the icon has 2 images (0 to 1)"); // named by each door
        EXPECT_EQ(int(e.status), int(lq2x::error::bad_options));
    }
}

// Two GIFs joined end to end, the first without its trailer: the first's
// frames, as browsers show them, and a warning of what was dropped. Other
// bytes in a block's place are still refused.
TEST_F(legacy_formats, GifJoinedToAnotherKeepsTheFirstsFrames)
{
    ASSERT_EQ(run(IMAGEMAGICK, {"-delay", "10", "-size", "4x3", "xc:red", "xc:lime", "xc:blue", "anim.gif"}).status, 0);
    ASSERT_EQ(run(IMAGEMAGICK, {"-size", "5x5", "xc:yellow", "still.gif"}).status, 0);
    const bytes whole = read_file(dir / "anim.gif");
    ASSERT_EQ(whole.back(), 0x3B); // the trailer
    const bytes first(whole.begin(), whole.end() - 1);
    const files::animation alone = files::decode_animation(whole, {});
    const files::animation joined = files::decode_animation(first + read_file(dir / "still.gif"), {});
    ASSERT_EQ(joined.frames.size(), 3u);
    ASSERT_EQ(alone.frames.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(joined.frames[i].picture.pixels, alone.frames[i].picture.pixels) << "frame " << i;
    EXPECT_TRUE(joined.animated);
    EXPECT_EQ(joined.warning, "a second GIF starts at byte " + std::to_string(first.size()) + ", after frame 2: its " +
                                  std::to_string(read_file(dir / "still.gif").size()) + " bytes dropped, as browsers drop them");
    EXPECT_EQ(alone.warning, "");
    try {
        files::decode_animation(first + bytes{'G', 'I', 'F', '9', '0', 'a'}, {});
        ADD_FAILURE() << "read a block of unknown kind";
    } catch (const files::failure& e) {
        EXPECT_STREQ(e.what(), "corrupt GIF: a block of unknown kind");
    }
}

#ifdef TOOL_PATH
// The tool end to end: a sprite in each format scaled to PNG, as the rule
// scales the picture ImageMagick reads from it; to standard output (the
// input's own format, read only) as PNG; and an output name of a format
// read only refused in words that name the formats written.
TEST_F(legacy_formats, ToolScalesEachToPng)
{
    ASSERT_EQ(run(IMAGEMAGICK, {"-seed", "3", "-size", "9x6", "plasma:", "-alpha", "set", "-channel", "A", "-fx",
                                "(i*j)%4==0?0:1", "+channel", "sprite.png"})
                  .status,
              0);
    struct sprite {
        const char* name;
        std::vector<std::string> args;
    };
    const sprite sprites[] = {{"sprite.bmp", {"sprite.png", "BMP:sprite.bmp"}},
                              {"sprite.tga", {"sprite.png", "-compress", "RLE", "TGA:sprite.tga"}},
                              {"sprite.ico", {"sprite.png", "ICO:sprite.ico"}},
                              {"sprite.pcx", {"sprite.png", "-alpha", "off", "-colors", "20", "PCX:sprite.pcx"}}};
    for (const sprite& s : sprites) {
        SCOPED_TRACE(s.name);
        ASSERT_EQ(run(IMAGEMAGICK, s.args).status, 0);
        const decoded theirs = second_decoder({s.name, read_file(dir / s.name), format::same});
        files::image picture{theirs.width, theirs.height, files::layout::rgba,
                             std::vector<pixel8888>(std::size_t(theirs.width) * std::size_t(theirs.height))};
        std::memcpy(picture.bytes(), theirs.pixels.data(), std::min(theirs.pixels.size(), picture.pixels.size() * 4));
        const outcome o = run(TOOL_PATH, {s.name, "out.png"});
        ASSERT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(as_ref(files::decode_png(read_file(dir / "out.png"), {})), scaled(picture));
        const outcome piped = run(TOOL_PATH, {s.name, "-"});
        ASSERT_EQ(piped.status, 0) << piped.err;
        EXPECT_TRUE(files::has_png_signature(bytes(piped.out.begin(), piped.out.end())));
    }
    const outcome refused = run(TOOL_PATH, {"sprite.bmp", "out.bmp"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("cannot tell the output format from 'out.bmp' (name it .png"), std::string::npos)
        << refused.err;
}
#endif

} // namespace
