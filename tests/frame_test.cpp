#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "guarded.h"
#include "kernels.h"
#include "partitions.h"
#include "reference.h"
#include <lq2x/lq2x.hpp>
#include <lq2x/lq2x_frame.h>

namespace {

const char* name(lq2x::orientation turn)
{
    return turn == lq2x::orientation::upright ? "upright" : turn == lq2x::orientation::ccw ? "ccw" : "cw";
}

struct layout {
    int src_pad = 0, src_lead = 0, dst_pad = 0, dst_lead = 0;
};

// Scales with padded pitches and guard space around the output, with the
// kernel the process runs (see kernel_main.cpp), and checks
// every pixel of the buffer: the frame against the model, the rest against
// the guard. Run with two different guards, a pixel left unwritten would show
// in one of them; since every pixel of the frame is then written and the
// walk makes exactly four stores per source pixel, none is written twice.
// The source lies against an inaccessible page, after its end in the first
// run and before its start in the second, so a read outside it faults.
template <typename P>
void check_frame(const ref::image<P>& img, lq2x::orientation turn, layout pad = {}, int threads = 1)
{
    const int w = img.width, h = img.height;
    const ref::image<P> want = ref::scale(img, turn);

    // Source rows `src_pad` pixels apart beyond their width, filled between
    // with a colour the image lacks so that reading it changes the result;
    // the buffer ends right after the last pixel so a read past it is caught.
    const int src_stride = w + pad.src_pad;
    const std::size_t src_size = std::size_t(pad.src_lead) + std::size_t(h - 1) * src_stride + w;

    const int out_w = want.width, out_h = want.height, margin_rows = 2;
    const int dst_stride = out_w + pad.dst_pad;
    for (const P guard : {P(0), P(~P(0))}) {
        const guarded_pixels<P> src(src_size, guard == P(0));
        std::fill(src.pixels, src.pixels + src_size, P(0xA5A5A5A5u));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                src.pixels[pad.src_lead + std::size_t(y) * src_stride + x] = img.at(x, y);

        std::vector<P> dst(std::size_t(out_h + 2 * margin_rows) * dst_stride, guard);
        P* const frame = dst.data() + std::size_t(margin_rows) * dst_stride + pad.dst_lead;
        const lq2x::image_view<const P> from{src.pixels + pad.src_lead, w, h, std::ptrdiff_t(sizeof(P)) * src_stride};
        const lq2x::image_view<P> to{frame, out_w, out_h, std::ptrdiff_t(sizeof(P)) * dst_stride};
        ASSERT_EQ(lq2x::scale(from, to, {.turn = turn, .threads = threads}), lq2x::error::none);

        for (std::size_t i = 0; i < dst.size(); ++i) {
            const std::ptrdiff_t rel = std::ptrdiff_t(i) - (frame - dst.data());
            const std::ptrdiff_t row = rel >= 0 ? rel / dst_stride : -1, col = rel >= 0 ? rel % dst_stride : -1;
            if (row >= 0 && row < out_h && col < out_w)
                ASSERT_EQ(dst[i], want.at(int(col), int(row)))
                    << w << 'x' << h << ' ' << name(turn) << " output (" << col << ", " << row << "), guard " << guard;
            else
                ASSERT_EQ(dst[i], guard) << w << 'x' << h << ' ' << name(turn) << " wrote outside the frame at index "
                                         << i;
        }
    }
}

constexpr lq2x::orientation TURNS[] = {lq2x::orientation::upright, lq2x::orientation::ccw, lq2x::orientation::cw};

// No kernel goes untested where its instruction set is: the library runs
// exactly the kernels that the processor's own report names (less those the
// environment hides), and the automatic choice is the best of them or the
// one LQ2X_KERNEL names. Every test below runs once per kernel.
TEST(Kernels, TheProcessorsKernelsRunAndAutoIsTheChosenOne)
{
    const std::vector<lq2x::kernel> have = kernels::of_processor();
    const char* hidden = std::getenv("LQ2X_HIDE_KERNELS");
    std::string ran, missing;
    lq2x::kernel best = lq2x::kernel::portable;
    for (const lq2x::kernel k : kernels::ALL) {
        const bool here = std::find(have.begin(), have.end(), k) != have.end() && !kernels::listed(hidden, lq2x::kernel_name(k));
        EXPECT_EQ(kernels::runs(k), here) << lq2x::kernel_name(k);
        (here ? ran : missing) += std::string(" ") + lq2x::kernel_name(k);
        best = here ? k : best;
    }
    const char* chosen = std::getenv("LQ2X_KERNEL");
    lq2x::kernel automatic{};
    ASSERT_EQ(lq2x::kernel_in_use({}, automatic), lq2x::error::none);
    EXPECT_STREQ(lq2x::kernel_name(automatic), chosen != nullptr && *chosen ? chosen : lq2x::kernel_name(best));
    std::cout << "kernels on this processor:" << ran << "\nnot on it:" << missing << "\nthis run's kernel: "
              << lq2x::kernel_name(automatic) << '\n';
}

// The walk against the model, with the kernel this run chose.
class FrameWalk : public ::testing::Test {
protected:
    // Sizes around the vector kernels' strips (16 and 32 rows) and bands (14
    // and 30 columns), and 1- and 2-column frames.
    template <typename P>
    void random_frames()
    {
        const int sizes[][2] = {{1, 1},  {1, 2},   {1, 3},   {2, 1},   {2, 2},   {3, 2},  {2, 3},   {3, 3},
                                {5, 7},  {7, 5},   {13, 1},  {17, 4},  {31, 33}, {64, 3}, {65, 32}, {63, 31},
                                {1, 65}, {2, 100}, {130, 5}, {15, 17}, {16, 16}, {160, 102}};
        std::uint32_t seed = 1;
        for (const auto& [w, h] : sizes)
            for (const int colours : {2, 3, 6}) {
                const auto img = ref::random_image<P>(w, h, colours, seed++);
                for (const lq2x::orientation turn : TURNS) {
                    check_frame(img, turn);
                    check_frame(img, turn, {3, 1, 5, 2});
                    if (HasFatalFailure())
                        return;
                }
            }
    }

