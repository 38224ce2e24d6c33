// Timing helpers shared by the C++ benchmarks: thread CPU time beside wall time, best of several runs, and the
// divide/square-root ceiling measured in the same run.
#pragma once

#include <time.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <functional>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define BENCH_X86 1
#else
#define BENCH_X86 0
#endif

namespace bench {

// CPU time of this thread: on a shared machine the time spent preempted does not count.
inline double thread_seconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

inline double wall_seconds() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// Minimum thread CPU time and minimum wall time of one run, over `repeats` runs.
struct Timing {
    double cpu = 1e300;
    double wall = 1e300;
};

inline Timing best_of(const std::function<void()>& run, int repeats) {
    Timing t;
    for (int r = 0; r < repeats; ++r) {
        const double w0 = wall_seconds();
        const double c0 = thread_seconds();
        run();
        const double c1 = thread_seconds();
        const double w1 = wall_seconds();
        t.cpu = std::min(t.cpu, c1 - c0);
        t.wall = std::min(t.wall, w1 - w0);
    }
    return t;
}

inline volatile double g_sink = 0.0;

// Throughput of the divide/square-root unit: per "pair", one square root followed by `divs` dependent divisions
// on independent data, so nothing but the divider limits it, in pairs per second of thread CPU time.
namespace detail {

constexpr std::size_t kLen = 2048;  // stays in the first-level cache

#if BENCH_X86
__attribute__((target("avx2"))) inline double ceiling_pass_avx2(const double* x, int divs) {
    __m256d acc[4] = {_mm256_setzero_pd(), _mm256_setzero_pd(), _mm256_setzero_pd(), _mm256_setzero_pd()};
    const __m256d one = _mm256_set1_pd(1.0);
    for (std::size_t i = 0; i < kLen; i += 16) {
        for (int u = 0; u < 4; ++u) {
            __m256d v = _mm256_sqrt_pd(_mm256_load_pd(x + i + 4 * u));
            for (int d = 0; d < divs; ++d) v = _mm256_div_pd(one, _mm256_add_pd(v, one));
            acc[u] = _mm256_add_pd(acc[u], v);
        }
    }
    alignas(32) double o[4];
    _mm256_store_pd(o, _mm256_add_pd(_mm256_add_pd(acc[0], acc[1]), _mm256_add_pd(acc[2], acc[3])));
    return o[0] + o[1] + o[2] + o[3];
}

__attribute__((target("avx512f"))) inline double ceiling_pass_avx512(const double* x, int divs) {
    __m512d acc[4] = {_mm512_setzero_pd(), _mm512_setzero_pd(), _mm512_setzero_pd(), _mm512_setzero_pd()};
    const __m512d one = _mm512_set1_pd(1.0);
    for (std::size_t i = 0; i < kLen; i += 32) {
        for (int u = 0; u < 4; ++u) {
            const __m512d a = _mm512_load_pd(x + i + 8 * u);
            __m512d v = _mm512_mask_sqrt_pd(a, 0xFF, a);
            for (int d = 0; d < divs; ++d) v = _mm512_div_pd(one, _mm512_add_pd(v, one));
            acc[u] = _mm512_add_pd(acc[u], v);
        }
    }
    alignas(64) double o[8];
    _mm512_store_pd(o, _mm512_add_pd(_mm512_add_pd(acc[0], acc[1]), _mm512_add_pd(acc[2], acc[3])));
    return ((o[0] + o[1]) + (o[2] + o[3])) + ((o[4] + o[5]) + (o[6] + o[7]));
}
#endif

inline double ceiling_pass_scalar(const double* x, int divs) {
    double s = 0.0;
    for (std::size_t i = 0; i < kLen; ++i) {
        double v = __builtin_sqrt(x[i]);
        for (int d = 0; d < divs; ++d) v = 1.0 / (v + 1.0);
        s += v;
    }
    return s;
}

}  // namespace detail

// Pairs per second at each vector width; `best` is the machine's ceiling.
struct Ceiling {
    double scalar = 0.0, avx2 = 0.0, avx512 = 0.0, best = 0.0;
};

inline Ceiling divider_ceiling(int divs, int repeats = 5) {
    alignas(64) static double x[detail::kLen];
    for (std::size_t i = 0; i < detail::kLen; ++i) x[i] = 1.0 + static_cast<double>(i) * 0.37;
    const int passes = 400;
    auto rate = [&](double (*pass)(const double*, int)) {
        const Timing t = best_of(
            [&] {
                double s = 0.0;
                for (int p = 0; p < passes; ++p) s += pass(x, divs);
                g_sink = s;
            },
            repeats);
        return static_cast<double>(detail::kLen) * passes / t.cpu;
    };
    Ceiling c;
    c.scalar = rate(detail::ceiling_pass_scalar);
#if BENCH_X86
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) c.avx2 = rate(detail::ceiling_pass_avx2);
    if (__builtin_cpu_supports("avx512f")) c.avx512 = rate(detail::ceiling_pass_avx512);
#endif
    c.best = std::max(c.scalar, std::max(c.avx2, c.avx512));
    return c;
}

inline void print_ceiling(const char* what, const Ceiling& c) {
    std::printf("divider ceiling (%s): %.3e pairs/s (scalar %.3e, 4 lanes %.3e, 8 lanes %.3e)\n", what, c.best,
                c.scalar, c.avx2, c.avx512);
}

}  // namespace bench
