// Binary PGM (P5), PPM (P6) and PAM (P7) read, 8 or 16 bits a sample; and
// the plain (text) PBM, PGM and PPM (P1, P2, P3) and the binary PBM (P4).
// A bitmap is grey, 1 black and 0 white.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>
#include <string>

#include "formats.h"

namespace lq2x::files {
namespace {

// Reads header tokens: numbers and words separated by white space, with
// comments from '#' to the end of the line.
struct header_reader {
    std::span<const std::uint8_t> data;
    std::size_t at = 0;

    void skip_space()
    {
        while (at < data.size()) {
            if (data[at] == '#') {
                while (at < data.size() && data[at] != '\n')
                    ++at;
            } else if (std::isspace(data[at])) {
                ++at;
            } else {
                break;
            }
        }
    }

    std::string word()
    {
        skip_space();
        std::string w;
        while (at < data.size() && !std::isspace(data[at]) && data[at] != '#' && w.size() < 64)
            w += char(data[at++]);
        if (w.empty())
            throw failure("truncated header");
        return w;
    }

    std::int64_t number()
    {
        const std::string w = word();
        std::int64_t v = 0;
        for (const char c : w) {
            if (!std::isdigit(static_cast<unsigned char>(c)) || v > (std::int64_t{1} << 40))
                throw failure("bad number '" + w + "' in header");
            v = v * 10 + (c - '0');
        }
        return v;
    }

