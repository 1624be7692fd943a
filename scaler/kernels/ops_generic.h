// The operations (operations.h) on vectors of WIDTH bytes whose masks are
// vectors too (SSE4.1, AVX2, NEON, SIMD128), in the compiler's generic vector
// arithmetic. Included inside a target's namespace after it defines WIDTH;
// the target adds what generic arithmetic does badly: select(m, clear, set),
// any(m), all(m) (every lane set), and fetch_codes(table, pattern, entries),
// each lane's entry of PACKED_CODES by its pattern. Needs <cstdint>,
// <cstring> and <utility>.

template <typename P>
constexpr int LANES = WIDTH / int(sizeof(P));

template <typename P>
struct raw_of {
    typedef P type __attribute__((vector_size(WIDTH)));
};
template <typename P>
using raw = typename raw_of<P>::type;

template <typename P>
struct vec {
    raw<P> v;
};
template <typename P>
struct mask {
    raw<P> m; // all ones in a lane that is set
};

template <typename P>
vec<P> splat(P x) { return {raw<P>{} + x}; }
template <typename P>
mask<P> eq(vec<P> a, vec<P> b) { return {raw<P>(a.v == b.v)}; }
template <typename P>
mask<P> test(vec<P> a, vec<P> b) { return {raw<P>((a.v & b.v) != 0)}; }
template <typename P>
mask<P> has(vec<P> a, vec<P> bit) { return test(a, bit); }
template <typename P>
mask<P> and_(mask<P> a, mask<P> b) { return {a.m & b.m}; }
template <typename P>
mask<P> and_not(mask<P> a, mask<P> b) { return {a.m & ~b.m}; }
template <typename P>
vec<P> or_where(vec<P> acc, mask<P> m, vec<P> bits) { return {acc.v | (m.m & bits.v)}; }
template <typename P>
vec<P> clear_where(vec<P> acc, mask<P> m, vec<P> bits) { return {acc.v & ~(m.m & bits.v)}; }

template <typename P>
mask<P> lanes_below(int n)
{
    raw<P> lane{};
    for (int i = 0; i < LANES<P>; ++i)
        lane[i] = P(i);
    return {raw<P>(lane < P(n))};
}

// The lanes whose bits are set (lane i: bit i).
template <typename P>
mask<P> lanes_of(std::uint32_t bits)
{
    raw<P> bit{};
    for (int i = 0; i < LANES<P>; ++i)
        bit[i] = P(1u << i);
    return {raw<P>((bit & P(bits)) != 0)};
}

// The first n lanes (the rest zero on loading); whole vectors in one move.
template <typename P>
vec<P> load(const P* p, int n)
{
    vec<P> v{};
    if (n == LANES<P>)
        std::memcpy(&v.v, p, sizeof v.v);
    else
        std::memcpy(&v.v, p, sizeof(P) * unsigned(n));
    return v;
}
template <typename P>
void store(P* p, vec<P> v, int n)
{
    if (n == LANES<P>)
        std::memcpy(p, &v.v, sizeof v.v);
    else
        std::memcpy(p, &v.v, sizeof(P) * unsigned(n));
}

template <typename P>
bool flat(const vec<P> (&n)[9])
{
    return all(and_(and_(eq(n[1], n[4]), eq(n[3], n[4])), and_(eq(n[5], n[4]), eq(n[7], n[4]))));
}

// Per-channel floor average: the common bits, plus half the differing ones
// with each channel's lowest bit cleared so that none moves into the channel
// below (the sum never carries: it is at most the larger channel).
template <typename P>
vec<P> average(vec<P> a, vec<P> b)
{
    const P keep = sizeof(P) == 2 ? P(0xF7DE) : P(0xFEFEFEFE);
    return {(a.v & b.v) + (((a.v ^ b.v) & keep) >> 1)};
}

// Shuffles of lanes of a and b (lane i of b is lane LANES + i), lane i of
// the result taking lane PICK(i): compile-time indices for the compiler's
// permute instructions.
template <typename P, int (*PICK)(int), std::size_t... I>
raw<P> shuffle(raw<P> a, raw<P> b, std::index_sequence<I...>)
{
    return __builtin_shufflevector(a, b, PICK(int(I))...);
}
template <typename P, int (*PICK)(int)>
vec<P> shuffle(vec<P> a, vec<P> b)
{
    return {shuffle<P, PICK>(a.v, b.v, std::make_index_sequence<LANES<P>>{})};
}

// Lanes of a 16-byte block interleaved with the same block of b: the first
// halves (FIRST) or the second.
template <typename P, bool FIRST>
constexpr int zip_block(int i)
{
    constexpr int B = 16 / int(sizeof(P));
    const int block = i / B * B, k = i % B / 2 + (FIRST ? 0 : B / 2);
    return block + k + (i % 2 ? LANES<P> : 0);
}
template <typename P>
vec<P> zip_lo(vec<P> a, vec<P> b) { return shuffle<P, zip_block<P, true>>(a, b); }
template <typename P>
vec<P> zip_hi(vec<P> a, vec<P> b) { return shuffle<P, zip_block<P, false>>(a, b); }

