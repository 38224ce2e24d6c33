// Geometric descriptors of one Fourier block: exact derivatives, curvature, length, bending energy,
// harmonic energies and minimum self-distance.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "core/constants.hpp"
#include "core/interrupt.hpp"
#include "core/vec3.hpp"
#include "core/fourier_knot.hpp"
#include "core/knot_dynamics.hpp"

namespace tarq {
namespace {

using constants::kTwoPi;

// Element k of one coefficient array; the derivative routines accept ragged blocks.
inline double coeff(const std::vector<double>& v, std::size_t k) { return k < v.size() ? v[k] : 0.0; }

std::size_t harmonic_count(const FourierBlock& b) {
    return std::max({b.a_x.size(), b.b_x.size(), b.a_y.size(), b.b_y.size(), b.a_z.size(), b.b_z.size()});
}

using vec3::cross;
using vec3::norm;

// r'(s) and r''(s) only: the hot loops of the length and bending sums need no more.
void first_two_derivatives(const FourierBlock& b, std::size_t n, double s, Vec3& d1, Vec3& d2) {
    d1 = {0.0, 0.0, 0.0};
    d2 = {0.0, 0.0, 0.0};
    const std::vector<double>* arrays[3][2] = {{&b.a_x, &b.b_x}, {&b.a_y, &b.b_y}, {&b.a_z, &b.b_z}};
    for (std::size_t k = 0; k < n; ++k) {
        const double j = static_cast<double>(k + 1);
        const double js = j * s;
        const double c = std::cos(js), sn = std::sin(js);
        for (int axis = 0; axis < 3; ++axis) {
            const double a = coeff(*arrays[axis][0], k), bb = coeff(*arrays[axis][1], k);
            d1[axis] += j * (-a * sn + bb * c);
            d2[axis] += -(j * j) * (a * c + bb * sn);
        }
    }
}

// Sum over the N parameters k h, h = 2 pi / N, of term(r'(k h), r''(k h), h), in order.
template <class Term>
double sum_over_parameters(const FourierBlock& b, std::int64_t N, Term term) {
    const std::size_t n = harmonic_count(b);
    const double h = kTwoPi / static_cast<double>(N);
    double sum = 0.0;
    Vec3 d1, d2;
    InterruptPoller poller(kPollWork);
    for (std::int64_t k = 0; k < N; ++k) {
        poller.tick(n + 1);
        first_two_derivatives(b, n, static_cast<double>(k) * h, d1, d2);
        sum += term(d1, d2, h);
    }
    return sum;
}

// Sum of |r'(k h)| h over N parameters.
double length_sum(const FourierBlock& b, std::int64_t N) {
    return sum_over_parameters(b, N, [](const Vec3& d1, const Vec3&, double h) { return norm(d1) * h; });
}

// Sum of kappa^2 v h over N parameters, v the speed clamped from below by eps.
double bending_sum(const FourierBlock& b, std::int64_t N, double eps) {
    return sum_over_parameters(b, N, [eps](const Vec3& d1, const Vec3& d2, double h) {
        const double v = std::max(eps, norm(d1));
        const double kappa = norm(cross(d1, d2)) / (v * v * v);
        return kappa * kappa * v * h;
    });
}

// The block sampled at t_i = 2 pi i / N, end point excluded.
Polyline sample_open(const FourierBlock& b, std::int64_t N) { return FourierKnot::evaluate(b, FourierKnot::open_parameters(N)); }

}  // namespace

std::tuple<Vec3, Vec3, Vec3, Vec3> FourierKnot::evaluate_with_derivatives(const FourierBlock& block, double s) {
    Vec3 r{0.0, 0.0, 0.0}, d1{0.0, 0.0, 0.0}, d2{0.0, 0.0, 0.0}, d3{0.0, 0.0, 0.0};
    const std::vector<double>* arrays[3][2] = {
        {&block.a_x, &block.b_x}, {&block.a_y, &block.b_y}, {&block.a_z, &block.b_z}};
    const std::size_t n = harmonic_count(block);
    InterruptPoller poller(kPollWork);
    for (std::size_t k = 0; k < n; ++k) {
        poller.tick();
        const double j = static_cast<double>(k + 1);
        const double js = j * s;
        const double c = std::cos(js), sn = std::sin(js);
        const double j2 = j * j, j3 = j * j * j;
        for (int axis = 0; axis < 3; ++axis) {
            const double a = coeff(*arrays[axis][0], k), b = coeff(*arrays[axis][1], k);
            r[axis] += a * c + b * sn;
            d1[axis] += j * (-a * sn + b * c);
            d2[axis] += -j2 * (a * c + b * sn);
            d3[axis] += j3 * (a * sn - b * c);
        }
    }
    return {r, d1, d2, d3};
}

std::vector<double> FourierKnot::curvature_exact(const FourierBlock& block, const std::vector<double>& s,
                                                 double eps) {
    std::vector<double> out;
    out.reserve(s.size());
    const std::size_t n = harmonic_count(block);
    Vec3 d1, d2;
    InterruptPoller poller(kPollWork);
    for (const double si : s) {
        poller.tick(n + 1);
        first_two_derivatives(block, n, si, d1, d2);
        const double v = std::max(eps, norm(d1));
        out.push_back(norm(cross(d1, d2)) / (v * v * v));
    }
    return out;
}

double FourierKnot::length_exact(const FourierBlock& block, int nsamples) {
    return length_sum(block, std::max<std::int64_t>(nsamples, 16));
}

double FourierKnot::bending_energy_exact(const FourierBlock& block, int nsamples, double eps) {
    return bending_sum(block, std::max<std::int64_t>(nsamples, 32), eps);
}

std::vector<double> FourierKnot::mode_energies(const FourierBlock& block) {
    const std::size_t n = harmonic_count(block);
    std::vector<double> out(n);
    InterruptPoller poller(kPollWork);
    for (std::size_t k = 0; k < n; ++k) {
        poller.tick();
        const double ax = coeff(block.a_x, k), bx = coeff(block.b_x, k), ay = coeff(block.a_y, k);
        const double by = coeff(block.b_y, k), az = coeff(block.a_z, k), bz = coeff(block.b_z, k);
        out[k] = ax * ax + bx * bx + ay * ay + by * by + az * az + bz * bz;
    }
    return out;
}

double FourierKnot::min_self_distance_sampled(const Polyline& p, int exclude_window) {
    const std::size_t N = p.size();
    if (N < 4) return 0.0;
    const auto window = static_cast<std::int64_t>(exclude_window);
    double best = std::numeric_limits<double>::infinity();
    InterruptPoller poller(kPollWork);
    for (std::size_t i = 0; i < N; ++i) {
        poller.tick(N - i);
        const Vec3& a = p[i];
        for (std::size_t j = i + 1; j < N; ++j) {
            const std::size_t d = j - i;
            const auto gap = static_cast<std::int64_t>(std::min(d, N - d));
            if (gap <= window) continue;
            const double dist = norm(vec3::sub(p[j], a));
            if (dist < best) best = dist;
        }
    }
    return std::isinf(best) ? 0.0 : best;
}

double FourierKnot::min_self_distance_exactish(const FourierBlock& block, int nsamples, int exclude_window) {
    return min_self_distance_sampled(sample_open(block, std::max<std::int64_t>(nsamples, 64)), exclude_window);
}

FourierKnot::GeometricDescriptors FourierKnot::describe_fourier_block(const FourierBlock& block, int nsamples,
                                                                      int exclude_window) {
    const std::int64_t N = std::max<std::int64_t>(nsamples, 64);
    const std::int64_t M = std::max<std::int64_t>(4 * N, 512);  // 64-bit: 4 N exceeds int for large N
    const Polyline samples = sample_open(block, N);
    GeometricDescriptors out;
    out.L = length_sum(block, M);
    out.bending_energy = bending_sum(block, M, 1e-12);
    out.min_self_distance = min_self_distance_sampled(samples, exclude_window);
    out.writhe = KnotDynamics::compute_writhe(samples);
    out.mode_energy = mode_energies(block);
    return out;
}

}  // namespace tarq
