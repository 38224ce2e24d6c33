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
#endif

}  // namespace tarq::simd
