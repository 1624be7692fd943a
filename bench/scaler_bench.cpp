// Speed of the scaler against the cost of merely writing its output.
//
// For every frame size: memset of the output (the write-bandwidth floor), a
// plain turned 2x pixel doubling, the scaler on pixel art, four-colour noise
// and a flat colour (with the fastest implementation this processor has), the
// same on pixel art in two threads at the large sizes (`speedup` over one
// thread), and the other implementations on art and noise. Each case reports source megapixels per second
// (`Mpix/s`) and its time over the memset time of the same output (`x_memset`).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "content.h"
#include <lq2x/lq2x.hpp>
#include <lq2x/lq2x_frame.h>
#include "scaler/lq2x_isa.h"

namespace {

constexpr std::pair<int, int> SIZES[] = {{160, 102}, {640, 480}, {1920, 1080}, {3840, 2160}};

std::map<long, double>& memset_seconds()
{
    static std::map<long, double> per_size;
    return per_size;
}

// Sets the counters; returns the seconds per frame.
double report(benchmark::State& state, int w, int h, double total_seconds)
{
    const double per_frame = total_seconds / double(state.iterations());
    state.counters["Mpix/s"] = double(w) * h / per_frame / 1e6;
    if (const auto it = memset_seconds().find(long(w) * h); it != memset_seconds().end())
        state.counters["x_memset"] = per_frame / it->second;
    return per_frame;
}

template <typename Body>
double timed(benchmark::State& state, int w, int h, Body body)
{
    double total = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        body();
        benchmark::ClobberMemory();
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    return report(state, w, h, total);
}

void bm_memset(benchmark::State& state, int w, int h)
{
    std::vector<pixel565> dst(std::size_t(4) * w * h, 1);
    double total = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        std::memset(dst.data(), int(state.iterations() & 0xFF), dst.size() * sizeof(pixel565));
        benchmark::ClobberMemory();
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    memset_seconds()[long(w) * h] = total / double(state.iterations());
    report(state, w, h, total);
}

// Each source pixel copied into its 2x2 block at the turned place.
void bm_double(benchmark::State& state, int w, int h)
{
    const std::vector<pixel565> src = make_frame(content::pixel_art, w, h);
    std::vector<pixel565> dst(std::size_t(4) * w * h);
    const std::size_t out_w = 2 * std::size_t(h);
    timed(state, w, h, [&] {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const pixel565 p = src[std::size_t(y) * w + x];
                pixel565* d = &dst[2 * std::size_t(w - 1 - x) * out_w + 2 * std::size_t(y)];
                d[0] = d[1] = d[out_w] = d[out_w + 1] = p;
            }
    });
}

// Single-threaded seconds per frame of the fastest implementation on pixel
// art, by frame size: the yardstick of the threaded runs.
std::map<long, double>& one_thread_seconds()
{
    static std::map<long, double> per_size;
    return per_size;
}

void bm_scale(benchmark::State& state, lq2x_isa isa, content kind, int w, int h, int threads)
{
    const std::vector<pixel565> src = make_frame(kind, w, h);
    std::vector<pixel565> dst(std::size_t(4) * w * h);
    const double seconds = timed(state, w, h, [&] {
        lq2x_scale565_using(isa, src.data(), 2 * w, dst.data(), 4 * h, w, h, lq2x::orientation::ccw, threads);
    });
    if (threads == 1 && isa == lq2x_best_isa() && kind == content::pixel_art)
        one_thread_seconds()[long(w) * h] = seconds;
    else if (const auto it = one_thread_seconds().find(long(w) * h); threads > 1 && it != one_thread_seconds().end())
        state.counters["speedup"] = it->second / seconds;
}

