// Raw video through the tool: frames back to back, each scaled and written
// as soon as it is read, so that a program like ffmpeg can feed and take
// them through pipes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "image.h"
#include "scale.h"

namespace tool {

// How a frame's pixels lie, in and out alike.
enum class pixel_layout { rgb24, rgba, rgb565le };

constexpr int pixel_bytes(pixel_layout p) { return p == pixel_layout::rgb24 ? 3 : p == pixel_layout::rgba ? 4 : 2; }

// The names the command line and ffmpeg's -pix_fmt use (rgb565le, not "rgb565").
constexpr std::string_view PIXEL_LAYOUT_NAMES[] = {"rgb24", "rgba", "rgb565le"};
std::optional<pixel_layout> pixel_layout_from_word(std::string_view word);

struct stream_settings {
    int width = 0, height = 0; // of every input frame
    pixel_layout pixel = pixel_layout::rgb24;
    scale_settings scale;      // rgb565le frames are scaled in RGB565 whatever scale.rgb565 says
    size_limit limit;
};

// Reads frames from `input` ("-" is standard input) until its end, and
// writes each one scaled to `output` (as tool::output_file does) in the same
// layout, in memory for one frame whatever the stream's length. Returns the
// number of frames. An input that ends inside a frame is refused (tool::failure)
// after every whole frame before it has been written and the output finished;
// any other failure leaves the output as tool::output_file does.
std::uint64_t scale_stream(const std::string& input, const std::string& output, const stream_settings& s);

} // namespace tool
