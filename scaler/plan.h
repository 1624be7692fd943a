// The vector frame walk, written once over a target's operations (ops_*.h).
// Each kernel_<target>.cpp includes it inside its own namespace, after its
// operations, so every target gets its own copy compiled with its own flags,
// which the linker cannot merge with another target's. For the same reason
// it uses no standard-library templates: an instantiation shared with another
// translation unit might be kept from the one built for another processor.
// The rule and the transpose work on arrays of vectors, which stay in
// registers only when inlined, so they are forced inline.
//
// Turned placements: lanes run down a column of the source. Each vector holds
// one source column of a strip of rows, so T, C and B are the same column
// moved by one row, and the quarters of a strip's blocks interleave straight
// into contiguous pixels of an output row, which is where a quarter turn puts
// them. Tiles of the source become such columns by an in-register transpose;
// the rows just before and after a strip come in through one lane each, and
// border rows and columns are replicated as the tiles are loaded, so nothing
// outside the frame is read. The operations choose the lanes' order of rows
// (tile_row) to suit their interleaves.
//
// Upright placement: lanes run along a source row, already the output's
// direction; no transpose is needed.
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
// cost more than they save (on noise, twice the time).
template <typename P>
[[gnu::always_inline]] inline vec<P> quarter(vec<P> code, vec<P> pairs, vec<P> c, vec<P> vertical, vec<P> horizontal)
{
    constexpr bool SKIP = sizeof(vec<P>) >= 32;
    const mask<P> on = test(code, pairs);
    if (SKIP && !any(on)) // no lane blends: straight edges, or pairs that differ
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
    vec<P> same = splat(P(0));
#pragma GCC unroll 9
    for (int i = 0, bit = 1; i < 9; ++i)
        if (i != 4) {
            same = or_where(same, eq(n[i], c), splat(P(bit)));
            bit <<= 1;
        }
    // Bit n set when pair n holds: T=L, T=R, B=L, B=R.
    vec<P> pairs = or_where(splat(P(0)), eq(n[1], n[3]), splat(P(1)));
    pairs = or_where(pairs, eq(n[1], n[5]), splat(P(2)));
    pairs = or_where(pairs, eq(n[7], n[3]), splat(P(4)));
    pairs = or_where(pairs, eq(n[7], n[5]), splat(P(8)));

    vec<P> code[4];
    codes(tables, xor_(same, splat(P(255))), code); // the pattern: which neighbours differ
    q[0] = quarter(code[0], pairs, c, n[1], n[3]);
    q[1] = quarter(code[1], pairs, c, n[1], n[5]);
    q[2] = quarter(code[2], pairs, c, n[7], n[3]);
    q[3] = quarter(code[3], pairs, c, n[7], n[5]);
}

// Writes `pixels` pixels of two quarters interleaved lane by lane, in the
// lanes' order of rows (TILE) or natural order.
template <bool TILE, typename P>
void store_zipped(P* out, vec<P> a, vec<P> b, int pixels)
{
    vec<P> first, second;
    zip<TILE>(a, b, first, second);
    store(out, first, min_of(pixels, N<P>));
    if (pixels > N<P>)
        store(out + N<P>, second, pixels - N<P>);
}

// The two output rows of the lanes' blocks, `pixels` wide, from `out` on:
// quarters placed as TURN places them.
template <bool TILE, orientation TURN, typename P>
void store_blocks(P* out, std::ptrdiff_t pitch, const vec<P> (&q)[4], int pixels)
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

// One tile of a strip: `columns` source columns from column `first`. Lane j
// of a column is the strip's row tile_row(j), counted from its first row in
// the direction the output runs.
template <typename P>
struct tile {
    vec<P> column[N<P>];
    alignas(64) P before[N<P>], after[N<P>]; // the rows just before and after the strip

    // `row(k)` is the strip's k-th source row (k = -1 and N: its neighbours).
    template <typename RowOf>
    tile(RowOf row, int first, int columns)
    {
#pragma GCC unroll 32
        for (int j = 0; j < N<P>; ++j)
            column[j] = load(row(tile_row<P>(j)) + first, columns);
        store(before, load(row(-1) + first, columns), N<P>);
        store(after, load(row(N<P>) + first, columns), N<P>);
        transpose(column);
    }

