// The frame walk with AVX-512 (F, BW, VL and VBMI), 32 pixels at a time.
//
// Lanes run down a column of the source: each vector holds one source column
// of a strip of 32 rows, so T, C and B are the same column shifted by one
// row, and the four quarters of the 32 blocks interleave straight into the
// 64 contiguous pixels of an output row, which is where the rotation puts
// them. Source tiles of 32 x 32 pixels are turned into such columns by an
// in-register transpose; the rows just above and below a strip come in
// through one extra lane each, and the border rows and columns are
// replicated as the tiles are loaded, so nothing outside the frame is read.
//
// Blends use the floor average only: with a per-channel floor average
// avg(a, b), blend565(C, X, 3, 1) = avg(C, avg(C, X)),
// blend565(X, C, 3, 1) = avg(X, avg(C, X)) and
// blend565(C, X, 7, 1) = avg(C, avg(C, avg(C, X))) exactly, because each
// floor only drops a bit that the next halving would drop anyway.

#include "kernels.h"

#if defined(__x86_64__) && defined(__GNUC__)

#include <immintrin.h>

#include <algorithm>
#include <bit>

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx512vl,avx512vbmi")
// GCC 12 takes the unpack intrinsics' internal "undefined" source operand for
// an uninitialised variable.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace lq2x_detail {
namespace {

constexpr int LANES = 32; // source rows per strip, and columns per tile

struct code_table {
    __m512i t0, t1, t2, t3;
};

code_table load_codes(int quarter)
{
    const auto* t = VECTOR_CODES[quarter].data();
    return {_mm512_loadu_si512(t), _mm512_loadu_si512(t + 64), _mm512_loadu_si512(t + 128),
            _mm512_loadu_si512(t + 192)};
}

// A 256-entry byte lookup per 16-bit lane (index in the low byte, high byte 0).
__m512i lookup(const code_table& t, __m512i index)
{
    const __m512i low = _mm512_permutex2var_epi8(t.t0, index, t.t1);
    const __m512i high = _mm512_permutex2var_epi8(t.t2, index, t.t3);
    // The high byte of each lane is junk (the entry for index 0); every use
    // of the code masks or tests bits of the low byte only.
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(index), low, high);
}

// Per-channel floor of (a + b) / 2 on RGB565 lanes. First each pixel drops
// the lowest bit of every channel where the other pixel's is clear, which
// makes every channel's sum even; then the word average, which keeps the
// 17-bit sum, halves all three sums at once without any crossing into the
// channel below (and its +1 rounding falls on an even sum, so it rounds
// nothing).
__m512i average(__m512i a, __m512i b)
{
    const __m512i low_bits = _mm512_set1_epi16(0x0821);
    // x & (y | ~low_bits): ternary-logic truth table 0xD0.
    return _mm512_avg_epu16(_mm512_ternarylogic_epi32(a, b, low_bits, 0xD0),
                            _mm512_ternarylogic_epi32(b, a, low_bits, 0xD0));
}

// One quarter, from its code, the bits of which pairs hold and its two
// candidate neighbours. Most blends are halves (H) and E is rare, so the
// deeper averages are only taken when some lane needs them.
__m512i quarter(__m512i code, __m512i pairs, __m512i c, __m512i vertical, __m512i horizontal)
{
    const __mmask32 on = _mm512_test_epi16_mask(code, pairs);
    if (on == 0) // no lane blends this quarter: straight edges, or pairs that differ
        return c;
    const __m512i x =
        _mm512_mask_blend_epi16(_mm512_test_epi16_mask(code, _mm512_set1_epi16(CODE_HORIZONTAL)), vertical, horizontal);
    __m512i r = average(c, x);
    const __mmask32 deeper = on & ~_mm512_test_epi16_mask(code, _mm512_set1_epi16(CODE_H));
    if (deeper != 0) {
        // Q and E average C into the half once more, W averages X into it.
        const __m512i toward =
            _mm512_mask_blend_epi16(_mm512_test_epi16_mask(code, _mm512_set1_epi16(CODE_W)), c, x);
        r = _mm512_mask_blend_epi16(deeper, r, average(toward, r));
        const __mmask32 e = on & _mm512_test_epi16_mask(code, _mm512_set1_epi16(CODE_E));
        if (e != 0)
            r = _mm512_mask_blend_epi16(e, r, average(c, r));
    }
    return _mm512_mask_blend_epi16(on, c, r);
}

