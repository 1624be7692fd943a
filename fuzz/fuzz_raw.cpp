// Fuzz target: the raw RGB reader. The first two bytes give the width and
// height the caller would pass with --size; the rest is the file.
#include <cstddef>
#include <cstdint>

#include "dispatch.h"
#include "formats.h"

namespace files = lq2x::files;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    try {
        const files::image img = files::decode_raw({data + 2, size - 2}, data[0], data[1], {std::uint64_t{1} << 22, 1});
        if (img.pixels.size() * 3 != size - 2)
            __builtin_trap();
    } catch (const files::failure&) {
    }
    return 0;
}
