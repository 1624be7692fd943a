// Each operation of operations.h held to its meaning on pixel565 and
// pixel8888, by plain loops over lanes written apart from the ops code.
// Included inside a target's namespace after its ops header and
// ISA_REGISTERS, the vector registers its instruction set has. Nothing here
// may emit code another target's object could share (so no standard
// templates that do): the linker would keep one copy for both.

constexpr int CASES = 600; // random cases an operation and pixel type

struct random_source { // xorshift64*
    std::uint64_t s;
    std::uint32_t next()
    {
        s ^= s >> 12, s ^= s << 25, s ^= s >> 27;
        return std::uint32_t(s * 0x2545F4914F6CDD1Du >> 32);
    }
};

template <typename P>
struct lanes {
    P at[LANES<P>];
};
template <typename T, typename F>
T same_bytes(const F& from)
{
    static_assert(sizeof(T) == sizeof(F));
    T to;
    std::memcpy(&to, &from, sizeof to);
    return to;
}
template <typename P>
lanes<P> filled(P p)
{
    lanes<P> l;
    for (P& x : l.at)
        x = p;
    return l;
}
template <typename P>
constexpr std::uint32_t ALL_LANES = LANES<P> == 32 ? ~0u : (1u << LANES<P>) - 1;

// A mask as bits (lane i: bit i) and back, in either form: a mask register,
// or lanes all ones or all zeros (any other lane value reads as -1).
template <typename P>
std::int64_t mask_bits(mask<P> m)
{
    if constexpr (requires { m.k; }) {
        return std::int64_t(m.k);
    } else {
        std::int64_t bits = 0;
        const lanes<P> l = same_bytes<lanes<P>>(m);
        for (int i = 0; i < LANES<P>; ++i) {
            if (l.at[i] != 0 && l.at[i] != P(~P(0)))
                return -1;
            bits |= std::int64_t(l.at[i] != 0) << i;
        }
        return bits;
    }
}
template <typename P>
mask<P> mask_from(std::uint32_t bits)
{
    if constexpr (requires(mask<P> m) { m.k; }) {
        return {decltype(mask<P>::k)(bits)};
    } else {
        lanes<P> l;
        for (int i = 0; i < LANES<P>; ++i)
            l.at[i] = bits >> i & 1 ? P(~P(0)) : P(0);
        return same_bytes<mask<P>>(l);
    }
}

struct checker {
    const char *kernel, *type, *op;
    bool counting; // the first pixel type counts the operations
    int shown;
    operations_report report;

    void begin(const char* name)
    {
        op = name, shown = 0, report.operations += counting;
        operation_running = name;
    }
    // One result: n values (lanes, or one) of got against want.
    template <typename T>
    void compare(const T* want, const T* got, int n)
    {
        int differ = 0;
        for (int i = 0; i < n; ++i)
            differ += want[i] != got[i];
        ++report.checks, report.failed += differ != 0;
        if (differ == 0 || ++shown > 3)
            return;
        std::printf("FAILED %s on %s (%s):", op, kernel, type);
        if (n == 1) // a value, or a mask's bits (lane i: bit i)
            std::printf(" %#llx, not %#llx", (unsigned long long)*got, (unsigned long long)*want);
        else
            std::printf(" %d of %d lanes differ:", differ, n);
        for (int i = 0, listed = 0; i < n && n > 1 && listed < 6; ++i)
            if (want[i] != got[i] && ++listed)
                std::printf(" lane %d is %#llx, not %#llx;", i, (unsigned long long)got[i],
                            (unsigned long long)want[i]);
        std::printf("\n");
    }
    template <typename P>
    void compare(const lanes<P>& want, vec<P> got) { compare(want.at, same_bytes<lanes<P>>(got).at, LANES<P>); }
    void compare(std::int64_t want, std::int64_t got) { compare(&want, &got, 1); }
};

// Random lanes, edge values among them: zero, all ones, equal neighbours;
// random mask bits: none, all, one lane, any.
template <typename P>
lanes<P> random_lanes(random_source& r)
{
    lanes<P> l;
    for (int i = 0; i < LANES<P>; ++i) {
        const std::uint32_t x = r.next() % 8;
        l.at[i] = x == 0 ? P(0) : x == 1 ? P(~P(0)) : x < 4 && i > 0 ? l.at[i - 1] : P(r.next());
    }
    return l;
}
template <typename P>
std::uint32_t random_bits(random_source& r)
{
    const std::uint32_t x = r.next();
    return x % 8 == 0 ? 0 : x % 8 == 1 ? ALL_LANES<P> : x % 8 == 2 ? 1u << x / 8 % LANES<P> : r.next() & ALL_LANES<P>;
}

