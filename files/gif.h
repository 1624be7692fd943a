// What GIF's reader and writer both know of the format beyond giflib, and
// the settings that let the writer make a GIF of frames it cannot hold.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lq2x::files::gif {

constexpr int MOST_COLOURS = 256;    // in a palette
constexpr std::uint32_t FOREVER = 0; // animation::loops

// The application extensions that carry a loop count: the first is written.
constexpr std::string_view LOOP_EXTENSIONS[] = {"NETSCAPE2.0", "ANIMEXTS1.0"};

// What the writer may change to make frames fit, each asked for by name
// (file_options' gif_alpha, gif_colours and gif_shares); all 0: exact or refused.
struct fit {
    int alpha = 0;          // 1 to 255: alpha below this transparent, the rest opaque
    int colours = 0;        // 2 to 256: frames of more colours reduced to this many
    bool per_frame = false; // with colours: a palette each rather than one shared
};

// The settings as the library's messages name them ({field}): each door puts
// its own name in (--gif-alpha for the tool, gif_alpha for Python).
enum class setting { alpha, colours, palette };
inline std::string setting_name(setting s)
{
    switch (s) {
    case setting::alpha: return "{gif_alpha}";
    case setting::colours: return "{gif_colours}";
    case setting::palette: return "{gif_palette}";
    }
    return "";
}

} // namespace lq2x::files::gif
