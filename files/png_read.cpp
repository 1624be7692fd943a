// PNG read through libpng. Every colour type and bit depth is read into 8-bit
// RGBA: palettes and low-bit grey are expanded, 16-bit samples are scaled
// to 8 bits, and a tRNS chunk becomes alpha. Gamma, chromaticity and colour
// profile chunks are neither applied nor written: sample values pass
// through as they are stored.
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>

#include "formats.h"
#include "large_buffer.h"
#include "file_limits.h"
#include "png_chunks.h"

namespace lq2x::files {
namespace {

constexpr png_alloc_size_t MAX_CHUNK_BYTES = 4 << 20;
constexpr png_uint_32 MAX_CHUNKS = 100;
// Once it has the last row, libpng inflates whatever image data is left, to
// its end, before it goes on: a stream that runs on for a gigabyte past the
// picture would cost seconds and then be accepted. A stream's closing bytes
// are far fewer than this; more is refused before libpng reads it. (What
// libpng already holds is at most its read buffer, 8 KiB.)
constexpr std::size_t MOST_DATA_AFTER_PICTURE = 4096;

struct png_io {
    byte_source& in;
    std::uint64_t at = 0;
    std::uint64_t rows_left = 0; // rows of image data still to come, every pass counted
    char message[200] = "corrupt data";
};

png_io& io_of(png_structp png) { return *static_cast<png_io*>(png_get_error_ptr(png)); }

void on_error(png_structp png, png_const_charp message)
{
    std::snprintf(io_of(png).message, sizeof io_of(png).message, "%s", message);
    png_longjmp(png, 1);
}

void on_warning(png_structp, png_const_charp) {} // a warning does not stop the image

void read_data(png_structp png, png_bytep data, std::size_t length)
{
    png_io& io = io_of(png);
    if (io.in.size() - io.at < length)
        png_error(png, "truncated data");
    if (io.in.read_at(io.at, {data, length}) != length)
        png_error(png, io.in.why());
    io.at += length;
}

// The image data (IDAT chunks' contents) in the file past `at`.
std::uint64_t image_data_after(byte_source& file, std::uint64_t at)
{
    std::uint64_t left = 0;
    std::uint8_t head[8];
    for (std::uint64_t c = 8; file.size() - c >= 12;) {
        if (file.read_at(c, head) != sizeof head)
            break;
        const std::uint64_t length = get32(head);
        if (length > file.size() - c - 12)
            break;
        if (std::equal(head + 4, head + 8, "IDAT"))
            left += c + 8 + length > at ? c + 8 + length - std::max(at, c + 8) : 0;
        c += length + 12;
    }
    return left;
}

// Called by libpng for every row of data it has inflated; at the last, what
// the file still holds of the image data is measured.
void on_row(png_structp png, png_row_infop, png_bytep)
{
    png_io& io = io_of(png);
    if (--io.rows_left != 0)
        return;
    if (const std::uint64_t left = image_data_after(io.in, io.at); left > MOST_DATA_AFTER_PICTURE) {
        std::snprintf(io.message, sizeof io.message, "the image data runs on past the picture (%llu bytes more)",
                      static_cast<unsigned long long>(left));
        png_longjmp(png, 1);
    }
}

// Rows of image data in a picture of width x height: with Adam7, those of
// each pass that has pixels (libpng's pass macros mix int and unsigned).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wsign-conversion"
std::uint64_t data_rows(png_uint_32 width, png_uint_32 height, bool interlaced)
{
    if (!interlaced)
        return height;
    std::uint64_t rows = 0;
    for (int pass = 0; pass < 7; ++pass)
        if (PNG_PASS_COLS(std::uint64_t(width), pass) > 0)
            rows += PNG_PASS_ROWS(std::uint64_t(height), pass);
    return rows;
}
#pragma GCC diagnostic pop

// Runs `step`, which calls libpng and nothing else, with libpng's errors
// landing here: false when one came (its words are then in the png_io).
// libpng reports an error by longjmp, which must land in a frame that holds
// no C++ object with a destructor: a jump past one is undefined in C++, and
// in WebAssembly (Debian's emscripten, LLVM 14) such a frame lets the jump
// escape it altogether.
template <class Step>
[[gnu::noinline]] bool guarded(png_structp png, Step& step)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    step();
    return true;
}

// Frees libpng's structures on every way out.
struct reader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~reader() { png_destroy_read_struct(&png, &info, nullptr); }
};

} // namespace

struct png_rows::state {
    png_io io;
    reader r;
};

