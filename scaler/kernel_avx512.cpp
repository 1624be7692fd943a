// The frame walk with AVX-512 (F, BW, VL and VBMI): 32 RGB565 or 16 32-bit
// pixels at a time.
//
// Turned placements: lanes run down a column of the source. Each vector holds
// one source column of a strip of rows, so T, C and B are the same column
// moved by one row, and the four quarters of a strip's blocks interleave
// straight into contiguous pixels of an output row, which is where a quarter
// turn puts them. Tiles of the source are turned into such columns by an
// in-register transpose; the rows just above and below a strip come in
// through one extra lane each, and border rows and columns are replicated as
// the tiles are loaded, so nothing outside the frame is read.
//
// Upright placement: lanes run along a source row, which is already the
// output's direction; no transpose is needed.
//
// Blends use the floor average only: with a per-channel floor average
// avg(a, b), blend(C, X, 3, 1) = avg(C, avg(C, X)),
// blend(X, C, 3, 1) = avg(X, avg(C, X)) and
// blend(C, X, 7, 1) = avg(C, avg(C, avg(C, X))) exactly, because each
// floor only drops a bit that the next halving would drop anyway.

#include "kernels.h"

#if defined(__x86_64__) && defined(__GNUC__)

#include <immintrin.h>

#include <algorithm>
#include <cstddef>

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

namespace lq2x::detail {
namespace {

// What differs between the two pixel sizes: lane width and the floor average.
template <typename P>
struct lanes;

template <>
struct lanes<pixel565> {
    static constexpr int N = 32; // lanes in a vector
    using mask = __mmask32;
    static mask ne(__m512i a, __m512i b) { return _mm512_cmpneq_epi16_mask(a, b); }
    static mask eq(__m512i a, __m512i b) { return _mm512_cmpeq_epi16_mask(a, b); }
    static mask test(__m512i a, __m512i b) { return _mm512_test_epi16_mask(a, b); }
    static __m512i set1(int v) { return _mm512_set1_epi16(short(v)); }
    static __m512i add(__m512i src, mask k, __m512i a, __m512i b) { return _mm512_mask_add_epi16(src, k, a, b); }
    static __m512i blend(mask k, __m512i a, __m512i b) { return _mm512_mask_blend_epi16(k, a, b); }
    static __m512i load(mask k, const pixel565* p) { return _mm512_maskz_loadu_epi16(k, p); }
    static void store(pixel565* p, mask k, __m512i v) { _mm512_mask_storeu_epi16(p, k, v); }
    static __m512i permute(__m512i a, __m512i index, __m512i b) { return _mm512_permutex2var_epi16(a, index, b); }
    static __m512i unpacklo(__m512i a, __m512i b) { return _mm512_unpacklo_epi16(a, b); }
    static __m512i unpackhi(__m512i a, __m512i b) { return _mm512_unpackhi_epi16(a, b); }

    // First each pixel drops the lowest bit of every channel where the other
    // pixel's is clear, which makes every channel's sum even; then the word
    // average, which keeps the 17-bit sum, halves all three sums at once
    // with nothing crossing into the channel below (and its +1 rounding falls
    // on an even sum, so it rounds nothing).
    static __m512i average(__m512i a, __m512i b)
    {
        const __m512i low_bits = _mm512_set1_epi16(0x0821);
        // x & (y | ~low_bits): ternary-logic truth table 0xD0.
        return _mm512_avg_epu16(_mm512_ternarylogic_epi32(a, b, low_bits, 0xD0),
                                _mm512_ternarylogic_epi32(b, a, low_bits, 0xD0));
    }

