// WebP through libwebp, always lossless.
#include "codecs.h"

namespace tool {

animation decode_webp(std::span<const std::uint8_t>, size_limit)
{
    throw failure("reading WebP is not built yet");
}

std::vector<std::uint8_t> encode_webp(const animation&)
{
    throw failure("writing WebP is not built yet");
}

} // namespace tool
