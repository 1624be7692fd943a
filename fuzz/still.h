// What the fuzz targets of the readers of still formats (BMP, TGA, ICO,
// PCX) ask of a picture they read.
#pragma once

#include <cstddef>
#include <cstdint>

#include "formats.h"

namespace files = lq2x::files;

namespace fuzz {

// The limit the targets read with: small, so that huge claimed sizes do not
// spend the fuzzer's memory.
constexpr files::size_limit STILL_LIMIT{std::uint64_t{1} << 22, 1};

// Traps unless the picture is whole and within the limit, and its pixels
// are what its layout says: opaque without alpha, grey when grey.
inline void check_still(const files::image& img)
{
    const std::size_t count = std::size_t(img.width) * std::size_t(img.height);
    if (img.width <= 0 || img.height <= 0 || img.pixels.size() != count || count > STILL_LIMIT.max_input_pixels())
        __builtin_trap();
    for (const files::pixel8888 p : img.pixels) {
        if (!files::has_alpha(img.kind) && files::alpha_of(p) != 0xFF)
            __builtin_trap();
        if (files::is_grey(img.kind) && (files::channel(p, 0) != files::channel(p, 1) || files::channel(p, 0) != files::channel(p, 2)))
            __builtin_trap();
    }
}

} // namespace fuzz
