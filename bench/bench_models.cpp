// Timings of the particle-mass model: relaxation of the ideal trefoil with the Python defaults
// (4000 points, 1000 iterations, time step 0.01) and the zoo evaluation of the whole dictionary.
//
// Usage: bench_models [ideal_database.txt]   (default: $TARQ_IDEAL_DATABASE, else resources/ideal_database.txt)
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "models/ab_initio_mass.hpp"

namespace {

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        setenv("TARQ_IDEAL_DATABASE", argv[1], 1);
    } else if (std::getenv("TARQ_IDEAL_DATABASE") == nullptr) {
        setenv("TARQ_IDEAL_DATABASE", "resources/ideal_database.txt", 1);
    }
    try {
        auto t0 = std::chrono::steady_clock::now();
        tarq::ParticleEvaluator pe("3:1:1", 4000);
        const double t_build = seconds_since(t0);

        t0 = std::chrono::steady_clock::now();
        const std::clock_t c0 = std::clock();
        pe.relax_hamiltonian(1000, 0.01, nullptr);
        const double t_relax = seconds_since(t0);
        const double c_relax = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
        std::printf("construct 3:1:1 (4000 points): %.3f s\n", t_build);
        // CPU time is the steadier figure on a shared machine.
        std::printf("relax (1000 iterations, dt 0.01): %.3f s wall, %.3f s CPU  [target < 2 s]\n", t_relax, c_relax);
        std::printf("  ropelength %.17g, core mass %.17g MeV\n", pe.get_dimless_ropelength(1.0),
                    pe.get_core_mass_mev_only());
    } catch (const std::exception& e) {
        std::printf("relax benchmark skipped: %s\n", e.what());
    }

    const int reps = 2000;
    double checksum = 0.0;
    auto t0 = std::chrono::steady_clock::now();
    for (int r = 0; r < reps; ++r) {
        const auto all = tarq::ZooEvaluator::evaluate_all_golden_nls();
        checksum += all.back().mass_mev;
    }
    const double t_zoo = seconds_since(t0) / reps;
    std::printf("zoo evaluation of all 32 entries: %.3f us per call  [target < 10 ms]  (checksum %.3g)\n",
                t_zoo * 1e6, checksum);
    return 0;
}
