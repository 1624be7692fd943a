#include <gtest/gtest.h>

#include <array>
#include <sstream>
#include <string>
#include <vector>

#include "partitions.h"
#include "reference.h"
#include <lq2x/lq2x_corners.h>
#include "scaler/rule/rules.h"

// Failures print the four quarters in hex.
void PrintTo(const lq2x::block565& b, std::ostream* os)
{
    *os << std::hex << '{' << b.tl << ' ' << b.tr << ' ' << b.bl << ' ' << b.br << '}';
}

namespace {

using nine = std::array<pixel565, 9>; // TL T TR L C R BL B BR
using ref::distinguishable_palette;
using ref::partitions;

lq2x::block565 fast(const nine& n)
{
    return lq2x_corners(n[0], n[1], n[2], n[3], n[4], n[5], n[6], n[7], n[8]);
}

lq2x::block565 model(const nine& n)
{
    const ref::block<pixel565> b = ref::corners(n[0], n[1], n[2], n[3], n[4], n[5], n[6], n[7], n[8]);
    return {b.tl, b.tr, b.bl, b.br};
}

nine colour(const std::array<int, 9>& groups, const std::array<pixel565, 9>& palette)
{
    nine n;
    for (int i = 0; i < 9; ++i)
        n[i] = palette[groups[i]];
    return n;
}

std::string describe(const nine& n)
{
    std::ostringstream os;
    os << std::hex;
    for (const pixel565 p : n)
        os << p << ' ';
    return os.str();
}

TEST(Corners, PartitionCountIsBellNine)
{
    EXPECT_EQ(partitions().size(), 21147u);
}

TEST(Corners, EveryEqualityStructureMatchesModel)
{
    for (const std::uint32_t seed : {1u, 2u}) {
        const auto palette = distinguishable_palette(seed);
        for (const auto& groups : partitions()) {
            const nine n = colour(groups, palette);
            ASSERT_EQ(fast(n), model(n)) << "seed " << seed << ": " << describe(n);
        }
    }
}

// Reflecting the neighbourhood reflects the block.
TEST(Corners, CommutesWithReflections)
{
    const auto palette = distinguishable_palette(3);
    for (const auto& groups : partitions()) {
        const nine n = colour(groups, palette);
        const lq2x::block565 q = fast(n);

        const nine lr{n[2], n[1], n[0], n[5], n[4], n[3], n[8], n[7], n[6]};
        ASSERT_EQ(fast(lr), (lq2x::block565{q.tr, q.tl, q.br, q.bl})) << describe(n);

        const nine tb{n[6], n[7], n[8], n[3], n[4], n[5], n[0], n[1], n[2]};
        ASSERT_EQ(fast(tb), (lq2x::block565{q.bl, q.br, q.tl, q.tr})) << describe(n);

        const nine transpose{n[0], n[3], n[6], n[1], n[4], n[7], n[2], n[5], n[8]};
        ASSERT_EQ(fast(transpose), (lq2x::block565{q.tl, q.bl, q.tr, q.br})) << describe(n);
    }
}

TEST(Corners, KnownNeighbourhoods)
{
    constexpr pixel565 K = 0x0000, W = 0xFFFF;
    // Flat.
    EXPECT_EQ(lq2x_corners(K, K, K, K, K, K, K, K, K), (lq2x::block565{K, K, K, K}));
    // Pattern 255, all neighbours distinct: no pair test holds.
    EXPECT_EQ(lq2x_corners(1, 2, 3, 4, K, 5, 6, 7, 8), (lq2x::block565{K, K, K, K}));
    // Pattern 10, T = L: a half blend in the top-left only.
    EXPECT_EQ(lq2x_corners(K, W, K, W, K, K, K, K, K), (lq2x::block565{0x7BEF, K, K, K}));
    // Same with T != L: nothing.
    EXPECT_EQ(lq2x_corners(K, W, K, 0xF800, K, K, K, K, K), (lq2x::block565{K, K, K, K}));
    // Pattern 14: W blend top-left, and the top-right quarter's rule 2 gated by T = L.
    EXPECT_EQ(lq2x_corners(K, W, 0x1234, W, K, K, K, K, K), (lq2x::block565{0xBDF7, 0x39E7, K, K}));
    // Pattern 255 with T = L and six other colours: E top-left only...
    EXPECT_EQ(lq2x_corners(0x1111, W, 0x2222, W, K, 0x3333, 0x4444, 0x5555, 0x6666),
              (lq2x::block565{0x18E3, K, K, K}));
    // ...and with those six the same, B = R too: E bottom-right as well.
    constexpr pixel565 S = 0x3333;
    EXPECT_EQ(lq2x_corners(S, W, S, W, K, S, S, S, S), (lq2x::block565{0x18E3, K, K, blend565(K, S, 7, 1)}));
    // Pattern 30 (T TR L R differ), T = L: the grid says C.
    EXPECT_EQ(lq2x_corners(K, W, 0x1234, W, K, 0x4321, K, K, K).tl, K);
    // A diagonal equal to T changes only its own pattern bit: pattern 11 is H like 10.
    EXPECT_EQ(lq2x_corners(W, W, K, W, K, K, K, K, K).tl, 0x7BEF);
}

// The same rule on 32-bit pixels, with every channel, alpha included, told apart.
TEST(Corners8888, EveryEqualityStructureMatchesModel)
{
    for (const std::uint32_t seed : {1u, 2u}) {
        const auto palette = distinguishable_palette<pixel8888>(seed);
        for (const auto& groups : partitions()) {
            std::array<pixel8888, 9> n;
            for (int i = 0; i < 9; ++i)
                n[i] = palette[groups[i]];
            const lq2x::block8888 got = lq2x::lq2x_corners8888(n[0], n[1], n[2], n[3], n[4], n[5], n[6], n[7], n[8]);
            const ref::block<pixel8888> want = ref::corners(n[0], n[1], n[2], n[3], n[4], n[5], n[6], n[7], n[8]);
            ASSERT_EQ(got, (lq2x::block8888{want.tl, want.tr, want.bl, want.br})) << "seed " << seed;
        }
    }
}

// 112 of the 256 patterns leave all four quarters as the centre.
TEST(Corners, DispatchTableHas112CopyOnlyPatterns)
{
    using namespace lq2x::detail;
    int copies = 0;
    for (const pattern_rule& r : RULES)
        copies += r.tl.kind == K_C && r.tr.kind == K_C && r.bl.kind == K_C && r.br.kind == K_C;
    EXPECT_EQ(copies, 112);
}

} // namespace