// Tiles are in natural order.
template <typename P>
constexpr int tile_row(int lane) { return lane; }

// Two 16-byte blocks a vector: block 1 of vector k and block 0 of vector
// B + k trade places, B lanes to a block.
template <typename P, bool FIRST>
constexpr int block_of(int i)
{
    constexpr int B = 16 / int(sizeof(P));
    return i < B ? (FIRST ? i : i + B) : (FIRST ? i - B : i) + LANES<P>;
}
template <typename P>
void transpose_blocks(vec<P> (&v)[LANES<P>])
{
    constexpr int B = 16 / int(sizeof(P));
    if constexpr (WIDTH == 32)
        for (int k = 0; k < B; ++k) {
            const vec<P> a = v[k], b = v[B + k];
            v[k] = shuffle<P, block_of<P, true>>(a, b);
            v[B + k] = shuffle<P, block_of<P, false>>(a, b);
        }
}

// v one lane later, the first lane taking a's last; or one lane earlier, the
// last taking b's first. Tiles are in natural order, so a tile column moved
// one row later or earlier is the same, with fills[c] coming in.
template <typename P>
constexpr int previous_lane(int i) { return i + LANES<P> - 1; }
template <typename P>
constexpr int next_lane(int i) { return i + 1; }
template <typename P>
vec<P> from_previous(vec<P> a, vec<P> v) { return shuffle<P, previous_lane<P>>(a, v); }
template <typename P>
vec<P> from_next(vec<P> v, vec<P> b) { return shuffle<P, next_lane<P>>(v, b); }
template <typename P>
vec<P> tile_previous(vec<P> v, const P (&fills)[LANES<P>], int c) { return from_previous(splat(fills[c]), v); }
template <typename P>
vec<P> tile_next(vec<P> v, const P (&fills)[LANES<P>], int c) { return from_next(v, splat(fills[c])); }

// a and b interleaved lane by lane in two vectors.
template <typename P, bool FIRST>
constexpr int zip_lane(int i) { return i / 2 + (FIRST ? 0 : LANES<P> / 2) + (i % 2 ? LANES<P> : 0); }
template <bool TILE, typename P>
void zip(vec<P> a, vec<P> b, vec<P>& first, vec<P>& second)
{
    first = shuffle<P, zip_lane<P, true>>(a, b);
    second = shuffle<P, zip_lane<P, false>>(a, b);
}

// The second half of a's lanes, then the first half of b's.
template <typename P>
constexpr int half_on(int i) { return i + LANES<P> / 2; }
template <typename P>
vec<P> join_halves(vec<P> a, vec<P> b) { return shuffle<P, half_on<P>>(a, b); }

// Each lane's four quarter codes (see VECTOR_CODES) from its pattern, in the
// lane's low byte (the other bytes junk: every use tests the low byte only),
// all four at once; code_of gives quarter q's. The target's fetch_codes
// gives each lane's entry of PACKED_CODES, lanes in order across one 32-bit
// vector per four bytes of a pixel vector's lanes.
template <typename P>
const std::uint32_t* code_tables() { return PACKED_CODES.entry; }

template <typename P, std::size_t... I>
raw<std::uint32_t> fetch_by_lane(const std::uint32_t* t, vec<P> pattern, int first, std::index_sequence<I...>)
{
    return raw<std::uint32_t>{t[pattern.v[first + int(I)]]...};
}
template <typename P>
void fetch_by_lane(const std::uint32_t* t, vec<P> pattern, raw<std::uint32_t> (&entries)[sizeof(P) == 2 ? 2 : 1])
{
    constexpr int E = LANES<std::uint32_t>;
    for (int k = 0; k < LANES<P> / E; ++k)
        entries[k] = fetch_by_lane(t, pattern, k * E, std::make_index_sequence<std::size_t(E)>{});
}

template <typename P>
constexpr int even_lane(int i) { return 2 * i; }

template <typename P>
struct code_source {
    vec<P> code[4];
};
template <typename P>
code_source<P> codes(const std::uint32_t* t, vec<P> pattern)
{
    raw<std::uint32_t> e[sizeof(P) == 2 ? 2 : 1];
    fetch_codes(t, pattern, e);
    code_source<P> s;
    for (int q = 0; q < 4; ++q)
        if constexpr (sizeof(P) == 2)
            s.code[q] = shuffle<P, even_lane<P>>(vec<P>{raw<P>(e[0] >> 8 * q)}, vec<P>{raw<P>(e[1] >> 8 * q)});
        else
            s.code[q].v = e[0] >> 8 * q;
    return s;
}
template <typename P>
vec<P> code_of(const code_source<P>& s, int q) { return s.code[q]; }
