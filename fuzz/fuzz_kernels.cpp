// Fuzz target: every vector kernel this processor has against the portable
// walk, chosen through the options; an input that finds no vector kernel to
// compare fails, so a build or machine without one cannot pass unseen. The input picks the pixel type, size, pitches, orientation and thread
// count, a palette of up to eight colours and then each pixel from it (few
// colours make the equal neighbours the rule looks for), and last the edge
// modes and a tile grid (none once the input runs out). The source is sized
// exactly, so the sanitizer catches a read past it; the output has guard
// pixels around the frame, which must come back untouched.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include <lq2x/lq2x.hpp>

using lq2x::pixel8888;

namespace {

struct input {
    const std::uint8_t* data;
    std::size_t size;
    // A number below `range` from the next byte (0 once the input runs out).
    unsigned next(unsigned range)
    {
        if (size == 0)
            return 0;
        --size;
        return *data++ % range;
    }
};


template <typename P>
void check(input& in)
{
    const int w = 1 + int(in.next(97)), h = 1 + int(in.next(131));
    const auto turn = lq2x::orientation(in.next(3));
    const int threads = int(in.next(4)) + 1, src_pad = int(in.next(5)), dst_pad = int(in.next(5));
    P palette[8] = {};
    for (P& c : palette)
        for (std::size_t b = 0; b < sizeof(P); ++b)
            c = P(c << 8 | in.next(256));
    const unsigned colours = 1 + in.next(8);

    const int src_stride = w + src_pad;
    std::vector<P> src(std::size_t(h - 1) * src_stride + w, palette[0]);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            src[std::size_t(y) * src_stride + x] = palette[in.next(colours)];
    lq2x::options opt{.turn = turn, .threads = threads, .edge_x = lq2x::edge(in.next(3)),
                      .edge_y = lq2x::edge(in.next(3))};
    if (const int cell = int(in.next(20)); cell > 0)
        opt.tile = {cell, 1 + int(in.next(20)), int(in.next(4)), int(in.next(4))};

    const bool upright = turn == lq2x::orientation::upright;
    const int out_w = 2 * (upright ? w : h), out_h = 2 * (upright ? h : w), dst_stride = out_w + dst_pad;
    const P guard = palette[1] ^ P(0x5A5A5A5A);
    // A margin that leaves no cell is refused by every kernel alike, with nothing written.
    const lq2x::error expected = opt.tile.width > 0 && (opt.tile.margin >= w || opt.tile.margin >= h)
                                     ? lq2x::error::no_cell
                                     : lq2x::error::none;
    std::vector<P> dst(std::size_t(out_h + 2) * dst_stride);
    const auto run = [&](lq2x::kernel k) {
        std::fill(dst.begin(), dst.end(), guard);
        opt.use = k;
        const lq2x::image_view<const P> from{src.data(), w, h, std::ptrdiff_t(sizeof(P)) * src_stride};
        const lq2x::image_view<P> to{dst.data() + dst_stride, out_w, out_h, std::ptrdiff_t(sizeof(P)) * dst_stride};
        return lq2x::scale_rows(from, to, 0, h, opt);
    };
    if (run(lq2x::kernel::portable) != expected)
        __builtin_trap();
    const std::vector<P> want = dst;
    int compared = 0;
    for (const lq2x::kernel k : {lq2x::kernel::sse41, lq2x::kernel::avx2, lq2x::kernel::avx512, lq2x::kernel::neon,
                                 lq2x::kernel::simd128}) {
        const lq2x::error e = run(k);
        if (e == lq2x::error::no_kernel)
            continue;
        if (e != expected || dst != want)
            __builtin_trap();
        ++compared;
    }
    if (compared == 0)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    input in{data, size};
    if (in.next(2))
        check<pixel8888>(in);
    else
        check<lq2x::pixel565>(in);
    return 0;
}
