// WebP written through libwebp: always lossless and exact.
//
// Writing. A still is one lossless image. An animation is made by libwebp's
// animation encoder from whole frames: it stores each frame as the smallest
// rectangle that changed, and picks the disposal and blending that keep
// every pixel exact (lossless only, invisible colour kept). It also folds a
// frame that repeats the one before into that one's time (and frames that
// all repeat the first into a still); each folded frame is put back as a
// copy of the frame it repeats, so every frame, delay and the loop count
// are kept. A single frame is written as a still, as libwebp's muxer does:
// it has no delay to keep.
#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <memory>
#include <new>
#include <string>

#include "formats.h"

namespace lq2x::files {
namespace {


// Lossless effort: method 2 at quality 50 is the knee between size and time
// on pixel art (docs/performance.md has the measurements).
constexpr int METHOD = 2;
constexpr float QUALITY = 50;

// Key frames (whole frames, drawn without the ones before, so that a
// player can start there) at least KEYFRAME_MIN and at most KEYFRAME_MAX
// frames apart, as libwebp's gif2webp makes lossless animations; what that
// costs in size is in docs/performance.md.
constexpr int KEYFRAME_MIN = 9;
constexpr int KEYFRAME_MAX = 17;

// libwebp's picture with its pixels, freed on every way out.
struct picture {
    WebPPicture pic;

