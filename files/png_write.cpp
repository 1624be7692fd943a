// PNG written: the colour type and depth chosen from the pixels (png_form),
// rows packed in bands and compressed on every thread given into one zlib
// stream. An animation stores every frame whole (no rectangles, no
// blending), the first one also as the image that viewers without animation
// show, all in one colour type and depth chosen over every frame.
#include <algorithm>
#include <optional>

#include "deflate_bands.h"
#include "formats.h"
#include "large_buffer.h"
#include "png_chunks.h"
#include "png_form.h"

namespace lq2x::files {

void put_png_row(const png_form& form, const colour_table* palette, std::span<const pixel8888> pixels, layout kind,
                 std::span<std::uint8_t> out)
{
    // Filter byte 0 (none), then the packed samples. Scaled pixel art
    // repeats runs of identical pixels and rows, which deflate's matches
    // catch as they are; filters break them up (every filter set tried
    // wrote larger files, and more slowly).
    out[0] = 0;
    pack_row(form, palette, pixels, kind, out.subspan(1));
}

void write_png(int width, int height, const png_form& form,
               const std::function<void(int first, int count, std::span<std::uint8_t> out)>& rows, int level,
               int threads, const std::function<void(std::span<const std::uint8_t>)>& emit)
{
    std::vector<std::uint8_t> out(std::begin(PNG_SIGNATURE), std::end(PNG_SIGNATURE));
    std::vector<std::uint8_t> data;
    put32(data, std::uint32_t(width));
    put32(data, std::uint32_t(height));
    data.insert(data.end(), {std::uint8_t(form.depth), std::uint8_t(form.colour), 0, 0, 0});
    put_chunk(out, "IHDR", data);
    if (form.colour == png_colour::palette) {
        data.clear();
        for (const pixel8888 p : form.palette)
            for (int c = 0; c < 3; ++c)
                data.push_back(channel(p, c));
        put_chunk(out, "PLTE", data);
        if (form.translucent > 0) {
            data.clear();
            for (int i = 0; i < form.translucent; ++i)
                data.push_back(alpha_of(form.palette[std::size_t(i)]));
            put_chunk(out, "tRNS", data);
        }
    } else if (form.keyed) {
        // The key is given as 16-bit samples at the image's depth.
        data.clear();
        const unsigned step = grey_step(form.depth);
        const int samples = form.colour == png_colour::grey ? 1 : 3;
        for (int c = 0; c < samples; ++c)
            data.insert(data.end(), {0, std::uint8_t(channel(form.key, c) / step)});
        put_chunk(out, "tRNS", data);
    }
    emit(out);

    // The stream goes out in IDAT chunks of IDAT_BYTES as it comes (the
    // last shorter): a chunk's length comes before its data, so a chunk is
    // held until it is whole, and the file never is.
    data.clear();
    const auto put_idat = [&] {
        out.clear();
        put_chunk(out, "IDAT", data);
        emit(out);
        data.clear();
    };
    deflate_rows({form.row_bytes(width) + 1, height, rows}, level, threads, [&](std::span<const std::uint8_t> piece) {
        while (!piece.empty()) {
            const std::size_t n = std::min(piece.size(), IDAT_BYTES - data.size());
            data.insert(data.end(), piece.begin(), piece.begin() + std::ptrdiff_t(n));
            piece = piece.subspan(n);
            if (data.size() == IDAT_BYTES)
                put_idat();
        }
    });
    if (!data.empty())
        put_idat();
    out.clear();
    put_chunk(out, "IEND", {});
    emit(out);
}

namespace {

// A whole PNG of `img` stored in `form`, which must hold its pixels exactly
// (chosen over it, or over images it is among).
std::vector<std::uint8_t> encode_png(const image& img, const png_form& form, int level, int threads)
{
    const std::optional<colour_table> palette =
        form.colour == png_colour::palette ? std::optional<colour_table>(form.palette) : std::nullopt;
    const std::size_t row_bytes = form.row_bytes(img.width);
    const auto make_rows = [&](int first, int count, std::span<std::uint8_t> out) {
        for (int y = first; y < first + count; ++y)
            put_png_row(form, palette ? &*palette : nullptr,
                        {img.pixels.data() + std::size_t(y) * std::size_t(img.width), std::size_t(img.width)},
                        img.kind, out.subspan(std::size_t(y - first) * (row_bytes + 1), row_bytes + 1));
    };
    // Room for the most the file can take is reserved: pages never written
    // cost address space, not memory, and the file is never copied to grow.
    const std::size_t rows_total = (row_bytes + 1) * std::size_t(img.height);
    std::vector<std::uint8_t> out;
    reserve_large(out, rows_total + rows_total / 64 + 12 * (rows_total / IDAT_BYTES + 1) + 2048);
    write_png(img.width, img.height, form, make_rows, level, threads,
              [&](std::span<const std::uint8_t> piece) { out.insert(out.end(), piece.begin(), piece.end()); });
    return out;
}

constexpr std::uint32_t MOST = 0x7FFFFFFF; // PNG's four-byte numbers stop at 2^31 - 1
constexpr std::uint8_t DISPOSE_NONE = 0, BLEND_SOURCE = 0;

} // namespace

std::vector<std::uint8_t> encode_png(const image& img, int level, int threads)
{
    return encode_png(img, choose_form(img), level, threads);
}

std::vector<std::uint8_t> encode_png_animation(const animation& anim, int level, int threads)
{
    check_writable(anim);
    if (anim.frames.size() > MOST)
        throw failure("too many frames for an animated PNG");
    std::vector<const image*> pictures;
    for (const frame& f : anim.frames)
        pictures.push_back(&f.picture);
    const png_form form = choose_form(pictures);
    const image& first = anim.frames.front().picture;

    std::vector<std::uint8_t> out(std::begin(PNG_SIGNATURE), std::end(PNG_SIGNATURE));
    std::uint32_t sequence = 0;
    std::vector<std::uint8_t> fields;
    const auto put_fctl = [&](const frame& f) {
        const auto [num, den] = held_delay(format::png, f.delay);
        fields.clear();
        for (const std::uint32_t v : {sequence++, std::uint32_t(first.width), std::uint32_t(first.height), 0u, 0u})
            put32(fields, v);
        put16(fields, num);
        put16(fields, den);
        fields.insert(fields.end(), {DISPOSE_NONE, BLEND_SOURCE});
        put_chunk(out, "fcTL", fields);
    };
    for (std::size_t i = 0; i < anim.frames.size(); ++i) {
        // Each frame as a still PNG in the common form; its chunks are then
        // taken apart: the first frame's all, the others' image data as fdAT.
        const std::vector<std::uint8_t> one = encode_png(anim.frames[i].picture, form, level, threads);
        bool first_data = true;
        for (std::size_t at = sizeof PNG_SIGNATURE; at < one.size();) {
            const chunk c = next_chunk(one, at);
            if (c.type == tag("IEND"))
                break;
            if (c.type == tag("IDAT") && first_data) {
                put_fctl(anim.frames[i]);
                first_data = false;
            }
            if (i == 0) {
                out.insert(out.end(), c.whole.begin(), c.whole.end());
                if (c.type == tag("IHDR")) {
                    fields.clear();
                    put32(fields, std::uint32_t(anim.frames.size()));
                    put32(fields, held_loops(format::png, anim.loops));
                    put_chunk(out, "acTL", fields);
                }
            } else if (c.type == tag("IDAT")) {
                fields.clear();
                put32(fields, sequence++);
                fields.insert(fields.end(), c.data.begin(), c.data.end());
                put_chunk(out, "fdAT", fields);
            }
        }
    }
    put_chunk(out, "IEND", {});
    return out;
}

} // namespace lq2x::files
