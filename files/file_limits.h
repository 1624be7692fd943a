// How large a file's picture may be, checked from its header before any of
// its pixels take memory.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include <lq2x/lq2x.hpp>

namespace lq2x::files {

// How large an image may be: its pixels times `growth` (what scaling will
// multiply them by) at most `max_pixels`.
struct size_limit {
    std::uint64_t max_pixels = std::uint64_t{1} << 28;
    std::uint64_t growth = 1;

    // The most pixels an input may have.
    std::uint64_t max_input_pixels() const { return max_pixels / (growth > 0 ? growth : 1); }
};

// The longest side any image may have, whatever the pixel limit.
constexpr std::int64_t MAX_SIDE = std::int64_t{1} << 30;

// Checks a size read from a header against the limit. Throws failure.
void check_size(std::int64_t width, std::int64_t height, size_limit limit);

// What a frame costs beyond its pixels (its record, its allocations), in
// result pixels: about 180 bytes a frame were measured, so an animation of
// a million one-pixel frames took many times the memory its pixels did.
constexpr std::uint64_t FRAME_COST_PIXELS = 64;

// Checks that `count` frames of width x height are within the limit for the
// whole animation: every frame's result pixels, and FRAME_COST_PIXELS for
// each frame, together at most limit.max_pixels. Throws failure.
void check_frames(std::uint64_t count, std::int64_t width, std::int64_t height, size_limit limit);

// The most bytes an input may hold, and what to say when it holds more.
struct read_limit {
    std::uint64_t max_bytes = 0;
    std::string too_large;
    error status = error::too_large; // for a raw input, error::bad_file: it is not the size said
};

// How many bytes an input may hold: a raw one (of raw_size) exactly its
// size; any other the most an image within the pixel limit can take when
// stored as loosely as its format allows (16-bit RGBA, uncompressed, a byte
// for every row), with room for headers and chunks that are skipped. Throws
// when a raw size is over the pixel limit.
read_limit input_limit(std::optional<std::pair<int, int>> raw_size, size_limit limit);

} // namespace lq2x::files
