// Curve metrics, grid helicity and vortex-filament energy of the knot in one .fseries file, measured on
// the centred samples of its largest Fourier block.
#include "core/tarq_extensions.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/constants.hpp"
#include "core/errors.hpp"
#include "core/fourier_knot.hpp"
#include "core/interrupt.hpp"
#include "core/kernel_dispatch.hpp"
#include "core/knot_dynamics.hpp"
#include "core/tarq_extensions_detail.hpp"
#include "core/vec3.hpp"

namespace tarq::tarqext {

namespace {

constexpr double kSixteenPi = 50.26548245743669;
// Returned by the non-neighbour minimum when no pair is far enough apart along the curve.
constexpr double kNoPair = 1e300;

// Indices j of [0, n), ascending, whose cyclic separation min(|i - j|, n - |i - j|) from i exceeds m >= 0,
// as at most two half-open ranges. Returns the number of ranges.
struct Range {
    std::size_t begin;
    std::size_t end;
};

int separated_ranges(std::size_t i, std::size_t n, std::int64_t m, Range (&out)[2]) {
    const std::int64_t sn = static_cast<std::int64_t>(n);
    if (2 * m + 1 >= sn) return 0;  // every index lies within m of i
    const std::int64_t si = static_cast<std::int64_t>(i);
    const std::int64_t lo = si - m;
    const std::int64_t hi = si + m;
    auto r = [](std::int64_t b, std::int64_t e) { return Range{static_cast<std::size_t>(b), static_cast<std::size_t>(e)}; };
    if (lo < 0) {
        out[0] = r(hi + 1, sn + lo);
        return 1;
    }
    if (hi >= sn) {
        out[0] = r(hi - sn + 1, lo);
        return 1;
    }
    out[0] = r(0, lo);
    out[1] = r(hi + 1, sn);
    return 2;
}

inline double distance(const Vec3& p, const Vec3& q) {
    const double dx = q[0] - p[0];
    const double dy = q[1] - p[1];
    const double dz = q[2] - p[2];
    return std::sqrt((dx * dx + dy * dy) + dz * dz);
}

// m_loc = max(skip_neighbors_base, ceil(s_cut_local / ds_avg)); a cut-off spanning more samples than an int
// holds (or an undefined ratio of two infinities) counts as INT_MAX, which excludes every pair.
int local_exclusion(int skip_neighbors_base, double s_cut_local, double ds_avg) {
    int c = 0;
    if (ds_avg > 0.0 && s_cut_local > 0.0) {
        const double q = std::ceil(s_cut_local / ds_avg);
        c = q < static_cast<double>(INT_MAX) ? static_cast<int>(q) : INT_MAX;  // inf / inf counts as wide
    }
    return std::max(skip_neighbors_base, c);
}

// Unit forward tangents of the closed polyline; zero where two consecutive samples coincide.
std::vector<Vec3> forward_tangents(const Polyline& p) {
    const std::size_t n = p.size();
    std::vector<Vec3> t(n);
    InterruptPoller poller(kPollWork);
    for (std::size_t i = 0; i < n; ++i) {
        poller.tick();
        const Vec3 d = vec3::sub(p[i + 1 == n ? 0 : i + 1], p[i]);
        const double len = vec3::norm(d);
        t[i] = len <= 0.0 ? Vec3{0.0, 0.0, 0.0} : vec3::div(d, len);
    }
    return t;
}

// Curve and tangents as six contiguous coordinate arrays, and one row of pair terms.
struct PairColumns {
    std::vector<double> buf;
    std::size_t n;
    double *x, *y, *z, *tx, *ty, *tz, *row;
    PairColumns(const Polyline& p, const std::vector<Vec3>& t) : buf(7 * p.size()), n(p.size()) {
        x = buf.data();
        y = x + n;
        z = y + n;
        tx = z + n;
        ty = tx + n;
        tz = ty + n;
        row = tz + n;
        for (std::size_t i = 0; i < n; ++i) {
            x[i] = p[i][0];
            y[i] = p[i][1];
            z[i] = p[i][2];
            tx[i] = t[i][0];
            ty[i] = t[i][1];
            tz[i] = t[i][2];
        }
    }
};

// The term of pair (i, j) of the non-local sum, or +0.0 when the pair is left out: adding +0.0 leaves a
// sum that started at +0.0 unchanged, so a row of terms can be added in order, left-out pairs included.
inline double nonlocal_term(const PairColumns& c, std::size_t i, std::size_t j, bool cut, double delta, double ds) {
    const double dx = c.x[j] - c.x[i];
    const double dy = c.y[j] - c.y[i];
    const double dz = c.z[j] - c.z[i];
    const double r = std::sqrt((dx * dx + dy * dy) + dz * dz);
    if ((cut && r <= delta) || r <= 0.0) return 0.0;
    const double dot = (c.tx[i] * c.tx[j] + c.ty[i] * c.ty[j]) + c.tz[i] * c.tz[j];
    return ((dot / r) * ds) * ds;
}

// Adds the terms of pairs (i, b) ... (i, e - 1) to sum, in that order.
double nonlocal_row_scalar(const PairColumns& c, std::size_t i, std::size_t b, std::size_t e, bool cut, double delta,
                           double ds, double sum) {
    for (std::size_t j = b; j < e; ++j) sum += nonlocal_term(c, i, j, cut, delta, ds);
    return sum;
}

#if TARQ_HAVE_X86_SIMD
// The terms four at a time (each lane performs the scalar term's operations in the same order) into the
// row buffer, then added in order.
__attribute__((target("avx2"))) double nonlocal_row_avx2(const PairColumns& c, std::size_t i, std::size_t b,
                                                         std::size_t e, bool cut, double delta, double ds,
                                                         double sum) {
    const __m256d xi = _mm256_set1_pd(c.x[i]), yi = _mm256_set1_pd(c.y[i]), zi = _mm256_set1_pd(c.z[i]);
    const __m256d txi = _mm256_set1_pd(c.tx[i]), tyi = _mm256_set1_pd(c.ty[i]), tzi = _mm256_set1_pd(c.tz[i]);
    const __m256d vds = _mm256_set1_pd(ds), vdelta = _mm256_set1_pd(delta), zero = _mm256_setzero_pd();
    const __m256d cutmask = cut ? _mm256_castsi256_pd(_mm256_set1_epi64x(-1)) : zero;
    std::size_t j = b;
    for (; j + 4 <= e; j += 4) {
        const __m256d dx = _mm256_sub_pd(_mm256_loadu_pd(c.x + j), xi);
        const __m256d dy = _mm256_sub_pd(_mm256_loadu_pd(c.y + j), yi);
        const __m256d dz = _mm256_sub_pd(_mm256_loadu_pd(c.z + j), zi);
        const __m256d r = _mm256_sqrt_pd(
            _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(dx, dx), _mm256_mul_pd(dy, dy)), _mm256_mul_pd(dz, dz)));
        const __m256d out = _mm256_or_pd(_mm256_and_pd(cutmask, _mm256_cmp_pd(r, vdelta, _CMP_LE_OQ)),
                                         _mm256_cmp_pd(r, zero, _CMP_LE_OQ));
        const __m256d dot = _mm256_add_pd(
            _mm256_add_pd(_mm256_mul_pd(txi, _mm256_loadu_pd(c.tx + j)), _mm256_mul_pd(tyi, _mm256_loadu_pd(c.ty + j))),
            _mm256_mul_pd(tzi, _mm256_loadu_pd(c.tz + j)));
        const __m256d term = _mm256_mul_pd(_mm256_mul_pd(_mm256_div_pd(dot, r), vds), vds);
        _mm256_storeu_pd(c.row + j, _mm256_andnot_pd(out, term));
    }
    for (std::size_t k = b; k < j; ++k) sum += c.row[k];
    return nonlocal_row_scalar(c, i, j, e, cut, delta, ds, sum);
}
#endif

