// Fuzz target: the PNG reader.
#include <cstddef>
#include <cstdint>

#include "dispatch.h"
#include "formats.h"

namespace files = lq2x::files;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    try {
        // A small limit keeps huge claimed sizes from spending the fuzzer's memory.
        const files::image img = files::decode_png({data, size}, {std::uint64_t{1} << 22, 1});
        if (img.pixels.size() != std::size_t(img.width) * std::size_t(img.height))
            __builtin_trap();
    } catch (const files::failure&) {
    }
    return 0;
}
