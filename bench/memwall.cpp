// Two builds of the library side by side in one process, against memset and
// the floor (floor.h), for a before-and-after table that one run makes:
//
//     lq2x_memwall [--rounds N] [--huge] [--kernel K]... [--size WxH]... [--content C]...
//                  BEFORE/liblq2x.so AFTER/liblq2x.so
//
// --kernel and --content (flat, noise, "generated art", "real art") keep
// only those cases; --size takes those sizes in place of 160 x 102, 1920 x
// 1080 and 3840 x 2160 (any size: output rows of 1920 x 1088, say, start on
// whole lines where 1920 x 1080's alternate); --huge asks for huge pages for
// the outputs.
// (bench/memwall.sh builds both and runs it.) Each library is loaded on its
// own and called through the C interface, so the two may be any versions
// that have it. For every kernel that both run on this processor, every
// size and content: RGB565 turned counter-clockwise, one thread, and 32-bit
// pixels upright (the tool's path) on real art; then real art in two threads
// against one. In each round every case times memset, the floor (the faster
// of its ordinary and streamed stores), before and after, in turn, the two
// builds in alternating order, each after one untimed run of its own; a
// case's figure is the median of its rounds.
// One thread is timed in the thread's processor time, two threads against
// one in wall-clock time. Both builds' outputs are checked against each
// other first.
#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <lq2x/lq2x.h>

#include "content.h"
#include "floor.h"

namespace {

// The part of the C interface the comparison calls.
struct library {
    std::string path;
    lq2x_options (*default_options)();
    lq2x_status (*scale565)(const uint16_t*, int32_t, int32_t, ptrdiff_t, uint16_t*, int32_t, int32_t, ptrdiff_t,
                            const lq2x_options*);
    lq2x_status (*scale8888)(const uint32_t*, int32_t, int32_t, ptrdiff_t, uint32_t*, int32_t, int32_t, ptrdiff_t,
                             const lq2x_options*);
    lq2x_status (*kernel_in_use)(const lq2x_options*, int32_t*);
    const char* (*version)();

    explicit library(const char* file) : path(file)
    {
        void* h = dlopen(file, RTLD_NOW | RTLD_LOCAL);
        if (h == nullptr) {
            std::fprintf(stderr, "lq2x_memwall: %s\n", dlerror());
            std::exit(2);
        }
        const auto get = [h, file](auto& fn, const char* name) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(h, name));
            if (fn == nullptr) {
                std::fprintf(stderr, "lq2x_memwall: %s has no %s\n", file, name);
                std::exit(2);
            }
        };
        get(default_options, "lq2x_default_options");
        get(scale565, "lq2x_scale565");
        get(scale8888, "lq2x_scale8888");
        get(kernel_in_use, "lq2x_kernel_in_use");
        get(version, "lq2x_version_string");
    }
};

