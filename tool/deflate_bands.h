// One zlib stream from rows made on demand, its bands of rows compressed on
// separate threads, as parallel gzip tools do: each band but the last ends
// on a byte boundary (a sync flush), each starts with the 32 KiB before it
// as its dictionary, and the checksums are combined.
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

// The zlib stream of all the rows, in pieces to be joined in order. Rows
// are made a few at a time, so memory holds only the compressed result and
// a small buffer per thread. Throws tool::failure (or std::bad_alloc).
std::vector<std::vector<std::uint8_t>> deflate_rows(const row_maker& rows, int level, int threads);

} // namespace tool
