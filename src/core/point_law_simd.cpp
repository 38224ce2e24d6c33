// Point-element law at every filament point at once: consecutive evaluation points in the vector lanes.
//
// Each lane holds one evaluation point and runs the plain loop of BiotSavart::velocity over the sources in
// ascending order, with its own running sums: no horizontal sums and no shuffles, so every lane performs the
// same IEEE operations (+, -, *, /, sqrt) in the same order as the portable loop and gives the same bits.
// Intrinsics are only ever written as separate multiplies and adds (the build forbids contraction into FMA).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "core/biot_savart.hpp"
#include "core/constants.hpp"
#include "core/interrupt.hpp"
#include "core/kernel_dispatch.hpp"
#include "core/simd.hpp"

namespace tarq {

namespace {

constexpr double kExclusion = BiotSavart::kPointLawExclusion;

#if TARQ_HAVE_X86_SIMD

// Points and tangents as one array per coordinate. The evaluation blocks read past the last point up to
// `padded`; those lanes see zeros and their sums are discarded.
struct PointTable {
    static constexpr std::size_t kPad = 16;  // two vectors of eight lanes
    std::vector<double> buf;
    std::size_t n = 0, padded = 0;
    const double* x;
    const double* y;
    const double* z;
    const double* tx;
    const double* ty;
    const double* tz;

    PointTable(const Polyline& X, const std::vector<Vec3>& T) : n(X.size()) {
        padded = (n + kPad - 1) / kPad * kPad;
        buf.assign(6 * padded + 8, 0.0);
        // 64-byte alignment for the aligned eight-lane loads.
        const std::uintptr_t addr = reinterpret_cast<std::uintptr_t>(buf.data());
        double* b = buf.data() + ((64 - (addr & 63)) & 63) / sizeof(double);
        double* c[6];
        for (int k = 0; k < 6; ++k) c[k] = b + static_cast<std::size_t>(k) * padded;
        for (std::size_t i = 0; i < n; ++i) {
            c[0][i] = X[i][0];
            c[1][i] = X[i][1];
            c[2][i] = X[i][2];
            c[3][i] = T[i][0];
            c[4][i] = T[i][1];
            c[5][i] = T[i][2];
        }
        x = c[0];
        y = c[1];
        z = c[2];
        tx = c[3];
        ty = c[4];
        tz = c[5];
    }
};

// ---- four lanes (AVX2) ----

struct Lanes4 {
    __m256d rx, ry, rz, sx, sy, sz;
};

// One source term for four evaluation points; a skipped lane keeps its sum exactly as it was.
__attribute__((target("avx2"))) inline void term4(Lanes4& l, __m256d px, __m256d py, __m256d pz, __m256d tx,
                                                  __m256d ty, __m256d tz, __m256d vinv, __m256d vcirc,
                                                  __m256d excl) {
    const simd::PointLawTerms4 t = simd::point_law_terms4(l.rx, l.ry, l.rz, px, py, pz, tx, ty, tz, vinv, vcirc, excl);
    l.sx = _mm256_blendv_pd(l.sx, _mm256_add_pd(l.sx, t.x), t.keep);
    l.sy = _mm256_blendv_pd(l.sy, _mm256_add_pd(l.sy, t.y), t.keep);
    l.sz = _mm256_blendv_pd(l.sz, _mm256_add_pd(l.sz, t.z), t.keep);
}

__attribute__((target("avx2"))) inline void start4(Lanes4& l, const PointTable& t, std::size_t j) {
    l.rx = _mm256_load_pd(t.x + j);
    l.ry = _mm256_load_pd(t.y + j);
    l.rz = _mm256_load_pd(t.z + j);
    l.sx = l.sy = l.sz = _mm256_setzero_pd();
}

__attribute__((target("avx2"))) inline void finish4(const Lanes4& l, std::size_t j, std::size_t n,
                                                    std::vector<Vec3>& out) {
    alignas(32) double sx[4], sy[4], sz[4];
    _mm256_store_pd(sx, l.sx);
    _mm256_store_pd(sy, l.sy);
    _mm256_store_pd(sz, l.sz);
    for (std::size_t k = 0; k < 4 && j + k < n; ++k) out[j + k] = {sx[k], sy[k], sz[k]};
}

// Eight evaluation points (two vectors) per pass over the sources: the broadcasts of one source feed both.
__attribute__((target("avx2"))) void all_points_avx2(const PointTable& t, double circulation,
                                                     std::vector<Vec3>& out) {
    const __m256d vinv = _mm256_set1_pd(1.0 / constants::kFourPi);
    const __m256d vcirc = _mm256_set1_pd(circulation);
    const __m256d excl = _mm256_set1_pd(kExclusion);
    const std::size_t n = t.n;
    InterruptPoller poller(kPollWork);
    for (std::size_t j = 0; j < n; j += 8) {
        poller.tick(8 * n);
        Lanes4 a, b;
        start4(a, t, j);
        start4(b, t, j + 4);
        for (std::size_t i = 0; i < n; ++i) {
            const __m256d px = _mm256_broadcast_sd(t.x + i);
            const __m256d py = _mm256_broadcast_sd(t.y + i);
            const __m256d pz = _mm256_broadcast_sd(t.z + i);
            const __m256d tx = _mm256_broadcast_sd(t.tx + i);
            const __m256d ty = _mm256_broadcast_sd(t.ty + i);
            const __m256d tz = _mm256_broadcast_sd(t.tz + i);
            term4(a, px, py, pz, tx, ty, tz, vinv, vcirc, excl);
            term4(b, px, py, pz, tx, ty, tz, vinv, vcirc, excl);
        }
        finish4(a, j, n, out);
        finish4(b, j + 4, n, out);
    }
}

// ---- eight lanes (AVX-512F) ----

struct Lanes8 {
    __m512d rx, ry, rz, sx, sy, sz;
};

__attribute__((target("avx512f"))) inline void term8(Lanes8& l, __m512d px, __m512d py, __m512d pz, __m512d tx,
                                                     __m512d ty, __m512d tz, __m512d vinv, __m512d vcirc,
                                                     __m512d excl) {
    const __m512d dx = _mm512_sub_pd(l.rx, px);
    const __m512d dy = _mm512_sub_pd(l.ry, py);
    const __m512d dz = _mm512_sub_pd(l.rz, pz);
    const __m512d r2 =
        _mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(dx, dx), _mm512_mul_pd(dy, dy)), _mm512_mul_pd(dz, dz));
    // The masked form with every lane set is the plain square root (it avoids GCC's undefined-source warning).
    const __m512d dist = _mm512_mask_sqrt_pd(r2, 0xFF, r2);
    const __mmask8 keep = _mm512_cmp_pd_mask(dist, excl, _CMP_GT_OQ);
    const __m512d f = _mm512_div_pd(vcirc, _mm512_mul_pd(_mm512_mul_pd(dist, dist), dist));
    const __m512d cx = _mm512_sub_pd(_mm512_mul_pd(ty, dz), _mm512_mul_pd(tz, dy));
    const __m512d cy = _mm512_sub_pd(_mm512_mul_pd(tz, dx), _mm512_mul_pd(tx, dz));
    const __m512d cz = _mm512_sub_pd(_mm512_mul_pd(tx, dy), _mm512_mul_pd(ty, dx));
    // Masked adds: a skipped lane keeps its sum exactly as it was.
    l.sx = _mm512_mask_add_pd(l.sx, keep, l.sx, _mm512_mul_pd(_mm512_mul_pd(cx, vinv), f));
    l.sy = _mm512_mask_add_pd(l.sy, keep, l.sy, _mm512_mul_pd(_mm512_mul_pd(cy, vinv), f));
    l.sz = _mm512_mask_add_pd(l.sz, keep, l.sz, _mm512_mul_pd(_mm512_mul_pd(cz, vinv), f));
}

