// Invariants of sampled curves: writhe, linking number, twist, centreline helicity, reconnection
// candidates, Fourier series with tangents and the Gauss writhe from positions and tangents.
//
// The three Gauss double sums share one row kernel: for a fixed i it adds ((a_i x b_j).r)/|r|^3 with
// r = p_i - q_j over a range of j, skipping |r| < 1e-6, in ascending j. The AVX2 form computes four
// terms at a time and still adds them to the single running sum in order, so both forms give the
// same bits.
#include "core/knot_dynamics.hpp"

#include <cmath>
#include <limits>
#include <stdexcept>

#include "core/constants.hpp"
#include "core/crossings.hpp"
#include "core/interrupt.hpp"
#include "core/vec3.hpp"
#include "core/kernel_dispatch.hpp"

namespace tarq {


namespace {

using constants::kTwoPi;
using constants::kFourPi;
constexpr double kSkip = 1e-6;

// Point and direction tables, one contiguous array per coordinate.
struct Columns {
    std::vector<double> buf;
    std::size_t n = 0;
    double* x() { return buf.data(); }
    double* y() { return buf.data() + n; }
    double* z() { return buf.data() + 2 * n; }
    const double* x() const { return buf.data(); }
    const double* y() const { return buf.data() + n; }
    const double* z() const { return buf.data() + 2 * n; }
    explicit Columns(std::size_t count) : buf(3 * count), n(count) {}
};

Columns columns_of(const std::vector<Vec3>& v, std::size_t count) {
    Columns c(count);
    for (std::size_t i = 0; i < count; ++i) {
        c.x()[i] = v[i][0];
        c.y()[i] = v[i][1];
        c.z()[i] = v[i][2];
    }
    return c;
}

// Segment vectors X[k+1] - X[k], k = 0 .. count - 1.
Columns differences_of(const std::vector<Vec3>& v, std::size_t count) {
    Columns c(count);
    for (std::size_t k = 0; k < count; ++k) {
        c.x()[k] = v[k + 1][0] - v[k][0];
        c.y()[k] = v[k + 1][1] - v[k][1];
        c.z()[k] = v[k + 1][2] - v[k][2];
    }
    return c;
}

struct RowItem {
    double px, py, pz;  // p_i
    double ax, ay, az;  // a_i
};

inline RowItem row_item(const Columns& P, const Columns& A, std::size_t i) {
    return {P.x()[i], P.y()[i], P.z()[i], A.x()[i], A.y()[i], A.z()[i]};
}

double gauss_row_scalar(double s, const RowItem& r, const Columns& Q, const Columns& B, std::size_t j0,
                        std::size_t j1) {
    const double* qx = Q.x();
    const double* qy = Q.y();
    const double* qz = Q.z();
    const double* bx = B.x();
    const double* by = B.y();
    const double* bz = B.z();
    for (std::size_t j = j0; j < j1; ++j) {
        const double rx = r.px - qx[j], ry = r.py - qy[j], rz = r.pz - qz[j];
        const double d = std::sqrt((rx * rx + ry * ry) + rz * rz);
        if (d < kSkip) continue;
        const double cx = r.ay * bz[j] - r.az * by[j];
        const double cy = r.az * bx[j] - r.ax * bz[j];
        const double cz = r.ax * by[j] - r.ay * bx[j];
        s += ((cx * rx + cy * ry) + cz * rz) / ((d * d) * d);
    }
    return s;
}

#if TARQ_HAVE_X86_SIMD

__attribute__((target("avx2"))) double gauss_row_avx2(double s, const RowItem& r, const Columns& Q,
                                                      const Columns& B, std::size_t j0, std::size_t j1) {
    const double* qx = Q.x();
    const double* qy = Q.y();
    const double* qz = Q.z();
    const double* bx = B.x();
    const double* by = B.y();
    const double* bz = B.z();
    const __m256d px = _mm256_set1_pd(r.px), py = _mm256_set1_pd(r.py), pz = _mm256_set1_pd(r.pz);
    const __m256d ax = _mm256_set1_pd(r.ax), ay = _mm256_set1_pd(r.ay), az = _mm256_set1_pd(r.az);
    const __m256d skip = _mm256_set1_pd(kSkip);
    double acc = s;
    std::size_t j = j0;
    for (; j + 4 <= j1; j += 4) {
        const __m256d rx = _mm256_sub_pd(px, _mm256_loadu_pd(qx + j));
        const __m256d ry = _mm256_sub_pd(py, _mm256_loadu_pd(qy + j));
        const __m256d rz = _mm256_sub_pd(pz, _mm256_loadu_pd(qz + j));
        const __m256d vbx = _mm256_loadu_pd(bx + j), vby = _mm256_loadu_pd(by + j), vbz = _mm256_loadu_pd(bz + j);
        const __m256d d = _mm256_sqrt_pd(
            _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(rx, rx), _mm256_mul_pd(ry, ry)), _mm256_mul_pd(rz, rz)));
        // keep unless d < 1e-6 (a NaN distance is kept, as in the plain loop)
        const __m256d keep = _mm256_cmp_pd(d, skip, _CMP_NLT_UQ);
        const __m256d cx = _mm256_sub_pd(_mm256_mul_pd(ay, vbz), _mm256_mul_pd(az, vby));
        const __m256d cy = _mm256_sub_pd(_mm256_mul_pd(az, vbx), _mm256_mul_pd(ax, vbz));
        const __m256d cz = _mm256_sub_pd(_mm256_mul_pd(ax, vby), _mm256_mul_pd(ay, vbx));
        const __m256d num =
            _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(cx, rx), _mm256_mul_pd(cy, ry)), _mm256_mul_pd(cz, rz));
        // A skipped pair adds +0.0: a sum that starts at +0.0 can never be -0.0, so it is unchanged.
        const __m256d t = _mm256_and_pd(keep, _mm256_div_pd(num, _mm256_mul_pd(_mm256_mul_pd(d, d), d)));
        acc = simd::add_lanes_in_order(acc, t);
    }
    return gauss_row_scalar(acc, r, Q, B, j, j1);
}

