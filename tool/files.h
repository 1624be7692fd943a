// Whole files in and out, "-" meaning standard input or output.
#pragma once

#include <cstdint>
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

// Whether two paths name the same existing file (the same device and inode).
bool same_file(const std::string& a, const std::string& b);

} // namespace tool
