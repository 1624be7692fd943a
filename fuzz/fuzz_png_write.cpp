// Fuzz target: the PNG writer. The first byte gives the width (1 to 64),
// the second the layout, the third the level and thread count; the rest,
// four bytes a pixel, is the picture. Whatever colour type and depth the
// writer picks, reading the file back must give the same pixels.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "dispatch.h"
#include "formats.h"

namespace files = lq2x::files;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 7)
        return 0;
    const int width = data[0] % 64 + 1;
    const auto kind = files::layout(data[1] % 4);
    const int level = data[2] % 10, threads = data[2] / 10 % 3 + 1;
    const std::size_t count = (size - 3) / 4;
    const int height = int(std::max<std::size_t>(1, count / std::size_t(width)));
    files::image img{width, height, kind, std::vector<files::pixel8888>(std::size_t(width) * std::size_t(height))};
    for (std::size_t i = 0; i < img.pixels.size(); ++i)
        std::memcpy(&img.pixels[i], data + 3 + 4 * (i % count), 4);
    try {
        const files::image back = files::decode(files::encode_png(img, level, threads), {});
        if (back.width != width || back.height != height)
            __builtin_trap();
        for (std::size_t i = 0; i < img.pixels.size(); ++i) {
            std::uint8_t want[4], got[4];
            std::memcpy(want, &img.pixels[i], 4);
            std::memcpy(got, &back.pixels[i], 4);
            if (!files::has_alpha(kind))
                want[3] = 255;
            if (std::memcmp(want, got, 4) != 0)
                __builtin_trap();
        }
    } catch (const files::failure&) {
        __builtin_trap(); // a picture in memory can always be written
    }
    return 0;
}
