#include "file_limits.h"

#include "image.h"

namespace lq2x::files {

void check_size(std::int64_t width, std::int64_t height, size_limit limit)
{
    if (width <= 0 || height <= 0)
        throw failure("image has no pixels (" + std::to_string(width) + " x " + std::to_string(height) + ")");
    if (width > MAX_SIDE || height > MAX_SIDE ||
        std::uint64_t(width) * std::uint64_t(height) > limit.max_input_pixels())
        throw failure(error::too_large, "image too large: " + std::to_string(width) + " x " + std::to_string(height) +
                                            " pixels, over the limit of " + std::to_string(limit.max_pixels) +
                                            " output pixels (--max-pixels raises it)");
}

void check_frames(std::uint64_t count, std::int64_t width, std::int64_t height, size_limit limit)
{
    check_size(width, height, limit);
    const std::uint64_t growth = limit.growth > 0 ? limit.growth : 1;
    const std::uint64_t most = limit.max_pixels / (std::uint64_t(width) * std::uint64_t(height) * growth + FRAME_COST_PIXELS);
    if (count > most)
        throw failure(error::too_large, "animation too large: " + std::to_string(count) + " frames of " +
                                            std::to_string(width) + " x " + std::to_string(height) +
                                            " pixels, over the limit of " + std::to_string(limit.max_pixels) +
                                            " output pixels for all frames together, " +
                                            std::to_string(FRAME_COST_PIXELS) + " more counted a frame (--max-pixels raises it)");
}

read_limit input_limit(std::optional<std::pair<int, int>> raw_size, size_limit limit)
{
    if (raw_size) {
        const auto [width, height] = *raw_size;
        check_size(width, height, limit);
        const std::uint64_t bytes = std::uint64_t(width) * std::uint64_t(height) * 3;
        return {bytes, "raw RGB of " + std::to_string(width) + " x " + std::to_string(height) + " is " +
                           std::to_string(bytes) + " bytes, the input has more", error::bad_file};
    }
    constexpr std::uint64_t MOST_PER_PIXEL = 10, ROOM = 16 << 20;
    const std::uint64_t bytes = limit.max_input_pixels() * MOST_PER_PIXEL + ROOM;
    return {bytes, "input too large: over " + std::to_string(bytes) + " bytes, more than an image within the limit of " +
                       std::to_string(limit.max_pixels) + " output pixels takes (--max-pixels raises it)"};
}

} // namespace lq2x::files
