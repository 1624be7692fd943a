/* A C99 program outside the project that scales through the C interface,
 * whole frames and row ranges, and prints a fingerprint of every result for
 * the check script to hold against the C++ consumer's. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <lq2x/lq2x.h>

#include "frame.h"

int main(void)
{
    static uint32_t src[FRAME_H][FRAME_W];
    static uint16_t src565[FRAME_H][FRAME_W];
    static uint32_t whole[4 * FRAME_W * FRAME_H], parts[4 * FRAME_W * FRAME_H];
    static uint16_t out565[4 * FRAME_W * FRAME_H];
    uint64_t h = FINGERPRINT_SEED;
    int x, y, turn;

    for (y = 0; y < FRAME_H; ++y)
        for (x = 0; x < FRAME_W; ++x) {
            src[y][x] = frame_pixel(x, y);
            src565[y][x] = (uint16_t)(src[y][x] ^ src[y][x] >> 16);
        }
    if (lq2x_version() != LQ2X_VERSION || strcmp(lq2x_version_string(), LQ2X_VERSION_STRING) != 0) {
        fprintf(stderr, "library %s, header %s\n", lq2x_version_string(), LQ2X_VERSION_STRING);
        return 1;
    }
    for (turn = LQ2X_UPRIGHT; turn <= LQ2X_CW; ++turn) {
        lq2x_options opt = lq2x_default_options();
        const int32_t out_w = turn == LQ2X_UPRIGHT ? 2 * FRAME_W : 2 * FRAME_H;
        const int32_t out_h = turn == LQ2X_UPRIGHT ? 2 * FRAME_H : 2 * FRAME_W;
        lq2x_status s;
        opt.orientation = turn;
        opt.threads = 2;
        s = lq2x_scale8888(&src[0][0], FRAME_W, FRAME_H, sizeof src[0], whole, out_w, out_h, out_w * 4, &opt);
        /* The same frame in three row ranges, last first. */
        opt.threads = 1;
        if (s == LQ2X_OK)
            s = lq2x_scale8888_rows(&src[0][0], FRAME_W, FRAME_H, sizeof src[0], parts, out_w, out_h, out_w * 4, 15,
                                    FRAME_H, &opt);
        if (s == LQ2X_OK)
            s = lq2x_scale8888_rows(&src[0][0], FRAME_W, FRAME_H, sizeof src[0], parts, out_w, out_h, out_w * 4, 0, 7,
                                    &opt);
        if (s == LQ2X_OK)
            s = lq2x_scale8888_rows(&src[0][0], FRAME_W, FRAME_H, sizeof src[0], parts, out_w, out_h, out_w * 4, 7, 15,
                                    &opt);
        if (s == LQ2X_OK)
            s = lq2x_scale565(&src565[0][0], FRAME_W, FRAME_H, sizeof src565[0], out565, out_w, out_h, out_w * 2,
                              &opt);
        if (s != LQ2X_OK) {
            fprintf(stderr, "scaling failed: %s\n", lq2x_describe(s));
            return 1;
        }
        if (memcmp(whole, parts, sizeof whole) != 0) {
            fprintf(stderr, "row ranges differ from the whole frame\n");
            return 1;
        }
        h = fingerprint(h, whole, sizeof whole);
        h = fingerprint(h, out565, sizeof out565);
    }
    if (lq2x_scale8888(&src[0][0], FRAME_W, FRAME_H, sizeof src[0], whole, 2 * FRAME_W - 1, 2 * FRAME_H,
                       8 * FRAME_W, NULL) != LQ2X_ERROR_OUTPUT_TOO_SMALL) {
        fprintf(stderr, "a too small output was not refused\n");
        return 1;
    }
    printf("%016llx\n", (unsigned long long)h);
    return 0;
}
