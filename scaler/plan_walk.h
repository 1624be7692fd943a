// The frame walk over a target's operations, the rule on lanes (plan_rule.h)
// applied across frames, cells and edges. Included inside each target's
// namespace after plan_rule.h, for the reasons given there.
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
// Every source pixel is read through load_seen or seen<HIDES>: under
// alpha_hides (HIDES, 32-bit pixels only) a pixel with alpha byte 0 comes in
// as zero, one test and select a load; without it, as it is.

// The first n source pixels at p as the walk sees them.
template <bool HIDES, typename P>
[[gnu::always_inline]] inline vec<P> load_seen(const P* p, int n)
{
    const vec<P> v = load(p, n);
    if constexpr (HIDES)
        return select(test(v, splat(P(0xFF000000u))), splat(P(0)), v);
    return v;
}

// Source row y of a frame, clamped to it; and pixel x of row y as the walk
// sees it, row -1 being the zero row past a transparent edge.
template <typename P>
[[gnu::always_inline]] inline const P* clamped_row(const frame_args<P>& f, int y)
{
    return offset_bytes(f.src, max_of(0, min_of(y, f.height - 1)) * f.src_pitch);
}
template <bool HIDES, typename P>
[[gnu::always_inline]] inline P pixel_at(const frame_args<P>& f, int y, int x)
{
    return y < 0 ? P(0) : seen<HIDES>(clamped_row(f, y)[x]);
}

// One tile of a strip: `columns` source columns from column `first`. Lane j
// of a column is the strip's row tile_row(j), counted from its first row in
// the direction the output runs.
template <typename P, bool HIDES>
struct tile {
    vec<P> column[N<P>];
    alignas(64) P before[N<P>], after[N<P>]; // the rows just before and after the strip

