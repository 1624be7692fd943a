// Internal: the one reader of the interface's size-prefixed structs
// (lq2x_options, lq2x_file_options). A struct's first field, `size`, says how
// much of it the caller's header knew: an older (smaller) struct is read
// with the fields past its size at their defaults; a newer (larger) one is
// read when every byte past what this library knows is zero, so that a
// newer caller's setting is never silently ignored.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace lq2x::detail {

// The most a struct may claim to be: a later version adds a few fields,
// never kilobytes, and a size past this is a caller's mistake whose bytes
// the library would have to read to check.
constexpr std::uint32_t SIZED_MOST = 256;

// The size a caller's struct says it has, or 0 for one the library cannot
// read (smaller than the first version's, or past SIZED_MOST). Read as
// bytes: an older caller's struct, without the 64-bit fields, may lie on a
// 4-byte boundary only.
inline std::uint32_t sized_size(const void* given, std::uint32_t first_size)
{
    std::uint32_t size;
    std::memcpy(&size, given, sizeof size);
    return size < first_size || size > SIZED_MOST ? 0 : size;
}

// `given` read over `out`, which holds the defaults; false, with `out` as it
// was, when the library cannot read it. NULL reads as the defaults.
template <typename T>
bool read_sized(const T* given, T& out, std::uint32_t first_size)
{
    if (given == nullptr)
        return true;
    const std::uint32_t size = sized_size(given, first_size);
    if (size == 0)
        return false;
    const auto* bytes = reinterpret_cast<const unsigned char*>(given);
    if (std::any_of(bytes + std::min<std::size_t>(size, sizeof(T)), bytes + size, [](unsigned char b) { return b != 0; }))
        return false;
    std::memcpy(static_cast<void*>(&out), bytes, std::min<std::size_t>(size, sizeof(T)));
    out.size = sizeof(T);
    return true;
}

// `from` written to the caller's struct `to`, only as far as its size goes
// (which it keeps); false when the library cannot read that size.
template <typename T>
bool write_sized(T* to, T from, std::uint32_t first_size)
{
    const std::uint32_t size = sized_size(to, first_size);
    if (size == 0)
        return false;
    from.size = size;
    std::memcpy(static_cast<void*>(to), &from, std::min<std::size_t>(size, sizeof(T)));
    return true;
}

} // namespace lq2x::detail
