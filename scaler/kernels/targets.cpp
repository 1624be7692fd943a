// The table of targets and the choice among them, and the family table. The
// environment is read once, at the first choice: it is a test hook for whole
// processes (every kernel run through the same suite, or one hidden as on a
// processor without it, or blended blocks streamed or not whatever the
// family), and nothing a caller's options can reach.
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string_view>

#if defined(__x86_64__)
#include <cpuid.h>
#endif

#include "scaler/kernels/targets.h"

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

// A processor family: the vendor's name as the processor gives it and the
// family number (x86's base family plus its extended family), or none.
struct family {
    char vendor[13];
    unsigned number;
};

family this_family()
{
    family f{{}, 0};
#if defined(__x86_64__)
    unsigned top = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(0, &top, &b, &c, &d) == 0 || top < 1)
        return f;
    std::memcpy(f.vendor, &b, 4);
    std::memcpy(f.vendor + 4, &d, 4);
    std::memcpy(f.vendor + 8, &c, 4);
    unsigned a = 0;
    __get_cpuid(1, &a, &b, &c, &d);
    const unsigned base = (a >> 8) & 0xF;
    f.number = base + (base == 0xF ? (a >> 20) & 0xFF : 0);
#endif
    return f;
}

// What differs by processor family, not by instruction set: one entry for
// each family measured on, with the kernel it is for. docs/performance.md
// has the run that decided each.
struct family_tuning {
    kernel id;
    std::string_view vendor;
    unsigned family;
    bool stream_blended;
};

constexpr family_tuning FAMILY_TABLE[] = {
    {kernel::avx512, "AuthenticAMD", 0x19, true}, // Zen 4: ordinary stores' reads of each line cost time
    {kernel::avx512, "AuthenticAMD", 0x1A, false}, // Zen 5: streaming blended blocks is the slower
};

} // namespace

bool streams_blended(const target& t)
{
    // LQ2X_STREAM_BLENDED=0 or 1 decides it for the whole process, so the
    // tests run both ways on any processor.
    static const std::string_view forced = environment("LQ2X_STREAM_BLENDED");
    if (forced == "0" || forced == "1")
        return forced == "1";
    static const family f = this_family();
    for (const family_tuning& e : FAMILY_TABLE)
        if (e.id == t.id && e.family == f.number && e.vendor == std::string_view(f.vendor))
            return e.stream_blended;
    return t.stream_blended;
}

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
