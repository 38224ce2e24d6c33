// Throughput of the hot kernels, single thread: Biot-Savart point and segment laws and the writhe double sums,
// in point-element (or segment) pairs per second of thread CPU time (best of several runs, wall time beside),
// each set against the divide/square-root ceiling of its per-pair operations, measured in the same run.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "bench_support.hpp"
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

struct Ceilings {
    double one_div;    // one square root and one division per pair
    double three_div;  // one square root and three divisions per pair
};

void report(const char* name, double pairs, const bench::Timing& t, double ceiling, double target) {
    const double rate = pairs / t.cpu;
    std::printf("%-44s %8.3f ms CPU %8.3f ms wall %10.3e pairs/s  %5.1f%% of ceiling", name, t.cpu * 1e3,
                t.wall * 1e3, rate, 100.0 * rate / ceiling);
    if (target > 0.0) std::printf("  (target %.1e: %s)", target, rate >= target ? "met" : "NOT met");
    std::printf("\n");
}

void run_all(int repeats, const Ceilings& c) {
    Polyline X;
    std::vector<Vec3> T;
    std::vector<Vec3> out;

    // Velocity at every filament point, as one time step computes it.
    for (std::size_t n : {1000u, 2000u, 4000u, 8000u}) {
        trefoil(n, X, T);
        const double pairs = static_cast<double>(n) * static_cast<double>(n);
        const bench::Timing t = bench::best_of(
            [&] {
                tarq::BiotSavart::velocities_at_points(X, T, 1.0, out);
                bench::g_sink = out[n / 3][1];
            },
            n > 4000 ? std::max(5, repeats / 2) : repeats);
        char name[64];
        std::snprintf(name, sizeof name, "BiotSavart::velocities_at_points N=%zu", n);
        report(name, pairs, t, c.one_div, 7e8);
    }

    trefoil(2000, X, T);
    {
        // The single-point law, called once per point.
        const double pairs = static_cast<double>(X.size()) * static_cast<double>(X.size());
        const bench::Timing t = bench::best_of(
            [&] {
                double acc = 0.0;
                for (const Vec3& r : X) acc += tarq::BiotSavart::velocity(r, X, T, 1.0)[0];
                bench::g_sink = acc;
            },
            repeats);
        report("BiotSavart::velocity (per point) N=2000", pairs, t, c.one_div, 1.3e8);
    }
    {
        // Closed curve of 2000 points on 2000 points off the curve.
        Polyline grid(2000);
        for (std::size_t i = 0; i < grid.size(); ++i) grid[i] = {X[i][0] * 1.1 + 0.05, X[i][1] * 0.9, X[i][2] + 0.3};
        const double pairs = static_cast<double>(X.size()) * static_cast<double>(grid.size());
        const bench::Timing t =
            bench::best_of([&] { bench::g_sink = tarq::BiotSavart::computeVelocity(X, grid, 1.0)[7][1]; }, repeats);
        report("BiotSavart::computeVelocity N=2000", pairs, t, c.three_div, 1.3e8);
    }

    trefoil(1000, X, T);
    {
        const double segs = static_cast<double>(X.size() - 1);
        const double pairs = segs * (segs - 1.0) / 2.0;
        const bench::Timing t =
            bench::best_of([&] { bench::g_sink = tarq::KnotDynamics::compute_writhe(X); }, repeats * 4);
        report("KnotDynamics::compute_writhe N=1000", pairs, t, c.one_div, 5e8);
    }
    {
        const double n = static_cast<double>(X.size());
        const double pairs = n * (n - 1.0);
        const bench::Timing t =
            bench::best_of([&] { bench::g_sink = tarq::KnotDynamics::writhe_gauss_curve(X, T); }, repeats * 4);
        report("KnotDynamics::writhe_gauss_curve N=1000", pairs, t, c.one_div, 5e8);
    }
}

}  // namespace

int main() {
    namespace kd = tarq::kernel_dispatch;
    const bench::Ceiling one = bench::divider_ceiling(1), three = bench::divider_ceiling(3);
    bench::print_ceiling("1 sqrt + 1 div", one);
    bench::print_ceiling("1 sqrt + 3 div", three);
    const Ceilings c{one.best, three.best};
    std::printf("figures: minimum thread CPU time and minimum wall time per call; rates from CPU time\n");
    const char* widest = kd::avx512_available() ? "AVX-512 / AVX2" : kd::simd_available() ? "AVX2" : "portable";
    std::printf("kernels: %s\n", widest);
    run_all(10, c);
    if (kd::avx512_available()) {
        std::printf("kernels: AVX2 only (for comparison)\n");
        kd::set_avx512_allowed(false);
        run_all(5, c);
        kd::set_avx512_allowed(true);
    }
    if (kd::simd_available()) {
        std::printf("kernels: portable (for comparison)\n");
        kd::set_simd_allowed(false);
        run_all(5, c);
        kd::set_simd_allowed(true);
    }
    return 0;
}
