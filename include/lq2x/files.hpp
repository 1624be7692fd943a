// The typed C++ interface of the files library (lq2x_files.h says what each
// call does): spans in, vectors out, and a file_error carrying the status and
// the one-line reason when a call fails.
//
//     lq2x::options o;
//     o.scale = 4;
//     try {
//         const std::vector<std::uint8_t> png = lq2x::scale_file(bytes, o, {.out = lq2x::format::png});
//     } catch (const lq2x::file_error& e) {
//         std::fprintf(stderr, "lq2x: %s\n", e.what());
//     }
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <lq2x/lq2x.hpp>
#include <lq2x/lq2x_files.h>

namespace lq2x {

// A file format (see lq2x_format).
enum class format {
    same = LQ2X_FORMAT_SAME,
    png = LQ2X_FORMAT_PNG,
    gif = LQ2X_FORMAT_GIF,
    webp = LQ2X_FORMAT_WEBP,
    ppm = LQ2X_FORMAT_PPM,
    pgm = LQ2X_FORMAT_PGM,
    pam = LQ2X_FORMAT_PAM,
    pnm = LQ2X_FORMAT_PNM,
    raw = LQ2X_FORMAT_RAW,
    bmp = LQ2X_FORMAT_BMP, // read only, as the ones below
    tga = LQ2X_FORMAT_TGA,
    ico = LQ2X_FORMAT_ICO,
    pcx = LQ2X_FORMAT_PCX,
};

// How GIF output made to fit with gif_colours shares its palettes (see lq2x_gif_palette).
enum class gif_palette { shared = LQ2X_GIF_PALETTE_SHARED, per_frame = LQ2X_GIF_PALETTE_PER_FRAME };

// Every format a file can be written in, in the order the tool lists them.
constexpr format ALL_FORMATS[] = {format::png, format::gif, format::webp, format::ppm,
                                  format::pgm, format::pam, format::pnm,  format::raw};

// The C interface's lq2x_file_options, field for field.
struct file_options {
    format out = format::same;
    std::int64_t frame = -1; // -1: every frame; N: frame N alone, as a still
    int png_level = 6;       // 0 to 12
    std::int32_t raw_width = 0, raw_height = 0; // both > 0: the input is raw 24-bit RGB of this size
    int gif_alpha = 0;   // 1 to 255: GIF output with alpha below this transparent, the rest opaque (not exact)
    int gif_colours = 0; // 2 to 256: GIF output reduced to at most this many colours (not exact)
    gif_palette gif_shares = gif_palette::shared;
};

// A frame's time on screen: numerator / denominator seconds.
struct frame_delay {
    std::uint32_t numerator = 0, denominator = 100;
};

// The picture or animation a file holds (see lq2x_frames).
struct frames {
    std::int32_t width = 0, height = 0;
    layout kind = layout::rgba;      // what the file's pixels carried
    bool animated = false;
    std::uint32_t loops = 0;         // 0: without end
    std::vector<std::uint8_t> pixels; // delays.size() frames of RGBA rows, packed
    std::vector<frame_delay> delays;  // one a frame
    std::string warning;              // what reading could not keep, in one line; empty when nothing
};

// Why a call failed: the status, and what() the one-line reason.
class LQ2X_API file_error : public std::runtime_error {
public:
    file_error(error status, const std::string& why) : std::runtime_error(why), status_(status) {}
    error status() const { return status_; }

private:
    error status_;
};

// lq2x_scale_file, lq2x_read_file and lq2x_write_file; each throws
// file_error (std::bad_alloc never: out of memory is error::no_memory).
// `warning`, when given, is set to the one line the C interface gives in
// its message on success: what the result could not keep (a delay the
// output format cannot hold, written as the nearest it holds), or empty.
LQ2X_API std::vector<std::uint8_t> scale_file(std::span<const std::uint8_t> data, const options& opt = {},
                                              const file_options& file = {}, std::string* warning = nullptr);
LQ2X_API frames read_file(std::span<const std::uint8_t> data, const options& opt = {}, const file_options& file = {});
LQ2X_API std::vector<std::uint8_t> write_file(const frames& in, const file_options& file = {},
                                              std::string* warning = nullptr);

// The format a file's first bytes say it is, the format an output name's
// extension asks for (format::same for none), and a format's name as the
// tool's --format takes it ("" for format::same).
LQ2X_API format format_of_bytes(std::span<const std::uint8_t> data);
LQ2X_API format format_of_name(std::string_view name);
LQ2X_API const char* format_name(format f);

// For callers that read a file in pieces (the tool reads from disk and pipes):
// the most bytes an input may hold under these options, and the reason
// scale_file would give for more; throws file_error when a raw size is
// already over the pixel limit.
struct input_limit {
    std::uint64_t max_bytes = 0;
    std::string too_large;
};
LQ2X_API input_limit file_input_limit(const options& opt, const file_options& file);
// Throws file_error when a file's first bytes (16, or all of a shorter
// file) are no image the library reads, as scale_file would for the whole.
LQ2X_API void check_file_start(std::span<const std::uint8_t> head, const file_options& file);

} // namespace lq2x
