// Part of the plan (plan.h): a turned strip across a band of columns.
//
// Turned placements. The frame goes in bands of BAND_COLUMNS source columns,
// each read as a tile of N with its neighbours on both sides; down a band the
// strips fill each output row's next 2N pixels, so the band's output rows
// stay in cache while they are written. What the cells make of each strip's
// rows is worked out once for a group of strips and used in every band.
//
// Counter-clockwise, a strip's rows run down the source and along the output
// rows; clockwise they run up the source, so strips are taken from the
// bottom of the band. Lane j holds strip row tile_row(j).
template <typename P>
struct strip {
    int top; // source row of strip row 0
    lane_bits lanes; // first: the earlier row is past the cell; last: the later one
    int earlier[N<P>], later[N<P>]; // the rows each lane sees there (-1: zero)
};

// The strip whose row 0 is source row `top`. Without cells, the tile's rows
// are clamped at the frame's ends already, and no lane is past a cell.
template <typename P, bool CLOCKWISE, bool CELLS>
void plan_strip(const frame_args<P>& f, int top, strip<P>& st)
{
    constexpr int STEP = CLOCKWISE ? -1 : 1;
    st.top = top;
    st.lanes = {0, 0, 0};
    for (int j = 0; CELLS && j < N<P>; ++j) {
        const int y = top + STEP * tile_row<P>(j);
        const cell_span c = y >= 0 && y < f.height ? span_at(f.down, f.height, y) : cell_span{-1, -1};
        st.earlier[j] = st.later[j] = y;
        if (c.first < 0) {
            st.lanes.outside |= 1u << j;
            continue;
        }
        st.earlier[j] = neighbour(f.down, c, y, -STEP);
        st.later[j] = neighbour(f.down, c, y, STEP);
        // (Row -1, past a transparent edge, is the zero row, not the tile's
        // clamped one.)
        st.lanes.first |= std::uint32_t(st.earlier[j] != y - STEP || st.earlier[j] < 0) << j;
        st.lanes.last |= std::uint32_t(st.later[j] != y + STEP || st.later[j] < 0) << j;
    }
}

// The columns that each column x0 + i of a band sees before and after it
// (-1: zero), or -2 for a column in no cell.
template <typename P, bool CELLS>
void plan_band(const frame_args<P>& f, int x0, int x1, int (&before)[N<P>], int (&after)[N<P>])
{
    for (int x = x0; x < x1; ++x) {
        const cell_span c = CELLS ? span_at(f.across, f.width, x) : cell_span{0, f.width - 1};
        before[x - x0] = c.first < 0 ? -2 : neighbour(f.across, c, x, -1);
        after[x - x0] = c.first < 0 ? -2 : neighbour(f.across, c, x, 1);
    }
}

// One strip of one band: its tile, and each source column with its
// neighbours one row earlier and later as its cells see them.
template <typename P, bool CLOCKWISE, bool CELLS, bool HIDES>
struct strip_columns {
    static constexpr int STEP = CLOCKWISE ? -1 : 1;
    const frame_args<P>& f;
    const strip<P>& st;
    lane_bits lanes; // without cells, a constant, so the checks go
    int first, columns; // the tile's
    tile<P, HIDES> t;

    [[gnu::always_inline]] strip_columns(const frame_args<P>& f_, const strip<P>& st_, int first_, int columns_)
        : f(f_), st(st_), lanes(CELLS ? st_.lanes : lane_bits{0, 0, 0}), first(first_), columns(columns_),
          t([&f_, top = st_.top, first_, columns_](int k) {
              return load_seen<HIDES>(clamped_row(f_, top + STEP * k) + first_, columns_);
          })
    {
    }

    // Column x of the strip with its rows one earlier and later.
    [[gnu::always_inline]] void column(int x, vec<P> (&out)[3]) const
    {
        const frame_args<P>& fr = f;
        const strip<P>& s = st;
        if (!CELLS || (x >= first && x < first + columns)) {
            t.get(x - first, out);
            const edge mode = CELLS ? fr.down.mode : edge::clamp;
            out[0] = past_cell(out[0], lanes.first, mode, out[1],
                               [&fr, &s, x](int j) { return pixel_at<HIDES>(fr, s.earlier[j], x); });
            out[2] = past_cell(out[2], lanes.last, mode, out[1],
                               [&fr, &s, x](int j) { return pixel_at<HIDES>(fr, s.later[j], x); });
            return;
        }
        // A wrapped column beyond the tile, lane by lane.
        alignas(64) P c[N<P>], e[N<P>], l[N<P>];
        for (int j = 0; j < N<P>; ++j) {
            c[j] = pixel_at<HIDES>(fr, s.top + STEP * tile_row<P>(j), x);
            e[j] = pixel_at<HIDES>(fr, s.earlier[j], x);
            l[j] = pixel_at<HIDES>(fr, s.later[j], x);
        }
        out[0] = load(e, N<P>), out[1] = load(c, N<P>), out[2] = load(l, N<P>);
    }

