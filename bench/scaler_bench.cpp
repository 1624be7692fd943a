// Speed of the scaler against the cost of merely writing its output.
//
// For every frame size: memset of the output (the write-bandwidth floor),
// the floor of a turned 2x (floor.h: each pixel copied into its block, the
// least a turned kernel can do), and the scaler: RGB565 turned
// counter-clockwise (the test bench's path) on generated pixel art, real art
// (a mosaic of crawl-tiles-data's tiles, where installed), four-colour noise
// and a flat colour, and 32-bit pixels upright (the tool's path) on art and
// noise, with the fastest implementation this processor has; art in two
// threads at the large sizes; and every other implementation it has. Each
// case reports source megapixels per second (`Mpix/s`) and its time over
// that of a memset of the same output (`x_memset`) and, for RGB565 turned,
// over the floor's on the same frame (`x_floor`), both timed inside the same
// case, so the ratios hold under --benchmark_filter.
// The threaded case times one thread beside each iteration for its
// `speedup`. Times are the thread's processor time, wall-clock time for the
// threaded case. Every scaler case first checks its output against the
// portable walk. The `edges_` cases time edge modes and tile grids at
// 1920 x 1080 beside the plain whole frame, timed in the same case
// (`x_plain`).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "content.h"
#include "floor.h"
#include <lq2x/lq2x.hpp>

using lq2x::pixel8888;

