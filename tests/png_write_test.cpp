// The PNG writer: every colour type and depth it may choose reads back to
// exactly the pixels it was given, through a small PNG reader written here
// on zlib alone (not the tool's libpng reader) and through the tool's reader
// as well; the choice itself is checked at each boundary. And the joining of
// separately compressed bands, checked by inflating with zlib.
#include <gtest/gtest.h>

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "dispatch.h"
#include "formats.h"
#include "deflate_bands.h"

namespace files = lq2x::files;

namespace {

using bytes = std::vector<std::uint8_t>;

struct rgba {
    std::uint8_t r, g, b, a;
    friend bool operator==(const rgba&, const rgba&) = default;
};

struct decoded {
    int colour_type = -1, depth = 0, width = 0, height = 0;
    std::vector<rgba> pixels;
};

unsigned be16(const std::uint8_t* p) { return unsigned(p[0]) << 8 | p[1]; }

std::uint32_t be32(const std::uint8_t* p) { return std::uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

// A plain PNG reader for 8-bit-or-less, non-interlaced files: chunks and
// their CRCs, the IDAT stream inflated whole, all five row filters undone,
// samples unpacked and widened by bit replication. Fails the test on
// anything it does not understand.
decoded read_png(const bytes& file)
{
    decoded d;
    const std::uint8_t SIGNATURE[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    EXPECT_TRUE(file.size() > 8 && std::equal(SIGNATURE, SIGNATURE + 8, file.begin()));
    bytes stream, palette, trns;
    bool ended = false;
    for (std::size_t at = 8; at + 12 <= file.size() && !ended;) {
        const std::uint32_t length = be32(&file[at]);
        if (at + 12 + length > file.size()) {
            ADD_FAILURE() << "chunk runs past the end";
            return {};
        }
        const std::string type(file.begin() + std::ptrdiff_t(at + 4), file.begin() + std::ptrdiff_t(at + 8));
        const std::uint8_t* data = &file[at + 8];
        EXPECT_EQ(crc32(0, &file[at + 4], 4 + length), be32(data + length)) << type;
        if (type == "IHDR") {
            d.width = int(be32(data));
            d.height = int(be32(data + 4));
            d.depth = data[8];
            d.colour_type = data[9];
            EXPECT_EQ(data[12], 0) << "interlaced";
        } else if (type == "PLTE") {
            palette.assign(data, data + length);
        } else if (type == "tRNS") {
            trns.assign(data, data + length);
        } else if (type == "IDAT") {
            stream.insert(stream.end(), data, data + length);
        } else if (type == "IEND") {
            ended = true;
        }
        at += 12 + length;
    }
    EXPECT_TRUE(ended);
    const int channels[] = {1, 0, 3, 1, 2, 0, 4};
    const int per_pixel = channels[d.colour_type];
    const std::size_t bits = std::size_t(per_pixel) * d.depth;
    const std::size_t row_bytes = (std::size_t(d.width) * bits + 7) / 8;
    bytes raw((row_bytes + 1) * std::size_t(d.height));
    uLongf raw_size = uLongf(raw.size());
    if (uncompress(raw.data(), &raw_size, stream.data(), uLong(stream.size())) != Z_OK || raw_size != raw.size()) {
        ADD_FAILURE() << "IDAT does not inflate to the image's rows";
        return {};
    }
    const std::size_t step = std::max<std::size_t>(1, bits / 8);
    bytes prior(row_bytes), row(row_bytes);
    for (int y = 0; y < d.height; ++y) {
        const std::uint8_t* in = &raw[std::size_t(y) * (row_bytes + 1)];
        for (std::size_t x = 0; x < row_bytes; ++x) {
            const int a = x >= step ? row[x - step] : 0, b = prior[x], c = x >= step ? prior[x - step] : 0;
            const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
            const int predictors[] = {0, a, b, (a + b) / 2, pa <= pb && pa <= pc ? a : pb <= pc ? b : c};
            row[x] = std::uint8_t(in[1 + x] + predictors[in[0]]);
        }
        for (int x = 0; x < d.width; ++x) {
            const auto sample = [&](int i) -> unsigned {
                const std::size_t bit = (std::size_t(x) * per_pixel + i) * d.depth;
                return (row[bit / 8] >> (8 - d.depth - bit % 8)) & ((1u << d.depth) - 1);
            };
            const auto widen = [&](unsigned v) { return std::uint8_t(v * 255 / ((1u << d.depth) - 1)); };
            rgba p{};
            if (d.colour_type == 3) {
                const unsigned i = sample(0);
                EXPECT_LT(3 * i + 2, palette.size());
                p = {palette[3 * i], palette[3 * i + 1], palette[3 * i + 2], i < trns.size() ? trns[i] : std::uint8_t(255)};
            } else if (d.colour_type == 0 || d.colour_type == 4) {
                const std::uint8_t g = widen(sample(0));
                p = {g, g, g, d.colour_type == 4 ? widen(sample(1)) : std::uint8_t(255)};
                if (d.colour_type == 0 && trns.size() == 2 && sample(0) == be16(&trns[0]))
                    p.a = 0;
            } else {
                p = {widen(sample(0)), widen(sample(1)), widen(sample(2)),
                     d.colour_type == 6 ? widen(sample(3)) : std::uint8_t(255)};
                if (d.colour_type == 2 && trns.size() == 6 && sample(0) == be16(&trns[0]) &&
                    sample(1) == be16(&trns[2]) && sample(2) == be16(&trns[4]))
                    p.a = 0;
            }
            d.pixels.push_back(p);
        }
        prior = row;
    }
    return d;
}

files::image make_image(int w, int h, const std::vector<rgba>& pixels, files::layout kind = files::layout::rgba)
{
    files::image img{w, h, kind, std::vector<lq2x::pixel8888>(pixels.size())};
    std::memcpy(img.bytes(), pixels.data(), 4 * pixels.size());
    return img;
}

// `count` distinct colours, spread over the image in a shuffled order.
std::vector<rgba> with_colours(int w, int h, const std::vector<rgba>& colours, std::mt19937& rng)
{
    std::vector<rgba> pixels(std::size_t(w) * h);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = colours[i < colours.size() ? i : rng() % colours.size()];
    std::shuffle(pixels.begin(), pixels.end(), rng);
    return pixels;
}

std::vector<rgba> distinct_colours(int count, std::uint8_t alpha = 255)
{
    std::vector<rgba> c;
    for (int i = 0; i < count; ++i)
        c.push_back({std::uint8_t(i * 37), std::uint8_t(i * 11 + 3), std::uint8_t(i / 7), alpha});
    return c;
}

std::vector<rgba> as_rgba(const files::image& img)
{
    std::vector<rgba> out(img.pixels.size());
    std::memcpy(out.data(), img.bytes(), 4 * out.size());
    return out;
}

struct expectation {
    const char* name;
    int w, h;
    std::vector<rgba> pixels;
    int colour_type, depth;
    files::layout kind = files::layout::rgba;
};

void check(const expectation& e, int threads = 1)
{
    SCOPED_TRACE(e.name);
    const files::image img = make_image(e.w, e.h, e.pixels, e.kind);
    const bytes file = files::encode_png(img, 5, threads);
    const decoded d = read_png(file);
    EXPECT_EQ(d.colour_type, e.colour_type);
    EXPECT_EQ(d.depth, e.depth);
    ASSERT_EQ(d.width, e.w);
    ASSERT_EQ(d.height, e.h);
    ASSERT_EQ(d.pixels.size(), e.pixels.size());
    std::vector<rgba> want = e.pixels;
    if (!files::has_alpha(e.kind))
        for (rgba& p : want)
            p.a = 255;
    for (std::size_t i = 0; i < want.size(); ++i)
        ASSERT_EQ(d.pixels[i], want[i]) << "pixel " << i;
    // The tool's own reader agrees.
    EXPECT_EQ(as_rgba(files::decode(file, {})), want);
}

TEST(PngWrite, PaletteUpTo256ColoursThenNone)
{
    std::mt19937 rng(1);
    check({"256 colours", 40, 30, with_colours(40, 30, distinct_colours(256), rng), 3, 8});
    check({"257 colours", 40, 30, with_colours(40, 30, distinct_colours(257), rng), 2, 8});
    std::vector<rgba> translucent = distinct_colours(257);
    translucent[5].a = 7;
    check({"257 colours, one translucent", 40, 30, with_colours(40, 30, translucent, rng), 6, 8});
    translucent.pop_back();
    check({"256 colours, one translucent", 40, 30, with_colours(40, 30, translucent, rng), 3, 8});
}

TEST(PngWrite, PaletteDepthsAtTheirBoundaries)
{
    std::mt19937 rng(2);
    const std::pair<int, int> counts[] = {{1, 1}, {2, 1}, {3, 2}, {4, 2}, {5, 4}, {16, 4}, {17, 8}};
    for (const auto& [count, depth] : counts)
        for (const int w : {1, 7, 13, 64}) {
            std::vector<rgba> colours = distinct_colours(count);
            colours[0] = {1, 2, 3, 0}; // a clear colour, so the palette wins over RGB with a key
            colours.back().a = count > 1 ? 100 : 0;
            const std::string name = std::to_string(count) + " colours, width " + std::to_string(w);
            check({name.c_str(), w, 20, with_colours(w, 20, colours, rng), 3, depth});
        }
}

TEST(PngWrite, GreyAtEachDepthAndOneColouredPixel)
{
    std::mt19937 rng(3);
    const auto greys = [](std::initializer_list<int> levels) {
        std::vector<rgba> c;
        for (const int v : levels)
            c.push_back({std::uint8_t(v), std::uint8_t(v), std::uint8_t(v), 255});
        return c;
    };
    check({"grey 1-bit", 13, 9, with_colours(13, 9, greys({0, 255}), rng), 0, 1});
    check({"grey 2-bit", 13, 9, with_colours(13, 9, greys({0, 85, 170, 255}), rng), 0, 2});
    check({"grey 4-bit", 13, 9, with_colours(13, 9, greys({0, 17, 34, 119, 255}), rng), 0, 4});
    std::vector<int> all(256);
    for (int i = 0; i < 256; ++i)
        all[std::size_t(i)] = i;
    std::vector<rgba> every_grey;
    for (const int v : all)
        every_grey.push_back({std::uint8_t(v), std::uint8_t(v), std::uint8_t(v), 255});
    check({"grey 8-bit, all 256 levels", 32, 32, with_colours(32, 32, every_grey, rng), 0, 8});
    // One pixel not grey: 257 colours, so neither grey nor a palette.
    std::vector<rgba> pixels = with_colours(32, 32, every_grey, rng);
    pixels[500] = {10, 11, 10, 255};
    check({"grey with one coloured pixel", 32, 32, pixels, 2, 8});
    // Grey levels that need 3 bits would need 4, and 5 colours are a 4-bit palette too: grey wins the tie.
    check({"grey 4-bit over a 4-bit palette", 5, 5, with_colours(5, 5, greys({0, 51, 102, 204, 255}), rng), 0, 4});
}

TEST(PngWrite, AlphaOnlyWhereNeeded)
{
    std::mt19937 rng(4);
    const auto many = [&](int w, int h) {
        std::vector<rgba> p(std::size_t(w) * h);
        for (auto& c : p)
            c = {std::uint8_t(rng()), std::uint8_t(rng()), std::uint8_t(rng()), 255};
        return p;
    };
    check({"opaque, many colours", 30, 20, many(30, 20), 2, 8});
    std::vector<rgba> p = many(30, 20);
    p[77] = {0, 0, 0, 0};
    p[400] = {0, 0, 0, 0};
    check({"clear pixels of one unused colour: a key", 30, 20, p, 2, 8});
    p[9] = {0, 0, 0, 255};
    check({"the clear colour also opaque: alpha", 30, 20, p, 6, 8});
    p = many(30, 20);
    p[123].a = 254;
    check({"one pixel not opaque", 30, 20, p, 6, 8});
    p = many(30, 20);
    p[3] = {1, 2, 3, 0};
    p[4] = {3, 2, 1, 0};
    check({"two clear colours: alpha", 30, 20, p, 6, 8});

    std::vector<rgba> grey(300);
    for (std::size_t i = 0; i < grey.size(); ++i) {
        const auto v = std::uint8_t((i % 14 + 1) * 17); // 14 levels, none black
        grey[i] = {v, v, v, 255};
    }
    grey[10] = {0, 0, 0, 0};
    grey[20] = {0, 0, 0, 0};
    check({"grey 4-bit with a key (a 4-bit palette ties)", 30, 10, grey, 0, 4});
    grey[25] = {0, 0, 0, 255};
    check({"grey, key taken: 16 colours, a palette", 30, 10, grey, 3, 4});
    for (std::size_t i = 0; i < grey.size(); ++i)
        grey[i] = {std::uint8_t(i), std::uint8_t(i), std::uint8_t(i), std::uint8_t(i * 7 + i / 256)};
    check({"grey with alpha", 30, 10, grey, 4, 8});
}

TEST(PngWrite, LayoutWithoutAlphaIsWrittenOpaque)
{
    std::mt19937 rng(5);
    std::vector<rgba> p = with_colours(20, 20, distinct_colours(300, 0), rng);
    check({"rgb layout, alpha bytes 0", 20, 20, p, 2, 8, files::layout::rgb});
}

TEST(PngWrite, BandsOnThreadsMakeOneStream)
{
    // Over two MiB of rows, so the rows are cut into three bands.
    std::mt19937 rng(6);
    const int w = 1024, h = 600;
    std::vector<rgba> p(std::size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const auto r = std::uint8_t(rng() % 8 == 0 ? rng() : x / 4), g = std::uint8_t(y / 3);
            p[std::size_t(y) * w + x] = {r, g, std::uint8_t(x ^ y), std::uint8_t(x % 5 == 0 ? 128 : 255)};
        }
    for (const int threads : {1, 2, 3, 8}) {
        SCOPED_TRACE(threads);
        check({"large", w, h, p, 6, 8}, threads);
    }
    for (const int level : {0, 1, 6}) {
        SCOPED_TRACE(level);
        const bytes file = files::encode_png(make_image(w, h, p), level, 2);
        EXPECT_EQ(read_png(file).pixels, p);
    }
}

} // namespace

namespace {

// Streams made joinable and put one after another inflate, with zlib, to
// their inputs one after another, whatever bit their last code ends on.
TEST(DeflateJoin, JoinedStreamsInflateToTheJoinedInputs)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        const int level = round % 13;
        libdeflate_compressor* c = libdeflate_alloc_compressor(level);
        ASSERT_NE(c, nullptr);
        bytes whole, stream = {0x78, 0x01};
        const int parts = 1 + round % 4;
        for (int part = 0; part < parts; ++part) {
            // Runs and noise in varying measure, from empty to tens of KiB.
            bytes input(rng() % (round % 5 == 0 ? 40000 : 700));
            for (auto& b : input)
                b = std::uint8_t(rng() % 3 == 0 ? rng() : rng() % 4);
            bytes piece(libdeflate_deflate_compress_bound(c, input.size()));
            piece.resize(libdeflate_deflate_compress(c, input.data(), input.size(), piece.data(), piece.size()));
            ASSERT_FALSE(piece.empty());
            if (part + 1 < parts)
                files::make_joinable(piece);
            stream.insert(stream.end(), piece.begin(), piece.end());
            whole.insert(whole.end(), input.begin(), input.end());
        }
        libdeflate_free_compressor(c);
        const uLong adler = adler32(1, whole.data(), uInt(whole.size()));
        for (int shift = 24; shift >= 0; shift -= 8)
            stream.push_back(std::uint8_t(adler >> shift));
        bytes out(whole.size() + 1);
        uLongf size = uLongf(out.size());
        ASSERT_EQ(uncompress(out.data(), &size, stream.data(), uLong(stream.size())), Z_OK) << "round " << round;
        out.resize(size);
        ASSERT_EQ(out, whole) << "round " << round;
    }
}

// Writes deflate bits, lowest first.
struct bit_writer {
    bytes out;
    int used = 0; // bits of the last byte taken
    void put(unsigned value, int n)
    {
        for (int i = 0; i < n; ++i, used = (used + 1) % 8) {
            if (used == 0)
                out.push_back(0);
            out.back() |= std::uint8_t(((value >> i) & 1u) << used);
        }
    }
    void put_code(unsigned code, int n) // Huffman codes go highest bit first
    {
        for (int i = n - 1; i >= 0; --i)
            put((code >> i) & 1u, 1);
    }
};

// Hand-made streams that mix fixed-code blocks, which end on any bit, with
// stored blocks, which start on the next byte: the join finds the last
// block and the end wherever they fall, and across stored bodies long
// enough to be skipped without being read bit by bit.
TEST(DeflateJoin, StoredBlocksAfterCodesOnEveryBit)
{
    for (int literals = 0; literals < 16; ++literals)
        for (const std::size_t stored : {std::size_t{0}, std::size_t{5}, std::size_t{300}, std::size_t{70000}}) {
            SCOPED_TRACE(std::to_string(literals) + " literals, " + std::to_string(stored) + " stored bytes");
            bit_writer w;
            bytes want;
            w.put(0, 1); // not final
            w.put(1, 2); // fixed codes
            for (int i = 0; i < literals; ++i) {
                const unsigned c = unsigned(i * 29 % 256); // 8 bits below 144, 9 above
                w.put_code(c < 144 ? 0x30 + c : 0x190 + (c - 144), c < 144 ? 8 : 9);
                want.push_back(std::uint8_t(c));
            }
            w.put_code(0, 7); // end of block
            for (std::size_t left = stored; left > 0 || stored == 0;) {
                const std::size_t n = std::min<std::size_t>(left, 65535);
                w.put(0, 1);
                w.put(0, 2); // stored: lengths on the next byte
                w.used = 0;
                w.out.insert(w.out.end(), {std::uint8_t(n), std::uint8_t(n >> 8), std::uint8_t(~n), std::uint8_t(~n >> 8)});
                for (std::size_t i = 0; i < n; ++i)
                    want.push_back(std::uint8_t(i * 7 + left));
                w.out.insert(w.out.end(), want.end() - std::ptrdiff_t(n), want.end());
                left -= n;
                if (stored == 0)
                    break;
            }
            w.put(1, 1); // final, fixed codes: one literal and the end
            w.put(1, 2);
            w.put_code(0x30 + 'x', 8);
            w.put_code(0, 7);
            want.push_back('x');

            bytes first = w.out;
            files::make_joinable(first);
            bytes stream = {0x78, 0x01};
            stream.insert(stream.end(), first.begin(), first.end());
            stream.insert(stream.end(), w.out.begin(), w.out.end()); // the same again, final this time
            bytes both = want;
            both.insert(both.end(), want.begin(), want.end());
            const uLong adler = adler32(1, both.data(), uInt(both.size()));
            for (int shift = 24; shift >= 0; shift -= 8)
                stream.push_back(std::uint8_t(adler >> shift));
            bytes out(both.size() + 1);
            uLongf size = uLongf(out.size());
            ASSERT_EQ(uncompress(out.data(), &size, stream.data(), uLong(stream.size())), Z_OK);
            out.resize(size);
            EXPECT_EQ(out, both);
        }
}

TEST(DeflateJoin, RefusesWhatIsNotOneWholeStream)
{
    bytes garbage = {0x07, 0x01, 0x02};
    EXPECT_THROW(files::make_joinable(garbage), files::failure);
    libdeflate_compressor* c = libdeflate_alloc_compressor(6);
    const std::string text(5000, 'a');
    bytes piece(libdeflate_deflate_compress_bound(c, text.size()));
    piece.resize(libdeflate_deflate_compress(c, text.data(), text.size(), piece.data(), piece.size()));
    libdeflate_free_compressor(c);
    bytes cut(piece.begin(), piece.end() - 1);
    EXPECT_THROW(files::make_joinable(cut), files::failure);
    bytes longer = piece;
    longer.push_back(0);
    EXPECT_THROW(files::make_joinable(longer), files::failure);
}

} // namespace

