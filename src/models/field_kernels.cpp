// Field kernels: point dipoles and wires on grids of points, the wire's vector potential and the
// periodic curl.
//
// Every output element is a sum fixed to the last bit: the grid loops visit the points in blocks
// that stay in cache, but each element still receives its source terms in source order. The AVX2
// paths only evaluate four grid points at once with the same IEEE operations (+, -, *, / and sqrt
// round alike in every lane) and no fused multiply-add.
#include "models/field_kernels.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "core/constants.hpp"
#include "core/interrupt.hpp"
#include "core/kernel_dispatch.hpp"
#include "core/vec3.hpp"

namespace tarq {

namespace {

using constants::kInvFourPi;

constexpr double kDistanceFloor = 1e-12;
// Grid points per cache block: six arrays of this many doubles stay in the level-2 cache.
constexpr std::size_t kBlock = 2048;

inline Vec3 dipole_field(double rx, double ry, double rz, const Vec3& m) {
    const double d2 = (rx * rx + ry * ry) + rz * rz;
    const double rho = std::sqrt(d2);
    if (rho < kDistanceFloor) return {0.0, 0.0, 0.0};
    const double s = 3.0 * ((m[0] * rx + m[1] * ry) + m[2] * rz) / d2;
    const double f = 1.0 / (d2 * rho);
    return {((s * rx - m[0]) * kInvFourPi) * f, ((s * ry - m[1]) * kInvFourPi) * f,
            ((s * rz - m[2]) * kInvFourPi) * f};
}

// Segment midpoints and vectors of an open wire, one array per coordinate.
struct Segments {
    std::size_t count = 0;
    std::vector<double> buf;
    const double* mx = nullptr;
    const double* my = nullptr;
    const double* mz = nullptr;
    const double* lx = nullptr;
    const double* ly = nullptr;
    const double* lz = nullptr;

    explicit Segments(const Polyline& wire) : count(wire.size() < 2 ? 0 : wire.size() - 1), buf(6 * count) {
        double* b = buf.data();
        for (std::size_t s = 0; s < count; ++s) {
            const Vec3 mid = vec3::scale(vec3::add(wire[s], wire[s + 1]), 0.5);
            const Vec3 dl = vec3::sub(wire[s + 1], wire[s]);
            b[s] = mid[0];
            b[count + s] = mid[1];
            b[2 * count + s] = mid[2];
            b[3 * count + s] = dl[0];
            b[4 * count + s] = dl[1];
            b[5 * count + s] = dl[2];
        }
        mx = b;
        my = b + count;
        mz = b + 2 * count;
        lx = b + 3 * count;
        ly = b + 4 * count;
        lz = b + 5 * count;
    }
};

// One grid block [j0, j1) and one source, portable form.
void dipole_block_scalar(const double* X, const double* Y, const double* Z, std::size_t j0, std::size_t j1,
                         const Vec3& p, const Vec3& m, double* Bx, double* By, double* Bz) {
    for (std::size_t j = j0; j < j1; ++j) {
        const Vec3 b = dipole_field(X[j] - p[0], Y[j] - p[1], Z[j] - p[2], m);
        Bx[j] += b[0];
        By[j] += b[1];
        Bz[j] += b[2];
    }
}

inline void wire_term(double px, double py, double pz, const Segments& g, std::size_t s, double k, double& bx,
                      double& by, double& bz) {
    const double rx = px - g.mx[s], ry = py - g.my[s], rz = pz - g.mz[s];
    const double d2 = (rx * rx + ry * ry) + rz * rz;
    const double rho = std::sqrt(d2);
    if (rho < kDistanceFloor) return;
    const double w = 1.0 / (d2 * rho);
    bx += ((g.ly[s] * rz - g.lz[s] * ry) * k) * w;
    by += ((g.lz[s] * rx - g.lx[s] * rz) * k) * w;
    bz += ((g.lx[s] * ry - g.ly[s] * rx) * k) * w;
}

void wire_block_scalar(const double* X, const double* Y, const double* Z, std::size_t j0, std::size_t j1,
                       const Segments& g, std::size_t s, double k, double* Bx, double* By, double* Bz) {
    for (std::size_t j = j0; j < j1; ++j) wire_term(X[j], Y[j], Z[j], g, s, k, Bx[j], By[j], Bz[j]);
}

// The vector-potential sums of one grid point over all segments, in segment order.
inline void potential_point(double gx, double gy, double gz, const Segments& g, double& sx, double& sy,
                            double& sz) {
    for (std::size_t s = 0; s < g.count; ++s) {
        const double d = vec3::norm(gx - g.mx[s], gy - g.my[s], gz - g.mz[s]);
        if (d < kDistanceFloor) continue;
        sx += g.lx[s] / d;
        sy += g.ly[s] / d;
        sz += g.lz[s] / d;
    }
}

#if TARQ_HAVE_X86_SIMD

#define TARQ_AVX2 __attribute__((target("avx2")))

// Lanes where !(rho < floor): a NaN distance keeps its term, as in the portable loops.
TARQ_AVX2 inline __m256d above_floor(__m256d rho) {
    return _mm256_cmp_pd(rho, _mm256_set1_pd(kDistanceFloor), _CMP_NLT_UQ);
}

// (a . b) in lanes, summed as (a_x b_x + a_y b_y) + a_z b_z.
TARQ_AVX2 inline __m256d dot4(__m256d ax, __m256d ay, __m256d az, __m256d bx, __m256d by, __m256d bz) {
    return _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(ax, bx), _mm256_mul_pd(ay, by)), _mm256_mul_pd(az, bz));
}

