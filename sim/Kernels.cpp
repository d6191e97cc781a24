#include "sim/Kernels.hpp"

namespace orv {

#if defined(__x86_64__)
#define ORV_X86_KERNELS 1
#else
#define ORV_X86_KERNELS 0
#endif
// WebAssembly builds with SIMD have the SSE2 kernels (the compiler maps them onto its SIMD) and
// their own.
#if ORV_X86_KERNELS || (defined(__EMSCRIPTEN__) && defined(__SSE2__))
#define ORV_SSE2_KERNELS 1
#else
#define ORV_SSE2_KERNELS 0
#endif
#if defined(__EMSCRIPTEN__) && defined(__wasm_simd128__)
#define ORV_SIMD128_KERNELS 1
#else
#define ORV_SIMD128_KERNELS 0
#endif

bool kernelLevelAvailable(KernelLevel level) {
    switch (level) {
        case KernelLevel::Portable:
            return true;
#if ORV_SSE2_KERNELS
        case KernelLevel::Sse2:
            return true;
#endif
#if ORV_SIMD128_KERNELS
        case KernelLevel::Simd128:
            return true;
#endif
#if ORV_X86_KERNELS
        case KernelLevel::Avx2:
            return __builtin_cpu_supports("avx2") != 0;
        case KernelLevel::Avx512:
            return __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512bw") != 0 &&
                   __builtin_cpu_supports("avx512vl") != 0 && __builtin_cpu_supports("bmi2") != 0;
#endif
        default:
            return false;
    }
}

KernelLevel bestKernelLevel() {
    if (kernelLevelAvailable(KernelLevel::Avx512)) return KernelLevel::Avx512;
    if (kernelLevelAvailable(KernelLevel::Avx2)) return KernelLevel::Avx2;
    if (kernelLevelAvailable(KernelLevel::Simd128)) return KernelLevel::Simd128;
    if (kernelLevelAvailable(KernelLevel::Sse2)) return KernelLevel::Sse2;
    return KernelLevel::Portable;
}

const Kernels& kernelsFor(KernelLevel level) {
#if ORV_X86_KERNELS
    if (level == KernelLevel::Avx512 && kernelLevelAvailable(KernelLevel::Avx512)) return avx512Kernels();
    if (level >= KernelLevel::Avx2 && kernelLevelAvailable(KernelLevel::Avx2)) return avx2Kernels();
#endif
#if ORV_SIMD128_KERNELS
    if (level >= KernelLevel::Simd128) return simd128Kernels();
#endif
#if ORV_SSE2_KERNELS
    if (level != KernelLevel::Portable) return sse2Kernels();
#else
    (void)level;
#endif
    return portableKernels();
}

const char* kernelLevelName(KernelLevel level) {
    switch (level) {
        case KernelLevel::Portable:
            return "portable";
        case KernelLevel::Sse2:
            return "sse2";
        case KernelLevel::Simd128:
            return "simd128";
        case KernelLevel::Avx2:
            return "avx2";
        case KernelLevel::Avx512:
            return "avx512";
    }
    return "?";
}

}  // namespace orv
