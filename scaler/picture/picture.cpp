// Whole pictures: any pixel layout in and out, 2x, 4x and 8x. What "scaling
// a picture" means is decided here and nowhere else: how many passes, which
// one turns, how the grid grows, what alpha 0 hides. The tool, the Python
// package and the page all come through here.
//
// The passes run in bands of source rows, each band through every pass
// before the next starts, so no intermediate picture is ever whole in
// memory. A band reads a window of rows around it:
//   - with a grid, bands start where a row of cells starts: cells are scaled
//     on their own, so the window is the band (and the margin before it, to
//     keep the grid in place) and every pass is exact;
//   - without one, the window has two more rows on each side (one at 2x),
//     which the passes spoil from the window's cut edges inwards (2, 6 and
//     14 result rows after one, two and three passes) and which are never
//     kept: two source rows are 16 result rows at 8x. Under wrap the window
//     runs on round the picture's ends, as the picture repeats.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include <lq2x/lq2x.hpp>
#include <lq2x/pixel565.h>
#include <lq2x/pixel8888.h>

#include "scaler/settings/settings.h"
#include "scaler/frame/frame_layer.h"

namespace lq2x {
namespace {

constexpr std::int64_t MAX_32 = INT32_MAX;

// A band's result is about this many pixels unless the options say (8 MiB
// of RGBA): its passes stay in a few MiB, and the four rows a band repeats
// for its neighbours cost a few per cent at most.
constexpr std::uint64_t BAND_PIXELS = std::uint64_t{1} << 21;

int passes_of(int scale) { return scale == 2 ? 1 : scale == 4 ? 2 : scale == 8 ? 3 : 0; }

// Pass `pass` of a checked picture's passes.
options plan_pass(const options& opt, int pass)
{
    options o = opt;
    o.scale = 2;
    o.rgb565 = false;
    o.turn = pass == passes_of(opt.scale) - 1 ? opt.turn : orientation::upright;
    // Past the largest int a cell or spacing is as good as endless; a margin
    // never gets there, being smaller than the picture.
    const auto grow = [pass](std::int32_t v) {
        return std::int32_t(std::min<std::int64_t>(std::int64_t{v} << pass, MAX_32));
    };
    o.tile = {grow(opt.tile.width), grow(opt.tile.height), grow(opt.tile.margin), grow(opt.tile.spacing)};
    // A picture's source is seen with colour under alpha 0 as zero: the
    // colour nobody sees changes nothing. A later pass sees its blends as
    // they are. (RGB565 has no alpha to look at.)
    o.alpha_hides = pass == 0 && !opt.rgb565;
    return o;
}

// Pixels are read as the bytes R, G, B, A (pixel8888 in memory order) or as
// RGB565 words, and written back in any layout.
struct rgba {
    std::uint8_t c[4];
};

rgba read_pixel(const std::byte* p, layout kind)
{
    const auto b = [p](int i) { return std::to_integer<std::uint8_t>(p[i]); };
    switch (kind) {
    case layout::grey: return {{b(0), b(0), b(0), 255}};
    case layout::grey_alpha: return {{b(0), b(0), b(0), b(1)}};
    case layout::rgb: return {{b(0), b(1), b(2), 255}};
    case layout::rgba: return {{b(0), b(1), b(2), b(3)}};
    case layout::rgb565: {
        pixel565 w;
        std::memcpy(&w, p, 2);
        const auto c = rgb565_to_888(w);
        return {{c[0], c[1], c[2], 255}};
    }
    }
    return {};
}

void write_pixel(rgba px, layout kind, std::byte* p)
{
    const auto put = [p](int i, std::uint8_t v) { p[i] = std::byte{v}; };
    switch (kind) {
    case layout::grey: put(0, px.c[0]); return;
    case layout::grey_alpha: put(0, px.c[0]), put(1, px.c[3]); return;
    case layout::rgb: put(0, px.c[0]), put(1, px.c[1]), put(2, px.c[2]); return;
    case layout::rgba: std::memcpy(p, px.c, 4); return;
    case layout::rgb565: {
        const pixel565 w = rgb888_to_565(px.c[0], px.c[1], px.c[2]);
        std::memcpy(p, &w, 2);
        return;
    }
    }
}

// One row of a picture as the pixels the rule sees: alpha 0 hides the
// colour (also before RGB565, which drops alpha and would show it).
// A pixel8888's alpha byte (its fourth in memory), as a mask of the word.
constexpr std::uint32_t ALPHA = std::endian::native == std::endian::little ? 0xFF000000u : 0x000000FFu;

template <typename P>
void read_row(const std::byte* in, layout kind, int width, P* out)
{
    if constexpr (sizeof(P) == 4)
        if (kind == layout::rgba) { // the common case, word by word so that it runs wide
            for (int x = 0; x < width; ++x) {
                std::uint32_t w;
                std::memcpy(&w, in + std::ptrdiff_t{x} * 4, 4);
                out[x] = (w & ALPHA) != 0 ? w : 0;
            }
            return;
        }
    const int step = pixel_bytes(kind);
    if constexpr (sizeof(P) == 2) {
        if (kind == layout::rgb565) {
            std::memcpy(out, in, std::size_t(width) * 2);
            return;
        }
        for (int x = 0; x < width; ++x) {
            const rgba px = read_pixel(in + std::ptrdiff_t{x} * step, kind);
            out[x] = px.c[3] == 0 ? pixel565(0) : rgb888_to_565(px.c[0], px.c[1], px.c[2]);
        }
    } else {
        for (int x = 0; x < width; ++x) {
            const rgba px = read_pixel(in + std::ptrdiff_t{x} * step, kind);
            P p = 0;
            if (px.c[3] != 0)
                std::memcpy(&p, px.c, 4);
            out[x] = p;
        }
    }
}

template <typename P>
void write_row(const P* in, int width, layout kind, std::byte* out)
{
    const int step = pixel_bytes(kind);
    for (int x = 0; x < width; ++x) {
        rgba px;
        if constexpr (sizeof(P) == 2) {
            const auto c = rgb565_to_888(in[x]);
            px = {{c[0], c[1], c[2], 255}};
        } else {
            std::memcpy(px.c, &in[x], 4);
        }
        write_pixel(px, kind, out + std::ptrdiff_t{x} * step);
    }
}

bool aligned(const void* p, std::ptrdiff_t pitch, std::size_t to)
{
    return reinterpret_cast<std::uintptr_t>(p) % to == 0 && std::size_t(pitch) % to == 0;
}

template <typename B>
error check_picture(const picture_view<B>& v)
{
    if (v.pixels == nullptr)
        return error::null_pixels;
    const int bytes = pixel_bytes(v.kind);
    if (v.pitch <= 0 || v.pitch > MAX_32 || v.pitch < std::ptrdiff_t{v.width} * bytes ||
        (v.kind == layout::rgb565 && v.pitch % 2 != 0))
        return error::bad_pitch;
    return error::none;
}

template <typename B>
std::uintptr_t span_bytes(const picture_view<B>& v)
{
    return std::uintptr_t(v.height - 1) * std::uintptr_t(v.pitch) +
           std::uintptr_t(v.width) * std::uintptr_t(pixel_bytes(v.kind));
}

// Where a picture scaled by rows takes its source and leaves its result.
// (Both null for a picture whole in memory.)
struct row_ends {
    row_source* source = nullptr;
    row_sink* sink = nullptr;
};

// A checked picture on its way through the passes, with pixels of type P:
// whole in memory, or (with row_ends) read and written by rows, src_ and
// dst_ then being the rows held, from source row held0_ and result row out0_.
template <typename P>
class picture_job {
public:
    picture_job(picture_view<const std::byte> src, picture_view<std::byte> dst, const options& opt,
                row_ends ends = {})
        : src_(src), dst_(dst), opt_(opt), passes_(passes_of(opt.scale)), factor_(1 << passes_), h_(src.height),
          ends_(ends),
          // The rule reads RGBA or RGB565 in place, and writes them straight
          // to dst, when their bytes are already the pixels it sees.
          src_native_(sizeof(P) == 4 ? src.kind == layout::rgba && aligned(src.pixels, src.pitch, 4)
                                     : src.kind == layout::rgb565 && aligned(src.pixels, src.pitch, 2)),
          dst_native_(sizeof(P) == 4 ? dst.kind == layout::rgba && aligned(dst.pixels, dst.pitch, 4)
                                     : dst.kind == layout::rgb565 && aligned(dst.pixels, dst.pitch, 2))
    {
        // Colour under alpha 0 is read as zero by the walk itself, in place,
        // when there is any. The kernel looks for it first: on a 256 x 224
        // picture the look costs a few hundredths of the scaling, the walk's
        // hiding it everywhere (each pixel once) about a fifteenth, a copy more.
        if (ends_.sink == nullptr)
            hides_ = hidden_colour(0, src.height);
    }