png_rows::png_rows(byte_source& in, std::uint64_t most_pixels) : s_(std::make_unique<state>(state{{in}, {}}))
{
    reader& r = s_->r;
    png_io& io = s_->io;
    r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &io, on_error, on_warning);
    if (r.png == nullptr || (r.info = png_create_info_struct(r.png)) == nullptr)
        throw std::bad_alloc();
    const std::uint64_t most = std::min<std::uint64_t>(most_pixels, PNG_UINT_31_MAX);
    auto header = [&] {
        png_set_read_fn(r.png, &io, read_data);
        // Only IHDR, PLTE, tRNS, IDAT and IEND are used. Every other chunk (text,
        // profiles, suggested palettes, unknown ones) is skipped unread and costs
        // no memory, whatever length it claims or text it would inflate to.
        png_set_keep_unknown_chunks(r.png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
        // And should one be kept after all, it stays small and few.
        png_set_chunk_malloc_max(r.png, MAX_CHUNK_BYTES);
        png_set_chunk_cache_max(r.png, MAX_CHUNKS);
        // Any width or height a picture within the limit can have (libpng's
        // own default stops at a million).
        png_set_user_limits(r.png, png_uint_32(most), png_uint_32(most));
        png_read_info(r.png, r.info);
    };
    if (!guarded(r.png, header))
        throw failure(io.message);
    width = png_get_image_width(r.png, r.info);
    height = png_get_image_height(r.png, r.info);
    interlaced = png_get_interlace_type(r.png, r.info) != PNG_INTERLACE_NONE;
    const int type = png_get_color_type(r.png, r.info);
    const bool transparency = png_get_valid(r.png, r.info, PNG_INFO_tRNS) != 0;
    alpha = (type & PNG_COLOR_MASK_ALPHA) != 0 || transparency;
    grey = (type & PNG_COLOR_MASK_COLOR) == 0;
}

png_rows::~png_rows() = default;

layout png_rows::kind() const
{
    return grey ? (alpha ? layout::grey_alpha : layout::grey) : (alpha ? layout::rgba : layout::rgb);
}

void png_rows::start()
{
    reader& r = s_->r;
    png_io& io = s_->io;
    auto transforms = [&] {
        png_set_expand(r.png);
        png_set_scale_16(r.png);
        if (grey)
            png_set_gray_to_rgb(r.png);
        if (!alpha)
            png_set_add_alpha(r.png, 0xFF, PNG_FILLER_AFTER);
        png_set_interlace_handling(r.png);
        png_set_read_user_transform_fn(r.png, on_row);
        png_read_update_info(r.png, r.info);
    };
    if (!guarded(r.png, transforms))
        throw failure(io.message);
    if (png_get_rowbytes(r.png, r.info) != std::size_t(width) * 4)
        throw failure("unexpected pixel layout");
    io.rows_left = data_rows(width, height, interlaced);
}

void png_rows::read(std::uint32_t count, std::uint8_t* rows, std::ptrdiff_t pitch)
{
    reader& r = s_->r;
    auto step = [&] {
        for (std::uint32_t y = 0; y < count; ++y)
            png_read_row(r.png, rows + std::ptrdiff_t(y) * pitch, nullptr);
    };
    if (!guarded(r.png, step))
        throw failure(s_->io.message);
}

void png_rows::read_all(std::span<std::uint8_t*> rows)
{
    reader& r = s_->r;
    auto pixels = [&] { png_read_image(r.png, rows.data()); };
    if (!guarded(r.png, pixels))
        throw failure(s_->io.message);
}

void png_rows::finish()
{
    reader& r = s_->r;
    auto end = [&] { png_read_end(r.png, nullptr); };
    if (!guarded(r.png, end))
        throw failure(s_->io.message);
}

image decode_png(std::span<const std::uint8_t> data, size_limit limit)
{
    memory_source source(data);
    png_rows in(source, limit.max_input_pixels());
    check_size(in.width, in.height, limit); // before any pixel memory is taken
    in.start();
    image img;
    img.kind = in.kind();
    img.width = int(in.width);
    img.height = int(in.height);
    reserve_large(img.pixels, std::size_t(in.width) * in.height, filling::whole);
    img.pixels.resize(std::size_t(in.width) * in.height);
    std::vector<std::uint8_t*> rows(in.height);
    for (std::uint32_t y = 0; y < in.height; ++y)
        rows[y] = img.bytes() + std::size_t(y) * in.width * 4;
    in.read_all(rows);
    in.finish();
    return img;
}

} // namespace lq2x::files