    // `pixels(k)`: the tile's pixels of the strip's k-th row (k = -1 and N:
    // its neighbours), as the walk sees them.
    template <typename Pixels>
    explicit tile(Pixels pixels)
    {
#pragma GCC unroll 32
        for (int j = 0; j < N<P>; ++j)
            column[j] = pixels(tile_row<P>(j));
        store(before, pixels(-1), N<P>);
        store(after, pixels(N<P>), N<P>);
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

// Whether a turned walk that streams its flat blocks streams its blended
// ones too: with 512-bit vectors the rule keeps up with the memory, and the
// ordinary stores' reads of each output line cost art and noise time
// (streamed, 0.59 to 0.91 of it with AVX-512 on Zen 4; AVX2, SSE4.1 and the
// upright walk gained nothing); see docs/performance.md.
template <typename P>
constexpr bool STREAM_BLENDED = sizeof(vec<P>) >= 64;

// Column x's blocks of a strip (row 0 at source row `top`, `rows` rows) in
// a band from x0, streamed through out_rows[2 (x - x0)] and the next when
// they are streamed: a flat column's, and under STREAM_BLENDED any column's.
// (Two calls, so that the stores not streamed are as plain as without
// streaming.)
template <orientation TURN, typename P>
[[gnu::always_inline]] inline void put_blocks(const frame_args<P>& f, int top, int rows, int x, int x0,
                                              const vec<P> (&q)[4], bool flat, streamed_row<P>* out_rows)
{
    P* const out = offset_bytes(f.dst, block_offset<TURN>(f, x, top));
    if ((flat || STREAM_BLENDED<P>) && out_rows != nullptr)
        store_blocks<true, TURN>(out, f.dst_pitch, q, 2 * rows, out_rows + 2 * (x - x0));
    else
        store_blocks<true, TURN>(out, f.dst_pitch, q, 2 * rows, static_cast<streamed_row<P>*>(nullptr));
}

// Whether the turned walk looks a column ahead (see walk_columns): only
// where the quarters branch and the registers hold two columns' state, with
// 512-bit vectors (32 registers). With 16, AVX2 and SSE4.1 flat frames took
// up to 1.24 times as long on Zen 5; see docs/performance.md.
template <typename P>
constexpr bool LOOK_AHEAD = sizeof(vec<P>) >= 64;

// A turned band's columns: a tile of N holds them, the one before and the
// one after, and where the walk looks ahead the one after that.
template <typename P>
constexpr int BAND_COLUMNS = N<P> - 2 - int(LOOK_AHEAD<P>);

// The columns x0 .. x1 - 1 of a strip without cells, their blocks to
// `put(x, q, flat)`; each column's neighbours are passed on from the one
// before, and `column(x, out)` gets columns `first` (the one column x0
// sees before it), x0 .. x1 and, where the walk looks ahead, x1 + 1, with
// their rows earlier and later. Callers force both inline: GCC left them
// out of line for AVX2 and SSE4.1, and flat frames took 1.5 times as long.
//
// Looking ahead, a step blends a column whose decisions the step before
// took, and loads the column after next before the blends' branches. Those
// branches (whether any lane blends, or goes deeper) change from column to
// column too often to be foretold; presumably a wrong guess costs less when
// the next column's work need not wait for its loads (art at 160 x 102 took
// 0.95 of the time on Zen 5 with AVX-512; see docs/performance.md). A test
// for the band's end in mid-step cost more than it saved, which is why a
// band's tile then holds a column more than the band's neighbours.
template <bool CLOCKWISE, typename P, typename Tables, typename Column, typename Put>
[[gnu::always_inline]] inline void walk_columns(const Tables& tables, int first, int x0, int x1,
                                                const Column& column, const Put& put)
{
    vec<P> left[3], mid[3], right[3];
    column(first, left);
    column(x0, mid);
    vec<P> carried = left_pattern<CLOCKWISE>(left, mid);
    if constexpr (LOOK_AHEAD<P>) {
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
// column's neighbours passed on from the one before (walk_columns, without
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
        walk_columns<CLOCKWISE, P>(tables, first, x0, x1, column, put);
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

// A last strip of a few rows fills only those of its lanes, yet costs a whole
// strip's steps along the columns: at 160 x 102, its 6 rows took a sixth of
// the frame's time. Folded, its lanes hold 2 or 4 groups, each for its own
// stretch of `span` columns: so it takes a half or a quarter of the steps.
// A group's lanes are the strip's rows, then rows after them (clamped to the
// frame), and last the row before the strip for the next group's columns,
// so that no group's rows see another's; the first group's comes in as the
// tile's row before. Each group's blocks then start a half or a whole
// interleaved output vector, which join_halves moves to the front. Frames
// with cells take whole strips (their bookkeeping is by lane).

// Pixels a .. a + N - 1 of a row of w pixels as the walk sees them, each
// column clamped to the row (a >= -1).
template <bool HIDES, typename P>
[[gnu::always_inline]] inline vec<P> clamped_columns(const P* row, int a, int w)
{
    const vec<P> last = splat(seen<HIDES>(row[w - 1]));
    if (a >= w)
        return last;
    if (a < 0) { // column -1 is column 0
        const int n = min_of(N<P> - 1, w);
        const vec<P> v = from_previous(splat(seen<HIDES>(row[0])), load_seen<HIDES>(row, n));
        return n + 1 < N<P> ? select(lanes_below<P>(n + 1), last, v) : v;
    }
    const int n = min_of(N<P>, w - a);
    const vec<P> v = load_seen<HIDES>(row + a, n);
    return n < N<P> ? select(lanes_below<P>(n), last, v) : v;
}

// The lanes of a group for a strip of `rows` rows: a quarter or half of the
// vector with room for the rows, a row after them and the row before, or N
// when neither has.
template <typename P>
constexpr int fold_group(int rows)
{
    return rows + 2 <= N<P> / 4 ? N<P> / 4 : rows + 2 <= N<P> / 2 ? N<P> / 2 : N<P>;
}

// The strip of `rows` rows whose row 0 is source row `top`, folded into
// FOLDS groups.
template <typename P, bool CLOCKWISE, bool HIDES, int FOLDS, typename Tables>
void folded_strip(const Tables& tables, const frame_args<P>& f, int top, int rows)
{
    constexpr int STEP = CLOCKWISE ? -1 : 1, BAND = BAND_COLUMNS<P>, GROUP = N<P> / FOLDS;
    constexpr orientation TURN = CLOCKWISE ? orientation::cw : orientation::ccw;
    const int w = f.width, span = (w + FOLDS - 1) / FOLDS;
    // From a group's blocks to the next group's: `span` columns on.
    const std::ptrdiff_t next_group = block_offset<TURN>(f, span, top) - block_offset<TURN>(f, 0, top);
    for (int x0 = 0; x0 < span; x0 += BAND) {
        const int x1 = min_of(x0 + BAND, span);
        // Tile column c is column x0 - 1 + c of each group's stretch.
        const tile<P, HIDES> t([&f, top, span, x0, w](int k) {
            const bool before = (k + 1) % GROUP == 0; // (k = -1 too)
            const int g = min_of((before ? k + 1 : k) / GROUP, FOLDS - 1);
            const int y = before ? top - STEP : top + STEP * (k - g * GROUP);
            return clamped_columns<HIDES>(clamped_row(f, y), x0 - 1 + g * span, w);
        });
        const auto column = [&t, x0](int x, vec<P>(&out)[3]) __attribute__((always_inline)) {
            t.get(x - x0 + 1, out);
        };
        const auto put = [&f, top, rows, span, next_group, w](int x, const vec<P>(&q)[4], bool)
                             __attribute__((always_inline)) {
            constexpr auto& at = QUARTER_AT[int(TURN)];
            P* out = offset_bytes(f.dst, block_offset<TURN>(f, x, top));
            for (int r = 0; r < 2; ++r, out = offset_bytes(out, f.dst_pitch)) { // the block's two output rows
                vec<P> first, second;
                zip<true>(q[at[r][0]], q[at[r][1]], first, second);
                P* group_out = out;
                for (int g = 0; g < FOLDS && x + g * span < w; ++g, group_out = offset_bytes(group_out, next_group)) {
                    const vec<P> half = 2 * g < FOLDS ? first : second;
                    store(group_out, g % (FOLDS / 2) == 0 ? half : join_halves(half, second), 2 * rows);
                }
            }
        };
        walk_columns<CLOCKWISE, P>(tables, x0 - 1, x0, x1, column, put);
    }
}

// The source lines that a strip's tile in the next band reads first (its
// last columns, up to column x), asked for ahead: in a frame too large for
// the caches, the tiles' loads otherwise wait for them.
template <typename P, bool CLOCKWISE>
void prefetch_columns(const frame_args<P>& f, int top, int x)
{
    constexpr int STEP = CLOCKWISE ? -1 : 1;
    for (int k = -1; k <= N<P>; ++k)
        __builtin_prefetch(clamped_row(f, top + STEP * k) + x);
}

template <typename P, bool CLOCKWISE, bool CELLS, bool HIDES, bool STREAM>
void turned(const frame_args<P>& frame)
{
    constexpr int BAND = BAND_COLUMNS<P>, GROUP = 16;
    const frame_args<P> f = frame; // a copy the output's stores cannot alias
    const auto tables = code_tables<P>();
    strip<P> strips[STREAM ? 2 * GROUP : GROUP];
    // A band's output rows, streamed where their pieces lie as streamed_row
    // needs (which every strip's do when the first one's do). Without
    // STREAM, a constant null: the stores are the plain ones.
    streamed_row<P> rows[std::size_t(STREAM ? 2 * BAND : 1)];
    const P* first = offset_bytes(f.dst, block_offset<CLOCKWISE ? orientation::cw : orientation::ccw>(
                                             f, f.width - 1, CLOCKWISE ? f.y_end - 1 : f.y_begin));
    streamed_row<P>* const streamed = STREAM && streamable(first, f.dst_pitch) ? rows : nullptr;
    // A group's end ends every row's run of pieces, and where rows lie
    // half-way into lines a run's ends are half lines, stored as ordinary
    // ones (a fifth of 1920 x 1080's time in groups of 16 strips, AVX-512 on
    // Zen 4; see docs/performance.md). Groups of 32 have fewer ends; rows that
    // start on lines, whose runs end on whole lines, gain nothing from them,
    // so those stay at 16.
    const int group = streamed != nullptr && !on_lines(first, f.dst_pitch) ? 2 * GROUP : GROUP;
    // Whole strips, and a last one folded where that fits.
    const int rest = (f.y_end - f.y_begin) % N<P>;
    const bool fold = !CELLS && rest != 0 && fold_group<P>(rest) < N<P>;
    const int total = f.y_end - f.y_begin - (fold ? rest : 0);
    for (int g0 = 0; g0 < total; g0 += group * N<P>) {
        const int count = min_of(group, (total - g0 + N<P> - 1) / N<P>);
        for (int s = 0; s < count; ++s)
            plan_strip<P, CLOCKWISE, CELLS>(
                f, CLOCKWISE ? f.y_end - g0 - s * N<P> - 1 : f.y_begin + g0 + s * N<P>, strips[s]);
        for (int x0 = 0; x0 < f.width; x0 += BAND) {
            const int x1 = min_of(x0 + BAND, f.width);
            int before[N<P>], after[N<P>];
            plan_band<P, CELLS>(f, x0, x1, before, after);
            // Only where the next band's last column lies on a line that
            // this band's did not (taking rows to start on a line): tiles of
            // 16 pixels reach a new one every second or third band.
            const int ahead = min_of(x1 + N<P> - 2, f.width - 1);
            const bool new_line = ahead * int(sizeof(P)) / LINE != (ahead - BAND) * int(sizeof(P)) / LINE;
            for (int s = 0; s < count; ++s) {
                if (STREAM && x1 < f.width && new_line) // (streamed frames are the large ones)
                    prefetch_columns<P, CLOCKWISE>(f, strips[s].top, ahead);
                turned_strip<P, CLOCKWISE, CELLS, HIDES>(tables, f, strips[s], x0, x1, before, after, streamed);
            }
            flush_rows(streamed, 2 * BAND);
        }
    }
    const int fold_top = CLOCKWISE ? f.y_end - total - 1 : f.y_begin + total;
    if (fold && fold_group<P>(rest) == N<P> / 4)
        folded_strip<P, CLOCKWISE, HIDES, 4>(tables, f, fold_top, rest);
    else if (fold)
        folded_strip<P, CLOCKWISE, HIDES, 2>(tables, f, fold_top, rest);
    if (STREAM && streamed != nullptr)
        stream_fence(); // the caller, or another thread, may read the output next
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
[[gnu::noinline]] void upright_wrapped(const Tables& tables, const row_vector<P>& a, P* out, std::ptrdiff_t pitch,
                                       hidden_rows<P>& hidden)
{
    upright_vector<P, edge::wrap, true, HIDES>(tables, a, out, pitch, nullptr, hidden);
}

template <typename P, bool CELLS, edge MODE, bool HIDES, bool STREAM>
void upright(const frame_args<P>& frame)
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

// The walk for a frame's cells and pixels: a frame without cells (one per
// axis, clamped) takes a leaner one, and so does upright the edge mode across
// as a constant.
template <typename P, bool CELLS, bool HIDES, bool STREAM>
void walk_placed(const frame_args<P>& f)
{
    switch (f.turn) {
    case orientation::upright:
        if (!CELLS || f.across.mode == edge::clamp)
            return upright<P, CELLS, edge::clamp, HIDES, STREAM>(f);
        if (f.across.mode == edge::wrap)
            return upright<P, true, edge::wrap, HIDES, STREAM>(f);
        return upright<P, true, edge::transparent, HIDES, STREAM>(f);
    case orientation::ccw: return turned<P, false, CELLS, HIDES, STREAM>(f);
    case orientation::cw: return turned<P, true, CELLS, HIDES, STREAM>(f);
    }
}

// Streaming as a constant too: a frame too small to stream runs the walk
// with none of its bookkeeping (as a test in the loop, it cost 160 x 102
// frames 1 to 8 %). Only plain frames stream (no cells, no colour to hide:
// the frames of video and emulators, where outputs are large): a streamed
// walk for every kind of frame doubled the kernels' code and build time.
template <typename P, bool CELLS, bool HIDES>
void walk_cells(const frame_args<P>& f)
{
    if constexpr (!CELLS && !HIDES)
        if (f.stream)
            return walk_placed<P, false, false, true>(f);
    return walk_placed<P, CELLS, HIDES, false>(f);
}

// Whether any pixel of a 32-bit frame's rows has colour under alpha 0 (alpha
// byte 0, another byte set): only then must a walk hide it (see targets.h).
// A row's lanes are gathered without a branch, and tested once.
inline bool hides_colour(const pixel8888* first, std::ptrdiff_t pitch, int width, int height)
{
    using P = pixel8888;
    const vec<P> alpha = splat(P(0xFF000000u)), colour = splat(P(0x00FFFFFFu)), one = splat(P(1));
    for (int y = 0; y < height; ++y) {
        const P* row = offset_bytes(first, y * pitch);
        vec<P> found = splat(P(0)); // 1 in each lane that has met such a pixel
        for (int x = 0; x < width; x += N<P>) {
            const vec<P> v = load(row + x, min_of(N<P>, width - x));
            found = select(and_not(test(v, colour), test(v, alpha)), found, one);
        }
        if (any(test(found, one)))
            return true;
    }
    return false;
}

// The target's frame walk (see targets.h).
template <typename P>
void walk_frame(const frame_args<P>& f)
{
    if constexpr (sizeof(P) == 4)
        if (f.alpha_hides)
            return plain_frame(f) ? walk_cells<P, false, true>(f) : walk_cells<P, true, true>(f);
    return plain_frame(f) ? walk_cells<P, false, false>(f) : walk_cells<P, true, false>(f);
}