    void run()
    {
        const int w = src_.width, h = h_;
        if (passes_ == 1 && src_native_ && dst_native_ && ends_.sink == nullptr) { // 2x straight through, on every thread at once
            detail::scale_checked<P>(source_rows(0, h), output_view(0, h), 0, h, plan_pass(opt_, 0), hides_);
            return;
        }
        const std::uint64_t per_row = std::uint64_t(w) * std::uint64_t(factor_ * factor_);
        const std::uint64_t pixels = opt_.band_pixels != 0 ? opt_.band_pixels : BAND_PIXELS;
        const int rows = int(std::clamp<std::uint64_t>(pixels / per_row, 1, std::uint64_t(h)));
        for (int l0 = 0; l0 < h;) {
            const int l1 = band_end(l0, rows);
            if (!band(l0, l1))
                return;
            l0 = l1;
        }
    }

private:
    // Where a band that starts at l0 and wants `rows` rows ends: with a grid,
    // where a row of cells starts (or the picture ends).
    int band_end(int l0, int rows) const
    {
        const int h = h_;
        const std::int64_t want = std::int64_t{l0} + rows;
        if (want >= h)
            return h;
        const grid& g = opt_.tile;
        if (g.width == 0)
            return int(want);
        if (want <= g.margin)
            return std::min(g.margin, h);
        const std::int64_t period = std::int64_t{g.height} + g.spacing;
        const std::int64_t next = g.margin + (want - g.margin + period - 1) / period * period;
        return int(std::min<std::int64_t>(next, h));
    }

