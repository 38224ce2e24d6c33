// The particle evaluator's tail-energy surrogate and its vector helpers.
#include "models/ab_initio_mass.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/constants.hpp"
#include "core/interrupt.hpp"
#include "core/vec3.hpp"
#include "models/particle_geometry.hpp"

namespace tarq {

namespace {

using constants::kPi;
using constants::kTwoPi;

constexpr double kRc = constants::kCoreRadius;
constexpr double kKernelCoeff = 7.705979316274285e-10;  // r_c v_swirl / 2

// ceil(d_excl / mean segment) as an int; NaN or values beyond the int range saturate to INT_MAX.
int exclusion_count(double d_excl, double L, std::size_t n) {
    const double m = std::ceil(d_excl / std::max(1e-30, L / static_cast<double>(n)));
    if (!(m < static_cast<double>(INT_MAX))) return INT_MAX;
    if (m < 2.0) return 1;
    return static_cast<int>(m);
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------------
// Vector helpers: the shared ones, except the norm, which sums z first.

Vec3 ParticleEvaluator::v_add(const Vec3& a, const Vec3& b) { return vec3::add(a, b); }

Vec3 ParticleEvaluator::v_mul(const Vec3& a, double s) { return vec3::scale(a, s); }

double ParticleEvaluator::v_dot(const Vec3& a, const Vec3& b) { return vec3::dot(a, b); }

Vec3 ParticleEvaluator::v_cross(const Vec3& a, const Vec3& b) { return vec3::cross(a, b); }

double ParticleEvaluator::v_norm(const Vec3& a) { return std::sqrt(a[2] * a[2] + (a[0] * a[0] + a[1] * a[1])); }

Vec3 ParticleEvaluator::v_unit(const Vec3& a) {
    const double n = v_norm(a);
    if (n < 1e-30) return {1.0, 0.0, 0.0};
    return v_mul(a, 1.0 / n);
}

// ---------------------------------------------------------------------------------------------------------------
// Tail surrogate

void ParticleEvaluator::local_frame_at_index(std::size_t f, std::size_t i, Vec3& T, Vec3& N, Vec3& B) const {
    if (f >= filaments.size() || filaments[f].size() <= 2) {
        T = {1.0, 0.0, 0.0};
        N = {0.0, 1.0, 0.0};
        B = {0.0, 0.0, 1.0};
        return;
    }
    const Polyline& P = filaments[f];
    const std::size_t n = P.size();
    const std::size_t prev = (i + n - 1) % n;
    const std::size_t next = (i + 1) % n;
    T = v_unit(P[next] - P[prev]);
    const Vec3 axis = (std::fabs(T[2]) < 0.9) ? Vec3{0.0, 0.0, 1.0} : Vec3{0.0, 1.0, 0.0};
    N = v_unit(v_cross(axis, T));
    B = v_unit(v_cross(T, N));
    N = v_cross(B, T);
}

Vec3 ParticleEvaluator::induced_velocity(const Vec3& X, std::size_t f, std::size_t i, double d_excl,
                                         const std::vector<double>& lengths) const {
    Vec3 v = {0.0, 0.0, 0.0};
    const int ii = static_cast<int>(i);
    for (std::size_t g = 0; g < filaments.size(); ++g) {
        const Polyline& P = filaments[g];
        const std::size_t ng = P.size();
        if (ng < 2) continue;
        const int m = exclusion_count(d_excl, lengths[g], ng);
        const int n_int = static_cast<int>(ng);
        for (std::size_t j = 0; j < ng; ++j) {
            if (g == f) {
                const int dist = std::abs(static_cast<int>(j) - ii);
                const int cyc = std::min(n_int - dist, dist);
                if (!(cyc > m)) continue;
            }
            const Vec3& a = P[j];
            const Vec3& b = P[(j + 1) % ng];
            const Vec3 r = v_add(v_mul(v_add(a, b), -0.5), X);
            const double t = ((r[0] * r[0] + r[1] * r[1]) + r[2] * r[2]) + 1e-24;
            const double k = (1.0 / (std::sqrt(t) * t)) * kKernelCoeff;
            const Vec3 dl = b - a;
            v = v_add(v, v_mul(v_cross(dl, r), k));
        }
    }
    return v;
}

Vec3 ParticleEvaluator::induced_velocity_bs_surrogate(const Vec3& X, std::size_t f, std::size_t i,
                                                      double d_excl) const {
    std::vector<double> lengths(filaments.size(), 0.0);
    for (std::size_t g = 0; g < filaments.size(); ++g) lengths[g] = particle::closed_length(filaments[g]);
    return induced_velocity(X, f, i, d_excl, lengths);
}

double ParticleEvaluator::compute_tail_energy_surrogate_J() const {
    const TailApproxConfig& cfg = tail_config;
    if (!cfg.enabled || filaments.empty()) return 0.0;
    const int nr = cfg.radial_samples >= 2 ? cfg.radial_samples : 1;
    const int na = cfg.azimuth_samples >= 2 ? cfg.azimuth_samples : 1;
    // Written so that a NaN factor falls back to the lower bound.
    const double f_min = (cfg.r_min_factor > 1.01) ? cfg.r_min_factor : 1.01;
    const double r_min = f_min * kRc;
    const double r_out_cand = cfg.r_max_factor * kRc;
    const double r_max = (r_out_cand > 1.1 * r_min) ? r_out_cand : 1.1 * r_min;

    std::vector<double> edges(static_cast<std::size_t>(nr) + 1);
    InterruptPoller poller(kPollWork);
    for (int s = 0; s <= nr; ++s) {
        poller.tick();
        edges[static_cast<std::size_t>(s)] =
            (static_cast<double>(s) / static_cast<double>(nr)) * (r_max - r_min) + r_min;
    }

    // Lengths do not change during the sum; computing them once gives the same values as per sample.
    std::vector<double> lengths(filaments.size(), 0.0);
    for (std::size_t g = 0; g < filaments.size(); ++g) lengths[g] = particle::closed_length(filaments[g]);

    std::uint64_t points = 0;
    for (const Polyline& p : filaments) points += p.size();
    const std::uint64_t work_per_shell = static_cast<std::uint64_t>(na) * points + 1;

    double E = 0.0;
    std::vector<double> ds;
    for (std::size_t f = 0; f < filaments.size(); ++f) {
        const Polyline& P = filaments[f];
        const std::size_t n = P.size();
        if (n < 3) continue;
        ds.assign(n, 0.0);
        double L_f = 0.0;
        for (std::size_t k = 0; k < n; ++k) {
            poller.tick();
            const Vec3 d = P[(k + 1) % n] - P[k];
            ds[k] = std::sqrt((d[0] * d[0] + d[1] * d[1]) + d[2] * d[2]);
            L_f += ds[k];
        }
        const double d_excl = (L_f / static_cast<double>(n)) * cfg.exclusion_ds_factor;
        for (std::size_t i = 0; i < n; ++i) {
            Vec3 T, N, B;
            local_frame_at_index(f, i, T, N, B);
            for (int s = 0; s < nr; ++s) {
                poller.tick(work_per_shell);
                const double r_in = edges[static_cast<std::size_t>(s)];
                const double r_out = edges[static_cast<std::size_t>(s) + 1];
                const double rho = (r_in + r_out) * 0.5;
                double S = 0.0;
                for (int a = 0; a < na; ++a) {
                    const double phi = ((static_cast<double>(a) + 0.5) * kTwoPi) / static_cast<double>(na);
                    const Vec3 X = v_add(v_add(P[i], v_mul(N, rho * std::cos(phi))), v_mul(B, rho * std::sin(phi)));
                    const Vec3 v = induced_velocity(X, f, i, d_excl, lengths);
                    S += (v[0] * v[0] + v[1] * v[1]) + v[2] * v[2];
                }
                E += ((S / static_cast<double>(na)) * 3.435e-7) * (((r_out * r_out - r_in * r_in) * kPi) * ds[i]);
            }
        }
    }
    return E;
}

void ParticleEvaluator::set_tail_approx_config(const TailApproxConfig& config) { tail_config = config; }

ParticleEvaluator::TailApproxConfig ParticleEvaluator::get_tail_approx_config() const { return tail_config; }

}  // namespace tarq
