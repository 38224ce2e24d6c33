// Biot-Savart kernels: segment law on point sets, point-element law at one point, grid vorticity,
// grid interior, helicity invariants and the one-pass cutoff-energy scan.
//
// The results are fixed to the last bit, so every kernel keeps the order of operations of the plain
// loops below. The AVX2 paths only compute several independent terms at once (the IEEE operations
// +, -, *, / and sqrt give the same bits in any lane) and still add every running sum in order.
#include "core/biot_savart.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <stdexcept>

#include "core/constants.hpp"
#include "core/interrupt.hpp"
#include "core/kernel_dispatch.hpp"

namespace tarq {

namespace {

using constants::kFourPi;
using constants::kEightPi;
constexpr double kSoftening = 1e-12;
constexpr double kExclusion = BiotSavart::kPointLawExclusion;

// nx*ny*nz <= size, for positive extents, without overflow.
bool grid_fits(std::size_t size, const GridShape& s) {
    const std::uint64_t nxy = static_cast<std::uint64_t>(s[0]) * static_cast<std::uint64_t>(s[1]);
    return nxy <= size / static_cast<std::uint64_t>(s[2]);
}

inline bool all_positive(const GridShape& s) { return s[0] > 0 && s[1] > 0 && s[2] > 0; }

// ---------------------------------------------------------------------------------------------
// Segment law (computeVelocity)
// ---------------------------------------------------------------------------------------------

// Segment tables, one array per quantity: dl and midpoint q of segment j.
struct SegmentTable {
    std::vector<double> buf;
    std::size_t n = 0;
    const double* dlx() const { return buf.data(); }
    const double* dly() const { return buf.data() + n; }
    const double* dlz() const { return buf.data() + 2 * n; }
    const double* qx() const { return buf.data() + 3 * n; }
    const double* qy() const { return buf.data() + 4 * n; }
    const double* qz() const { return buf.data() + 5 * n; }
};

SegmentTable make_segments(const Polyline& curve) {
    SegmentTable t;
    t.n = curve.size();
    t.buf.resize(6 * t.n);
    double* b = t.buf.data();
    const std::size_t n = t.n;
    InterruptPoller poller(kPollWork);
    for (std::size_t j = 0; j < n; ++j) {
        poller.tick();
        const Vec3& a = curve[j];
        const Vec3& c = curve[j + 1 == n ? 0 : j + 1];
        b[j] = c[0] - a[0];
        b[n + j] = c[1] - a[1];
        b[2 * n + j] = c[2] - a[2];
        b[3 * n + j] = (a[0] + c[0]) * 0.5;
        b[4 * n + j] = (a[1] + c[1]) * 0.5;
        b[5 * n + j] = (a[2] + c[2]) * 0.5;
    }
    return t;
}

// Grid points are processed in blocks small enough to stay in the first-level cache while every
// segment passes over them; each point still receives the segments in ascending order.
constexpr std::size_t kGridBlock = 512;

struct GridBlockBuffers {
    std::vector<double> buf;
    double* gx;
    double* gy;
    double* gz;
    double* sx;
    double* sy;
    double* sz;
    double* den;  // per-segment scratch of the SIMD kernel
    double* r2;
    std::vector<std::uint32_t> hard_idx;
    std::uint32_t* hard;
    GridBlockBuffers() : buf(8 * kGridBlock + 4), hard_idx(kGridBlock) {
        // 32-byte alignment for the four-lane loads; kGridBlock is a multiple of four.
        const std::uintptr_t addr = reinterpret_cast<std::uintptr_t>(buf.data());
        gx = buf.data() + ((32 - (addr & 31)) & 31) / sizeof(double);
        gy = gx + kGridBlock;
        gz = gy + kGridBlock;
        sx = gz + kGridBlock;
        sy = sx + kGridBlock;
        sz = sy + kGridBlock;
        den = sz + kGridBlock;
        r2 = den + kGridBlock;
        hard = hard_idx.data();
    }
};

void segment_law_block_scalar(const SegmentTable& seg, GridBlockBuffers& g, std::size_t len) {
    const double* dlx = seg.dlx();
    const double* dly = seg.dly();
    const double* dlz = seg.dlz();
    const double* qx = seg.qx();
    const double* qy = seg.qy();
    const double* qz = seg.qz();
    for (std::size_t j = 0; j < seg.n; ++j) {
        const double ax = dlx[j], ay = dly[j], az = dlz[j];
        const double mx = qx[j], my = qy[j], mz = qz[j];
        for (std::size_t k = 0; k < len; ++k) {
            const double rx = g.gx[k] - mx;
            const double ry = g.gy[k] - my;
            const double rz = g.gz[k] - mz;
            const double r2 = (rx * rx + ry * ry) + rz * rz;
            const double den = std::pow(r2, 1.5) + kSoftening;
            g.sx[k] += (ay * rz - az * ry) / den;
            g.sy[k] += (az * rx - ax * rz) / den;
            g.sz[k] += (ax * ry - ay * rx) / den;
        }
    }
}

#if TARQ_HAVE_X86_SIMD

// pow(x, 1.5) for four lanes, bit-identical to std::pow wherever `ok` is set.
//
// x*sqrt(x) is evaluated to about 100 bits (sqrt residual and product error from fused
// multiply-subtract) and rounded once: that is the correctly rounded x^1.5. The library pow is
// correctly rounded except when x^1.5 lies within about 0.015 ulp of a rounding midpoint, so a lane
// closer than 0.05 ulp to a midpoint, outside [2^-100, 2^100] or at a power of two is left to
// std::pow by the caller (about one lane in ten).
__attribute__((target("avx2,fma"))) inline __m256d pow15_candidate(__m256d x, int& ok_mask) {
    const __m256d half = _mm256_set1_pd(0.5);
    const __m256d expmask = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7ff0000000000000LL));
    const __m256d signmask = _mm256_set1_pd(-0.0);
    const __m256d ulp_scale = _mm256_set1_pd(0x1p-52);
    const __m256d limit = _mm256_set1_pd(0.45);
    const __m256d lo = _mm256_set1_pd(0x1p-100);
    const __m256d hi = _mm256_set1_pd(0x1p100);