    // Source rows [y0, y1) in place, as frame pixels.
    image_view<const P> source_rows(int y0, int y1) const
    {
        return {reinterpret_cast<const P*>(src_.pixels + std::ptrdiff_t{y0 - held0_} * src_.pitch), src_.width,
                y1 - y0, src_.pitch};
    }

    // Whether source rows [y0, y1), read in place, have colour under alpha 0
    // for the walk to hide.
    bool hidden_colour(int y0, int y1) const
    {
        if constexpr (sizeof(P) == 4)
            return src_native_ && plan_pass(opt_, 0).alpha_hides && detail::hides_colour(source_rows(y0, y1), opt_);
        return false;
    }

    // Scaled by rows: source rows [w0, w1) held, read on from where the last
    // window ended, and room for their result.
    void hold(int w0, int w1)
    {
        const std::ptrdiff_t pitch = src_.pitch;
        const int kept = std::max(0, held1_ - w0);
        if (kept > 0 && w0 > held0_)
            std::memmove(held_.data(), held_.data() + std::size_t(w0 - held0_) * std::size_t(pitch) / sizeof(P),
                         std::size_t(kept) * std::size_t(pitch));
        held_.resize(std::size_t(w1 - w0) * std::size_t(pitch) / sizeof(P));
        src_.pixels = reinterpret_cast<const std::byte*>(held_.data());
        held0_ = w0;
        if (w1 > held1_)
            ends_.source->read(held1_, w1 - held1_,
                                reinterpret_cast<std::byte*>(held_.data()) + std::ptrdiff_t{held1_ - w0} * pitch, pitch);
        held1_ = w1;
        hides_ = hidden_colour(w0, w1);
        out0_ = std::int64_t{w0} * factor_;
        made_.resize(std::size_t(w1 - w0) * std::size_t(factor_) * std::size_t(dst_.pitch) / sizeof(P));
        dst_.pixels = reinterpret_cast<std::byte*>(made_.data());
    }