    // Transposes the 8 x 8 blocks of words inside each 128-bit lane of 8 rows:
    // out[k] holds, in block L, column 8L + k of the 8 rows.
    static void transpose_blocks(const __m512i* q, __m512i* out)
    {
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
            out[2 * i] = _mm512_unpacklo_epi64(u[i], u[i + 4]);
            out[2 * i + 1] = _mm512_unpackhi_epi64(u[i], u[i + 4]);
        }
    }
};

template <>
struct lanes<pixel8888> {
    static constexpr int N = 16;
    using mask = __mmask16;
    static mask ne(__m512i a, __m512i b) { return _mm512_cmpneq_epi32_mask(a, b); }
    static mask eq(__m512i a, __m512i b) { return _mm512_cmpeq_epi32_mask(a, b); }
    static mask test(__m512i a, __m512i b) { return _mm512_test_epi32_mask(a, b); }
    static __m512i set1(int v) { return _mm512_set1_epi32(v); }
    static __m512i add(__m512i src, mask k, __m512i a, __m512i b) { return _mm512_mask_add_epi32(src, k, a, b); }
    static __m512i blend(mask k, __m512i a, __m512i b) { return _mm512_mask_blend_epi32(k, a, b); }
    static __m512i load(mask k, const pixel8888* p) { return _mm512_maskz_loadu_epi32(k, p); }
    static void store(pixel8888* p, mask k, __m512i v) { _mm512_mask_storeu_epi32(p, k, v); }
    static __m512i permute(__m512i a, __m512i index, __m512i b) { return _mm512_permutex2var_epi32(a, index, b); }
    static __m512i unpacklo(__m512i a, __m512i b) { return _mm512_unpacklo_epi32(a, b); }
    static __m512i unpackhi(__m512i a, __m512i b) { return _mm512_unpackhi_epi32(a, b); }

    // The same trick as for RGB565, on bytes.
    static __m512i average(__m512i a, __m512i b)
    {
        const __m512i low_bits = _mm512_set1_epi8(1);
        return _mm512_avg_epu8(_mm512_ternarylogic_epi32(a, b, low_bits, 0xD0),
                               _mm512_ternarylogic_epi32(b, a, low_bits, 0xD0));
    }

    // 4 x 4 blocks of dwords inside each 128-bit lane of 4 rows.
    static void transpose_blocks(const __m512i* q, __m512i* out)
    {
        const __m512i t0 = _mm512_unpacklo_epi32(q[0], q[1]), t1 = _mm512_unpackhi_epi32(q[0], q[1]);
        const __m512i t2 = _mm512_unpacklo_epi32(q[2], q[3]), t3 = _mm512_unpackhi_epi32(q[2], q[3]);
        out[0] = _mm512_unpacklo_epi64(t0, t2);
        out[1] = _mm512_unpackhi_epi64(t0, t2);
        out[2] = _mm512_unpacklo_epi64(t1, t3);
        out[3] = _mm512_unpackhi_epi64(t1, t3);
    }
};

template <typename P>
constexpr int N = lanes<P>::N;
template <typename P>
constexpr int BLOCK = N<P> / 4; // lanes in a 128-bit block

template <typename P>
typename lanes<P>::mask first_lanes(int n)
{
    using mask = typename lanes<P>::mask;
    return n >= N<P> ? mask(~mask{0}) : mask((mask{1} << n) - 1);
}

// Lanes of a strip hold its rows out of order, in the order that lets the
// unpacks interleave two quarters straight into output order: in each
// 128-bit block L the first half of the lanes are rows (B/2)L.. and the second
// half rows N/2 + (B/2)L.., for B lanes in a block.
template <typename P>
constexpr int row_of_lane(int lane)
{
    const int half = BLOCK<P> / 2, block = lane / BLOCK<P>, i = lane % BLOCK<P>;
    return i < half ? half * block + i : N<P> / 2 + half * block + i - half;
}

template <typename P>
constexpr int lane_of_row(int row)
{
    for (int lane = 0; lane < N<P>; ++lane)
        if (row_of_lane<P>(lane) == row)
            return lane;
    return -1;
}

// Index vectors, kept in memory as instruction operands.
template <typename P>
struct index_tables {
    using word = std::conditional_t<sizeof(P) == 2, short, int>;
    static constexpr int n = N<P>;
    // Two-source permutes that move a column of a strip one row earlier
    // (later) and fill the lane left free with element c of the second source.
    alignas(64) word earlier[n][n], later[n][n];
    // Interleave two vectors lane by lane: first halves, then second halves.
    alignas(64) word zip_first[n], zip_second[n];
    // A vector moved one lane up (down), its first (last) lane repeated.
    alignas(64) word from_left[n], from_right[n];