    // Tile column c with its neighbours one row earlier and later in the strip.
    void get(int c, vec<P> (&out)[3]) const
    {
        out[0] = tile_previous(column[c], before, c);
        out[1] = column[c];
        out[2] = tile_next(column[c], after, c);
    }
};

// Turned placements. The frame goes in bands of N - 2 source columns, each
// read as a tile of N with its neighbours on both sides; down a band the
// strips fill each output row's next 2N pixels, so the band's output rows
// stay in cache while they are written.
template <typename P, bool CLOCKWISE>
void turned(const frame_args<P>& frame)
{
    constexpr orientation TURN = CLOCKWISE ? orientation::cw : orientation::ccw;
    const frame_args<P> f = frame; // a copy the output's stores cannot alias
    constexpr int BAND = N<P> - 2;
    constexpr int ABOVE = CLOCKWISE ? 2 : 0; // which of earlier and later is the row above
    const auto tables = code_tables<P>();
    const int w = f.width, h = f.height;
    const auto source = [&](int y) { return offset_bytes(f.src, max_of(0, min_of(y, h - 1)) * f.src_pitch); };

    for (int x0 = 0; x0 < w; x0 += BAND) {
        const int x1 = min_of(x0 + BAND, w);
        const int first = max_of(x0 - 1, 0); // the tile's first column
        // Counter-clockwise, a strip's rows run down the source and along the
        // output rows; clockwise they run up the source, so strips are taken
        // from the bottom of the band.
        for (int done = 0; done < f.y_end - f.y_begin; done += N<P>) {
            const int rows = min_of(N<P>, f.y_end - f.y_begin - done);
            const int top = CLOCKWISE ? f.y_end - done - 1 : f.y_begin + done; // source row of strip row 0
            const tile<P> t([&](int k) { return source(CLOCKWISE ? top - k : top + k); }, first,
                            min_of(N<P>, w - first));
            vec<P> left[3], mid[3], right[3];
            t.get(max_of(x0 - 1, 0) - first, left); // column 0 is its own left neighbour
            t.get(x0 - first, mid);
            for (int x = x0; x < x1; ++x) {
                t.get(min_of(x + 1, w - 1) - first, right); // and column w - 1 its own right one
                vec<P> q[4];
                blocks(tables,
                       {left[ABOVE], mid[ABOVE], right[ABOVE], left[1], mid[1], right[1], left[2 - ABOVE],
                        mid[2 - ABOVE], right[2 - ABOVE]},
                       q);
                store_blocks<true, TURN>(offset_bytes(f.dst, block_offset<TURN>(f, x, top)), f.dst_pitch, q,
                                         2 * rows);
                for (int i = 0; i < 3; ++i)
                    left[i] = mid[i], mid[i] = right[i];
            }
        }
    }
}

// Upright placement: N pixels of a source row at a time.
template <typename P>
void upright(const frame_args<P>& frame)
{
    const frame_args<P> f = frame;
    const auto tables = code_tables<P>();
    const int w = f.width, h = f.height;
    for (int y = f.y_begin; y < f.y_end; ++y) {
        const P* rows[3] = {offset_bytes(f.src, max_of(y - 1, 0) * f.src_pitch), offset_bytes(f.src, y * f.src_pitch),
                            offset_bytes(f.src, min_of(y + 1, h - 1) * f.src_pitch)};
        P* out = offset_bytes(f.dst, block_offset<orientation::upright>(f, 0, y));
        for (int x0 = 0; x0 < w; x0 += N<P>) {
            const int count = min_of(N<P>, w - x0);
            vec<P> v[9]; // TL T TR L C R BL B BR
            for (int i = 0; i < 3; ++i) {
                const P* p = rows[i] + x0;
                const vec<P> c = load(p, count);
                // The row's ends are their own outer neighbours.
                v[3 * i] = x0 > 0 ? load(p - 1, count) : from_previous(c, p[0]);
                v[3 * i + 1] = c;
                v[3 * i + 2] = x0 + N<P> < w ? load(p + 1, count)
                                             : select(lanes_below<P>(count - 1), splat(p[count - 1]),
                                                      load(p + 1, count - 1));
            }
            vec<P> q[4];
            blocks(tables, v, q);
            store_blocks<false, orientation::upright>(out + 2 * x0, f.dst_pitch, q, 2 * count);
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
