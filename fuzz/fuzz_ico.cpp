// Fuzz target: the ICO and CUR reader, its largest image and the first two
// by number (a bitmap, through the BMP reader's icon path, or a PNG).
#include <cstddef>
#include <cstdint>

#include "still.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    for (const std::int64_t chosen : {-1, 0, 1}) {
        try {
            fuzz::check_still(files::decode_ico({data, size}, chosen, fuzz::STILL_LIMIT));
        } catch (const files::failure&) {
        }
    }
    return 0;
}