#endif  // TARQ_HAVE_X86_SIMD

using RowFn = double (*)(double, const RowItem&, const Columns&, const Columns&, std::size_t, std::size_t);

RowFn pick_row_kernel() {
#if TARQ_HAVE_X86_SIMD
    if (kernel_dispatch::simd_available()) return gauss_row_avx2;
#endif
    return gauss_row_scalar;
}

using vec3::norm;

}  // namespace

double KnotDynamics::compute_writhe(const Polyline& X) {
    const std::size_t N = X.size();
    if (N < 3) return 0.0;
    const std::size_t S = N - 1;  // open polyline: segments 0 .. N-2
    const Columns P = columns_of(X, S);
    const Columns D = differences_of(X, S);
    const RowFn row = pick_row_kernel();
    double sum = 0.0;
    InterruptPoller poller(kPollWork);
    for (std::size_t i = 0; i + 1 < S; ++i) {
        poller.tick(S - i);
        sum = row(sum, row_item(P, D, i), P, D, i + 1, S);
    }
    return sum / kTwoPi;
}

int KnotDynamics::compute_linking_number(const Polyline& A, const Polyline& B) {
    require_finite_points("compute_linking_number", A);
    require_finite_points("compute_linking_number", B);
    if (A.size() < 2 || B.size() < 2) return 0;
    const std::size_t SA = A.size() - 1, SB = B.size() - 1;
    const Columns PA = columns_of(A, SA);
    const Columns DA = differences_of(A, SA);
    const Columns PB = columns_of(B, SB);
    const Columns DB = differences_of(B, SB);
    const RowFn row = pick_row_kernel();
    double sum = 0.0;
    InterruptPoller poller(kPollWork);
    for (std::size_t i = 0; i < SA; ++i) {
        poller.tick(SB + 1);
        sum = row(sum, row_item(PA, DA, i), PB, DB, 0, SB);
    }
    const double lk = std::round(sum / kFourPi);  // halves away from zero
    // A NaN (terms that overflow for huge coordinates) or an out-of-range value has no integer; report no
    // linking.
    if (!(lk >= static_cast<double>(std::numeric_limits<int>::min()) &&
          lk <= static_cast<double>(std::numeric_limits<int>::max())))
        return 0;
    return static_cast<int>(lk);
}

