// The colours of a picture and the index each has in a palette: a small
// open-addressed hash table, for the PNG writer's choice of a palette and
// the GIF writer's palettes.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "image.h"

namespace lq2x::files {

class colour_table {
public:
    // The most colours a table holds: twice a palette's, so that a writer
    // can tell a 257th colour from the 256 a palette takes.
    static constexpr std::size_t MOST = 512;

    colour_table() { at_.fill(-1); }
    explicit colour_table(std::span<const pixel8888> palette) : colour_table()
    {
        for (const pixel8888 p : palette)
            add(p);
    }

    // Gives a colour not yet there the next index; false if it was there
    // (or the table is full).
    bool add(pixel8888 p)
    {
        const std::size_t i = slot(p);
        if (at_[i] >= 0 || colours_.size() == MOST)
            return false;
        keys_[i] = p;
        at_[i] = std::int16_t(colours_.size());
        colours_.push_back(p);
        return true;
    }

    // The index of a colour that is there.
    std::uint8_t index(pixel8888 p) const { return std::uint8_t(std::max<std::int16_t>(at_[slot(p)], 0)); }

    // Gives each colour of `palette` (all there) its place in it as its index.
    void renumber(std::span<const pixel8888> palette)
    {
        for (std::size_t n = 0; n < palette.size(); ++n)
            at_[slot(palette[n])] = std::int16_t(n);
    }

    std::size_t size() const { return colours_.size(); }
    // In the order they were added.
    const std::vector<pixel8888>& colours() const { return colours_; }

private:
    static constexpr std::size_t SLOTS = 2 * MOST; // a power of two, at most half full

    // Where p is, or the empty slot it would take.
    std::size_t slot(pixel8888 p) const
    {
        std::size_t i = (p * 0x9E3779B1u) >> 22 & (SLOTS - 1);
        while (at_[i] >= 0 && keys_[i] != p)
            i = (i + 1) & (SLOTS - 1);
        return i;
    }

    std::array<pixel8888, SLOTS> keys_{};
    std::array<std::int16_t, SLOTS> at_; // -1: empty
    std::vector<pixel8888> colours_;
};

} // namespace lq2x::files
