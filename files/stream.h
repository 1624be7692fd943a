// Pictures scaled by rows: a still PNG that is not interlaced, a binary
// PGM, PPM or PAM, or raw RGB, read a band of rows at a time, scaled by
// lq2x::scale_picture_rows and written as PNG, PGM, PPM, PAM or raw as its
// rows are done; memory a few bands of rows, whatever the height. The same
// bytes as the whole-picture path (scale_bytes), which takes everything
// else: animations, interlaced PNG, plain PNM, every other format, a turn,
// wrap at the top and bottom.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include <lq2x/files.hpp>

#include "byte_source.h"
#include "dispatch.h"
#include "formats.h"

namespace lq2x::files {

// Results of at least this many pixels (64 MiB of RGBA) are scaled by rows
// when they can be, and so are those over the whole-picture limit; smaller
// ones are held whole, which reads the source once where PNG output by rows
// reads it twice (once to choose how to store the pixels, once to write).
constexpr std::uint64_t STREAM_FROM_PIXELS = std::uint64_t{1} << 24;

enum class streaming { automatic, always };

// What scaling by rows will do with an input.
struct stream_plan {
    format in = format::same, out = format::same; // out resolved: never format::same
    std::uint32_t width = 0, height = 0;
    layout kind = layout::rgba; // what the input's pixels carry
    std::optional<pnm_header> pnm; // a binary PGM, PPM or PAM's
};

// Whether `in` is a picture scaled by rows under these options, into
// `out` (format::same: the input's own format), from its header alone;
// with streaming::automatic only one whose result is large (above). Throws
// failure for a picture it takes that is over the limits of scaling by
// rows (file_limits.h); nothing when the whole-picture path is to take it,
// having judged nothing else.
std::optional<stream_plan> plan_streaming(byte_source& in, format out, const options& opt, const file_options& file,
                                          streaming when = streaming::automatic);

// Scales the input by rows as planned, handing the output file's bytes to
// `emit` in order. Throws failure (or what emit throws); a file whose data
// stops part-way fails after some bytes were emitted, so the caller keeps
// its output only once this returns.
void scale_streamed(const stream_plan& plan, byte_source& in, const options& opt, const encode_options& enc,
                    const std::function<void(std::span<const std::uint8_t>)>& emit);

} // namespace lq2x::files
