#include "lq2x_frame.h"

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "kernels.h"
#include "lq2x_corners.h"
#include "lq2x_isa.h"

namespace {

template <typename P>
P* offset_bytes(P* p, std::ptrdiff_t bytes)
{
    using byte_type = std::conditional_t<std::is_const_v<P>, const std::byte, std::byte>;
    return reinterpret_cast<P*>(reinterpret_cast<byte_type*>(p) + bytes);
}

[[maybe_unused]] bool disjoint(const void* a, std::ptrdiff_t a_size, const void* b, std::ptrdiff_t b_size)
{
    const auto a0 = reinterpret_cast<std::uintptr_t>(a);
    const auto b0 = reinterpret_cast<std::uintptr_t>(b);
    return a0 + std::uintptr_t(a_size) <= b0 || b0 + std::uintptr_t(b_size) <= a0;
}

} // namespace

void lq2x_row(pixel565* dst0, pixel565* dst1,
              const pixel565* above, const pixel565* row, const pixel565* below,
              std::int32_t count, std::int32_t dst_pitch)
{
    assert(count >= 0);
    assert(dst_pitch > 0 && dst_pitch % 2 == 0);

    const std::ptrdiff_t up = -2 * std::ptrdiff_t{dst_pitch};
    for (std::int32_t i = 0; i < count; ++i) {
        // The row's ends are their own outer neighbours.
        const std::int32_t l = i > 0 ? i - 1 : i;
        const std::int32_t r = i + 1 < count ? i + 1 : i;
        const lq2x_block q = lq2x_corners(above[l], above[i], above[r],
                                          row[l], row[i], row[r],
                                          below[l], below[i], below[r]);
        // Offsets are taken from the row's first block each time, so no
        // pointer is ever formed above the output frame.
        pixel565* d0 = offset_bytes(dst0, up * i);
        pixel565* d1 = offset_bytes(dst1, up * i);
        d0[0] = q.tr;
        d0[1] = q.br;
        d1[0] = q.tl;
        d1[1] = q.bl;
    }
}

namespace lq2x_detail {

// The portable walk, one source row at a time: the reference for the others.
void frame_scalar(const frame_args& f)
{
    // The source's first column becomes the output's bottom two rows.
    pixel565* const base0 = offset_bytes(f.dst, 2 * std::ptrdiff_t{f.width - 1} * f.dst_pitch);
    pixel565* const base1 = offset_bytes(base0, f.dst_pitch);
    const auto source_row = [&](int y) { return offset_bytes(f.src, y * f.src_pitch); };
    for (int k = 0; k < f.height; ++k) {
        const pixel565* above = source_row(k > 0 ? k - 1 : k);
        const pixel565* row = source_row(k);
        const pixel565* below = source_row(k + 1 < f.height ? k + 1 : k);
        lq2x_row(base0 + 2 * std::ptrdiff_t{k}, base1 + 2 * std::ptrdiff_t{k}, above, row, below, f.width,
                 std::int32_t(f.dst_pitch));
    }
}

} // namespace lq2x_detail

bool lq2x_isa_available(lq2x_isa isa)
{
    switch (isa) {
    case lq2x_isa::scalar: return true;
    case lq2x_isa::avx512: return lq2x_detail::avx512_available();
    }
    return false;
}

lq2x_isa lq2x_best_isa()
{
    static const lq2x_isa best = lq2x_isa_available(lq2x_isa::avx512) ? lq2x_isa::avx512 : lq2x_isa::scalar;
    return best;
}

void lq2x_frame_using(lq2x_isa isa, const pixel565* src, std::int32_t src_pitch,
                      pixel565* dst, std::int32_t dst_pitch, std::int32_t width, std::int32_t height)
{
    assert(width >= 0 && height >= 0);
    assert(src_pitch > 0 && src_pitch % 2 == 0 && std::int64_t{src_pitch} >= 2 * std::int64_t{width});
    assert(dst_pitch > 0 && dst_pitch % 2 == 0 && std::int64_t{dst_pitch} >= 4 * std::int64_t{height});
    assert(lq2x_isa_available(isa));
    if (width == 0 || height == 0)
        return;
    assert(disjoint(src, std::ptrdiff_t{height - 1} * src_pitch + 2 * std::ptrdiff_t{width},
                    dst, std::ptrdiff_t{2 * std::ptrdiff_t{width} - 1} * dst_pitch + 4 * std::ptrdiff_t{height}));

    const lq2x_detail::frame_args f{src, src_pitch, dst, dst_pitch, width, height};
    switch (isa) {
    case lq2x_isa::scalar: return lq2x_detail::frame_scalar(f);
    case lq2x_isa::avx512: return lq2x_detail::frame_avx512(f);
    }
}

void lq2x_frame(const pixel565* src, std::int32_t src_pitch,
                pixel565* dst, std::int32_t dst_pitch,
                std::int32_t width, std::int32_t height)
{
    lq2x_frame_using(lq2x_best_isa(), src, src_pitch, dst, dst_pitch, width, height);
}
