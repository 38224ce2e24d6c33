// Internal SIMD support of the kernels: the intrinsics, what the build may use, and the in-order lane sum.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define TARQ_HAVE_X86_SIMD 1
#else
#define TARQ_HAVE_X86_SIMD 0
#endif

// SSE2 is part of every x86-64 target, so code may use it without a run-time check.
#if defined(__SSE2__)
#include <emmintrin.h>
#define TARQ_HAVE_SSE2 1
#else
#define TARQ_HAVE_SSE2 0
#endif

namespace tarq::simd {

#if TARQ_HAVE_X86_SIMD
// s + v[0] + v[1] + v[2] + v[3], added one lane at a time from lane 0, as the scalar loops add.
__attribute__((target("avx2"))) inline double add_lanes_in_order(double s, __m256d v) {
    const __m128d lo = _mm256_castpd256_pd128(v);
    const __m128d hi = _mm256_extractf128_pd(v, 1);
    __m128d acc = _mm_set_sd(s);
    acc = _mm_add_sd(acc, lo);
    acc = _mm_add_sd(acc, _mm_unpackhi_pd(lo, lo));
    acc = _mm_add_sd(acc, hi);
    acc = _mm_add_sd(acc, _mm_unpackhi_pd(hi, hi));
    return _mm_cvtsd_f64(acc);
}

// Point-element law terms for four (evaluation point r, source X with tangent T) pairs, in the scalar rule's order:
// d = r - X, dist = sqrt((dx*dx + dy*dy) + dz*dz), term = ((T x d) * inv4pi) * (c / ((dist*dist)*dist)). `keep` is
// set where dist > the exclusion radius (clear for NaN); the caller skips the other lanes.
struct PointLawTerms4 {
    __m256d x, y, z, keep;
};

__attribute__((target("avx2"))) inline PointLawTerms4 point_law_terms4(__m256d rx, __m256d ry, __m256d rz,
                                                                      __m256d px, __m256d py, __m256d pz,
                                                                      __m256d tx, __m256d ty, __m256d tz,
                                                                      __m256d inv4pi, __m256d c, __m256d excl) {
    const __m256d dx = _mm256_sub_pd(rx, px);
    const __m256d dy = _mm256_sub_pd(ry, py);
    const __m256d dz = _mm256_sub_pd(rz, pz);
    const __m256d dist = _mm256_sqrt_pd(
        _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(dx, dx), _mm256_mul_pd(dy, dy)), _mm256_mul_pd(dz, dz)));
    const __m256d f = _mm256_div_pd(c, _mm256_mul_pd(_mm256_mul_pd(dist, dist), dist));
    const __m256d cx = _mm256_sub_pd(_mm256_mul_pd(ty, dz), _mm256_mul_pd(tz, dy));
    const __m256d cy = _mm256_sub_pd(_mm256_mul_pd(tz, dx), _mm256_mul_pd(tx, dz));
    const __m256d cz = _mm256_sub_pd(_mm256_mul_pd(tx, dy), _mm256_mul_pd(ty, dx));
    return {_mm256_mul_pd(_mm256_mul_pd(cx, inv4pi), f), _mm256_mul_pd(_mm256_mul_pd(cy, inv4pi), f),
            _mm256_mul_pd(_mm256_mul_pd(cz, inv4pi), f), _mm256_cmp_pd(dist, excl, _CMP_GT_OQ)};
}
#endif

}  // namespace tarq::simd
