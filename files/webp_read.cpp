// WebP read through libwebp: stills and animations.
//
// Reading. A still (lossy or lossless) is decoded as libwebp decodes it. An
// animation goes through libwebp's animation decoder, which composites every
// frame onto the canvas the way viewers show it: the canvas starts as
// transparent black, whatever background colour the file names (a hint
// only); a frame disposed to the background clears its rectangle to
// transparent black; a blended frame keeps the canvas under its clear
// pixels, puts its opaque ones in place and mixes the rest by libwebp's own
// integer rounding of "over".
#include <webp/decode.h>
#include <webp/demux.h>

#include <cstring>
#include <memory>
#include <new>

#include "formats.h"

namespace lq2x::files {
namespace {

// libwebp's animation decoder looks each frame up from the first, so its
// time grows with the square of the frame count (docs/performance.md has
// the figures); animations of more frames are refused, which keeps a file's
// decoding to a small fraction of a second of that work.
constexpr std::uint32_t MOST_WEBP_FRAMES = 10000;

[[noreturn]] void fail(VP8StatusCode status)
{
    switch (status) {
    case VP8_STATUS_NOT_ENOUGH_DATA: throw failure("truncated WebP data");
    case VP8_STATUS_OUT_OF_MEMORY: throw std::bad_alloc();
    case VP8_STATUS_UNSUPPORTED_FEATURE: throw failure("unsupported WebP feature");
    default: throw failure("corrupt WebP data");
    }
}

image decode_still(std::span<const std::uint8_t> data, const WebPBitstreamFeatures& features, size_limit limit)
{
    check_frames(1, features.width, features.height, limit);
    image img{features.width, features.height, layout::rgba,
              std::vector<pixel8888>(std::size_t(features.width) * std::size_t(features.height))};
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config))
        throw failure("libwebp version mismatch");
    config.output.colorspace = MODE_RGBA;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = img.bytes();
    config.output.u.RGBA.stride = features.width * 4;
    config.output.u.RGBA.size = img.pixels.size() * 4;
    const VP8StatusCode status = WebPDecode(data.data(), data.size(), &config);
    WebPFreeDecBuffer(&config.output);
    if (status != VP8_STATUS_OK)
        fail(status);
    img.kind = layout_of_frame(img.pixels);
    return img;
}

// Why the demuxer refused the file: it wants every chunk whole.
const char* animation_reason(const WebPData& data)
{
    WebPDemuxState state = WEBP_DEMUX_PARSE_ERROR;
    WebPDemuxDelete(WebPDemuxPartial(&data, &state));
    return state == WEBP_DEMUX_PARSING_HEADER || state == WEBP_DEMUX_PARSED_HEADER ? "truncated WebP data"
                                                                                     : "corrupt WebP animation";
}

animation decode_animated(std::span<const std::uint8_t> data, const WebPBitstreamFeatures& features, size_limit limit)
{
    // The decoder takes two canvases as soon as it is made; its demuxer
    // before that only a small record for each frame the file holds.
    check_size(features.width, features.height, limit);
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options))
        throw failure("libwebp version mismatch");
    options.color_mode = MODE_RGBA;
    options.use_threads = 0;
    const WebPData whole{data.data(), data.size()};
    using decoder_ptr = std::unique_ptr<WebPAnimDecoder, decltype(&WebPAnimDecoderDelete)>;
    const decoder_ptr dec(WebPAnimDecoderNew(&whole, &options), WebPAnimDecoderDelete);
    if (!dec)
        throw failure(animation_reason(whole));
    WebPAnimInfo info;
    if (!WebPAnimDecoderGetInfo(dec.get(), &info))
        throw failure("corrupt WebP animation");
    if (info.frame_count == 0)
        throw failure("WebP animation without frames");
    if (info.frame_count > MOST_WEBP_FRAMES)
        throw failure(error::too_large, "WebP animation of " + std::to_string(info.frame_count) +
                                            " frames: this reader takes at most " + std::to_string(MOST_WEBP_FRAMES) +
                                            "");
    check_frames(info.frame_count, info.canvas_width, info.canvas_height, limit);

    animation anim;
    anim.animated = true;
    anim.loops = info.loop_count;
    anim.frames.reserve(info.frame_count);
    const std::size_t pixels = std::size_t(info.canvas_width) * info.canvas_height;
    // Timestamps are where each frame ends; libwebp sums them in an int, so
    // differences are taken modulo 2^32, which undoes any wrap.
    std::uint32_t end = 0;
    for (std::uint32_t i = 0; i < info.frame_count; ++i) {
        std::uint8_t* canvas = nullptr;
        int timestamp = 0;
        if (!WebPAnimDecoderGetNext(dec.get(), &canvas, &timestamp))
            throw failure("corrupt WebP data in frame " + std::to_string(i));
        image img{int(info.canvas_width), int(info.canvas_height), layout::rgba, std::vector<pixel8888>(pixels)};
        std::memcpy(img.bytes(), canvas, pixels * 4);
        img.kind = layout_of_frame(img.pixels);
        const std::uint32_t delay = std::uint32_t(timestamp) - end;
        end = std::uint32_t(timestamp);
        anim.frames.push_back({std::move(img), {delay, 1000}});
    }
    return anim;
}

} // namespace

animation decode_webp(std::span<const std::uint8_t> data, size_limit limit)
{
    WebPBitstreamFeatures features;
    const VP8StatusCode status = WebPGetFeatures(data.data(), data.size(), &features);
    if (status != VP8_STATUS_OK)
        fail(status);
    if (features.has_animation)
        return decode_animated(data, features, limit);
    return still(decode_still(data, features, limit));
}

} // namespace lq2x::files
