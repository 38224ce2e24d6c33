// Throughput of the hot kernels, single thread (thread CPU time, best of several runs): Biot-Savart point and segment laws and the writhe
// double sums, in point-element (or segment) pairs per second.
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

#include "core/biot_savart.hpp"
#include "core/kernel_dispatch.hpp"
#include "core/knot_dynamics.hpp"


namespace {

using tarq::Polyline;
using tarq::Vec3;

// A trefoil sampled at n points, with its derivative as tangents.
void trefoil(std::size_t n, Polyline& X, std::vector<Vec3>& T) {
    X.resize(n);
    T.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double t = 2.0 * M_PI * static_cast<double>(i) / static_cast<double>(n);
        X[i] = {std::sin(t) + 2.0 * std::sin(2.0 * t), std::cos(t) - 2.0 * std::cos(2.0 * t), -std::sin(3.0 * t)};
        T[i] = {std::cos(t) + 4.0 * std::cos(2.0 * t), -std::sin(t) + 4.0 * std::sin(2.0 * t), -3.0 * std::cos(3.0 * t)};
    }
}

// CPU time of this thread: on a shared machine the time spent preempted does not count.
double thread_seconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// Best of several timed runs, in seconds per run.
double best_time(const std::function<void()>& run, int repeats) {
    double best = 1e300;
    for (int r = 0; r < repeats; ++r) {
        const double t0 = thread_seconds();
        run();
        best = std::min(best, thread_seconds() - t0);
    }
    return best;
}

volatile double g_sink = 0.0;

void report(const char* name, double pairs, double seconds, double target) {
    const double rate = pairs / seconds;
    std::printf("%-40s %10.0f pairs  %8.3f ms  %10.3e pairs/s  (target %.1e: %s)\n", name, pairs, seconds * 1e3, rate,
                target, rate >= target ? "met" : "NOT met");
}

void run_all(int repeats) {
    Polyline X;
    std::vector<Vec3> T;

    trefoil(2000, X, T);
    {
        // Velocity at every filament point, as one time step does.
        const double pairs = static_cast<double>(X.size()) * static_cast<double>(X.size());
        const double s = best_time(
            [&] {
                double acc = 0.0;
                for (const Vec3& r : X) acc += tarq::BiotSavart::velocity(r, X, T, 1.0)[0];
                g_sink = acc;
            },
            repeats);
        report("BiotSavart::velocity N=2000", pairs, s, 1.3e8);
    }
    {
        // Closed curve of 2000 points on 2000 points off the curve.
        Polyline grid(2000);
        for (std::size_t i = 0; i < grid.size(); ++i) grid[i] = {X[i][0] * 1.1 + 0.05, X[i][1] * 0.9, X[i][2] + 0.3};
        const double pairs = static_cast<double>(X.size()) * static_cast<double>(grid.size());
        const double s = best_time([&] { g_sink = tarq::BiotSavart::computeVelocity(X, grid, 1.0)[7][1]; }, repeats);
        report("BiotSavart::computeVelocity N=2000", pairs, s, 1.3e8);
    }

    trefoil(1000, X, T);
    {
        const double segs = static_cast<double>(X.size() - 1);
        const double pairs = segs * (segs - 1.0) / 2.0;
        const double s = best_time([&] { g_sink = tarq::KnotDynamics::compute_writhe(X); }, repeats * 4);
        report("KnotDynamics::compute_writhe N=1000", pairs, s, 5e8);
    }
    {
        const double n = static_cast<double>(X.size());
        const double pairs = n * (n - 1.0);
        const double s = best_time([&] { g_sink = tarq::KnotDynamics::writhe_gauss_curve(X, T); }, repeats * 4);
        report("KnotDynamics::writhe_gauss_curve N=1000", pairs, s, 5e8);
    }
}

}  // namespace

int main() {
    const bool simd = tarq::kernel_dispatch::simd_available();
    std::printf("kernels: %s\n", simd ? "AVX2" : "portable");
    run_all(10);
    if (simd) {
        std::printf("kernels: portable (for comparison)\n");
        tarq::kernel_dispatch::set_simd_allowed(false);
        run_all(3);
        tarq::kernel_dispatch::set_simd_allowed(true);
    }
    return 0;
}
