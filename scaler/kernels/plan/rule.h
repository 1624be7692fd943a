// Part of the plan (plan.h), the rule on lanes: each lane's block from its
// neighbourhood, as the pattern of its equalities decides.
//
// Blends use the floor average only: with a per-channel floor average
// avg(a, b), blend(C, X, 3, 1) = avg(C, avg(C, X)),
// blend(X, C, 3, 1) = avg(X, avg(C, X)) and
// blend(C, X, 7, 1) = avg(C, avg(C, avg(C, X))) exactly, because each floor
// only drops a bit that the next halving would drop anyway.

template <typename P>
constexpr int N = LANES<P>;

// Where the walks' code starts: on a 64-byte boundary, the block a core
// fetches and caches decoded instructions by, so that their hot loops lie
// the same way in every build whatever code the linker puts before them
// (some processors' times moved with a build's layout alone; see
// docs/performance.md).
constexpr int CODE_ALIGNMENT = 64;

constexpr int min_of(int a, int b) { return a < b ? a : b; }
constexpr int max_of(int a, int b) { return a < b ? b : a; }

// One quarter, from its code (see VECTOR_CODES), the bits of which pairs hold
// and its two candidate neighbours. Under BRANCH_ON_ANY (the trait of
// targets with 256-bit vectors and more) it blends only when some lane needs
// it, and past the half (H) only when some lane goes deeper, which on
// generated art most blending vectors do not; with fewer lanes, which agree
// far less predictably, the branches cost more than they save. The blend is
// laid out as the path that falls through: on noise nearly every 32-lane
// vector has a lane that blends, and jumping out to the blend and back cost
// time there, with no gain on pixel art.
template <typename P>
[[gnu::always_inline]] inline vec<P> quarter(vec<P> code, vec<P> pairs, vec<P> c, vec<P> vertical, vec<P> horizontal)
{
    const mask<P> on = test(code, pairs);
    if (BRANCH_ON_ANY && !any(on)) [[unlikely]] // no lane blends: straight edges, or pairs that differ
        return c;
    const vec<P> x = select(has(code, splat(P(CODE_HORIZONTAL))), vertical, horizontal);
    vec<P> r = average(c, x);
    const mask<P> deeper = and_not(on, has(code, splat(P(CODE_H))));
    if (!BRANCH_ON_ANY || any(deeper)) {
        // Q and E average C into the half once more, W averages X into it.
        const vec<P> toward = select(has(code, splat(P(CODE_W))), c, x);
        r = select(deeper, r, average(toward, r));
        // E once more again, without a branch of its own: in real art most
        // vectors that go deeper have an E lane, yet whether one does changes
        // from column to column so often that the branch cost AVX-512 and
        // AVX2 about a tenth of their time at 1920 x 1080; taking it out cost
        // generated art nothing measurable.
        r = select(and_(on, has(code, splat(P(CODE_E)))), r, average(c, r));
    }
    return select(on, c, r);
}

// The pattern's bits, set where a neighbour differs from C: TL T TR L R BL B BR.
constexpr unsigned BIT_TL = 1, BIT_T = 2, BIT_TR = 4, BIT_L = 8, BIT_R = 16, BIT_BL = 32, BIT_B = 64, BIT_BR = 128;

// The pattern with the bits of a neighbourhood's left column done (the rest
// still set), from its upper, middle and lower rows' left pixels (t, c, b)
// and its centre (r). Along a row of neighbourhoods, each one's left column
// the last one's middle, these are the last one's comparisons T=R, R=C and
// B=R, so each neighbourhood leaves them to the next (see decide_along).
template <typename P>
[[gnu::always_inline]] inline vec<P> left_pattern(vec<P> t, vec<P> c, vec<P> b, vec<P> r)
{
    vec<P> pattern = clear_where(splat(P(255)), eq(t, r), splat(P(BIT_TL)));
    pattern = clear_where(pattern, eq(c, r), splat(P(BIT_L)));
    return clear_where(pattern, eq(b, r), splat(P(BIT_BL)));
}

