// Fourier-series curve model: evaluation of blocks, centring, discrete curvature, block choice.
#include "core/fourier_knot.hpp"

#include <cmath>
#include <stdexcept>
#include <utility>

#include "core/constants.hpp"
#include "core/interrupt.hpp"
#include "core/vec3.hpp"

namespace tarq {

namespace {

using constants::kTwoPi;

// Coefficient k of one array; arrays shorter than a_x contribute zeros so that a
// ragged block (fields are writable from Python) never reads out of bounds.
inline double coeff(const std::vector<double>& v, std::size_t k) { return k < v.size() ? v[k] : 0.0; }

inline bool is_rectangular(const FourierBlock& b) {
    const std::size_t n = b.a_x.size();
    return b.b_x.size() >= n && b.a_y.size() >= n && b.b_y.size() >= n && b.a_z.size() >= n && b.b_z.size() >= n;
}

// Element k of the block is harmonic k + 1; there is no constant term.
inline Vec3 eval_rect(const FourierBlock& b, double u) {
    const std::size_t n = b.a_x.size();
    const double* ax = b.a_x.data();
    const double* bx = b.b_x.data();
    const double* ay = b.a_y.data();
    const double* by = b.b_y.data();
    const double* az = b.a_z.data();
    const double* bz = b.b_z.data();
    double x = 0.0, y = 0.0, z = 0.0;
    for (std::size_t k = 0; k < n; ++k) {
        const double ang = static_cast<double>(k + 1) * u;
        const double c = std::cos(ang);
        const double s = std::sin(ang);
        x += ax[k] * c + bx[k] * s;
        y += ay[k] * c + by[k] * s;
        z += az[k] * c + bz[k] * s;
    }
    return {x, y, z};
}

inline Vec3 eval_ragged(const FourierBlock& b, double u) {
    const std::size_t n = b.a_x.size();
    double x = 0.0, y = 0.0, z = 0.0;
    for (std::size_t k = 0; k < n; ++k) {
        const double ang = static_cast<double>(k + 1) * u;
        const double c = std::cos(ang);
        const double s = std::sin(ang);
        x += b.a_x[k] * c + coeff(b.b_x, k) * s;
        y += coeff(b.a_y, k) * c + coeff(b.b_y, k) * s;
        z += coeff(b.a_z, k) * c + coeff(b.b_z, k) * s;
    }
    return {x, y, z};
}

inline Vec3 eval_block(const FourierBlock& b, bool rect, double u) { return rect ? eval_rect(b, u) : eval_ragged(b, u); }

using vec3::norm;

}  // namespace

Polyline FourierKnot::evaluate(const FourierBlock& block, const std::vector<double>& s) {
    // Reserved, not zeroed: the pages of a huge set are first touched inside the polled loop.
    Polyline out;
    out.reserve(s.size());
    const bool rect = is_rectangular(block);
    InterruptPoller poller(kPollWork);
    for (std::size_t i = 0; i < s.size(); ++i) {
        out.push_back(eval_block(block, rect, s[i]));
        poller.tick(block.a_x.size() + 1);
    }
    return out;
}

Vec3 FourierKnot::evalPoint(const FourierBlock& block, double t) { return eval_block(block, is_rectangular(block), t); }

Polyline FourierKnot::center_points(const Polyline& points) {
    Polyline out;
    if (points.empty()) return out;
    double sx = 0.0, sy = 0.0, sz = 0.0;
    InterruptPoller poller(kPollWork);
    for (const Vec3& p : points) {
        poller.tick();
        sx += p[0];
        sy += p[1];
        sz += p[2];
    }
    const double n = static_cast<double>(points.size());
    const double mx = sx / n, my = sy / n, mz = sz / n;
    out.reserve(points.size());
    for (const Vec3& p : points) {
        poller.tick();
        out.push_back({p[0] - mx, p[1] - my, p[2] - mz});
    }
    return out;
}

std::vector<double> FourierKnot::closed_parameters(std::int64_t n) {
    std::vector<double> s(static_cast<std::size_t>(n));
    if (n == 1) {
        s[0] = 0.0;
        return s;
    }
    const double divisor = static_cast<double>(n - 1);
    InterruptPoller poller(kPollWork);
    for (std::int64_t i = 0; i < n; ++i) {
        poller.tick();
        s[static_cast<std::size_t>(i)] = (static_cast<double>(i) * kTwoPi) / divisor;
    }
    return s;
}

double FourierKnot::open_parameter(std::int64_t i, std::int64_t n) {
    return (static_cast<double>(i) * kTwoPi) / static_cast<double>(n);
}

std::vector<double> FourierKnot::open_parameters(std::int64_t n) {
    std::vector<double> s(static_cast<std::size_t>(n));
    InterruptPoller poller(kPollWork);
    for (std::int64_t i = 0; i < n; ++i) {
        poller.tick();
        s[static_cast<std::size_t>(i)] = open_parameter(i, n);
    }
    return s;
}

Polyline FourierKnot::sample_closed_centred(const FourierBlock& block, std::int64_t n) {
    return center_points(evaluate(block, closed_parameters(n)));
}

std::vector<double> FourierKnot::curvature(const Polyline& points, double eps) {
    const std::size_t n = points.size();
    std::vector<double> kappa(n, 0.0);
    if (n < 3) return kappa;
    InterruptPoller poller(kPollWork);
    for (std::size_t i = 0; i < n; ++i) {
        poller.tick();
        const Vec3& p = points[i];
        const Vec3& pp = points[(i + n - 1) % n];
        const Vec3& pn = points[i + 1 == n ? 0 : i + 1];
        const Vec3 d1{(pn[0] - pp[0]) * 0.5, (pn[1] - pp[1]) * 0.5, (pn[2] - pp[2]) * 0.5};
        const Vec3 d2{(pn[0] - 2.0 * p[0]) + pp[0], (pn[1] - 2.0 * p[1]) + pp[1], (pn[2] - 2.0 * p[2]) + pp[2]};
        kappa[i] = norm(vec3::cross(d1, d2)) / (std::pow(norm(d1), 3.0) + eps);
    }
    return kappa;
}

int FourierKnot::index_of_largest_block(const std::vector<FourierBlock>& blocks) {
    if (blocks.empty()) return -1;
    std::size_t best = 0;
    std::size_t best_len = blocks[0].a_x.size();
    InterruptPoller poller(kPollWork);
    for (std::size_t i = 1; i < blocks.size(); ++i) {
        poller.tick();
        if (blocks[i].a_x.size() > best_len) {
            best = i;
            best_len = blocks[i].a_x.size();
        }
    }
    return static_cast<int>(best);
}

void FourierKnot::selectMaxHarmonics() {
    if (blocks.empty()) throw std::runtime_error("No Fourier blocks loaded");
    activeBlock = blocks[static_cast<std::size_t>(index_of_largest_block(blocks))];
}

void FourierKnot::reconstruct(std::size_t N) {
    if (activeBlock.a_x.empty()) throw std::runtime_error("No active Fourier block selected");
    // Filled aside so that a failed allocation or an interrupt leaves the previous samples in place.
    Polyline out;
    out.reserve(N);
    const double h = kTwoPi / static_cast<double>(N);
    const bool rect = is_rectangular(activeBlock);
    InterruptPoller poller(kPollWork);
    for (std::size_t i = 0; i < N; ++i) {
        out.push_back(eval_block(activeBlock, rect, static_cast<double>(i) * h));
        poller.tick(activeBlock.a_x.size() + 1);
    }
    points = std::move(out);
}

}  // namespace tarq