    // The column that column x sees on one side (`to`, from plan_band),
    // given its neighbour on that side (`next`, column x + d) and itself.
    [[gnu::always_inline]] void side(int x, int to, int d, const vec<P> (&next)[3], const vec<P> (&mid)[3],
                                     vec<P> (&out)[3]) const
    {
        if (to < 0)
            out[0] = out[1] = out[2] = splat(P(0));
        else if (to == x + d)
            for (int i = 0; i < 3; ++i)
                out[i] = next[i];
        else if (to == x)
            for (int i = 0; i < 3; ++i)
                out[i] = mid[i];
        else
            column(to, out);
    }
};

// A column's neighbourhood in a strip from the columns before it (l),
// itself (mid) and after it (r), each with its rows earlier and later; and
// the pattern's bits that column l decides, for the first column of a run
// (see decide_along).
template <bool CLOCKWISE, typename P>
[[gnu::always_inline]] inline void neighbourhood(const vec<P> (&l)[3], const vec<P> (&mid)[3], const vec<P> (&r)[3],
                                                 vec<P> (&n)[9])
{
    constexpr int ABOVE = CLOCKWISE ? 2 : 0; // which of earlier and later is the row above
    for (int i = 0; i < 3; ++i) {
        const int k = i == 0 ? ABOVE : i == 1 ? 1 : 2 - ABOVE;
        n[3 * i] = l[k], n[3 * i + 1] = mid[k], n[3 * i + 2] = r[k];
    }
}
template <bool CLOCKWISE, typename P>
[[gnu::always_inline]] inline vec<P> left_pattern(const vec<P> (&l)[3], const vec<P> (&mid)[3])
{
    constexpr int ABOVE = CLOCKWISE ? 2 : 0;
    return left_pattern(l[ABOVE], l[1], l[2 - ABOVE], mid[1]);
}

// Column x's blocks of a strip (row 0 at source row `top`, `rows` rows) in
// a band from x0, streamed through out_rows[2 (x - x0)] and the next when
// they are streamed: a flat column's, and where the frame says
// stream_blended (the trait STREAM_BLENDED, or the family table) any column's.
// (Two calls, so that the stores not streamed are as plain as without
// streaming.)
template <orientation TURN, typename P>
[[gnu::always_inline]] inline void put_blocks(const frame_args<P>& f, int top, int rows, int x, int x0,
                                              const vec<P> (&q)[4], bool flat, streamed_row<P>* out_rows)
{
    P* const out = offset_bytes(f.dst, block_offset<TURN>(f, x, top));
    if ((flat || f.stream_blended) && out_rows != nullptr)
        store_blocks<true, TURN>(out, f.dst_pitch, q, 2 * rows, out_rows + 2 * (x - x0));
    else
        store_blocks<true, TURN>(out, f.dst_pitch, q, 2 * rows, static_cast<streamed_row<P>*>(nullptr));
}

// A turned band's columns: a tile of N holds them, the one before and the
// one after, and where the walk looks ahead the one after that.
template <typename P>
constexpr int BAND_COLUMNS = N<P> - 2 - int(LOOK_AHEAD);

