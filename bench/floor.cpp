#include "floor.h"

#if !defined(__clang__)
// GCC 12 takes the "undefined" source operand inside some AVX-512
// intrinsics for an uninitialised variable.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <algorithm>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace floor_case {
namespace {

template <typename T>
T* at_bytes(T* p, std::ptrdiff_t bytes)
{
    using byte = std::conditional_t<std::is_const_v<T>, const char, char>;
    return reinterpret_cast<T*>(reinterpret_cast<byte*>(p) + bytes);
}

// Pixel by pixel, for processors without the vector floor.
void plain(const pixel565* src, int w, int h, std::ptrdiff_t src_pitch, pixel565* dst, std::ptrdiff_t dst_pitch)
{
    for (int y = 0; y < h; ++y) {
        const pixel565* row = at_bytes(src, y * src_pitch);
        for (int x = 0; x < w; ++x) {
            pixel565* d = at_bytes(dst, 2 * std::ptrdiff_t(w - 1 - x) * dst_pitch) + 2 * y;
            pixel565* e = at_bytes(d, dst_pitch);
            d[0] = d[1] = e[0] = e[1] = row[x];
        }
    }
}

#if defined(__x86_64__)
#define VECTOR [[gnu::target("avx512f,avx512bw")]]

constexpr int N = 32; // RGB565 pixels a vector

// Which source row of a strip a tile's row j is loaded from: the order in
// which, once the tile is transposed, interleaving each 16-byte block's
// first (second) half with itself gives the output's first (second) 32
// pixels, each twice, in order.
constexpr int row_of(int j)
{
    const int block = j / 8, i = j % 8;
    return i < 4 ? 4 * block + i : N / 2 + 4 * block + i - 4;
}

// A 32 x 32 transpose: three rounds of interleaves inside 16-byte blocks
// transpose each 8 x 8 block, then the blocks trade places.
VECTOR inline void transpose(__m512i (&v)[N])
{
#pragma GCC unroll 4
    for (int g = 0; g < N; g += 8)
#pragma GCC unroll 3
        for (int round = 0; round < 3; ++round) {
            __m512i t[8];
#pragma GCC unroll 4
            for (int i = 0; i < 4; ++i) {
                t[2 * i] = _mm512_unpacklo_epi16(v[g + i], v[g + i + 4]);
                t[2 * i + 1] = _mm512_unpackhi_epi16(v[g + i], v[g + i + 4]);
            }
#pragma GCC unroll 8
            for (int i = 0; i < 8; ++i)
                v[g + i] = t[i];
        }
#pragma GCC unroll 8
    for (int k = 0; k < 8; ++k) {
        const __m512i p0 = _mm512_shuffle_i64x2(v[k], v[8 + k], 0x88), p1 = _mm512_shuffle_i64x2(v[k], v[8 + k], 0xDD),
                      p2 = _mm512_shuffle_i64x2(v[16 + k], v[24 + k], 0x88),
                      p3 = _mm512_shuffle_i64x2(v[16 + k], v[24 + k], 0xDD);
        v[k] = _mm512_shuffle_i64x2(p0, p2, 0x88);
        v[16 + k] = _mm512_shuffle_i64x2(p0, p2, 0xDD);
        v[8 + k] = _mm512_shuffle_i64x2(p1, p3, 0x88);
        v[24 + k] = _mm512_shuffle_i64x2(p1, p3, 0xDD);
    }
}

// One output row's pieces as they come, front to back, joined into whole
// 64-byte lines: a line wholly the run's is streamed, the partial lines at
// the run's ends get ordinary stores of their own bytes only. A piece's
// lines go out when the next piece comes: read back at once, from stores
// not yet done, they would wait for those stores.
struct row_run {
    std::uintptr_t end = 0; // where the run's bytes end; a piece there continues it
    int from = 0, fill = 0; // the run's bytes held in line[]: [from, fill), line 0 at end - fill
    alignas(64) unsigned char line[256];
};

// Writes the held bytes: whole lines streamed, the rest with ordinary stores.
VECTOR void flush(row_run& r)
{
    const std::uintptr_t at = r.end - std::uintptr_t(r.fill);
    for (int k = 0; k < r.fill; k += 64) {
        const int from = k == 0 ? r.from : k, to = std::min(k + 64, r.fill);
        if (from == k && to == k + 64)
            _mm512_stream_si512(reinterpret_cast<__m512i*>(at + std::uintptr_t(k)), _mm512_load_si512(r.line + k));
        else
            std::memcpy(reinterpret_cast<void*>(at + std::uintptr_t(from)), r.line + from, std::size_t(to - from));
    }
    r.from = r.fill = 0;
}

VECTOR inline void put(row_run& r, pixel565* at, __m512i lo, __m512i hi, int bytes)
{
    const auto a = reinterpret_cast<std::uintptr_t>(at);
    if (a != r.end) {
        flush(r);
        r.from = r.fill = int(a & 63);
    } else if (r.fill >= 64) { // the last piece's whole lines out, its partial one to the front
        const std::uintptr_t line_at = a - std::uintptr_t(r.fill);
        const int whole = r.fill / 64;
        for (int k = 0; k < whole; ++k) {
            if (k == 0 && r.from > 0)
                std::memcpy(reinterpret_cast<void*>(line_at + std::uintptr_t(r.from)), r.line + r.from,
                            std::size_t(64 - r.from));
            else
                _mm512_stream_si512(reinterpret_cast<__m512i*>(line_at + 64 * std::uintptr_t(k)),
                                    _mm512_load_si512(r.line + 64 * k));
        }
        _mm512_store_si512(r.line, _mm512_load_si512(r.line + 64 * whole));
        r.from = 0;
        r.fill %= 64;
    }
    r.end = a + std::uintptr_t(bytes);
    if (r.fill == 0 && bytes == 128) { // whole aligned lines: straight from the registers
        _mm512_stream_si512(reinterpret_cast<__m512i*>(at), lo);
        _mm512_stream_si512(reinterpret_cast<__m512i*>(at + 32), hi);
        return;
    }
    // Whole vectors, even past the piece's end: line[] has room, and the
    // bytes past `fill` are never read.
    _mm512_storeu_si512(r.line + r.fill, lo);
    _mm512_storeu_si512(r.line + r.fill + 64, hi);
    r.fill += bytes;
}

VECTOR void vector_double(const pixel565* src, int w, int h, std::ptrdiff_t src_pitch, pixel565* dst,
                          std::ptrdiff_t dst_pitch, stores how)
{
    // A band of N source columns at a time, down every strip of N rows: the
    // band's 2N output rows are written front to back.
    row_run runs[2 * N];
    for (int x0 = 0; x0 < w; x0 += N) {
        const int columns = std::min(N, w - x0);
        const __mmask32 across = columns == N ? ~0u : (1u << columns) - 1;
        for (int top = 0; top < h; top += N) {
            const int rows = std::min(N, h - top);
            __m512i v[N];
#pragma GCC unroll 32
            for (int i = 0; i < N; ++i)
                v[i] = row_of(i) < rows
                           ? _mm512_maskz_loadu_epi16(across, at_bytes(src, (top + row_of(i)) * src_pitch) + x0)
                           : _mm512_setzero_si512();
            transpose(v);
            const __mmask32 first = rows >= 16 ? ~0u : (1u << 2 * rows) - 1,
                            second = rows <= 16 ? 0u : rows == N ? ~0u : (1u << (2 * rows - N)) - 1;
            for (int c = 0; c < columns; ++c) {
                const __m512i lo = _mm512_unpacklo_epi16(v[c], v[c]), hi = _mm512_unpackhi_epi16(v[c], v[c]);
                pixel565* out = at_bytes(dst, 2 * std::ptrdiff_t(w - 1 - x0 - c) * dst_pitch) + 2 * top;
                pixel565* next = at_bytes(out, dst_pitch);
                if (how == stores::streamed) {
                    put(runs[2 * c], out, lo, hi, 4 * rows);
                    put(runs[2 * c + 1], next, lo, hi, 4 * rows);
                } else {
                    for (pixel565* o : {out, next}) {
                        _mm512_mask_storeu_epi16(o, first, lo);
                        _mm512_mask_storeu_epi16(o + N, second, hi);
                    }
                }
            }
        }
    }
    for (row_run& r : runs)
        flush(r);
    _mm_sfence();
}
#endif

} // namespace

bool vector_floor()
{
#if defined(__x86_64__)
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
#else
    return false;
#endif
}

void turned_double(const pixel565* src, int width, int height, std::ptrdiff_t src_pitch, pixel565* dst,
                   std::ptrdiff_t dst_pitch, stores how)
{
#if defined(__x86_64__)
    if (vector_floor())
        return vector_double(src, width, height, src_pitch, dst, dst_pitch, how);
#endif
    (void)how;
    plain(src, width, height, src_pitch, dst, dst_pitch);
}

} // namespace floor_case
