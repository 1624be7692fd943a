// Part of the plan (plan.h), its stores: output streamed past the caches in
// whole lines, the blocks of a vector's lanes stored as a placement puts
// them, and the transpose that turns tiles of the source into columns.

// Output streamed past the caches, for outputs larger than they are (see
// STREAM_BYTES). There an ordinary store that fills less than a whole 64-byte
// line costs a read of the line first, and a streamed one a write of the
// whole line; so only whole aligned lines are streamed. A row's pieces (the
// two vectors of a row that a vector of blocks makes) come front to back, so
// each row's streamed_row joins them into lines: a piece that ends inside a
// line leaves that part held until the row's next piece completes the line.
// That is done for rows whose pieces start on a line or half-way into one
// (rows of 4,320 bytes at 1920 x 1080, say, alternate); a walk whose rows lie
// otherwise, or a piece that is not whole (a row's or strip's last), takes
// ordinary stores, and a held part whose line is not completed is stored as
// an ordinary one when its run ends.
//
// The blocks of flat neighbourhoods are streamed: there the stores are the
// work. Where the rule blends, its work mostly hides what ordinary stores
// cost, so blended blocks are streamed only where the turned walk keeps up
// with the memory (stream_blended: the trait STREAM_BLENDED, or the family
// table). The measurements are in docs/performance.md.
constexpr int LINE = 64; // bytes

// How many pieces make a line: 0 where a piece is two lines (64-byte
// vectors), 1, or 2 where it is half a line (16-byte vectors).
template <typename P>
constexpr int PIECES_A_LINE = LINE / (2 * int(sizeof(vec<P>)));

// Whether rows whose first piece goes to `first`, `pitch` bytes apart,
// have every piece start on a line or half-way into one.
template <typename P>
bool streamable(const P* first, std::ptrdiff_t pitch)
{
    return reinterpret_cast<std::uintptr_t>(first) % (LINE / 2) == 0 && pitch % (LINE / 2) == 0;
}

// Whether every piece of those rows starts on a line: streaming one then
// takes none of the joins.
template <typename P>
bool on_lines(const P* first, std::ptrdiff_t pitch)
{
    return reinterpret_cast<std::uintptr_t>(first) % LINE == 0 && pitch % LINE == 0;
}

// One output row, streamed: its pieces joined into whole lines.
template <typename P>
class streamed_row {
public:
    // The piece (a, b) to `out`, which continues the row's last piece or
    // starts a run of them.
    [[gnu::always_inline]] void put(P* out, vec<P> a, vec<P> b)
    {
        constexpr int K = PIECES_A_LINE<P>;
        const bool inside = reinterpret_cast<std::uintptr_t>(out) % LINE != 0; // half-way into a line
        const bool joined = end_ == out; // the held part starts this piece's first line
        if (!joined)
            flush();
        if (K < 2 && !inside) { // whole lines
            stream(out, a);
            stream(out + N<P>, b);
            return;
        }
        if (K == 0) { // two lines: a's second half and b's first make the middle one
            if (joined)
                stream(out - N<P> / 2, join_halves(held_[0], a));
            else
                store(out, a, N<P> / 2);
            stream(out + N<P> / 2, join_halves(a, b));
            held_[0] = b;
        } else if (K == 1) { // the end of one line and the start of the next
            if (joined) {
                stream(out - N<P>, held_[0]);
                stream(out, a);
            } else {
                store(out, a, N<P>);
            }
            held_[0] = b;
        } else { // half a line: the first half waits for the second
            if (!inside) {
                held_[0] = a, held_[1] = b;
                end_ = out + 2 * N<P>;
                return;
            }
            if (joined) {
                stream(out - 2 * N<P>, held_[0]);
                stream(out - N<P>, held_[1]);
                stream(out, a);
                stream(out + N<P>, b);
            } else {
                store(out, a, N<P>);
                store(out + N<P>, b, N<P>);
            }
            end_ = nullptr;
            return;
        }
        end_ = out + 2 * N<P>;
    }

    // The held part out with ordinary stores: its run ends here.
    void flush()
    {
        if (end_ == nullptr)
            return;
        if (PIECES_A_LINE<P> == 0)
            store(end_ - N<P> / 2, join_halves(held_[0], held_[0]), N<P> / 2);
        else if (PIECES_A_LINE<P> == 1)
            store(end_ - N<P>, held_[0], N<P>);
        else {
            store(end_ - 2 * N<P>, held_[0], N<P>);
            store(end_ - N<P>, held_[1], N<P>);
        }
        end_ = nullptr;
    }

private:
    P* end_ = nullptr; // where the last piece ended, while part of it is held
    vec<P> held_[2];
};

// The end of rows' runs: every held part out.
template <typename P>
void flush_rows(streamed_row<P>* rows, int count)
{
    for (int i = 0; rows != nullptr && i < count; ++i)
        rows[i].flush();
}

// Writes `pixels` pixels of two quarters interleaved lane by lane, in the
// lanes' order of rows (TILE) or natural order: a whole piece through `row`
// when the output is streamed (row not null), else with ordinary stores.
template <bool TILE, typename P>
[[gnu::always_inline]] inline void store_zipped(P* out, vec<P> a, vec<P> b, int pixels, streamed_row<P>* row)
{
    vec<P> first, second;
    zip<TILE>(a, b, first, second);
    if (pixels == 2 * N<P>) { // nearly always: one test, and no masks
        if (row != nullptr)
            return row->put(out, first, second);
        store(out, first, N<P>);
        store(out + N<P>, second, N<P>);
        return;
    }
    store(out, first, min_of(pixels, N<P>));
    if (pixels > N<P>)
        store(out + N<P>, second, pixels - N<P>);
}

// The two output rows of the lanes' blocks, `pixels` wide, from `out` on:
// quarters placed as TURN places them; streamed through rows[0] and rows[1]
// when rows is not null.
template <bool TILE, orientation TURN, typename P>
[[gnu::always_inline]] inline void store_blocks(P* out, std::ptrdiff_t pitch, const vec<P> (&q)[4], int pixels,
                                                streamed_row<P>* rows)
{
    constexpr auto& at = QUARTER_AT[int(TURN)];
    store_zipped<TILE>(out, q[at[0][0]], q[at[0][1]], pixels, rows);
    store_zipped<TILE>(offset_bytes(out, pitch), q[at[1][0]], q[at[1][1]], pixels,
                       rows != nullptr ? rows + 1 : nullptr);
}

// Transposes N rows of N pixels: zips inside each 128-bit block (log2 of its
// lanes rounds of pairing row i with row i + B/2 transpose a B x B block),
// then the blocks themselves.
template <typename P>
[[gnu::always_inline]] inline void transpose(vec<P> (&v)[N<P>])
{
    constexpr int B = 16 / int(sizeof(P));
#pragma GCC unroll 16
    for (int g = 0; g < N<P>; g += B)
#pragma GCC unroll 4
        for (int round = 1; round < B; round *= 2) {
            vec<P> t[std::size_t(B)];
#pragma GCC unroll 4
            for (int i = 0; i < B / 2; ++i) {
                t[2 * i] = zip_lo(v[g + i], v[g + i + B / 2]);
                t[2 * i + 1] = zip_hi(v[g + i], v[g + i + B / 2]);
            }
            for (int i = 0; i < B; ++i)
                v[g + i] = t[i];
        }
    transpose_blocks(v);
}