const int registered = [] {
    for (const auto& [w, h] : SIZES) {
        const std::string size = std::to_string(w) + "x" + std::to_string(h);
        benchmark::RegisterBenchmark(("memset/" + size).c_str(), bm_memset, w, h);
        benchmark::RegisterBenchmark(("double/" + size).c_str(), bm_double, w, h);
        const lq2x_isa best = lq2x_best_isa();
        benchmark::RegisterBenchmark(("lq2x_art/" + size).c_str(), bm_scale, best, content::pixel_art, w, h, 1);
        benchmark::RegisterBenchmark(("lq2x_noise/" + size).c_str(), bm_scale, best, content::noise, w, h, 1);
        benchmark::RegisterBenchmark(("lq2x_flat/" + size).c_str(), bm_scale, best, content::flat, w, h, 1);
        if (w >= 1920) // bands of rows on both cores
            benchmark::RegisterBenchmark(("lq2x_art_2threads/" + size).c_str(), bm_scale, best, content::pixel_art,
                                         w, h, 2);
        if (best == lq2x_isa::avx512 && lq2x_isa_available(lq2x_isa::avx2)) {
            // What processors without AVX-512 get.
            benchmark::RegisterBenchmark(("avx2_art/" + size).c_str(), bm_scale, lq2x_isa::avx2, content::pixel_art,
                                         w, h, 1);
            benchmark::RegisterBenchmark(("avx2_noise/" + size).c_str(), bm_scale, lq2x_isa::avx2, content::noise,
                                         w, h, 1);
        }
        if (best != lq2x_isa::scalar) {
            // The portable path, for comparison.
            benchmark::RegisterBenchmark(("scalar_art/" + size).c_str(), bm_scale, lq2x_isa::scalar,
                                         content::pixel_art, w, h, 1);
            benchmark::RegisterBenchmark(("scalar_noise/" + size).c_str(), bm_scale, lq2x_isa::scalar,
                                         content::noise, w, h, 1);
        }
    }
    return 0;
}();

// Edge modes and tile grids, each beside the plain whole frame in the same
// run: pixel art at 1920 x 1080, one thread, the fastest implementation,
// both placements. `x_plain` is the time over the plain frame's, in processor
// time: on a shared machine it moves far less than the wall-clock time does.
std::map<std::string, double>& plain_cpu_seconds()
{
    static std::map<std::string, double> per_turn;
    return per_turn;
}

void bm_edges(benchmark::State& state, lq2x::orientation turn, lq2x::options opt, bool plain)
{
    constexpr int W = 1920, H = 1080;
    const std::vector<pixel565> src = make_frame(content::pixel_art, W, H);
    std::vector<pixel565> dst(std::size_t(4) * W * H);
    const lq2x::size out = lq2x::scaled_size(W, H, turn);
    opt.turn = turn;
    opt.threads = 1;
    const std::clock_t start = std::clock();
    timed(state, W, H, [&] {
        lq2x_scale_using(lq2x_best_isa(), lq2x::packed(src.data(), W, H),
                         lq2x::packed(dst.data(), std::int32_t(out.width), std::int32_t(out.height)), 0, H, opt);
    });
    const double cpu = double(std::clock() - start) / CLOCKS_PER_SEC / double(state.iterations());
    const std::string key = turn == lq2x::orientation::upright ? "upright" : "ccw";
    if (plain)
        plain_cpu_seconds()[key] = cpu;
    else if (const auto it = plain_cpu_seconds().find(key); it != plain_cpu_seconds().end())
        state.counters["x_plain"] = cpu / it->second;
}

const int registered_edges = [] {
    using lq2x::edge;
    const std::pair<const char*, lq2x::options> cases[] = {
        {"plain", {}},
        {"wrap", {.edge_x = edge::wrap, .edge_y = edge::wrap}},
        {"transparent", {.edge_x = edge::transparent, .edge_y = edge::transparent}},
        {"grid16", {.tile = {16, 16, 0, 0}}},
        {"grid16_wrap", {.edge_x = edge::wrap, .edge_y = edge::wrap, .tile = {16, 16, 0, 0}}},
        {"grid16_margin1_spacing1", {.tile = {16, 16, 1, 1}}},
    };
    for (const lq2x::orientation turn : {lq2x::orientation::upright, lq2x::orientation::ccw})
        for (const auto& [name, opt] : cases) {
            const std::string placement = turn == lq2x::orientation::upright ? "upright/" : "ccw/";
            benchmark::RegisterBenchmark(("edges_" + placement + name + "/1920x1080").c_str(), bm_edges, turn, opt,
                                         std::string(name) == "plain");
        }
    return 0;
}();

} // namespace

BENCHMARK_MAIN();
