// The particle evaluator's lengths, energies and masses, and its relativistic metrics.
#include "models/ab_initio_mass.hpp"

#include <cstddef>
#include <vector>

#include "core/biot_savart.hpp"
#include "core/constants.hpp"
#include "core/frenet_helicity.hpp"
#include "core/interrupt.hpp"
#include "models/particle_geometry.hpp"
#include "models/time_field.hpp"

namespace tarq {

namespace {

using constants::kElectronRadius;
using constants::kMeV;
using constants::kSwirlSpeed;

constexpr double kCoreTension = 14.5267535;           // F_max / 2 [J/m]
constexpr double kPiRc2 = 6.236680122475321e-30;

}  // namespace

double ParticleEvaluator::total_length() const {
    double L = 0.0;
    for (const Polyline& p : filaments) L = particle::add_closed_length(p, L);
    return L;
}

double ParticleEvaluator::get_dimless_ropelength(double stretch_lambda) const {
    return (total_length() / kElectronRadius) / (stretch_lambda * stretch_lambda);
}

double ParticleEvaluator::get_physical_length_m() const { return (total_length() / kElectronRadius) * kElectronRadius; }

double ParticleEvaluator::compute_core_energy_J() const { return get_physical_length_m() * kCoreTension; }

double ParticleEvaluator::compute_tail_energy_J(bool include_tail) const {
    return include_tail ? compute_tail_energy_surrogate_J() : 0.0;
}

double ParticleEvaluator::get_mass_mev_ab_initio(bool include_tail) const {
    const double e_core = compute_core_energy_J();
    const double e_tail = include_tail ? compute_tail_energy_surrogate_J() : 0.0;
    return (e_core + e_tail) / kMeV;
}

double ParticleEvaluator::get_core_mass_mev_only() const { return compute_core_energy_J() / kMeV; }

// ---------------------------------------------------------------------------------------------------------------
// Relativistic metrics

ParticleEvaluator::RelativisticMetrics ParticleEvaluator::compute_relativistic_metrics(double circulation) const {
    RelativisticMetrics out{0.0, {}, 1.0};
    if (filaments.empty() || filaments[0].empty()) return out;
    const Polyline& X = filaments[0];
    const std::size_t n = X.size();
    std::vector<Vec3> T, N, B;
    if (n >= 2) {
        FrenetHelicity::compute_frenet_frames(X, T, N, B);
    } else {
        // A single point has no direction: a zero tangent, so it induces no flow.
        T.assign(n, Vec3{0.0, 0.0, 0.0});
    }
    std::vector<Vec3> v, w(n);
    BiotSavart::velocities_at_points(X, T, circulation, v);
    const double wscale = circulation / kPiRc2;
    InterruptPoller poller(kPollWork);
    for (std::size_t i = 0; i < n; ++i) {
        poller.tick();
        w[i] = v_mul(T[i], wscale);
    }
    out.helicity = static_cast<double>(FrenetHelicity::compute_helicity(v, w));
    out.time_dilation_map = TimeField::compute_time_dilation_map_sqrt(v, kSwirlSpeed);
    double sum = 0.0;
    for (double d : out.time_dilation_map) {
        poller.tick();
        sum += d;
    }
    out.core_time_dilation = sum / static_cast<double>(n);
    return out;
}

}  // namespace tarq
