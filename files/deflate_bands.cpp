#include "deflate_bands.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <thread>

#include "image.h"
#include "large_buffer.h"

namespace lq2x::files {
namespace {

constexpr std::size_t BAND = std::size_t{1} << 20; // rows held at once; larger gains under half a percent
constexpr const char* NOT_A_STREAM = "compressed data is not a whole deflate stream";

struct band {
    int first = 0, rows = 0;
    std::vector<std::uint8_t> out;
    std::uint32_t adler = 1;
};

struct compressor_deleter {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};
using compressor = std::unique_ptr<libdeflate_compressor, compressor_deleter>;

// Reads a deflate stream's bits, lowest first, through a 64-bit buffer
// refilled a word at a time; past the end it sees zeros, and taking them is
// an error.
struct bit_reader {
    std::span<const std::uint8_t> data;
    std::size_t next = 0;   // the next byte to load
    std::uint64_t bits = 0; // loaded and not yet taken, lowest first
    int count = 0;          // how many

    std::size_t at() const { return 8 * next - std::size_t(count); } // in bits

    void refill()
    {
        if (std::endian::native == std::endian::little && next + 8 <= data.size()) {
            std::uint64_t word;
            std::memcpy(&word, data.data() + next, 8);
            bits |= word << count;
            next += std::size_t(63 - count) >> 3;
            count |= 56;
            return;
        }
        for (; count <= 56; ++next, count += 8)
            bits |= std::uint64_t(next < data.size() ? data[next] : 0) << count;
    }
    std::uint32_t peek(int n) // n at most 32
    {
        if (count < n)
            refill();
        return std::uint32_t(bits) & ((1u << n) - 1);
    }
    void skip(int n) // n at most 32
    {
        if (count < n)
            refill();
        bits >>= n;
        count -= n;
        if (at() > 8 * data.size())
            throw failure(NOT_A_STREAM);
    }
    std::uint32_t take(int n)
    {
        const std::uint32_t v = peek(n);
        skip(n);
        return v;
    }
    // To the next byte boundary, then over `bytes` whole bytes.
    void skip_bytes(std::size_t bytes)
    {
        const std::size_t byte = (at() + 7) / 8;
        if (byte > data.size() || data.size() - byte < bytes)
            throw failure(NOT_A_STREAM);
        next = byte + bytes;
        bits = 0;
        count = 0;
    }
};

// A canonical Huffman code: codes of up to FAST bits by one look-up, longer
// ones a bit at a time.
struct huffman {
    static constexpr int FAST = 11;
    std::array<std::uint16_t, 1 << FAST> fast{}; // symbol << 4 | length; 0: a longer code (or none)
    std::array<std::uint16_t, 16> count{};       // codes of each length
    std::array<std::uint16_t, 320> sorted{};     // symbols in code order

    void build(std::span<const std::uint8_t> lengths)
    {
        count.fill(0);
        for (const std::uint8_t l : lengths)
            ++count[l];
        count[0] = 0;
        int left = 1;
        for (int len = 1; len <= 15; ++len)
            if ((left = 2 * left - count[std::size_t(len)]) < 0)
                throw failure(NOT_A_STREAM); // more codes than the lengths allow
        std::array<std::uint16_t, 16> next{};
        for (int len = 1; len < 15; ++len)
            next[std::size_t(len) + 1] = std::uint16_t(next[std::size_t(len)] + count[std::size_t(len)]);
        for (std::size_t sym = 0; sym < lengths.size(); ++sym)
            if (lengths[sym] != 0)
                sorted[next[lengths[sym]]++] = std::uint16_t(sym);
        fast.fill(0);
        unsigned code = 0, index = 0;
        for (int len = 1; len <= FAST; ++len, code <<= 1)
            for (unsigned k = 0; k < count[std::size_t(len)]; ++k, ++code, ++index) {
                unsigned reversed = 0; // codes go into the stream highest bit first
                for (int b = 0; b < len; ++b)
                    reversed |= ((code >> b) & 1u) << (len - 1 - b);
                for (unsigned r = reversed; r < fast.size(); r += 1u << len)
                    fast[r] = std::uint16_t(sorted[index] << 4 | len);
            }
    }