double now(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Memory from the system, aligned to 2 MiB, with huge pages asked for if
// `huge` (which only whole aligned 2 MiB pages can be).
template <typename T>
struct buffer {
    static constexpr std::size_t HUGE_PAGE = std::size_t{2} << 20;
    T* data;
    void* map;
    std::size_t bytes, map_bytes;

    buffer(std::size_t count, bool huge)
        : bytes(std::max<std::size_t>(count * sizeof(T), 1)), map_bytes(bytes + HUGE_PAGE)
    {
        map = mmap(nullptr, map_bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (map == MAP_FAILED) {
            std::perror("lq2x_memwall: mmap");
            std::exit(2);
        }
        const std::uintptr_t at = (reinterpret_cast<std::uintptr_t>(map) + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
        data = reinterpret_cast<T*>(at);
        if (huge)
            madvise(data, bytes, MADV_HUGEPAGE);
        std::memset(data, 0, bytes);
    }
    ~buffer() { munmap(map, map_bytes); }
    buffer(const buffer&) = delete;
    buffer& operator=(const buffer&) = delete;
};

struct kernel_name {
    int id;
    const char* name;
};
constexpr kernel_name KERNELS[] = {{LQ2X_KERNEL_AVX512, "avx512"}, {LQ2X_KERNEL_AVX2, "avx2"},
                                   {LQ2X_KERNEL_SSE41, "sse41"},   {LQ2X_KERNEL_NEON, "neon"},
                                   {LQ2X_KERNEL_SIMD128, "simd128"}, {LQ2X_KERNEL_PORTABLE, "portable"}};

struct content_name {
    content kind;
    const char* name;
};
constexpr content_name CONTENTS[] = {
    {content::flat, "flat"}, {content::noise, "noise"}, {content::pixel_art, "generated art"}, {content::real_art, "real art"}};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

std::string first_line_of(const char* file, const char* key)
{
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(key, 0) == 0)
            return line.substr(line.find(':') + 2);
    return "unknown";
}

std::string load_average()
{
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// One frame of the table: its pixels in both layouts, output buffers, and
// each timed thing's per-round times.
struct frame_case {
    const char* kernel;
    int kernel_id;
    int width, height;
    const char* what;
    bool upright32;
    int threads;
    std::vector<double> memset_t, floor_t, before_t, after_t, one_before_t, one_after_t;
};

} // namespace

int main(int argc, char** argv)
{
    int rounds = 11;
    bool huge = false;
    std::vector<std::string> kernels, contents;
    std::vector<std::pair<int, int>> sizes;
    std::vector<const char*> libs;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--rounds" && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (a == "--huge")
            huge = true;
        else if (a == "--kernel" && i + 1 < argc)
            kernels.push_back(argv[++i]);
        else if (a == "--size" && i + 1 < argc) {
            int w = 0, h = 0;
            char end = 0;
            if (std::sscanf(argv[++i], "%dx%d%c", &w, &h, &end) != 2 || w < 1 || h < 1 || w > 16384 || h > 16384) {
                std::fprintf(stderr, "lq2x_memwall: --size wants WxH, each 1 to 16384: %s\n", argv[i]);
                return 2;
            }
            sizes.push_back({w, h});
        }
        else if (a == "--content" && i + 1 < argc)
            contents.push_back(argv[++i]);
        else
            libs.push_back(argv[i]);
    }
    if (libs.size() != 2) {
        std::fprintf(stderr, "usage: lq2x_memwall [--rounds N] [--huge] [--kernel K]... [--size WxH]... "
                             "[--content C]... BEFORE/liblq2x.so AFTER/liblq2x.so\n");
        return 2;
    }
    const auto kept = [](const std::vector<std::string>& only, const std::string& v) {
        return only.empty() || std::find(only.begin(), only.end(), v) != only.end();
    };
    const library before(libs[0]), after(libs[1]);

    if (sizes.empty())
        sizes = {{160, 102}, {1920, 1080}, {3840, 2160}};
    std::vector<frame_case> cases;
    for (const kernel_name& k : KERNELS) {
        if (!kept(kernels, k.name))
            continue;
        lq2x_options o = after.default_options();
        o.kernel = k.id;
        int32_t used = 0;
        lq2x_options ob = before.default_options();
        ob.kernel = k.id;
        if (after.kernel_in_use(&o, &used) != LQ2X_OK || before.kernel_in_use(&ob, &used) != LQ2X_OK)
            continue;
        for (const auto& [w, h] : sizes) {
            for (const content_name& c : CONTENTS)
                if (available(c.kind) && kept(contents, c.name))
                    cases.push_back({k.name, k.id, w, h, c.name, false, 1, {}, {}, {}, {}, {}, {}});
            const content upright_kind = available(content::real_art) ? content::real_art : content::pixel_art;
            for (const content_name& c : CONTENTS)
                if (c.kind == upright_kind && kept(contents, c.name))
                    cases.push_back({k.name, k.id, w, h, c.name, true, 1, {}, {}, {}, {}, {}, {}});
        }
    }
    const char* threaded = available(content::real_art) ? "real art" : "generated art";
    for (const auto& [w, h] : sizes)
        if (w >= 1920 && kept(contents, threaded) &&
            (kernels.empty() || kernels[0] == "best"))
            cases.push_back({"best", LQ2X_KERNEL_AUTO, w, h,
                             available(content::real_art) ? "real art" : "generated art", false, 2, {}, {}, {}, {},
                             {}, {}});

    std::printf("Processor: %s; %ld processors online; huge pages %s\n",
                first_line_of("/proc/cpuinfo", "model name").c_str(), sysconf(_SC_NPROCESSORS_ONLN),
                huge ? "asked for" : "not asked for");
    std::printf("Before: %s (%s)\nAfter:  %s (%s)\n", before.path.c_str(), before.version(), after.path.c_str(),
                after.version());
    std::printf("Load average at the start: %s\n", load_average().c_str());
    std::fflush(stdout);

    const auto content_of = [](const char* name) {
        for (const content_name& c : CONTENTS)
            if (std::strcmp(c.name, name) == 0)
                return c.kind;
        return content::flat;
    };

    // Frames by size and content, made once.
    // (In memory like the outputs', with huge pages or without.)
    struct frame_pixels {
        int w, h;
        const char* what;
        std::unique_ptr<buffer<pixel565>> p565;
        std::unique_ptr<buffer<uint32_t>> p8888;
    };
    std::deque<frame_pixels> frames; // (references to them stay good as they grow)
    const auto pixels_of = [&](int w, int h, const char* what) -> const frame_pixels& {
        for (const frame_pixels& f : frames)
            if (f.w == w && f.h == h && std::strcmp(f.what, what) == 0)
                return f;
        const std::vector<pixel565> made = make_frame(content_of(what), w, h);
        frame_pixels f{w, h, what, std::make_unique<buffer<pixel565>>(made.size(), huge),
                       std::make_unique<buffer<uint32_t>>(made.size(), huge)};
        for (std::size_t i = 0; i < made.size(); ++i) {
            const pixel565 c = made[i];
            f.p565->data[i] = c;
            f.p8888->data[i] = 0xFF000000u | (c & 0xF800u) << 8 | (c & 0x07E0u) << 5 | (c & 0x001Fu) << 3;
        }
        frames.push_back(std::move(f));
        return frames.back();
    };
    for (const frame_case& c : cases)
        pixels_of(c.width, c.height, c.what);

    // Output buffers for the largest frame, one for each thing timed: each
    // finds its output as it left it itself (a line still in the cache,
    // dirty, is written past the caches at a cost), and the two builds'
    // outputs can be compared.
    std::size_t most = 0;
    for (const frame_case& c : cases)
        most = std::max(most, std::size_t(4) * std::size_t(c.width) * std::size_t(c.height) * (c.upright32 ? 4 : 2));
    buffer<unsigned char> out_before(most, huge), out_after(most, huge), out_memset(most, huge),
        out_floor_ordinary(most, huge), out_floor_streamed(most, huge);

    // A call of `lib` on a case's frame into `out`.
    const auto call = [&](const library& lib, const frame_case& c, unsigned char* out, int threads) {
        const frame_pixels& f = pixels_of(c.width, c.height, c.what);
        lq2x_options o = lib.default_options();
        o.kernel = c.kernel_id;
        o.threads = threads;
        const int w = c.width, h = c.height;
        if (c.upright32) {
            o.orientation = LQ2X_UPRIGHT;
            return lib.scale8888(f.p8888->data, w, h, ptrdiff_t(4) * w, reinterpret_cast<uint32_t*>(out), 2 * w,
                                 2 * h, ptrdiff_t(8) * w, &o);
        }
        o.orientation = LQ2X_CCW;
        return lib.scale565(f.p565->data, w, h, ptrdiff_t(2) * w, reinterpret_cast<uint16_t*>(out), 2 * h, 2 * w,
                            ptrdiff_t(4) * h, &o);
    };

    // Both builds' outputs, compared before any timing.
    for (const frame_case& c : cases) {
        const std::size_t bytes = std::size_t(4) * std::size_t(c.width) * std::size_t(c.height) * (c.upright32 ? 4 : 2);
        std::memset(out_before.data, 0x5A, bytes);
        std::memset(out_after.data, 0xA5, bytes);
        if (call(before, c, out_before.data, c.threads) != LQ2X_OK ||
            call(after, c, out_after.data, c.threads) != LQ2X_OK ||
            std::memcmp(out_before.data, out_after.data, bytes) != 0) {
            std::printf("%s %dx%d %s: the two builds' outputs differ\n", c.kernel, c.width, c.height, c.what);
            return 1;
        }
    }

    for (int round = 0; round < rounds; ++round) {
        for (frame_case& c : cases) {
            const frame_pixels& f = pixels_of(c.width, c.height, c.what);
            const std::size_t bytes =
                std::size_t(4) * std::size_t(c.width) * std::size_t(c.height) * (c.upright32 ? 4 : 2);
            const int repeats = std::max(1, 2'000'000 / (c.width * c.height));
            const clockid_t clock = c.threads > 1 ? CLOCK_MONOTONIC : CLOCK_THREAD_CPUTIME_ID;
            // Each thing timed is first run once untimed, so that it meets
            // the memory as its own last run left it, not as the one before.
            const auto timed = [&](const std::function<void()>& body) {
                body();
                const double t0 = now(clock);
                for (int i = 0; i < repeats; ++i)
                    body();
                return (now(clock) - t0) / repeats;
            };
            c.memset_t.push_back(timed([&] { std::memset(out_memset.data, round, bytes); }));
            if (!c.upright32) {
                const auto floor_with = [&](floor_case::stores how) {
                    unsigned char* out =
                        how == floor_case::stores::ordinary ? out_floor_ordinary.data : out_floor_streamed.data;
                    return timed([&] {
                        floor_case::turned_double(f.p565->data, c.width, c.height, ptrdiff_t(2) * c.width,
                                                  reinterpret_cast<pixel565*>(out), ptrdiff_t(4) * c.height, how);
                    });
                };
                c.floor_t.push_back(
                    std::min(floor_with(floor_case::stores::ordinary), floor_with(floor_case::stores::streamed)));
            }
            const auto run = [&](const library& lib, unsigned char* out, int threads) {
                return timed([&] { call(lib, c, out, threads); });
            };
            const bool before_first = round % 2 == 0;
            for (int k = 0; k < 2; ++k) {
                const bool is_before = (k == 0) == before_first;
                const library& lib = is_before ? before : after;
                unsigned char* out = is_before ? out_before.data : out_after.data;
                (is_before ? c.before_t : c.after_t).push_back(run(lib, out, c.threads));
                if (c.threads > 1)
                    (is_before ? c.one_before_t : c.one_after_t).push_back(run(lib, out, 1));
            }
        }
        std::fprintf(stderr, "round %d of %d done\n", round + 1, rounds);
    }

    std::printf("Load average at the end: %s\n\n", load_average().c_str());
    std::printf("Medians of %d rounds; one thread in thread processor time. x memset and x floor: each build's "
                "time over the memset and floor of the same round's case, medians.\n\n",
                rounds);
    std::printf("| kernel | frame | content | memset µs | floor µs | before µs | after µs | after / before | "
                "before × memset | after × memset | before × floor | after × floor |\n");
    std::printf("|---|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    const auto ratios = [](const std::vector<double>& a, const std::vector<double>& b) {
        std::vector<double> r;
        for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
            r.push_back(a[i] / b[i]);
        return median(r);
    };
    for (const frame_case& c : cases) {
        if (c.threads > 1)
            continue;
        const std::string frame = std::to_string(c.width) + " × " + std::to_string(c.height) +
                                  (c.upright32 ? " 32-bit upright" : " RGB565 ccw");
        std::printf("| %s | %s | %s | %.1f | ", c.kernel, frame.c_str(), c.what, median(c.memset_t) * 1e6);
        if (c.floor_t.empty())
            std::printf("— | ");
        else
            std::printf("%.1f | ", median(c.floor_t) * 1e6);
        std::printf("%.1f | %.1f | %.2f | %.2f | %.2f | ", median(c.before_t) * 1e6, median(c.after_t) * 1e6,
                    ratios(c.after_t, c.before_t), ratios(c.before_t, c.memset_t), ratios(c.after_t, c.memset_t));
        if (c.floor_t.empty())
            std::printf("— | — |\n");
        else
            std::printf("%.2f | %.2f |\n", ratios(c.before_t, c.floor_t), ratios(c.after_t, c.floor_t));
    }
    std::printf("\nTwo threads against one (wall-clock time, the fastest kernel, RGB565 ccw):\n\n");
    std::printf("| frame | content | before, 1 thread µs | before, 2 threads µs | before speed-up | after, 1 thread "
                "µs | after, 2 threads µs | after speed-up |\n|---|---|---:|---:|---:|---:|---:|---:|\n");
    for (const frame_case& c : cases)
        if (c.threads > 1)
            std::printf("| %d × %d | %s | %.1f | %.1f | %.2f | %.1f | %.1f | %.2f |\n", c.width, c.height, c.what,
                        median(c.one_before_t) * 1e6, median(c.before_t) * 1e6, ratios(c.one_before_t, c.before_t),
                        median(c.one_after_t) * 1e6, median(c.after_t) * 1e6, ratios(c.one_after_t, c.after_t));
    return 0;
}