    // dst as frame pixels from source row y0 on: the result of a window of
    // rows [y0, y1), placed as the turn places it.
    image_view<P> output_view(int y0, int y1) const
    {
        const std::int64_t f = factor_, across = std::int64_t{src_.width} * f, along = std::int64_t{y1 - y0} * f;
        std::byte* at = dst_.pixels;
        switch (opt_.turn) {
        case orientation::upright:
            return {reinterpret_cast<P*>(at + (y0 * f - out0_) * dst_.pitch), std::int32_t(across), std::int32_t(along),
                    dst_.pitch};
        case orientation::ccw: at += y0 * f * std::int64_t(sizeof(P)); break;
        case orientation::cw: at += (h_ - y1) * f * std::int64_t(sizeof(P)); break;
        }
        return {reinterpret_cast<P*>(at), std::int32_t(along), std::int32_t(across), dst_.pitch};
    }

    // Source rows [l0, l1) through every pass, into dst (and, scaled by
    // rows, to the sink: false when it stops).
    bool band(int l0, int l1)
    {
        const int w = src_.width, h = h_;
        const bool whole = l0 == 0 && l1 == h, cells = opt_.tile.width > 0;
        options o = opt_;
        int w0 = l0, w1 = l1; // the window, in source rows; past the ends under wrap
        bool wraps = false;
        if (!whole && cells) {
            // The band starts a row of cells (or the picture); the window
            // starts a margin earlier, so that the grid lies where it did, and
            // those rows, outside every cell in the window, are not kept.
            if (l0 > 0)
                w0 = l0 - opt_.tile.margin;
        } else if (!whole) {
            const int halo = passes_ == 1 ? 1 : 2;
            if (opt_.edge_y == edge::wrap) {
                w0 = l0 - halo, w1 = l1 + halo, wraps = true;
                o.edge_y = edge::clamp; // the window's own ends are cuts, never kept
            } else {
                w0 = std::max(0, l0 - halo), w1 = std::min(h, l1 + halo);
            }
        }
        if (ends_.sink != nullptr)
            hold(w0, w1);
        // The window's pixels: in place when they are the rule's already and
        // lie in one piece, else read into `in_`.
        image_view<const P> cur;
        bool hides = false; // whether cur is the source, read in place with colour under alpha 0
        if (src_native_ && !wraps) {
            hides = hides_;
            cur = source_rows(w0, w1);
        } else {
            in_.resize(std::size_t(w) * std::size_t(w1 - w0));
            for (int y = w0; y < w1; ++y)
                read_row(src_.pixels + std::ptrdiff_t{(y % h + h) % h - held0_} * src_.pitch, src_.kind, w,
                         in_.data() + std::size_t(y - w0) * std::size_t(w));
            cur = packed<const P>(in_.data(), w, w1 - w0);
        }
        for (int pass = 0; pass + 1 < passes_; ++pass) {
            std::vector<P>& next = pass % 2 == 0 ? a_ : b_;
            next.resize(std::size_t(4) * std::size_t(cur.width) * std::size_t(cur.height));
            const image_view<P> out = packed(next.data(), 2 * cur.width, 2 * cur.height);
            detail::scale_checked<P>(cur, out, 0, cur.height, plan_pass(o, pass), hides);
            cur = out;
            hides = false;
        }
        // The last pass writes the kept rows alone.
        const int grown = factor_ / 2, k0 = (l0 - w0) * grown, k1 = (l1 - w0) * grown;
        const options last = plan_pass(o, passes_ - 1);
        if (dst_native_ && !wraps) {
            detail::scale_checked<P>(cur, output_view(w0, w1), k0, k1, last, hides);
        } else {
            const size out = scaled_size(cur.width, cur.height, o.turn);
            out_band_.resize(std::size_t(out.width) * std::size_t(out.height));
            const image_view<P> made = packed(out_band_.data(), std::int32_t(out.width), std::int32_t(out.height));
            detail::scale_checked<P>(cur, made, k0, k1, last, hides);
            copy_out(made, l0, l1, w0, w1);
        }
        if (ends_.sink == nullptr)
            return true;
        const std::int64_t first = std::int64_t{l0} * factor_;
        return ends_.sink->write(std::int32_t(first), (l1 - l0) * factor_, dst_.pixels + (first - out0_) * dst_.pitch,
                                  dst_.pitch);
    }

