// The frame walk with AVX2: 16 RGB565 or 8 32-bit pixels at a time, for
// x86-64 processors without AVX-512.
//
// The same plan as the AVX-512 kernel (lanes down a source column for the
// turned placements, along a source row for upright; the same quarter codes
// and floor-average blends), with what AVX2 lacks done another way: masks are
// vectors, the 256-entry code lookups are gathers, and lanes stay in
// row order, so interleaving two quarters takes unpacks and a 128-bit swap.
// Partial vectors at the frame's edges go through small buffers on the stack.

#include "kernels.h"

#if defined(__x86_64__) && defined(__GNUC__)

#include <immintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
// GCC 12 takes some intrinsics' internal "undefined" operand for an
// uninitialised variable.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace lq2x::detail {
namespace {

using vec = __m256i;

template <typename P>
struct lanes;

template <>
struct lanes<pixel565> {
    static constexpr int N = 16;
    static vec eq(vec a, vec b) { return _mm256_cmpeq_epi16(a, b); }
    static vec set1(int v) { return _mm256_set1_epi16(short(v)); }
    static vec unpacklo(vec a, vec b) { return _mm256_unpacklo_epi16(a, b); }
    static vec unpackhi(vec a, vec b) { return _mm256_unpackhi_epi16(a, b); }
    static vec average(vec a, vec b)
    {
        // As in the AVX-512 kernel: drop the low bit of each channel where the
        // other pixel's is clear, then one word average halves every channel.
        const vec low = _mm256_set1_epi16(0x0821);
        return _mm256_avg_epu16(_mm256_andnot_si256(_mm256_andnot_si256(b, low), a),
                                _mm256_andnot_si256(_mm256_andnot_si256(a, low), b));
    }
    // 8 x 8 words inside each 128-bit lane of 8 rows: out[k] holds, in lane
    // half L, column 8L + k.
    static void transpose_blocks(const vec* q, vec* out)
    {
        vec t[8], u[8];
        for (int i = 0; i < 4; ++i) {
            t[2 * i] = _mm256_unpacklo_epi16(q[2 * i], q[2 * i + 1]);
            t[2 * i + 1] = _mm256_unpackhi_epi16(q[2 * i], q[2 * i + 1]);
        }
        for (int i = 0; i < 2; ++i) {
            u[4 * i] = _mm256_unpacklo_epi32(t[4 * i], t[4 * i + 2]);
            u[4 * i + 1] = _mm256_unpackhi_epi32(t[4 * i], t[4 * i + 2]);
            u[4 * i + 2] = _mm256_unpacklo_epi32(t[4 * i + 1], t[4 * i + 3]);
            u[4 * i + 3] = _mm256_unpackhi_epi32(t[4 * i + 1], t[4 * i + 3]);
        }
        for (int i = 0; i < 4; ++i) {
            out[2 * i] = _mm256_unpacklo_epi64(u[i], u[i + 4]);
            out[2 * i + 1] = _mm256_unpackhi_epi64(u[i], u[i + 4]);
        }
    }
};

template <>
struct lanes<pixel8888> {
    static constexpr int N = 8;
    static vec eq(vec a, vec b) { return _mm256_cmpeq_epi32(a, b); }
    static vec set1(int v) { return _mm256_set1_epi32(v); }
    static vec unpacklo(vec a, vec b) { return _mm256_unpacklo_epi32(a, b); }
    static vec unpackhi(vec a, vec b) { return _mm256_unpackhi_epi32(a, b); }
    static vec average(vec a, vec b)
    {
        const vec low = _mm256_set1_epi8(1);
        return _mm256_avg_epu8(_mm256_andnot_si256(_mm256_andnot_si256(b, low), a),
                               _mm256_andnot_si256(_mm256_andnot_si256(a, low), b));
    }
    static void transpose_blocks(const vec* q, vec* out)
    {
        const vec t0 = _mm256_unpacklo_epi32(q[0], q[1]), t1 = _mm256_unpackhi_epi32(q[0], q[1]);
        const vec t2 = _mm256_unpacklo_epi32(q[2], q[3]), t3 = _mm256_unpackhi_epi32(q[2], q[3]);
        out[0] = _mm256_unpacklo_epi64(t0, t2);
        out[1] = _mm256_unpackhi_epi64(t0, t2);
        out[2] = _mm256_unpacklo_epi64(t1, t3);
        out[3] = _mm256_unpackhi_epi64(t1, t3);
    }
};

template <typename P>
constexpr int N = lanes<P>::N;

template <typename P>
vec load(const P* p, int count)
{
    if (count == N<P>)
        return _mm256_loadu_si256(reinterpret_cast<const vec*>(p));
    alignas(32) P part[N<P>] = {};
    std::memcpy(part, p, sizeof(P) * std::size_t(count));
    return _mm256_load_si256(reinterpret_cast<const vec*>(part));
}

// Stores the first `count` pixels of v.
template <typename P>
void store(P* p, vec v, int count)
{
    if (count == N<P>) {
        _mm256_storeu_si256(reinterpret_cast<vec*>(p), v);
        return;
    }
    alignas(32) P part[N<P>];
    _mm256_store_si256(reinterpret_cast<vec*>(part), v);
    std::memcpy(p, part, sizeof(P) * std::size_t(count));
}

// Writes a and b interleaved lane by lane (a0 b0 a1 b1 ...), the first
// `pixels` pixels of them.
template <typename P>
void store_zipped(P* out, vec a, vec b, int pixels)
{
    using V = lanes<P>;
    const vec lo = V::unpacklo(a, b), hi = V::unpackhi(a, b);
    store(out, _mm256_permute2x128_si256(lo, hi, 0x20), std::min(pixels, N<P>));
    if (pixels > N<P>)
        store(out + N<P>, _mm256_permute2x128_si256(lo, hi, 0x31), pixels - N<P>);
}

// Lane by lane: the lanes of v moved one later, lane 0 taking `first`; or
// one earlier, the last lane taking `last`.
template <typename P>
vec shift_later(vec v, P first)
{
    const vec fill = sizeof(P) == 2 ? _mm256_set1_epi16(short(first)) : _mm256_set1_epi32(int(first));
    return _mm256_alignr_epi8(v, _mm256_permute2x128_si256(fill, v, 0x20), 16 - int(sizeof(P)));
}

template <typename P>
vec shift_earlier(vec v, P last)
{
    const vec fill = sizeof(P) == 2 ? _mm256_set1_epi16(short(last)) : _mm256_set1_epi32(int(last));
    return _mm256_alignr_epi8(_mm256_permute2x128_si256(v, fill, 0x21), v, int(sizeof(P)));
}

template <typename P>
struct quarters {
    vec tl, tr, bl, br;
};

// The four quarters' codes of each pattern in one 32-bit entry, tl in the
// lowest byte, so that one gather fetches all of a lane's codes.
struct packed_codes {
    alignas(32) std::uint32_t entry[256];
    constexpr packed_codes() : entry{}
    {
        for (int p = 0; p < 256; ++p)
            entry[p] = std::uint32_t(VECTOR_CODES[0][p]) | std::uint32_t(VECTOR_CODES[1][p]) << 8 |
                       std::uint32_t(VECTOR_CODES[2][p]) << 16 | std::uint32_t(VECTOR_CODES[3][p]) << 24;
    }
};
constexpr packed_codes PACKED_CODES{};

vec gather_codes(vec index32)
{
    return _mm256_i32gather_epi32(reinterpret_cast<const int*>(PACKED_CODES.entry), index32, 4);
}

// Shuffles that move byte q of each 32-bit entry of a 128-bit half to the
// low byte of a lane of 2 bytes (the half's 4 entries to its first 4 lanes)
// or of 4 bytes, the other bytes zero.
struct pick_masks {
    alignas(32) std::int8_t to_words[4][32], to_dwords[4][32];
    constexpr pick_masks() : to_words{}, to_dwords{}
    {
        for (int q = 0; q < 4; ++q)
            for (int i = 0; i < 32; ++i) {
                const int b = i % 16;
                to_words[q][i] = std::int8_t(b % 2 == 0 && b < 8 ? 4 * (b / 2) + q : -128);
                to_dwords[q][i] = std::int8_t(b % 4 == 0 ? b + q : -128);
            }
    }
};
constexpr pick_masks PICK{};

vec pick_byte(vec entries, const std::int8_t (&mask)[32])
{
    return _mm256_shuffle_epi8(entries, _mm256_load_si256(reinterpret_cast<const vec*>(mask)));
}

// The four quarters' codes for each lane's pattern, in the lane's width.
template <typename P>
void lookup_codes(vec pattern, vec (&codes)[4])
{
    if constexpr (sizeof(P) == 2) {
        const vec low = gather_codes(_mm256_cvtepu16_epi32(_mm256_castsi256_si128(pattern)));   // lanes 0-7
        const vec high = gather_codes(_mm256_cvtepu16_epi32(_mm256_extracti128_si256(pattern, 1))); // lanes 8-15
        for (int q = 0; q < 4; ++q) {
            // Halves hold lanes 0-3 | 8-11 and 4-7 | 12-15; put them in order.
            const vec both = _mm256_unpacklo_epi64(pick_byte(low, PICK.to_words[q]), pick_byte(high, PICK.to_words[q]));
            codes[q] = _mm256_permute4x64_epi64(both, 0xD8);
        }
    } else {
        const vec entries = gather_codes(pattern);
        for (int q = 0; q < 4; ++q)
            codes[q] = pick_byte(entries, PICK.to_dwords[q]);
    }
}

template <typename P>
struct rule {
    using V = lanes<P>;

