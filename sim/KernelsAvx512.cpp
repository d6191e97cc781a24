// The kernels for x86-64 processors with AVX-512 (F, BW and VL) and BMI2: the threshold tests 64
// words at a time, straight into bit masks, with the bit logic of tempering in one instruction per
// step; the walk with BMI2's shifts. The other kernels are AVX2's (64-byte versions of the
// decision and key kernels measured slower: their loads at odd offsets split cache lines). This
// file alone is compiled for AVX-512, and the engine calls it only after asking the processor.
#if defined(__GNUC__) && !defined(__clang__)
// GCC 12's AVX-512 header fills the lanes a shift leaves undefined from a variable it never sets.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#include <immintrin.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#include "sim/KernelsImpl.hpp"

namespace orv {
namespace {

// Loads the first count words of 16 (any count); the others read as 0.
inline __m512i loadWords(const std::uint32_t* p, int count) {
    if (count >= 16) return _mm512_loadu_si512(p);
    if (count <= 0) return _mm512_setzero_si512();
    return _mm512_maskz_loadu_epi32(static_cast<__mmask16>((1u << count) - 1), p);
}

// Tempering and the four threshold tests. AVX-512 compares unsigned numbers, so each test is one
// comparison into a mask, and the masks add the tests' bits to the bytes.
void passBitsAvx512(const std::uint32_t* words, std::uint8_t* bits, int count, const PassLimits& limits) {
    const __m512i mask7 = _mm512_set1_epi32(static_cast<int>(0x9D2C5680u));
    const __m512i mask15 = _mm512_set1_epi32(static_cast<int>(0xEFC60000u));
    __m512i limit[4], bit[4];
    for (int t = 0; t < 4; ++t) {
        limit[t] = _mm512_set1_epi32(static_cast<int>(limits.limit[t]));
        bit[t] = _mm512_set1_epi8(static_cast<char>(limits.keep & (1 << t)));
    }
    for (int i = 0; i < count; i += 64) {
        __mmask64 passes[4] = {0, 0, 0, 0};
        for (int q = 0; q < 4; ++q) {
            __m512i y = loadWords(words + i + 16 * q, count - i - 16 * q);
            y = _mm512_xor_si512(y, _mm512_srli_epi32(y, 11));
            y = _mm512_ternarylogic_epi32(y, _mm512_slli_epi32(y, 7), mask7, 0x78);  // y ^ (b & c)
            y = _mm512_ternarylogic_epi32(y, _mm512_slli_epi32(y, 15), mask15, 0x78);
            y = _mm512_xor_si512(y, _mm512_srli_epi32(y, 18));
            for (int t = 0; t < 4; ++t)
                passes[t] |= static_cast<__mmask64>(_mm512_cmple_epu32_mask(y, limit[t])) << (16 * q);
        }
        __m512i out = _mm512_setzero_si512();
        for (int t = 0; t < 4; ++t) out = _mm512_mask_add_epi8(out, passes[t], out, bit[t]);
        const int left = count - i;
        if (left >= 64)
            _mm512_storeu_si512(bits + i, out);
        else
            _mm512_mask_storeu_epi8(bits + i, (std::uint64_t{1} << left) - 1, out);
    }
}

}  // namespace

const Kernels& avx512Kernels() {
    static const Kernels kernels = [] {
        Kernels k = avx2Kernels();
        k.passBits = passBitsAvx512;
        k.walkChunks = walkChunksShuffle;  // compiled here with BMI2's shifts
        return k;
    }();
    return kernels;
}

}  // namespace orv
