#include "deflate_bands.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <thread>

#include "image.h"

namespace tool {
namespace {

constexpr std::size_t WINDOW = 32768;          // deflate's reach back
constexpr std::size_t CHUNK = 256 * 1024;      // rows made and fed at a time
constexpr std::size_t MIN_BAND = 1024 * 1024;  // less is not worth a thread

struct z_guard {
    z_stream z{};
    ~z_guard() { deflateEnd(&z); }
};

struct band {
    int first = 0, rows = 0;
    std::vector<std::uint8_t> out;
    uLong adler = 1;
};

void compress_band(const row_maker& m, int level, band& b, bool last)
{
    z_guard g;
    if (deflateInit2(&g.z, level, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        throw failure("cannot start compression");
    const int rows_per_chunk = int(std::max<std::size_t>(1, CHUNK / m.row_bytes));
    std::vector<std::uint8_t> buffer;
    if (b.first > 0) {
        // The rows just before the band, as the stream so far would have them.
        const int back = int(std::min<std::size_t>(std::size_t(b.first), (WINDOW + m.row_bytes - 1) / m.row_bytes));
        buffer.resize(std::size_t(back) * m.row_bytes);
        m.make(b.first - back, back, buffer);
        const std::size_t n = std::min(WINDOW, buffer.size());
        deflateSetDictionary(&g.z, buffer.data() + buffer.size() - n, uInt(n));
    }
    for (int y = b.first; y < b.first + b.rows;) {
        const int count = std::min(rows_per_chunk, b.first + b.rows - y);
        buffer.resize(std::size_t(count) * m.row_bytes);
        m.make(y, count, buffer);
        y += count;
        b.adler = adler32_z(b.adler, buffer.data(), buffer.size());
        const int flush = y < b.first + b.rows ? Z_NO_FLUSH : last ? Z_FINISH : Z_SYNC_FLUSH;
        g.z.next_in = buffer.data();
        g.z.avail_in = uInt(buffer.size());
        do {
            const std::size_t room = deflateBound(&g.z, g.z.avail_in) + 64;
            const std::size_t had = b.out.size();
            b.out.resize(had + room);
            g.z.next_out = b.out.data() + had;
            g.z.avail_out = uInt(room);
            const int r = deflate(&g.z, flush);
            b.out.resize(b.out.size() - g.z.avail_out);
            if (r == Z_STREAM_ERROR)
                throw failure("compression failed");
        } while (g.z.avail_in > 0 || g.z.avail_out == 0);
    }
    b.out.shrink_to_fit();
}

} // namespace

std::vector<std::vector<std::uint8_t>> deflate_rows(const row_maker& m, int level, int threads)
{
    // Bands: a few per thread so that an uneven one does not keep the rest waiting.
    const std::size_t total = m.row_bytes * std::size_t(m.rows);
    const std::size_t most = threads > 1 ? std::size_t(threads) * 4 : 1;
    const int count = int(std::clamp<std::size_t>(total / MIN_BAND, 1, std::min<std::size_t>(most, std::size_t(m.rows))));
    std::vector<band> bands(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        bands[std::size_t(i)].first = int(std::int64_t(m.rows) * i / count);
        bands[std::size_t(i)].rows = int(std::int64_t(m.rows) * (i + 1) / count) - bands[std::size_t(i)].first;
    }

    std::atomic<int> next = 0;
    std::exception_ptr error;
    std::atomic_flag failed;
    const auto work = [&] {
        for (int i; (i = next++) < count;) {
            try {
                compress_band(m, level, bands[std::size_t(i)], i == count - 1);
            } catch (...) {
                if (!failed.test_and_set())
                    error = std::current_exception();
                next = count;
            }
        }
    };
    {
        std::vector<std::jthread> pool;
        for (int t = 1; t < std::min(threads, count); ++t)
            pool.emplace_back(work);
        work();
    }
    if (error)
        std::rethrow_exception(error);

    // zlib header: deflate with a 32 KiB window, the level class, check bits.
    const std::uint8_t cmf = 0x78;
    std::uint8_t flg = std::uint8_t((level < 2 ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3) << 6);
    flg = std::uint8_t(flg + 31 - (cmf * 256 + flg) % 31);
    std::vector<std::vector<std::uint8_t>> pieces;
    pieces.push_back({cmf, flg});
    uLong adler = 1;
    for (band& b : bands) {
        adler = adler32_combine(adler, b.adler, z_off_t(std::size_t(b.rows) * m.row_bytes));
        pieces.push_back(std::move(b.out));
    }
    pieces.push_back({std::uint8_t(adler >> 24), std::uint8_t(adler >> 16), std::uint8_t(adler >> 8), std::uint8_t(adler)});
    return pieces;
}

} // namespace tool