    constexpr index_tables() : earlier{}, later{}, zip_first{}, zip_second{}, from_left{}, from_right{}
    {
        for (int c = 0; c < n; ++c)
            for (int j = 0; j < n; ++j) {
                const int row = row_of_lane<P>(j);
                earlier[c][j] = word(row == 0 ? n + c : lane_of_row<P>(row - 1));
                later[c][j] = word(row == n - 1 ? n + c : lane_of_row<P>(row + 1));
            }
        for (int i = 0; i < n / 2; ++i) {
            zip_first[2 * i] = word(i), zip_first[2 * i + 1] = word(n + i);
            zip_second[2 * i] = word(n / 2 + i), zip_second[2 * i + 1] = word(n + n / 2 + i);
        }
        for (int j = 0; j < n; ++j) {
            from_left[j] = word(j > 0 ? j - 1 : 0);
            from_right[j] = word(j + 1 < n ? j + 1 : n - 1);
        }
    }
};

template <typename P>
constexpr index_tables<P> INDEX{};

template <typename T>
__m512i vec(const T* p)
{
    return _mm512_load_si512(p);
}

// A 256-entry byte lookup per lane (index in the low byte, other bytes 0).
struct code_table {
    __m512i t0, t1, t2, t3;
    explicit code_table(int quarter)
    {
        const auto* t = VECTOR_CODES[quarter].data();
        t0 = _mm512_loadu_si512(t), t1 = _mm512_loadu_si512(t + 64);
        t2 = _mm512_loadu_si512(t + 128), t3 = _mm512_loadu_si512(t + 192);
    }
    // The other bytes of each lane come out as junk (the entry for index 0);
    // every use of the code tests bits of the low byte only.
    __m512i operator()(__m512i index) const
    {
        const __m512i low = _mm512_permutex2var_epi8(t0, index, t1);
        const __m512i high = _mm512_permutex2var_epi8(t2, index, t3);
        return _mm512_mask_blend_epi8(_mm512_movepi8_mask(index), low, high);
    }
};

template <typename P>
struct quarters {
    __m512i tl, tr, bl, br;
};

// The rule, lane by lane.
template <typename P>
struct rule {
    using V = lanes<P>;
    using mask = typename V::mask;
    code_table codes[4] = {code_table(0), code_table(1), code_table(2), code_table(3)};

    // One quarter, from its code, the bits of which pairs hold and its two
    // candidate neighbours. Most blends are halves (H) and E is rare, so the
    // deeper averages are only taken when some lane needs them.
    static __m512i quarter(__m512i code, __m512i pairs, __m512i c, __m512i vertical, __m512i horizontal)
    {
        const mask on = V::test(code, pairs);
        if (on == 0) // no lane blends: straight edges, or pairs that differ
            return c;
        const __m512i x = V::blend(V::test(code, V::set1(CODE_HORIZONTAL)), vertical, horizontal);
        __m512i r = V::average(c, x);
        const mask deeper = on & mask(~V::test(code, V::set1(CODE_H)));
        if (deeper != 0) {
            // Q and E average C into the half once more, W averages X into it.
            const __m512i toward = V::blend(V::test(code, V::set1(CODE_W)), c, x);
            r = V::blend(deeper, r, V::average(toward, r));
            const mask e = on & V::test(code, V::set1(CODE_E));
            if (e != 0)
                r = V::blend(e, r, V::average(c, r));
        }
        return V::blend(on, c, r);
    }

