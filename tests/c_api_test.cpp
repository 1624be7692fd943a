// The C interface: the same pixels as the model from a C translation unit,
// row ranges that add up to the whole frame, options that grow safely, and
// statuses that say what went wrong.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "c_calls.h"
#include "guarded.h"
#include "reference.h"
#include <lq2x/lq2x.h>

namespace {

constexpr lq2x_orientation TURNS[] = {LQ2X_UPRIGHT, LQ2X_CCW, LQ2X_CW};

template <typename P>
ref::image<P> model(const ref::image<P>& img, lq2x_orientation turn)
{
    return ref::scale(img, lq2x::orientation(turn));
}

TEST(CApi, FromCEqualsTheModel)
{
    for (const auto& [w, h] : {std::pair{1, 1}, std::pair{5, 3}, std::pair{33, 40}, std::pair{70, 9}}) {
        const auto img565 = ref::random_image<pixel565>(w, h, 4, std::uint32_t(w * 31 + h));
        const auto img8888 = ref::random_image<pixel8888>(w, h, 3, std::uint32_t(w * 17 + h));
        for (const lq2x_orientation turn : TURNS)
            for (const int threads : {1, 3}) {
                const ref::image565 want565 = model(img565, turn);
                ref::image565 got565{want565.width, want565.height, std::vector<pixel565>(want565.pixels.size())};
                ASSERT_EQ(c_scale565(img565.pixels.data(), w, h, got565.pixels.data(), got565.width, got565.height,
                                     turn, threads),
                          LQ2X_OK);
                EXPECT_EQ(got565, want565) << w << 'x' << h << " turn " << turn << " threads " << threads;

                const ref::image8888 want8888 = model(img8888, turn);
                ref::image8888 got8888{want8888.width, want8888.height,
                                       std::vector<pixel8888>(want8888.pixels.size())};
                ASSERT_EQ(c_scale8888(img8888.pixels.data(), w, h, got8888.pixels.data(), got8888.width,
                                      got8888.height, turn, threads),
                          LQ2X_OK);
                EXPECT_EQ(got8888, want8888) << w << 'x' << h << " turn " << turn << " threads " << threads;
            }
    }
}

// A caller with its own threads cuts the frame into row ranges at random
// places and scales them at once, in any order.
TEST(CApi, RowRangesOnTheCallersThreadsMakeTheWholeFrame)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 12; ++round) {
        const int w = 1 + int(rng() % 50), h = 1 + int(rng() % 90);
        const auto img = ref::random_image<pixel8888>(w, h, 3, rng());
        for (const lq2x_orientation turn : TURNS) {
            const ref::image8888 want = model(img, turn);
            std::vector<int> cuts = {0, h};
            for (int i = 0; i < 4; ++i)
                cuts.push_back(int(rng() % unsigned(h + 1)));
            std::sort(cuts.begin(), cuts.end());
            std::vector<pixel8888> got(want.pixels.size(), 0xDEADBEEF);
            std::vector<std::thread> workers;
            std::vector<lq2x_status> status(cuts.size() - 1, LQ2X_OK);
            for (std::size_t i = cuts.size() - 1; i-- > 0;) {
                const auto job = [&, i] {
                    status[i] = c_scale8888_rows(img.pixels.data(), w, h, got.data(), want.width, want.height,
                                                 cuts[i], cuts[i + 1], turn);
                };
                try {
                    workers.emplace_back(job);
                } catch (const std::system_error&) { // no threads to be had (WebAssembly without them): in turn
                    job();
                }
            }
            for (std::thread& t : workers)
                t.join();
            for (const lq2x_status s : status)
                ASSERT_EQ(s, LQ2X_OK);
            ASSERT_EQ(got, want.pixels) << w << 'x' << h << " turn " << turn;
        }
    }
}