// What the rule decides for a neighbourhood: whether it is flat, else each
// quarter's code and which pairs hold (decide_along zeroes them where flat,
// so that a copy reads nothing unset). Flat asks only T, L, R and B: a
// quarter blends C with one of those alone (codes.h checks the rule for it),
// so where they equal C every quarter is C whatever the corners are.
template <typename P>
struct decisions {
    bool flat;
    vec<P> code[4], pairs;
};

// The decisions for a neighbourhood that is not flat, its pattern's left bits
// in `left`, which then holds those of the next neighbourhood along.
template <typename P, typename Tables>
[[gnu::always_inline]] inline void decide(const Tables& tables, const vec<P> (&n)[9], vec<P>& left, decisions<P>& d)
{
    const vec<P> c = n[4];
    const mask<P> r = eq(n[5], c), t_r = eq(n[1], n[5]), b_r = eq(n[7], n[5]);
    vec<P> pattern = clear_where(left, eq(n[1], c), splat(P(BIT_T)));
    pattern = clear_where(pattern, eq(n[2], c), splat(P(BIT_TR)));
    pattern = clear_where(pattern, r, splat(P(BIT_R)));
    pattern = clear_where(pattern, eq(n[7], c), splat(P(BIT_B)));
    pattern = clear_where(pattern, eq(n[8], c), splat(P(BIT_BR)));
    // Bit n set when pair n holds: T=L, T=R, B=L, B=R.
    vec<P> pairs = or_where(splat(P(0)), eq(n[1], n[3]), splat(P(1)));
    pairs = or_where(pairs, t_r, splat(P(2)));
    pairs = or_where(pairs, eq(n[7], n[3]), splat(P(4)));
    pairs = or_where(pairs, b_r, splat(P(8)));
    vec<P> next = clear_where(splat(P(255)), t_r, splat(P(BIT_TL)));
    next = clear_where(next, r, splat(P(BIT_L)));
    left = clear_where(next, b_r, splat(P(BIT_BL)));

    const auto code = codes(tables, pattern);
    d.flat = false;
    for (int q = 0; q < 4; ++q)
        d.code[q] = code_of(code, q);
    d.pairs = pairs;
}

// decide for a neighbourhood whose left column's bits `carried` holds
// (left_pattern); it then holds those of the next neighbourhood along.
// Carrying the pairs T=L and B=L as well (TR=C and BR=C there) took one more
// vector through the walk's loop, and flat frames were slower for it.
template <typename P, typename Tables>
[[gnu::always_inline]] inline void decide_along(const Tables& tables, const vec<P> (&n)[9], vec<P>& carried,
                                                decisions<P>& d)
{
    d.flat = flat(n);
    if (d.flat) { // T = L = R = B = C: the next one's left column matches its centre
        carried = splat(P(255 - BIT_TL - BIT_L - BIT_BL));
        d.code[0] = d.code[1] = d.code[2] = d.code[3] = d.pairs = splat(P(0));
    } else {
        decide(tables, n, carried, d);
    }
}

// The four quarters (tl, tr, bl, br) of each lane's block from its
// neighbourhood TL T TR L C R BL B BR and the decisions for it; whether it
// was flat, so that the blocks are the centres.
template <typename P>
[[gnu::always_inline]] inline bool blend(const decisions<P>& d, const vec<P> (&n)[9], vec<P> (&q)[4])
{
    const vec<P> c = n[4];
    if (d.flat) {
        q[0] = q[1] = q[2] = q[3] = c;
        return true;
    }
    q[0] = quarter(d.code[0], d.pairs, c, n[1], n[3]);
    q[1] = quarter(d.code[1], d.pairs, c, n[1], n[5]);
    q[2] = quarter(d.code[2], d.pairs, c, n[7], n[3]);
    q[3] = quarter(d.code[3], d.pairs, c, n[7], n[5]);
    return false;
}

// The rule, lane by lane, for a neighbourhood on its own: its blocks, and
// whether it was flat.
template <typename P, typename Tables>
[[gnu::always_inline]] inline bool blocks(const Tables& tables, const vec<P> (&n)[9], vec<P> (&q)[4])
{
    decisions<P> d;
    d.flat = flat(n);
    if (!d.flat) {
        vec<P> left = left_pattern(n[0], n[3], n[6], n[4]);
        decide(tables, n, left, d); // (what it leaves the next goes unused)
    }
    return blend(d, n, q);
}
