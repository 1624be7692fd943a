// A file's picture through the library's picture entry.
#pragma once

#include <lq2x/lq2x.hpp>

#include "image.h"

namespace lq2x::files {

// The picture scaled (and turned) as lq2x::scale_picture scales it. A
// picture without alpha that gains some (transparent edges blend its border
// with the all-zero pixel) is given an alpha channel; one scaled with the
// 16-bit rule comes out as RGB, as that rule drops alpha. Throws failure
// with the library's status and words (error::no_cell for a grid that
// leaves no cell in the picture).
image scale(const image& img, const options& opt);

} // namespace lq2x::files