// One range writes its own blocks and not one pixel more.
TEST(CApi, RowRangeWritesOnlyItsBlocks)
{
    const int w = 6, h = 7, y0 = 2, y1 = 5;
    const auto img = ref::random_image<pixel565>(w, h, 4, 3);
    for (const lq2x_orientation turn : TURNS) {
        const ref::image565 want = model(img, turn);
        std::vector<pixel565> got(want.pixels.size(), 0x5555);
        lq2x_options opt = lq2x_default_options();
        opt.orientation = turn;
        ASSERT_EQ(lq2x_scale565_rows(img.pixels.data(), w, h, 2 * w, got.data(), want.width, want.height,
                                     2 * want.width, y0, y1, &opt),
                  LQ2X_OK);
        for (int y = 0; y < want.height; ++y)
            for (int x = 0; x < want.width; ++x) {
                // The source row of the block this output pixel belongs to.
                const int src_y = turn == LQ2X_UPRIGHT ? y / 2 : turn == LQ2X_CCW ? x / 2 : h - 1 - x / 2;
                const pixel565 expect = src_y >= y0 && src_y < y1 ? want.at(x, y) : pixel565(0x5555);
                ASSERT_EQ(got[std::size_t(y) * want.width + x], expect) << x << ',' << y << " turn " << turn;
            }
    }
}

class CApiMisuse : public ::testing::Test {
protected:
    std::vector<std::uint32_t> in = std::vector<std::uint32_t>(6, 1), out = std::vector<std::uint32_t>(24, 0x5555);

    lq2x_status scale(const lq2x_options* opt, std::int32_t y0 = 0, std::int32_t y1 = 2)
    {
        return lq2x_scale8888_rows(in.data(), 3, 2, 12, out.data(), 6, 4, 24, y0, y1, opt);
    }
    void TearDown() override
    {
        EXPECT_EQ(out, std::vector<std::uint32_t>(24, 0x5555)) << "wrote despite the error";
    }
};

TEST_F(CApiMisuse, RowsOutsideTheFrame)
{
    EXPECT_EQ(scale(nullptr, -1, 1), LQ2X_ERROR_BAD_ROWS);
    EXPECT_EQ(scale(nullptr, 1, 3), LQ2X_ERROR_BAD_ROWS);
    EXPECT_EQ(scale(nullptr, 2, 1), LQ2X_ERROR_BAD_ROWS);
}

TEST_F(CApiMisuse, UnknownOrientation)
{
    lq2x_options opt = lq2x_default_options();
    opt.orientation = 3;
    EXPECT_EQ(scale(&opt), LQ2X_ERROR_BAD_OPTIONS);
    opt.orientation = -1;
    EXPECT_EQ(scale(&opt), LQ2X_ERROR_BAD_OPTIONS);
}

TEST_F(CApiMisuse, OtherErrorsAsTheTypedInterface)
{
    EXPECT_EQ(lq2x_scale8888(in.data(), 3, 2, 12, out.data(), 5, 4, 24, nullptr), LQ2X_ERROR_OUTPUT_TOO_SMALL);
    EXPECT_EQ(lq2x_scale8888(in.data(), 3, 2, 10, out.data(), 6, 4, 24, nullptr), LQ2X_ERROR_BAD_PITCH);
    EXPECT_EQ(lq2x_scale8888(nullptr, 3, 2, 12, out.data(), 6, 4, 24, nullptr), LQ2X_ERROR_NULL_PIXELS);
    EXPECT_EQ(lq2x_scale8888(in.data(), -3, 2, 12, out.data(), 6, 4, 24, nullptr), LQ2X_ERROR_BAD_SIZE);
    EXPECT_EQ(lq2x_scale8888(out.data() + 1, 3, 2, 12, out.data(), 6, 4, 24, nullptr), LQ2X_ERROR_OVERLAP);
}

