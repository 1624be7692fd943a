#include "deflate_bands.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <thread>

#include "image.h"

namespace tool {
namespace {

constexpr std::size_t BAND = std::size_t{1} << 20; // rows held at once; larger gains under half a percent

struct band {
    int first = 0, rows = 0;
    std::vector<std::uint8_t> out;
    std::uint32_t adler = 1;
};

struct compressor_deleter {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};
using compressor = std::unique_ptr<libdeflate_compressor, compressor_deleter>;

struct inflater {
    z_stream z{};
    bool started = false;
    ~inflater()
    {
        if (started)
            inflateEnd(&z);
    }
};

void compress_band(const row_maker& m, libdeflate_compressor* c, std::vector<std::uint8_t>& rows,
                   std::vector<std::uint8_t>& scratch, band& b, bool last)
{
    rows.resize(std::size_t(b.rows) * m.row_bytes);
    m.make(b.first, b.rows, rows);
    b.adler = libdeflate_adler32(1, rows.data(), rows.size());
    scratch.resize(libdeflate_deflate_compress_bound(c, rows.size()));
    const std::size_t n = libdeflate_deflate_compress(c, rows.data(), rows.size(), scratch.data(), scratch.size());
    if (n == 0)
        throw failure("compression failed");
    b.out.assign(scratch.begin(), scratch.begin() + std::ptrdiff_t(n));
    if (!last)
        make_joinable(b.out);
}

} // namespace

void make_joinable(std::vector<std::uint8_t>& stream)
{
    // Inflate with Z_BLOCK to find where each block starts, the output
    // thrown away; the last start found is the final block's.
    inflater in;
    if (inflateInit2(&in.z, -15) != Z_OK)
        throw failure("out of memory");
    in.started = true;
    in.z.next_in = stream.data();
    in.z.avail_in = uInt(stream.size());
    std::size_t final_byte = 0;
    int final_bit = 0, end_unused = 0;
    std::uint8_t sink[1 << 15];
    for (;;) {
        in.z.next_out = sink;
        in.z.avail_out = sizeof sink;
        const int r = inflate(&in.z, Z_BLOCK);
        if (r == Z_STREAM_END)
            break;
        if (r != Z_OK)
            throw failure("compressed data is not a whole deflate stream");
        if (in.z.data_type & 128) { // just after a block's last code
            const int unused = in.z.data_type & 7;
            const std::size_t used = stream.size() - in.z.avail_in;
            if (in.z.data_type & 64) { // that block was the final one
                end_unused = unused;
            } else { // the next block's header starts here
                final_byte = unused ? used - 1 : used;
                final_bit = unused ? 8 - unused : 0;
            }
        }
    }
    if (in.z.avail_in != 0)
        throw failure("compressed data runs past its stream");
    stream[final_byte] &= std::uint8_t(~(1u << final_bit));
    // An empty stored block: three header bits of 0 after the last code,
    // padding to the byte, then lengths 0 and ~0.
    stream.back() &= std::uint8_t((1u << (8 - end_unused)) - 1);
    if (end_unused < 3)
        stream.push_back(0);
    stream.insert(stream.end(), {0x00, 0x00, 0xFF, 0xFF});
}

void deflate_rows(const row_maker& m, int level, int threads,
                  const std::function<void(std::span<const std::uint8_t>)>& emit)
{
    const int rows_per_band = int(std::max<std::size_t>(1, BAND / m.row_bytes));
    const int count = std::max(1, (m.rows + rows_per_band - 1) / rows_per_band);
    std::vector<band> bands(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        bands[std::size_t(i)].first = int(std::int64_t(m.rows) * i / count);
        bands[std::size_t(i)].rows = int(std::int64_t(m.rows) * (i + 1) / count) - bands[std::size_t(i)].first;
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
            std::vector<std::uint8_t> rows, scratch;
            for (int i; (i = next++) < count;) {
                compress_band(m, c.get(), rows, scratch, bands[std::size_t(i)], i == count - 1);
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

} // namespace tool
