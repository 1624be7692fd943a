// Animated PNG read: the animation chunks (acTL, fcTL, fdAT) on top of
// libpng, which knows only still images.
//
// Every chunk is walked and checked (length, checksum, sequence number,
// frame rectangle), then each frame's data is handed to the still reader as
// a PNG of its own (the file's IHDR with the frame's size, its PLTE and
// tRNS, the data as IDAT), so that every colour type, depth and interlacing
// reads exactly as in a still image. The frames are then composited on a
// canvas as a viewer shows them.
#include <algorithm>
#include <string>

#include "animation.h"
#include "formats.h"
#include "file_limits.h"
#include "png_chunks.h"

namespace lq2x::files {
namespace {

constexpr std::uint32_t MOST = 0x7FFFFFFF; // PNG's four-byte numbers stop at 2^31 - 1

enum dispose_op : std::uint8_t { DISPOSE_NONE, DISPOSE_BACKGROUND, DISPOSE_PREVIOUS };
enum blend_op : std::uint8_t { BLEND_SOURCE, BLEND_OVER };

// Whether an acTL comes before the image data, which makes the file an
// animation; only chunk headers are looked at. A file too broken to tell is
// left to the still reader, which says what is wrong with it.
bool announces_animation(std::span<const std::uint8_t> file)
{
    if (!has_png_signature(file))
        return false;
    for (std::size_t at = sizeof PNG_SIGNATURE; file.size() - at >= 12;) {
        const std::uint32_t length = get32(file.data() + at), type = get32(file.data() + at + 4);
        if (type == tag("acTL"))
            return true;
        if (type == tag("IDAT") || type == tag("IEND") || length > file.size() - at - 12)
            return false;
        at += std::size_t(length) + 12;
    }
    return false;
}

// A fault in the animation chunks alone. Viewers then show the default
// image, as the format says they should, and so does this reader, with a
// warning; a fault in the picture itself is refused.
struct broken_animation : failure {
    using failure::failure;
};

// One frame as the file describes it.
struct frame_control {
    std::uint32_t width = 0, height = 0, x = 0, y = 0;
    frame_delay delay;
    std::uint8_t dispose = DISPOSE_NONE, blend = BLEND_SOURCE;
    bool from_idat = false;                          // the default image is this frame's data
    std::vector<std::span<const std::uint8_t>> data; // pieces of its zlib stream
};

struct animated_png {
    std::span<const std::uint8_t> header; // IHDR's 13 bytes
    std::uint32_t width = 0, height = 0;
    std::vector<std::span<const std::uint8_t>> copied; // PLTE and tRNS, whole, for every frame
    std::uint32_t plays = 0;
    std::vector<frame_control> frames;
};

frame_control read_fctl(std::span<const std::uint8_t> d, std::size_t index, const animated_png& png, bool over_idat)
{
    frame_control f;
    f.width = get32(&d[4]);
    f.height = get32(&d[8]);
    f.x = get32(&d[12]);
    f.y = get32(&d[16]);
    f.delay = {get16(&d[20]), get16(&d[22])};
    f.dispose = d[24];
    f.blend = d[25];
    f.from_idat = over_idat;
    const std::string which = "frame " + std::to_string(index);
    if (f.width == 0 || f.height == 0)
        throw broken_animation(which + " has no pixels (" + std::to_string(f.width) + " x " + std::to_string(f.height) + ")");
    if (std::uint64_t(f.x) + f.width > png.width || std::uint64_t(f.y) + f.height > png.height)
        throw broken_animation(which + " (" + std::to_string(f.width) + " x " + std::to_string(f.height) + " at " +
                      std::to_string(f.x) + ", " + std::to_string(f.y) + ") reaches outside the " +
                      std::to_string(png.width) + " x " + std::to_string(png.height) + " image");
    if (over_idat && (f.x != 0 || f.y != 0 || f.width != png.width || f.height != png.height))
        throw broken_animation(which + " is the default image but does not cover the whole image");
    if (f.dispose > DISPOSE_PREVIOUS)
        throw broken_animation(which + " has an unknown dispose_op " + std::to_string(f.dispose));
    if (f.blend > BLEND_OVER)
        throw broken_animation(which + " has an unknown blend_op " + std::to_string(f.blend));
    // Nothing comes before the first frame to go back to: its canvas was clear.
    if (index == 0 && f.dispose == DISPOSE_PREVIOUS)
        f.dispose = DISPOSE_BACKGROUND;
    return f;
}

// Every chunk walked and checked; no pixel decoded yet.
animated_png read_chunks(std::span<const std::uint8_t> file, size_limit limit)
{
    animated_png png;
    std::size_t at = sizeof PNG_SIGNATURE;
    const chunk ihdr = next_chunk(file, at);
    if (ihdr.type != tag("IHDR") || ihdr.data.size() != 13)
        throw failure("the first chunk is not a valid IHDR");
    png.header = ihdr.data;
    png.width = get32(&ihdr.data[0]);
    png.height = get32(&ihdr.data[4]);
    check_size(png.width, png.height, limit);

    std::uint64_t announced = 0;
    bool seen_actl = false, in_idat = false, after_idat = false;
    std::uint32_t sequence = 0;
    const auto check_sequence = [&](const chunk& c) {
        if (c.data.size() < 4)
            throw broken_animation("chunk " + c.name() + " is too short for its sequence number");
        if (const std::uint32_t n = get32(c.data.data()); n != sequence)
            throw broken_animation("animation chunks out of sequence: " + c.name() + " numbered " + std::to_string(n) +
                          " where " + std::to_string(sequence) + " was due");
        ++sequence;
    };
    const auto check_has_data = [&] {
        if (!png.frames.empty() && png.frames.back().data.empty())
            throw broken_animation("frame " + std::to_string(png.frames.size() - 1) + " has no image data");
    };
    for (;;) {
        const chunk c = next_chunk(file, at);
        if (c.type == tag("IEND"))
            break;
        if (c.type == tag("IDAT")) {
            if (after_idat)
                throw failure("IDAT chunks are not all together");
            in_idat = true;
            if (!png.frames.empty())
                png.frames.back().data.push_back(c.data);
            continue;
        }
        if (in_idat) {
            in_idat = false;
            after_idat = true;
        }
        if (c.type == tag("acTL")) {
            if (seen_actl || after_idat || c.data.size() != 8)
                throw broken_animation(seen_actl ? "a second acTL chunk" : "a misplaced or malformed acTL chunk");
            seen_actl = true;
            announced = get32(&c.data[0]);
            png.plays = get32(&c.data[4]);
            if (announced == 0)
                throw broken_animation("animation of no frames (acTL says 0)");
            if (announced > MOST || png.plays > MOST)
                throw broken_animation("acTL holds an impossible number");
            check_frames(announced, png.width, png.height, limit); // before any frame is kept
        } else if (c.type == tag("fcTL")) {
            if (c.data.size() != 26)
                throw broken_animation("fcTL chunk of the wrong length");
            check_sequence(c);
            if (!png.frames.empty() && !after_idat)
                throw broken_animation("a second fcTL chunk before the image data");
            check_has_data();
            if (seen_actl && png.frames.size() == announced)
                throw broken_animation("more frames than the " + std::to_string(announced) + " acTL announces");
            png.frames.push_back(read_fctl(c.data, png.frames.size(), png, !after_idat));
        } else if (c.type == tag("fdAT")) {
            check_sequence(c);
            if (png.frames.empty() || png.frames.back().from_idat)
                throw broken_animation("fdAT chunk without an fcTL before it");
            png.frames.back().data.push_back(c.data.subspan(4));
        } else if (c.type == tag("PLTE") || c.type == tag("tRNS")) {
            if (!after_idat)
                png.copied.push_back(c.whole);
        } else if (c.type == tag("IHDR")) {
            throw failure("a second IHDR chunk");
        } else if ((c.type >> 29 & 1) == 0) { // upper case first letter: a chunk the image needs
            throw failure("unknown critical chunk " + c.name());
        }
    }
    if (!in_idat && !after_idat)
        throw failure("no image data (IDAT)");
    check_has_data();
    if (png.frames.size() != announced)
        throw broken_animation("acTL announces " + std::to_string(announced) + " frames, the file has " +
                      std::to_string(png.frames.size()));
    return png;
}

// A frame's pixels, read by the still reader from a PNG of its own.
image decode_frame(const animated_png& png, const frame_control& f, std::size_t index, size_limit limit)
{
    std::size_t bytes = sizeof PNG_SIGNATURE + 25 + 12;
    for (const auto c : png.copied)
        bytes += c.size();
    for (const auto piece : f.data)
        bytes += piece.size() + 12;
    std::vector<std::uint8_t> file(std::begin(PNG_SIGNATURE), std::end(PNG_SIGNATURE));
    file.reserve(bytes);
    std::vector<std::uint8_t> header;
    put32(header, f.width);
    put32(header, f.height);
    header.insert(header.end(), png.header.begin() + 8, png.header.end());
    put_chunk(file, "IHDR", header);
    for (const auto c : png.copied)
        file.insert(file.end(), c.begin(), c.end());
    for (const auto piece : f.data)
        put_chunk(file, "IDAT", piece);
    put_chunk(file, "IEND", {});
    try {
        image img = decode_png(file, limit);
        if (std::uint32_t(img.width) != f.width || std::uint32_t(img.height) != f.height)
            throw failure("read back at the wrong size");
        return img;
    } catch (const failure& e) {
        throw failure(e.status, "frame " + std::to_string(index) + ": " + e.what());
    }
}

} // namespace

animation decode_png_animation(std::span<const std::uint8_t> data, size_limit limit)
{
    if (!announces_animation(data))
        return still(decode_png(data, limit));
    animated_png png;
    try {
        png = read_chunks(data, limit);
    } catch (const broken_animation& e) {
        animation a = still(decode_png(data, limit));
        a.warning = std::string("broken animation (") + e.what() + "): only its default image was read, as a still";
        return a;
    }
    animation a;
    a.animated = true;
    a.loops = png.plays;
    canvas screen(png.width, png.height);
    for (const frame_control& f : png.frames) {
        const image part = decode_frame(png, f, a.frames.size(), limit);
        const rectangle place{f.x, f.y, f.width, f.height};
        screen.begin(place, disposal_of(f.dispose, DISPOSE_BACKGROUND, DISPOSE_PREVIOUS));
        screen.draw(place, part.pixels, f.blend == BLEND_OVER);
        a.frames.push_back({screen.snapshot(int(png.width), int(png.height)), f.delay});
        screen.end();
    }
    return a;
}

} // namespace lq2x::files
