// Room for a large buffer, with the kernel asked for huge pages before the
// first touch: a picture of many MiB otherwise costs a page fault every
// 4 KiB (docs/performance.md has what huge pages save).
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lq2x::files {

// Whether all of the room is about to be written (a picture), or only some
// of it, as far as it turns out to be needed (a file's worst case).
enum class filling { whole, partly };

// Asks for huge pages over every page of [data, data + bytes) (those of its
// huge pages that lie wholly inside the mapping can be huge), and with
// filling::whole has all its pages made present at once. A buffer of a few
// pages is left alone: the calls would cost more than its faults.
// (`fill` goes unused where the system has no MADV_POPULATE_WRITE, as in WebAssembly.)
inline void advise_large(const void* data, std::size_t bytes, [[maybe_unused]] filling fill)
{
    constexpr std::size_t SMALL = std::size_t{256} << 10;
    if (bytes < SMALL)
        return;
    constexpr std::uintptr_t PAGE = 4096;
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = begin & ~(PAGE - 1);
    const std::uintptr_t last = (begin + bytes + PAGE - 1) & ~(PAGE - 1);
    void* const at = reinterpret_cast<void*>(first);
    ::madvise(at, last - first, MADV_HUGEPAGE); // advice: failure changes nothing
#ifdef MADV_POPULATE_WRITE
    // Pages about to be written anyway are made present in one call rather
    // than a fault each (a fault costs about 10 us here, in a virtual machine).
    if (fill == filling::whole)
        ::madvise(at, last - first, MADV_POPULATE_WRITE); // likewise: the pages fault in if this fails
#endif
}

template <typename T>
void reserve_large(std::vector<T>& v, std::size_t count, filling fill = filling::partly)
{
    if (count <= v.capacity())
        return;
    v.reserve(count);
    advise_large(v.data(), count * sizeof(T), fill);
}

} // namespace lq2x::files
