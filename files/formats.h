// Every format's reader and writer, one pair a format, each in files of its
// own: what the dispatcher (dispatch.h) chooses among. All work in memory
// and throw failure with the reason.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "animation.h"
#include "byte_source.h"
#include "image.h"
#include "file_limits.h"
#include "gif.h"
#include "png_form.h"

namespace lq2x::files {

// A PNG read a row at a time (png_read): its header when made (libpng told
// that no side passes most_pixels), then after start() its pixels as 8-bit
// RGBA rows, in order, and finish() reads and checks the rest of the file.
class png_rows {
public:
    png_rows(byte_source& in, std::uint64_t most_pixels);
    ~png_rows();
    png_rows(const png_rows&) = delete;
    png_rows& operator=(const png_rows&) = delete;

    std::uint32_t width = 0, height = 0;
    bool interlaced = false, alpha = false, grey = false;
    layout kind() const; // what the file's pixels carry

    void start();
    // The next `count` rows, `pitch` bytes apart; not for an interlaced file.
    void read(std::uint32_t count, std::uint8_t* rows, std::ptrdiff_t pitch);
    // Every row, interlaced or not.
    void read_all(std::span<std::uint8_t*> rows);
    void finish();

private:
    struct state;
    std::unique_ptr<state> s_;
};

// PNG, still: every colour type and depth read into 8-bit RGBA (png_read);
// its animation chunks, if any, skipped.
image decode_png(std::span<const std::uint8_t> data, size_limit limit);
// PNG with its animation when it has one, otherwise as decode_png (apng_read).
animation decode_png_animation(std::span<const std::uint8_t> data, size_limit limit);
// PNG in the smallest exact colour type and depth the pixels allow, its rows
// compressed on `threads` threads at a deflate level of 0 to 12 (png_write).
std::vector<std::uint8_t> encode_png(const image& img, int level, int threads = 1);
// A still PNG of width x height stored in `form`, its rows (as put_png_row
// makes them) made by `rows` when deflate_rows asks, handed to `emit` in
// pieces in order: encode_png's bytes, and a picture scaled by rows'.
// Its image data goes in IDAT chunks of IDAT_BYTES, the last shorter.
constexpr std::size_t IDAT_BYTES = std::size_t{1} << 20;
void write_png(int width, int height, const png_form& form,
               const std::function<void(int first, int count, std::span<std::uint8_t> out)>& rows, int level,
               int threads, const std::function<void(std::span<const std::uint8_t>)>& emit);
// One row of a PNG as it is compressed: filter byte, then the packed
// samples (out is form.row_bytes(pixels.size()) + 1 long).
void put_png_row(const png_form& form, const colour_table* palette, std::span<const pixel8888> pixels, layout kind,
                 std::span<std::uint8_t> out);
// Animated PNG: every frame whole, the first also the image that viewers
// without animation show (png_write).
std::vector<std::uint8_t> encode_png_animation(const animation& anim, int level, int threads = 1);

// GIF (gif_read, gif_write). Written exact or refused: a frame of more than
// 256 colours, or partly transparent, fails unless `fit` allows the change
// that makes it fit; each change made adds a line to `not_exact`.
animation decode_gif(std::span<const std::uint8_t> data, size_limit limit);
std::vector<std::uint8_t> encode_gif(const animation& anim, const gif::fit& fit = {},
                                     std::vector<std::string>* not_exact = nullptr);

// WebP, lossy or lossless in, lossless out, still or animated (webp_read,
// webp_write).
animation decode_webp(std::span<const std::uint8_t> data, size_limit limit);
std::vector<std::uint8_t> encode_webp(const animation& anim);

// PGM, PPM and PAM, and PBM and the plain (text) kinds read as grey or RGB
// (pnm_read); binary PGM, PPM and PAM written (pnm_write); `f` is ppm, pgm,
// pam or pnm (PGM for grey, PPM otherwise).
image decode_pnm(std::span<const std::uint8_t> data, size_limit limit);
// The header of a binary PGM, PPM or PAM (P5, P6, P7) from a file's first
// bytes, checked but for its size; nothing for a bitmap or a plain (text)
// file. Throws failure. And `count` pixels of its rows at `in` as RGBA.
struct pnm_header {
    std::int64_t width = 0, height = 0, depth = 0, maxval = 0;
    layout kind = layout::grey;
    std::size_t pixels_at = 0; // where the pixels start
    int sample_bytes() const { return maxval > 255 ? 2 : 1; }
    std::size_t pixel_bytes() const { return std::size_t(depth) * std::size_t(sample_bytes()); }
};
std::optional<pnm_header> binary_pnm_header(std::span<const std::uint8_t> data);
void unpack_pnm_row(const pnm_header& p, const std::uint8_t* in, std::size_t count, pixel8888* row);
std::vector<std::uint8_t> encode_pnm(const image& img, format f);
// What encode_pnm writes for a picture of width x height and layout `kind`:
// its header and the layout its samples are stored in; and the samples of
// pixels of that picture, appended to `out`.
struct pnm_form {
    std::string header;
    layout stored;
};
pnm_form pnm_form_of(int width, int height, layout kind, format f);
void put_pnm_row(layout stored, std::span<const pixel8888> pixels, std::vector<std::uint8_t>& out);

// Raw 24-bit RGB, which has no header: its size comes from the caller (raw).
image decode_raw(std::span<const std::uint8_t> data, int width, int height, size_limit limit);
std::vector<std::uint8_t> encode_raw(const image& img);

// Formats read, never written: older game art. Each throws failure with the
// reason for a file it cannot read. The project's own small readers: no
// library in Debian reads all four within the pixel limit and also builds
// into the page's WebAssembly (stb_image reads neither ICO nor PCX and holds
// its limits at compile time; gdk-pixbuf and FreeImage come with their
// toolkits, ImageMagick with everything).
// BMP, Windows and OS/2: 1 to 32 bits, palettes, masks, RLE (bmp_read).
image decode_bmp(std::span<const std::uint8_t> data, size_limit limit);
// The bitmap of an icon's image, from its header to the end of the file:
// header, palette, colour rows, then the transparency mask (bmp_read).
image decode_icon_bitmap(std::span<const std::uint8_t> bitmap, size_limit limit);
// TGA: colour-mapped, true colour or grey, plain or RLE (tga_read).
image decode_tga(std::span<const std::uint8_t> data, size_limit limit);
// TGA has no signature: whether a file's header (18 bytes, or with `whole`
// false the first 16, all a signature check is given) is one's, and the
// file, when whole, long enough for it; tga_problem says why not in words.
bool looks_like_tga(std::span<const std::uint8_t> data, bool whole);
std::string tga_problem(std::span<const std::uint8_t> data, bool whole);
// ICO and CUR: image `chosen` of the directory (counted from 0), or with -1
// the largest (ico_read).
image decode_ico(std::span<const std::uint8_t> data, std::int64_t chosen, size_limit limit);
// PCX: 1 to 8 bits a plane, palette or true colour (pcx_read).
image decode_pcx(std::span<const std::uint8_t> data, size_limit limit);

} // namespace lq2x::files
