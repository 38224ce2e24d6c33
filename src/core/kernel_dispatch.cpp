// The run-time kernel dispatch: whether the AVX2 and AVX-512 kernels may run on this CPU and in this process.
#include "core/kernel_dispatch.hpp"

namespace tarq::kernel_dispatch {

namespace {
// Tests switch the SIMD paths off to check that both give identical bits.
bool g_simd_allowed = true;
bool g_avx512_allowed = true;
}  // namespace

bool simd_available() {
#if TARQ_HAVE_X86_SIMD
    __builtin_cpu_init();
    return g_simd_allowed && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
    return false;
#endif
}

void set_simd_allowed(bool allowed) { g_simd_allowed = allowed; }

bool avx512_available() {
#if TARQ_HAVE_X86_SIMD
    return g_avx512_allowed && simd_available() && __builtin_cpu_supports("avx512f");
#else
    return false;
#endif
}

void set_avx512_allowed(bool allowed) { g_avx512_allowed = allowed; }

}  // namespace tarq::kernel_dispatch