    // Art-like frames. In frames random pixel by pixel, a whole vector of
    // neighbourhoods is almost never flat, so the walk's flat steps, and the
    // columns after them, are met here.
    template <typename P>
    void blocky_frames()
    {
        const int sizes[][2] = {{160, 102}, {97, 70}, {45, 200}};
        std::uint32_t seed = 1;
        for (const auto& [w, h] : sizes)
            for (const int block : {5, 19, 40}) {
                const auto img = ref::blocky_image<P>(w, h, 3, block, seed += 2);
                for (const lq2x::orientation turn : TURNS) {
                    check_frame(img, turn);
                    if (HasFatalFailure())
                        return;
                }
            }
    }

    // Every equality structure as a 3x3 tile of a frame, so that each tile's
    // centre sees exactly that neighbourhood; all pixels are checked.
    template <typename P>
    void every_equality_structure()
    {
        const auto& all = ref::partitions();
        constexpr int ACROSS = 150;
        const int down = int((all.size() + ACROSS - 1) / ACROSS);
        for (const std::uint32_t seed : {1u, 2u}) {
            const auto palette = ref::distinguishable_palette<P>(seed);
            ref::image<P> img{3 * ACROSS, 3 * down, std::vector<P>(std::size_t(9) * ACROSS * down, palette[0])};
            for (std::size_t t = 0; t < all.size(); ++t)
                for (int i = 0; i < 9; ++i)
                    img.at(3 * int(t % ACROSS) + i % 3, 3 * int(t / ACROSS) + i / 3) = palette[all[t][i]];
            for (const lq2x::orientation turn : TURNS)
                check_frame(img, turn);
        }
    }
};

TEST_F(FrameWalk, RandomFramesMatchModel565) { random_frames<pixel565>(); }
TEST_F(FrameWalk, RandomFramesMatchModel8888) { random_frames<pixel8888>(); }
TEST_F(FrameWalk, BlockyFramesMatchModel565) { blocky_frames<pixel565>(); }
TEST_F(FrameWalk, BlockyFramesMatchModel8888) { blocky_frames<pixel8888>(); }
TEST_F(FrameWalk, EveryEqualityStructureMatchesModel565) { every_equality_structure<pixel565>(); }
TEST_F(FrameWalk, EveryEqualityStructureMatchesModel8888) { every_equality_structure<pixel8888>(); }

// Bands of rows on several threads write exactly what one thread writes;
// any number of threads may be asked for, up to the largest int (a band of
// rows then still being 32 rows, no more threads than bands are started).
TEST_F(FrameWalk, ThreadsChangeNothing)
{
    const auto art = ref::random_image<pixel565>(70, 200, 3, 5);
    const auto art32 = ref::random_image<pixel8888>(41, 150, 3, 6);
    for (const int threads : {2, 3, 7, 0, std::numeric_limits<int>::max()})
        for (const lq2x::orientation turn : TURNS) {
            check_frame(art, turn, {1, 0, 3, 1}, threads);
            check_frame(art32, turn, {}, threads);
        }
}

// The upright result turned by a plain quarter turn is the turned result.
TEST(Frame, TurnedEqualsUprightTurned)
{
    for (const auto& size : {std::pair{9, 5}, std::pair{1, 4}, std::pair{40, 33}}) {
        const int w = size.first, h = size.second; // named, not bound: the lambda below takes them
        const auto img = ref::random_image<pixel8888>(w, h, 3, std::uint32_t(w * h));
        const auto scale = [&](lq2x::orientation turn) {
            const bool upright = turn == lq2x::orientation::upright;
            ref::image8888 out{upright ? 2 * w : 2 * h, upright ? 2 * h : 2 * w, std::vector<pixel8888>(4 * w * h)};
            EXPECT_EQ(lq2x::scale(lq2x::packed(img.pixels.data(), w, h),
                                  lq2x::packed(out.pixels.data(), out.width, out.height), {.turn = turn}),
                      lq2x::error::none);
            return out;
        };
        const ref::image8888 upright = scale(lq2x::orientation::upright);
        EXPECT_EQ(scale(lq2x::orientation::ccw), ref::turn_ccw(upright)) << w << 'x' << h;
        EXPECT_EQ(scale(lq2x::orientation::cw), ref::turn_cw(upright)) << w << 'x' << h;
    }
}

TEST(Frame, KnownPlacements)
{
    // 1x2: only the other row differs, no rule blends: each block is its pixel.
    const pixel565 src[] = {0x1111, 0x2222};
    pixel565 out[2][4];
    lq2x_frame(src, 2, &out[0][0], 8, 1, 2);
    for (const auto& row : out)
        EXPECT_EQ(std::vector<pixel565>(row, row + 4), (std::vector<pixel565>{0x1111, 0x1111, 0x2222, 0x2222}));

    // 160x102: source (0, 0) lands at rows 318-319, columns 0-1; (159, 101) at rows 0-1, columns 202-203.
    ref::image565 img = ref::random_image(160, 102, 4, 99);
    std::vector<pixel565> dst(204 * 320);
    img.at(0, 0) = 0x0001;
    img.at(159, 101) = 0x0002;
    lq2x_frame(img.pixels.data(), 320, dst.data(), 408, 160, 102);
    const auto at = [&](int col, int row) { return dst[std::size_t(row) * 204 + col]; };
    const ref::block<pixel565> first = ref::corners(img.at(0, 0), img.at(0, 0), img.at(1, 0), img.at(0, 0), img.at(0, 0),
                                          img.at(1, 0), img.at(0, 1), img.at(0, 1), img.at(1, 1));
    EXPECT_EQ(at(0, 318), first.tr);
    EXPECT_EQ(at(1, 318), first.br);
    EXPECT_EQ(at(0, 319), first.tl);
    EXPECT_EQ(at(1, 319), first.bl);
    const ref::block<pixel565> last = ref::corners(img.at(158, 100), img.at(159, 100), img.at(159, 100), img.at(158, 101),
                                         img.at(159, 101), img.at(159, 101), img.at(158, 101), img.at(159, 101),
                                         img.at(159, 101));
    EXPECT_EQ(at(202, 0), last.tr);
    EXPECT_EQ(at(203, 0), last.br);
    EXPECT_EQ(at(202, 1), last.tl);
    EXPECT_EQ(at(203, 1), last.bl);

    // A flat frame stays flat.
    std::vector<pixel565> flat(9 * 4, 0x4321), flat_out(18 * 8, 0);
    lq2x_frame(flat.data(), 18, flat_out.data(), 16, 9, 4);
    EXPECT_EQ(flat_out, std::vector<pixel565>(18 * 8, 0x4321));
}

TEST(Frame, EmptyFramesTouchNothing)
{
    std::vector<pixel565> dst(64, 0xBEEF);
    lq2x_frame(nullptr, 2, dst.data(), 16, 0, 4);
    lq2x_frame(nullptr, 8, dst.data(), 16, 4, 0);
    lq2x_row(dst.data(), dst.data() + 8, nullptr, nullptr, nullptr, 0, 16);
    EXPECT_EQ(dst, std::vector<pixel565>(64, 0xBEEF));
}

TEST(Frame, RowWithSharedNeighbourRows)
{
    // One row passed as above, row and below: every pixel's neighbours above
    // and below equal it, so a single row of distinct pixels copies through.
    const pixel565 row[] = {1, 2, 3};
    pixel565 out[6][2];
    std::memset(out, 0, sizeof out);
    lq2x_row(&out[4][0], &out[5][0], row, row, row, 3, 4);
    for (int x = 0; x < 3; ++x)
        for (int r = 0; r < 2; ++r)
            for (int c = 0; c < 2; ++c)
                EXPECT_EQ(out[4 - 2 * x + r][c], row[x]);
}

#if defined(__unix__) && defined(MAP_NORESERVE)
// Offsets such as 2 * (width - 1) * dst_pitch pass 2^32 here; only the pages
// actually touched are ever backed by memory.
TEST(Frame, OffsetsBeyondThirtyTwoBits)
{
    constexpr std::int32_t PITCH = 1 << 30;
    constexpr int W = 3, H = 2;
    const std::size_t dst_bytes = std::size_t(2 * W) * PITCH, src_bytes = std::size_t(PITCH) + 2 * W;
    void* dst = mmap(nullptr, dst_bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    void* src = mmap(nullptr, src_bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (dst == MAP_FAILED || src == MAP_FAILED)
        GTEST_SKIP() << "cannot reserve " << (dst_bytes >> 20) << " MiB of address space";

    const ref::image565 img = ref::random_image(W, H, 3, 7);
    auto* s = static_cast<std::byte*>(src);
    for (int y = 0; y < H; ++y)
        std::memcpy(s + std::size_t(y) * PITCH, &img.pixels[std::size_t(y) * W], 2 * W);
    lq2x_frame(reinterpret_cast<const pixel565*>(s), PITCH, static_cast<pixel565*>(dst), PITCH, W, H);

    const ref::image565 want = ref::scale_ccw(img);
    for (int row = 0; row < 2 * W; ++row) {
        const auto* out = reinterpret_cast<const pixel565*>(static_cast<std::byte*>(dst) + std::size_t(row) * PITCH);
        for (int col = 0; col < 2 * H; ++col)
            EXPECT_EQ(out[col], want.at(col, row)) << col << ", " << row;
    }
    munmap(dst, dst_bytes);
    munmap(src, src_bytes);
}
#endif

#ifndef NDEBUG
TEST(FrameContractDeathTest, BrokenContractsAssert)
{
    std::vector<pixel565> src(64), dst(256);
    EXPECT_DEATH(lq2x_frame(src.data(), 8, dst.data(), 16, -1, 2), "");
    EXPECT_DEATH(lq2x_frame(src.data(), 7, dst.data(), 16, 2, 2), "");   // odd pitch
    EXPECT_DEATH(lq2x_frame(src.data(), 2, dst.data(), 16, 2, 2), "");   // source rows overlap
    EXPECT_DEATH(lq2x_frame(src.data(), 8, dst.data(), 12, 2, 4), "");   // output rows too short
    EXPECT_DEATH(lq2x_frame(dst.data(), 8, dst.data(), 16, 4, 4), "");   // buffers overlap
    EXPECT_DEATH(lq2x_row(dst.data(), dst.data(), src.data(), src.data(), src.data(), -1, 16), "");
}
#endif

} // namespace
