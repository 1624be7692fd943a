// The typed entry point: results through it, and an error for each kind of misuse.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "reference.h"
#include <lq2x/lq2x.hpp>

namespace {

TEST(Api, ScalesIntoTheTopLeftOfALargerOutput)
{
    const auto img = ref::random_image<pixel8888>(7, 5, 3, 21);
    for (const lq2x::orientation turn : {lq2x::orientation::upright, lq2x::orientation::ccw, lq2x::orientation::cw}) {
        const ref::image8888 want = ref::scale(img, turn);
        // Three spare columns and two spare rows, which must stay as they were.
        const int out_w = want.width + 3, out_h = want.height + 2;
        std::vector<pixel8888> out(std::size_t(out_w) * out_h, 0xDEADBEEF);
        ASSERT_EQ(lq2x::scale(lq2x::packed(img.pixels.data(), 7, 5), lq2x::packed(out.data(), out_w, out_h),
                              {.turn = turn, .threads = 2}),
                  lq2x::error::none);
        for (int y = 0; y < out_h; ++y)
            for (int x = 0; x < out_w; ++x)
                ASSERT_EQ(out[std::size_t(y) * out_w + x],
                          x < want.width && y < want.height ? want.at(x, y) : 0xDEADBEEF)
                    << x << ", " << y;
    }
}

TEST(Api, SameAsThePlainFunction)
{
    const auto img = ref::random_image<pixel565>(12, 9, 4, 22);
    std::vector<pixel565> typed(4 * 12 * 9), plain(4 * 12 * 9);
    ASSERT_EQ(lq2x::scale(lq2x::packed(img.pixels.data(), 12, 9), lq2x::packed(typed.data(), 18, 24),
                          {.turn = lq2x::orientation::ccw}),
              lq2x::error::none);
    lq2x_frame(img.pixels.data(), 24, plain.data(), 36, 12, 9);
    EXPECT_EQ(typed, plain);
}

TEST(Api, EmptySourceWritesNothing)
{
    std::vector<pixel565> out(16, 0x1234);
    EXPECT_EQ(lq2x::scale(lq2x::image_view<const pixel565>(nullptr, 0, 5, 0), lq2x::packed(out.data(), 4, 4)),
              lq2x::error::none);
    EXPECT_EQ(out, std::vector<pixel565>(16, 0x1234));
}

class ApiMisuse : public ::testing::Test {
protected:
    std::vector<pixel565> in = std::vector<pixel565>(4, 1), out = std::vector<pixel565>(64, 0x5555);
    lq2x::image_view<const pixel565> src = lq2x::packed<const pixel565>(in.data(), 2, 2);
    lq2x::image_view<pixel565> dst = lq2x::packed(out.data(), 4, 4);

    void TearDown() override { EXPECT_EQ(out, std::vector<pixel565>(64, 0x5555)) << "wrote despite the error"; }
};

TEST_F(ApiMisuse, NegativeSize)
{
    src.width = -2;
    EXPECT_EQ(lq2x::scale(src, dst), lq2x::error::bad_size);
}

TEST_F(ApiMisuse, OutputTooLargeToAddress)
{
    src.width = 1, src.height = 1 << 30, src.pitch = 2; // 2^31 output rows
    EXPECT_EQ(lq2x::scale(src, dst), lq2x::error::bad_size);
}

TEST_F(ApiMisuse, NullPixels)
{
    src.pixels = nullptr;
    EXPECT_EQ(lq2x::scale(src, dst), lq2x::error::null_pixels);
    dst.pixels = nullptr;
    src.pixels = in.data();
    EXPECT_EQ(lq2x::scale(src, dst), lq2x::error::null_pixels);
}

TEST_F(ApiMisuse, BadPitch)
{
    std::vector<std::ptrdiff_t> pitches{3, 2, 0, -4};
    if constexpr (sizeof(std::ptrdiff_t) > 4) // 2^32: past 2^31 - 1, where a pitch can be that long
        pitches.push_back(std::ptrdiff_t(std::int64_t{1} << 32));
    for (const std::ptrdiff_t pitch : pitches) {
        auto s = src;
        s.pitch = pitch;
        EXPECT_EQ(lq2x::scale(s, dst), lq2x::error::bad_pitch) << pitch;
    }
    dst.pitch = 6; // shorter than its 4-pixel rows
    EXPECT_EQ(lq2x::scale(src, dst), lq2x::error::bad_pitch);
}

TEST_F(ApiMisuse, OutputTooSmall)
{
    EXPECT_EQ(lq2x::scale(src, lq2x::packed(out.data(), 3, 4)), lq2x::error::output_too_small);
    EXPECT_EQ(lq2x::scale(src, lq2x::packed(out.data(), 4, 3)), lq2x::error::output_too_small);
    // Turned, a 3 x 1 source needs 2 x 6.
    src.width = 3, src.height = 1, src.pitch = 6;
    EXPECT_EQ(lq2x::scale(src, lq2x::packed(out.data(), 6, 2), {.turn = lq2x::orientation::cw}),
              lq2x::error::output_too_small);
}

TEST_F(ApiMisuse, Overlap)
{
    // A source inside the output, and an output starting inside the source.
    EXPECT_EQ(lq2x::scale(lq2x::packed<const pixel565>(out.data() + 5, 2, 2), dst), lq2x::error::overlap);
    EXPECT_EQ(lq2x::scale(lq2x::packed<const pixel565>(out.data(), 2, 2), lq2x::packed(out.data() + 3, 4, 4)),
              lq2x::error::overlap);
}

TEST(Api, EveryErrorIsDescribed)
{
    std::set<std::string> seen;
    for (const lq2x::error e : {lq2x::error::none, lq2x::error::bad_size, lq2x::error::null_pixels,
                                lq2x::error::bad_pitch, lq2x::error::output_too_small, lq2x::error::overlap})
        seen.insert(lq2x::describe(e));
    EXPECT_EQ(seen.size(), 6u);
}

} // namespace