    static bool none(vec mask) { return _mm256_testz_si256(mask, mask) != 0; }

    static vec quarter(vec code, vec pairs, vec c, vec vertical, vec horizontal)
    {
        const vec zero = _mm256_setzero_si256();
        const vec on = _mm256_andnot_si256(V::eq(_mm256_and_si256(code, pairs), zero), V::set1(-1));
        if (none(on)) // no lane blends: straight edges, or pairs that differ
            return c;
        const auto has = [&](int bit) { return V::eq(_mm256_and_si256(code, V::set1(bit)), V::set1(bit)); };
        const vec x = _mm256_blendv_epi8(vertical, horizontal, has(CODE_HORIZONTAL));
        vec r = V::average(c, x);
        const vec deeper = _mm256_andnot_si256(has(CODE_H), on);
        if (!none(deeper)) {
            // Q and E average C into the half once more, W averages X into it.
            const vec toward = _mm256_blendv_epi8(c, x, has(CODE_W));
            r = _mm256_blendv_epi8(r, V::average(toward, r), deeper);
            const vec e = _mm256_and_si256(has(CODE_E), on);
            if (!none(e))
                r = _mm256_blendv_epi8(r, V::average(c, r), e);
        }
        return _mm256_blendv_epi8(c, r, on);
    }

