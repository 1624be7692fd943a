// Internal: what the picture layer (picture.cpp) and the settings take from
// the frame layer (frame.cpp): the checks every entry point shares, and a
// checked frame's rows scaled on threads by the kernel's walk.
#pragma once

#include <cstdint>
#include <string>

#include <lq2x/lq2x.hpp>

namespace lq2x::detail {

// The option values on their own: orientation, edge modes, kernel, the
// grid's numbers. Neither the scale nor the picture's size. With `why`, a
// refusal is said there, its settings written {field} (settings.h).
error check_options(const options& opt, std::string* why = nullptr);

// The one rule for a grid against the picture it lies on: some pixel must
// fall in a cell, so a margin as large as the width or the height is
// error::no_cell. No grid, or an empty picture, always fits.
error check_grid_fits(const grid& g, std::int64_t width, std::int64_t height, std::string* why = nullptr);

// picture_size, with a refusal said in `why` as check_options says it.
error picture_size(std::int32_t width, std::int32_t height, const options& opt, size& out, std::string* why);

// Scales source rows [y0, y1) of a checked frame, on opt.threads threads,
// with the kernel opt.use names (checked by check_options). With
// alpha_hides (32-bit pixels), a source pixel whose alpha byte is 0 is read
// as the all-zero pixel, where it lies.
template <typename P>
void scale_checked(image_view<const P> src, image_view<P> dst, std::int32_t y0, std::int32_t y1,
                   const options& opt, bool alpha_hides = false);

// Whether some pixel of a 32-bit frame has colour under alpha 0, which the
// kernel's walk must then hide; looked for with the kernel opt.use names.
bool hides_colour(image_view<const pixel8888> src, const options& opt);

} // namespace lq2x::detail