    // The kept part of a window's result [w0, w1), source rows [l0, l1), to dst.
    void copy_out(image_view<P> made, int l0, int l1, int w0, int w1)
    {
        const std::int64_t f = factor_;
        std::int64_t from_x = 0, from_y = 0, to_x = 0, to_y = 0, width = made.width, height = made.height;
        switch (opt_.turn) {
        case orientation::upright:
            from_y = (l0 - w0) * f, to_y = l0 * f - out0_, height = (l1 - l0) * f;
            break;
        case orientation::ccw:
            from_x = (l0 - w0) * f, to_x = l0 * f, width = (l1 - l0) * f;
            break;
        case orientation::cw:
            from_x = (w1 - l1) * f, to_x = (h_ - l1) * f, width = (l1 - l0) * f;
            break;
        }
        const int bytes = pixel_bytes(dst_.kind);
        for (std::int64_t y = 0; y < height; ++y)
            write_row(offset_bytes(made.pixels, (from_y + y) * made.pitch) + from_x, int(width), dst_.kind,
                      dst_.pixels + (to_y + y) * dst_.pitch + to_x * bytes);
    }

    template <typename Q>
    static Q* offset_bytes(Q* p, std::ptrdiff_t bytes)
    {
        return reinterpret_cast<Q*>(reinterpret_cast<std::byte*>(p) + bytes);
    }

