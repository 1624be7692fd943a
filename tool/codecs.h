// Reading and writing the tool's file formats, all in memory.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "image.h"

namespace tool {

enum class format { png, pnm, pgm, ppm, pam, raw };

struct decode_options {
    // Width x height of a raw 24-bit RGB input; raw files have no header, so
    // this is the only way to read one.
    std::optional<std::pair<int, int>> raw_size;
    size_limit limit;
};

struct encode_options {
    // Deflate level of PNG output, 0 to 12. On scaled pixel art 5 is the
    // knee: level 6 saves 0.5 to 2.5 % for half as much time again, 9 under
    // 6 % for about five times the time (bench/png_bench.cpp measures).
    int png_level = 5;
    int threads = 1; // a large PNG is compressed on this many threads
};

// The format of a file's bytes, from its signature; raw only when a raw
// size is given.
std::optional<format> sniff(std::span<const std::uint8_t> data, const decode_options& opt);

// The format an output name asks for, from its extension.
std::optional<format> format_for_name(const std::string& name);
std::optional<format> format_from_word(const std::string& word);
const char* format_name(format f);

// Throws tool::failure with the reason when the data is not a whole image of
// the format.
image decode(std::span<const std::uint8_t> data, const decode_options& opt);
image decode_png(std::span<const std::uint8_t> data, size_limit limit);
image decode_pnm(std::span<const std::uint8_t> data, size_limit limit);
image decode_raw(std::span<const std::uint8_t> data, int width, int height, size_limit limit);

std::vector<std::uint8_t> encode(const image& img, format f, const encode_options& opt);
// PNG in the smallest exact colour type and depth the pixels allow.
std::vector<std::uint8_t> encode_png(const image& img, int level, int threads = 1);
std::vector<std::uint8_t> encode_pnm(const image& img, format f);
std::vector<std::uint8_t> encode_raw(const image& img);

} // namespace tool