    const __m256d s = _mm256_sqrt_pd(x);
    const __m256d ss = _mm256_mul_pd(s, s);
    const __m256d ss_err = _mm256_fmsub_pd(s, s, ss);
    const __m256d res = _mm256_sub_pd(_mm256_sub_pd(x, ss), ss_err);  // x - s*s
    const __m256d p = _mm256_mul_pd(x, s);
    const __m256d p_err = _mm256_fmsub_pd(x, s, p);
    // x*sqrt(x) = p + p_err + x*res/(2s), and x/(2s) = s/2 to working accuracy.
    const __m256d t = _mm256_add_pd(p_err, _mm256_mul_pd(_mm256_mul_pd(half, s), res));
    const __m256d r = _mm256_add_pd(p, t);
    const __m256d err = _mm256_add_pd(_mm256_sub_pd(p, r), t);

    const __m256d e = _mm256_and_pd(r, expmask);
    const __m256d ulp = _mm256_mul_pd(e, ulp_scale);
    __m256d ok = _mm256_cmp_pd(_mm256_andnot_pd(signmask, err), _mm256_mul_pd(limit, ulp), _CMP_LT_OQ);
    ok = _mm256_and_pd(ok, _mm256_cmp_pd(x, lo, _CMP_GE_OQ));
    ok = _mm256_and_pd(ok, _mm256_cmp_pd(x, hi, _CMP_LE_OQ));
    ok = _mm256_and_pd(ok, _mm256_cmp_pd(r, e, _CMP_NEQ_OQ));
    ok_mask = _mm256_movemask_pd(ok);
    return r;
}

