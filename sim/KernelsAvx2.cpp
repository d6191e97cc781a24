// The kernels for x86-64 processors with AVX2: 32 cells at a time. This file alone is compiled
// with AVX2 enabled, and the engine calls it only after asking the processor.
#include <immintrin.h>

#include "sim/KernelsX86.hpp"

namespace orv {
namespace {

struct Avx2Bytes {
    static constexpr std::ptrdiff_t kWidth = 32;
    using T = __m256i;
    static T load(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
    static void store(void* p, T v) { _mm256_storeu_si256(static_cast<__m256i*>(p), v); }
    static T set1(int v) { return _mm256_set1_epi8(static_cast<char>(v)); }
    static T zero() { return _mm256_setzero_si256(); }
    static T eq(T a, T b) { return _mm256_cmpeq_epi8(a, b); }
    static T gtSigned(T a, T b) { return _mm256_cmpgt_epi8(a, b); }
    static T and_(T a, T b) { return _mm256_and_si256(a, b); }
    static T andNot(T a, T b) { return _mm256_andnot_si256(a, b); }
    static T or_(T a, T b) { return _mm256_or_si256(a, b); }
    static T add(T a, T b) { return _mm256_add_epi8(a, b); }
    static T sub(T a, T b) { return _mm256_sub_epi8(a, b); }
    static std::uint32_t movemask(T a) { return static_cast<std::uint32_t>(_mm256_movemask_epi8(a)); }
};

// Tempering and the four threshold tests, 32 words at a time. AVX2 compares only signed
// numbers, so outputs and limits are both moved by 2^31. Each output is compared with the four
// limits in ascending order, and how many it exceeds picks its pass bits from a table.
void passBitsAvx2(const std::uint32_t* words, std::uint8_t* bits, int count, const PassLimits& limits) {
    const __m256i sign = _mm256_set1_epi32(static_cast<int>(0x80000000u));
    __m256i limit[4];
    for (int i = 0; i < 4; ++i) limit[i] = _mm256_set1_epi32(static_cast<int>(limits.ascending[i] ^ 0x80000000u));
    const __m256i byAbove =
        _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(limits.byAbove)));
    const __m256i mask7 = _mm256_set1_epi32(static_cast<int>(0x9D2C5680u));
    const __m256i mask15 = _mm256_set1_epi32(static_cast<int>(0xEFC60000u));
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    // Minus the number of limits each of eight outputs exceeds.
    auto above = [&](const std::uint32_t* p) {
        __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        y = _mm256_xor_si256(y, _mm256_srli_epi32(y, 11));
        y = _mm256_xor_si256(y, _mm256_and_si256(_mm256_slli_epi32(y, 7), mask7));
        y = _mm256_xor_si256(y, _mm256_and_si256(_mm256_slli_epi32(y, 15), mask15));
        y = _mm256_xor_si256(_mm256_xor_si256(y, _mm256_srli_epi32(y, 18)), sign);
        return _mm256_add_epi32(_mm256_add_epi32(_mm256_cmpgt_epi32(y, limit[0]), _mm256_cmpgt_epi32(y, limit[1])),
                                _mm256_add_epi32(_mm256_cmpgt_epi32(y, limit[2]), _mm256_cmpgt_epi32(y, limit[3])));
    };
    int i = 0;
    for (; i + 32 <= count; i += 32) {
        const __m256i low = _mm256_packs_epi32(above(words + i), above(words + i + 8));
        const __m256i high = _mm256_packs_epi32(above(words + i + 16), above(words + i + 24));
        // The packs work within 128-bit lanes; the permutation puts the 32 bytes back in order.
        const __m256i counts = _mm256_permutevar8x32_epi32(_mm256_packs_epi16(low, high), order);
        const __m256i passed = _mm256_shuffle_epi8(byAbove, _mm256_sub_epi8(_mm256_setzero_si256(), counts));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(bits + i), passed);
    }
    passBitsLoop(words + i, bits + i, count - i, limits);
}