// Lanes hold the strip's rows out of order, in the order that lets the word
// unpacks interleave two quarters straight into output order: in each 128-bit
// block L the first four lanes are rows 4L..4L+3 and the last four rows
// 16+4L..16+4L+3.
constexpr int row_of_lane(int lane)
{
    const int block = lane / 8, i = lane % 8;
    return i < 4 ? 4 * block + i : 16 + 4 * block + i - 4;
}

constexpr int lane_of_row(int row)
{
    for (int lane = 0; lane < LANES; ++lane)
        if (row_of_lane(lane) == row)
            return lane;
    return -1;
}

struct kernel {
    code_table codes[4] = {load_codes(0), load_codes(1), load_codes(2), load_codes(3)};

    // Writes a and b interleaved in row order (a b of row 0, a b of row 1,
    // ...) as the first `pixels` pixels at `out`.
    void store_pair(pixel565* out, __m512i a, __m512i b, int pixels) const
    {
        const __m512i lo = _mm512_unpacklo_epi16(a, b); // rows 0-15
        const __m512i hi = _mm512_unpackhi_epi16(a, b); // rows 16-31
        if (pixels == 2 * LANES) {
            _mm512_storeu_si512(out, lo);
            _mm512_storeu_si512(out + LANES, hi);
        } else {
            const auto mask = [](int n) { return n >= 32 ? ~__mmask32{0} : (__mmask32{1} << n) - 1; };
            _mm512_mask_storeu_epi16(out, mask(pixels), lo);
            if (pixels > LANES)
                _mm512_mask_storeu_epi16(out + LANES, mask(pixels - LANES), hi);
        }
    }

    // The blocks of one source column of a strip, from the columns to its left,
    // itself and to its right, each as the rows above (t), at (c) and below (b).
    void column(const __m512i (&left)[3], const __m512i (&mid)[3], const __m512i (&right)[3], pixel565* row0,
                pixel565* row1, int pixels) const
    {
        const __m512i TL = left[0], L = left[1], BL = left[2];
        const __m512i T = mid[0], C = mid[1], B = mid[2];
        const __m512i TR = right[0], R = right[1], BR = right[2];

        // Any neighbour differing from the centre, in a few bitwise steps:
        // ternary-logic 0x7E is (a ^ c) | (b ^ c), 0xFE is a | b | c.
        const __m512i differ = _mm512_or_si512(
            _mm512_ternarylogic_epi32(_mm512_ternarylogic_epi32(TL, T, C, 0x7E), _mm512_ternarylogic_epi32(TR, L, C, 0x7E),
                                      _mm512_ternarylogic_epi32(R, BL, C, 0x7E), 0xFE),
            _mm512_ternarylogic_epi32(B, BR, C, 0x7E));
        if (_mm512_test_epi64_mask(differ, differ) == 0) {
            // Flat neighbourhoods everywhere: every quarter is the centre.
            store_pair(row0, C, C, pixels);
            store_pair(row1, C, C, pixels);
            return;
        }
        const __mmask32 d0 = _mm512_cmpneq_epi16_mask(TL, C), d1 = _mm512_cmpneq_epi16_mask(T, C),
                        d2 = _mm512_cmpneq_epi16_mask(TR, C), d3 = _mm512_cmpneq_epi16_mask(L, C),
                        d4 = _mm512_cmpneq_epi16_mask(R, C), d5 = _mm512_cmpneq_epi16_mask(BL, C),
                        d6 = _mm512_cmpneq_epi16_mask(B, C), d7 = _mm512_cmpneq_epi16_mask(BR, C);
        __m512i pattern = _mm512_setzero_si512();
        const __mmask32 bits[8] = {d0, d1, d2, d3, d4, d5, d6, d7};
        for (int i = 0; i < 8; ++i)
            pattern = _mm512_mask_add_epi16(pattern, bits[i], pattern, _mm512_set1_epi16(short(1 << i)));

        // Bit n set when pair n holds: T=L, T=R, B=L, B=R.
        __m512i pairs = _mm512_setzero_si512();
        pairs = _mm512_mask_add_epi16(pairs, _mm512_cmpeq_epi16_mask(T, L), pairs, _mm512_set1_epi16(1));
        pairs = _mm512_mask_add_epi16(pairs, _mm512_cmpeq_epi16_mask(T, R), pairs, _mm512_set1_epi16(2));
        pairs = _mm512_mask_add_epi16(pairs, _mm512_cmpeq_epi16_mask(B, L), pairs, _mm512_set1_epi16(4));
        pairs = _mm512_mask_add_epi16(pairs, _mm512_cmpeq_epi16_mask(B, R), pairs, _mm512_set1_epi16(8));

        const __m512i tl = quarter(lookup(codes[0], pattern), pairs, C, T, L);
        const __m512i tr = quarter(lookup(codes[1], pattern), pairs, C, T, R);
        const __m512i bl = quarter(lookup(codes[2], pattern), pairs, C, B, L);
        const __m512i br = quarter(lookup(codes[3], pattern), pairs, C, B, R);
        store_pair(row0, tr, br, pixels);
        store_pair(row1, tl, bl, pixels);
    }
};

