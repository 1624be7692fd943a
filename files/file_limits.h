// How large a file's picture may be, checked from its header before any of
// its pixels take memory, and how many bytes its file may hold. Every
// format is refused alike, in the same words: a picture too large is too
// large, whatever the file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include <lq2x/lq2x.hpp>

#include "disk.h"

namespace lq2x::files {

// How large an image may be: its pixels times `growth` (what scaling will
// multiply them by) at most `max_pixels`; and with max_frames, at most that
// many frames.
struct size_limit {
    std::uint64_t max_pixels = LQ2X_DEFAULT_MAX_PIXELS;
    std::uint64_t growth = 1;
    std::uint64_t max_frames = 0; // 0: as many as the pixels allow

    // The most pixels an input may have.
    std::uint64_t max_input_pixels() const { return max_pixels / (growth > 0 ? growth : 1); }
};

// Checks a size read from a header against the limit. Throws failure.
void check_size(std::int64_t width, std::int64_t height, size_limit limit);

// A picture scaled by rows (stream.h) holds a few bands of its rows, never
// the whole: the pixel limit bounds the rows held instead, STREAM_ROWS
// result rows at most max_pixels (with the default, rows of up to 4 Mi
// pixels), and the whole result, which goes to the output as it is made,
// is held to STREAM_GROWTH times max_pixels (2^32 pixels by default, a
// 65536 x 65536 result; at most LQ2X_MOST_PIXELS), so that a small file
// whose header claims a vast picture cannot fill a disk. Its sides are held
// to LQ2X_MAX_SIDE (the source's) and 2^31 - 1 (the result's). Throws
// failure.
constexpr std::uint64_t STREAM_ROWS = 64, STREAM_GROWTH = 16;
void check_streamed_size(std::int64_t width, std::int64_t height, int scale, size_limit limit);

// What a frame costs beyond its pixels (its record, its allocations), in
// result pixels: about 180 bytes a frame were measured, so an animation of
// a million one-pixel frames took many times the memory its pixels did.
constexpr std::uint64_t FRAME_COST_PIXELS = 64;

// The most frames an animation may have under the limit: max_frames when
// given, and never more than one-pixel frames the pixel limit allows.
std::uint64_t most_frames(size_limit limit);

// Checks that `count` frames of width x height are within the limit for the
// whole animation: every frame's result pixels, and FRAME_COST_PIXELS for
// each frame after the first, together at most limit.max_pixels, and no
// more frames than limit.max_frames. Throws failure.
void check_frames(std::uint64_t count, std::int64_t width, std::int64_t height, size_limit limit);

// How many bytes an input may hold: a raw one (of raw_size) exactly its
// size; any other `max_bytes` when given (not 0), else the most an image
// within the pixel limit can take when stored as loosely as its format
// allows (16-bit RGBA, uncompressed, a byte for every row), with room for
// headers and chunks that are skipped. Throws when a raw size is over the
// pixel limit.
disk::read_limit input_limit(std::optional<std::pair<int, int>> raw_size, size_limit limit,
                             std::uint64_t max_bytes = 0);

} // namespace lq2x::files
