// Run-time choice between the portable loops and the AVX2 and AVX-512 kernels (same bits either way).
#pragma once

#include "core/simd.hpp"

namespace tarq::kernel_dispatch {

// True when the CPU has AVX2 and FMA and the fast kernels are allowed.
bool simd_available();
// Tests and benchmarks switch the fast kernels off to compare both forms.
void set_simd_allowed(bool allowed);

// True when the fast kernels are on and the CPU also has AVX-512F (the eight-lane kernels).
bool avx512_available();
// Tests and benchmarks switch the eight-lane kernels off to compare them with the four-lane ones.
void set_avx512_allowed(bool allowed);

}  // namespace tarq::kernel_dispatch