// Block length is padded to a multiple of four; the padded lanes are discarded by the caller.
// Per segment: denominators for the whole block first (lanes that need the library pow are listed
// without branching and fixed afterwards), then the terms.
__attribute__((target("avx2,fma"))) void segment_law_block_avx2(const SegmentTable& seg, GridBlockBuffers& g,
                                                                std::size_t len) {
    const double* dlx = seg.dlx();
    const double* dly = seg.dly();
    const double* dlz = seg.dlz();
    const double* qx = seg.qx();
    const double* qy = seg.qy();
    const double* qz = seg.qz();
    double* den = g.den;
    double* r2s = g.r2;
    std::uint32_t* hard = g.hard;
    const __m256d soft = _mm256_set1_pd(kSoftening);
    for (std::size_t j = 0; j < seg.n; ++j) {
        const __m256d ax = _mm256_set1_pd(dlx[j]), ay = _mm256_set1_pd(dly[j]), az = _mm256_set1_pd(dlz[j]);
        const __m256d mx = _mm256_set1_pd(qx[j]), my = _mm256_set1_pd(qy[j]), mz = _mm256_set1_pd(qz[j]);
        std::size_t nhard = 0;
        for (std::size_t k = 0; k < len; k += 4) {
            const __m256d rx = _mm256_sub_pd(_mm256_load_pd(g.gx + k), mx);
            const __m256d ry = _mm256_sub_pd(_mm256_load_pd(g.gy + k), my);
            const __m256d rz = _mm256_sub_pd(_mm256_load_pd(g.gz + k), mz);
            const __m256d r2 =
                _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(rx, rx), _mm256_mul_pd(ry, ry)), _mm256_mul_pd(rz, rz));
            int ok;
            const __m256d p = pow15_candidate(r2, ok);
            _mm256_store_pd(den + k, _mm256_add_pd(p, soft));
            _mm256_store_pd(r2s + k, r2);
            const unsigned bad = ~static_cast<unsigned>(ok);
            for (unsigned l = 0; l < 4; ++l) {
                hard[nhard] = static_cast<std::uint32_t>(k + l);
                nhard += (bad >> l) & 1u;
            }
        }
        for (std::size_t h = 0; h < nhard; ++h) den[hard[h]] = std::pow(r2s[hard[h]], 1.5) + kSoftening;
        for (std::size_t k = 0; k < len; k += 4) {
            const __m256d rx = _mm256_sub_pd(_mm256_load_pd(g.gx + k), mx);
            const __m256d ry = _mm256_sub_pd(_mm256_load_pd(g.gy + k), my);
            const __m256d rz = _mm256_sub_pd(_mm256_load_pd(g.gz + k), mz);
            const __m256d d = _mm256_load_pd(den + k);
            const __m256d cx = _mm256_sub_pd(_mm256_mul_pd(ay, rz), _mm256_mul_pd(az, ry));
            const __m256d cy = _mm256_sub_pd(_mm256_mul_pd(az, rx), _mm256_mul_pd(ax, rz));
            const __m256d cz = _mm256_sub_pd(_mm256_mul_pd(ax, ry), _mm256_mul_pd(ay, rx));
            _mm256_store_pd(g.sx + k, _mm256_add_pd(_mm256_load_pd(g.sx + k), _mm256_div_pd(cx, d)));
            _mm256_store_pd(g.sy + k, _mm256_add_pd(_mm256_load_pd(g.sy + k), _mm256_div_pd(cy, d)));
            _mm256_store_pd(g.sz + k, _mm256_add_pd(_mm256_load_pd(g.sz + k), _mm256_div_pd(cz, d)));
        }
    }
}

#endif  // TARQ_HAVE_X86_SIMD

// ---------------------------------------------------------------------------------------------
// Point-element law (velocity)
// ---------------------------------------------------------------------------------------------

struct PointLawSums {
    double x = 0.0, y = 0.0, z = 0.0;
};

inline void point_law_term(const Vec3& r, const Vec3& X, const Vec3& T, double inv4pi, double circulation,
                           PointLawSums& s) {
    const double dx = r[0] - X[0];
    const double dy = r[1] - X[1];
    const double dz = r[2] - X[2];
    const double dist = std::sqrt((dx * dx + dy * dy) + dz * dz);
    if (!(dist > kExclusion)) return;  // the filament's own point, and NaN distances
    const double f = circulation / (dist * dist * dist);
    s.x += ((T[1] * dz - T[2] * dy) * inv4pi) * f;
    s.y += ((T[2] * dx - T[0] * dz) * inv4pi) * f;
    s.z += ((T[0] * dy - T[1] * dx) * inv4pi) * f;
}

