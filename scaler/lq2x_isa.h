// The frame walk has one implementation per instruction set; lq2x_frame picks
// the best one the processor has. These entry points name one explicitly, so
// that tests can hold each against the portable one and benchmarks can
// compare them. Every implementation writes exactly the same output.
#pragma once

#include <cstdint>

#include "lq2x_frame.h"

// scalar: the portable walk; sse41, avx2, avx512 (F, BW, VL, VBMI): x86-64
// processors, chosen at run time; neon: AArch64, where it is always there.
enum class lq2x_isa { scalar, avx2, avx512, sse41, neon };

// Whether this build and this processor can run `isa`.
bool lq2x_isa_available(lq2x_isa isa);

// The implementation lq2x_frame uses.
lq2x_isa lq2x_best_isa();

// lq2x_scale565 and lq2x_scale8888 with a chosen implementation, which must
// be available.
void lq2x_scale565_using(lq2x_isa isa, const pixel565* src, std::int32_t src_pitch,
                         pixel565* dst, std::int32_t dst_pitch, std::int32_t width, std::int32_t height,
                         lq2x_orientation turn, int threads = 1);
void lq2x_scale8888_using(lq2x_isa isa, const pixel8888* src, std::int32_t src_pitch,
                          pixel8888* dst, std::int32_t dst_pitch, std::int32_t width, std::int32_t height,
                          lq2x_orientation turn, int threads = 1);
