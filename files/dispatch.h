// Which format a file is, and the reader or writer that takes it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "animation.h"
#include "image.h"
#include "file_limits.h"
#include "gif.h"

namespace lq2x::files {

using lq2x::format;

struct decode_options {
    // Width x height of a raw 24-bit RGB input; raw files have no header, so
    // this is the only way to read one.
    std::optional<std::pair<int, int>> raw_size;
    size_limit limit;
    // The image of an icon (ICO, CUR) to read, counted from 0 in its
    // directory; -1: the largest. (Other formats' frames are picked after
    // reading, by the caller.)
    std::int64_t icon_image = -1;
};

struct encode_options {
    // Deflate level of PNG output, 0 to 12. On scaled pixel art (Debian's
    // crawl-tiles sheet at 2x, whole and as 1,024 tiles, and tiled 4 x 4)
    // 6 is the knee: 2.4 to 4.9 % smaller than 5 for about a sixth more
    // time, where 7 saves 3 % more for a further eighth and 9 to 12 cost
    // two to thirty times as much (bench/png_bench.cpp measures).
    int png_level = 6;
    int threads = 1; // a large PNG is compressed on this many threads
    gif::fit gif;    // what GIF output may change to fit; nothing by default
};

// The format of a file's bytes, from its signature (png, gif, webp, pgm and
// ppm for every PNM but PAM, pam, bmp, ico for icons and cursors, pcx) or,
// for TGA, which has none, from a strict check of its header; raw whenever
// a raw size is given; format::same for none.
format sniff(std::span<const std::uint8_t> data, const decode_options& opt = {});

// Throws the reason when the first bytes of an input (16, or all of a
// shorter one) are no image the library reads.
void check_signature(std::span<const std::uint8_t> head, const decode_options& opt);

// The format an output name's extension asks for (any case), and a
// format's name; format::same and "" for none.
format format_named(std::string_view name);
const char* name_of(format f);
// The format of a name (name_of's), or none.
std::optional<format> format_called(std::string_view word);
// Whether the library writes `f`; and what a result read from `input` is
// written as when no format is asked for: its own, or PNG for a format the
// library only reads.
bool writes(format f);
format output_format(format input);

// The size a file's first bytes give its picture (an animation's screen),
// from the header of the format they are; none when they are too few or
// of no format whose header says it.
std::optional<std::pair<std::int64_t, std::int64_t>> header_size(std::span<const std::uint8_t> head);

// The whole file, every frame read, composited and checked against the
// limit for the whole animation. Throws failure.
animation decode_animation(std::span<const std::uint8_t> data, const decode_options& opt);
// The first frame, for callers that want a still.
image decode(std::span<const std::uint8_t> data, const decode_options& opt);

// An animated input goes to an animated output only in a format that holds
// animations; otherwise only a still (one frame, not animated) is written.
// A format read only (bmp, tga, ico, pcx), which comes here as the input's
// own format, is written as PNG. What the writer changed to fit the format,
// as opt allowed, adds a line each to `not_exact`.
std::vector<std::uint8_t> encode_animation(const animation& anim, format f, const encode_options& opt,
                                           std::vector<std::string>* not_exact = nullptr);
std::vector<std::uint8_t> encode(const image& img, format f, const encode_options& opt);

} // namespace lq2x::files