#if TARQ_HAVE_X86_SIMD

// Four consecutive Vec3 (twelve doubles) into x, y and z lanes.
__attribute__((target("avx2"))) inline void load_vec3x4(const double* p, __m256d& x, __m256d& y, __m256d& z) {
    const __m256d m0 = _mm256_loadu_pd(p);      // x0 y0 z0 x1
    const __m256d m1 = _mm256_loadu_pd(p + 4);  // y1 z1 x2 y2
    const __m256d m2 = _mm256_loadu_pd(p + 8);  // z2 x3 y3 z3
    const __m256d a = _mm256_blend_pd(m0, m1, 0xC);            // x0 y0 x2 y2
    const __m256d b = _mm256_permute2f128_pd(m0, m2, 0x21);    // z0 x1 z2 x3
    const __m256d c = _mm256_blend_pd(m1, m2, 0xC);            // y1 z1 y3 z3
    x = _mm256_blend_pd(a, b, 0xA);
    y = _mm256_shuffle_pd(a, c, 0x5);
    z = _mm256_blend_pd(b, c, 0xA);
}

using simd::add_lanes_in_order;

__attribute__((target("avx2"))) Vec3 point_law_avx2(const Vec3& r, const Polyline& X, const std::vector<Vec3>& T,
                                                   double circulation) {
    const double inv4pi = 1.0 / kFourPi;
    const std::size_t n = X.size();
    const double* xp = X.data()->data();
    const double* tp = T.data()->data();
    const __m256d rx = _mm256_set1_pd(r[0]), ry = _mm256_set1_pd(r[1]), rz = _mm256_set1_pd(r[2]);
    const __m256d vinv = _mm256_set1_pd(inv4pi), vcirc = _mm256_set1_pd(circulation);
    const __m256d excl = _mm256_set1_pd(kExclusion);
    PointLawSums s;
    InterruptPoller poller(kPollWork);
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        poller.tick(4);
        __m256d px, py, pz, tx, ty, tz;
        load_vec3x4(xp + 3 * i, px, py, pz);
        load_vec3x4(tp + 3 * i, tx, ty, tz);
        const simd::PointLawTerms4 t = simd::point_law_terms4(rx, ry, rz, px, py, pz, tx, ty, tz, vinv, vcirc, excl);
        // A skipped element adds +0.0, which leaves a sum that started at +0.0 unchanged.
        const __m256d ex = _mm256_and_pd(t.keep, t.x);
        const __m256d ey = _mm256_and_pd(t.keep, t.y);
        const __m256d ez = _mm256_and_pd(t.keep, t.z);
        s.x = add_lanes_in_order(s.x, ex);
        s.y = add_lanes_in_order(s.y, ey);
        s.z = add_lanes_in_order(s.z, ez);
    }
    for (; i < n; ++i) point_law_term(r, X[i], T[i], inv4pi, circulation, s);
    return {s.x, s.y, s.z};
}

#endif  // TARQ_HAVE_X86_SIMD

}  // namespace

std::vector<Vec3> BiotSavart::computeVelocity(const Polyline& curve, const std::vector<Vec3>& grid_points,
                                              double circulation) {
    const std::size_t G = grid_points.size();
    std::vector<Vec3> out(G, Vec3{0.0, 0.0, 0.0});
    if (G == 0 || curve.size() < 2) return out;

    const SegmentTable seg = make_segments(curve);
    GridBlockBuffers g;
    const bool simd = kernel_dispatch::simd_available();
    const double factor = circulation / kFourPi;
    InterruptPoller poller(kPollWork);
    for (std::size_t start = 0; start < G; start += kGridBlock) {
        const std::size_t len = std::min(kGridBlock, G - start);
        poller.tick(static_cast<std::uint64_t>(len) * seg.n);
        for (std::size_t k = 0; k < len; ++k) {
            const Vec3& p = grid_points[start + k];
            g.gx[k] = p[0];
            g.gy[k] = p[1];
            g.gz[k] = p[2];
        }
        std::fill(g.sx, g.sx + 3 * kGridBlock, 0.0);
#if TARQ_HAVE_X86_SIMD
        if (simd) {
            const std::size_t padded = (len + 3) & ~static_cast<std::size_t>(3);
            for (std::size_t k = len; k < padded; ++k) g.gx[k] = g.gy[k] = g.gz[k] = 0.0;
            segment_law_block_avx2(seg, g, padded);
        } else {
            segment_law_block_scalar(seg, g, len);
        }
#else
        (void)simd;
        segment_law_block_scalar(seg, g, len);
#endif
        for (std::size_t k = 0; k < len; ++k) out[start + k] = {g.sx[k] * factor, g.sy[k] * factor, g.sz[k] * factor};
    }
    return out;
}