    quarters<P> operator()(__m512i TL, __m512i T, __m512i TR, __m512i L, __m512i C, __m512i R, __m512i BL,
                           __m512i B, __m512i BR) const
    {
        // Any neighbour differing from the centre, in a few bitwise steps:
        // ternary-logic 0x7E is (a ^ c) | (b ^ c), 0xFE is a | b | c.
        const __m512i differ = _mm512_or_si512(
            _mm512_ternarylogic_epi32(_mm512_ternarylogic_epi32(TL, T, C, 0x7E),
                                      _mm512_ternarylogic_epi32(TR, L, C, 0x7E),
                                      _mm512_ternarylogic_epi32(R, BL, C, 0x7E), 0xFE),
            _mm512_ternarylogic_epi32(B, BR, C, 0x7E));
        if (_mm512_test_epi64_mask(differ, differ) == 0)
            return {C, C, C, C}; // flat everywhere: every quarter is the centre

        const mask d[8] = {V::ne(TL, C), V::ne(T, C), V::ne(TR, C), V::ne(L, C),
                           V::ne(R, C),  V::ne(BL, C), V::ne(B, C), V::ne(BR, C)};
        __m512i pattern = _mm512_setzero_si512();
        for (int i = 0; i < 8; ++i)
            pattern = V::add(pattern, d[i], pattern, V::set1(1 << i));

        // Bit n set when pair n holds: T=L, T=R, B=L, B=R.
        __m512i pairs = _mm512_setzero_si512();
        pairs = V::add(pairs, V::eq(T, L), pairs, V::set1(1));
        pairs = V::add(pairs, V::eq(T, R), pairs, V::set1(2));
        pairs = V::add(pairs, V::eq(B, L), pairs, V::set1(4));
        pairs = V::add(pairs, V::eq(B, R), pairs, V::set1(8));

        return {quarter(codes[0](pattern), pairs, C, T, L), quarter(codes[1](pattern), pairs, C, T, R),
                quarter(codes[2](pattern), pairs, C, B, L), quarter(codes[3](pattern), pairs, C, B, R)};
    }
};

// Writes the first `pixels` pixels of two vectors interleaved at `out`:
// a b of the first lane, a b of the second, ... in output order.
template <typename P>
void store_zipped(P* out, __m512i first, __m512i second, int pixels)
{
    using V = lanes<P>;
    if (pixels == 2 * N<P>) {
        _mm512_storeu_si512(out, first);
        _mm512_storeu_si512(out + N<P>, second);
    } else {
        V::store(out, first_lanes<P>(pixels), first);
        if (pixels > N<P>)
            V::store(out + N<P>, first_lanes<P>(pixels - N<P>), second);
    }
}

// One tile of a strip: N source columns from column `first`. Lane j of every
// vector is the strip's row row_of_lane(j), counted from its first row in
// the direction the output runs.
template <typename P>
struct tile {
    using V = lanes<P>;
    __m512i column[N<P>];
    __m512i before, after; // the rows just before and after the strip, over the tile's columns

    // `row(k)` is the strip's k-th source row (k = -1 and N: its neighbours).
    template <typename RowOf>
    tile(const frame_args<P>& f, RowOf row, int first)
    {
        const int columns = std::min(N<P>, f.width - first);
        const auto valid = first_lanes<P>(columns);
        __m512i rows[N<P>];
        for (int j = 0; j < N<P>; ++j)
            rows[j] = V::load(valid, row(row_of_lane<P>(j)) + first);
        before = V::load(valid, row(-1) + first);
        after = V::load(valid, row(N<P>) + first);
        // Transpose: the blocks inside each 128-bit lane first, then the
        // 4 x 4 arrangement of blocks, with 128-bit shuffles.
        constexpr int B = BLOCK<P>;
        __m512i a[N<P>]; // a[B*g + k]: column B*L + k of rows B*g.. in block L
        for (int g = 0; g < 4; ++g)
            V::transpose_blocks(rows + B * g, a + B * g);
        for (int k = 0; k < B; ++k) {
            const __m512i p0 = _mm512_shuffle_i64x2(a[k], a[B + k], 0x88);
            const __m512i p1 = _mm512_shuffle_i64x2(a[k], a[B + k], 0xDD);
            const __m512i p2 = _mm512_shuffle_i64x2(a[2 * B + k], a[3 * B + k], 0x88);
            const __m512i p3 = _mm512_shuffle_i64x2(a[2 * B + k], a[3 * B + k], 0xDD);
            column[k] = _mm512_shuffle_i64x2(p0, p2, 0x88);
            column[2 * B + k] = _mm512_shuffle_i64x2(p0, p2, 0xDD);
            column[B + k] = _mm512_shuffle_i64x2(p1, p3, 0x88);
            column[3 * B + k] = _mm512_shuffle_i64x2(p1, p3, 0xDD);
        }
    }

