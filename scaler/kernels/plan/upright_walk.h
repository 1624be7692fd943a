// Part of the plan (plan.h): an upright frame.
//
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
    bool follows; // whether the vector before was the last one walked (see hidden_rows)
};

// Under HIDES, each row's pixels are hidden once, not three times: a vector's
// sides are its centre's lanes moved one along, with a lane of the centre
// before or after it. Carried from vector to vector: each row's centre
// (`previous`) and the next vector's (`next`), already hidden.
template <typename P>
struct hidden_rows {
    vec<P> previous[3], next[3];
};

template <typename P, edge MODE, bool ZERO_ROWS, bool HIDES, typename Tables>
[[gnu::always_inline]] inline void upright_vector(const Tables& tables, const row_vector<P>& a, P* out,
                                                  std::ptrdiff_t pitch, streamed_row<P>* rows, hidden_rows<P>& hidden)
{
    const int x0 = a.x0, count = a.count, w = a.width;
    vec<P> v[9]; // TL T TR L C R BL B BR
    for (int i = 0; i < 3; ++i) {
        const P* p = a.rows[i];
        if (ZERO_ROWS && p == nullptr) {
            v[3 * i] = v[3 * i + 1] = v[3 * i + 2] = splat(P(0));
            continue;
        }
        vec<P> centre, l, r;
        const vec<P> after = splat(a.after[i]);
        if constexpr (HIDES) {
            centre = a.follows ? hidden.next[i] : load_seen<HIDES>(p + x0, count);
            l = x0 == 0 ? from_previous(splat(a.before[i]), centre)
                : a.follows ? from_previous(hidden.previous[i], centre)
                            : load_seen<HIDES>(p + x0 - 1, count);
            if (x0 + N<P> < w) {
                hidden.next[i] = load_seen<HIDES>(p + x0 + N<P>, min_of(N<P>, w - x0 - N<P>));
                r = from_next(centre, hidden.next[i]);
            } else {
                r = select(lanes_below<P>(count - 1), after, from_next(centre, after));
            }
            hidden.previous[i] = centre;
        } else { // (kept apart: folded into the lines above, plain frames took a fifth longer, 256 x 224 on AVX-512)
            centre = load(p + x0, count);
            l = x0 > 0 ? load(p + x0 - 1, count) : from_previous(splat(a.before[i]), centre);
            r = x0 + N<P> < w ? load(p + x0 + 1, count)
                              : select(lanes_below<P>(count - 1), after, load(p + x0 + 1, count - 1));
        }
        v[3 * i] = past_cell(l, a.lanes.first, MODE, centre, [&](int j) {
            const int x = x0 + j;
            return seen<HIDES>(p[x == a.last_start ? w - 1 : x + int(a.cell) - 1]);
        });
        v[3 * i + 1] = centre;
        v[3 * i + 2] = past_cell(r, a.lanes.last, MODE, centre, [&](int j) {
            const int x = x0 + j;
            return seen<HIDES>(p[x == w - 1 ? a.last_start : x - int(a.cell) + 1]);
        });
    }
    vec<P> q[4];
    const bool flat = blocks(tables, v, q);
    keep_outside(q, a.lanes.outside, v[4]);
    if (flat && rows != nullptr) // (two calls: see put_blocks)
        store_blocks<false, orientation::upright>(out + 2 * x0, pitch, q, 2 * count, rows);
    else
        store_blocks<false, orientation::upright>(out + 2 * x0, pitch, q, 2 * count,
                                                  static_cast<streamed_row<P>*>(nullptr));
}

// A vector with lanes at wrapped cell ends, out of the row's loop: the
// fetches would crowd the loop's registers for every other vector. (Frames
// with cells are never streamed.)
template <typename P, bool HIDES, typename Tables>
[[gnu::noinline, gnu::aligned(CODE_ALIGNMENT)]] void upright_wrapped(const Tables& tables, const row_vector<P>& a, P* out, std::ptrdiff_t pitch,
                                       hidden_rows<P>& hidden)
{
    upright_vector<P, edge::wrap, true, HIDES>(tables, a, out, pitch, nullptr, hidden);
}

template <typename P, bool CELLS, edge MODE, bool HIDES, bool STREAM>
[[gnu::aligned(CODE_ALIGNMENT)]] void upright(const frame_args<P>& frame)
{
    const frame_args<P> f = frame;
    constexpr int STRIPE = CELLS ? 256 : 1; // vectors
    const auto tables = code_tables<P>();
    const int w = f.width, h = f.height;
    // The two output rows of a source row, streamed where they lie as
    // streamed_row needs.
    streamed_row<P> rows[STREAM ? 2 : 1];
    const P* first = offset_bytes(f.dst, block_offset<orientation::upright>(f, 0, f.y_begin));
    streamed_row<P>* const streamed = STREAM && streamable(first, f.dst_pitch) ? rows : nullptr;
    row_vector<P> a{{}, {}, {}, 0, 0, w, {}, span_at(f.across, w, w - 1).first, f.across.cell, false};
    hidden_rows<P> hidden;
    // What the row's end pixels see beyond them (-1: zero), where they are
    // in cells.
    const cell_span start = span_at(f.across, w, 0), end = span_at(f.across, w, w - 1);
    const int before = start.first < 0 ? 0 : neighbour(f.across, start, 0, -1);
    const int after = end.first < 0 ? w - 1 : neighbour(f.across, end, w - 1, 1);
    lane_bits lanes[std::size_t(STRIPE)];
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
                    const vec<P> v = load_seen<HIDES>(row + x0, count);
                    store_blocks<false, orientation::upright>(out + 2 * x0, f.dst_pitch, {v, v, v, v}, 2 * count,
                                                              streamed);
                }
                flush_rows(streamed, 2);
                continue;
            }
            const int above = neighbour(f.down, c, y, -1), below = neighbour(f.down, c, y, 1);
            a.rows[0] = above < 0 ? nullptr : offset_bytes(f.src, above * f.src_pitch);
            a.rows[1] = row;
            a.rows[2] = below < 0 ? nullptr : offset_bytes(f.src, below * f.src_pitch);
            for (int i = 0; i < 3; ++i)
                if (a.rows[i] != nullptr) {
                    a.before[i] = before < 0 ? P(0) : seen<HIDES>(a.rows[i][before]);
                    a.after[i] = after < 0 ? P(0) : seen<HIDES>(a.rows[i][after]);
                }
            const bool zero_row = CELLS && (above < 0 || below < 0);
            // Vectors with no wrapped lanes need no fetches.
            constexpr edge LOCAL = MODE == edge::wrap ? edge::clamp : MODE;
            for (int k = 0; k < vectors; ++k) {
                a.x0 = s0 + k * N<P>;
                a.count = min_of(N<P>, w - a.x0);
                a.lanes = CELLS ? lanes[k] : lane_bits{0, 0, 0};
                a.follows = k > 0;
                if (MODE == edge::wrap && (a.lanes.first | a.lanes.last) != 0)
                    upright_wrapped<P, HIDES>(tables, a, out, f.dst_pitch, hidden);
                else if (zero_row)
                    upright_vector<P, LOCAL, true, HIDES>(tables, a, out, f.dst_pitch, streamed, hidden);
                else
                    upright_vector<P, LOCAL, false, HIDES>(tables, a, out, f.dst_pitch, streamed, hidden);
            }
            flush_rows(streamed, 2);
        }
    }
    if (STREAM && streamed != nullptr)
        stream_fence();
}