    explicit picture(const image& img)
    {
        if (!WebPPictureInit(&pic))
            throw failure("libwebp version mismatch");
        pic.use_argb = 1;
        pic.width = img.width;
        pic.height = img.height;
        const int stride = img.width * 4;
        const int ok = has_alpha(img.kind) ? WebPPictureImportRGBA(&pic, img.bytes(), stride)
                                           : WebPPictureImportRGBX(&pic, img.bytes(), stride);
        if (!ok) {
            WebPPictureFree(&pic);
            throw std::bad_alloc();
        }
    }
    ~picture() { WebPPictureFree(&pic); }
    picture(const picture&) = delete;
    picture& operator=(const picture&) = delete;
};

WebPConfig lossless_config()
{
    WebPConfig config;
    if (!WebPConfigInit(&config))
        throw failure("libwebp version mismatch");
    config.lossless = 1;
    config.exact = 1; // the colour under transparent pixels is kept as given
    config.method = METHOD;
    config.quality = QUALITY;
    config.thread_level = 0;
    if (!WebPValidateConfig(&config))
        throw failure("invalid WebP settings");
    return config;
}

[[noreturn]] void fail(WebPEncodingError error)
{
    switch (error) {
    case VP8_ENC_ERROR_OUT_OF_MEMORY:
    case VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY: throw std::bad_alloc();
    case VP8_ENC_ERROR_FILE_TOO_BIG: throw failure("too large for a WebP file (4 GiB at most)");
    default: throw failure("WebP encoding failed");
    }
}

std::vector<std::uint8_t> encode_still(const image& img)
{
    const WebPConfig config = lossless_config();
    picture p(img);
    WebPMemoryWriter writer;
    WebPMemoryWriterInit(&writer);
    p.pic.writer = WebPMemoryWrite;
    p.pic.custom_ptr = &writer;
    const int ok = WebPEncode(&config, &p.pic);
    std::vector<std::uint8_t> out(writer.mem, writer.mem + (ok ? writer.size : 0));
    WebPMemoryWriterClear(&writer);
    if (!ok)
        fail(p.pic.error_code);
    return out;
}

// libwebp's owned bytes, freed on every way out.
struct owned_data {
    WebPData data;
    owned_data() { WebPDataInit(&data); }
    ~owned_data() { WebPDataClear(&data); }
    owned_data(const owned_data&) = delete;
    owned_data& operator=(const owned_data&) = delete;
};

void check_mux(WebPMuxError error)
{
    if (error == WEBP_MUX_MEMORY_ERROR)
        throw std::bad_alloc();
    if (error != WEBP_MUX_OK)
        throw failure("WebP animation could not be assembled");
}

std::vector<std::uint8_t> encode_animated(const animation& anim)
{
    const int width = anim.frames.front().picture.width, height = anim.frames.front().picture.height;
    WebPAnimEncoderOptions options;
    if (!WebPAnimEncoderOptionsInit(&options))
        throw failure("libwebp version mismatch");
    options.allow_mixed = 0; // lossless frames only
    options.minimize_size = 0;
    options.kmin = KEYFRAME_MIN;
    options.kmax = KEYFRAME_MAX;
    using encoder_ptr = std::unique_ptr<WebPAnimEncoder, decltype(&WebPAnimEncoderDelete)>;
    const encoder_ptr enc(WebPAnimEncoderNew(width, height, &options), WebPAnimEncoderDelete);
    if (!enc)
        throw std::bad_alloc();
    const WebPConfig config = lossless_config();
    // Each frame is given one millisecond, so that every stored frame's
    // duration counts the frames folded into it; the real delays are set
    // below, where they cannot overflow the encoder's sums.
    int timestamp = 0;
    for (const frame& f : anim.frames) {
        picture p(f.picture);
        if (!WebPAnimEncoderAdd(enc.get(), &p.pic, timestamp++, &config))
            throw failure(WebPAnimEncoderGetError(enc.get()));
    }
    owned_data assembled;
    if (!WebPAnimEncoderAdd(enc.get(), nullptr, timestamp, nullptr) ||
        !WebPAnimEncoderAssemble(enc.get(), &assembled.data))
        throw failure(WebPAnimEncoderGetError(enc.get()));

    // Every frame back as it was given: a folded frame is stored again as a
    // copy of the one it repeats. Drawing a stored frame twice changes
    // nothing, since the encoder blends only frames whose pixels are opaque
    // or clear; the copies keep the canvas (no disposal) until the last.
    using mux_ptr = std::unique_ptr<WebPMux, decltype(&WebPMuxDelete)>;
    const mux_ptr stored(WebPMuxCreate(&assembled.data, 0), WebPMuxDelete);
    if (!stored)
        throw failure("WebP animation could not be assembled");
    int stored_count = 0;
    check_mux(WebPMuxNumChunks(stored.get(), WEBP_CHUNK_ANMF, &stored_count));
    const mux_ptr out(WebPMuxNew(), WebPMuxDelete);
    if (!out)
        throw std::bad_alloc();
    std::size_t next = 0; // the next frame of `anim` to store
    // A still is what the encoder makes of frames that all repeat the first.
    for (int i = 1; i <= std::max(stored_count, 1); ++i) {
        WebPMuxFrameInfo info;
        check_mux(WebPMuxGetFrame(stored.get(), std::uint32_t(i), &info));
        const std::unique_ptr<WebPData, decltype(&WebPDataClear)> bitstream(&info.bitstream, WebPDataClear);
        const std::size_t copies = stored_count == 0 ? anim.frames.size() : std::size_t(info.duration);
        const WebPMuxAnimDispose last_dispose = stored_count == 0 ? WEBP_MUX_DISPOSE_NONE : info.dispose_method;
        if (stored_count == 0) {
            info.x_offset = info.y_offset = 0;
            info.blend_method = WEBP_MUX_NO_BLEND;
        }
        info.id = WEBP_CHUNK_ANMF;
        if (copies == 0 || copies > anim.frames.size() - next)
            throw failure("WebP animation could not be assembled");
        for (std::size_t c = 0; c < copies; ++c, ++next) {
            info.duration = int(held_delay(format::webp, anim.frames[next].delay).numerator);
            info.dispose_method = c + 1 == copies ? last_dispose : WEBP_MUX_DISPOSE_NONE;
            check_mux(WebPMuxPushFrame(out.get(), &info, 1));
        }
    }
    if (next != anim.frames.size())
        throw failure("WebP animation could not be assembled");
    const WebPMuxAnimParams params{0, int(held_loops(format::webp, anim.loops))};
    check_mux(WebPMuxSetAnimationParams(out.get(), &params));
    check_mux(WebPMuxSetCanvasSize(out.get(), width, height));
    owned_data result;
    check_mux(WebPMuxAssemble(out.get(), &result.data));
    return {result.data.bytes, result.data.bytes + result.data.size};
}

} // namespace

std::vector<std::uint8_t> encode_webp(const animation& anim)
{
    check_writable(anim);
    const image& first = anim.frames.front().picture;
    if (first.width > WEBP_MAX_DIMENSION || first.height > WEBP_MAX_DIMENSION)
        throw failure("WebP holds at most " + std::to_string(WEBP_MAX_DIMENSION) + " pixels a side, the result is " +
                      std::to_string(first.width) + " x " + std::to_string(first.height) + ": write .png");
    // One frame is a still even when it came from an animation: libwebp's
    // muxer stores a single frame that covers the canvas as nothing else.
    if (anim.frames.size() == 1)
        return encode_still(first);
    return encode_animated(anim);
}

} // namespace lq2x::files