// Four chunks at a time: the selected bit of 32 words moved to the top of their bytes and
// gathered, for each byte of the keys, then the two bytes of every key interleaved.
struct KeyBitsAvx2 {
    explicit KeyBitsAvx2(const WalkKeyBits& select)
        : lowShift(_mm_cvtsi32_si128(7 - select.lowBit)),
          highShift(_mm_cvtsi32_si128(7 - select.highBit)),
          lowOn(select.lowOn != 0 ? 0xFFFFFFFFu : 0),
          highOn(select.highOn != 0 ? 0xFFFFFFFFu : 0) {}
    // The keys of the four chunks in b.
    void store(__m256i b, std::uint16_t* keys) const {
        const auto low = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_sll_epi16(b, lowShift))) & lowOn;
        const auto high = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_sll_epi16(b, highShift))) & highOn;
        const __m128i interleaved =
            _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(low)), _mm_cvtsi32_si128(static_cast<int>(high)));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(keys), interleaved);
    }
    __m128i lowShift, highShift;
    std::uint32_t lowOn, highOn;
};

void walkKeysAvx2(const std::uint8_t* bits, std::uint16_t* keys, int chunks, const WalkKeyBits& select) {
    const KeyBitsAvx2 keyBits(select);
    int j = 0;
    for (; j + 4 <= chunks; j += 4)
        keyBits.store(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(bits + kWalkChunk * j)), keys + j);
    walkKeysLoop(bits + kWalkChunk * j, keys + j, chunks - j, select);
}

// The decisions: the words that play each part are chosen by blends between rows of bits
// shifted by one, and the 16-entry table is one byte shuffle. The keys come from the same loads.
void walkInputsAvx2(const std::uint8_t* bits, std::uint8_t* decisions, std::uint16_t* keys, int chunks,
                    const DecisionIndex& index, const WalkKeyBits& select) {
    const __m256i lut = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(index.lut)));
    const __m256i one = _mm256_set1_epi8(1), four = _mm256_set1_epi8(4), eight = _mm256_set1_epi8(8);
    const FlowShape& shape = index.shape;
    const int longV = shape.takeVertical & shape.verticalActs & shape.upperChoice;
    const __m256i vertical = _mm256_set1_epi8(static_cast<char>(shape.takeVertical));
    const __m256i upper = _mm256_set1_epi8(static_cast<char>(longV << 1));
    const __m256i longVertical = _mm256_set1_epi8(static_cast<char>(longV));
    const KeyBitsAvx2 keyBits(select);
    const std::uint8_t* h = bits + shape.takeVertical;
    auto load = [](const std::uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); };
    const int count = kWalkChunk * chunks;
    int i = 0;
    for (; i + 32 <= count; i += 32) {
        const __m256i b0 = load(bits + i), b1 = load(bits + i + 1);
        const __m256i h0 = load(h + i), h1 = load(h + i + 1), h2 = load(h + i + 2);
        const __m256i longCell = _mm256_cmpeq_epi8(_mm256_and_si256(b0, longVertical), one);
        const __m256i horizontal = _mm256_blendv_epi8(h0, h1, longCell);
        const __m256i choice = _mm256_blendv_epi8(h1, h2, longCell);
        const __m256i at =
            _mm256_or_si256(_mm256_or_si256(_mm256_and_si256(b0, vertical), _mm256_and_si256(b1, upper)),
                            _mm256_or_si256(_mm256_and_si256(horizontal, four), _mm256_and_si256(choice, eight)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(decisions + i), _mm256_shuffle_epi8(lut, at));
        keyBits.store(b0, keys + i / kWalkChunk);
    }
    cellDecisionsLoop(bits + i, decisions + i, count - i, index);
    walkKeysLoop(bits + i, keys + i / kWalkChunk, (count - i) / kWalkChunk, select);
}

