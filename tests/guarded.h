// Pixels flush against an inaccessible page, for tests that a walk reads
// nothing outside its frame.
#pragma once

#include <cstddef>
#include <stdexcept>

#include <sys/mman.h>
#include <unistd.h>

// `count` pixels flush against an inaccessible page: ending right before one
// (a read past the end faults) or starting right after one (a read before
// the start faults).
template <typename P>
struct guarded_pixels {
    std::size_t page = std::size_t(sysconf(_SC_PAGESIZE)), bytes, map_bytes;
    std::byte* map;
    P* pixels;

    guarded_pixels(std::size_t count, bool at_end)
        : bytes(count * sizeof(P)), map_bytes(((bytes + page - 1) / page + 2) * page),
          map(static_cast<std::byte*>(mmap(nullptr, map_bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)))
    {
        if (map == MAP_FAILED || mprotect(map + page, map_bytes - 2 * page, PROT_READ | PROT_WRITE) != 0)
            throw std::runtime_error("cannot map guarded pages");
        pixels = reinterpret_cast<P*>(at_end ? map + map_bytes - page - bytes : map + page);
    }
    ~guarded_pixels() { munmap(map, map_bytes); }
    guarded_pixels(const guarded_pixels&) = delete;
    guarded_pixels& operator=(const guarded_pixels&) = delete;
};
