#include "png_chunks.h"

#include <zlib.h>

#include <algorithm>

#include "image.h"

namespace lq2x::files {
namespace {

constexpr std::uint32_t MOST = 0x7FFFFFFF; // PNG's four-byte numbers stop at 2^31 - 1

} // namespace

bool has_png_signature(std::span<const std::uint8_t> file)
{
    return file.size() >= sizeof PNG_SIGNATURE &&
           std::equal(std::begin(PNG_SIGNATURE), std::end(PNG_SIGNATURE), file.begin());
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(std::uint8_t(v >> shift));
}

void put16(std::vector<std::uint8_t>& out, std::uint32_t v) { out.insert(out.end(), {std::uint8_t(v >> 8), std::uint8_t(v)}); }

std::string chunk::name() const
{
    std::string s;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = char(type >> shift);
        s += (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ? c : '?';
    }
    return s;
}

chunk next_chunk(std::span<const std::uint8_t> file, std::size_t& at)
{
    if (file.size() - at < 12)
        throw failure("truncated: the file ends before its IEND chunk");
    chunk c;
    const std::uint32_t length = get32(file.data() + at);
    c.type = get32(file.data() + at + 4);
    if (length > MOST)
        throw failure("chunk " + c.name() + " has an impossible length");
    if (file.size() - at - 12 < length)
        throw failure("truncated: chunk " + c.name() + " ends past the end of the file");
    c.whole = file.subspan(at, std::size_t(length) + 12);
    c.data = c.whole.subspan(8, length);
    const std::uint32_t crc = std::uint32_t(crc32_z(0, c.whole.data() + 4, std::size_t(length) + 4));
    if (crc != get32(c.whole.data() + 8 + length))
        throw failure("chunk " + c.name() + " is corrupt (its CRC does not match)");
    at += c.whole.size();
    return c;
}

void put_chunk(std::vector<std::uint8_t>& out, const char type[4], std::span<const std::uint8_t> data)
{
    const std::size_t start = out.size();
    put32(out, std::uint32_t(data.size()));
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    close_chunk(out, start);
}

void close_chunk(std::vector<std::uint8_t>& out, std::size_t start)
{
    const std::size_t length = out.size() - start - 8;
    for (int i = 0; i < 4; ++i)
        out[start + std::size_t(i)] = std::uint8_t(length >> (24 - 8 * i));
    put32(out, std::uint32_t(crc32_z(0, out.data() + start + 4, length + 4)));
}

} // namespace lq2x::files