void ruleColumnAvx2(const std::int8_t* left, const std::int8_t* mid, const std::int8_t* right,
                    const std::uint8_t* decisions, std::int8_t* next, std::ptrdiff_t count, RuleBounds bounds) {
    const std::ptrdiff_t whole = wholeVectors(count, Avx2Bytes::kWidth);
    const std::ptrdiff_t half = whole + wholeVectors(count - whole, Sse2Bytes::kWidth);
    ruleSpan<Avx2Bytes>(left, mid, right, decisions, next, next, nullptr, 0, whole, bounds);
    ruleSpan<Sse2Bytes>(left, mid, right, decisions, next, next, nullptr, whole, half, bounds);
    ruleSpan<ScalarBytes>(left, mid, right, decisions, next, next, nullptr, half, count, bounds);
}

bool ruleColumnChangesAvx2(const std::int8_t* left, const std::int8_t* mid, const std::int8_t* right,
                           const std::uint8_t* decisions, const std::int8_t* keep, std::int8_t* next,
                           std::uint64_t* changes, std::ptrdiff_t count, RuleBounds bounds) {
    clearChanges(changes, count);
    const std::ptrdiff_t whole = wholeVectors(count, Avx2Bytes::kWidth);
    const std::ptrdiff_t half = whole + wholeVectors(count - whole, Sse2Bytes::kWidth);
    const std::uint64_t any =
        ruleSpan<Avx2Bytes, true>(left, mid, right, decisions, keep, next, changes, 0, whole, bounds) |
        ruleSpan<Sse2Bytes, true>(left, mid, right, decisions, keep, next, changes, whole, half, bounds) |
        ruleSpan<ScalarBytes, true>(left, mid, right, decisions, keep, next, changes, half, count, bounds);
    return any != 0;
}

void commitColumnAvx2(std::int8_t* current, const std::int8_t* next, std::uint8_t* classes, std::ptrdiff_t count,
                      std::int8_t waterValue) {
    const std::ptrdiff_t whole = wholeVectors(count, Avx2Bytes::kWidth);
    const std::ptrdiff_t half = whole + wholeVectors(count - whole, Sse2Bytes::kWidth);
    commitSpan<Avx2Bytes>(current, next, classes, 0, whole, waterValue);
    commitSpan<Sse2Bytes>(current, next, classes, whole, half, waterValue);
    commitSpan<ScalarBytes>(current, next, classes, half, count, waterValue);
}

void drawTileAvx2(const std::uint8_t* classes, std::ptrdiff_t classStride, int columns, int rows, std::uint32_t* pixels,
                  std::ptrdiff_t pitch, const std::uint32_t* colors) {
    // The class of a cell (0 .. 3) picks its colour out of one register.
    const __m256i table = _mm256_setr_epi32(static_cast<int>(colors[0]), static_cast<int>(colors[1]),
                                            static_cast<int>(colors[2]), static_cast<int>(colors[3]), 0, 0, 0, 0);
    auto expand = [&](__m128i row, std::uint32_t* out) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                            _mm256_permutevar8x32_epi32(table, _mm256_cvtepu8_epi32(row)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 8),
                            _mm256_permutevar8x32_epi32(table, _mm256_cvtepu8_epi32(_mm_srli_si128(row, 8))));
    };
    drawTileBlocks(classes, classStride, columns, rows, pixels, pitch, colors, expand);
}

const Kernels kAvx2{.passBits = passBitsAvx2,
                    .cellTable = cellTableLoop,
                    .cellPairs = cellPairsLoop,
                    .walkKeys = walkKeysAvx2,
                    .walkInputs = walkInputsAvx2,
                    .walkChunks = walkChunksShuffle,
                    .ruleColumn = ruleColumnAvx2,
                    .ruleColumnChanges = ruleColumnChangesAvx2,
                    .commitColumn = commitColumnAvx2,
                    .drawTile = drawTileAvx2,
                    .ruleUniform = nullptr};

}  // namespace

const Kernels& avx2Kernels() {
    return kAvx2;
}

}  // namespace orv