    // One sample of a plain PGM or PPM: digits after white space or comments.
    unsigned sample()
    {
        skip_space();
        unsigned v = 0;
        std::size_t digits = 0;
        for (; at < data.size() && std::isdigit(data[at]); ++at, ++digits)
            v = std::min(v * 10 + unsigned(data[at] - '0'), 1u << 20); // past any maximum: clamped below
        if (digits == 0)
            throw failure(at < data.size() ? "plain PNM sample that is not a number" : "truncated: plain PNM ends early");
        return v;
    }
};

// The bytes left after the header, at least `need` of them (each sample of
// a plain file takes one digit and, but for the last, a separator).
void check_left(const header_reader& h, std::size_t need)
{
    const std::size_t have = h.at <= h.data.size() ? h.data.size() - h.at : 0;
    if (have < need)
        throw failure("truncated: " + std::to_string(need) + " bytes of pixels expected at least, " +
                      std::to_string(have) + " found");
}

// P1 to P4: what a bitmap's or a plain file's pixels hold.
image decode_plain(header_reader& h, char kind_digit, size_limit limit)
{
    const bool bitmap = kind_digit == '1' || kind_digit == '4';
    const std::int64_t width = h.number(), height = h.number();
    const std::int64_t maxval = bitmap ? 1 : h.number();
    if (maxval < 1 || maxval > 65535)
        throw failure("bad maximum sample value " + std::to_string(maxval));
    check_size(width, height, limit);
    const std::size_t w = std::size_t(width), pixels = w * std::size_t(height);
    const int depth = kind_digit == '3' ? 3 : 1;
    image img{int(width), int(height), depth == 3 ? layout::rgb : layout::grey, std::vector<pixel8888>(pixels)};
    const auto to8 = [maxval](unsigned v) {
        return std::uint8_t((std::min(v, unsigned(maxval)) * 255u + unsigned(maxval) / 2) / unsigned(maxval));
    };
    if (kind_digit == '4') {
        // Exactly one white space character ends the header; rows are whole bytes.
        if (h.at >= h.data.size() || !std::isspace(h.data[h.at]))
            throw failure("truncated header");
        ++h.at;
        const std::size_t row = (w + 7) / 8;
        check_left(h, row * std::size_t(height));
        for (std::size_t i = 0; i < pixels; ++i) {
            const std::size_t y = i / w, x = i % w;
            const bool black = (h.data[h.at + y * row + x / 8] >> (7 - x % 8) & 1) != 0;
            img.pixels[i] = black ? rgba(0, 0, 0, 0xFF) : rgba(0xFF, 0xFF, 0xFF, 0xFF);
        }
        return img;
    }
    if (kind_digit == '1') {
        // Digits need no white space between them.
        check_left(h, pixels);
        for (pixel8888& p : img.pixels) {
            h.skip_space();
            if (h.at >= h.data.size())
                throw failure("truncated: plain PBM ends early");
            const std::uint8_t c = h.data[h.at++];
            if (c != '0' && c != '1')
                throw failure("plain PBM pixel that is neither 0 nor 1");
            p = c == '1' ? rgba(0, 0, 0, 0xFF) : rgba(0xFF, 0xFF, 0xFF, 0xFF);
        }
        return img;
    }
    check_left(h, pixels * std::size_t(depth) * 2 - 1);
    for (pixel8888& p : img.pixels) {
        if (depth == 1) {
            const std::uint8_t g = to8(h.sample());
            p = rgba(g, g, g, 0xFF);
        } else {
            const std::uint8_t r = to8(h.sample()), g = to8(h.sample());
            p = rgba(r, g, to8(h.sample()), 0xFF);
        }
    }
    return img;
}

} // namespace

std::optional<pnm_header> binary_pnm_header(std::span<const std::uint8_t> data)
{
    header_reader h{data};
    const std::string magic = h.word();
    pnm_header p;
    if (magic == "P5" || magic == "P6") {
        p.width = h.number();
        p.height = h.number();
        p.maxval = h.number();
        p.depth = magic == "P5" ? 1 : 3;
        // Exactly one white space character ends the header.
        if (h.at >= data.size() || !std::isspace(data[h.at]))
            throw failure("truncated header");
        ++h.at;
    } else if (magic == "P7") {
        for (std::string key = h.word(); key != "ENDHDR"; key = h.word()) {
            if (key == "WIDTH")
                p.width = h.number();
            else if (key == "HEIGHT")
                p.height = h.number();
            else if (key == "DEPTH")
                p.depth = h.number();
            else if (key == "MAXVAL")
                p.maxval = h.number();
            else if (key == "TUPLTYPE")
                h.word();
            else
                throw failure("unknown PAM header field '" + key + "'");
        }
        while (h.at < data.size() && data[h.at] != '\n')
            ++h.at;
        ++h.at;
    } else if (magic.size() == 2 && magic[0] == 'P' && magic[1] >= '1' && magic[1] <= '4') {
        return std::nullopt;
    } else {
        throw failure("not a PBM, PGM, PPM or PAM image");
    }
    if (p.depth < 1 || p.depth > 4)
        throw failure("unsupported depth " + std::to_string(p.depth));
    if (p.maxval < 1 || p.maxval > 65535)
        throw failure("bad maximum sample value " + std::to_string(p.maxval));
    p.kind = p.depth == 1 ? layout::grey : p.depth == 2 ? layout::grey_alpha : p.depth == 3 ? layout::rgb : layout::rgba;
    p.pixels_at = h.at;
    return p;
}

void unpack_pnm_row(const pnm_header& p, const std::uint8_t* in, std::size_t count, pixel8888* row)
{
    const int sample = p.sample_bytes();
    const unsigned maxval = unsigned(p.maxval);
    const auto to8 = [maxval](unsigned v) {
        if (v > maxval)
            v = maxval;
        return std::uint8_t(maxval == 255 ? v : (v * 255u + maxval / 2) / maxval);
    };
    auto* out = reinterpret_cast<std::uint8_t*>(row);
    for (std::size_t i = 0; i < count; ++i) {
        unsigned s[4] = {0, 0, 0, maxval};
        for (int c = 0; c < p.depth; ++c, in += sample)
            s[c] = sample == 2 ? unsigned(in[0]) << 8 | in[1] : in[0];
        std::uint8_t* o = out + 4 * i;
        if (is_grey(p.kind)) {
            o[0] = o[1] = o[2] = to8(s[0]);
            o[3] = p.depth == 2 ? to8(s[1]) : 0xFF;
        } else {
            o[0] = to8(s[0]), o[1] = to8(s[1]), o[2] = to8(s[2]);
            o[3] = p.depth == 4 ? to8(s[3]) : 0xFF;
        }
    }
}

image decode_pnm(std::span<const std::uint8_t> data, size_limit limit)
{
    const std::optional<pnm_header> p = binary_pnm_header(data);
    if (!p) {
        header_reader h{data};
        const std::string magic = h.word();
        return decode_plain(h, magic[1], limit);
    }
    check_size(p->width, p->height, limit);
    const std::size_t pixels = std::size_t(p->width) * std::size_t(p->height);
    const std::size_t need = pixels * p->pixel_bytes();
    const std::size_t have = p->pixels_at <= data.size() ? data.size() - p->pixels_at : 0;
    if (have < need)
        throw failure("truncated: " + std::to_string(need) + " bytes of pixels expected, " + std::to_string(have) +
                      " found");
    image img{int(p->width), int(p->height), p->kind, std::vector<pixel8888>(pixels)};
    unpack_pnm_row(*p, data.data() + p->pixels_at, pixels, img.pixels.data());
    return img;
}

} // namespace lq2x::files