// r = point - source for four grid points, with |r|^2, |r| and the lanes at or beyond the floor.
struct Offset4 {
    __m256d x, y, z, d2, rho, keep;
};

TARQ_AVX2 inline Offset4 offset4(const double* X, const double* Y, const double* Z, std::size_t j, __m256d qx,
                                 __m256d qy, __m256d qz) {
    Offset4 r;
    r.x = _mm256_sub_pd(_mm256_loadu_pd(X + j), qx);
    r.y = _mm256_sub_pd(_mm256_loadu_pd(Y + j), qy);
    r.z = _mm256_sub_pd(_mm256_loadu_pd(Z + j), qz);
    r.d2 = dot4(r.x, r.y, r.z, r.x, r.y, r.z);
    r.rho = _mm256_sqrt_pd(r.d2);
    r.keep = above_floor(r.rho);
    return r;
}

TARQ_AVX2 void dipole_block_avx2(const double* X, const double* Y, const double* Z, std::size_t j0,
                                 std::size_t j1, const Vec3& p, const Vec3& m, double* Bx, double* By, double* Bz) {
    const __m256d px = _mm256_set1_pd(p[0]), py = _mm256_set1_pd(p[1]), pz = _mm256_set1_pd(p[2]);
    const __m256d mx = _mm256_set1_pd(m[0]), my = _mm256_set1_pd(m[1]), mz = _mm256_set1_pd(m[2]);
    const __m256d three = _mm256_set1_pd(3.0), one = _mm256_set1_pd(1.0), inv4pi = _mm256_set1_pd(kInvFourPi);
    std::size_t j = j0;
    for (; j + 4 <= j1; j += 4) {
        const Offset4 r = offset4(X, Y, Z, j, px, py, pz);
        const __m256d rx = r.x, ry = r.y, rz = r.z, keep = r.keep;
        const __m256d s = _mm256_div_pd(_mm256_mul_pd(three, dot4(mx, my, mz, rx, ry, rz)), r.d2);
        const __m256d f = _mm256_div_pd(one, _mm256_mul_pd(r.d2, r.rho));
        // A dipole closer than the floor contributes +0.0, as the portable loop adds.
        const __m256d bx =
            _mm256_and_pd(keep, _mm256_mul_pd(_mm256_mul_pd(_mm256_sub_pd(_mm256_mul_pd(s, rx), mx), inv4pi), f));
        const __m256d by =
            _mm256_and_pd(keep, _mm256_mul_pd(_mm256_mul_pd(_mm256_sub_pd(_mm256_mul_pd(s, ry), my), inv4pi), f));
        const __m256d bz =
            _mm256_and_pd(keep, _mm256_mul_pd(_mm256_mul_pd(_mm256_sub_pd(_mm256_mul_pd(s, rz), mz), inv4pi), f));
        _mm256_storeu_pd(Bx + j, _mm256_add_pd(_mm256_loadu_pd(Bx + j), bx));
        _mm256_storeu_pd(By + j, _mm256_add_pd(_mm256_loadu_pd(By + j), by));
        _mm256_storeu_pd(Bz + j, _mm256_add_pd(_mm256_loadu_pd(Bz + j), bz));
    }
    dipole_block_scalar(X, Y, Z, j, j1, p, m, Bx, By, Bz);
}

