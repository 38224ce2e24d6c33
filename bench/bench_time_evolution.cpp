// Times TimeEvolution on a 1000-point trefoil for 100 steps (target: well under a second).
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

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
    tarq::TimeEvolution te(X, T, 1.0);
    const auto t0 = std::chrono::steady_clock::now();
    te.evolve(1e-4, steps);
    const auto t1 = std::chrono::steady_clock::now();
    const double secs = std::chrono::duration<double>(t1 - t0).count();
    const tarq::Vec3& p = te.get_positions()[0];
    std::printf("TimeEvolution: %d points, %d steps: %.3f s (%.1f ns per velocity term); p0 = (%.6f, %.6f, %.6f)\n",
                n, steps, secs, secs * 1e9 / (double(n) * n * steps), p[0], p[1], p[2]);
    return 0;
}