    quarters<P> operator()(vec TL, vec T, vec TR, vec L, vec C, vec R, vec BL, vec B, vec BR) const
    {
        const vec n[8] = {TL, T, TR, L, R, BL, B, BR};
        vec same = _mm256_set1_epi8(-1);
        vec pattern = _mm256_setzero_si256();
        for (int i = 0; i < 8; ++i) {
            const vec eq = V::eq(n[i], C);
            same = _mm256_and_si256(same, eq);
            pattern = _mm256_or_si256(pattern, _mm256_andnot_si256(eq, V::set1(1 << i)));
        }
        if (_mm256_movemask_epi8(same) == -1)
            return {C, C, C, C}; // flat everywhere: every quarter is the centre

        // Bit n set when pair n holds: T=L, T=R, B=L, B=R.
        const vec pairs = _mm256_or_si256(
            _mm256_or_si256(_mm256_and_si256(V::eq(T, L), V::set1(1)), _mm256_and_si256(V::eq(T, R), V::set1(2))),
            _mm256_or_si256(_mm256_and_si256(V::eq(B, L), V::set1(4)), _mm256_and_si256(V::eq(B, R), V::set1(8))));

        vec code[4];
        lookup_codes<P>(pattern, code);
        const auto codes = [&](int q) { return code[q]; };
        return {quarter(codes(0), pairs, C, T, L), quarter(codes(1), pairs, C, T, R),
                quarter(codes(2), pairs, C, B, L), quarter(codes(3), pairs, C, B, R)};
    }
};

// One tile of a strip: N source columns from column `first`; lane j of a
// column is the strip's row j.
template <typename P>
struct tile {
    using V = lanes<P>;
    vec column[N<P>];
    alignas(32) P before[N<P>], after[N<P>]; // the rows just before and after the strip

    template <typename RowOf>
    tile(const frame_args<P>& f, RowOf row, int first)
    {
        const int columns = std::min(N<P>, f.width - first);
        vec rows[N<P>];
        for (int j = 0; j < N<P>; ++j)
            rows[j] = load(row(j) + first, columns);
        std::memset(before, 0, sizeof before);
        std::memset(after, 0, sizeof after);
        std::memcpy(before, row(-1) + first, sizeof(P) * std::size_t(columns));
        std::memcpy(after, row(N<P>) + first, sizeof(P) * std::size_t(columns));
        // Transpose: blocks inside each 128-bit lane, then the 2 x 2 of halves.
        constexpr int B = N<P> / 2;
        vec a[N<P>];
        for (int g = 0; g < 2; ++g)
            V::transpose_blocks(rows + B * g, a + B * g);
        for (int k = 0; k < B; ++k) {
            column[k] = _mm256_permute2x128_si256(a[k], a[B + k], 0x20);
            column[B + k] = _mm256_permute2x128_si256(a[k], a[B + k], 0x31);
        }
    }