// Sum over ordered pairs of cyclic separation greater than m of (t_i . t_j) / r * ds * ds, i outer and j
// inner, both ascending; pairs at r <= 0, and at r <= delta when delta is positive, are left out. The
// terms of a row may be formed in any order; their sum is not reordered.
double nonlocal_pair_sum(const Polyline& p, const std::vector<Vec3>& t, std::int64_t m, double delta, double ds) {
    const std::size_t n = p.size();
    const PairColumns c(p, t);
    const bool cut = delta > 0.0;
    const bool simd = kernel_dispatch::simd_available();
    InterruptPoller poller(kPollWork);
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        Range ranges[2];
        const int nr = separated_ranges(i, n, m, ranges);
        for (int k = 0; k < nr; ++k) {
            const std::size_t b = ranges[k].begin, e = ranges[k].end;
#if TARQ_HAVE_X86_SIMD
            sum = simd ? nonlocal_row_avx2(c, i, b, e, cut, delta, ds, sum)
                       : nonlocal_row_scalar(c, i, b, e, cut, delta, ds, sum);
#else
            (void)simd;
            sum = nonlocal_row_scalar(c, i, b, e, cut, delta, ds, sum);
#endif
        }
        poller.tick(n);
    }
    return sum;
}

}  // namespace

namespace detail {

FourierBlock largest_block_of_file(const std::string& path) {
    std::vector<FourierBlock> blocks = FourierKnot::parse_fseries_multi(path);
    if (blocks.empty()) throw RuntimeError("no blocks parsed from: " + path);
    return std::move(blocks[static_cast<std::size_t>(FourierKnot::index_of_largest_block(blocks))]);
}

void check_helicity_grid(const char* operation, int grid_size, int interior_margin) {
    if (grid_size > constants::kMaxHelicityGrid)
        throw std::invalid_argument(std::string(operation) + ": grid_size above 1290");
    if (interior_margin < 0) throw std::invalid_argument(std::string(operation) + ": negative interior_margin");
}

}  // namespace detail

