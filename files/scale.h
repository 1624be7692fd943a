// A file's picture through the library's picture entry.
#pragma once

#include <lq2x/lq2x.hpp>

#include "image.h"

namespace lq2x::files {

// The picture scaled (and turned) as lq2x::scale_picture scales it, in the
// layout lq2x::picture_layout gives (alpha gained under a transparent edge,
// RGB out of the 16-bit rule). Throws failure with the library's status and
// words in the door's (error::no_cell for a grid that leaves no cell).
image scale(const image& img, const options& opt, door d);

} // namespace lq2x::files
