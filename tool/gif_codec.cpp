// GIF through giflib.
#include "codecs.h"

namespace tool {

animation decode_gif(std::span<const std::uint8_t>, size_limit)
{
    throw failure("reading GIF is not built yet");
}

std::vector<std::uint8_t> encode_gif(const animation&)
{
    throw failure("writing GIF is not built yet");
}

} // namespace tool
