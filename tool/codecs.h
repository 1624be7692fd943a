// Reading and writing the tool's file formats, all in memory.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "animation.h"
#include "image.h"

namespace tool {

enum class format { png, pnm, pgm, ppm, pam, raw, gif, webp };
constexpr format ALL_FORMATS[] = {format::png,  format::gif, format::webp, format::ppm,
                                  format::pgm,  format::pam, format::pnm,  format::raw};

// The eight bytes every PNG file starts with.
constexpr std::uint8_t PNG_SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};


struct decode_options {
    // Width x height of a raw 24-bit RGB input; raw files have no header, so
    // this is the only way to read one.
    std::optional<std::pair<int, int>> raw_size;
    size_limit limit;
};

struct encode_options {
    // Deflate level of PNG output, 0 to 12. On scaled pixel art (Debian's
    // crawl-tiles sheet at 2x, whole and as 1,024 tiles, and tiled 4 x 4)
    // 6 is the knee: 2.4 to 4.9 % smaller than 5 for about a sixth more
    // time, where 7 saves 3 % more for a further eighth and 9 to 12 cost
    // two to thirty times as much (bench/png_bench.cpp measures).
    int png_level = 6;
    int threads = 1; // a large PNG is compressed on this many threads
};

// The format of a file's bytes, from its signature (png, gif, webp, pgm, ppm or pam);
// raw only when a raw size is given.
std::optional<format> sniff(std::span<const std::uint8_t> data, const decode_options& opt);

// Throws the reason when the first bytes of an input (16, or all of a
// shorter one) are no image the tool reads.
void check_signature(std::span<const std::uint8_t> head, const decode_options& opt);

// How many bytes an input may hold: a raw one exactly its size; any other
// the most an image within the pixel limit can take when stored as loosely
// as its format allows (16-bit RGBA, uncompressed, a byte for every row),
// with room for headers and chunks the tool skips. Throws when a raw size is
// over the pixel limit.
read_limit input_limit(const decode_options& opt);

// The format an output name asks for, from its extension.
std::optional<format> format_for_name(const std::string& name);
std::optional<format> format_from_word(const std::string& word);
const char* format_name(format f);

// Throws tool::failure with the reason when the data is not a whole image of
// the format. Every frame of an animation is read, composited, and checked
// against the limit for the whole animation (check_frames).
animation decode_animation(std::span<const std::uint8_t> data, const decode_options& opt);
// The first frame of decode_animation, for the callers that want a still.
image decode(std::span<const std::uint8_t> data, const decode_options& opt);
// A still PNG; its animation chunks, if any, are skipped.
image decode_png(std::span<const std::uint8_t> data, size_limit limit);
// A PNG with its animation, when it has one; otherwise as decode_png.
animation decode_png_animation(std::span<const std::uint8_t> data, size_limit limit);
animation decode_gif(std::span<const std::uint8_t> data, size_limit limit);
animation decode_webp(std::span<const std::uint8_t> data, size_limit limit);
image decode_pnm(std::span<const std::uint8_t> data, size_limit limit);
image decode_raw(std::span<const std::uint8_t> data, int width, int height, size_limit limit);

// An animated input goes to an animated output only in a format that holds
// animations; otherwise only a still (one frame, not animated) is written.
std::vector<std::uint8_t> encode_animation(const animation& anim, format f, const encode_options& opt);
std::vector<std::uint8_t> encode(const image& img, format f, const encode_options& opt);
// Animated PNG: every frame whole, the first also the image that viewers
// without animation show.
std::vector<std::uint8_t> encode_png_animation(const animation& anim, int level, int threads = 1);
// GIF holds at most 256 colours in a frame and is never quantised: a frame
// with more is refused (tool::failure), naming the exact alternatives.
std::vector<std::uint8_t> encode_gif(const animation& anim);
// Lossless WebP, still or animated.
std::vector<std::uint8_t> encode_webp(const animation& anim);
// PNG in the smallest exact colour type and depth the pixels allow.
std::vector<std::uint8_t> encode_png(const image& img, int level, int threads = 1);
std::vector<std::uint8_t> encode_pnm(const image& img, format f);
std::vector<std::uint8_t> encode_raw(const image& img);

} // namespace tool