double KnotDynamics::compute_twist(const std::vector<Vec3>& T, const std::vector<Vec3>& U) {
    if (U.size() < T.size()) throw std::invalid_argument("compute_twist: U shorter than T");
    const std::size_t N = T.size();
    if (N < 3) return 0.0;
    double sum = 0.0;
    InterruptPoller poller(kPollWork);
    for (std::size_t m = 1; m + 1 < N; ++m) {
        poller.tick();
        const Vec3& t = T[m];
        const Vec3& u = U[m];
        const double dx = (U[m + 1][0] - U[m - 1][0]) * 0.5;
        const double dy = (U[m + 1][1] - U[m - 1][1]) * 0.5;
        const double dz = (U[m + 1][2] - U[m - 1][2]) * 0.5;
        const double cx = t[1] * dz - t[2] * dy;
        const double cy = t[2] * dx - t[0] * dz;
        const double cz = t[0] * dy - t[1] * dx;
        sum += (cx * u[0] + cy * u[1]) + cz * u[2];
    }
    return sum / kTwoPi;
}

double KnotDynamics::compute_centerline_helicity(const Polyline& points, const std::vector<Vec3>& /*unused*/) {
    return compute_writhe(points);
}

std::vector<std::pair<int, int>> KnotDynamics::detect_reconnection_candidates(const Polyline& X, double threshold) {
    // Every distance to a NaN point compares false: its pairs would be missing from a plausible list.
    require_finite_points("detect_reconnection_candidates", X);
    std::vector<std::pair<int, int>> out;
    const std::size_t N = X.size();
    InterruptPoller poller(kPollWork);
    for (std::size_t i = 0; i < N; ++i) {
        poller.tick(N - i);
        const Vec3& a = X[i];
        for (std::size_t j = i + 5; j < N; ++j) {
            const Vec3& b = X[j];
            if (norm(a[0] - b[0], a[1] - b[1], a[2] - b[2]) < threshold)
                out.emplace_back(static_cast<int>(i), static_cast<int>(j));
        }
    }
    return out;
}

KnotDynamics::FourierResult KnotDynamics::evaluate_fourier_series(const std::vector<std::array<double, 6>>& coeffs,
                                                                  const std::vector<double>& t) {
    FourierResult r;
    r.positions.assign(t.size(), Vec3{0.0, 0.0, 0.0});
    r.tangents.assign(t.size(), Vec3{0.0, 0.0, 0.0});
    InterruptPoller poller(kPollWork);
    for (std::size_t i = 0; i < t.size(); ++i) {
        poller.tick(coeffs.size() + 1);
        double px = 0.0, py = 0.0, pz = 0.0, tx = 0.0, ty = 0.0, tz = 0.0;
        for (std::size_t k = 0; k < coeffs.size(); ++k) {
            const std::array<double, 6>& c = coeffs[k];
            const double kd = static_cast<double>(k);
            const double ang = kd * t[i];
            const double ck = std::cos(ang);
            const double sk = std::sin(ang);
            px += c[0] * ck + c[1] * sk;
            tx += kd * (c[1] * ck - c[0] * sk);
            py += c[2] * ck + c[3] * sk;
            ty += kd * (c[3] * ck - c[2] * sk);
            pz += c[4] * ck + c[5] * sk;
            tz += kd * (c[5] * ck - c[4] * sk);
        }
        r.positions[i] = {px, py, pz};
        r.tangents[i] = {tx, ty, tz};
    }
    return r;
}

double KnotDynamics::writhe_gauss_curve(const Polyline& X, const std::vector<Vec3>& T) {
    if (T.size() < X.size()) throw std::invalid_argument("writhe_gauss_curve: fewer tangents than points");
    const std::size_t N = X.size();
    double sum = 0.0;
    if (N > 0) {
        const Columns P = columns_of(X, N);
        const Columns D = columns_of(T, N);
        const RowFn row = pick_row_kernel();
        InterruptPoller poller(kPollWork);
        for (std::size_t i = 0; i < N; ++i) {
            poller.tick(N);
            const RowItem it = row_item(P, D, i);
            sum = row(sum, it, P, D, 0, i);
            sum = row(sum, it, P, D, i + 1, N);
        }
    }
    const double f = kTwoPi / static_cast<double>(N);
    return ((f * f) * sum) / kFourPi;
}

}  // namespace tarq
