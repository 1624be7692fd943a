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
    // The column is read once, as a value: copied straight from the array, the
    // middle row went on from column to column through the stack.
    void get(int c, vec<P> (&out)[3]) const
    {
        const vec<P> v = column[c];
        out[0] = tile_previous(v, before, c);
        out[1] = v;
        out[2] = tile_next(v, after, c);
    }
};

// Cells. Each vector's lanes get their neighbours as if the frame had no
// cells, and then, in the lanes whose neighbour lies past their cell's end,
// what the edge mode says instead: the lane itself (clamp), the zero pixel
// (transparent) or the pixel at the cell's other end (wrap), fetched lane by
// lane, since it may lie anywhere along the row or column. Lanes of pixels in
// no cell take their own pixel for every quarter. So a grid is one sweep of
// the frame, like a frame without one.

// Which lanes of a vector see past their cell's start (`first`) or end
// (`last`) on the lanes' axis, and which are in no cell.
struct lane_bits {
    std::uint32_t first, last, outside;
};

// The bits of `count` lanes for pixels i0, i0 + 1, ... of an axis of n.
inline lane_bits bits_of(const axis_cells& a, int n, int i0, int count)
{
    lane_bits b{0, 0, 0};
    for (int i = 0; i < count;) {
        const cell_span s = span_at(a, n, i0 + i);
        if (s.first < 0) {
            b.outside |= 1u << i++;
            continue;
        }
        if (i0 + i == s.first)
            b.first |= 1u << i;
        const int end = min_of(s.last - i0, count - 1); // the cell's last lane here
        if (i0 + end == s.last)
            b.last |= 1u << end;
        i = end + 1;
    }
    return b;
}

// The lanes in `bits` fetched by `pixel(lane)`, the rest zero; out of the
// walk's loops, which would otherwise keep a buffer on the stack.
template <typename P, typename Fetch>
[[gnu::noinline]] vec<P> fetch_lanes(std::uint32_t bits, const Fetch& pixel)
{
    P fetched[N<P>] = {};
    for (std::uint32_t b = bits; b != 0; b &= b - 1)
        fetched[__builtin_ctz(b)] = pixel(__builtin_ctz(b));
    return load(fetched, N<P>);
}

// v with the lanes in `bits` replaced: by `own` under clamp, zero under
// transparent, and under wrap by what `pixel(lane)` fetches.
template <typename P, typename Fetch>
[[gnu::always_inline]] inline vec<P> past_cell(vec<P> v, std::uint32_t bits, edge mode, vec<P> own, const Fetch& pixel)
{
    if (bits == 0)
        return v;
    if (mode == edge::wrap && __builtin_popcount(bits) <= 2) { // as at a frame's or a wide cell's ends
        for (std::uint32_t b = bits; b != 0; b &= b - 1)
            v = select(lanes_of<P>(b & -b), v, splat(pixel(__builtin_ctz(b))));
        return v;
    }
    const vec<P> instead = mode == edge::clamp ? own : mode == edge::transparent ? splat(P(0)) : fetch_lanes<P>(bits, pixel);
    return select(lanes_of<P>(bits), v, instead);
}

// q with the lanes in `outside` (in no cell) every quarter their own pixel c.
template <typename P>
[[gnu::always_inline]] inline void keep_outside(vec<P> (&q)[4], std::uint32_t outside, vec<P> c)
{
    if (outside != 0)
        for (int i = 0; i < 4; ++i)
            q[i] = select(lanes_of<P>(outside), q[i], c);
}

