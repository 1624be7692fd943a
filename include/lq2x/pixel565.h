// RGB565 pixels, the one averaging operation the scaler needs on them, and
// the conversions to and from 8-bit channels.
#pragma once

#include <array>
#include <bit>
#include <cassert>
#include <cstdint>

namespace lq2x {

// Red in bits 15-11, green in 10-5, blue in 4-0. Two pixels are equal only
// when all sixteen bits are: the scaler has no tolerance anywhere.
using pixel565 = std::uint16_t;

// Per channel: floor((wa * a + wb * b) / (wa + wb)).
// The weights are non-negative and sum to 2, 4, 8 or 16.
// The arithmetic runs on two channel groups, red-and-blue (0xF81F) and green
// (0x07E0), whose channels sit far enough apart that a weighted sum of up to
// 16 never carries from one into the next. The largest intermediate is
// 0xF81F * 16 < 2^20, so 32 bits are plenty; the mask after the shift drops
// the fraction bits each channel leaves in the channel below it, which is
// what makes the result a floor and not a rounding.
constexpr pixel565 blend565(pixel565 a, pixel565 b, unsigned wa, unsigned wb)
{
    constexpr std::uint32_t RED_BLUE = 0xF81F, GREEN = 0x07E0;
    const unsigned sum = wa + wb;
    assert(sum >= 2 && sum <= 16 && std::has_single_bit(sum));
    const int s = std::countr_zero(sum);
    const std::uint32_t rb = (((a & RED_BLUE) * wa + (b & RED_BLUE) * wb) >> s) & RED_BLUE;
    const std::uint32_t g = (((a & GREEN) * wa + (b & GREEN) * wb) >> s) & GREEN;
    return static_cast<pixel565>(rb | g);
}

// 8-bit red, green and blue to RGB565: the top 5, 6 and 5 bits are kept.
constexpr pixel565 rgb888_to_565(std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    return static_cast<pixel565>((r >> 3) << 11 | (g >> 2) << 5 | b >> 3);
}

// RGB565 to 8-bit red, green and blue: each channel moved to the top of its
// byte, low bits zero, so 0xFFFF becomes (248, 252, 248), not white.
constexpr std::array<std::uint8_t, 3> rgb565_to_888(pixel565 p)
{
    return {static_cast<std::uint8_t>((p >> 11) << 3), static_cast<std::uint8_t>(((p >> 5) & 63) << 2),
            static_cast<std::uint8_t>((p & 31) << 3)};
}

} // namespace lq2x
