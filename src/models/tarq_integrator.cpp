// The filament mass integral: the length-proportional core mass (extended precision, narrowed once)
// and the regularised Neumann double line integral over all ordered segment pairs.
//
// The double sum is fixed to the last bit: each row i is summed over j in increasing order and the
// rows are added to the total in increasing i. The AVX2 path sums four rows at once, one per lane,
// with the same IEEE operations and no fused multiply-add.
#include "models/tarq_integrator.hpp"

#include <cmath>
#include <cstdint>

#include "core/constants.hpp"
#include "core/interrupt.hpp"
#include "core/kernel_dispatch.hpp"
#include "core/vec3.hpp"

namespace tarq {

namespace {

// Core mass per metre of filament, 3847654521182575663 * 2^-97 in the 64-bit-significand format.
constexpr long double kCoreMassPerMetre = 2.428211382846244304e-11L;
constexpr double kCoreRadiusSquared = constants::kCoreRadius * constants::kCoreRadius;  // [m^2]
constexpr double kFluidEnergyPerMetre = 2.5520118267065337e-24;  // [J/m]
constexpr double kSpeedOfLightSquared = constants::kSpeedOfLight * constants::kSpeedOfLight;  // [m^2/s^2]
static_assert(kCoreRadiusSquared == 1.985196939949829e-30, "r_c^2 as a double product");
static_assert(kSpeedOfLightSquared == 8.987551787368176e16, "c^2 as a double product");

// Points and segment vectors, one array per coordinate.
struct Columns {
    std::size_t n;
    std::vector<double> buf;
    const double* px;
    const double* py;
    const double* pz;
    const double* lx;
    const double* ly;
    const double* lz;
};

inline double row_sum(const Columns& c, std::size_t i) {
    double row = 0.0;
    for (std::size_t j = 0; j < c.n; ++j) {
        const double d2 = vec3::norm2({c.px[i] - c.px[j], c.py[i] - c.py[j], c.pz[i] - c.pz[j]});
        const double dot = (c.lx[i] * c.lx[j] + c.ly[i] * c.ly[j]) + c.lz[i] * c.lz[j];
        row += dot / std::sqrt(d2 + kCoreRadiusSquared);
    }
    return row;
}

#if TARQ_HAVE_X86_SIMD

// Rows i .. i+3 at once; the four row sums are added to s in row order.
__attribute__((target("avx2"))) double four_rows_avx2(const Columns& c, std::size_t i, double s) {
    const __m256d xi = _mm256_loadu_pd(c.px + i), yi = _mm256_loadu_pd(c.py + i), zi = _mm256_loadu_pd(c.pz + i);
    const __m256d ui = _mm256_loadu_pd(c.lx + i), vi = _mm256_loadu_pd(c.ly + i), wi = _mm256_loadu_pd(c.lz + i);
    const __m256d rc2 = _mm256_set1_pd(kCoreRadiusSquared);
    __m256d row = _mm256_setzero_pd();
    for (std::size_t j = 0; j < c.n; ++j) {
        const __m256d dx = _mm256_sub_pd(xi, _mm256_set1_pd(c.px[j]));
        const __m256d dy = _mm256_sub_pd(yi, _mm256_set1_pd(c.py[j]));
        const __m256d dz = _mm256_sub_pd(zi, _mm256_set1_pd(c.pz[j]));
        const __m256d d2 =
            _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(dx, dx), _mm256_mul_pd(dy, dy)), _mm256_mul_pd(dz, dz));
        const __m256d dot = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(ui, _mm256_set1_pd(c.lx[j])),
                                                        _mm256_mul_pd(vi, _mm256_set1_pd(c.ly[j]))),
                                          _mm256_mul_pd(wi, _mm256_set1_pd(c.lz[j])));
        row = _mm256_add_pd(row, _mm256_div_pd(dot, _mm256_sqrt_pd(_mm256_add_pd(d2, rc2))));
    }
    alignas(32) double r[4];
    _mm256_store_pd(r, row);
    return (((s + r[0]) + r[1]) + r[2]) + r[3];
}

#endif  // TARQ_HAVE_X86_SIMD

}  // namespace

void compute_tarq_mass(const std::vector<Vec3>& points, double chi_spin, double& m_core_kg, double& m_fluid_kg) {
    const std::size_t n = points.size();
    Columns c{n, std::vector<double>(6 * n), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    double* b = c.buf.data();
    double length = 0.0;
    InterruptPoller poll(kPollWork);
    for (std::size_t k = 0; k < n; ++k) {
        poll.tick();
        const Vec3 dl = vec3::sub(points[(k + 1) % n], points[k]);
        b[k] = points[k][0];
        b[n + k] = points[k][1];
        b[2 * n + k] = points[k][2];
        b[3 * n + k] = dl[0];
        b[4 * n + k] = dl[1];
        b[5 * n + k] = dl[2];
        length += vec3::norm(dl);
    }
    c.px = b;
    c.py = b + n;
    c.pz = b + 2 * n;
    c.lx = b + 3 * n;
    c.ly = b + 4 * n;
    c.lz = b + 5 * n;

    double s = 0.0;
    std::size_t i = 0;
#if TARQ_HAVE_X86_SIMD
    if (kernel_dispatch::simd_available()) {
        for (; i + 4 <= n; i += 4) {
            s = four_rows_avx2(c, i, s);
            poll.tick(4 * n);
        }
    }
#endif
    for (; i < n; ++i) {
        s += row_sum(c, i);
        poll.tick(n);
    }

    m_core_kg = static_cast<double>(kCoreMassPerMetre * static_cast<long double>(length));
    m_fluid_kg = (((chi_spin * chi_spin) * kFluidEnergyPerMetre) * s) / kSpeedOfLightSquared;
}

}  // namespace tarq