Polyline sample_curve_centered(const std::string& path, int nsamples) {
    const FourierBlock block = detail::largest_block_of_file(path);
    // A negative count reaches the vector's size check (std::length_error).
    std::vector<double> t(static_cast<std::size_t>(nsamples));
    const double n = static_cast<double>(nsamples);
    InterruptPoller poller(kPollWork);
    for (std::size_t i = 0; i < t.size(); ++i) {
        poller.tick();
        t[i] = (static_cast<double>(i) * constants::kTwoPi) / n;
    }
    return FourierKnot::center_points(FourierKnot::evaluate(block, t));
}

double curve_length(const Polyline& points) {
    const std::size_t n = points.size();
    if (n < 2) return 0.0;
    double L = 0.0;
    InterruptPoller poller(kPollWork);
    for (std::size_t i = 0; i < n; ++i) {
        poller.tick();
        L += distance(points[i], points[i + 1 == n ? 0 : i + 1]);
    }
    return L;
}

void curve_metrics_from_points(const Polyline& points, double& L, double& kappa_max, double& kappa_mean,
                               double& bend_energy) {
    L = curve_length(points);
    kappa_max = 0.0;
    kappa_mean = 0.0;
    bend_energy = 0.0;
    const std::size_t n = points.size();
    if (n < 3 || !(L > 0.0)) return;
    double kappa_sum = 0.0;
    InterruptPoller poller(kPollWork);
    for (std::size_t i = 0; i < n; ++i) {
        poller.tick();
        const Vec3 a = vec3::sub(points[i], points[i == 0 ? n - 1 : i - 1]);
        const Vec3 b = vec3::sub(points[i + 1 == n ? 0 : i + 1], points[i]);
        const double na = vec3::norm(a);
        const double nb = vec3::norm(b);
        const double ds = (na + nb) / 2.0;
        if (na <= 0.0 || nb <= 0.0 || ds <= 0.0) continue;
        const double kappa = vec3::norm(vec3::sub(vec3::div(b, nb), vec3::div(a, na))) / ds;
        kappa_sum += kappa;
        bend_energy += (kappa * kappa) * ds;
        if (kappa > kappa_max) kappa_max = kappa;
    }
    kappa_mean = kappa_sum / static_cast<double>(n);
}

double min_non_neighbor_distance(const Polyline& points, int skip) {
    const std::size_t n = points.size();
    if (n < 4) return 0.0;
    // A negative skip admits every pair except a point with itself.
    const std::int64_t m = std::max(skip, 0);
    const Vec3* pp = points.data();
    InterruptPoller poller(kPollWork);
    // sqrt is monotonic and correctly rounded, so the smallest distance is the root of the smallest
    // squared distance; a NaN distance never replaces the running value, in either form. Pairs (i, j) and
    // (j, i) have the same distance, so j > i suffices.
    if (2 * m + 1 >= static_cast<std::int64_t>(n)) return kNoPair;
    double best2 = INFINITY;
    for (std::size_t i = 0; i < n; ++i) {
        const Vec3 pi = pp[i];
        Range ranges[2];
        const int nr = separated_ranges(i, n, m, ranges);
        for (int k = 0; k < nr; ++k) {
            for (std::size_t j = std::max(ranges[k].begin, i + 1); j < ranges[k].end; ++j) {
                const double dx = pp[j][0] - pi[0];
                const double dy = pp[j][1] - pi[1];
                const double dz = pp[j][2] - pi[2];
                const double r2 = (dx * dx + dy * dy) + dz * dz;
                best2 = r2 < best2 ? r2 : best2;
            }
        }
        poller.tick(n);
    }
    return std::min(kNoPair, std::sqrt(best2));
}