    void get(int c, vec (&out)[3]) const
    {
        out[0] = shift_later(column[c], before[c]);
        out[1] = column[c];
        out[2] = shift_earlier(column[c], after[c]);
    }
};

template <typename P, bool CLOCKWISE>
void turned(const frame_args<P>& f)
{
    constexpr int n = N<P>, BAND = n - 2;
    const rule<P> r;
    const int w = f.width, h = f.height;
    const auto source = [&](int y) { return offset_bytes(f.src, std::clamp(y, 0, h - 1) * f.src_pitch); };

    for (int x0 = 0; x0 < w; x0 += BAND) {
        const int x1 = std::min(x0 + BAND, w);
        const int first = std::max(x0 - 1, 0);
        for (int done = 0; done < f.y_end - f.y_begin; done += n) {
            const int rows = std::min(n, f.y_end - f.y_begin - done);
            const int top = CLOCKWISE ? f.y_end - done - 1 : f.y_begin + done;
            const auto row = [&](int k) { return source(CLOCKWISE ? top - k : top + k); };
            const tile<P> t(f, row, first);
            vec left[3], mid[3], right[3];
            t.get(std::max(x0 - 1, 0) - first, left);
            t.get(x0 - first, mid);
            for (int x = x0; x < x1; ++x) {
                t.get(std::min(x + 1, w - 1) - first, right);
                const int k = CLOCKWISE ? 2 : 0; // which of earlier / later is above
                const quarters<P> q = r(left[k], mid[k], right[k], left[1], mid[1], right[1], left[2 - k],
                                        mid[2 - k], right[2 - k]);
                if constexpr (CLOCKWISE) {
                    const std::ptrdiff_t out_row = 2 * std::ptrdiff_t{x}, col = 2 * std::ptrdiff_t{h - 1 - top};
                    store_zipped(offset_bytes(f.dst, out_row * f.dst_pitch) + col, q.bl, q.tl, 2 * rows);
                    store_zipped(offset_bytes(f.dst, (out_row + 1) * f.dst_pitch) + col, q.br, q.tr, 2 * rows);
                } else {
                    const std::ptrdiff_t out_row = 2 * std::ptrdiff_t{w - 1 - x}, col = 2 * std::ptrdiff_t{top};
                    store_zipped(offset_bytes(f.dst, out_row * f.dst_pitch) + col, q.tr, q.br, 2 * rows);
                    store_zipped(offset_bytes(f.dst, (out_row + 1) * f.dst_pitch) + col, q.tl, q.bl, 2 * rows);
                }
                std::copy(mid, mid + 3, left);
                std::copy(right, right + 3, mid);
            }
        }
    }
}

template <typename P>
void upright(const frame_args<P>& f)
{
    constexpr int n = N<P>;
    const rule<P> r;
    const int w = f.width, h = f.height;
    for (int y = f.y_begin; y < f.y_end; ++y) {
        const P* rows[3] = {offset_bytes(f.src, std::max(y - 1, 0) * f.src_pitch), offset_bytes(f.src, y * f.src_pitch),
                            offset_bytes(f.src, std::min(y + 1, h - 1) * f.src_pitch)};
        P* d0 = offset_bytes(f.dst, 2 * std::ptrdiff_t{y} * f.dst_pitch);
        P* d1 = offset_bytes(f.dst, (2 * std::ptrdiff_t{y} + 1) * f.dst_pitch);
        for (int x0 = 0; x0 < w; x0 += n) {
            const int count = std::min(n, w - x0);
            vec v[3][3]; // [row][left, centre, right]
            for (int i = 0; i < 3; ++i) {
                const P* p = rows[i] + x0;
                v[i][1] = load(p, count);
                // The row's ends are their own outer neighbours.
                v[i][0] = x0 > 0 ? load(p - 1, count) : shift_later(v[i][1], p[0]);
                if (x0 + n < w) {
                    v[i][2] = load(p + 1, count);
                } else {
                    alignas(32) P right[n] = {};
                    std::memcpy(right, p + 1, sizeof(P) * std::size_t(count - 1));
                    right[count - 1] = p[count - 1];
                    v[i][2] = _mm256_load_si256(reinterpret_cast<const vec*>(right));
                }
            }
            const quarters<P> q = r(v[0][0], v[0][1], v[0][2], v[1][0], v[1][1], v[1][2], v[2][0], v[2][1], v[2][2]);
            store_zipped(d0 + 2 * x0, q.tl, q.tr, 2 * count);
            store_zipped(d1 + 2 * x0, q.bl, q.br, 2 * count);
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

bool avx2_available() { return __builtin_cpu_supports("avx2"); }

void frame_avx2(const frame_args<pixel565>& f) { frame(f); }
void frame_avx2(const frame_args<pixel8888>& f) { frame(f); }

} // namespace lq2x::detail

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC diagnostic pop
#pragma GCC pop_options
#endif

#else

namespace lq2x::detail {
bool avx2_available() { return false; }
void frame_avx2(const frame_args<pixel565>&) {}
void frame_avx2(const frame_args<pixel8888>&) {}
} // namespace lq2x::detail

#endif
