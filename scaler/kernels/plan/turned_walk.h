// Part of the plan (plan.h): a turned frame, in groups of strips and bands of
// columns, with its last strip folded.
//
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
[[gnu::aligned(CODE_ALIGNMENT)]] void folded_strip(const Tables& tables, const frame_args<P>& f, int top, int rows)
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
        column_steps<CLOCKWISE, P>(tables, x0 - 1, x0, x1, column, put);
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
[[gnu::aligned(CODE_ALIGNMENT)]] void turned(const frame_args<P>& frame)
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
    // ones, which cost time (docs/performance.md). Groups of 32 have fewer
    // ends; rows that start on lines, whose runs end on whole lines, gain
    // nothing from them, so those stay at 16.
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
