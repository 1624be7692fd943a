// Every equality structure of a 3x3 neighbourhood, and colours that tell the
// blend kinds apart: the inputs of the exhaustive tests.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include <lq2x/pixel565.h>
#include <lq2x/pixel8888.h>

using lq2x::pixel565;
using lq2x::pixel8888;

namespace ref {

// All 21,147 set partitions of the nine positions TL T TR L C R BL B BR, each
// as the group number of every position (groups numbered by first appearance).
const std::vector<std::array<int, 9>>& partitions();

// Nine colours such that, for any centre, every blend kind with every other
// colour gives a different pixel, so a wrong kind or a wrong neighbour shows.
template <typename P = pixel565>
std::array<P, 9> distinguishable_palette(std::uint32_t seed);

} // namespace ref
