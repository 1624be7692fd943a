#include "support.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>

namespace testing_support {

files::image picture(int width, int height, files::layout kind, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<std::array<std::uint8_t, 4>> palette(6);
    for (auto& c : palette) {
        c = {std::uint8_t(rng()), std::uint8_t(rng()), std::uint8_t(rng()), 0xFF};
        if (files::is_grey(kind))
            c[1] = c[2] = c[0];
    }
    if (files::has_alpha(kind)) {
        palette[3][3] = 0;
        palette[4] = {9, 9, 9, 0}; // clear, with colour bits of its own
        palette[5][3] = 0x80;
    }
    files::image img{width, height, kind, std::vector<pixel8888>(std::size_t(width) * std::size_t(height))};
    for (pixel8888& p : img.pixels)
        std::memcpy(&p, palette[rng() % palette.size()].data(), 4);
    return img;
}

ref::image8888 scaled(files::image img, lq2x::orientation turn, int passes)
{
    for (pixel8888& p : img.pixels)
        if (files::alpha_of(p) == 0)
            p = 0;
    ref::image8888 out = as_ref(img);
    for (int i = 0; i < passes; ++i)
        out = ref::scale(out, i == 0 ? turn : lq2x::orientation::upright);
    return out;
}

void put32(bytes& out, std::uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(std::uint8_t(v >> shift));
}

std::uint32_t get32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

bytes deflated(const bytes& raw)
{
    uLongf size = compressBound(uLong(raw.size()));
    bytes out(size);
    if (compress2(out.data(), &size, raw.data(), uLong(raw.size()), 9) != Z_OK)
        ADD_FAILURE() << "zlib could not compress " << raw.size() << " bytes";
    out.resize(size);
    return out;
}

bytes png_chunk(std::string_view type, const bytes& data)
{
    bytes c(4 + 4 + data.size());
    const auto set32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            c[at + std::size_t(i)] = std::uint8_t(v >> (24 - 8 * i));
    };
    set32(0, std::uint32_t(data.size()));
    std::memcpy(c.data() + 4, type.data(), std::min<std::size_t>(type.size(), 4));
    std::copy(data.begin(), data.end(), c.begin() + 8);
    put32(c, std::uint32_t(crc32(0, c.data() + 4, uInt(c.size() - 4)))); // over type and data
    return c;
}

bytes png_file(const std::vector<chunk>& chunks)
{
    bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    for (const chunk& c : chunks) {
        const bytes whole = png_chunk(c.type, c.data);
        out.insert(out.end(), whole.begin(), whole.end());
    }
    return out;
}

bytes png_header(std::uint32_t width, std::uint32_t height, int depth, int colour, bool interlaced)
{
    bytes h(13);
    for (int i = 0; i < 4; ++i) {
        h[std::size_t(i)] = std::uint8_t(width >> (24 - 8 * i));
        h[std::size_t(4 + i)] = std::uint8_t(height >> (24 - 8 * i));
    }
    h[8] = std::uint8_t(depth);
    h[9] = std::uint8_t(colour);
    h[12] = std::uint8_t(interlaced); // compression and filter method 0
    return h;
}

bytes unfiltered_rows(std::uint32_t width, const bytes& samples)
{
    bytes raw;
    for (std::size_t at = 0; at < samples.size(); at += width) {
        raw.push_back(0);
        raw.insert(raw.end(), samples.begin() + std::ptrdiff_t(at), samples.begin() + std::ptrdiff_t(at + width));
    }
    return raw;
}

bytes grey_png(std::uint32_t width, const bytes& grey)
{
    return png_file({{"IHDR", png_header(width, std::uint32_t(grey.size() / width))},
                     {"IDAT", deflated(unfiltered_rows(width, grey))},
                     {"IEND", {}}});
}

} // namespace testing_support
