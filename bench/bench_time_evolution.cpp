// Times TimeEvolution on a 1000-point trefoil for 100 steps: thread CPU time (best of several runs) beside wall time,
// and the point law's share of the divider ceiling.
#include <cmath>
#include <cstdio>
#include <vector>

#include "bench_support.hpp"
#include "core/time_evolution.hpp"

int main() {
    const int n = 1000;
    const int steps = 100;
    std::vector<tarq::Vec3> X(n), T(n);
    for (int i = 0; i < n; ++i) {
        const double s = 2.0 * M_PI * i / n;
        X[i] = {std::sin(s) + 2.0 * std::sin(2.0 * s), std::cos(s) - 2.0 * std::cos(2.0 * s), -std::sin(3.0 * s)};
        T[i] = {std::cos(s) + 4.0 * std::cos(2.0 * s), -std::sin(s) + 4.0 * std::sin(2.0 * s), -3.0 * std::cos(3.0 * s)};
    }
    const bench::Ceiling ceiling = bench::divider_ceiling(1);
    bench::print_ceiling("1 sqrt + 1 div", ceiling);
    tarq::Vec3 p{};
    const bench::Timing t = bench::best_of(
        [&] {
            tarq::TimeEvolution te(X, T, 1.0);
            te.evolve(1e-4, steps);
            p = te.get_positions()[0];
        },
        7);
    const double pairs = double(n) * n * steps;
    std::printf("TimeEvolution: %d points, %d steps: %.4f s CPU, %.4f s wall (%.2f ns per velocity term, %.1f%% of "
                "ceiling); p0 = (%.6f, %.6f, %.6f)\n",
                n, steps, t.cpu, t.wall, t.cpu * 1e9 / pairs, 100.0 * pairs / t.cpu / ceiling.best, p[0], p[1], p[2]);
    return 0;
}
