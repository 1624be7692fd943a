// A C++ program outside the project that scales through the typed interface
// and prints the same fingerprint the C consumer computes.
#include <cinttypes>
#include <cstdio>
#include <vector>

#include <lq2x/lq2x.hpp>
#include <lq2x/lq2x_corners.h>

#include "frame.h"

int main()
{
    std::vector<lq2x::pixel8888> src(FRAME_W * FRAME_H);
    std::vector<lq2x::pixel565> src565(src.size());
    for (int y = 0; y < FRAME_H; ++y)
        for (int x = 0; x < FRAME_W; ++x) {
            const std::uint32_t p = frame_pixel(x, y);
            src[y * FRAME_W + x] = p;
            src565[y * FRAME_W + x] = lq2x::pixel565(p ^ p >> 16);
        }
    std::uint64_t h = FINGERPRINT_SEED;
    for (const auto turn : {lq2x::orientation::upright, lq2x::orientation::ccw, lq2x::orientation::cw}) {
        const lq2x::size size = lq2x::scaled_size(FRAME_W, FRAME_H, turn);
        const auto w = std::int32_t(size.width), hgt = std::int32_t(size.height);
        std::vector<lq2x::pixel8888> out(4 * src.size());
        std::vector<lq2x::pixel565> out565(4 * src.size());
        lq2x::error e = lq2x::scale(lq2x::packed<const lq2x::pixel8888>(src.data(), FRAME_W, FRAME_H),
                                    lq2x::packed(out.data(), w, hgt), {.turn = turn, .threads = 0});
        if (e == lq2x::error::none)
            e = lq2x::scale(lq2x::packed<const lq2x::pixel565>(src565.data(), FRAME_W, FRAME_H),
                            lq2x::packed(out565.data(), w, hgt), {.turn = turn});
        if (e != lq2x::error::none) {
            std::fprintf(stderr, "scale failed: %s\n", lq2x::describe(e));
            return 1;
        }
        h = fingerprint(h, out.data(), out.size() * sizeof out[0]);
        h = fingerprint(h, out565.data(), out565.size() * sizeof out565[0]);
    }
    // One block by the plain rule: a black centre with white above and to the
    // left blends its top-left quarter, and only that one.
    const lq2x::pixel565 K = 0, W = 0xFFFF;
    const lq2x::block565 b = lq2x_corners(K, W, K, W, K, K, K, K, K);
    if (b.tl != blend565(K, W, 1, 1) || b.tr != K || b.bl != K || b.br != K) {
        std::fprintf(stderr, "unexpected block %04x %04x %04x %04x\n", b.tl, b.tr, b.bl, b.br);
        return 1;
    }
    std::printf("%016" PRIx64 "\n", h);
    return 0;
}
