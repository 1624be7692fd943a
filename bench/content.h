// Benchmark frames: generated pixel art, four-colour noise and a flat colour.
#pragma once

#include <cstdint>
#include <vector>

#include <lq2x/pixel565.h>

enum class content { pixel_art, noise, flat };

// width x height pixels, packed rows.
std::vector<pixel565> make_frame(content kind, int width, int height);
