// 4x and 8x are made in bands of the result, each from a window of the
// source: whatever the band size, every turn gives exactly what the model
// gives applied pass after pass to the whole picture.
#include <gtest/gtest.h>

#include <cstring>

#include "reference.h"
#include "scale.h"

namespace {

TEST(ScaleBands, EveryBandSizeAndTurnMatchesTheModel)
{
    const lq2x::orientation turns[] = {lq2x::orientation::upright, lq2x::orientation::ccw, lq2x::orientation::cw};
    for (const auto& [w, h] : {std::pair{13, 9}, std::pair{6, 17}, std::pair{1, 5}}) {
        const ref::image8888 src = ref::random_image<pixel8888>(w, h, 5, std::uint32_t(w * 31 + h));
        for (const auto turn : turns)
            for (const int factor : {4, 8}) {
                ref::image8888 want = ref::scale(src, turn);
                for (int f = 4; f <= factor; f *= 2)
                    want = ref::scale(want, lq2x::orientation::upright);
                // One line a band, a few, and the whole picture at once.
                for (const std::size_t band : {std::size_t{1}, std::size_t{3000}, std::size_t{1} << 30}) {
                    // No alpha in the layout, so no pixel is cleared before scaling.
                    tool::image img{w, h, tool::layout::rgb, src.pixels};
                    const tool::image got =
                        tool::scale(img, {.turn = turn, .factor = factor, .threads = 2, .band_pixels = band});
                    SCOPED_TRACE(testing::Message() << w << "x" << h << " turn " << int(turn) << " x" << factor
                                                    << " band " << band);
                    ASSERT_EQ(got.width, want.width);
                    ASSERT_EQ(got.height, want.height);
                    EXPECT_TRUE(got.pixels == want.pixels);
                }
            }
    }
}

} // namespace
