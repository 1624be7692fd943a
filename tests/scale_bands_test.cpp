// A file's picture goes through the picture entry in bands of its result,
// each from a window of the source: whatever the band size, every turn gives
// exactly what the model gives applied pass after pass to the whole picture.
#include <gtest/gtest.h>

#include <algorithm>

#include "reference.h"
#include "scale.h"

namespace files = lq2x::files;

namespace {

TEST(ScaleBands, EveryBandSizeAndTurnMatchesTheModel)
{
    const lq2x::orientation turns[] = {lq2x::orientation::upright, lq2x::orientation::ccw, lq2x::orientation::cw};
    for (const auto& [w, h] : {std::pair{13, 9}, std::pair{6, 17}, std::pair{1, 5}}) {
        ref::image8888 src = ref::random_image<pixel8888>(w, h, 5, std::uint32_t(w * 31 + h));
        for (pixel8888& p : src.pixels)
            p |= files::ALPHA_BITS; // an RGB picture: no pixel hides its colour
        for (const auto turn : turns)
            for (const int factor : {4, 8}) {
                ref::image8888 want = ref::scale(src, turn);
                for (int f = 4; f <= factor; f *= 2)
                    want = ref::scale(want, lq2x::orientation::upright);
                // One line a band, a few, and the whole picture at once.
                for (const std::uint64_t band : {std::uint64_t{1}, std::uint64_t{3000}, std::uint64_t{1} << 30}) {
                    const files::image got = files::scale({w, h, files::layout::rgb, src.pixels},
                                                          {.turn = turn, .threads = 2, .scale = factor, .band_pixels = band},
                                                          lq2x::door::c);
                    SCOPED_TRACE(testing::Message() << w << "x" << h << " turn " << int(turn) << " x" << factor
                                                    << " band " << band);
                    EXPECT_EQ(got.kind, files::layout::rgb);
                    ASSERT_EQ(got.width, want.width);
                    ASSERT_EQ(got.height, want.height);
                    EXPECT_TRUE(got.pixels == want.pixels);
                }
            }
    }
}

} // namespace
