#include "scale.h"

#include "large_buffer.h"

namespace lq2x::files {

image scale(const image& img, const options& opt, door d)
{
    size out{};
    layout kind{};
    if (const error e = picture_size(img.width, img.height, opt, out); e != error::none) {
        std::string why;
        picture_check(img.width, img.height, opt, d, why);
        throw failure(e, why);
    }
    if (const error e = picture_layout(img.kind, opt, kind); e != error::none)
        throw failure(e, describe(e));
    image result{int(out.width), int(out.height), kind, {}};
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
    return result;
}

} // namespace lq2x::files
