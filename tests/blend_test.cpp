#include <gtest/gtest.h>

#include <random>
#include <utility>

#include "reference.h"
#include <lq2x/pixel565.h>
#include <lq2x/pixel8888.h>

namespace {

// Every weight pair the rule uses, and scaled forms that must agree with them.
constexpr std::pair<unsigned, unsigned> WEIGHT_PAIRS[] = {
    {1, 1}, {3, 1}, {1, 3}, {7, 1}, {2, 0}, {2, 2}, {6, 2}, {2, 6}, {14, 2}, {8, 8},
};

TEST(Blend565, KnownValues)
{
    EXPECT_EQ(blend565(0x0000, 0xFFFF, 1, 1), 0x7BEF);
    EXPECT_EQ(blend565(0xFFFF, 0x0000, 3, 1), 0xBDF7);
    EXPECT_EQ(blend565(0x0000, 0xFFFF, 3, 1), 0x39E7);
    EXPECT_EQ(blend565(0x0000, 0xFFFF, 7, 1), 0x18E3);
    // No carry between channels: blue halves without touching green.
    EXPECT_EQ(blend565(0x001F, 0x0000, 1, 1), 0x000F);
    EXPECT_EQ(blend565(0x07E0, 0x0000, 1, 1), 0x03E0);
    EXPECT_EQ(blend565(0xF800, 0x0000, 1, 1), 0x7800);
}

// Every pair of channel values, for each channel, against the unpacked model:
// pixels are built so that red, green and blue each run through all their pairs.
TEST(Blend565, EveryChannelPairMatchesModel)
{
    const auto pixel = [](unsigned i) { return pixel565((i & 31) << 11 | i << 5 | i >> 1); };
    for (const auto& [wa, wb] : WEIGHT_PAIRS)
        for (unsigned i = 0; i < 64; ++i)
            for (unsigned j = 0; j < 64; ++j) {
                const pixel565 a = pixel(i), b = pixel(j);
                ASSERT_EQ(blend565(a, b, wa, wb), ref::blend(a, b, wa, wb)) << a << ' ' << b << ' ' << wa << ':' << wb;
            }
}

TEST(Blend565, RandomPairsMatchModel)
{
    std::mt19937 rng(565);
    for (int n = 0; n < 200000; ++n) {
        const pixel565 a = pixel565(rng()), b = pixel565(rng());
        for (const auto& [wa, wb] : WEIGHT_PAIRS)
            ASSERT_EQ(blend565(a, b, wa, wb), ref::blend(a, b, wa, wb)) << a << ' ' << b << ' ' << wa << ':' << wb;
        ASSERT_EQ(blend565(a, a, 3, 1), a);
    }
}

TEST(Blend8888, MatchesModel)
{
    EXPECT_EQ(lq2x::blend8888(0x00000000, 0xFFFFFFFF, 1, 1), 0x7F7F7F7Fu);
    EXPECT_EQ(lq2x::blend8888(0xFFFFFFFF, 0x00000000, 3, 1), 0xBFBFBFBFu);
    EXPECT_EQ(lq2x::blend8888(0x00000000, 0xFFFFFFFF, 7, 1), 0x1F1F1F1Fu);
    EXPECT_EQ(lq2x::blend8888(0x000000FF, 0x00000000, 1, 1), 0x0000007Fu); // no carry into the next channel
    // Every pair of channel values in every channel at once, then random pixels.
    for (const auto& [wa, wb] : WEIGHT_PAIRS)
        for (unsigned i = 0; i < 256; ++i)
            for (unsigned j = 0; j < 256; ++j) {
                const pixel8888 a = i * 0x01010101u ^ 0x00FF00FFu, b = j * 0x01010101u;
                ASSERT_EQ(lq2x::blend8888(a, b, wa, wb), ref::blend(a, b, wa, wb)) << a << ' ' << b << ' ' << wa << ':' << wb;
            }
    std::mt19937 rng(8888);
    for (int n = 0; n < 200000; ++n) {
        const pixel8888 a = rng(), b = rng();
        for (const auto& [wa, wb] : WEIGHT_PAIRS)
            ASSERT_EQ(lq2x::blend8888(a, b, wa, wb), ref::blend(a, b, wa, wb)) << a << ' ' << b << ' ' << wa << ':' << wb;
    }
}

} // namespace
