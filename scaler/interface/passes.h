// The passes a host of lq2x.frag runs for a frame, and every uniform of each,
// from the library's own pass plan (lq2x_pass_options). The GPU host sets
// them through GL, the page's module hands them to the page as they are, so
// that neither plans anything of its own.
#ifndef LQ2X_SHADER_PASSES_H
#define LQ2X_SHADER_PASSES_H

#include <cstdint>

#include <lq2x/lq2x.h>
#include <lq2x/lq2x.hpp>

namespace lq2x::shader {

// One uniform: its name in lq2x.frag and its 1 to 4 integers.
struct uniform {
    const char* name;
    int count;
    std::int32_t value[4];
};

// A pass: the size it renders (its viewport and target) and its uniforms.
// The pass reads the texture of the one before it (pass 0: the frame).
struct pass {
    std::int32_t width, height;
    static constexpr int UNIFORMS = 7;
    uniform uniforms[UNIFORMS];
};

struct plan {
    int count = 0;
    pass passes[3];
};

// What a frame's pixels are read as: as the frame functions read them, every
// bit counting unless the options' alpha_hides says otherwise, or as
// lq2x_scale_picture reads an RGBA picture. Which passes see colour under
// alpha 0 as zero is the library's pass plan (lq2x_pass_options sets
// alpha_hides on them); frames see it so only where the caller asks too.
enum class reading { every_bit, picture };

// The plan for a width x height frame of RGB565 words (rgb565) or 32-bit
// pixels under `options` (NULL: the defaults), after the library's own checks
// of the options against the size (lq2x_picture_size). The frame's texture
// is bound to unit 0.
inline lq2x_status plan_of(const lq2x_options* options, std::int32_t width, std::int32_t height, bool rgb565,
                           reading how, plan& out)
{
    out = plan{};
    std::int32_t w = 0, h = 0;
    if (const lq2x_status s = lq2x_picture_size(width, height, options, &w, &h); s != LQ2X_OK)
        return s;
    lq2x::options given;
    lq2x::read_options(options, given);
    std::int32_t in_w = width, in_h = height;
    for (int i = 0; i < 3; ++i) {
        lq2x_options o = lq2x_default_options();
        if (lq2x_pass_options(options, i, &o) != LQ2X_OK)
            break;
        const bool turned = o.orientation != LQ2X_UPRIGHT;
        const std::int32_t out_w = 2 * (turned ? in_h : in_w), out_h = 2 * (turned ? in_w : in_h);
        const bool hides = !rgb565 && o.alpha_hides != 0 && (how == reading::picture || given.alpha_hides);
        out.passes[i] = {out_w,
                         out_h,
                         {{"u_source", 1, {0}},
                          {"u_size", 2, {in_w, in_h}},
                          {"u_rgb565", 1, {rgb565 ? 1 : 0}},
                          {"u_hidden", 1, {hides ? 1 : 0}},
                          {"u_turn", 1, {o.orientation}},
                          {"u_edge", 2, {o.edge_x, o.edge_y}},
                          {"u_grid", 4, {o.tile_width, o.tile_height, o.tile_margin, o.tile_spacing}}}};
        out.count = i + 1;
        in_w = out_w, in_h = out_h;
    }
    return LQ2X_OK;
}

} // namespace lq2x::shader

#endif
