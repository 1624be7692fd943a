// Measures PNG input and output on real files, outside the tool:
//   reading: libpng (the tool's reader) against libspng, to 8-bit RGBA;
//   writing: the tool's writer (libdeflate in bands) at each level and
//   thread count, and, on the same packed rows compressed whole on one
//   thread, libdeflate, and zlib with each row filter (zlib, no filter, was
//   the writer before).
//
//     lq2x_png_bench [--scale N] [--read-only] FILE.png...
//
// With PNG_BENCH_FILTERS set, zlib is tried with every row filter too.
// Times are the best of several runs, in milliseconds.
#include <libdeflate.h>
#include <spng.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "formats.h"
#include "large_buffer.h"
#include "png_form.h"
#include "scale.h"

namespace files = lq2x::files;

namespace {

using bytes = std::vector<std::uint8_t>;

double best_ms(int runs, const std::function<void()>& f)
{
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        f();
        best = std::min(best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    return best;
}

// libspng to 8-bit RGBA (16-bit samples come out truncated rather than
// rounded, which does not change the time), into a buffer made ready as
// the tool's reader makes its own, so that only the decoding differs.
bytes spng_rgba(const bytes& file)
{
    spng_ctx* ctx = spng_ctx_new(0);
    spng_set_png_buffer(ctx, file.data(), file.size());
    std::size_t size = 0;
    bytes out;
    if (spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size) == 0) {
        files::reserve_large(out, size, files::filling::whole);
        out.resize(size);
        if (spng_decode_image(ctx, out.data(), size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) != 0)
            out.clear();
    }
    spng_ctx_free(ctx);
    return out;
}

const char* colour_name(files::png_colour c)
{
    switch (c) {
    case files::png_colour::grey: return "grey";
    case files::png_colour::rgb: return "rgb";
    case files::png_colour::palette: return "palette";
    case files::png_colour::grey_alpha: return "grey+alpha";
    case files::png_colour::rgba: return "rgba";
    }
    return "?";
}

std::uint8_t paeth(int a, int b, int c)
{
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return std::uint8_t(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// The packed rows with one filter on every row (5: per row the filter with
// the smallest sum of magnitudes, as libpng's adaptive choice does).
bytes filtered(const bytes& raw, std::size_t row_bytes, int rows, int bpp, int filter)
{
    bytes out(std::size_t(rows) * (row_bytes + 1));
    std::vector<bytes> tries(5, bytes(row_bytes));
    for (int y = 0; y < rows; ++y) {
        const std::uint8_t* cur = raw.data() + std::size_t(y) * row_bytes;
        const std::uint8_t* up = y ? cur - row_bytes : nullptr;
        for (int f = 0; f < 5; ++f)
            for (std::size_t x = 0; x < row_bytes; ++x) {
                const int a = x >= std::size_t(bpp) ? cur[x - bpp] : 0, b = up ? up[x] : 0,
                          c = up && x >= std::size_t(bpp) ? up[x - bpp] : 0;
                const int pred = f == 0 ? 0 : f == 1 ? a : f == 2 ? b : f == 3 ? (a + b) / 2 : paeth(a, b, c);
                tries[std::size_t(f)][x] = std::uint8_t(cur[x] - pred);
            }
        int pick = filter;
        if (filter == 5) {
            long best = -1;
            for (int f = 0; f < 5; ++f) {
                long sum = 0;
                for (const std::uint8_t v : tries[std::size_t(f)])
                    sum += v < 128 ? v : 256 - v;
                if (best < 0 || sum < best)
                    best = sum, pick = f;
            }
        }
        std::uint8_t* o = out.data() + std::size_t(y) * (row_bytes + 1);
        o[0] = std::uint8_t(pick);
        std::copy(tries[std::size_t(pick)].begin(), tries[std::size_t(pick)].end(), o + 1);
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    int factor = 2;
    bool read_only = false;
    std::vector<std::string> names;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--scale") == 0 && i + 1 < argc)
            factor = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--read-only") == 0)
            read_only = true;
        else
            names.push_back(argv[i]);
    }
    if (names.empty()) {
        std::fprintf(stderr, "usage: lq2x_png_bench [--scale N] [--read-only] FILE.png...\n");
        return 2;
    }
    for (const std::string& name : names) {
        const bytes file = lq2x::read_input(name);
        const files::image img = files::decode_png(file, {});
        const bytes other = spng_rgba(file);
        const bool same = other.size() == img.pixels.size() * 4 && std::memcmp(other.data(), img.bytes(), other.size()) == 0;
        std::printf("%s: %d x %d, %zu bytes\n", name.c_str(), img.width, img.height, file.size());
        std::printf("  read  libpng %8.2f ms   libspng %8.2f ms   same pixels: %s\n",
                    best_ms(7, [&] { (void)files::decode_png(file, {}); }), best_ms(7, [&] { (void)spng_rgba(file); }),
                    same ? "yes" : "no");
        if (read_only)
            continue;

        const files::image big = files::scale(img, {.threads = 2, .scale = factor}, lq2x::door::c);
        const files::png_form form = files::choose_form(big);
        std::printf("  write at %dx (%d x %d), %s %d-bit; choosing the form %.2f ms\n", factor, big.width, big.height,
                    colour_name(form.colour), form.depth, best_ms(3, [&] { (void)files::choose_form(big); }));
        for (int level = 1; level <= 9; level += (level < 6 ? 1 : 3))
            for (const int threads : {1, 2}) {
                bytes out;
                const double ms = best_ms(3, [&] { out = files::encode_png(big, level, threads); });
                std::printf("    writer level %d, %d thread%s: %9zu bytes %8.2f ms\n", level, threads,
                            threads > 1 ? "s" : " ", out.size(), ms);
            }

        // The same rows compressed whole, single-threaded, other ways.
        const std::size_t row_bytes = form.row_bytes(big.width);
        const std::optional<files::colour_table> lookup =
            form.colour == files::png_colour::palette ? std::optional<files::colour_table>(form.palette) : std::nullopt;
        bytes raw(row_bytes * std::size_t(big.height));
        for (int y = 0; y < big.height; ++y)
            files::pack_row(form, lookup ? &*lookup : nullptr,
                           {big.pixels.data() + std::size_t(y) * std::size_t(big.width), std::size_t(big.width)},
                           big.kind, {raw.data() + std::size_t(y) * row_bytes, row_bytes});
        const int bpp = std::max(1, form.bits_per_pixel() / 8);
        const bytes plain = filtered(raw, row_bytes, big.height, bpp, 0);
        for (int level = 1; level <= 9; level += (level < 6 ? 1 : 3)) {
            libdeflate_compressor* c = libdeflate_alloc_compressor(level);
            bytes out(libdeflate_zlib_compress_bound(c, plain.size()));
            std::size_t n = 0;
            const double ms = best_ms(3, [&] { n = libdeflate_zlib_compress(c, plain.data(), plain.size(), out.data(), out.size()); });
            libdeflate_free_compressor(c);
            std::printf("    whole, libdeflate level %2d:      %9zu bytes %8.2f ms\n", level, n, ms);
        }
        const char* FILTER_NAMES[] = {"none", "sub", "up", "average", "paeth", "adaptive"};
        const bool all_filters = std::getenv("PNG_BENCH_FILTERS") != nullptr; // slow: zlib 9 with filters
        for (int filter = 0; filter <= (all_filters ? 5 : 0); ++filter) {
            const bytes rows = filtered(raw, row_bytes, big.height, bpp, filter);
            for (const int level : {5, 6, 9}) {
                uLongf n = compressBound(uLong(rows.size()));
                bytes out(n);
                const double ms = best_ms(1, [&] { n = compressBound(uLong(rows.size())); compress2(out.data(), &n, rows.data(), uLong(rows.size()), level); });
                std::printf("    whole, zlib level %d, filter %-8s %9lu bytes %8.2f ms\n", level,
                            FILTER_NAMES[filter], n, ms);
            }
        }
    }
    return 0;
}