std::vector<Vec3> BiotSavart::computeVelocity(const Polyline& curve, const std::vector<Vec3>& grid_points) {
    return computeVelocity(curve, grid_points, 1.0);
}

Vec3 BiotSavart::velocity(const Vec3& r, const Polyline& filament_points, const std::vector<Vec3>& tangent_vectors,
                          double circulation) {
    if (tangent_vectors.size() < filament_points.size())
        throw std::invalid_argument("velocity: fewer tangents than points");
#if TARQ_HAVE_X86_SIMD
    if (filament_points.size() >= 4 && kernel_dispatch::simd_available())
        return point_law_avx2(r, filament_points, tangent_vectors, circulation);
#endif
    const double inv4pi = 1.0 / kFourPi;
    PointLawSums s;
    InterruptPoller poller(kPollWork);
    for (std::size_t i = 0; i < filament_points.size(); ++i) {
        poller.tick();
        point_law_term(r, filament_points[i], tangent_vectors[i], inv4pi, circulation, s);
    }
    return {s.x, s.y, s.z};
}

std::vector<Vec3> BiotSavart::computeVorticity(const std::vector<Vec3>& field, const GridShape& shape, double h) {
    std::vector<Vec3> out(field.size(), Vec3{0.0, 0.0, 0.0});
    if (!all_positive(shape)) return out;
    if (!grid_fits(field.size(), shape)) throw std::invalid_argument("computeVorticity: field shorter than grid");
    const std::int64_t nx = shape[0], ny = shape[1], nz = shape[2];
    const double h2 = h + h;
    auto at = [&](std::int64_t i, std::int64_t j, std::int64_t k) -> const Vec3& {
        return field[static_cast<std::size_t>((i * ny + j) * nz + k)];
    };
    // Periodic neighbours: i + 1 modulo nx and (i - 1 + nx) modulo nx, likewise j and k.
    InterruptPoller poller(kPollWork);
    for (std::int64_t i = 0; i < nx; ++i) {
        const std::int64_t ip = i + 1 == nx ? 0 : i + 1, im = i == 0 ? nx - 1 : i - 1;
        for (std::int64_t j = 0; j < ny; ++j) {
            poller.tick(static_cast<std::uint64_t>(nz));
            const std::int64_t jp = j + 1 == ny ? 0 : j + 1, jm = j == 0 ? ny - 1 : j - 1;
            for (std::int64_t k = 0; k < nz; ++k) {
                const std::int64_t kp = k + 1 == nz ? 0 : k + 1, km = k == 0 ? nz - 1 : k - 1;
                const Vec3& fip = at(ip, j, k);
                const Vec3& fim = at(im, j, k);
                const Vec3& fjp = at(i, jp, k);
                const Vec3& fjm = at(i, jm, k);
                const Vec3& fkp = at(i, j, kp);
                const Vec3& fkm = at(i, j, km);
                const double di_y = (fip[1] - fim[1]) / h2, di_z = (fip[2] - fim[2]) / h2;
                const double dj_x = (fjp[0] - fjm[0]) / h2, dj_z = (fjp[2] - fjm[2]) / h2;
                const double dk_x = (fkp[0] - fkm[0]) / h2, dk_y = (fkp[1] - fkm[1]) / h2;
                out[static_cast<std::size_t>((i * ny + j) * nz + k)] = {dk_y - dj_z, di_z - dk_x, dj_x - di_y};
            }
        }
    }
    return out;
}

