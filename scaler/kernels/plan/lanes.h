// Part of the plan (plan.h), the walks' shared loads: a source pixel as the
// walk sees it, and tiles of the source turned into columns.
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
