// The table of targets and the choice among them. The environment is read
// once, at the first choice: it is a test hook for whole processes (every
// kernel run through the same suite, or one hidden as on a processor without
// it), and nothing a caller's options can reach.
#include <cstdlib>
#include <iterator>
#include <string_view>

#include "targets.h"

namespace lq2x::detail {
namespace {

// Fastest first; the portable walk, which runs everywhere, last.
constexpr const target* TABLE[] = {
#if defined(__x86_64__)
    &AVX512_TARGET, &AVX2_TARGET, &SSE41_TARGET,
#elif defined(__aarch64__)
    &NEON_TARGET,
#elif defined(__wasm__)
    &SIMD128_TARGET,
#endif
    &PORTABLE_TARGET,
};

// Whether a comma-separated list names `name`.
bool names(std::string_view list, std::string_view name)
{
    while (!list.empty()) {
        const std::size_t comma = list.find(',');
        if (list.substr(0, comma) == name)
            return true;
        list = comma == list.npos ? std::string_view{} : list.substr(comma + 1);
    }
    return false;
}

std::string_view environment(const char* variable)
{
    const char* value = std::getenv(variable);
    return value != nullptr ? value : "";
}

struct choice {
    bool usable[std::size(TABLE)];
    const target* automatic;
};

choice make_choice()
{
    const std::string_view hidden = environment("LQ2X_HIDE_KERNELS"), wanted = environment("LQ2X_KERNEL");
    choice c{{}, nullptr};
    for (std::size_t i = 0; i < std::size(TABLE); ++i) {
        const target& t = *TABLE[i];
        c.usable[i] = !names(hidden, kernel_name(t.id)) && t.available();
        if (c.usable[i] && c.automatic == nullptr && (wanted.empty() || wanted == kernel_name(t.id)))
            c.automatic = &t;
    }
    return c;
}

} // namespace

const target* target_for(kernel k)
{
    static const choice c = make_choice();
    if (k == kernel::automatic)
        return c.automatic;
    for (std::size_t i = 0; i < std::size(TABLE); ++i)
        if (TABLE[i]->id == k)
            return c.usable[i] ? TABLE[i] : nullptr;
    return nullptr;
}

} // namespace lq2x::detail