std::vector<Vec3> BiotSavart::extractInterior(const std::vector<Vec3>& field, const GridShape& shape, int margin) {
    if (margin < 0) throw std::invalid_argument("extractInterior: negative margin");
    if (all_positive(shape) && !grid_fits(field.size(), shape))
        throw std::invalid_argument("extractInterior: field shorter than grid");
    const std::int64_t nx = shape[0], ny = shape[1], nz = shape[2], m = margin;
    std::vector<Vec3> out;
    if (nx - m <= m || ny - m <= m || nz - m <= m) return out;
    out.reserve(static_cast<std::size_t>((nx - 2 * m) * (ny - 2 * m) * (nz - 2 * m)));
    InterruptPoller poller(kPollWork);
    for (std::int64_t i = m; i < nx - m; ++i)
        for (std::int64_t j = m; j < ny - m; ++j) {
            const Vec3* row = field.data() + (i * ny + j) * nz;
            out.insert(out.end(), row + m, row + (nz - m));
            poller.tick(static_cast<std::uint64_t>(nz));
        }
    return out;
}

HelicityInvariants BiotSavart::computeInvariants(const std::vector<Vec3>& u, const std::vector<Vec3>& w,
                                                 const std::vector<double>& r2) {
    if (w.size() < u.size()) throw std::invalid_argument("computeInvariants: w shorter than u");
    if (r2.size() < w.size()) throw std::invalid_argument("computeInvariants: r2 shorter than w");
    InterruptPoller poller(kPollWork);
    double hc = 0.0;
    for (std::size_t i = 0; i < u.size(); ++i) {
        poller.tick();
        hc += (u[i][0] * w[i][0] + u[i][1] * w[i][1]) + u[i][2] * w[i][2];
    }
    double hm = 0.0;
    for (std::size_t i = 0; i < w.size(); ++i) {
        poller.tick();
        const double n = std::sqrt((w[i][0] * w[i][0] + w[i][1] * w[i][1]) + w[i][2] * w[i][2]);
        hm += (n * n) * r2[i];
    }
    return HelicityInvariants{hc, hm, 0.5 * (hc / hm - 1.0)};
}

std::vector<double> bs_cutoff_energy_scan(const double* X, const double* T, const double* ds, std::size_t N,
                                          const double* a, std::size_t M) {
    const std::vector<double> cut(a, a + M);
    std::vector<double> acc(M + 1, 0.0);
    if (N > 0 && M > 0) {
        const double* cb = cut.data();
        const double* ce = cb + M;
        InterruptPoller poller(kPollWork);
        for (std::size_t i = 0; i < N; ++i) {
            poller.tick(N);
            const double xi = X[3 * i], yi = X[3 * i + 1], zi = X[3 * i + 2];
            const double tix = T[3 * i], tiy = T[3 * i + 1], tiz = T[3 * i + 2];
            const double dsi = ds[i];
            for (std::size_t j = 0; j < N; ++j) {
                if (j == i) continue;
                const double dx = X[3 * j] - xi, dy = X[3 * j + 1] - yi, dz = X[3 * j + 2] - zi;
                const double rr = (dx * dx + dy * dy) + dz * dz;
                if (!(rr > 0.0)) continue;
                const double r = std::sqrt(rr);
                const std::size_t p = static_cast<std::size_t>(std::lower_bound(cb, ce, r) - cb);
                if (p == 0) continue;
                const double dot = (T[3 * j] * tix + T[3 * j + 1] * tiy) + T[3 * j + 2] * tiz;
                const double c = ((dot / r) * dsi) * ds[j];
                acc[0] += c;
                acc[p] -= c;
            }
        }
    }
    std::vector<double> E(M);
    double run = 0.0;
    InterruptPoller poller(kPollWork);
    for (std::size_t k = 0; k < M; ++k) {
        poller.tick();
        run += acc[k];
        E[k] = run / kEightPi;
    }
    return E;
}

}  // namespace tarq