double reach_proxy(const Polyline& points, int skip) {
    if (points.size() < 4) return 0.0;
    return 0.5 * min_non_neighbor_distance(points, skip);
}

namespace {

// The metrics every per-file result carries, from its sampled points: length, curvature, bending energy,
// the closest non-neighbour distance (0 below four points) and the reach taken from it.
template <class Result>
void set_curve_metrics(Result& r, const Polyline& points, int skip) {
    curve_metrics_from_points(points, r.L, r.kappa_max, r.kappa_mean, r.bend_energy);
    r.min_non_neighbor_dist = min_non_neighbor_distance(points, skip);
    r.reach_proxy = 0.5 * r.min_non_neighbor_dist;
}

}  // namespace

FilamentEnergyResult curve_metrics_from_fseries(const std::string& path, int nsamples, int skip) {
    const Polyline points = sample_curve_centered(path, nsamples);
    const std::size_t n = points.size();
    FilamentEnergyResult r;
    r.path = path;
    r.nsamples = nsamples;
    set_curve_metrics(r, points, skip);
    r.ds_avg = n == 0 ? 0.0 : r.L / static_cast<double>(n);
    return r;
}

namespace detail {

HelicityResult helicity_of_file(const char* operation, const std::string& path, int grid_size, double spacing,
                                int interior_margin, int nsamples) {
    const Polyline points = sample_curve_centered(path, nsamples);
    HelicityResult r;
    r.path = path;
    r.nsamples = nsamples;
    set_curve_metrics(r, points, 3);
    // The file is read again: the helicity samples the block by its own rule (end point included).
    const FourierBlock block = largest_block_of_file(path);
    // Checked once the file has been read, so that an unreadable file is reported first.
    check_helicity_grid(operation, grid_size, interior_margin);
    const HelicityInvariants h =
        KnotDynamics::compute_helicity_from_fourier_block(block, grid_size, spacing, interior_margin, nsamples);
    r.Hc = std::get<0>(h);
    r.Hm = std::get<1>(h);
    r.a_mu = std::get<2>(h);
    return r;
}

}  // namespace detail

HelicityResult helicity_from_fseries(const std::string& path, int grid_size, double spacing, int interior_margin,
                                     int nsamples) {
    return detail::helicity_of_file("helicity_from_fseries", path, grid_size, spacing, interior_margin, nsamples);
}

FilamentEnergyResult filament_energy_from_fseries(const std::string& path, const FilamentEnergyParams& params) {
    const Polyline points = sample_curve_centered(path, params.nsamples);
    const std::size_t n = points.size();
    FilamentEnergyResult r;
    r.path = path;
    r.nsamples = params.nsamples;
    set_curve_metrics(r, points, std::max(1, params.skip_neighbors_base));
    r.ds_avg = n == 0 ? 0.0 : r.L / static_cast<double>(n);
    r.m_loc = local_exclusion(params.skip_neighbors_base, params.s_cut_local, r.ds_avg);

    if (params.include_nonlocal && n >= 2) {
        const std::vector<Vec3> t = forward_tangents(points);
        const double sum = nonlocal_pair_sum(points, t, std::max(r.m_loc, 0), params.delta, r.ds_avg);
        r.E_nonlocal = ((params.rho_outer * params.Gamma * params.Gamma) / constants::kEightPi) * sum;
    }
    if (params.include_local_match && params.s_cut_local > 0.0 && params.a_core > 0.0) {
        r.E_local_match = ((params.rho_local * params.Gamma * params.Gamma) / constants::kFourPi * r.L) *
                          (std::log(params.s_cut_local / params.a_core) + params.c_rankine_outer);
    }
    if (params.include_core_int)
        r.E_core_int = (params.rho_local * params.Gamma * params.Gamma) / kSixteenPi * r.L;
    r.E_total = (r.E_nonlocal + r.E_local_match) + r.E_core_int;

    r.rho_outer = params.rho_outer;
    r.rho_local = params.rho_local;
    r.Gamma = params.Gamma;
    r.a_core = params.a_core;
    r.delta = params.delta;
    r.s_cut_local = params.s_cut_local;
    r.c_rankine_outer = params.c_rankine_outer;
    return r;
}

}  // namespace tarq::tarqext
