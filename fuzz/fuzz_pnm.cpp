// Fuzz target: the PGM, PPM and PAM reader.
#include <cstddef>
#include <cstdint>

#include "codecs.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    try {
        const tool::image img = tool::decode_pnm({data, size}, {std::uint64_t{1} << 22, 1});
        if (img.pixels.size() != std::size_t(img.width) * std::size_t(img.height))
            __builtin_trap();
    } catch (const tool::failure&) {
    }
    return 0;
}
