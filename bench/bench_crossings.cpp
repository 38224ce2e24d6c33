// Timing of the crossing-number estimate and the PD code on a 1000-point closed trefoil with the
// default projection counts (24 directions, 40 tries). Budget: 50 ms each.
#include <chrono>
#include <cmath>
#include <cstdio>

#include "core/knot_dynamics.hpp"

namespace {

tarq::Polyline trefoil(int n) {
    tarq::Polyline p;
    for (int i = 0; i < n; ++i) {
        const double t = 6.283185307179586 * i / n;
        p.push_back({std::sin(t) + 2 * std::sin(2 * t), std::cos(t) - 2 * std::cos(2 * t), -std::sin(3 * t)});
    }
    return p;
}

template <class F>
double best_ms(F&& f, int reps) {
    double best = 1e300;
    for (int r = 0; r < reps; ++r) {
        const auto t0 = std::chrono::steady_clock::now();
        f();
        const auto t1 = std::chrono::steady_clock::now();
        best = std::fmin(best, std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    return best;
}

}  // namespace

int main() {
    const tarq::Polyline curve = trefoil(1000);
    int crossings = 0;
    std::size_t rows = 0;
    const double t_est = best_ms([&] { crossings = tarq::KnotDynamics::estimate_crossing_number(curve, 24, 12345); }, 5);
    const double t_pd = best_ms([&] { rows = tarq::KnotDynamics::pd_from_curve(curve, 40, 12345, 1.0, 1e-6).size(); }, 5);
    std::printf("estimate_crossing_number (N=1000, 24 directions): %.3f ms, result %d\n", t_est, crossings);
    std::printf("pd_from_curve            (N=1000, 40 tries):      %.3f ms, %zu crossings\n", t_pd, rows);
    const bool ok = t_est <= 50.0 && t_pd <= 50.0;
    std::printf("%s (budget 50 ms each)\n", ok ? "within budget" : "OVER BUDGET");
    return ok ? 0 : 1;
}
