// Part of the plan (plan.h): each frame to its walk, and the target's entry.

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
// with none of its bookkeeping (as a test in the loop, it cost small frames
// time). Only plain frames stream (no cells, no colour to hide:
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
