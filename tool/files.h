// Whole files in and out, "-" meaning standard input or output.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tool {

// The whole file; throws tool::failure with the reason.
std::vector<std::uint8_t> read_file(const std::string& path);

// Writes the bytes to a new file beside `path` and renames it into place once
// it is complete, so a failed write never leaves a partial file and a
// reader never sees one; an existing file is replaced. "-" writes to
// standard output.
void write_file(const std::string& path, std::span<const std::uint8_t> bytes);

// What makes a file itself whatever path names it: its device and inode.
struct file_id {
    std::uint64_t device, inode;
    friend auto operator<=>(const file_id&, const file_id&) = default;
};

// The identity of an existing file; nothing for "-" or a missing file.
std::optional<file_id> identify(const std::string& path);

} // namespace tool