// The per-channel floor average: 5/6/5 bits, or four bytes.
template <typename P>
P floor_average(P a, P b)
{
    const std::uint64_t channel[] = {0x1F, 0x7E0, 0xF800, 0xFF, 0xFF00, 0xFF0000, 0xFF000000};
    std::uint64_t out = 0;
    for (int c = sizeof(P) == 2 ? 0 : 3; c < (sizeof(P) == 2 ? 3 : 7); ++c)
        out |= ((a & channel[c]) + (b & channel[c])) >> 1 & channel[c];
    return P(out);
}

// Which lane of a tile holds strip row r (-1: none).
template <typename P>
int lane_of_row(int r)
{
    int lane = -1;
    for (int j = 0; j < LANES<P>; ++j)
        lane = tile_row<P>(j) == r ? j : lane;
    return lane;
}

// Operations on random vectors a and b (and mask bits m): each one's call,
// and beside it each lane's meaning.
enum { EQ, TEST, HAS, AND, AND_NOT, ANY, SELECT, OR_WHERE, CLEAR_WHERE, AVERAGE, ZIP_LO, ZIP_HI, FROM_PREVIOUS,
       FROM_NEXT, JOIN_HALVES, ZIP, ZIP_TILE, TILE_PREVIOUS, TILE_NEXT, TABLE_OPS };
constexpr const char* TABLE_NAMES[] = {"eq", "test", "has", "and_", "and_not", "any", "select", "or_where",
                                       "clear_where", "average", "zip_lo", "zip_hi", "from_previous", "from_next",
                                       "join_halves", "zip<false>", "zip<true>", "tile_previous", "tile_next"};

template <typename P>
void check_table(checker& c, random_source& r, int op)
{
    constexpr int N = LANES<P>, B = 16 / int(sizeof(P)); // B: lanes in 16 bytes
    c.begin(TABLE_NAMES[op]);
    for (int k = 0; k < CASES; ++k) {
        lanes<P> a = random_lanes<P>(r), b = random_lanes<P>(r), want{};
        const std::uint32_t m = random_bits<P>(r), m2 = random_bits<P>(r);
        const int bit = int(r.next() % (8 * sizeof(P))), col = k % N;
        std::int64_t bits = op == AND ? m & m2 : op == AND_NOT ? m & ~m2 : 0;
        P pairs[2 * N]; // zips': a's lane then b's, in natural order or by rows
        for (int i = 0; i < N; ++i) {
            if (op == CLEAR_WHERE) // its bits all in a, or_where's none
                b.at[i] &= a.at[i];
            else if (op == OR_WHERE || r.next() % 2) // else edges: equal lanes, or no bit in common
                b.at[i] = op == EQ ? a.at[i] : P(b.at[i] & ~a.at[i]);
        }
        for (int i = 0; i < N; ++i) {
            const P x = a.at[i], y = b.at[i];
            const int pair = i / B * B + i % B / 2, row = tile_row<P>(i) + (op == TILE_PREVIOUS ? -1 : 1);
            if (op <= HAS)
                bits |= std::int64_t(op == EQ ? x == y : op == TEST ? (x & y) != 0 : (x >> bit & 1) != 0) << i;
            const bool in_m = m >> i & 1;
            P& w = want.at[i];
            switch (op) {
            case SELECT: w = in_m ? y : x; break;
            case OR_WHERE: w = P(in_m ? x | y : x); break;
            case CLEAR_WHERE: w = P(in_m ? x & ~y : x); break;
            case AVERAGE: w = floor_average(x, y); break;
            case ZIP_LO: w = (i % 2 ? b : a).at[pair]; break;
            case ZIP_HI: w = (i % 2 ? b : a).at[pair + B / 2]; break;
            case FROM_PREVIOUS: w = i == 0 ? a.at[N - 1] : b.at[i - 1]; break;
            case FROM_NEXT: w = i == N - 1 ? b.at[0] : a.at[i + 1]; break;
            case JOIN_HALVES: w = i < N / 2 ? a.at[N / 2 + i] : b.at[i - N / 2]; break;
            case TILE_PREVIOUS: case TILE_NEXT: w = row < 0 || row == N ? b.at[col] : a.at[lane_of_row<P>(row)];
            }
            const int lane = op == ZIP_TILE ? lane_of_row<P>(i) : i;
            pairs[2 * i] = a.at[lane], pairs[2 * i + 1] = b.at[lane];
        }
        const vec<P> va = same_bytes<vec<P>>(a), vb = same_bytes<vec<P>>(b);
        const mask<P> mm = mask_from<P>(m), mm2 = mask_from<P>(m2);
        alignas(64) const lanes<P> fills = b; // the rows past a tile
        vec<P> got[2]{};
        switch (op) {
        case EQ: c.compare(bits, mask_bits(eq(va, vb))); continue;
        case TEST: c.compare(bits, mask_bits(test(va, vb))); continue;
        case HAS: c.compare(bits, mask_bits(has(va, splat(P(1u << bit))))); continue;
        case AND: c.compare(bits, mask_bits(and_(mm, mm2))); continue;
        case AND_NOT: c.compare(bits, mask_bits(and_not(mm, mm2))); continue;
        case ANY: c.compare(m != 0, any(mm)); continue;
        case SELECT: got[0] = select(mm, va, vb); break;
        case OR_WHERE: got[0] = or_where(va, mm, vb); break;
        case CLEAR_WHERE: got[0] = clear_where(va, mm, vb); break;
        case AVERAGE: got[0] = average(va, vb); break;
        case ZIP_LO: got[0] = zip_lo(va, vb); break;
        case ZIP_HI: got[0] = zip_hi(va, vb); break;
        case FROM_PREVIOUS: got[0] = from_previous(va, vb); break;
        case FROM_NEXT: got[0] = from_next(va, vb); break;
        case JOIN_HALVES: got[0] = join_halves(va, vb); break;
        case ZIP: zip<false>(va, vb, got[0], got[1]); break;
        case ZIP_TILE: zip<true>(va, vb, got[0], got[1]); break;
        case TILE_PREVIOUS: got[0] = tile_previous(va, fills.at, col); break;
        case TILE_NEXT: got[0] = tile_next(va, fills.at, col); break;
        }
        P out[2 * N];
        std::memcpy(out, got, sizeof out);
        c.compare(op == ZIP || op == ZIP_TILE ? pairs : want.at, out, op == ZIP || op == ZIP_TILE ? 2 * N : N);
    }
}

