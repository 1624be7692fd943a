// Internal: the rule's table (rules.h) as the vector targets read it, one
// byte of code per quarter and pattern.
#pragma once

#include <array>
#include <cstdint>

#include "scaler/rule/rules.h"

namespace lq2x::detail {

// Vector kernels decide each quarter by a one-byte code per diff_pattern:
//   bits 0-3  the pair that gates the blend, one bit each: T=L, T=R, B=L, B=R
//             (none set: the quarter stays C), so that a lane's bits of
//             which pairs hold, tested against the code, say whether it blends
//   bit 4     the neighbour blended with C is L or R (else T or B)
//   bit 5     kind H, bit 6 kind W, bit 7 kind E (none of them: kind Q)
// The quarter's vertical neighbour is T for tl and tr, B for bl and br; its
// horizontal one is L for tl and bl, R for tr and br.
inline constexpr std::uint8_t CODE_HORIZONTAL = 16, CODE_H = 32, CODE_W = 64, CODE_E = 128;

constexpr std::uint8_t vector_code(const quarter_rule& r)
{
    if (r.kind == K_C)
        return 0;
    const unsigned pair = (r.gate_a == P_B ? 2u : 0u) + (r.gate_b == P_R ? 1u : 0u);
    const unsigned horizontal = r.x == P_L || r.x == P_R ? CODE_HORIZONTAL : 0;
    const unsigned kind = r.kind == K_H ? CODE_H : r.kind == K_W ? CODE_W : r.kind == K_E ? CODE_E : 0;
    return std::uint8_t(1u << pair | horizontal | kind);
}

constexpr std::array<std::array<std::uint8_t, 256>, 4> make_vector_codes()
{
    std::array<std::array<std::uint8_t, 256>, 4> codes{};
    for (unsigned p = 0; p < 256; ++p) {
        codes[0][p] = vector_code(RULES[p].tl);
        codes[1][p] = vector_code(RULES[p].tr);
        codes[2][p] = vector_code(RULES[p].bl);
        codes[3][p] = vector_code(RULES[p].br);
    }
    return codes;
}

// Codes for the tl, tr, bl and br quarters; on a cache line's start, since
// the AVX-512 kernel reads them 64 bytes at a time.
alignas(64) inline constexpr std::array<std::array<std::uint8_t, 256>, 4> VECTOR_CODES = make_vector_codes();

// The four codes of each pattern in one 32-bit entry, tl in the lowest byte,
// for kernels that fetch a lane's codes at once.
struct packed_codes {
    alignas(32) std::uint32_t entry[256];
};
constexpr packed_codes make_packed_codes()
{
    packed_codes c{};
    for (std::size_t p = 0; p < 256; ++p)
        for (std::size_t q = 0; q < 4; ++q)
            c.entry[p] |= std::uint32_t(VECTOR_CODES[q][p]) << 8 * q;
    return c;
}
inline constexpr packed_codes PACKED_CODES = make_packed_codes();

// What the codes assume of the rule: every gate pairs a vertical neighbour
// with a horizontal one, and the blended neighbour is the quarter's own.
constexpr bool codes_fit_rules()
{
    for (const pattern_rule& p : RULES) {
        const quarter_rule q[4] = {p.tl, p.tr, p.bl, p.br};
        for (int i = 0; i < 4; ++i) {
            if (q[i].kind == K_C)
                continue;
            const unsigned vertical = i < 2 ? P_T : P_B, horizontal = i % 2 == 0 ? P_L : P_R;
            if ((q[i].gate_a != P_T && q[i].gate_a != P_B) || (q[i].gate_b != P_L && q[i].gate_b != P_R) ||
                (q[i].x != vertical && q[i].x != horizontal))
                return false;
        }
    }
    return true;
}
static_assert(codes_fit_rules());

} // namespace lq2x::detail