    // Tile column c with its neighbours one row earlier and later in the strip.
    void get(int c, __m512i (&out)[3]) const
    {
        out[0] = V::permute(column[c], vec(INDEX<P>.earlier[c]), before);
        out[1] = column[c];
        out[2] = V::permute(column[c], vec(INDEX<P>.later[c]), after);
    }
};

// Turned placements. The frame goes in bands of N - 2 source columns, each
// read as a tile of N with its neighbours on both sides; down a band the
// strips fill each output row's next 2N pixels, so the band's output rows
// stay in cache while they are written.
template <typename P, bool CLOCKWISE>
void turned(const frame_args<P>& f)
{
    constexpr int n = N<P>, BAND = n - 2;
    const rule<P> r;
    const int w = f.width, h = f.height;
    const auto source = [&](int y) { return offset_bytes(f.src, std::clamp(y, 0, h - 1) * f.src_pitch); };

    for (int x0 = 0; x0 < w; x0 += BAND) {
        const int x1 = std::min(x0 + BAND, w);
        const int first = std::max(x0 - 1, 0); // the tile's first column
        // Counter-clockwise, a strip's rows run down the source and along the
        // output rows; clockwise they run up the source, so strips are taken
        // from the bottom of the band.
        for (int done = 0; done < f.y_end - f.y_begin; done += n) {
            const int rows = std::min(n, f.y_end - f.y_begin - done);
            const int top = CLOCKWISE ? f.y_end - done - 1 : f.y_begin + done; // source row of strip row 0
            const auto row = [&](int k) { return source(CLOCKWISE ? top - k : top + k); };
            const tile<P> t(f, row, first);
            // Strip row k - 1 is the source row above for counter-clockwise,
            // below for clockwise.
            __m512i left[3], mid[3], right[3];
            t.get(std::max(x0 - 1, 0) - first, left); // column 0 is its own left neighbour
            t.get(x0 - first, mid);
            for (int x = x0; x < x1; ++x) {
                t.get(std::min(x + 1, w - 1) - first, right); // and column w - 1 its own right one
                const int k = CLOCKWISE ? 2 : 0;              // which of earlier / later is above
                const quarters<P> q = r(left[k], mid[k], right[k], left[1], mid[1], right[1], left[2 - k],
                                        mid[2 - k], right[2 - k]);
                using V = lanes<P>;
                if constexpr (CLOCKWISE) {
                    const std::ptrdiff_t out_row = 2 * std::ptrdiff_t{x};
                    P* d0 = offset_bytes(f.dst, out_row * f.dst_pitch) + 2 * std::ptrdiff_t{h - 1 - top};
                    P* d1 = offset_bytes(f.dst, (out_row + 1) * f.dst_pitch) + 2 * std::ptrdiff_t{h - 1 - top};
                    store_zipped(d0, V::unpacklo(q.bl, q.tl), V::unpackhi(q.bl, q.tl), 2 * rows);
                    store_zipped(d1, V::unpacklo(q.br, q.tr), V::unpackhi(q.br, q.tr), 2 * rows);
                } else {
                    const std::ptrdiff_t out_row = 2 * std::ptrdiff_t{w - 1 - x};
                    P* d0 = offset_bytes(f.dst, out_row * f.dst_pitch) + 2 * std::ptrdiff_t{top};
                    P* d1 = offset_bytes(f.dst, (out_row + 1) * f.dst_pitch) + 2 * std::ptrdiff_t{top};
                    store_zipped(d0, V::unpacklo(q.tr, q.br), V::unpackhi(q.tr, q.br), 2 * rows);
                    store_zipped(d1, V::unpacklo(q.tl, q.bl), V::unpackhi(q.tl, q.bl), 2 * rows);
                }
                std::copy(mid, mid + 3, left);
                std::copy(right, right + 3, mid);
            }
        }
    }
}

// Upright placement: N pixels of a source row at a time.
template <typename P>
void upright(const frame_args<P>& f)
{
    using V = lanes<P>;
    constexpr int n = N<P>;
    const rule<P> r;
    const int w = f.width, h = f.height;
    const __m512i from_left = vec(INDEX<P>.from_left), from_right = vec(INDEX<P>.from_right);
    const __m512i zip_first = vec(INDEX<P>.zip_first), zip_second = vec(INDEX<P>.zip_second);

    for (int y = f.y_begin; y < f.y_end; ++y) {
        const P* rows[3] = {offset_bytes(f.src, std::max(y - 1, 0) * f.src_pitch), offset_bytes(f.src, y * f.src_pitch),
                            offset_bytes(f.src, std::min(y + 1, h - 1) * f.src_pitch)};
        P* d0 = offset_bytes(f.dst, 2 * std::ptrdiff_t{y} * f.dst_pitch);
        P* d1 = offset_bytes(f.dst, (2 * std::ptrdiff_t{y} + 1) * f.dst_pitch);
        for (int x0 = 0; x0 < w; x0 += n) {
            const int count = std::min(n, w - x0);
            const auto valid = first_lanes<P>(count);
            __m512i v[3][3]; // [row][left, centre, right]
            for (int i = 0; i < 3; ++i) {
                const __m512i c = V::load(valid, rows[i] + x0);
                // The row's ends are their own outer neighbours.
                v[i][0] = x0 > 0 ? V::load(valid, rows[i] + x0 - 1) : V::permute(c, from_left, c);
                v[i][1] = c;
                if (x0 + n < w) {
                    v[i][2] = V::load(valid, rows[i] + x0 + 1);
                } else {
                    // Past the last pixel, lanes repeat it: move down, then
                    // put the last pixel into lane count - 1.
                    const __m512i moved = V::permute(c, from_right, c);
                    v[i][2] = V::blend(typename V::mask(first_lanes<P>(count) & ~first_lanes<P>(count - 1)), moved,
                                       c);
                }
            }
            const quarters<P> q = r(v[0][0], v[0][1], v[0][2], v[1][0], v[1][1], v[1][2], v[2][0], v[2][1], v[2][2]);
            store_zipped(d0 + 2 * x0, V::permute(q.tl, zip_first, q.tr), V::permute(q.tl, zip_second, q.tr),
                         2 * count);
            store_zipped(d1 + 2 * x0, V::permute(q.bl, zip_first, q.br), V::permute(q.bl, zip_second, q.br),
                         2 * count);
        }
    }
}

template <typename P>
void frame(const frame_args<P>& f)
{
    switch (f.turn) {
    case orientation::upright: return upright(f);
    case orientation::ccw: return turned<P, false>(f);
    case orientation::cw: return turned<P, true>(f);
    }
}

} // namespace

bool avx512_available()
{
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi");
}

void frame_avx512(const frame_args<pixel565>& f) { frame(f); }
void frame_avx512(const frame_args<pixel8888>& f) { frame(f); }

} // namespace lq2x::detail

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC diagnostic pop
#pragma GCC pop_options
#endif

#else

namespace lq2x::detail {
bool avx512_available() { return false; }
void frame_avx512(const frame_args<pixel565>&) {}
void frame_avx512(const frame_args<pixel8888>&) {}
} // namespace lq2x::detail

#endif
