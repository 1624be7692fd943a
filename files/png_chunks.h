// PNG's chunks, read and written: what the still writer, the animated PNG
// reader and the animated PNG writer (which takes still PNGs apart) share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace lq2x::files {

// The eight bytes every PNG file starts with.
constexpr std::uint8_t PNG_SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

bool has_png_signature(std::span<const std::uint8_t> file);

// PNG's numbers: most significant byte first.
constexpr std::uint32_t get32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}
constexpr std::uint32_t get16(const std::uint8_t* p) { return std::uint32_t(p[0]) << 8 | p[1]; }
void put32(std::vector<std::uint8_t>& out, std::uint32_t v);
void put16(std::vector<std::uint8_t>& out, std::uint32_t v);

// A chunk type as the number its four letters make.
constexpr std::uint32_t tag(const char (&name)[5])
{
    return std::uint32_t(std::uint8_t(name[0])) << 24 | std::uint32_t(std::uint8_t(name[1])) << 16 |
           std::uint32_t(std::uint8_t(name[2])) << 8 | std::uint8_t(name[3]);
}

struct chunk {
    std::uint32_t type = 0;
    std::span<const std::uint8_t> data;
    std::span<const std::uint8_t> whole; // length, type, data and CRC

    std::string name() const; // the four letters, '?' for any that is not one
};

// The chunk at `at`, which then moves past it; its length and CRC checked
// (failure otherwise).
chunk next_chunk(std::span<const std::uint8_t> file, std::size_t& at);

// Appends a whole chunk: length, type, data, CRC.
void put_chunk(std::vector<std::uint8_t>& out, const char type[4], std::span<const std::uint8_t> data);

// The CRC of a chunk whose length field is at `start` and whose data runs to
// the end of `out`, appended: for a chunk written in pieces as they come.
void close_chunk(std::vector<std::uint8_t>& out, std::size_t start);

} // namespace lq2x::files
