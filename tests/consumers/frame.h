/* The consumers' shared frame and fingerprint, valid C99 and C++, so the C
 * and the C++ consumer can be shown to compute the same pixels. */
#ifndef CONSUMER_FRAME_H
#define CONSUMER_FRAME_H

#include <stddef.h>
#include <stdint.h>

enum { FRAME_W = 37, FRAME_H = 23 };

/* Four colours at random (few colours make equal neighbours likely). */
static uint32_t frame_pixel(int x, int y)
{
    static const uint32_t colours[4] = {0xFF000000u, 0xFFFFFFFFu, 0x80FF4020u, 0x00000000u};
    uint32_t h = (uint32_t)(x * 73856093) ^ (uint32_t)(y * 19349663);
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return colours[h & 3u];
}

/* FNV-1a over bytes, from FINGERPRINT_SEED. */
static const uint64_t FINGERPRINT_SEED = UINT64_C(14695981039346656037);

static uint64_t fingerprint(uint64_t h, const void* data, size_t bytes)
{
    const unsigned char* p = (const unsigned char*)data;
    size_t i;
    for (i = 0; i < bytes; ++i)
        h = (h ^ p[i]) * UINT64_C(1099511628211);
    return h;
}

#endif
