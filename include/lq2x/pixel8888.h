// 32-bit pixels of four 8-bit channels, and their blend.
#pragma once

#include <bit>
#include <cassert>
#include <cstdint>

namespace lq2x {

// Four 8-bit channels in any order (ARGB, RGBA, BGRA...): the rule treats
// every channel alike, alpha included. Equality is exact 32-bit equality.
using pixel8888 = std::uint32_t;

// Per channel: floor((wa * a + wb * b) / (wa + wb)), weights non-negative and
// summing to 2, 4, 8 or 16.
// The arithmetic runs on two channel groups, bytes 0 and 2 and bytes 1 and 3
// (moved down by 8 bits first). Why nothing overflows: within a group the
// channels sit 16 bits apart, and a channel's weighted sum is at most
// 255 * 16 = 4080 < 2^12, so it never reaches the channel above it; the
// upper channel of the group, at bit 16, stays below 2^(16+12) = 2^28. The
// mask after the shift drops the fraction bits that the upper channel leaves
// above the lower one.
constexpr pixel8888 blend8888(pixel8888 a, pixel8888 b, unsigned wa, unsigned wb)
{
    constexpr std::uint32_t GROUP = 0x00FF00FF;
    const unsigned sum = wa + wb;
    assert(sum >= 2 && sum <= 16 && std::has_single_bit(sum));
    const int s = std::countr_zero(sum);
    const std::uint32_t even = (((a & GROUP) * wa + (b & GROUP) * wb) >> s) & GROUP;
    const std::uint32_t odd = ((((a >> 8) & GROUP) * wa + ((b >> 8) & GROUP) * wb) >> s) & GROUP;
    return even | odd << 8;
}

} // namespace lq2x
