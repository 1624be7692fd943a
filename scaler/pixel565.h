// RGB565 pixels and the one averaging operation the scaler needs.
#pragma once

#include <bit>
#include <cassert>
#include <cstdint>

// Red in bits 15-11, green in 10-5, blue in 4-0. Two pixels are equal only
// when all sixteen bits are: the scaler has no tolerance anywhere.
using pixel565 = std::uint16_t;

// Red-and-blue and green channel groups. Each group's channels sit far enough
// apart that a weighted sum of up to 16 never carries from one into the next.
inline constexpr std::uint32_t RB565_MASK = 0xF81F;
inline constexpr std::uint32_t G565_MASK = 0x07E0;

// Per channel: floor((wa * a + wb * b) / (wa + wb)).
// The weights are non-negative and sum to 2, 4, 8 or 16.
// The largest intermediate is 0xF81F * 16 < 2^20, so 32 bits are plenty; the
// mask after the shift drops the fraction bits each channel leaves in the
// channel below it, which is what makes the result a floor and not a rounding.
constexpr pixel565 blend565(pixel565 a, pixel565 b, unsigned wa, unsigned wb)
{
    const unsigned sum = wa + wb;
    assert(sum >= 2 && sum <= 16 && std::has_single_bit(sum));
    const int s = std::countr_zero(sum);
    const std::uint32_t rb = (((a & RB565_MASK) * wa + (b & RB565_MASK) * wb) >> s) & RB565_MASK;
    const std::uint32_t g = (((a & G565_MASK) * wa + (b & G565_MASK) * wb) >> s) & G565_MASK;
    return static_cast<pixel565>(rb | g);
}

// blend565(a, b, 1, 1) without multiplies: the common bits plus half of the
// differing ones, with each channel's lowest bit cleared so the shift cannot
// move it into the channel below.
constexpr pixel565 average565(pixel565 a, pixel565 b)
{
    return static_cast<pixel565>((a & b) + (((a ^ b) & 0xF7DEu) >> 1));
}
