// What GIF's reader and writer both know of the format beyond giflib.
#pragma once

#include <cstdint>
#include <string_view>

namespace lq2x::files::gif {

constexpr int MOST_COLOURS = 256;    // in a palette
constexpr std::uint32_t FOREVER = 0; // animation::loops

// The application extensions that carry a loop count: the first is written.
constexpr std::string_view LOOP_EXTENSIONS[] = {"NETSCAPE2.0", "ANIMEXTS1.0"};

} // namespace lq2x::files::gif