// The columns x0 .. x1 - 1 of a strip without cells, their blocks to
// `put(x, q, flat)`; each column's neighbours are passed on from the one
// before, and `column(x, out)` gets columns `first` (the one column x0
// sees before it), x0 .. x1 and, where the walk looks ahead, x1 + 1, with
// their rows earlier and later. Callers force both inline: GCC left them
// out of line for AVX2 and SSE4.1, and flat frames were slower for it.
//
// Looking ahead, a step blends a column whose decisions the step before
// took, and loads the column after next before the blends' branches. Those
// branches (whether any lane blends, or goes deeper) change from column to
// column too often to be foretold; presumably a wrong guess costs less when
// the next column's work need not wait for its loads (docs/performance.md
// has the figures). A test for the band's end in mid-step cost more than it
// saved, which is why a
// band's tile then holds a column more than the band's neighbours.
template <bool CLOCKWISE, typename P, typename Tables, typename Column, typename Put>
[[gnu::always_inline]] inline void column_steps(const Tables& tables, int first, int x0, int x1,
                                                const Column& column, const Put& put)
{
    vec<P> left[3], mid[3], right[3];
    column(first, left);
    column(x0, mid);
    vec<P> carried = left_pattern<CLOCKWISE>(left, mid);
    if constexpr (LOOK_AHEAD) {
        column(x0 + 1, right);
        vec<P> n[9], q[4];
        decisions<P> d;
        neighbourhood<CLOCKWISE>(left, mid, right, n);
        decide_along(tables, n, carried, d);
        for (int x = x0; x < x1; ++x) {
            vec<P> next[9]; // (at the band's last column, one the band leaves to the next)
            decisions<P> e;
            for (int i = 0; i < 3; ++i)
                left[i] = mid[i], mid[i] = right[i];
            column(x + 2, right);
            put(x, q, blend(d, n, q));
            neighbourhood<CLOCKWISE>(left, mid, right, next);
            decide_along(tables, next, carried, e);
            for (int i = 0; i < 9; ++i)
                n[i] = next[i];
            d = e;
        }
    } else {
        for (int x = x0; x < x1; ++x) {
            column(x + 1, right);
            vec<P> n[9], q[4];
            decisions<P> d;
            neighbourhood<CLOCKWISE>(left, mid, right, n);
            decide_along(tables, n, carried, d);
            put(x, q, blend(d, n, q));
            for (int i = 0; i < 3; ++i)
                left[i] = mid[i], mid[i] = right[i];
        }
    }
}

// One strip across one band [x0, x1): its blocks, column by column, each
// column's neighbours passed on from the one before (column_steps, without
// cells); column x's two output rows through out_rows[2 (x - x0)] and the
// next, when they are streamed.
template <typename P, bool CLOCKWISE, bool CELLS, bool HIDES, typename Tables>
[[gnu::always_inline]] inline void turned_strip(const Tables& tables, const frame_args<P>& f, const strip<P>& st,
                                                int x0, int x1, const int (&before)[N<P>],
                                                const int (&after)[N<P>], streamed_row<P>* out_rows)
{
    constexpr orientation TURN = CLOCKWISE ? orientation::cw : orientation::ccw;
    const int w = f.width, first = max_of(x0 - 1, 0);
    const strip_columns<P, CLOCKWISE, CELLS, HIDES> s(f, st, first, min_of(N<P>, w - first));
    const int rows = min_of(N<P>, CLOCKWISE ? st.top - f.y_begin + 1 : f.y_end - st.top);
    if constexpr (!CELLS) {
        // Columns 0 and w - 1 are their own outer neighbours.
        const auto column = [&s, w](int x, vec<P>(&out)[3]) __attribute__((always_inline)) {
            s.column(min_of(x, w - 1), out);
        };
        const auto put = [&f, &st, rows, x0, out_rows](int x, const vec<P>(&q)[4], bool flat)
                             __attribute__((always_inline)) {
            put_blocks<TURN>(f, st.top, rows, x, x0, q, flat, out_rows);
        };
        column_steps<CLOCKWISE, P>(tables, first, x0, x1, column, put);
        return;
    }
    vec<P> left[3], mid[3], right[3] = {};
    s.column(first, left);
    s.column(x0, mid);
    for (int x = x0; x < x1; ++x) {
        if (x + 1 < w)
            s.column(x + 1, right);
        vec<P> q[4];
        bool flat = true; // (a column in no cell is its own blocks)
        if (before[x - x0] == -2) {
            q[0] = q[1] = q[2] = q[3] = mid[1];
        } else {
            vec<P> l[3], r[3], n[9];
            s.side(x, before[x - x0], -1, left, mid, l);
            s.side(x, after[x - x0], 1, right, mid, r);
            neighbourhood<CLOCKWISE>(l, mid, r, n);
            flat = blocks(tables, n, q);
            keep_outside(q, s.lanes.outside, mid[1]);
        }
        put_blocks<TURN>(f, st.top, rows, x, x0, q, flat, out_rows);
        for (int i = 0; i < 3; ++i)
            left[i] = mid[i], mid[i] = right[i];
    }
}