namespace {

// zlib's verdict: the bytes are one whole raw deflate stream and nothing more.
bool zlib_whole_stream(const bytes& data)
{
    z_stream z{};
    inflateInit2(&z, -15);
    bytes sink(1 << 16);
    z.next_in = const_cast<std::uint8_t*>(data.data());
    z.avail_in = uInt(data.size());
    int r = Z_OK;
    while (r == Z_OK) {
        z.next_out = sink.data();
        z.avail_out = uInt(sink.size());
        r = inflate(&z, Z_NO_FLUSH);
    }
    const bool whole = r == Z_STREAM_END && z.avail_in == 0;
    inflateEnd(&z);
    return whole;
}

// Damaged streams: what the join refuses, zlib does not read as one whole
// stream; what both take stays whole with a final block after it. Run under the
// sanitizers, this also keeps the walk inside the bytes it is given.
TEST(DeflateJoin, DamagedStreamsAreReadAsZlibReadsThem)
{
    std::mt19937 rng(8);
    int accepted = 0, refused = 0;
    for (int round = 0; round < 1000; ++round) {
        libdeflate_compressor* c = libdeflate_alloc_compressor(round % 13);
        bytes input(rng() % 2000);
        for (auto& b : input)
            b = std::uint8_t(rng() % 5 == 0 ? rng() : rng() % 3);
        bytes stream(libdeflate_deflate_compress_bound(c, input.size()));
        stream.resize(libdeflate_deflate_compress(c, input.data(), input.size(), stream.data(), stream.size()));
        libdeflate_free_compressor(c);
        // A flipped bit, a cut, or bytes of noise.
        switch (round % 3) {
        case 0: stream[rng() % stream.size()] ^= std::uint8_t(1u << rng() % 8); break;
        case 1: stream.resize(rng() % stream.size()); break;
        default: stream.resize(rng() % 24); for (auto& b : stream) b = std::uint8_t(rng());
        }
        const bool whole = zlib_whole_stream(stream);
        bytes joined = stream;
        try {
            files::make_joinable(joined);
            ++accepted;
            if (whole) { // then it still is, with a final empty block after it
                joined.insert(joined.end(), {0x03, 0x00});
                EXPECT_TRUE(zlib_whole_stream(joined)) << "round " << round;
            }
        } catch (const files::failure&) {
            ++refused;
            EXPECT_FALSE(whole) << "round " << round;
        }
    }
    EXPECT_GT(accepted, 0);
    EXPECT_GT(refused, 0);
}

} // namespace
