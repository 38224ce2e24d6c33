// Timings of the particle-mass model: relaxation of the ideal trefoil with the Python defaults of relax()
// (4000 points, 1000 iterations, time step 0.01) and the zoo evaluation of the whole dictionary. Thread CPU time is
// the primary figure (minimum of several runs), wall time beside it.
//
// Usage: bench_models [ideal_database.txt]   (default: $TARQ_IDEAL_DATABASE, else resources/ideal_database.txt)
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "bench_support.hpp"
#include "core/kernel_dispatch.hpp"
#include "models/ab_initio_mass.hpp"

namespace {

constexpr double kRelaxTargetCpuSeconds = 0.25;

// The target applies to the kernels the dispatch picks; the narrower ones are timed for comparison only.
void time_relaxation(const tarq::ParticleEvaluator& unrelaxed, const bench::Ceiling& ceiling, const char* kernels,
                     bool check_target) {
    tarq::ParticleEvaluator relaxed = unrelaxed;
    tarq::ParticleEvaluator::RelaxationCounts counts;
    const bench::Timing t = bench::best_of(
        [&] {
            relaxed = unrelaxed;
            relaxed.relax_hamiltonian(1000, 0.01, nullptr, &counts);
        },
        5);
    const double points = 4000.0 * 1000.0;
    // Each pair inside the window costs one square root and four divisions.
    const double fraction = (static_cast<double>(counts.decided) / t.cpu) / ceiling.best;
    std::printf("relax 3:1:1 (%s; 4000 points, 1000 iterations, dt 0.01): %.3f s CPU, %.3f s wall", kernels, t.cpu,
                t.wall);
    if (check_target) {
        const bool met = t.cpu <= kRelaxTargetCpuSeconds;
        std::printf("  (target %.2f s CPU: %s)", kRelaxTargetCpuSeconds, met ? "met" : "NOT met");
    }
    std::printf("\n");
    std::printf("  %.1f pairs screened and %.2f inside the window per point and iteration; window pairs at %.1f%% of "
                "the divider ceiling\n",
                static_cast<double>(counts.screened) / points, static_cast<double>(counts.decided) / points,
                100.0 * fraction);
    std::printf("  ropelength %.17g, core mass %.17g MeV\n", relaxed.get_dimless_ropelength(1.0),
                relaxed.get_core_mass_mev_only());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        setenv("TARQ_IDEAL_DATABASE", argv[1], 1);
    } else if (std::getenv("TARQ_IDEAL_DATABASE") == nullptr) {
        setenv("TARQ_IDEAL_DATABASE", "resources/ideal_database.txt", 1);
    }
    const bench::Ceiling ceiling = bench::divider_ceiling(4);
    bench::print_ceiling("1 sqrt + 4 div", ceiling);
    try {
        const double w0 = bench::wall_seconds(), c0 = bench::thread_seconds();
        const tarq::ParticleEvaluator pe("3:1:1", 4000);
        std::printf("construct 3:1:1 (4000 points): %.3f s CPU, %.3f s wall\n", bench::thread_seconds() - c0,
                    bench::wall_seconds() - w0);
        namespace kd = tarq::kernel_dispatch;
        time_relaxation(pe, ceiling, kd::avx512_available() ? "AVX-512" : kd::simd_available() ? "AVX2" : "portable",
                        true);
        if (kd::avx512_available()) {
            kd::set_avx512_allowed(false);
            time_relaxation(pe, ceiling, "AVX2 only, for comparison", false);
            kd::set_avx512_allowed(true);
        }
        if (kd::simd_available()) {
            kd::set_simd_allowed(false);
            time_relaxation(pe, ceiling, "portable, for comparison", false);
            kd::set_simd_allowed(true);
        }
    } catch (const std::exception& e) {
        std::printf("relax benchmark skipped: %s\n", e.what());
    }

    const int reps = 2000;
    double checksum = 0.0;
    const bench::Timing t = bench::best_of(
        [&] {
            for (int r = 0; r < reps; ++r) checksum += tarq::ZooEvaluator::evaluate_all_golden_nls().back().mass_mev;
        },
        5);
    std::printf("zoo evaluation of all 32 entries: %.3f us CPU, %.3f us wall per call  [target < 10 ms]  "
                "(checksum %.3g)\n",
                t.cpu / reps * 1e6, t.wall / reps * 1e6, checksum);
    return 0;
}
