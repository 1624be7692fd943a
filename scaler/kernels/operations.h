// The operations a vector target provides: everything the plan (plan/plan.h)
// does with vectors goes through these, and nothing else. A target defines
// them in its own namespace, in its ops_<target>.h (ops_generic.h does most
// of them for targets whose masks are vectors), with the traits below, and
// includes this there, after them; its kernel_<target>.cpp then includes the
// plan in the same namespace. The concept below checks the list at compile
// time, and tests/operations_test.cpp holds each operation to its meaning on
// every target the machine runs. Needs <concepts>, <cstdint> and <type_traits>.
//
// vec<P>: LANES<P> pixels of type P (pixel565 or pixel8888); mask<P>: one
// bit of truth per lane. Lane counts are at most 32.
//
// Lanes
//   splat(p)                   every lane p
//   load(in, n)                the first n pixels at `in` (1 <= n <= LANES) in
//                              the first n lanes, the rest 0; reads nothing past them
//   store(out, v, n)           the first n lanes to `out`; writes nothing past them
//   stream(out, v)             the whole vector to `out`, aligned to the vector's size, past the
//                              caches where the target can (a non-temporal store), else as store does
//   stream_fence()             streamed stores made visible in order with the ordinary ones before
//                              anything after it (a store fence where streaming has one)
//   lanes_below<P>(n)          the mask of the first n lanes
//   lanes_of<P>(bits)          the mask of the lanes whose bits are set (lane i: bit i)
// Tests and choices
//   eq(a, b)                   lanes where a and b are equal
//   test(a, b), has(a, bit)    lanes where a and b share a set bit
//   and_(m, k), and_not(m, k)  m and k; m and not k
//   any(m)                     whether some lane is set
//   select(m, clear, set)      `set` in m's lanes, `clear` in the others
//   flat(n)                    whether T, L, R and B of a neighbourhood (n[1], n[3], n[5], n[7])
//                              equal its centre n[4] in every lane
// Arithmetic on each lane
//   or_where(acc, m, bits)     acc with `bits` (not yet in acc) added in m's lanes
//   clear_where(acc, m, bits)  acc with `bits` (all in acc) taken out in m's lanes
//   average(a, b)              the per-channel floor average
// Moving lanes
//   zip_lo(a, b), zip_hi(a, b) within each 16 bytes, the first (second) halves of a and b interleaved
//   transpose_blocks(v)        finishes a tile's transpose after zip rounds within 16 bytes
//   tile_row<P>(lane)          which row of a strip a tile's lane holds (a constant expression)
//   tile_previous(v, fills, c) tile column v one row earlier in the strip, the first taking fills[c];
//   tile_next(v, fills, c)     one row later, the last taking fills[c]
//   from_previous(a, v)        v one lane later in natural order, lane 0 taking a's last lane
//   from_next(v, b)            v one lane earlier in natural order, the last lane taking b's lane 0
//   zip<TILE>(a, b, x, y)      a and b interleaved lane by lane (in tile_row order
//                              with TILE, else natural order) into x then y
//   join_halves(a, b)          the second half of a's lanes, then the first half of b's
// The rule's table
//   code_tables<P>()           the codes as the target reads them (codes.h)
//   codes(tables, pattern)     each lane's codes, from its pattern (0-255)
//   code_of(codes, q)          quarter q's code in each lane's low byte
//
// Traits: how the plan walks on this target, each stated in its ops file
// with the reason (the measurements are in docs/performance.md)
//   REGISTERS                  the vector registers the target has: 16 or 32
//   BRANCH_ON_ANY              whether a quarter branches past its blends when no lane needs them
//                              (any()): worth it where vectors are wide enough that whole vectors
//                              often need none
//   LOOK_AHEAD                 whether the turned walk loads a column ahead of the one it blends
//                              (column_steps): only where the quarters branch and 32 registers
//                              hold two columns' state
//   STREAM_BLENDED             whether a turned frame that is streamed past the caches streams its
//                              blended blocks too, not only its flat ones: the target's default,
//                              which the family table in targets.cpp overrides for the
//                              processor families measured

template <typename P>
concept operations = requires(vec<P> v, mask<P> m, const P* in, P* out, P p, int n, std::uint32_t bits,
                              vec<P> (&nine)[9], vec<P> (&tile)[LANES<P>], const P (&fills)[LANES<P>], vec<P>& x) {
    { splat(p) } -> std::same_as<vec<P>>;
    { load(in, n) } -> std::same_as<vec<P>>;
    store(out, v, n);
    stream(out, v);
    stream_fence();
    { lanes_below<P>(n) } -> std::same_as<mask<P>>;
    { lanes_of<P>(bits) } -> std::same_as<mask<P>>;
    { eq(v, v) } -> std::same_as<mask<P>>;
    { test(v, v) } -> std::same_as<mask<P>>;
    { has(v, v) } -> std::same_as<mask<P>>;
    { and_(m, m) } -> std::same_as<mask<P>>;
    { and_not(m, m) } -> std::same_as<mask<P>>;
    { any(m) } -> std::same_as<bool>;
    { select(m, v, v) } -> std::same_as<vec<P>>;
    { flat(nine) } -> std::same_as<bool>;
    { or_where(v, m, v) } -> std::same_as<vec<P>>;
    { clear_where(v, m, v) } -> std::same_as<vec<P>>;
    { average(v, v) } -> std::same_as<vec<P>>;
    { zip_lo(v, v) } -> std::same_as<vec<P>>;
    { zip_hi(v, v) } -> std::same_as<vec<P>>;
    transpose_blocks(tile);
    typename std::integral_constant<int, tile_row<P>(LANES<P> - 1)>;
    { tile_previous(v, fills, n) } -> std::same_as<vec<P>>;
    { tile_next(v, fills, n) } -> std::same_as<vec<P>>;
    { from_previous(v, v) } -> std::same_as<vec<P>>;
    { from_next(v, v) } -> std::same_as<vec<P>>;
    zip<true>(v, v, x, x);
    zip<false>(v, v, x, x);
    { join_halves(v, v) } -> std::same_as<vec<P>>;
    { code_of(codes(code_tables<P>(), v), n) } -> std::same_as<vec<P>>;
};

static_assert(operations<pixel565> && operations<pixel8888>);
static_assert(std::is_same_v<decltype(REGISTERS), const int> && (REGISTERS == 16 || REGISTERS == 32));
static_assert(std::is_same_v<decltype(BRANCH_ON_ANY), const bool> && std::is_same_v<decltype(LOOK_AHEAD), const bool> &&
              std::is_same_v<decltype(STREAM_BLENDED), const bool>);
static_assert(!LOOK_AHEAD || (BRANCH_ON_ANY && REGISTERS == 32), "looking ahead needs the branches and 32 registers");
