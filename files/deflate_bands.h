// One zlib stream from rows made on demand, bands of rows compressed on
// separate threads with libdeflate and joined as parallel gzip tools join
// theirs: each band but the last has its final-block bit cleared and ends
// with an empty stored block, which brings it to a byte boundary, and the
// bands' checksums are combined.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace lq2x::files {

struct row_maker {
    std::size_t row_bytes = 0;
    int rows = 0;
    // Writes rows [first, first + count) one after another into out.
    std::function<void(int first, int count, std::span<std::uint8_t> out)> make;
};

// Compresses all the rows into one zlib stream at a deflate level of 0 to
// 12, handing it to `emit` in pieces, in order, on the calling thread, each
// as soon as it and those before it are done. Bands are about a MiB of
// rows, so memory holds what `emit` keeps and a band or two per thread.
// Throws tool::failure (or std::bad_alloc, or what `emit` throws).
void deflate_rows(const row_maker& rows, int level, int threads,
                  const std::function<void(std::span<const std::uint8_t>)>& emit);

// Makes a complete raw deflate stream joinable: clears the final-block bit
// of its last block and appends an empty stored block. Throws tool::failure
// if the data is not one whole deflate stream.
void make_joinable(std::vector<std::uint8_t>& stream);

} // namespace lq2x::files