// Turned placements. The frame goes in bands of N - 2 source columns, each
// read as a tile of N with its neighbours on both sides; down a band the
// strips fill each output row's next 2N pixels, so the band's output rows
// stay in cache while they are written. What the cells make of each strip's
// rows is worked out once for a group of strips and used in every band.
template <typename P, bool CLOCKWISE, bool CELLS>
void turned(const frame_args<P>& frame)
{
    constexpr orientation TURN = CLOCKWISE ? orientation::cw : orientation::ccw;
    const frame_args<P> f = frame; // a copy the output's stores cannot alias
    constexpr int BAND = N<P> - 2, GROUP = 16;
    constexpr int ABOVE = CLOCKWISE ? 2 : 0; // which of earlier and later is the row above
    const auto tables = code_tables<P>();
    const int w = f.width, h = f.height;
    const auto source = [&](int y) { return offset_bytes(f.src, max_of(0, min_of(y, h - 1)) * f.src_pitch); };
    // Counter-clockwise, a strip's rows run down the source and along the
    // output rows; clockwise they run up the source, so strips are taken from
    // the bottom of the band. Lane j holds strip row tile_row(j).
    const int step = CLOCKWISE ? -1 : 1;
    // Without cells, every edge clamps.
    const edge mode_y = CELLS ? f.down.mode : edge::clamp;
    struct strip {
        int top; // source row of strip row 0
        lane_bits lanes; // first: the earlier row is past the cell; last: the later one
        int earlier[N<P>], later[N<P>]; // the rows each lane sees there (-1: zero)
    };
    strip strips[GROUP];

    const int total = f.y_end - f.y_begin;
    for (int g0 = 0; g0 < total; g0 += GROUP * N<P>) {
        const int count = min_of(GROUP, (total - g0 + N<P> - 1) / N<P>);
        for (int s = 0; s < count; ++s) {
            strip& st = strips[s];
            st.top = CLOCKWISE ? f.y_end - g0 - s * N<P> - 1 : f.y_begin + g0 + s * N<P>;
            st.lanes = {0, 0, 0};
            // Without cells, the tile's rows are clamped at the frame's ends already.
            for (int j = 0; CELLS && j < N<P>; ++j) {
                const int y = st.top + step * tile_row<P>(j);
                const cell_span c = y >= 0 && y < h ? span_at(f.down, h, y) : cell_span{-1, -1};
                st.earlier[j] = st.later[j] = y;
                if (c.first < 0) {
                    st.lanes.outside |= 1u << j;
                    continue;
                }
                st.earlier[j] = neighbour(f.down, c, y, -step);
                st.later[j] = neighbour(f.down, c, y, step);
                // (Row -1, past a transparent edge, is the zero row, not the
                // tile's clamped one.)
                st.lanes.first |= std::uint32_t(st.earlier[j] != y - step || st.earlier[j] < 0) << j;
                st.lanes.last |= std::uint32_t(st.later[j] != y + step || st.later[j] < 0) << j;
            }
        }
        for (int x0 = 0; x0 < w; x0 += BAND) {
            const int x1 = min_of(x0 + BAND, w);
            const int first = max_of(x0 - 1, 0); // the tile's first column
            const int columns = min_of(N<P>, w - first);
            // The columns each of the band's sees before and after it (-1:
            // zero), or -2 for a column in no cell.
            int before[BAND], after[BAND];
            for (int x = x0; x < x1; ++x) {
                const cell_span c = CELLS ? span_at(f.across, w, x) : cell_span{0, w - 1};
                before[x - x0] = c.first < 0 ? -2 : neighbour(f.across, c, x, -1);
                after[x - x0] = c.first < 0 ? -2 : neighbour(f.across, c, x, 1);
            }
            for (int s = 0; s < count; ++s) {
                const strip& st = strips[s];
                // Without cells no lane is past one: a constant, so the checks go.
                const lane_bits lanes = CELLS ? st.lanes : lane_bits{0, 0, 0};
                const int rows = min_of(N<P>, total - g0 - s * N<P>);
                const tile<P> t([&](int k) { return source(st.top + step * k); }, first, columns);
                const auto pixel = [&](int y, int x) { return y < 0 ? P(0) : source(y)[x]; };
                // Source column x with its neighbours one row earlier and later
                // as its cells see them.
                const auto column = [&](int x, vec<P>(&out)[3]) {
                    if (!CELLS || (x >= first && x < first + columns)) {
                        t.get(x - first, out);
                        out[0] = past_cell(out[0], lanes.first, mode_y, out[1],
                                           [&](int j) { return pixel(st.earlier[j], x); });
                        out[2] = past_cell(out[2], lanes.last, mode_y, out[1],
                                           [&](int j) { return pixel(st.later[j], x); });
                        return;
                    }
                    // A wrapped column beyond the tile, lane by lane.
                    alignas(64) P c[N<P>], e[N<P>], l[N<P>];
                    for (int j = 0; j < N<P>; ++j) {
                        c[j] = pixel(st.top + step * tile_row<P>(j), x);
                        e[j] = pixel(st.earlier[j], x);
                        l[j] = pixel(st.later[j], x);
                    }
                    out[0] = load(e, N<P>), out[1] = load(c, N<P>), out[2] = load(l, N<P>);
                };
                vec<P> left[3], mid[3], right[3] = {};
                column(max_of(x0 - 1, 0), left);
                column(x0, mid);
                for (int x = x0; x < x1; ++x) {
                    // Without cells, columns 0 and w - 1 are their own outer
                    // neighbours, as left and right then hold.
                    if (!CELLS || x + 1 < w)
                        column(min_of(x + 1, w - 1), right);
                    vec<P> q[4];
                    if (CELLS && before[x - x0] == -2) { // a column in no cell
                        q[0] = q[1] = q[2] = q[3] = mid[1];
                    } else {
                        // The columns this one sees before and after it.
                        // `next` is column x + d.
                        const auto side = [&](int to, const vec<P>(&next)[3], int d, vec<P>(&out)[3]) {
                            if (CELLS && to < 0)
                                out[0] = out[1] = out[2] = splat(P(0));
                            else if (to == x + d)
                                for (int i = 0; i < 3; ++i)
                                    out[i] = next[i];
                            else if (!CELLS || to == x)
                                for (int i = 0; i < 3; ++i)
                                    out[i] = mid[i];
                            else
                                column(to, out);
                        };
                        vec<P> l[3], r[3];
                        if constexpr (CELLS) {
                            side(before[x - x0], left, -1, l);
                            side(after[x - x0], right, 1, r);
                        } else {
                            for (int i = 0; i < 3; ++i)
                                l[i] = left[i], r[i] = right[i];
                        }
                        blocks(tables,
                               {l[ABOVE], mid[ABOVE], r[ABOVE], l[1], mid[1], r[1], l[2 - ABOVE], mid[2 - ABOVE],
                                r[2 - ABOVE]},
                               q);
                        if (CELLS)
                            keep_outside(q, lanes.outside, mid[1]);
                    }
                    store_blocks<true, TURN>(offset_bytes(f.dst, block_offset<TURN>(f, x, st.top)), f.dst_pitch, q,
                                             2 * rows);
                    for (int i = 0; i < 3; ++i)
                        left[i] = mid[i], mid[i] = right[i];
                }
            }
        }
    }
}