TARQ_AVX2 void wire_block_avx2(const double* X, const double* Y, const double* Z, std::size_t j0, std::size_t j1,
                               const Segments& g, std::size_t s, double k, double* Bx, double* By, double* Bz) {
    const __m256d qx = _mm256_set1_pd(g.mx[s]), qy = _mm256_set1_pd(g.my[s]), qz = _mm256_set1_pd(g.mz[s]);
    const __m256d lx = _mm256_set1_pd(g.lx[s]), ly = _mm256_set1_pd(g.ly[s]), lz = _mm256_set1_pd(g.lz[s]);
    const __m256d vk = _mm256_set1_pd(k), one = _mm256_set1_pd(1.0);
    std::size_t j = j0;
    for (; j + 4 <= j1; j += 4) {
        const Offset4 r = offset4(X, Y, Z, j, qx, qy, qz);
        const __m256d rx = r.x, ry = r.y, rz = r.z, keep = r.keep;
        const __m256d w = _mm256_div_pd(one, _mm256_mul_pd(r.d2, r.rho));
        const __m256d cx = _mm256_sub_pd(_mm256_mul_pd(ly, rz), _mm256_mul_pd(lz, ry));
        const __m256d cy = _mm256_sub_pd(_mm256_mul_pd(lz, rx), _mm256_mul_pd(lx, rz));
        const __m256d cz = _mm256_sub_pd(_mm256_mul_pd(lx, ry), _mm256_mul_pd(ly, rx));
        // A skipped term leaves the element as it was (a -0.0 stays -0.0).
        const __m256d bx = _mm256_loadu_pd(Bx + j), by = _mm256_loadu_pd(By + j), bz = _mm256_loadu_pd(Bz + j);
        _mm256_storeu_pd(Bx + j,
                         _mm256_blendv_pd(bx, _mm256_add_pd(bx, _mm256_mul_pd(_mm256_mul_pd(cx, vk), w)), keep));
        _mm256_storeu_pd(By + j,
                         _mm256_blendv_pd(by, _mm256_add_pd(by, _mm256_mul_pd(_mm256_mul_pd(cy, vk), w)), keep));
        _mm256_storeu_pd(Bz + j,
                         _mm256_blendv_pd(bz, _mm256_add_pd(bz, _mm256_mul_pd(_mm256_mul_pd(cz, vk), w)), keep));
    }
    wire_block_scalar(X, Y, Z, j, j1, g, s, k, Bx, By, Bz);
}

// Four grid points at once, each lane summing over the segments in order.
TARQ_AVX2 void potential_points_avx2(const double* X, const double* Y, const double* Z, std::size_t j,
                                     const Segments& g, double k, double* Ax, double* Ay, double* Az) {
    __m256d sx = _mm256_setzero_pd(), sy = _mm256_setzero_pd(), sz = _mm256_setzero_pd();
    for (std::size_t s = 0; s < g.count; ++s) {
        const Offset4 r =
            offset4(X, Y, Z, j, _mm256_set1_pd(g.mx[s]), _mm256_set1_pd(g.my[s]), _mm256_set1_pd(g.mz[s]));
        const __m256d d = r.rho, keep = r.keep;
        sx = _mm256_blendv_pd(sx, _mm256_add_pd(sx, _mm256_div_pd(_mm256_set1_pd(g.lx[s]), d)), keep);
        sy = _mm256_blendv_pd(sy, _mm256_add_pd(sy, _mm256_div_pd(_mm256_set1_pd(g.ly[s]), d)), keep);
        sz = _mm256_blendv_pd(sz, _mm256_add_pd(sz, _mm256_div_pd(_mm256_set1_pd(g.lz[s]), d)), keep);
    }
    const __m256d vk = _mm256_set1_pd(k);
    _mm256_storeu_pd(Ax + j, _mm256_mul_pd(vk, sx));
    _mm256_storeu_pd(Ay + j, _mm256_mul_pd(vk, sy));
    _mm256_storeu_pd(Az + j, _mm256_mul_pd(vk, sz));
}

#undef TARQ_AVX2

#endif  // TARQ_HAVE_X86_SIMD

using DipoleBlock = void (*)(const double*, const double*, const double*, std::size_t, std::size_t, const Vec3&,
                             const Vec3&, double*, double*, double*);
using WireBlock = void (*)(const double*, const double*, const double*, std::size_t, std::size_t,
                           const Segments&, std::size_t, double, double*, double*, double*);

DipoleBlock pick_dipole_block() {
#if TARQ_HAVE_X86_SIMD
    if (kernel_dispatch::simd_available()) return dipole_block_avx2;
#endif
    return dipole_block_scalar;
}

WireBlock pick_wire_block() {
#if TARQ_HAVE_X86_SIMD
    if (kernel_dispatch::simd_available()) return wire_block_avx2;
#endif
    return wire_block_scalar;
}

}  // namespace

