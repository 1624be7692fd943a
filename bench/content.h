// Benchmark frames: generated pixel art, four-colour noise, a flat colour,
// and real pixel art from Debian's crawl-tiles-data where it is installed.
#pragma once

#include <cstdint>
#include <vector>

#include <lq2x/pixel565.h>

using lq2x::pixel565; // the benchmarks name it as the plain functions do

enum class content { pixel_art, noise, flat, real_art };

// Whether frames of this kind can be made here (real art needs the tiles,
// and libpng to read them, found when the benchmark was configured).
bool available(content kind);

// width x height pixels, packed rows.
std::vector<pixel565> make_frame(content kind, int width, int height);
