// The rule on lanes, written once over a target's operations (operations.h):
// each lane's block from its neighbourhood, and the blocks of a vector's
// lanes stored as a placement puts them. Included inside each target's
// namespace, after its operations, so that every target gets its own copy
// compiled with its own flags, which the linker cannot merge with another
// target's; for the same reason it uses no standard-library templates that
// emit code (an instantiation shared with another translation unit might be
// kept from the one built for another processor). Work on arrays of vectors
// stays in registers only when inlined, so it is forced inline.
//
// Blends use the floor average only: with a per-channel floor average
// avg(a, b), blend(C, X, 3, 1) = avg(C, avg(C, X)),
// blend(X, C, 3, 1) = avg(X, avg(C, X)) and
// blend(C, X, 7, 1) = avg(C, avg(C, avg(C, X))) exactly, because each floor
// only drops a bit that the next halving would drop anyway.

template <typename P>
constexpr int N = LANES<P>;

constexpr int min_of(int a, int b) { return a < b ? a : b; }
constexpr int max_of(int a, int b) { return a < b ? b : a; }

// One quarter, from its code (see VECTOR_CODES), the bits of which pairs hold
// and its two candidate neighbours. Most blends are halves (H) and E is rare,
// so vectors of 256 bits and more blend only when some lane needs it; on
// 128-bit ones, whose few lanes agree far less predictably, the branches
// cost more than they save (on noise, twice the time). The blend is laid out
// as the path that falls through: on noise nearly every 32-lane vector has a
// lane that blends, and jumping out to the blend and back cost AVX-512 about
// 5 % there, with no gain on pixel art.
template <typename P>
[[gnu::always_inline]] inline vec<P> quarter(vec<P> code, vec<P> pairs, vec<P> c, vec<P> vertical, vec<P> horizontal)
{
    constexpr bool SKIP = sizeof(vec<P>) >= 32;
    const mask<P> on = test(code, pairs);
    if (SKIP && !any(on)) [[unlikely]] // no lane blends: straight edges, or pairs that differ
        return c;
    const vec<P> x = select(has(code, splat(P(CODE_HORIZONTAL))), vertical, horizontal);
    vec<P> r = average(c, x);
    const mask<P> deeper = and_not(on, has(code, splat(P(CODE_H))));
    if (!SKIP || any(deeper)) {
        // Q and E average C into the half once more, W averages X into it.
        const vec<P> toward = select(has(code, splat(P(CODE_W))), c, x);
        r = select(deeper, r, average(toward, r));
        const mask<P> e = and_(on, has(code, splat(P(CODE_E))));
        if (!SKIP || any(e))
            r = select(e, r, average(c, r));
    }
    return select(on, c, r);
}

// The rule, lane by lane: the four quarters (tl, tr, bl, br) of each lane's
// block from its neighbourhood TL T TR L C R BL B BR.
template <typename P, typename Tables>
[[gnu::always_inline]] inline void blocks(const Tables& tables, const vec<P> (&n)[9], vec<P> (&q)[4])
{
    const vec<P> c = n[4];
    if (flat(n)) {
        q[0] = q[1] = q[2] = q[3] = c; // every quarter is the centre
        return;
    }
    // The pattern: which neighbours differ (all, less those that match).
    vec<P> pattern = splat(P(255));
#pragma GCC unroll 9
    for (int i = 0, bit = 1; i < 9; ++i)
        if (i != 4) {
            pattern = clear_where(pattern, eq(n[i], c), splat(P(bit)));
            bit <<= 1;
        }
    // Bit n set when pair n holds: T=L, T=R, B=L, B=R.
    vec<P> pairs = or_where(splat(P(0)), eq(n[1], n[3]), splat(P(1)));
    pairs = or_where(pairs, eq(n[1], n[5]), splat(P(2)));
    pairs = or_where(pairs, eq(n[7], n[3]), splat(P(4)));
    pairs = or_where(pairs, eq(n[7], n[5]), splat(P(8)));

    const auto code = codes(tables, pattern);
    q[0] = quarter(code_of(code, 0), pairs, c, n[1], n[3]);
    q[1] = quarter(code_of(code, 1), pairs, c, n[1], n[5]);
    q[2] = quarter(code_of(code, 2), pairs, c, n[7], n[3]);
    q[3] = quarter(code_of(code, 3), pairs, c, n[7], n[5]);
}

// Writes `pixels` pixels of two quarters interleaved lane by lane, in the
// lanes' order of rows (TILE) or natural order.
template <bool TILE, typename P>
[[gnu::always_inline]] inline void store_zipped(P* out, vec<P> a, vec<P> b, int pixels)
{
    vec<P> first, second;
    zip<TILE>(a, b, first, second);
    if (pixels == 2 * N<P>) { // nearly always: one test, and no masks
        store(out, first, N<P>);
        store(out + N<P>, second, N<P>);
        return;
    }
    store(out, first, min_of(pixels, N<P>));
    if (pixels > N<P>)
        store(out + N<P>, second, pixels - N<P>);
}

// The two output rows of the lanes' blocks, `pixels` wide, from `out` on:
// quarters placed as TURN places them.
template <bool TILE, orientation TURN, typename P>
[[gnu::always_inline]] inline void store_blocks(P* out, std::ptrdiff_t pitch, const vec<P> (&q)[4], int pixels)
{
    constexpr auto& at = QUARTER_AT[int(TURN)];
    store_zipped<TILE>(out, q[at[0][0]], q[at[0][1]], pixels);
    store_zipped<TILE>(offset_bytes(out, pitch), q[at[1][0]], q[at[1][1]], pixels);
}

// Transposes N rows of N pixels: zips inside each 128-bit block (log2 of its
// lanes rounds of pairing row i with row i + B/2 transpose a B x B block),
// then the blocks themselves.
template <typename P>
[[gnu::always_inline]] inline void transpose(vec<P> (&v)[N<P>])
{
    constexpr int B = 16 / int(sizeof(P));
#pragma GCC unroll 16
    for (int g = 0; g < N<P>; g += B)
#pragma GCC unroll 4
        for (int round = 1; round < B; round *= 2) {
            vec<P> t[B];
#pragma GCC unroll 4
            for (int i = 0; i < B / 2; ++i) {
                t[2 * i] = zip_lo(v[g + i], v[g + i + B / 2]);
                t[2 * i + 1] = zip_hi(v[g + i], v[g + i + B / 2]);
            }
            for (int i = 0; i < B; ++i)
                v[g + i] = t[i];
        }
    transpose_blocks(v);
}
