// Internal: the LQ2x rule as a compile-time table. The top-left quarter's rule
// is transcribed as a grid of blend kinds; the other quarters are the same rule
// on a mirrored neighbourhood, and RULES holds all four for every diff_pattern.
#pragma once

#include <array>
#include <cstdint>

#include <lq2x/lq2x_corners.h>
#include <lq2x/pixel565.h>
#include <lq2x/pixel8888.h>

namespace lq2x::detail {

// Neighbourhood positions, row by row; the diff_pattern bit of a position is
// its index with C left out.
enum position : std::uint8_t { P_TL, P_T, P_TR, P_L, P_C, P_R, P_BL, P_B, P_BR };

constexpr unsigned pattern_bit(unsigned pos) { return pos < P_C ? pos : pos - 1; }

// Blend kinds, as weights of C and of the neighbour X. K_C is written as 2:0
// so that every kind is a plain blend565 and choosing one needs no branch.
enum kind : std::uint8_t { K_C, K_H, K_Q, K_W, K_E };
struct weights { std::uint8_t c, x; };
inline constexpr std::array<weights, 5> KIND_WEIGHTS{{{2, 0}, {1, 1}, {3, 1}, {1, 3}, {7, 1}}};

// What one quarter does for one diff_pattern: blend C with position x by
// `kind`, but only if the pixels at gate_a and gate_b are equal (otherwise C).
// A quarter that is always C has gate C = C and x = C.
struct quarter_rule {
    std::uint8_t kind = K_C, x = P_C, gate_a = P_C, gate_b = P_C;
};
struct pattern_rule {
    quarter_rule tl, tr, bl, br;
};

// The top-left quarter's rule, as a function of the diff_pattern alone.
constexpr quarter_rule out_tl_rule(unsigned pattern)
{
    const auto differs = [pattern](unsigned pos) { return (pattern >> pattern_bit(pos)) & 1u; };

    if (differs(P_T) && differs(P_L)) {
        // Rows: TL TR BL digits; columns: R B BR digits (1 = differs from C).
        constexpr char GRID[] = "HHHQHQQQ"
                                "WWCQQQQC"
                                "WWQQCQQC"
                                "QQCCCCCC"
                                "HHHHHHHH"
                                "WWHHHWHH"
                                "WWHWHHHH"
                                "EEEEEEEE";
        const unsigned row = differs(P_TL) << 2 | differs(P_TR) << 1 | differs(P_BL);
        const unsigned col = differs(P_R) << 2 | differs(P_B) << 1 | differs(P_BR);
        switch (GRID[row * 8 + col]) {
        case 'H': return {K_H, P_T, P_T, P_L};
        case 'Q': return {K_Q, P_T, P_T, P_L};
        case 'W': return {K_W, P_T, P_T, P_L};
        case 'E': return {K_E, P_T, P_T, P_L};
        default: return {};
        }
    }
    switch (pattern) {
    case 19: case 23: case 51: case 55: case 119:
        return {K_Q, P_T, P_T, P_R};
    case 73: case 77: case 105: case 109: case 125:
        return {K_Q, P_L, P_B, P_L};
    default:
        return {};
    }
}

// The other quarters run the top-left rule on a reflected neighbourhood.
// MIRRORS[q][name] is the actual position that the rule's `name` stands for.
inline constexpr std::uint8_t MIRRORS[4][9] = {
    {P_TL, P_T, P_TR, P_L, P_C, P_R, P_BL, P_B, P_BR}, // tl: as is
    {P_TR, P_T, P_TL, P_R, P_C, P_L, P_BR, P_B, P_BL}, // tr: left-right
    {P_BL, P_B, P_BR, P_L, P_C, P_R, P_TL, P_T, P_TR}, // bl: top-bottom
    {P_BR, P_B, P_BL, P_R, P_C, P_L, P_TR, P_T, P_TL}, // br: both
};

constexpr quarter_rule mirrored_rule(unsigned quarter, unsigned pattern)
{
    const auto& m = MIRRORS[quarter];
    unsigned seen = 0;
    for (unsigned name = 0; name < 9; ++name)
        if (name != P_C)
            seen |= ((pattern >> pattern_bit(m[name])) & 1u) << pattern_bit(name);
    const quarter_rule r = out_tl_rule(seen);
    return {r.kind, m[r.x], m[r.gate_a], m[r.gate_b]};
}

constexpr std::array<pattern_rule, 256> make_rules()
{
    std::array<pattern_rule, 256> rules{};
    for (unsigned p = 0; p < 256; ++p)
        rules[p] = {mirrored_rule(0, p), mirrored_rule(1, p), mirrored_rule(2, p), mirrored_rule(3, p)};
    return rules;
}

// The 256-way dispatch: one entry per diff_pattern, covering all four quarters.
inline constexpr std::array<pattern_rule, 256> RULES = make_rules();

template <typename P>
using neighbourhood = std::array<P, 9>;

template <typename P>
constexpr unsigned diff_pattern(const neighbourhood<P>& n)
{
    const P c = n[P_C];
    return unsigned(n[P_TL] != c) | unsigned(n[P_T] != c) << 1 | unsigned(n[P_TR] != c) << 2 |
           unsigned(n[P_L] != c) << 3 | unsigned(n[P_R] != c) << 4 | unsigned(n[P_BL] != c) << 5 |
           unsigned(n[P_B] != c) << 6 | unsigned(n[P_BR] != c) << 7;
}

constexpr pixel565 blend(pixel565 a, pixel565 b, unsigned wa, unsigned wb) { return blend565(a, b, wa, wb); }
constexpr pixel8888 blend(pixel8888 a, pixel8888 b, unsigned wa, unsigned wb) { return blend8888(a, b, wa, wb); }

// One pair test, one blend; a failed test turns the blend into a copy of C.
template <typename P>
constexpr P apply(const quarter_rule& r, const neighbourhood<P>& n)
{
    const bool on = n[r.gate_a] == n[r.gate_b];
    const weights w = KIND_WEIGHTS[on ? r.kind : std::uint8_t{K_C}];
    return blend(n[P_C], n[r.x], w.c, w.x);
}

template <typename P>
constexpr quarters<P> corners(const neighbourhood<P>& n)
{
    const pattern_rule& rule = RULES[diff_pattern(n)];
    return {apply(rule.tl, n), apply(rule.tr, n), apply(rule.bl, n), apply(rule.br, n)};
}

} // namespace lq2x::detail
