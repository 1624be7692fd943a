// Fuzz target: the PCX reader.
#include <cstddef>
#include <cstdint>

#include "still.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    try {
        fuzz::check_still(files::decode_pcx({data, size}, fuzz::STILL_LIMIT));
    } catch (const files::failure&) {
    }
    return 0;
}
