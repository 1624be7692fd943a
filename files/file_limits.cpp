#include "file_limits.h"

#include <algorithm>

#include "image.h"

namespace lq2x::files {
namespace {

std::string n(std::uint64_t v) { return std::to_string(v); }

} // namespace

void check_size(std::int64_t width, std::int64_t height, size_limit limit)
{
    const std::string size = std::to_string(width) + " x " + std::to_string(height) + " pixels";
    if (width <= 0 || height <= 0)
        throw failure("image has no pixels (" + size + ")");
    if (width > LQ2X_MAX_SIDE || height > LQ2X_MAX_SIDE)
        throw failure(error::too_large, "image too large: " + size + ", longer on a side than " + n(LQ2X_MAX_SIDE));
    const std::uint64_t pixels = std::uint64_t(width) * std::uint64_t(height);
    if (pixels > limit.max_input_pixels())
        throw failure(error::too_large, "image too large: " + size + " scale to " +
                                            n(pixels * std::max<std::uint64_t>(limit.growth, 1)) +
                                            ", over the limit of " + n(limit.max_pixels) + " ({max_pixels} raises it)");
}

void check_streamed_size(std::int64_t width, std::int64_t height, int scale, size_limit limit)
{
    const std::string size = std::to_string(width) + " x " + std::to_string(height) + " pixels";
    if (width <= 0 || height <= 0)
        throw failure("image has no pixels (" + size + ")");
    if (width > LQ2X_MAX_SIDE || height > LQ2X_MAX_SIDE)
        throw failure(error::too_large, "image too large: " + size + ", longer on a side than " + n(LQ2X_MAX_SIDE));
    const std::uint64_t across = std::uint64_t(width) * std::uint64_t(scale),
                        down = std::uint64_t(height) * std::uint64_t(scale);
    const std::string result = n(across) + " x " + n(down) + " pixels";
    if (across > INT32_MAX || down > INT32_MAX)
        throw failure(error::too_large, "image too large: the result, " + result + ", is longer on a side than " +
                                            n(INT32_MAX));
    const std::uint64_t most = limit.max_pixels > LQ2X_MOST_PIXELS / STREAM_GROWTH ? LQ2X_MOST_PIXELS
                                                                                   : limit.max_pixels * STREAM_GROWTH;
    if (across * down > most)
        throw failure(error::too_large, "image too large: " + size + " scale to " + n(across * down) +
                                            ", over the limit of " + n(most) + " pixels for a picture scaled by rows (" +
                                            n(STREAM_GROWTH) + " times {max_pixels}, which raises it)");
    if (across * STREAM_ROWS > limit.max_pixels)
        throw failure(error::too_large, "image too wide: the result's rows of " + n(across) + " pixels, " +
                                            n(STREAM_ROWS) + " of them held at once, are over the limit of " +
                                            n(limit.max_pixels) + " pixels ({max_pixels} raises it)");
}

std::uint64_t most_frames(size_limit limit)
{
    const std::uint64_t by_pixels =
        (limit.max_pixels + FRAME_COST_PIXELS) / (std::max<std::uint64_t>(limit.growth, 1) + FRAME_COST_PIXELS);
    return limit.max_frames != 0 ? std::min(limit.max_frames, by_pixels) : by_pixels;
}

void check_frames(std::uint64_t count, std::int64_t width, std::int64_t height, size_limit limit)
{
    check_size(width, height, limit);
    if (limit.max_frames != 0 && count > limit.max_frames)
        throw failure(error::too_large, "animation too large: " + n(count) + " frames, over the limit of " +
                                            n(limit.max_frames) + " ({max_frames} raises it)");
    const std::uint64_t growth = std::max<std::uint64_t>(limit.growth, 1);
    // Each frame after the first costs FRAME_COST_PIXELS more: a still is
    // held to the limit as any other picture is.
    const std::uint64_t most = (limit.max_pixels + FRAME_COST_PIXELS) /
                               (std::uint64_t(width) * std::uint64_t(height) * growth + FRAME_COST_PIXELS);
    if (count > most)
        throw failure(error::too_large, "animation too large: " + n(count) + " frames of " + std::to_string(width) +
                                            " x " + std::to_string(height) + " pixels, over the limit of " +
                                            n(limit.max_pixels) + " output pixels for all frames together, " +
                                            n(FRAME_COST_PIXELS) + " more counted for each frame after the first "
                                            "({max_pixels} raises it)");
}

disk::read_limit input_limit(std::optional<std::pair<int, int>> raw_size, size_limit limit, std::uint64_t max_bytes)
{
    if (raw_size) {
        const auto [width, height] = *raw_size;
        check_size(width, height, limit);
        const std::uint64_t bytes = std::uint64_t(width) * std::uint64_t(height) * 3;
        return {bytes, "raw RGB of " + std::to_string(width) + " x " + std::to_string(height) + " is " + n(bytes) +
                           " bytes, the input has more", error::bad_file};
    }
    if (max_bytes != 0)
        return {max_bytes, "input too large: over " + n(max_bytes) + " bytes ({max_input_bytes} raises it)"};
    constexpr std::uint64_t MOST_PER_PIXEL = 10, ROOM = 16 << 20;
    const std::uint64_t bytes = limit.max_input_pixels() * MOST_PER_PIXEL + ROOM;
    return {bytes, "input too large: over " + n(bytes) + " bytes, more than an image within the limit of " +
                       n(limit.max_pixels) + " output pixels takes ({max_pixels} raises it)"};
}

} // namespace lq2x::files
