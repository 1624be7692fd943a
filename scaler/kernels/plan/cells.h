// Part of the plan (plan.h): lanes at a cell's edges.
//
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