namespace {

constexpr std::pair<int, int> SIZES[] = {{160, 102}, {640, 480}, {1920, 1080}, {3840, 2160}};

// Seconds `body` takes: the calling thread's processor time, which other
// programs on a shared machine do not inflate, or wall-clock time where the
// work is spread over threads. Small frames are run `repeats` times a
// reading (one benchmark iteration), so that reading the clock costs next to
// nothing; `us/frame` is the time of one.
template <typename Body>
double seconds_of(bool wall_clock, int repeats, Body body)
{
    const auto now = [wall_clock] {
        timespec t{};
        clock_gettime(wall_clock ? CLOCK_MONOTONIC : CLOCK_THREAD_CPUTIME_ID, &t);
        return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
    };
    const double start = now();
    for (int i = 0; i < repeats; ++i) {
        body();
        benchmark::ClobberMemory();
    }
    return (now() - start) / repeats;
}

// The floor's time for a frame: the faster of its two ways of storing, each
// run for a twentieth of a second, into `out`.
double floor_seconds(bool wall_clock, const std::vector<pixel565>& src, int w, int h, pixel565* out)
{
    const int repeats = std::max(1, 1'000'000 / (w * h));
    double best = 1e30;
    for (const auto how : {floor_case::stores::ordinary, floor_case::stores::streamed}) {
        double total = 0;
        int runs = 0;
        for (; total * repeats < 0.05; ++runs)
            total += seconds_of(wall_clock, repeats, [&] {
                floor_case::turned_double(src.data(), w, h, std::ptrdiff_t(2) * w, out, std::ptrdiff_t(4) * h, how);
            });
        best = std::min(best, total / runs);
    }
    return best;
}

// Times `body` per iteration (and with THREADED, `one_thread`, the same work
// on one thread, beside it) and sets the counters; the memset of `out_bytes`
// bytes it is measured against is timed in the same case, first, for a
// twentieth of a second, and so is the floor of `floor_of` (RGB565, turned)
// where there is one.
template <bool THREADED = false, typename Body, typename OneThread = void (*)()>
void timed(benchmark::State& state, int w, int h, std::size_t out_bytes, Body body, OneThread one_thread = nullptr,
           const std::vector<pixel565>* floor_of = nullptr)
{
    const int repeats = std::max(1, 1'000'000 / (w * h));
    std::vector<unsigned char> floor(out_bytes);
    double memset_total = 0;
    int memsets = 0;
    for (; memset_total * repeats < 0.05; ++memsets)
        memset_total += seconds_of(THREADED, repeats, [&] { std::memset(floor.data(), memsets & 0xFF, out_bytes); });
    const double floor_time =
        floor_of != nullptr ? floor_seconds(THREADED, *floor_of, w, h, reinterpret_cast<pixel565*>(floor.data())) : 0;

    double total = 0, one_thread_total = 0;
    for (auto _ : state) {
        const double s = seconds_of(THREADED, repeats, body);
        state.SetIterationTime(s * repeats);
        total += s;
        if constexpr (THREADED)
            one_thread_total += seconds_of(true, repeats, one_thread);
    }
    const double per_frame = total / double(state.iterations());
    state.counters["us/frame"] = per_frame * 1e6;
    state.counters["Mpix/s"] = double(w) * h / per_frame / 1e6;
    state.counters["x_memset"] = per_frame / (memset_total / memsets);
    if (floor_of != nullptr)
        state.counters["x_floor"] = per_frame / floor_time;
    if constexpr (THREADED)
        state.counters["speedup"] = one_thread_total / total;
}

void bm_memset(benchmark::State& state, int w, int h)
{
    std::vector<pixel565> dst(std::size_t(4) * w * h, 1);
    const std::size_t bytes = dst.size() * sizeof(pixel565);
    timed(state, w, h, bytes, [&] { std::memset(dst.data(), 0, bytes); });
}

// The floor alone, with each of its ways of storing.
void bm_floor(benchmark::State& state, int w, int h, floor_case::stores how)
{
    const std::vector<pixel565> src = make_frame(content::pixel_art, w, h);
    std::vector<pixel565> dst(std::size_t(4) * w * h);
    const auto run = [&] {
        floor_case::turned_double(src.data(), w, h, std::ptrdiff_t(2) * w, dst.data(), std::ptrdiff_t(4) * h, how);
    };
    timed(state, w, h, dst.size() * sizeof(pixel565), run, nullptr, &src);
}

// The same frame as 32-bit pixels, each channel widened to 8 bits.
std::vector<pixel8888> widened(const std::vector<pixel565>& f)
{
    std::vector<pixel8888> out(f.size());
    for (std::size_t i = 0; i < f.size(); ++i)
        out[i] = 0xFF000000u | (f[i] & 0xF800u) << 8 | (f[i] & 0x07E0u) << 5 | (f[i] & 0x001Fu) << 3;
    return out;
}

// A kernel chosen through the options, as any caller chooses one.
template <typename P>
void scale_using(lq2x::kernel k, const std::vector<P>& src, std::vector<P>& dst, int w, int h,
                 lq2x::orientation turn, int threads)
{
    const lq2x::size out = lq2x::scaled_size(w, h, turn);
    lq2x::scale(lq2x::packed(src.data(), w, h), lq2x::packed(dst.data(), int(out.width), int(out.height)),
                {.turn = turn, .threads = threads, .use = k});
}

template <typename P>
void bm_scale(benchmark::State& state, lq2x::kernel k, content kind, int w, int h, lq2x::orientation turn, int threads)
{
    const std::vector<pixel565> frame = make_frame(kind, w, h);
    std::vector<P> src;
    if constexpr (sizeof(P) == 2)
        src = frame;
    else
        src = widened(frame);
    std::vector<P> dst(std::size_t(4) * w * h), want(dst.size());
    scale_using(lq2x::kernel::portable, src, want, w, h, turn, 1);
    scale_using(k, src, dst, w, h, turn, threads);
    if (dst != want) {
        state.SkipWithError("output differs from the portable walk");
        return;
    }
    const auto run = [&] { scale_using(k, src, dst, w, h, turn, threads); };
    const std::size_t bytes = dst.size() * sizeof(P);
    // The floor is a turned RGB565 one.
    const std::vector<pixel565>* floor_of = sizeof(P) == 2 && turn == lq2x::orientation::ccw ? &frame : nullptr;
    if (threads == 1)
        timed(state, w, h, bytes, run, nullptr, floor_of);
    else
        timed<true>(state, w, h, bytes, run, [&] { scale_using(k, src, dst, w, h, turn, 1); }, floor_of);
}

const int registered = [] {
    constexpr auto CCW = lq2x::orientation::ccw, UPRIGHT = lq2x::orientation::upright;
    lq2x::kernel best{};
    lq2x::kernel_in_use({}, best);
    // Names built by appending: GCC 12 warns falsely on chains of string +.
    const auto add = [](std::string name, const std::string& size, auto&&... args) {
        benchmark::RegisterBenchmark(name.append(size).c_str(), args...)->UseManualTime();
    };
    for (const auto& [w, h] : SIZES) {
        const std::string size = std::string("/").append(std::to_string(w)).append("x").append(std::to_string(h));
        const bool real = available(content::real_art);
        add("memset", size, bm_memset, w, h);
        add("floor_ordinary", size, bm_floor, w, h, floor_case::stores::ordinary);
        add("floor_streamed", size, bm_floor, w, h, floor_case::stores::streamed);
        add("lq2x_art", size, bm_scale<pixel565>, best, content::pixel_art, w, h, CCW, 1);
        if (real)
            add("lq2x_real_art", size, bm_scale<pixel565>, best, content::real_art, w, h, CCW, 1);
        add("lq2x_noise", size, bm_scale<pixel565>, best, content::noise, w, h, CCW, 1);
        add("lq2x_flat", size, bm_scale<pixel565>, best, content::flat, w, h, CCW, 1);
        add("lq2x32_upright_art", size, bm_scale<pixel8888>, best, content::pixel_art, w, h, UPRIGHT, 1);
        if (real)
            add("lq2x32_upright_real_art", size, bm_scale<pixel8888>, best, content::real_art, w, h, UPRIGHT, 1);
        add("lq2x32_upright_noise", size, bm_scale<pixel8888>, best, content::noise, w, h, UPRIGHT, 1);
        if (w >= 1920) { // bands of rows on both cores
            add("lq2x_art_2threads", size, bm_scale<pixel565>, best, content::pixel_art, w, h, CCW, 2);
            if (real)
                add("lq2x_real_art_2threads", size, bm_scale<pixel565>, best, content::real_art, w, h, CCW, 2);
        }
        // What processors with fewer instruction sets get, and the portable path.
        for (const lq2x::kernel k : {lq2x::kernel::avx2, lq2x::kernel::sse41, lq2x::kernel::neon,
                                     lq2x::kernel::simd128, lq2x::kernel::portable}) {
            lq2x::kernel runs{};
            if (k != best && lq2x::kernel_in_use({.use = k}, runs) == lq2x::error::none) {
                const std::string name = lq2x::kernel_name(k);
                add(name + "_art", size, bm_scale<pixel565>, k, content::pixel_art, w, h, CCW, 1);
                if (real)
                    add(name + "_real_art", size, bm_scale<pixel565>, k, content::real_art, w, h, CCW, 1);
                add(name + "_noise", size, bm_scale<pixel565>, k, content::noise, w, h, CCW, 1);
                add(name + "_flat", size, bm_scale<pixel565>, k, content::flat, w, h, CCW, 1);
                add(name + "32_upright_art", size, bm_scale<pixel8888>, k, content::pixel_art, w, h, UPRIGHT, 1);
            }
        }
    }
    return 0;
}();

// An edge mode or a tile grid on pixel art, one thread, the fastest
// implementation, against the plain whole frame in the same case.
void bm_edges(benchmark::State& state, lq2x::orientation turn, lq2x::options opt)
{
    constexpr int W = 1920, H = 1080;
    const std::vector<pixel565> src = make_frame(content::pixel_art, W, H);
    const lq2x::size size = lq2x::scaled_size(W, H, turn);
    const auto out_view = [&](std::vector<pixel565>& v) {
        return lq2x::packed(v.data(), std::int32_t(size.width), std::int32_t(size.height));
    };
    std::vector<pixel565> dst(std::size_t(4) * W * H), want(dst.size());
    opt.turn = turn;
    opt.threads = 1;
    const lq2x::options plain{.turn = turn, .threads = 1};
    const auto scale = [&](lq2x::kernel k, std::vector<pixel565>& out, lq2x::options o) {
        o.use = k;
        return lq2x::scale(lq2x::packed(src.data(), W, H), out_view(out), o);
    };
    constexpr lq2x::kernel BEST = lq2x::kernel::automatic;
    if (scale(lq2x::kernel::portable, want, opt) != lq2x::error::none || scale(BEST, dst, opt) != lq2x::error::none ||
        dst != want) {
        state.SkipWithError("output differs from the portable walk");
        return;
    }
    double total = 0, plain_total = 0;
    for (auto _ : state) {
        const double s = seconds_of(false, 1, [&] { scale(BEST, dst, opt); });
        state.SetIterationTime(s);
        total += s;
        plain_total += seconds_of(false, 1, [&] { scale(BEST, dst, plain); });
    }
    state.counters["Mpix/s"] = double(W) * H * double(state.iterations()) / total / 1e6;
    state.counters["x_plain"] = total / plain_total;
}

const int registered_edges = [] {
    using lq2x::edge;
    const std::pair<const char*, lq2x::options> cases[] = {
        {"wrap", {.edge_x = edge::wrap, .edge_y = edge::wrap}},
        {"transparent", {.edge_x = edge::transparent, .edge_y = edge::transparent}},
        {"grid16", {.tile = {16, 16, 0, 0}}},
        {"grid16_wrap", {.edge_x = edge::wrap, .edge_y = edge::wrap, .tile = {16, 16, 0, 0}}},
        {"grid16_margin1_spacing1", {.tile = {16, 16, 1, 1}}},
    };
    for (const lq2x::orientation turn : {lq2x::orientation::upright, lq2x::orientation::ccw})
        for (const auto& [name, opt] : cases) {
            std::string label = turn == lq2x::orientation::upright ? "edges_upright_" : "edges_ccw_";
            benchmark::RegisterBenchmark(label.append(name).append("/1920x1080").c_str(), bm_edges, turn, opt)
                ->UseManualTime();
        }
    return 0;
}();

} // namespace

BENCHMARK_MAIN();