    picture_view<const std::byte> src_;
    picture_view<std::byte> dst_;
    options opt_;
    int passes_, factor_, h_; // h_: the whole picture's height
    row_ends ends_;
    bool src_native_, dst_native_, hides_ = false;
    std::vector<P> in_, a_, b_, out_band_; // a band's window, its passes and its result, reused
    // Scaled by rows: the source rows held [held0_, held1_) and the result's
    // rows from out0_ on (in P, which aligns them for the rule).
    std::vector<P> held_, made_;
    int held0_ = 0, held1_ = 0;
    std::int64_t out0_ = 0;
};

} // namespace

error pass_options(const options& opt, int pass, options& out)
{
    if (const error e = detail::check_options(opt); e != error::none)
        return e;
    if (pass < 0 || pass >= passes_of(opt.scale))
        return error::bad_options;
    out = plan_pass(opt, pass);
    return error::none;
}

namespace detail {

error picture_size(std::int32_t width, std::int32_t height, const options& opt, size& out, std::string* why)
{
    const auto refuse = [why](error e, std::string text) {
        if (why != nullptr)
            *why = std::move(text);
        return e;
    };
    if (const error e = check_options(opt, why); e != error::none)
        return e;
    const int passes = passes_of(opt.scale);
    if (passes == 0)
        return check_value(opt, field::scale, why);
    const std::string given = std::to_string(width) + " x " + std::to_string(height);
    if (width < 0 || height < 0)
        return refuse(error::bad_size, "image size " + given + " is negative");
    if (const error e = check_grid_fits(opt.tile, width, height, why); e != error::none)
        return e;
    const std::int64_t f = std::int64_t{1} << passes;
    const size s = opt.turn == orientation::upright ? size{width * f, height * f} : size{height * f, width * f};
    const std::string result = std::to_string(s.width) + " x " + std::to_string(s.height) + " pixels";
    if (s.width > MAX_32 || s.height > MAX_32)
        return refuse(error::bad_size, "image too large: the result, " + result + ", is longer on a side than " +
                                           std::to_string(MAX_32));
    if (opt.max_pixels != 0 && std::uint64_t(s.width) * std::uint64_t(s.height) > opt.max_pixels)
        return refuse(error::too_large, "image too large: the result, " + result + ", is over the limit of " +
                                            std::to_string(opt.max_pixels) + " pixels ({max_pixels} raises it)");
    out = s;
    return error::none;
}

} // namespace detail

error picture_size(std::int32_t width, std::int32_t height, const options& opt, size& out)
{
    return detail::picture_size(width, height, opt, out, nullptr);
}

error picture_check(std::int32_t width, std::int32_t height, const options& opt, door d, std::string& why)
{
    size unused{};
    const error e = detail::picture_size(width, height, opt, unused, &why);
    why = e == error::none ? describe(e) : words(why, d);
    return e;
}

error picture_layout(layout in, const options& opt, layout& out)
{
    if (pixel_bytes(in) == 0)
        return error::bad_layout;
    const bool transparent_edge = opt.edge_x == edge::transparent || opt.edge_y == edge::transparent;
    if (in == layout::rgb565)
        out = in;
    else if (opt.rgb565)
        out = layout::rgb;
    else if (transparent_edge && in == layout::grey)
        out = layout::grey_alpha;
    else if (transparent_edge && in == layout::rgb)
        out = layout::rgba;
    else
        out = in;
    return error::none;
}

error scale_picture(picture_view<const std::byte> src, picture_view<std::byte> dst, const options& opt)
{
    const auto known = [](layout l) { return pixel_bytes(l) != 0; };
    if (!known(src.kind) || !known(dst.kind))
        return error::bad_layout;
    size need{};
    if (const error e = picture_size(src.width, src.height, opt, need); e != error::none)
        return e;
    if (src.width == 0 || src.height == 0)
        return error::none;
    if (const error e = check_picture(src); e != error::none)
        return e;
    if (dst.width < 0 || dst.height < 0)
        return error::bad_size;
    if (dst.width < need.width || dst.height < need.height)
        return error::output_too_small;
    if (const error e = check_picture(dst); e != error::none)
        return e;
    picture_view<std::byte> used = dst;
    used.width = std::int32_t(need.width);
    used.height = std::int32_t(need.height);
    const auto a = reinterpret_cast<std::uintptr_t>(src.pixels), b = reinterpret_cast<std::uintptr_t>(dst.pixels);
    if (a < b + span_bytes(used) && b < a + span_bytes(src))
        return error::overlap;
    try {
        if (src.kind == layout::rgb565 || opt.rgb565)
            picture_job<pixel565>(src, used, opt).run();
        else
            picture_job<pixel8888>(src, used, opt).run();
    } catch (const std::bad_alloc&) {
        return error::no_memory;
    }
    return error::none;
}

error scale_picture_rows(std::int32_t width, std::int32_t height, layout in, row_source& source, layout out,
                         row_sink& sink, const options& opt)
{
    if (pixel_bytes(in) == 0 || pixel_bytes(out) == 0)
        return error::bad_layout;
    if (opt.turn != orientation::upright || opt.edge_y == edge::wrap)
        return error::bad_options;
    options unbounded = opt;
    unbounded.max_pixels = 0;
    size need{};
    if (const error e = picture_size(width, height, unbounded, need); e != error::none)
        return e;
    if (width == 0 || height == 0)
        return error::none;
    // Rows packed: a pitch the rule's pixels align to, so that RGBA (or
    // RGB565) is read and written in place.
    const auto pitch = [](std::int64_t pixels, layout l) {
        const std::int64_t bytes = pixels * pixel_bytes(l);
        return std::ptrdiff_t((bytes + 3) / 4 * 4);
    };
    const picture_view<const std::byte> src{nullptr, width, height, pitch(width, in), in};
    const picture_view<std::byte> dst{nullptr, std::int32_t(need.width), std::int32_t(need.height),
                                      pitch(need.width, out), out};
    try {
        if (in == layout::rgb565 || opt.rgb565)
            picture_job<pixel565>(src, dst, unbounded, row_ends{&source, &sink}).run();
        else
            picture_job<pixel8888>(src, dst, unbounded, row_ends{&source, &sink}).run();
    } catch (const std::bad_alloc&) {
        return error::no_memory;
    }
    return error::none;
}

} // namespace lq2x
