// Internal: the frame walk has one implementation per instruction set, and
// the library picks the best one the processor has. These entry points name
// one explicitly, so that tests can hold each against the portable one and
// benchmarks can compare them. Every implementation writes exactly the same
// output.
#pragma once

#include <cstdint>

#include <lq2x/lq2x.hpp>

// scalar: the portable walk; sse41, avx2, avx512 (F, BW, VL, VBMI): x86-64
// processors, chosen at run time; neon: AArch64, where it is always there.
enum class lq2x_isa { scalar, avx2, avx512, sse41, neon };
inline constexpr lq2x_isa ALL_ISAS[] = {lq2x_isa::scalar, lq2x_isa::sse41, lq2x_isa::avx2, lq2x_isa::avx512,
                                        lq2x_isa::neon};

// Its name, for tests and measurements: "scalar", "sse41", "avx2"...
constexpr const char* lq2x_isa_name(lq2x_isa isa)
{
    switch (isa) {
    case lq2x_isa::scalar: return "scalar";
    case lq2x_isa::sse41: return "sse41";
    case lq2x_isa::avx2: return "avx2";
    case lq2x_isa::avx512: return "avx512";
    case lq2x_isa::neon: return "neon";
    }
    return "?";
}

// Whether this build and this processor can run `isa`.
bool lq2x_isa_available(lq2x_isa isa);

// The implementation the library uses.
lq2x_isa lq2x_best_isa();

// lq2x::scale_rows with a chosen implementation, which must be available.
lq2x::error lq2x_scale_using(lq2x_isa isa, lq2x::image_view<const pixel565> src, lq2x::image_view<pixel565> dst,
                             std::int32_t y0, std::int32_t y1, lq2x::options opt);
lq2x::error lq2x_scale_using(lq2x_isa isa, lq2x::image_view<const lq2x::pixel8888> src,
                             lq2x::image_view<lq2x::pixel8888> dst, std::int32_t y0, std::int32_t y1,
                             lq2x::options opt);

// A whole frame over raw buffers with a chosen implementation; the frame
// must be valid (asserted in debug builds).
void lq2x_scale565_using(lq2x_isa isa, const pixel565* src, std::int32_t src_pitch,
                         pixel565* dst, std::int32_t dst_pitch, std::int32_t width, std::int32_t height,
                         lq2x::orientation turn, int threads = 1);
void lq2x_scale8888_using(lq2x_isa isa, const lq2x::pixel8888* src, std::int32_t src_pitch,
                          lq2x::pixel8888* dst, std::int32_t dst_pitch, std::int32_t width, std::int32_t height,
                          lq2x::orientation turn, int threads = 1);