// Lanes made, loaded and stored; the neighbourhood's test; tiles; codes.
template <typename P>
void check_type(checker& c, random_source& r, unsigned char* edge)
{
    constexpr int N = LANES<P>, B = 16 / int(sizeof(P));
    c.begin("splat");
    for (int k = 0; k < CASES; ++k) {
        const P p = k == 0 ? P(0) : k == 1 ? P(~P(0)) : P(r.next());
        c.compare(filled(p), splat(p));
    }
    [&]<int... I>(std::integer_sequence<int, I...>) { // the rule's constants, which may come from memory
        (c.compare(filled(P(I < 8 ? 1 << I : 255)), splat(P(I < 8 ? 1 << I : 255))), ...);
    }(std::make_integer_sequence<int, 9>{});
    c.begin("lanes_below");
    for (int n = 0; n <= N; ++n)
        c.compare((std::int64_t(1) << n) - 1, mask_bits(lanes_below<P>(n)));
    c.begin("lanes_of");
    for (int k = 0; k < CASES; ++k) {
        const std::uint32_t bits = random_bits<P>(r);
        c.compare(bits, mask_bits(lanes_of<P>(bits)));
    }

    // n pixels against the inaccessible page at `edge`, so that a read or
    // write past them faults; before them, marks that a stray store changes.
    P* const end = reinterpret_cast<P*>(edge);
    c.begin("load");
    for (int k = 0; k < CASES; ++k) {
        const int n = 1 + k % N;
        lanes<P> in = random_lanes<P>(r);
        std::memcpy(end - n, in.at, sizeof(P) * unsigned(n));
        for (int i = n; i < N; ++i)
            in.at[i] = 0;
        c.compare(in, load(end - n, n));
    }
    for (int op = 0; op < 2; ++op) {
        c.begin(op == 0 ? "store" : "stream");
        for (int k = 0; k < CASES; ++k) {
            const int n = op == 0 ? 1 + k % N : N;
            const lanes<P> in = random_lanes<P>(r);
            alignas(64) P aligned[2 * N];
            P* const to = op == 0 ? end - n : aligned + N;
            P want[2 * N];
            for (int i = 0; i < N + n; ++i)
                to[i - N] = P(0x5A5A5A5Au), want[i] = i < N ? P(0x5A5A5A5Au) : in.at[i - N];
            if (op == 0)
                store(to, same_bytes<vec<P>>(in), n);
            else
                stream(to, same_bytes<vec<P>>(in)), stream_fence();
            c.compare(want, to - N, N + n);
        }
    }

    c.begin("flat");
    for (int k = 0; k < CASES; ++k) {
        lanes<P> l[9];
        for (lanes<P>& x : l)
            x = random_lanes<P>(r);
        if (k % 4 != 3) { // T, L, R and B the centre, or all but one bit of one lane
            for (int i = 1; i < 9; i += 2)
                l[i] = l[4];
            if (k % 4 == 1)
                l[1 + 2 * (r.next() % 4)].at[r.next() % N] ^= P(1u << r.next() % (8 * sizeof(P)));
        }
        bool is_flat = true;
        vec<P> nine[9];
        for (int i = 0; i < 9; ++i) {
            for (int j = 0; j < N && i % 2; ++j)
                is_flat = is_flat && l[i].at[j] == l[4].at[j];
            nine[i] = same_bytes<vec<P>>(l[i]);
        }
        c.compare(is_flat, flat(nine));
    }

    // A tile's rows in lanes' order of rows (vector j holds row tile_row(j)),
    // zipped within 16 bytes as the plan's transpose does (plan/stores.h),
    // then transpose_blocks: lane j of column c holds row tile_row(j).
    c.begin("transpose_blocks, tile_row");
    std::int64_t rows = 0;
    for (int j = 0; j < N; ++j)
        rows |= std::int64_t(1) << tile_row<P>(j);
    c.compare(ALL_LANES<P>, rows); // each row in one lane
    for (int k = 0; k < CASES / N; ++k) {
        P tile[N][N]; // [row][column]
        vec<P> v[N];
        for (int i = 0; i < N * N; ++i)
            tile[i / N][i % N] = k == 0 ? P(i) : P(r.next());
        for (int j = 0; j < N; ++j)
            std::memcpy(&v[j], tile[tile_row<P>(j)], sizeof v[j]);
        for (int g = 0; g < N; g += B)
            for (int round = 1; round < B; round *= 2) {
                vec<P> t[B];
                for (int i = 0; i < B / 2; ++i)
                    t[2 * i] = zip_lo(v[g + i], v[g + i + B / 2]), t[2 * i + 1] = zip_hi(v[g + i], v[g + i + B / 2]);
                for (int i = 0; i < B; ++i)
                    v[g + i] = t[i];
            }
        transpose_blocks(v);
        for (int col = 0; col < N; ++col) {
            lanes<P> want;
            for (int j = 0; j < N; ++j)
                want.at[j] = tile[tile_row<P>(j)][col];
            c.compare(want, v[col]);
        }
    }

    // Every lane through every pattern: each quarter's code (its low byte)
    // is the rule's, VECTOR_CODES[quarter][pattern].
    c.begin("code_tables, codes, code_of");
    static_assert(sizeof VECTOR_CODES == 4 * 256);
    const std::uint8_t* rule = reinterpret_cast<const std::uint8_t*>(&VECTOR_CODES);
    for (int k = 0; k < 256; ++k) {
        lanes<P> pattern, want;
        for (int i = 0; i < N; ++i)
            pattern.at[i] = P((k + 37 * i) & 255);
        const auto source = codes(code_tables<P>(), same_bytes<vec<P>>(pattern));
        for (int q = 0; q < 4; ++q) {
            lanes<P> got = same_bytes<lanes<P>>(code_of(source, q));
            for (int i = 0; i < N; ++i)
                want.at[i] = rule[256 * q + pattern.at[i]], got.at[i] &= 0xFF;
            c.compare(want.at, got.at, N);
        }
    }
    for (int op = 0; op < TABLE_OPS; ++op)
        check_table<P>(c, r, op);
}

operations_report check_operations(const char* kernel, unsigned char* edge)
{
    checker c{kernel, "pixel565", "", true, 0, {}};
    random_source r{0x4C513278}; // fixed: a failure repeats
    check_type<pixel565>(c, r, edge);
    c.type = "pixel8888", c.counting = false;
    check_type<pixel8888>(c, r, edge);
    c.counting = true;
    c.begin("traits"); // what operations.h allows is checked as it compiles; this, what the target has
    c.compare(ISA_REGISTERS, REGISTERS);
    return c.report;
}
