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
// and its two candidate neighbours. Vectors of 256 bits and more blend only
// when some lane needs it, and past the half (H) only when some lane goes
// deeper, which on generated art most blending vectors do not; on
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

// Output streamed past the caches, for outputs larger than they are (see
// STREAM_BYTES). There an ordinary store that fills less than a whole 64-byte
// line costs a read of the line first, and a streamed one a write of the
// whole line; so only whole aligned lines are streamed. A row's pieces (the
// two vectors of a row that a vector of blocks makes) come front to back, so
// each row's streamed_row joins them into lines: a piece that ends inside a
// line leaves that part held until the row's next piece completes the line.
// That is done for rows whose pieces start on a line or half-way into one
// (rows of 4,320 bytes at 1920 x 1080, say, alternate); a walk whose rows lie
// otherwise, or a piece that is not whole (a row's or strip's last), takes
// ordinary stores, and a held part whose line is not completed is stored as
// an ordinary one when its run ends.
//
// The blocks of flat neighbourhoods are streamed: there the stores are the
// work (flat 1920 x 1080 frames up to 1.7 times as fast on an AMD EPYC with
// AVX-512; see docs/performance.md). Where the rule blends, its work mostly
// hides what ordinary stores cost, so blended blocks are streamed only where
// the turned walk keeps up with the memory (STREAM_BLENDED in plan_walk.h).
constexpr int LINE = 64; // bytes

// How many pieces make a line: 0 where a piece is two lines (64-byte
// vectors), 1, or 2 where it is half a line (16-byte vectors).
template <typename P>
constexpr int PIECES_A_LINE = LINE / (2 * int(sizeof(vec<P>)));

// Whether rows whose first piece goes to `first`, `pitch` bytes apart,
// have every piece start on a line or half-way into one.
template <typename P>
bool streamable(const P* first, std::ptrdiff_t pitch)
{
    return reinterpret_cast<std::uintptr_t>(first) % (LINE / 2) == 0 && pitch % (LINE / 2) == 0;
}

// Whether every piece of those rows starts on a line: streaming one then
// takes none of the joins.
template <typename P>
bool on_lines(const P* first, std::ptrdiff_t pitch)
{
    return reinterpret_cast<std::uintptr_t>(first) % LINE == 0 && pitch % LINE == 0;
}

// One output row, streamed: its pieces joined into whole lines.
template <typename P>
class streamed_row {
public:
    // The piece (a, b) to `out`, which continues the row's last piece or
    // starts a run of them.
    [[gnu::always_inline]] void put(P* out, vec<P> a, vec<P> b)
    {
        constexpr int K = PIECES_A_LINE<P>;
        const bool inside = reinterpret_cast<std::uintptr_t>(out) % LINE != 0; // half-way into a line
        const bool joined = end_ == out; // the held part starts this piece's first line
        if (!joined)
            flush();
        if (K < 2 && !inside) { // whole lines
            stream(out, a);
            stream(out + N<P>, b);
            return;
        }
        if (K == 0) { // two lines: a's second half and b's first make the middle one
            if (joined)
                stream(out - N<P> / 2, join_halves(held_[0], a));
            else
                store(out, a, N<P> / 2);
            stream(out + N<P> / 2, join_halves(a, b));
            held_[0] = b;
        } else if (K == 1) { // the end of one line and the start of the next
            if (joined) {
                stream(out - N<P>, held_[0]);
                stream(out, a);
            } else {
                store(out, a, N<P>);
            }
            held_[0] = b;
        } else { // half a line: the first half waits for the second
            if (!inside) {
                held_[0] = a, held_[1] = b;
                end_ = out + 2 * N<P>;
                return;
            }
            if (joined) {
                stream(out - 2 * N<P>, held_[0]);
                stream(out - N<P>, held_[1]);
                stream(out, a);
                stream(out + N<P>, b);
            } else {
                store(out, a, N<P>);
                store(out + N<P>, b, N<P>);
            }
            end_ = nullptr;
            return;
        }
        end_ = out + 2 * N<P>;
    }

    // The held part out with ordinary stores: its run ends here.
    void flush()
    {
        if (end_ == nullptr)
            return;
        if (PIECES_A_LINE<P> == 0)
            store(end_ - N<P> / 2, join_halves(held_[0], held_[0]), N<P> / 2);
        else if (PIECES_A_LINE<P> == 1)
            store(end_ - N<P>, held_[0], N<P>);
        else {
            store(end_ - 2 * N<P>, held_[0], N<P>);
            store(end_ - N<P>, held_[1], N<P>);
        }
        end_ = nullptr;
    }

private:
    P* end_ = nullptr; // where the last piece ended, while part of it is held
    vec<P> held_[2];
};

// The end of rows' runs: every held part out.
template <typename P>
void flush_rows(streamed_row<P>* rows, int count)
{
    for (int i = 0; rows != nullptr && i < count; ++i)
        rows[i].flush();
}

// Writes `pixels` pixels of two quarters interleaved lane by lane, in the
// lanes' order of rows (TILE) or natural order: a whole piece through `row`
// when the output is streamed (row not null), else with ordinary stores.
template <bool TILE, typename P>
[[gnu::always_inline]] inline void store_zipped(P* out, vec<P> a, vec<P> b, int pixels, streamed_row<P>* row)
{
    vec<P> first, second;
    zip<TILE>(a, b, first, second);
    if (pixels == 2 * N<P>) { // nearly always: one test, and no masks
        if (row != nullptr)
            return row->put(out, first, second);
        store(out, first, N<P>);
        store(out + N<P>, second, N<P>);
        return;
    }
    store(out, first, min_of(pixels, N<P>));
    if (pixels > N<P>)
        store(out + N<P>, second, pixels - N<P>);
}

// The two output rows of the lanes' blocks, `pixels` wide, from `out` on:
// quarters placed as TURN places them; streamed through rows[0] and rows[1]
// when rows is not null.
template <bool TILE, orientation TURN, typename P>
[[gnu::always_inline]] inline void store_blocks(P* out, std::ptrdiff_t pitch, const vec<P> (&q)[4], int pixels,
                                                streamed_row<P>* rows)
{
    constexpr auto& at = QUARTER_AT[int(TURN)];
    store_zipped<TILE>(out, q[at[0][0]], q[at[0][1]], pixels, rows);
    store_zipped<TILE>(offset_bytes(out, pitch), q[at[1][0]], q[at[1][1]], pixels,
                       rows != nullptr ? rows + 1 : nullptr);
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
            vec<P> t[std::size_t(B)];
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
