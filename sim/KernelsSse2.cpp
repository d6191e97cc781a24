// The kernels for x86-64 processors in general: 16 cells at a time with SSE2.
#include "sim/KernelsX86.hpp"

namespace orv {
namespace {

void ruleColumnSse2(const std::int8_t* left, const std::int8_t* mid, const std::int8_t* right,
                    const std::uint8_t* decisions, std::int8_t* next, std::ptrdiff_t count, RuleBounds bounds) {
    const std::ptrdiff_t whole = wholeVectors(count, Sse2Bytes::kWidth);
    ruleSpan<Sse2Bytes>(left, mid, right, decisions, next, next, nullptr, 0, whole, bounds);
    ruleSpan<ScalarBytes>(left, mid, right, decisions, next, next, nullptr, whole, count, bounds);
}

bool ruleColumnChangesSse2(const std::int8_t* left, const std::int8_t* mid, const std::int8_t* right,
                           const std::uint8_t* decisions, const std::int8_t* keep, std::int8_t* next,
                           std::uint64_t* changes, std::ptrdiff_t count, RuleBounds bounds) {
    clearChanges(changes, count);
    const std::ptrdiff_t whole = wholeVectors(count, Sse2Bytes::kWidth);
    const std::uint64_t any =
        ruleSpan<Sse2Bytes, true>(left, mid, right, decisions, keep, next, changes, 0, whole, bounds) |
        ruleSpan<ScalarBytes, true>(left, mid, right, decisions, keep, next, changes, whole, count, bounds);
    return any != 0;
}

void commitColumnSse2(std::int8_t* current, const std::int8_t* next, std::uint8_t* classes, std::ptrdiff_t count,
                      std::int8_t waterValue) {
    const std::ptrdiff_t whole = wholeVectors(count, Sse2Bytes::kWidth);
    commitSpan<Sse2Bytes>(current, next, classes, 0, whole, waterValue);
    commitSpan<ScalarBytes>(current, next, classes, whole, count, waterValue);
}

void drawTileSse2(const std::uint8_t* classes, std::ptrdiff_t classStride, int columns, int rows, std::uint32_t* pixels,
                  std::ptrdiff_t pitch, const std::uint32_t* colors) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i one = _mm_set1_epi32(1), two = _mm_set1_epi32(2), three = _mm_set1_epi32(3);
    const __m128i unchanged = _mm_set1_epi32(static_cast<int>(colors[0]));
    const __m128i toWater = _mm_set1_epi32(static_cast<int>(colors[0] ^ colors[1]));
    const __m128i toLand = _mm_set1_epi32(static_cast<int>(colors[0] ^ colors[2]));
    const __m128i toSea = _mm_set1_epi32(static_cast<int>(colors[0] ^ colors[3]));
    auto expand = [&](__m128i row, std::uint32_t* out) {
        const __m128i low = _mm_unpacklo_epi8(row, zero), high = _mm_unpackhi_epi8(row, zero);
        const __m128i quarters[4] = {_mm_unpacklo_epi16(low, zero), _mm_unpackhi_epi16(low, zero),
                                     _mm_unpacklo_epi16(high, zero), _mm_unpackhi_epi16(high, zero)};
        for (int k = 0; k < 4; ++k) {
            const __m128i water = _mm_and_si128(_mm_cmpeq_epi32(quarters[k], one), toWater);
            const __m128i land = _mm_and_si128(_mm_cmpeq_epi32(quarters[k], two), toLand);
            const __m128i sea = _mm_and_si128(_mm_cmpeq_epi32(quarters[k], three), toSea);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * k),
                             _mm_xor_si128(_mm_xor_si128(unchanged, sea), _mm_xor_si128(water, land)));
        }
    };
    drawTileBlocks(classes, classStride, columns, rows, pixels, pitch, colors, expand);
}

// Two chunks at a time: the selected bit of 16 words moved to the top of their bytes and gathered.
void walkKeysSse2(const std::uint8_t* bits, std::uint16_t* keys, int chunks, const WalkKeyBits& select) {
    const __m128i lowShift = _mm_cvtsi32_si128(7 - select.lowBit), highShift = _mm_cvtsi32_si128(7 - select.highBit);
    const unsigned lowOn = select.lowOn != 0 ? 0xFFFFu : 0, highOn = select.highOn != 0 ? 0xFFFFu : 0;
    int j = 0;
    for (; j + 2 <= chunks; j += 2) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bits + kWalkChunk * j));
        const unsigned low = static_cast<unsigned>(_mm_movemask_epi8(_mm_sll_epi16(b, lowShift))) & lowOn;
        const unsigned high = static_cast<unsigned>(_mm_movemask_epi8(_mm_sll_epi16(b, highShift))) & highOn;
        keys[j] = static_cast<std::uint16_t>((low & 0xFFu) | (high & 0xFFu) << 8);
        keys[j + 1] = static_cast<std::uint16_t>(low >> 8 | (high & 0xFF00u));
    }
    walkKeysLoop(bits + kWalkChunk * j, keys + j, chunks - j, select);
}

// Without SSSE3's byte shuffle the walk picks its cells one by one, as the portable version does.
const Kernels kSse2{.passBits = passBitsLoop,
                    .cellTable = cellTableLoop,
                    .cellPairs = cellPairsLoop,
                    .walkKeys = walkKeysSse2,
                    .walkInputs = walkInputsInTwo<cellDecisionsLoop, walkKeysSse2>,
                    .walkChunks = walkChunksLoop,
                    .ruleColumn = ruleColumnSse2,
                    .ruleColumnChanges = ruleColumnChangesSse2,
                    .commitColumn = commitColumnSse2,
                    .drawTile = drawTileSse2,
                    .ruleUniform = nullptr};

}  // namespace

const Kernels& sse2Kernels() {
    return kSse2;
}

}  // namespace orv
