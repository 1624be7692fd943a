// The typed C++ entry point: image views that carry their own size and pitch,
// and an error result instead of a broken contract.
//
//     std::vector<lq2x::pixel8888> out(4 * w * h);
//     const lq2x::error e = lq2x::scale(lq2x::packed(in.data(), w, h),
//                                       lq2x::packed(out.data(), 2 * w, 2 * h));
//     if (e != lq2x::error::none) std::fprintf(stderr, "%s\n", lq2x::describe(e));
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include <lq2x/lq2x.h>
#include <lq2x/pixel565.h>
#include <lq2x/pixel8888.h>

namespace lq2x {

// Where the scaled frame goes; the C interface's lq2x_orientation says where
// each block lands.
enum class orientation { upright = LQ2X_UPRIGHT, ccw = LQ2X_CCW, cw = LQ2X_CW };

// Pixels of an image in memory: `height` rows of `width` pixels, each row
// `pitch` bytes after the one before. P is pixel565 or pixel8888, const for
// a source.
template <typename P>
struct image_view {
    P* pixels = nullptr;
    std::int32_t width = 0, height = 0;
    std::ptrdiff_t pitch = 0;

    constexpr image_view() = default;
    constexpr image_view(P* pixels_, std::int32_t width_, std::int32_t height_, std::ptrdiff_t pitch_)
        : pixels(pixels_), width(width_), height(height_), pitch(pitch_)
    {
    }
    // A view of writable pixels serves as a source too.
    template <typename Q>
        requires std::is_same_v<const Q, P>
    constexpr image_view(const image_view<Q>& v) : pixels(v.pixels), width(v.width), height(v.height), pitch(v.pitch)
    {
    }
};

// A view of rows with no gap between them.
template <typename P>
constexpr image_view<P> packed(P* pixels, std::int32_t width, std::int32_t height)
{
    return {pixels, width, height, std::ptrdiff_t{width} * std::ptrdiff_t(sizeof(P))};
}

struct size {
    std::int64_t width, height;
};

// The output size for a source of width x height: 2*width x 2*height upright,
// 2*height x 2*width turned.
constexpr size scaled_size(std::int64_t width, std::int64_t height, orientation turn)
{
    return turn == orientation::upright ? size{2 * width, 2 * height} : size{2 * height, 2 * width};
}

// What a frame's border pixels see beyond it, on one axis (see lq2x_edge).
enum class edge { clamp = LQ2X_EDGE_CLAMP, wrap = LQ2X_EDGE_WRAP, transparent = LQ2X_EDGE_TRANSPARENT };

// A tile grid (see lq2x_options): cells of width x height pixels, `margin`
// pixels from the left and top, `spacing` pixels apart. 0 x 0: no grid.
struct grid {
    std::int32_t width = 0, height = 0, margin = 0, spacing = 0;
};

// The C interface's status codes, by name.
enum class error {
    none = LQ2X_OK,
    bad_size = LQ2X_ERROR_BAD_SIZE,
    null_pixels = LQ2X_ERROR_NULL_PIXELS,
    bad_pitch = LQ2X_ERROR_BAD_PITCH,
    output_too_small = LQ2X_ERROR_OUTPUT_TOO_SMALL,
    overlap = LQ2X_ERROR_OVERLAP,
    bad_options = LQ2X_ERROR_BAD_OPTIONS,
    bad_rows = LQ2X_ERROR_BAD_ROWS,
    bad_grid = LQ2X_ERROR_BAD_GRID,
    no_cell = LQ2X_ERROR_NO_CELL,
    too_large = LQ2X_ERROR_TOO_LARGE,
    bad_layout = LQ2X_ERROR_BAD_LAYOUT,
    no_kernel = LQ2X_ERROR_NO_KERNEL,
    no_memory = LQ2X_ERROR_NO_MEMORY,
    bad_file = LQ2X_ERROR_BAD_FILE,
    cannot_write = LQ2X_ERROR_CANNOT_WRITE,
    null_output = LQ2X_ERROR_NULL_OUTPUT,
    cannot_read = LQ2X_ERROR_CANNOT_READ,
    cannot_save = LQ2X_ERROR_CANNOT_SAVE,
    same_file = LQ2X_ERROR_SAME_FILE,
    output_exists = LQ2X_ERROR_OUTPUT_EXISTS,
};

// One line of English for an error.
inline const char* describe(error e) { return lq2x_describe(lq2x_status(e)); }

// Which implementation of the frame walk runs (see lq2x_kernel).
enum class kernel {
    automatic = LQ2X_KERNEL_AUTO,
    portable = LQ2X_KERNEL_PORTABLE,
    sse41 = LQ2X_KERNEL_SSE41,
    avx2 = LQ2X_KERNEL_AVX2,
    avx512 = LQ2X_KERNEL_AVX512,
    neon = LQ2X_KERNEL_NEON,
    simd128 = LQ2X_KERNEL_SIMD128,
};

// A kernel's name, as the environment variables LQ2X_KERNEL and
// LQ2X_HIDE_KERNELS give it (see lq2x_kernel); "auto" for kernel::automatic.
constexpr const char* kernel_name(kernel k)
{
    switch (k) {
    case kernel::automatic: return "auto";
    case kernel::portable: return "portable";
    case kernel::sse41: return "sse41";
    case kernel::avx2: return "avx2";
    case kernel::avx512: return "avx512";
    case kernel::neon: return "neon";
    case kernel::simd128: return "simd128";
    }
    return "?";
}

// The C interface's lq2x_options, field for field (see there).
struct options {
    orientation turn = orientation::upright;
    int threads = 1; // 0 or less: one per hardware thread
    edge edge_x = edge::clamp, edge_y = edge::clamp;
    grid tile{};
    int scale = 2;       // 2, 4 or 8 (scale_picture; the frame functions take 2 only)
    bool rgb565 = false; // 8-bit pictures through the 16-bit rule (scale_picture only)
    kernel use = kernel::automatic;
    std::uint64_t max_pixels = LQ2X_DEFAULT_MAX_PIXELS; // scale_picture only; 0: no limit
    std::uint64_t band_pixels = 0;                      // scale_picture only; 0: the library's choice
    bool alpha_hides = false; // 32-bit pixels with alpha 0 seen as all zero (see lq2x_options)
};

// Scales src into the top-left scaled_size of dst, placed as options.turn
// says; the rest of dst is left alone. Checks every argument first and
// returns an error, having written nothing, if one is wrong. An empty source
// writes nothing.
LQ2X_API error scale(image_view<const pixel565> src, image_view<pixel565> dst, options opt = {});
LQ2X_API error scale(image_view<const pixel8888> src, image_view<pixel8888> dst, options opt = {});

// The same for source rows [y0, y1) only (0 <= y0 <= y1 <= src.height): their
// blocks and nothing else, with the rows around them read as neighbours. Calls
// for disjoint ranges may run at once; together they write what scale writes.
LQ2X_API error scale_rows(image_view<const pixel565> src, image_view<pixel565> dst, std::int32_t y0, std::int32_t y1,
                          options opt = {});
LQ2X_API error scale_rows(image_view<const pixel8888> src, image_view<pixel8888> dst, std::int32_t y0,
                          std::int32_t y1, options opt = {});

// The kernel that a call with `opt` runs, never kernel::automatic (see
// lq2x_kernel_in_use); out is set only when the result is error::none.
LQ2X_API error kernel_in_use(const options& opt, kernel& out);

// The C interface's options as the typed one takes them, by the C
// interface's rules: NULL is the defaults, fields past the caller's `size`
// keep theirs, and a size the library cannot read, or a field it does not
// know set, is error::bad_options. For libraries and bindings that take
// lq2x_options from their own callers. The values are not checked here.
LQ2X_API error read_options(const lq2x_options* given, options& out);

// How a picture's pixels lie (see lq2x_layout).
enum class layout {
    grey = LQ2X_LAYOUT_GREY,
    grey_alpha = LQ2X_LAYOUT_GREY_ALPHA,
    rgb = LQ2X_LAYOUT_RGB,
    rgba = LQ2X_LAYOUT_RGBA,
    rgb565 = LQ2X_LAYOUT_RGB565,
};

// Bytes a pixel of a layout takes.
constexpr int pixel_bytes(layout l)
{
    switch (l) {
    case layout::grey: return 1;
    case layout::grey_alpha:
    case layout::rgb565: return 2;
    case layout::rgb: return 3;
    case layout::rgba: return 4;
    }
    return 0;
}

// A picture in memory (see lq2x_picture). B is const std::byte for a source.
template <typename B>
struct picture_view {
    B* pixels = nullptr;
    std::int32_t width = 0, height = 0;
    std::ptrdiff_t pitch = 0;
    layout kind = layout::rgba;
};

// The size of the result of scaling a width x height picture (see
// lq2x_picture_size); out is set only when the result is error::none.
LQ2X_API error picture_size(std::int32_t width, std::int32_t height, const options& opt, size& out);

// What a frame function needs for pass `pass` of a picture's passes (see
// lq2x_pass_options); error::bad_options past the last.
LQ2X_API error pass_options(const options& opt, int pass, options& out);

// The layout a picture of layout `in` comes out in (see lq2x_picture_layout).
LQ2X_API error picture_layout(layout in, const options& opt, layout& out);

// Who shows the library's words (see lq2x_door).
enum class door {
    c = LQ2X_DOOR_C,
    tool = LQ2X_DOOR_TOOL,
    python = LQ2X_DOOR_PYTHON,
    page = LQ2X_DOOR_PAGE,
    script = LQ2X_DOOR_SCRIPT,
    gimp = LQ2X_DOOR_GIMP
};

// picture_size's checks with the reason for a refusal in `why`, in the
// door's words ("no error" when there is none); see lq2x_picture_check.
LQ2X_API error picture_check(std::int32_t width, std::int32_t height, const options& opt, door d, std::string& why);

// One setting from its text (see lq2x_set_option): `opt` changed only when
// the text is taken, `why` the door's words for a refusal.
LQ2X_API error set_option(options& opt, std::string_view name, std::string_view text, door d, std::string& why);

// Text with settings written {field}, in the door's words (see lq2x_words).
LQ2X_API std::string words(std::string_view text, door d);

// The setting door d calls `name`, among `kinds` (LQ2X_SETTINGS_SCALING,
// LQ2X_SETTINGS_FILE or both; see lq2x_setting_named): error::none with the
// library's name for it in `setting` and which kind it is in `kind`, or
// error::bad_options with the refusal in the door's words in `setting`.
LQ2X_API error setting_named(std::string_view name, door d, int kinds, std::string& setting, int& kind);

// Scales a whole picture 2x, 4x or 8x, as lq2x_scale_picture does.
LQ2X_API error scale_picture(picture_view<const std::byte> src, picture_view<std::byte> dst, const options& opt = {});

// A picture too large to hold whole, scaled by rows: scale_picture's bands
// and passes, the same result, with the source's rows read from a
// row_source as the bands need them and the result's rows handed to a
// row_sink as they are done. Memory is a few bands of rows, whatever the
// height: the band's window (band_pixels, as for scale_picture) and, with
// a grid, its margin above the cells.
class row_source {
public:
    // Fills `count` rows from `first` on, `pitch` bytes apart, in the
    // layout given to scale_picture_rows. Rows are asked for in order, each
    // once. May throw: the exception passes through scale_picture_rows.
    virtual void read(std::int32_t first, std::int32_t count, std::byte* rows, std::ptrdiff_t pitch) = 0;

protected:
    ~row_source() = default;
};
class row_sink {
public:
    // Takes `count` finished result rows from `first` on, in order; false
    // stops the scaling there (scale_picture_rows then returns
    // error::none). May throw, as row_source::read.
    virtual bool write(std::int32_t first, std::int32_t count, const std::byte* rows, std::ptrdiff_t pitch) = 0;

protected:
    ~row_sink() = default;
};

// Scales a width x height picture of layout `in` into rows of layout `out`.
// Upright only, and without wrap at the top and bottom (both need rows out
// of order): error::bad_options otherwise. opt.max_pixels does not apply
// (nothing whole is held); every other check is scale_picture's.
LQ2X_API error scale_picture_rows(std::int32_t width, std::int32_t height, layout in, row_source& source, layout out,
                                  row_sink& sink, const options& opt = {});

} // namespace lq2x