    int decode(bit_reader& in) const
    {
        if (const std::uint16_t e = fast[in.peek(FAST)]; e != 0) {
            in.skip(e & 15);
            return e >> 4;
        }
        int code = 0, first = 0, index = 0;
        for (int len = 1; len <= 15; ++len) {
            code |= int(in.take(1));
            const int n = count[std::size_t(len)];
            if (code - first < n)
                return sorted[std::size_t(index + code - first)];
            index += n;
            first = (first + n) << 1;
            code <<= 1;
        }
        throw failure(NOT_A_STREAM);
    }
};

constexpr std::uint8_t LENGTH_EXTRA[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::uint8_t DISTANCE_EXTRA[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                             6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr std::uint8_t LENGTH_CODE_ORDER[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

struct stream_end {
    std::size_t final_block, end; // in bits: where the final block starts, where the stream ends
};

// Walks a raw deflate stream block by block, decoding its codes but
// keeping nothing, to find where the final block starts and the stream ends.
stream_end walk(std::span<const std::uint8_t> stream)
{
    bit_reader in{stream};
    huffman literals, distances, lengths_code;
    std::array<std::uint8_t, 320> lengths{};
    for (;;) {
        const std::size_t start = in.at();
        const bool final = in.take(1) != 0;
        const std::uint32_t type = in.take(2);
        if (type == 0) { // stored: aligned lengths, then the bytes as they are
            in.skip_bytes(0);
            const std::uint32_t length = in.take(16);
            if (length != (~in.take(16) & 0xFFFFu))
                throw failure(NOT_A_STREAM);
            in.skip_bytes(length);
        } else if (type == 3) {
            throw failure(NOT_A_STREAM);
        } else {
            std::size_t literal_count = 288, distance_count = 30;
            if (type == 1) { // the fixed codes
                std::fill_n(lengths.begin(), 144, 8);
                std::fill_n(lengths.begin() + 144, 112, 9);
                std::fill_n(lengths.begin() + 256, 24, 7);
                std::fill_n(lengths.begin() + 280, 8, 8);
                std::fill_n(lengths.begin() + 288, 30, 5);
            } else { // the codes' lengths, themselves coded
                literal_count = in.take(5) + 257;
                distance_count = in.take(5) + 1;
                const std::uint32_t length_codes = in.take(4) + 4;
                std::array<std::uint8_t, 19> code_lengths{};
                for (std::uint32_t i = 0; i < length_codes; ++i)
                    code_lengths[LENGTH_CODE_ORDER[i]] = std::uint8_t(in.take(3));
                lengths_code.build(code_lengths);
                for (std::size_t n = 0; n < literal_count + distance_count;) {
                    const int sym = lengths_code.decode(in);
                    if (sym < 16) {
                        lengths[n++] = std::uint8_t(sym);
                        continue;
                    }
                    if (sym == 16 && n == 0)
                        throw failure(NOT_A_STREAM);
                    const std::uint8_t value = sym == 16 ? lengths[n - 1] : 0;
                    const std::size_t repeat = sym == 16 ? 3 + in.take(2) : sym == 17 ? 3 + in.take(3) : 11 + in.take(7);
                    if (n + repeat > literal_count + distance_count)
                        throw failure(NOT_A_STREAM);
                    std::fill_n(lengths.begin() + std::ptrdiff_t(n), repeat, value);
                    n += repeat;
                }
                if (lengths[256] == 0)
                    throw failure(NOT_A_STREAM); // no end-of-block code
            }
            literals.build({lengths.data(), literal_count});
            distances.build({lengths.data() + literal_count, distance_count});
            for (;;) {
                const int sym = literals.decode(in);
                if (sym < 256)
                    continue;
                if (sym == 256)
                    break;
                if (sym > 285)
                    throw failure(NOT_A_STREAM);
                in.skip(LENGTH_EXTRA[sym - 257]);
                const int distance = distances.decode(in);
                if (distance > 29)
                    throw failure(NOT_A_STREAM);
                in.skip(DISTANCE_EXTRA[distance]);
            }
        }
        if (final)
            return {start, in.at()};
    }
}

// A thread's room for one band's rows and their compressed form, taken
// once, without being cleared first, and made present at once.
struct workspace {
    std::size_t rows_size, out_size;
    std::unique_ptr<std::uint8_t[]> rows, out;

    workspace(libdeflate_compressor* c, std::size_t most_rows)
        : rows_size(most_rows), out_size(libdeflate_deflate_compress_bound(c, most_rows)),
          rows(std::make_unique_for_overwrite<std::uint8_t[]>(rows_size)),
          out(std::make_unique_for_overwrite<std::uint8_t[]>(out_size))
    {
        advise_large(rows.get(), rows_size, filling::whole);
        advise_large(out.get(), out_size, filling::whole);
    }
};

void compress_band(const row_maker& m, libdeflate_compressor* c, workspace& w, band& b, bool last)
{
    const std::span<std::uint8_t> rows{w.rows.get(), std::size_t(b.rows) * m.row_bytes};
    m.make(b.first, b.rows, rows);
    b.adler = libdeflate_adler32(1, rows.data(), rows.size());
    const std::size_t n = libdeflate_deflate_compress(c, rows.data(), rows.size(), w.out.get(), w.out_size);
    if (n == 0)
        throw failure("compression failed");
    b.out.assign(w.out.get(), w.out.get() + n);
    if (!last)
        make_joinable(b.out);
}

} // namespace

void make_joinable(std::vector<std::uint8_t>& stream)
{
    const stream_end e = walk(stream);
    if ((e.end + 7) / 8 != stream.size())
        throw failure("compressed data runs past its stream");
    stream[e.final_block / 8] &= std::uint8_t(~(1u << (e.final_block % 8)));
    // An empty stored block: three header bits of 0 after the last code,
    // padding to the byte, then lengths 0 and ~0.
    const unsigned used = unsigned(e.end % 8); // bits of the last byte; 0: all
    if (used != 0)
        stream.back() &= std::uint8_t((1u << used) - 1);
    if (used == 0 || used > 5)
        stream.push_back(0);
    stream.insert(stream.end(), {0x00, 0x00, 0xFF, 0xFF});
}

void deflate_rows(const row_maker& m, int level, int threads,
                  const std::function<void(std::span<const std::uint8_t>)>& emit)
{
    const int rows_per_band = int(std::max<std::size_t>(1, BAND / m.row_bytes));
    const int count = std::max(1, (m.rows + rows_per_band - 1) / rows_per_band);
    std::vector<band> bands(static_cast<std::size_t>(count));
    int most_rows = 0;
    for (int i = 0; i < count; ++i) {
        bands[std::size_t(i)].first = int(std::int64_t(m.rows) * i / count);
        bands[std::size_t(i)].rows = int(std::int64_t(m.rows) * (i + 1) / count) - bands[std::size_t(i)].first;
        most_rows = std::max(most_rows, bands[std::size_t(i)].rows);
    }

    // zlib header: deflate with a 32 KiB window, the level class, check bits.
    const std::uint8_t cmf = 0x78;
    std::uint8_t flg = std::uint8_t((level < 2 ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3) << 6);
    flg = std::uint8_t(flg + (31 - (cmf * 256 + flg) % 31) % 31);
    const std::uint8_t header[] = {cmf, flg};
    emit(header);

    // Bands done go out in order from this thread, which compresses too;
    // the rest wait, a few at most, for those before them.
    std::vector<std::atomic<bool>> done(bands.size());
    int emitted = 0;
    uLong adler = 1;
    const auto emit_done = [&] {
        for (; emitted < count && done[std::size_t(emitted)].load(std::memory_order_acquire); ++emitted) {
            band& b = bands[std::size_t(emitted)];
            emit(b.out);
            adler = adler32_combine(adler, b.adler, z_off_t(std::size_t(b.rows) * m.row_bytes));
            std::vector<std::uint8_t>().swap(b.out);
        }
    };
    std::atomic<int> next = 0;
    std::exception_ptr error;
    std::atomic_flag failed;
    const auto work = [&](bool emitting) {
        try {
            const compressor c(libdeflate_alloc_compressor(level));
            if (!c)
                throw failure("out of memory");
            std::optional<workspace> w;
            for (int i; (i = next++) < count;) {
                if (!w)
                    w.emplace(c.get(), std::size_t(most_rows) * m.row_bytes);
                compress_band(m, c.get(), *w, bands[std::size_t(i)], i == count - 1);
                done[std::size_t(i)].store(true, std::memory_order_release);
                if (emitting)
                    emit_done();
            }
        } catch (...) {
            if (!failed.test_and_set())
                error = std::current_exception();
            next = count;
        }
    };
    {
        std::vector<std::jthread> pool;
        for (int t = 1; t < std::min(threads, count); ++t)
            pool.emplace_back(work, false);
        work(true);
    }
    if (error)
        std::rethrow_exception(error);
    emit_done();
    const std::uint8_t trailer[] = {std::uint8_t(adler >> 24), std::uint8_t(adler >> 16), std::uint8_t(adler >> 8),
                                    std::uint8_t(adler)};
    emit(trailer);
}

} // namespace lq2x::files
