// Internal: the one reader of the interface's size-prefixed structs
// (lq2x_options, lq2x_file_options). A struct's first field, `size`, says
// which version of it the caller's header had: every version's struct is
// read, fields that version lacks at their defaults, and so is a later
// version's whose bytes past what this library knows are all zero, so that
// a newer caller's setting is never silently ignored.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>

namespace lq2x::detail {

// A version of a struct: its sizeof, and the bytes its fields fill (the
// rest is padding, which a caller's copy may hold anything in).
struct struct_version {
    std::uint32_t size, extent;
};

// The most a struct may claim to be: a later version adds a few fields,
// never kilobytes, and a size past this is a caller's mistake whose bytes
// the library would have to read to check.
constexpr std::uint32_t SIZED_MOST = 256;

// How many bytes of a caller's struct to take, by the size it claims: a
// known version's fields, or for a later version's struct this library's
// own; 0 for a size the library cannot read. `versions` lists every version
// up to this library's own, the oldest first. Read as bytes: an older
// caller's struct, without the 64-bit fields, may lie on a 4-byte boundary only.
inline std::uint32_t sized_extent(const void* given, std::span<const struct_version> versions)
{
    std::uint32_t size;
    std::memcpy(&size, given, sizeof size);
    for (const struct_version v : versions)
        if (size == v.size)
            return v.extent;
    const struct_version own = versions.back();
    if (size <= own.size || size > SIZED_MOST)
        return 0;
    const auto* bytes = static_cast<const unsigned char*>(given);
    return std::all_of(bytes + own.extent, bytes + size, [](unsigned char b) { return b == 0; }) ? own.extent : 0;
}

// `given` read over `out`, which holds the defaults; false, with `out` as it
// was, when the library cannot read it. NULL reads as the defaults.
template <typename T>
bool read_sized(const T* given, T& out, std::span<const struct_version> versions)
{
    if (given == nullptr)
        return true;
    const std::uint32_t extent = sized_extent(given, versions);
    if (extent == 0)
        return false;
    std::memcpy(static_cast<void*>(&out), given, extent);
    out.size = sizeof(T);
    return true;
}

// `from` written into the caller's struct `to` as far as its version has
// fields (its size kept); false when the library cannot read that size.
template <typename T>
bool write_sized(T* to, T from, std::span<const struct_version> versions)
{
    const std::uint32_t extent = sized_extent(to, versions);
    if (extent == 0)
        return false;
    std::memcpy(&from.size, &to->size, sizeof from.size);
    std::memcpy(static_cast<void*>(to), &from, extent);
    return true;
}

} // namespace lq2x::detail
