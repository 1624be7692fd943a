// Fuzz target: the TGA reader. What it reads must also pass the header
// check that sniffing uses (TGA has no signature), whole and as a head.
#include <cstddef>
#include <cstdint>

#include "still.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    try {
        fuzz::check_still(files::decode_tga({data, size}, fuzz::STILL_LIMIT));
        if (!files::looks_like_tga({data, size}, true) || !files::looks_like_tga({data, 16}, false))
            __builtin_trap();
    } catch (const files::failure&) {
    }
    return 0;
}