// Upright placement: N pixels of a source row at a time, lanes along the
// row. What the cells make of each vector's lanes is worked out once for a
// stripe of columns and used on every row.

// One vector of a row: pixels x0 .. x0 + count - 1, from its three rows,
// with edge mode MODE across at the lanes' cell ends, except at the row's
// own ends: there each row's pixel 0 sees `before` and pixel w - 1 `after`.
// A null row is the zero row past a transparent edge, read only with
// ZERO_ROWS.
template <typename P>
struct row_vector {
    const P* rows[3];
    P before[3], after[3];
    int x0, count, width;
    lane_bits lanes; // without the row's own ends
    int last_start; // the first pixel of the cell at the row's end
    std::int64_t cell;
};

template <typename P, edge MODE, bool ZERO_ROWS, typename Tables>
[[gnu::always_inline]] inline void upright_vector(const Tables& tables, const row_vector<P>& a, P* out,
                                                  std::ptrdiff_t pitch)
{
    const int x0 = a.x0, count = a.count, w = a.width;
    vec<P> v[9]; // TL T TR L C R BL B BR
    for (int i = 0; i < 3; ++i) {
        const P* p = a.rows[i];
        if (ZERO_ROWS && p == nullptr) {
            v[3 * i] = v[3 * i + 1] = v[3 * i + 2] = splat(P(0));
            continue;
        }
        const vec<P> centre = load(p + x0, count);
        const vec<P> l = x0 > 0 ? load(p + x0 - 1, count) : from_previous(centre, a.before[i]);
        const vec<P> r = x0 + N<P> < w ? load(p + x0 + 1, count)
                                       : select(lanes_below<P>(count - 1), splat(a.after[i]),
                                                load(p + x0 + 1, count - 1));
        v[3 * i] = past_cell(l, a.lanes.first, MODE, centre, [&](int j) {
            const int x = x0 + j;
            return p[x == a.last_start ? w - 1 : x + int(a.cell) - 1];
        });
        v[3 * i + 1] = centre;
        v[3 * i + 2] = past_cell(r, a.lanes.last, MODE, centre, [&](int j) {
            const int x = x0 + j;
            return p[x == w - 1 ? a.last_start : x - int(a.cell) + 1];
        });
    }
    vec<P> q[4];
    blocks(tables, v, q);
    keep_outside(q, a.lanes.outside, v[4]);
    store_blocks<false, orientation::upright>(out + 2 * x0, pitch, q, 2 * count);
}

// A vector with lanes at wrapped cell ends, out of the row's loop: the
// fetches would crowd the loop's registers for every other vector.
template <typename P, typename Tables>
[[gnu::noinline]] void upright_wrapped(const Tables& tables, const row_vector<P>& a, P* out, std::ptrdiff_t pitch)
{
    upright_vector<P, edge::wrap, true>(tables, a, out, pitch);
}

