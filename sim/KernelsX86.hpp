#pragma once

// The pieces that the SSE2 and the AVX2 kernels share (x86-64, and WebAssembly for SSE2).
// Internal linkage, as in KernelsImpl.hpp.

#include <emmintrin.h>

#include "sim/KernelsImpl.hpp"

namespace orv {
namespace {

struct Sse2Bytes {
    static constexpr std::ptrdiff_t kWidth = 16;
    using T = __m128i;
    static T load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
    static void store(void* p, T v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }
    static T set1(int v) { return _mm_set1_epi8(static_cast<char>(v)); }
    static T zero() { return _mm_setzero_si128(); }
    static T eq(T a, T b) { return _mm_cmpeq_epi8(a, b); }
    static T gtSigned(T a, T b) { return _mm_cmpgt_epi8(a, b); }
    static T and_(T a, T b) { return _mm_and_si128(a, b); }
    static T andNot(T a, T b) { return _mm_andnot_si128(a, b); }
    static T or_(T a, T b) { return _mm_or_si128(a, b); }
    static T add(T a, T b) { return _mm_add_epi8(a, b); }
    static T sub(T a, T b) { return _mm_sub_epi8(a, b); }
    static std::uint32_t movemask(T a) { return static_cast<std::uint32_t>(_mm_movemask_epi8(a)); }
};

// Transposes a 16 x 16 block of bytes in four rounds of interleaving (8, 16, 32, 64 bits).
// Afterwards r[i] holds what was byte k of every input row, for k the 4-bit reversal of i.
inline void transpose16(__m128i r[16]) {
    __m128i t[16];
    for (int i = 0; i < 16; i += 2) {
        t[i] = _mm_unpacklo_epi8(r[i], r[i + 1]);
        t[i + 1] = _mm_unpackhi_epi8(r[i], r[i + 1]);
    }
    for (int i = 0; i < 16; i += 4) {
        for (int j = 0; j < 2; ++j) {
            r[i + j] = _mm_unpacklo_epi16(t[i + j], t[i + j + 2]);
            r[i + j + 2] = _mm_unpackhi_epi16(t[i + j], t[i + j + 2]);
        }
    }
    for (int i = 0; i < 16; i += 8) {
        for (int j = 0; j < 4; ++j) {
            t[i + j] = _mm_unpacklo_epi32(r[i + j], r[i + j + 4]);
            t[i + j + 4] = _mm_unpackhi_epi32(r[i + j], r[i + j + 4]);
        }
    }
    for (int j = 0; j < 8; ++j) {
        r[j] = _mm_unpacklo_epi64(t[j], t[j + 8]);
        r[j + 8] = _mm_unpackhi_epi64(t[j], t[j + 8]);
    }
}

constexpr int kReversed4[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};

// drawTile in blocks of 16 x 16 cells: the classes of 16 columns are transposed into 16 pixel
// rows, which expand(classes16, out) turns into colours. What is left over goes one by one.
template <class Expand>
void drawTileBlocks(const std::uint8_t* classes, std::ptrdiff_t classStride, int columns, int rows,
                    std::uint32_t* pixels, std::ptrdiff_t pitch, const std::uint32_t* colors, const Expand& expand) {
    const int wholeColumns = columns - columns % 16;
    const int wholeRows = rows - rows % 16;
    for (int c0 = 0; c0 < wholeColumns; c0 += 16) {
        for (int r0 = 0; r0 < wholeRows; r0 += 16) {
            __m128i block[16];
            for (int c = 0; c < 16; ++c)
                block[c] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(classes + (c0 + c) * classStride + r0));
            transpose16(block);
            for (int i = 0; i < 16; ++i) expand(block[i], pixels + (r0 + kReversed4[i]) * pitch + c0);
        }
    }
    if (wholeRows < rows)
        drawTileScalar(classes + wholeRows, classStride, wholeColumns, rows - wholeRows, pixels + wholeRows * pitch,
                       pitch, colors);
    if (wholeColumns < columns)
        drawTileScalar(classes + wholeColumns * classStride, classStride, columns - wholeColumns, rows,
                       pixels + wholeColumns, pitch, colors);
}

}  // namespace
}  // namespace orv