// A caller built against an older header passes a shorter struct; one built
// against a newer header passes a longer one, which is read only if the
// fields this library does not know are left at zero.
TEST(CApiOptions, SizeTellsWhatTheCallerKnows)
{
    const std::vector<std::uint32_t> in(6, 1);
    std::vector<std::uint32_t> out(24);
    struct newer {
        lq2x_options known;
        std::int32_t later_field;
    } o;
    std::memset(&o, 0, sizeof o); // the padding after later_field is read too, and must be zero
    o.known = lq2x_default_options();
    o.known.size = sizeof(newer);
    const auto call = [&] { return lq2x_scale8888(in.data(), 3, 2, 12, out.data(), 6, 4, 24, &o.known); };
    EXPECT_EQ(call(), LQ2X_OK);
    o.later_field = 1;
    EXPECT_EQ(call(), LQ2X_ERROR_BAD_OPTIONS);
    o.later_field = 0;
    o.known.size = 4;
    EXPECT_EQ(call(), LQ2X_ERROR_BAD_OPTIONS);
    EXPECT_EQ(lq2x_scale8888(in.data(), 3, 2, 12, out.data(), 6, 4, 24, nullptr), LQ2X_OK);
}

// The struct against an inaccessible page: the library reads no byte past
// what it knows unless the caller's size, within reason, says it may; a size
// past any later version's is refused unread.
TEST(CApiOptions, NothingPastTheCallersStructIsRead)
{
    const std::vector<std::uint32_t> in(6, 1);
    std::vector<std::uint32_t> out(24);
    const auto call_with = [&](std::size_t struct_bytes, std::uint32_t claimed) {
        const guarded_pixels<std::uint8_t> page(struct_bytes, true);
        const lq2x_options defaults = lq2x_default_options();
        std::memcpy(page.pixels, &defaults, struct_bytes);
        lq2x_options* o = reinterpret_cast<lq2x_options*>(page.pixels);
        std::memcpy(page.pixels, &claimed, sizeof claimed); // the size field comes first
        return lq2x_scale8888(in.data(), 3, 2, 12, out.data(), 6, 4, 24, o);
    };
    const std::uint32_t first_version = offsetof(lq2x_options, scale);
    EXPECT_EQ(call_with(first_version, first_version), LQ2X_OK); // an older caller's struct, ending at the page
    EXPECT_EQ(call_with(sizeof(lq2x_options), sizeof(lq2x_options)), LQ2X_OK);
    for (const std::uint32_t claimed : {1000u, 0xFFFFFFFFu, 257u})
        EXPECT_EQ(call_with(sizeof(lq2x_options), claimed), LQ2X_ERROR_BAD_OPTIONS) << claimed;
}

TEST(CApiOptions, DefaultsAreUprightOnOneThread)
{
    const lq2x_options o = lq2x_default_options();
    EXPECT_EQ(o.size, sizeof(lq2x_options));
    EXPECT_EQ(o.orientation, LQ2X_UPRIGHT);
    EXPECT_EQ(o.threads, 1);
    EXPECT_EQ(o.scale, 2);
    EXPECT_EQ(o.kernel, LQ2X_KERNEL_AUTO);
    EXPECT_EQ(o.max_pixels, LQ2X_DEFAULT_MAX_PIXELS);
}

TEST(CApi, EveryStatusHasItsOwnDescription)
{
    std::set<std::string> seen;
    for (int s = LQ2X_OK; s <= LQ2X_ERROR_OUTPUT_EXISTS; ++s) {
        const std::string text = lq2x_describe(lq2x_status(s));
        EXPECT_NE(text, "unknown error") << s;
        EXPECT_TRUE(seen.insert(text).second) << text;
        EXPECT_EQ(text, lq2x::describe(lq2x::error(s)));
    }
    EXPECT_STREQ(lq2x_describe(lq2x_status(99)), "unknown error");
}

TEST(CApi, VersionAtRunTimeIsTheHeaders)
{
    EXPECT_EQ(lq2x_version(), std::uint32_t(LQ2X_VERSION));
    EXPECT_STREQ(lq2x_version_string(), LQ2X_VERSION_STRING);
    EXPECT_EQ(std::to_string(LQ2X_VERSION_MAJOR) + '.' + std::to_string(LQ2X_VERSION_MINOR) + '.' +
                  std::to_string(LQ2X_VERSION_PATCH),
              LQ2X_VERSION_STRING);
}

} // namespace