template <typename P, bool CELLS, edge MODE>
void upright(const frame_args<P>& frame)
{
    const frame_args<P> f = frame;
    constexpr int STRIPE = CELLS ? 256 : 1; // vectors
    const auto tables = code_tables<P>();
    const int w = f.width, h = f.height;
    row_vector<P> a{{}, {}, {}, 0, 0, w, {}, span_at(f.across, w, w - 1).first, f.across.cell};
    // What the row's end pixels see beyond them (-1: zero), where they are
    // in cells.
    const cell_span start = span_at(f.across, w, 0), end = span_at(f.across, w, w - 1);
    const int before = start.first < 0 ? 0 : neighbour(f.across, start, 0, -1);
    const int after = end.first < 0 ? w - 1 : neighbour(f.across, end, w - 1, 1);
    lane_bits lanes[STRIPE];
    // Without cells, the stripe is the whole row, and no lane but the row's
    // ends is past a cell.
    for (int s0 = 0, vectors = 0; s0 < w; s0 += vectors * N<P>) {
        vectors = CELLS ? min_of(STRIPE, (w - s0 + N<P> - 1) / N<P>) : (w + N<P> - 1) / N<P>;
        for (int k = 0; CELLS && k < vectors; ++k) {
            const int x0 = s0 + k * N<P>, count = min_of(N<P>, w - x0);
            lanes[k] = bits_of(f.across, w, x0, count);
            if (x0 == 0)
                lanes[k].first &= ~1u;
            if (x0 + count == w)
                lanes[k].last &= ~(1u << (count - 1));
        }
        for (int y = f.y_begin; y < f.y_end; ++y) {
            P* out = offset_bytes(f.dst, block_offset<orientation::upright>(f, 0, y));
            const P* row = offset_bytes(f.src, y * f.src_pitch);
            const cell_span c = span_at(f.down, h, y);
            if (CELLS && c.first < 0) { // a row in no cell
                for (int x0 = s0; x0 < s0 + vectors * N<P>; x0 += N<P>) {
                    const int count = min_of(N<P>, w - x0);
                    const vec<P> v = load(row + x0, count);
                    store_blocks<false, orientation::upright>(out + 2 * x0, f.dst_pitch, {v, v, v, v}, 2 * count);
                }
                continue;
            }
            const int above = neighbour(f.down, c, y, -1), below = neighbour(f.down, c, y, 1);
            a.rows[0] = above < 0 ? nullptr : offset_bytes(f.src, above * f.src_pitch);
            a.rows[1] = row;
            a.rows[2] = below < 0 ? nullptr : offset_bytes(f.src, below * f.src_pitch);
            for (int i = 0; i < 3; ++i)
                if (a.rows[i] != nullptr) {
                    a.before[i] = before < 0 ? P(0) : a.rows[i][before];
                    a.after[i] = after < 0 ? P(0) : a.rows[i][after];
                }
            const bool zero_row = CELLS && (above < 0 || below < 0);
            // Vectors with no wrapped lanes need no fetches.
            constexpr edge LOCAL = MODE == edge::wrap ? edge::clamp : MODE;
            for (int k = 0; k < vectors; ++k) {
                a.x0 = s0 + k * N<P>;
                a.count = min_of(N<P>, w - a.x0);
                a.lanes = CELLS ? lanes[k] : lane_bits{0, 0, 0};
                if (MODE == edge::wrap && (a.lanes.first | a.lanes.last) != 0)
                    upright_wrapped(tables, a, out, f.dst_pitch);
                else if (zero_row)
                    upright_vector<P, LOCAL, true>(tables, a, out, f.dst_pitch);
                else
                    upright_vector<P, LOCAL, false>(tables, a, out, f.dst_pitch);
            }
        }
    }
}

// A frame without cells (one per axis, clamped) takes a leaner walk.
template <typename P, bool CELLS>
void frame(const frame_args<P>& f)
{
    switch (f.turn) {
    case orientation::upright: // the edge mode across as a constant: the loop is leaner for it
        if (!CELLS || f.across.mode == edge::clamp)
            return upright<P, CELLS, edge::clamp>(f);
        if (f.across.mode == edge::wrap)
            return upright<P, true, edge::wrap>(f);
        return upright<P, true, edge::transparent>(f);
    case orientation::ccw: return turned<P, false, CELLS>(f);
    case orientation::cw: return turned<P, true, CELLS>(f);
    }
}

template <typename P>
void frame(const frame_args<P>& f)
{
    const auto whole = [](const axis_cells& a, int n) { return a.mode == edge::clamp && a.margin == 0 && a.cell >= n; };
    if (whole(f.across, f.width) && whole(f.down, f.height))
        return frame<P, false>(f);
    frame<P, true>(f);
}
