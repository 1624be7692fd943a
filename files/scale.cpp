#include "scale.h"

#include <algorithm>

#include "large_buffer.h"

namespace lq2x::files {

image scale(const image& img, const options& opt)
{
    size out{};
    if (const error e = picture_size(img.width, img.height, opt, out); e != error::none)
        throw failure(e, describe(e));
    image result{int(out.width), int(out.height), img.kind, {}};
    const std::size_t count = std::size_t(out.width) * std::size_t(out.height);
    reserve_large(result.pixels, count, filling::whole);
    result.pixels.resize(count);
    const auto pitch = [](const image& i) { return std::ptrdiff_t(i.width) * std::ptrdiff_t(sizeof(pixel8888)); };
    const error e = scale_picture({reinterpret_cast<const std::byte*>(img.pixels.data()), img.width, img.height,
                                   pitch(img), layout::rgba},
                                  {reinterpret_cast<std::byte*>(result.pixels.data()), result.width, result.height,
                                   pitch(result), layout::rgba},
                                  opt);
    if (e != error::none)
        throw failure(e, describe(e));
    if (opt.rgb565)
        result.kind = layout::rgb;
    else if (!has_alpha(img.kind) &&
             std::any_of(result.pixels.begin(), result.pixels.end(), [](pixel8888 p) { return alpha_of(p) != 0xFF; }))
        result.kind = is_grey(img.kind) ? layout::grey_alpha : layout::rgba;
    return result;
}

} // namespace lq2x::files
