// 24-bit RGB bytes to and from RGB565, and the bench's fixed frame size.
#pragma once

#include <array>
#include <cstdint>

#include "scaler/pixel565.h"

inline constexpr int FRAME_WIDTH = 160;
inline constexpr int FRAME_HEIGHT = 102;

// Keeps the top 5, 6 and 5 bits of red, green and blue.
constexpr pixel565 rgb888_to_565(std::uint16_t r, std::uint16_t g, std::uint16_t b)
{
    return static_cast<pixel565>((r >> 3) << 11 | (g >> 2) << 5 | b >> 3);
}

// Each channel moved to the top of its byte, low bits zero: 0xFFFF becomes
// (248, 252, 248), not white.
constexpr std::array<std::uint8_t, 3> rgb565_to_888(pixel565 p)
{
    return {static_cast<std::uint8_t>((p >> 11) << 3),
            static_cast<std::uint8_t>(((p >> 5) & 63) << 2),
            static_cast<std::uint8_t>((p & 31) << 3)};
}
