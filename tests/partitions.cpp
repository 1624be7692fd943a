#include "partitions.h"

#include <random>
#include <set>

#include "reference.h"

namespace ref {

// Restricted growth strings: position i joins one of the groups so far or opens the next.
static std::vector<std::array<int, 9>> all_partitions()
{
    std::vector<std::array<int, 9>> out;
    std::array<int, 9> a{};
    auto grow = [&](auto&& self, int i, int groups) -> void {
        if (i == 9) {
            out.push_back(a);
            return;
        }
        for (int g = 0; g <= groups; ++g) {
            a[i] = g;
            self(self, i + 1, g == groups ? groups + 1 : groups);
        }
    };
    grow(grow, 0, 0);
    return out;
}

const std::vector<std::array<int, 9>>& partitions()
{
    static const auto all = all_partitions();
    return all;
}

template <typename P>
std::array<P, 9> distinguishable_palette(std::uint32_t seed)
{
    std::mt19937 rng(seed);
    for (;;) {
        std::array<P, 9> p;
        for (auto& c : p)
            c = P(rng()); // 32-bit pixels get random alpha too
        bool ok = true;
        for (const P c : p) {
            std::set<P> seen{c};
            std::size_t results = 1;
            for (const P x : p) {
                if (x == c)
                    continue;
                for (const P v : {ref::blend(c, x, 1, 1), ref::blend(c, x, 3, 1), ref::blend(x, c, 3, 1),
                                  ref::blend(c, x, 7, 1)}) {
                    seen.insert(v);
                    ++results;
                }
            }
            ok = ok && seen.size() == results && results == 1 + 8 * 4;
        }
        if (ok)
            return p;
    }
}

template std::array<pixel565, 9> distinguishable_palette(std::uint32_t);
template std::array<pixel8888, 9> distinguishable_palette(std::uint32_t);

} // namespace ref
