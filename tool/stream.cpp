#include "stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "files.h"

namespace tool {
namespace {

// Fills `frame` from fd; fewer bytes only at the input's end.
std::size_t read_frame(int fd, std::span<std::uint8_t> frame)
{
    std::size_t got = 0;
    while (got < frame.size()) {
        const ssize_t n = ::read(fd, frame.data() + got, frame.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw failure(std::string("cannot read: ") + std::strerror(errno));
        if (n == 0)
            break;
        got += std::size_t(n);
    }
    return got;
}

// A frame's bytes as the tool's picture. RGB565 goes to the top bits of
// each byte, where scaling in RGB565 takes it from again, so it stays exact.
void unpack(std::span<const std::uint8_t> in, pixel_layout p, image& img)
{
    std::uint8_t* out = img.bytes();
    const std::size_t count = img.pixels.size();
    switch (p) {
    case pixel_layout::rgb24:
        for (std::size_t i = 0; i < count; ++i) {
            std::memcpy(out + 4 * i, in.data() + 3 * i, 3);
            out[4 * i + 3] = 0xFF;
        }
        break;
    case pixel_layout::rgba:
        std::memcpy(out, in.data(), 4 * count);
        break;
    case pixel_layout::rgb565le:
        for (std::size_t i = 0; i < count; ++i) {
            const auto rgb = lq2x::rgb565_to_888(pixel565(in[2 * i] | in[2 * i + 1] << 8));
            std::copy(rgb.begin(), rgb.end(), out + 4 * i);
            out[4 * i + 3] = 0xFF;
        }
        break;
    }
}

void pack(const image& img, pixel_layout p, std::vector<std::uint8_t>& out)
{
    const std::uint8_t* in = img.bytes();
    const std::size_t count = img.pixels.size();
    out.resize(count * std::size_t(pixel_bytes(p)));
    switch (p) {
    case pixel_layout::rgb24:
        for (std::size_t i = 0; i < count; ++i)
            std::memcpy(out.data() + 3 * i, in + 4 * i, 3);
        break;
    case pixel_layout::rgba:
        std::memcpy(out.data(), in, 4 * count);
        break;
    case pixel_layout::rgb565le:
        for (std::size_t i = 0; i < count; ++i) {
            const pixel565 v = lq2x::rgb888_to_565(in[4 * i], in[4 * i + 1], in[4 * i + 2]);
            out[2 * i] = std::uint8_t(v);
            out[2 * i + 1] = std::uint8_t(v >> 8);
        }
        break;
    }
}

struct input_closer {
    int fd;
    ~input_closer()
    {
        if (fd != STDIN_FILENO)
            ::close(fd);
    }
};

} // namespace

std::optional<pixel_layout> pixel_layout_from_word(std::string_view word)
{
    for (std::size_t i = 0; i < std::size(PIXEL_LAYOUT_NAMES); ++i)
        if (word == PIXEL_LAYOUT_NAMES[i])
            return pixel_layout(i);
    return std::nullopt;
}

std::uint64_t scale_stream(const std::string& input, const std::string& output, const stream_settings& s)
{
    check_size(s.width, s.height, s.limit);
    const int fd = input == "-" ? STDIN_FILENO : ::open(input.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw failure(std::strerror(errno));
    const input_closer closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        throw failure(std::string("cannot read: ") + std::strerror(errno));
    if (S_ISDIR(st.st_mode))
        throw failure(std::strerror(EISDIR));
    widen_pipe(fd);

    scale_settings scale = s.scale;
    if (s.pixel == pixel_layout::rgb565le)
        scale.rgb565 = true;
    const std::size_t pixels = std::size_t(s.width) * std::size_t(s.height);
    std::vector<std::uint8_t> frame(pixels * std::size_t(pixel_bytes(s.pixel))), scaled;
    // The picture's buffer goes into each scaling and comes back as the next one's.
    image img{s.width, s.height, s.pixel == pixel_layout::rgba ? layout::rgba : layout::rgb, {}};
    output_file out(output);
    for (std::uint64_t frames = 0;; ++frames) {
        const std::size_t got = read_frame(fd, frame);
        if (got == 0) {
            out.finish();
            return frames;
        }
        if (got < frame.size()) {
            out.finish();
            throw failure("the stream ends inside a frame (" + std::to_string(got) + " of its " +
                          std::to_string(frame.size()) + " bytes) after " + std::to_string(frames) +
                          " whole frame" + (frames == 1 ? "" : "s") + ", which were written");
        }
        img.width = s.width;
        img.height = s.height;
        img.kind = s.pixel == pixel_layout::rgba ? layout::rgba : layout::rgb;
        img.pixels.resize(pixels);
        unpack(frame, s.pixel, img);
        img = tool::scale(std::move(img), scale);
        pack(img, s.pixel, scaled);
        out.write(scaled);
    }
}

} // namespace tool
