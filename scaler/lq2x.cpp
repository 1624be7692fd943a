#include "lq2x.h"

#include <cstdint>
#include <limits>

namespace lq2x {
namespace {

constexpr std::int64_t MAX_32 = std::numeric_limits<std::int32_t>::max();

template <typename P>
error check_view(const image_view<P>& v)
{
    if (v.width < 0 || v.height < 0)
        return error::bad_size;
    if (v.width == 0 || v.height == 0)
        return error::none;
    if (v.pixels == nullptr)
        return error::null_pixels;
    if (v.pitch <= 0 || v.pitch > MAX_32 || v.pitch % std::ptrdiff_t(sizeof(P)) != 0 ||
        v.pitch < std::ptrdiff_t{v.width} * std::ptrdiff_t(sizeof(P)))
        return error::bad_pitch;
    return error::none;
}

// The bytes a view spans, first to last pixel.
template <typename P>
std::uintptr_t span_bytes(const image_view<P>& v)
{
    return std::uintptr_t(v.height - 1) * std::uintptr_t(v.pitch) + std::uintptr_t(v.width) * sizeof(P);
}

template <typename P>
error checked_scale(image_view<const P> src, image_view<P> dst, options opt)
{
    if (const error e = check_view(src); e != error::none)
        return e;
    const size need = scaled_size(src.width, src.height, opt.turn);
    if (need.width > MAX_32 || need.height > MAX_32)
        return error::bad_size;
    if (src.width == 0 || src.height == 0)
        return error::none;
    if (const error e = check_view(dst); e != error::none)
        return e;
    if (dst.width < need.width || dst.height < need.height)
        return error::output_too_small;

    image_view<P> out = dst;
    out.width = std::int32_t(need.width);
    out.height = std::int32_t(need.height);
    const auto a = reinterpret_cast<std::uintptr_t>(src.pixels), b = reinterpret_cast<std::uintptr_t>(out.pixels);
    if (a < b + span_bytes(out) && b < a + span_bytes(src))
        return error::overlap;

    const auto src_pitch = std::int32_t(src.pitch), dst_pitch = std::int32_t(dst.pitch);
    if constexpr (sizeof(P) == 2)
        lq2x_scale565(src.pixels, src_pitch, dst.pixels, dst_pitch, src.width, src.height, opt.turn, opt.threads);
    else
        lq2x_scale8888(src.pixels, src_pitch, dst.pixels, dst_pitch, src.width, src.height, opt.turn, opt.threads);
    return error::none;
}

} // namespace

const char* describe(error e)
{
    switch (e) {
    case error::none: return "no error";
    case error::bad_size: return "image size is negative or too large";
    case error::null_pixels: return "image has no pixels";
    case error::bad_pitch: return "row pitch is not a whole number of pixels at least one row long";
    case error::output_too_small: return "output image is smaller than the scaled image";
    case error::overlap: return "source and output images overlap";
    }
    return "unknown error";
}

error scale(image_view<const pixel565> src, image_view<pixel565> dst, options opt)
{
    return checked_scale(src, dst, opt);
}

error scale(image_view<const pixel8888> src, image_view<pixel8888> dst, options opt)
{
    return checked_scale(src, dst, opt);
}

} // namespace lq2x
