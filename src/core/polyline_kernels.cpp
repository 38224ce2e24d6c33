// Closed-polyline energy kernels.
#include "core/polyline_kernels.hpp"

#include <algorithm>
#include <cmath>

#include "core/constants.hpp"
#include "core/interrupt.hpp"
#include "core/vec3.hpp"

namespace tarq {
namespace {

using vec3::cross;
using vec3::dot;
using vec3::norm;
using vec3::sub;

inline Vec3 vertex(const double* xyz, std::size_t k) { return {xyz[3 * k], xyz[3 * k + 1], xyz[3 * k + 2]}; }
// Edge vector t_k of the closed polygon.
inline Vec3 edge(const double* xyz, std::size_t N, std::size_t k) {
    return sub(vertex(xyz, k + 1 == N ? 0 : k + 1), vertex(xyz, k));
}

using constants::kFourPi;

// Sum over the segment pairs i < m of the closed polygon, in order, of term(t_i, t_m, X_m - X_i).
template <class Term>
double sum_segment_pairs(const double* xyz, std::size_t N, Term term) {
    double sum = 0.0;
    InterruptPoller poller(kPollWork);
    for (std::size_t i = 0; i < N; ++i) {
        poller.tick(N - i);
        const Vec3 xi = vertex(xyz, i);
        const Vec3 ti = edge(xyz, N, i);
        for (std::size_t m = i + 1; m < N; ++m) sum += term(ti, edge(xyz, N, m), sub(vertex(xyz, m), xi));
    }
    return sum;
}

}  // namespace

double trefoil_neumann_self_energy(const double* xyz, std::size_t N, double a) {
    if (N < 2) return 0.0;
    const double a2 = a * a;
    return sum_segment_pairs(xyz, N, [a2](const Vec3& ti, const Vec3& tm, const Vec3& r) {
        return 2.0 * dot(ti, tm) / std::sqrt(dot(r, r) + a2);
    });
}

double trefoil_core_repulsion(const double* xyz, std::size_t N, double rc) {
    if (N < 3) return 0.0;
    const double two_rc = 2.0 * rc;
    double sum = 0.0;
    InterruptPoller poller(kPollWork);
    for (std::size_t i = 0; i < N; ++i) {
        poller.tick(N - i);
        const Vec3 xi = vertex(xyz, i);
        for (std::size_t j = i + 2; j < N; ++j) {
            if (i == 0 && j == N - 1) continue;  // neighbours across the closing edge
            const double x = two_rc / std::max(norm(sub(vertex(xyz, j), xi)), 1e-30);
            if (x > 0.1) sum += std::pow(x, 12.0);
        }
    }
    return sum;
}

double trefoil_polyline_length(const double* xyz, std::size_t N) {
    if (N < 2) return 0.0;
    double sum = 0.0;
    InterruptPoller poller(kPollWork);
    for (std::size_t k = 0; k < N; ++k) {
        poller.tick();
        sum += norm(edge(xyz, N, k));
    }
    return sum;
}

double trefoil_writhe_reg(const double* xyz, std::size_t N, double rc) {
    if (N < 2) return 0.0;
    const double rc2 = rc * rc;
    return sum_segment_pairs(xyz, N, [rc2](const Vec3& ti, const Vec3& tm, const Vec3& r) {
               const double D = std::sqrt(dot(r, r) + rc2);
               return 2.0 * dot(cross(ti, tm), r) / (D * D * D);
           }) /
           kFourPi;
}

double trefoil_curvature_penalty_menger(const double* xyz, std::size_t N) {
    if (N < 2) return 0.0;
    double sum = 0.0;
    InterruptPoller poller(kPollWork);
    for (std::size_t i = 0; i < N; ++i) {
        poller.tick();
        const Vec3 P = vertex(xyz, i == 0 ? N - 1 : i - 1);
        const Vec3 X = vertex(xyz, i);
        const Vec3 Q = vertex(xyz, i + 1 == N ? 0 : i + 1);
        const Vec3 a = sub(X, P), b = sub(Q, X), c = sub(Q, P);
        const double la = norm(a), lb = norm(b), lc = norm(c);
        double kappa = 0.0;
        if (la > 1e-20 && lb > 1e-20 && lc > 1e-20) kappa = 2.0 * norm(cross(a, b)) / (la * lb * lc);
        sum += kappa * kappa * (la + lb) / 2.0;
    }
    return sum;
}

}  // namespace tarq
