// Timing of the crossing-number estimate and the PD code on a 1000-point closed trefoil with the
// default projection counts (24 directions, 40 tries). Budget: 50 ms each of thread CPU time (minimum of five
// runs; wall time beside).
#include <cmath>
#include <cstdio>

#include "bench_support.hpp"
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

}  // namespace

int main() {
    const tarq::Polyline curve = trefoil(1000);
    int crossings = 0;
    std::size_t rows = 0;
    const bench::Timing t_est =
        bench::best_of([&] { crossings = tarq::KnotDynamics::estimate_crossing_number(curve, 24, 12345); }, 5);
    const bench::Timing t_pd =
        bench::best_of([&] { rows = tarq::KnotDynamics::pd_from_curve(curve, 40, 12345, 1.0, 1e-6).size(); }, 5);
    std::printf("estimate_crossing_number (N=1000, 24 directions): %.3f ms CPU, %.3f ms wall, result %d\n",
                t_est.cpu * 1e3, t_est.wall * 1e3, crossings);
    std::printf("pd_from_curve            (N=1000, 40 tries):      %.3f ms CPU, %.3f ms wall, %zu crossings\n",
                t_pd.cpu * 1e3, t_pd.wall * 1e3, rows);
    const bool ok = t_est.cpu <= 50e-3 && t_pd.cpu <= 50e-3;
    std::printf("%s (budget 50 ms each)\n", ok ? "within budget" : "OVER BUDGET");
    return ok ? 0 : 1;
}