// Two-source word permutes that move a column one row down (up) and fill
// the lane left free with word c of the second source: the rows above and
// below a strip enter its columns this way.
struct shift_tables {
    alignas(64) short down[LANES][LANES], up[LANES][LANES];
    constexpr shift_tables() : down{}, up{}
    {
        for (int c = 0; c < LANES; ++c)
            for (int j = 0; j < LANES; ++j) {
                const int row = row_of_lane(j);
                down[c][j] = short(row == 0 ? LANES + c : lane_of_row(row - 1));
                up[c][j] = short(row == LANES - 1 ? LANES + c : lane_of_row(row + 1));
            }
    }
};
constexpr shift_tables SHIFTS;
constexpr auto& SHIFT_DOWN = SHIFTS.down;
constexpr auto& SHIFT_UP = SHIFTS.up;

// One tile: 32 source columns from column `first` of a strip of 32 rows.
// Lane j of every vector is source row y0 + row_of_lane(j) (rows past the
// frame repeat its last row).
struct tile {
    __m512i column[LANES]; // the tile's columns, after the transpose
    __m512i above, below;  // rows y0 - 1 and y0 + 32, clamped, over the tile's columns

    // Turns rows into columns: unpacks transpose the 8 x 8 blocks inside each
    // 128-bit lane of every group of 8 rows, then 128-bit shuffles transpose
    // the 4 x 4 arrangement of those blocks.
    static void transpose(__m512i (&r)[LANES])
    {
        __m512i a[LANES]; // a[8g + k]: column 8L + k of rows 8g..8g+7 in block L
        for (int g = 0; g < 4; ++g) {
            const __m512i* q = r + 8 * g;
            __m512i t[8], u[8];
            for (int i = 0; i < 4; ++i) {
                t[2 * i] = _mm512_unpacklo_epi16(q[2 * i], q[2 * i + 1]);
                t[2 * i + 1] = _mm512_unpackhi_epi16(q[2 * i], q[2 * i + 1]);
            }
            for (int i = 0; i < 2; ++i) {
                u[4 * i] = _mm512_unpacklo_epi32(t[4 * i], t[4 * i + 2]);
                u[4 * i + 1] = _mm512_unpackhi_epi32(t[4 * i], t[4 * i + 2]);
                u[4 * i + 2] = _mm512_unpacklo_epi32(t[4 * i + 1], t[4 * i + 3]);
                u[4 * i + 3] = _mm512_unpackhi_epi32(t[4 * i + 1], t[4 * i + 3]);
            }
            for (int i = 0; i < 4; ++i) {
                a[8 * g + 2 * i] = _mm512_unpacklo_epi64(u[i], u[i + 4]);
                a[8 * g + 2 * i + 1] = _mm512_unpackhi_epi64(u[i], u[i + 4]);
            }
        }
        for (int k = 0; k < 8; ++k) {
            const __m512i p0 = _mm512_shuffle_i64x2(a[k], a[8 + k], 0x88), p1 = _mm512_shuffle_i64x2(a[k], a[8 + k], 0xDD);
            const __m512i p2 = _mm512_shuffle_i64x2(a[16 + k], a[24 + k], 0x88),
                          p3 = _mm512_shuffle_i64x2(a[16 + k], a[24 + k], 0xDD);
            r[k] = _mm512_shuffle_i64x2(p0, p2, 0x88);
            r[16 + k] = _mm512_shuffle_i64x2(p0, p2, 0xDD);
            r[8 + k] = _mm512_shuffle_i64x2(p1, p3, 0x88);
            r[24 + k] = _mm512_shuffle_i64x2(p1, p3, 0xDD);
        }
    }