Vec3 FieldKernels::dipole_field_at_point(const Vec3& r, const Vec3& m) { return dipole_field(r[0], r[1], r[2], m); }

void FieldKernels::dipole_ring_field_grid(const double* X, const double* Y, const double* Z, std::size_t M,
                                          const std::vector<Vec3>& positions, const std::vector<Vec3>& moments,
                                          double* Bx, double* By, double* Bz) {
    const std::size_t n = std::min(positions.size(), moments.size());
    if (n == 0 || M == 0) return;
    const DipoleBlock block = pick_dipole_block();
    InterruptPoller poll(kPollWork);
    for (std::size_t j0 = 0; j0 < M; j0 += kBlock) {
        const std::size_t j1 = std::min(M, j0 + kBlock);
        for (std::size_t i = 0; i < n; ++i) {
            block(X, Y, Z, j0, j1, positions[i], moments[i], Bx, By, Bz);
            poll.tick(j1 - j0);
        }
    }
}

void FieldKernels::biot_savart_wire_grid(const double* X, const double* Y, const double* Z, std::size_t M,
                                         const Polyline& wire, double current, double* Bx, double* By,
                                         double* Bz) {
    if (wire.size() < 2) return;
    const Segments seg(wire);
    const double k = current * kInvFourPi;
    if (M == 0) return;
    const WireBlock block = pick_wire_block();
    InterruptPoller poll(kPollWork);
    for (std::size_t j0 = 0; j0 < M; j0 += kBlock) {
        const std::size_t j1 = std::min(M, j0 + kBlock);
        for (std::size_t s = 0; s < seg.count; ++s) {
            block(X, Y, Z, j0, j1, seg, s, k, Bx, By, Bz);
            poll.tick(j1 - j0);
        }
    }
}

void FieldKernels::wire_vector_potential_grid(const double* X, const double* Y, const double* Z, std::size_t M,
                                              const Polyline& wire, double current, double* Ax, double* Ay,
                                              double* Az) {
    if (wire.size() < 2) return;
    const double k = current * kInvFourPi;
    const Segments seg(wire);
    InterruptPoller poll(kPollWork);
    std::size_t j = 0;
#if TARQ_HAVE_X86_SIMD
    if (kernel_dispatch::simd_available()) {
        for (; j + 4 <= M; j += 4) {
            potential_points_avx2(X, Y, Z, j, seg, k, Ax, Ay, Az);
            poll.tick(4 * seg.count);
        }
    }
#endif
    for (; j < M; ++j) {
        double sx = 0.0, sy = 0.0, sz = 0.0;
        potential_point(X[j], Y[j], Z[j], seg, sx, sy, sz);
        Ax[j] = k * sx;
        Ay[j] = k * sy;
        Az[j] = k * sz;
        poll.tick(seg.count);
    }
}

void FieldKernels::curl3d_central(const double* vel, std::size_t nx, std::size_t ny, std::size_t nz,
                                  double spacing, double* out) {
    if (nx == 0 || ny == 0 || nz == 0) return;
    const double h2 = spacing + spacing;
    const auto at = [ny, nz](std::size_t i, std::size_t j, std::size_t k) { return ((i * ny + j) * nz + k) * 3; };
    InterruptPoller poll(kPollWork);
    for (std::size_t i = 0; i < nx; ++i) {
        const std::size_t ip = (i + 1) % nx, im = i == 0 ? nx - 1 : i - 1;
        for (std::size_t j = 0; j < ny; ++j) {
            const std::size_t jp = (j + 1) % ny, jm = j == 0 ? ny - 1 : j - 1;
            for (std::size_t k = 0; k < nz; ++k) {
                const std::size_t kp = (k + 1) % nz, km = k == 0 ? nz - 1 : k - 1;
                double* c = out + at(i, j, k);
                c[0] = (vel[at(i, jp, k) + 2] - vel[at(i, jm, k) + 2]) / h2 -
                       (vel[at(i, j, kp) + 1] - vel[at(i, j, km) + 1]) / h2;
                c[1] = (vel[at(i, j, kp) + 0] - vel[at(i, j, km) + 0]) / h2 -
                       (vel[at(ip, j, k) + 2] - vel[at(im, j, k) + 2]) / h2;
                c[2] = (vel[at(ip, j, k) + 1] - vel[at(im, j, k) + 1]) / h2 -
                       (vel[at(i, jp, k) + 0] - vel[at(i, jm, k) + 0]) / h2;
            }
            poll.tick(nz);
        }
    }
}

}  // namespace tarq
