// Timings of the field kernels and the filament mass integral: the wire and dipole fields and the
// vector potential on a 64^3 grid with 1000 sources, the mass of a 10,000-point filament and the curl
// of a 128^3 x 3 field. Thread CPU time, minimum of five runs, beside wall time.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

#include "core/kernel_dispatch.hpp"
#include "core/types.hpp"
#include "models/field_kernels.hpp"
#include "models/tarq_integrator.hpp"

namespace {

struct Timing {
    double cpu = 1e300;
    double wall = 1e300;
};

double thread_cpu_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

Timing best_of(int runs, const std::function<void()>& f) {
    Timing t;
    for (int r = 0; r < runs; ++r) {
        const auto w0 = std::chrono::steady_clock::now();
        const double c0 = thread_cpu_seconds();
        f();
        t.cpu = std::min(t.cpu, thread_cpu_seconds() - c0);
        t.wall = std::min(t.wall, std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count());
    }
    return t;
}

void report_pairs(const char* what, double pairs, const Timing& t, double target) {
    std::printf("%-44s %.3f s CPU, %.3f s wall: %.2e pairs/s  [target >= %.0e]\n", what, t.cpu, t.wall,
                pairs / t.cpu, target);
}

}  // namespace

int main() {
    const int n = 64;
    const std::size_t M = static_cast<std::size_t>(n) * n * n;
    std::vector<double> X(M), Y(M), Z(M), Bx(M), By(M), Bz(M);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            for (int k = 0; k < n; ++k) {
                const std::size_t p = (static_cast<std::size_t>(i) * n + j) * n + k;
                X[p] = -2.0 + 4.0 * i / (n - 1);
                Y[p] = -2.0 + 4.0 * j / (n - 1);
                Z[p] = -2.0 + 4.0 * k / (n - 1);
            }
    // A ring of 1000 segments (1001 points, the last repeating the first) and 1000 dipoles on it.
    tarq::Polyline wire(1001);
    std::vector<tarq::Vec3> moments(1000), positions(1000);
    for (int s = 0; s <= 1000; ++s) {
        const double t = 2.0 * M_PI * s / 1000.0;
        wire[s] = {std::cos(t), std::sin(t), 0.1 * std::sin(3.0 * t)};
    }
    for (int s = 0; s < 1000; ++s) {
        positions[s] = wire[s];
        moments[s] = {0.0, 0.0, 1.0};
    }
    const double pairs = static_cast<double>(M) * 1000.0;

    for (const bool simd : {true, false}) {
        tarq::kernel_dispatch::set_simd_allowed(simd);
        if (simd && !tarq::kernel_dispatch::simd_available()) continue;
        std::printf("-- %s kernels\n", simd ? "AVX2" : "portable");
        const auto zero = [&] {
            std::fill(Bx.begin(), Bx.end(), 0.0);
            std::fill(By.begin(), By.end(), 0.0);
            std::fill(Bz.begin(), Bz.end(), 0.0);
        };
        report_pairs("biot_savart_wire_grid, 64^3 x 1000 segments", pairs, best_of(5, [&] {
                         zero();
                         tarq::FieldKernels::biot_savart_wire_grid(X.data(), Y.data(), Z.data(), M, wire, 1.0,
                                                                   Bx.data(), By.data(), Bz.data());
                     }),
                     2e8);
        report_pairs("vector potential, 64^3 x 1000 segments", pairs, best_of(5, [&] {
                         zero();
                         tarq::FieldKernels::wire_vector_potential_grid(X.data(), Y.data(), Z.data(), M, wire, 1.0,
                                                                        Bx.data(), By.data(), Bz.data());
                     }),
                     2e8);
        report_pairs("dipole_ring_field_grid, 64^3 x 1000 dipoles", pairs, best_of(5, [&] {
                         zero();
                         tarq::FieldKernels::dipole_ring_field_grid(X.data(), Y.data(), Z.data(), M, positions,
                                                                    moments, Bx.data(), By.data(), Bz.data());
                     }),
                     2e8);

        tarq::Polyline filament(10000);
        for (int s = 0; s < 10000; ++s) {
            const double t = 2.0 * M_PI * s / 10000.0;
            const double r = 2.0 + std::cos(3.0 * t);
            filament[s] = {1e-15 * r * std::cos(2.0 * t), 1e-15 * r * std::sin(2.0 * t), 1e-15 * std::sin(3.0 * t)};
        }
        double core = 0.0, fluid = 0.0;
        const Timing tm = best_of(5, [&] { tarq::compute_tarq_mass(filament, 2.0, core, fluid); });
        std::printf("%-44s %.3f s CPU, %.3f s wall  [target < 0.5 s]  (%.6g kg, %.6g kg)\n",
                    "compute_tarq_mass, 10,000 points", tm.cpu, tm.wall, core, fluid);
    }
    tarq::kernel_dispatch::set_simd_allowed(true);

    const std::size_t nc = 128;
    std::vector<double> vel(nc * nc * nc * 3), curl(vel.size());
    for (std::size_t p = 0; p < vel.size(); ++p) vel[p] = std::sin(0.001 * static_cast<double>(p));
    const Timing tc = best_of(5, [&] { tarq::FieldKernels::curl3d_central(vel.data(), nc, nc, nc, 0.1, curl.data()); });
    std::printf("%-44s %.1f ms CPU, %.1f ms wall  [target < 100 ms]\n", "curl3d_central, 128^3 x 3", tc.cpu * 1e3,
                tc.wall * 1e3);
    return 0;
}