__attribute__((target("avx512f"))) inline void start8(Lanes8& l, const PointTable& t, std::size_t j) {
    l.rx = _mm512_load_pd(t.x + j);
    l.ry = _mm512_load_pd(t.y + j);
    l.rz = _mm512_load_pd(t.z + j);
    l.sx = l.sy = l.sz = _mm512_setzero_pd();
}

__attribute__((target("avx512f"))) inline void finish8(const Lanes8& l, std::size_t j, std::size_t n,
                                                       std::vector<Vec3>& out) {
    alignas(64) double sx[8], sy[8], sz[8];
    _mm512_store_pd(sx, l.sx);
    _mm512_store_pd(sy, l.sy);
    _mm512_store_pd(sz, l.sz);
    for (std::size_t k = 0; k < 8 && j + k < n; ++k) out[j + k] = {sx[k], sy[k], sz[k]};
}

__attribute__((target("avx512f"))) void all_points_avx512(const PointTable& t, double circulation,
                                                          std::vector<Vec3>& out) {
    const __m512d vinv = _mm512_set1_pd(1.0 / constants::kFourPi);
    const __m512d vcirc = _mm512_set1_pd(circulation);
    const __m512d excl = _mm512_set1_pd(kExclusion);
    const std::size_t n = t.n;
    InterruptPoller poller(kPollWork);
    for (std::size_t j = 0; j < n; j += 16) {
        poller.tick(16 * n);
        Lanes8 a, b;
        start8(a, t, j);
        start8(b, t, j + 8);
        for (std::size_t i = 0; i < n; ++i) {
            const __m512d px = _mm512_set1_pd(t.x[i]);
            const __m512d py = _mm512_set1_pd(t.y[i]);
            const __m512d pz = _mm512_set1_pd(t.z[i]);
            const __m512d tx = _mm512_set1_pd(t.tx[i]);
            const __m512d ty = _mm512_set1_pd(t.ty[i]);
            const __m512d tz = _mm512_set1_pd(t.tz[i]);
            term8(a, px, py, pz, tx, ty, tz, vinv, vcirc, excl);
            term8(b, px, py, pz, tx, ty, tz, vinv, vcirc, excl);
        }
        finish8(a, j, n, out);
        finish8(b, j + 8, n, out);
    }
}

#endif  // TARQ_HAVE_X86_SIMD

}  // namespace

void BiotSavart::velocities_at_points(const Polyline& points, const std::vector<Vec3>& tangents,
                                      double circulation, std::vector<Vec3>& out) {
    if (tangents.size() < points.size())
        throw std::invalid_argument("velocities_at_points: fewer tangents than points");
    const std::size_t n = points.size();
    out.resize(n);
#if TARQ_HAVE_X86_SIMD
    if (n >= 4 && kernel_dispatch::simd_available()) {
        const PointTable t(points, tangents);
        if (kernel_dispatch::avx512_available()) {
            all_points_avx512(t, circulation, out);
        } else {
            all_points_avx2(t, circulation, out);
        }
        return;
    }
#endif
    // Large sets take seconds: the caller's Ctrl-C is honoured between evaluation points.
    InterruptPoller poller(kPollWork);
    for (std::size_t j = 0; j < n; ++j) {
        poller.tick(n);
        out[j] = velocity(points[j], points, tangents, circulation);
    }
}

}  // namespace tarq
