// Fewer colours for GIF frames that have more than asked (gif_colours):
// Leptonica's median cut chooses the palette, for one frame or for several
// frames together (one palette shared by them).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "image.h"

namespace lq2x::files::gif {

class reduction {
public:
    // The opaque pixels (alpha at least `threshold`, taken as opaque) of
    // `frames` together, to at most `most` colours (1 to 256). Throws
    // std::bad_alloc when Leptonica cannot have its memory.
    reduction(std::span<const image* const> frames, std::uint8_t threshold, int most);

    // The palette colour, opaque, that stands for an opaque pixel of those frames.
    pixel8888 operator()(pixel8888 p) const;
    // How many opaque colours those frames had.
    std::size_t colours_before() const { return from_.size(); }

private:
    std::vector<pixel8888> from_, to_; // every opaque colour, sorted, and its palette colour
};

} // namespace lq2x::files::gif
