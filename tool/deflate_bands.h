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

namespace tool {

struct row_maker {
    std::size_t row_bytes = 0;
    int rows = 0;
    // Writes rows [first, first + count) one after another into out.
    std::function<void(int first, int count, std::span<std::uint8_t> out)> make;
};

// The zlib stream of all the rows at a deflate level of 0 to 12, in pieces
// to be joined in order. Bands are about a MiB of rows, so memory holds the
// compressed result and a band or two per thread. Throws tool::failure (or
// std::bad_alloc).
std::vector<std::vector<std::uint8_t>> deflate_rows(const row_maker& rows, int level, int threads);

// Makes a complete raw deflate stream joinable: clears the final-block bit
// of its last block and appends an empty stored block. Throws tool::failure
// if the data is not one whole deflate stream.
void make_joinable(std::vector<std::uint8_t>& stream);

} // namespace tool