    tile(const frame_args& f, int y0, int first)
    {
        const auto row = [&](int y) {
            y = std::clamp(y, 0, f.height - 1);
            return reinterpret_cast<const pixel565*>(reinterpret_cast<const std::byte*>(f.src) + y * f.src_pitch) +
                   first;
        };
        const int columns = std::min(LANES, f.width - first);
        const __mmask32 valid = columns == LANES ? ~__mmask32{0} : (__mmask32{1} << columns) - 1;
        for (int j = 0; j < LANES; ++j)
            column[j] = _mm512_maskz_loadu_epi16(valid, row(y0 + row_of_lane(j)));
        above = _mm512_maskz_loadu_epi16(valid, row(y0 - 1));
        below = _mm512_maskz_loadu_epi16(valid, row(y0 + LANES));
        transpose(column);
    }

    // Tile column c as rows above, at and below: the centre column moved one
    // lane down (up), with the row above (below) the strip coming in at the end.
    void get(int c, __m512i (&out)[3]) const
    {
        const __m512i centre = column[c];
        out[0] = _mm512_permutex2var_epi16(centre, _mm512_load_si512(SHIFT_DOWN[c]), above);
        out[1] = centre;
        out[2] = _mm512_permutex2var_epi16(centre, _mm512_load_si512(SHIFT_UP[c]), below);
    }
};

} // namespace

bool avx512_available(){
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi");
}

// The frame goes in bands of 30 source columns, each read as a tile of 32
// with its neighbours on both sides; down a band the strips fill each output
// row's next 128 bytes, so the 60 output rows of a band stay in cache while
// they are written.
void frame_avx512(const frame_args& f)
{
    constexpr int BAND = LANES - 2;
    const kernel k;
    const int w = f.width, h = f.height;
    const auto dst_row = [&](int r) {
        return reinterpret_cast<pixel565*>(reinterpret_cast<std::byte*>(f.dst) + r * f.dst_pitch);
    };

    for (int x0 = 0; x0 < w; x0 += BAND) {
        const int x1 = std::min(x0 + BAND, w);
        const int first = std::max(x0 - 1, 0); // the tile's first column
        for (int y0 = 0; y0 < h; y0 += LANES) {
            const int pixels = 2 * std::min(LANES, h - y0);
            const tile t(f, y0, first);
            __m512i left[3], mid[3], right[3];
            t.get(std::max(x0 - 1, 0) - first, left); // column 0 is its own left neighbour
            t.get(x0 - first, mid);
            for (int x = x0; x < x1; ++x) {
                t.get(std::min(x + 1, w - 1) - first, right); // and column w - 1 its own right one
                const int r = 2 * (w - 1 - x);
                pixel565* row0 = dst_row(r) + 2 * y0;
                pixel565* row1 = dst_row(r + 1) + 2 * y0;
                if (y0 + LANES < h) {
                    // The next strip's stores to these rows, fetched while this one works.
                    __builtin_prefetch(row0 + 2 * LANES, 1);
                    __builtin_prefetch(row0 + 3 * LANES, 1);
                    __builtin_prefetch(row1 + 2 * LANES, 1);
                    __builtin_prefetch(row1 + 3 * LANES, 1);
                }
                k.column(left, mid, right, row0, row1, pixels);
                std::copy(mid, mid + 3, left);
                std::copy(right, right + 3, mid);
            }
        }
    }
}

} // namespace lq2x_detail

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC diagnostic pop
#pragma GCC pop_options
#endif

#else

namespace lq2x_detail {
bool avx512_available() { return false; }
void frame_avx512(const frame_args&) {}
} // namespace lq2x_detail

#endif
