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
#include <filesystem>
#include <optional>
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
    door words = door::c;       // whose words the messages are in
    bool keep_existing = false; // scale_path keeps an output that exists (error::output_exists)
    std::uint64_t max_input_bytes = 0, max_frames = 0; // 0: what options.max_pixels allows
};

// The limits a file is read under (see lq2x_limits).
struct limits {
    std::uint64_t max_pixels = 0, max_input_bytes = 0, max_frames = 0;
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

// Why a call failed: the status, what() the one-line reason, and for files
// on disk whether it is the output that failed (else the input).
class LQ2X_API file_error : public std::runtime_error {
public:
    file_error(error status, const std::string& why, bool output = false)
        : std::runtime_error(why), status_(status), output_(output)
    {
    }
    error status() const { return status_; }
    bool output() const { return output_; }

private:
    error status_;
    bool output_;
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

// Whether the library writes a format (see lq2x_format_writes), and the
// format a result read from `input` is written in when none is asked for:
// its own, or PNG for a format the library only reads.
LQ2X_API bool format_writes(format f);
LQ2X_API format format_written_for(format input);

// The limits under these options (see lq2x_file_limits); throws file_error
// for options it refuses.
LQ2X_API limits file_limits(const options& opt, const file_options& file);

// One file setting from its text (see lq2x_set_file_option): `file` changed
// only when the text is taken, `why` the door's words for a refusal.
LQ2X_API error set_file_option(file_options& file, std::string_view name, std::string_view text, door d,
                               std::string& why);

// Files on disk (see lq2x_files.h): a path, or std::nullopt for the
// standard input or output. Each throws file_error, whose output() says
// which file failed.
using file_place = std::optional<std::filesystem::path>;

// What a call on files on disk came to.
struct file_report {
    std::uint64_t bytes_in = 0, bytes_out = 0;
    std::string warning; // what the result could not keep, in one line; empty when nothing
};

LQ2X_API file_report scale_path(const file_place& input, const file_place& output, const options& opt = {},
                                const file_options& file = {});
// The format scale_path writes `output` in: file.out, else the one the
// output's name asks for; format::same (the input's own) for standard
// output. Throws file_error for a name that says none.
LQ2X_API format output_format(const file_place& output, const file_options& file = {});
LQ2X_API std::vector<std::uint8_t> read_input(const file_place& input, const options& opt = {},
                                              const file_options& file = {});
LQ2X_API file_report scale_stream(const file_place& input, const file_place& output, layout kind,
                                  const options& opt = {}, const file_options& file = {});
// The identity of an existing file (see lq2x_file_identity).
struct file_identity {
    std::uint64_t device = 0, inode = 0;
    friend auto operator<=>(const file_identity&, const file_identity&) = default;
};
LQ2X_API std::optional<file_identity> identify_file(const file_place& path);
// A batch into one folder (see lq2x_batch_output, lq2x_batch_takes): where
// the result of an input goes, given its path below what names it (its
// file name, or its place below a folder walked), and whether a file met
// in a folder walked is one to scale.
LQ2X_API std::filesystem::path batch_output(const std::filesystem::path& relative,
                                            const std::filesystem::path& out_dir, std::string_view suffix,
                                            const file_options& file = {});
LQ2X_API bool batch_takes(const std::filesystem::path& name, const file_options& file = {});
// See lq2x_begin_program: which of standard input and output were closed.
struct closed_streams {
    bool input = false, output = false;
};
LQ2X_API closed_streams begin_program();

} // namespace lq2x
