#pragma once

// The kernel loops, written once over a "vector of bytes" type V and included by each kernel
// translation unit, which supplies its own V. Everything here has internal linkage, so the
// copies compiled for different instruction sets never meet at link time; each translation unit
// uses some of them.
//
// V provides: kWidth (bytes per vector), T, load, store, set1, zero, eq (0xFF where equal),
// gtSigned, and_, andNot (~a & b), or_, add, sub. Masks are 0xFF / 0x00 per byte.

#include <cstddef>
#include <cstdint>

#if defined(__SSSE3__)
#include <tmmintrin.h>
#endif

#include "sim/Kernels.hpp"

namespace orv {
namespace {

// One byte at a time: the portable version, and the tail of every column in the others.
struct ScalarBytes {
    static constexpr std::ptrdiff_t kWidth = 1;
    using T = std::uint8_t;
    static T load(const void* p) { return *static_cast<const std::uint8_t*>(p); }
    static void store(void* p, T v) { *static_cast<std::uint8_t*>(p) = v; }
    static T set1(int v) { return static_cast<T>(v); }
    static T zero() { return 0; }
    static T eq(T a, T b) { return a == b ? 0xFF : 0x00; }
    static T gtSigned(T a, T b) { return static_cast<std::int8_t>(a) > static_cast<std::int8_t>(b) ? 0xFF : 0x00; }
    static T and_(T a, T b) { return static_cast<T>(a & b); }
    static T andNot(T a, T b) { return static_cast<T>(~a & b); }
    static T or_(T a, T b) { return static_cast<T>(a | b); }
    static T add(T a, T b) { return static_cast<T>(a + b); }
    static T sub(T a, T b) { return static_cast<T>(a - b); }
    static std::uint32_t movemask(T a) { return static_cast<std::uint32_t>(a >> 7); }
};

inline std::uint32_t kernelTemper(std::uint32_t y) {
    y ^= y >> 11;
    y ^= (y << 7) & 0x9D2C5680u;
    y ^= (y << 15) & 0xEFC60000u;
    y ^= y >> 18;
    return y;
}

// A plain loop that compilers vectorise for the instruction set of the translation unit.
[[maybe_unused]] void passBitsLoop(const std::uint32_t* words, std::uint8_t* bits, int count,
                                   const PassLimits& limits) {
    const std::uint32_t l0 = limits.limit[0], l1 = limits.limit[1], l2 = limits.limit[2], l3 = limits.limit[3];
    const std::uint8_t keep = limits.keep;
    for (int i = 0; i < count; ++i) {
        const std::uint32_t y = kernelTemper(words[i]);
        const unsigned b = static_cast<unsigned>(y <= l0) | static_cast<unsigned>(y <= l1) << 1 |
                           static_cast<unsigned>(y <= l2) << 2 | static_cast<unsigned>(y <= l3) << 3;
        bits[i] = static_cast<std::uint8_t>(b & keep);
    }
}

// A cell's draws in order: the vertical flow (if taken), the upper/lower choice (if the flow
// applies), the horizontal flow (if taken), the right/left choice (if that flow applies). The
// words that play each part sit at fixed offsets or one further on, so each is a choice between
// two shifted rows of bits, which vectorises.
[[maybe_unused]] void cellTableLoop(const std::uint8_t* bits, std::uint8_t* cells, int count, const FlowShape& shape) {
    const std::uint8_t takeV = shape.takeVertical, choiceV = shape.upperChoice, takeH = shape.takeHorizontal;
    const std::uint8_t choiceH = shape.rightChoice;
    const std::uint8_t actsV = static_cast<std::uint8_t>(takeV & shape.verticalActs);
    const std::uint8_t actsH = static_cast<std::uint8_t>(takeH & shape.horizontalActs);
    const std::uint8_t* first = bits;            // the vertical flow's word
    const std::uint8_t* second = bits + takeV;   // the upper/lower choice's word
    const std::uint8_t* third = second + takeH;  // the right/left choice's word
    for (int i = 0; i < count; ++i) {
        const auto applyV = static_cast<std::uint8_t>(first[i] & actsV);
        const auto shiftV = static_cast<std::uint8_t>(-(applyV & choiceV));  // 0xFF: one word further on
        const auto upperOut = static_cast<std::uint8_t>(((second[i] >> 1) & 1) | (choiceV ^ 1));
        const auto horizontalWord = static_cast<std::uint8_t>(second[i] ^ ((second[i] ^ second[i + 1]) & shiftV));
        const auto applyH = static_cast<std::uint8_t>((horizontalWord >> 2) & actsH);
        const auto choiceWord = static_cast<std::uint8_t>(third[i] ^ ((third[i] ^ third[i + 1]) & shiftV));
        const auto rightOut = static_cast<std::uint8_t>(((choiceWord >> 3) & 1) | (choiceH ^ 1));
        const auto vertical = static_cast<std::uint8_t>((kCountUpper | kCountLower) &
                                                        ~(static_cast<std::uint8_t>(-applyV) & (2 - upperOut)));
        const auto horizontal = static_cast<std::uint8_t>(
            (kCountLeft | kCountRight) & ~(static_cast<std::uint8_t>(-applyH) & (4 + (rightOut << 2))));
        const auto words = static_cast<std::uint8_t>(takeV + (shiftV & 1) + takeH + (applyH & choiceH));
        cells[i] = static_cast<std::uint8_t>(vertical | horizontal | words << 4);
    }
}

// A cell's flow bits worked out as in cellTableLoop, which vectorises (the SIMD versions look
// them up in the table of 16 instead).
[[maybe_unused]] void cellDecisionsLoop(const std::uint8_t* bits, std::uint8_t* decisions, int count,
                                        const DecisionIndex& index) {
    const FlowShape& shape = index.shape;
    const std::uint8_t takeV = shape.takeVertical, choiceV = shape.upperChoice, choiceH = shape.rightChoice;
    const auto actsV = static_cast<std::uint8_t>(takeV & shape.verticalActs);
    const auto actsH = static_cast<std::uint8_t>(shape.takeHorizontal & shape.horizontalActs);
    const auto longV = static_cast<std::uint8_t>(actsV & choiceV);
    const std::uint8_t* h = bits + takeV;  // the horizontal flow's word when the vertical is short
    for (int i = 0; i < count; ++i) {
        const auto applyV = static_cast<std::uint8_t>(bits[i] & actsV);
        const auto shift = static_cast<std::uint8_t>(-(applyV & choiceV));  // 0xFF: one word further on
        const auto upperOut = static_cast<std::uint8_t>(((bits[i + 1] >> 1) & longV) | (choiceV ^ 1));
        const auto horizontal = static_cast<std::uint8_t>(h[i] ^ ((h[i] ^ h[i + 1]) & shift));
        const auto choice = static_cast<std::uint8_t>(h[i + 1] ^ ((h[i + 1] ^ h[i + 2]) & shift));
        const auto applyH = static_cast<std::uint8_t>((horizontal >> 2) & actsH);
        const auto rightOut = static_cast<std::uint8_t>(((choice >> 3) & 1) | (choiceH ^ 1));
        const auto vertical = static_cast<std::uint8_t>((kCountUpper | kCountLower) &
                                                        ~(static_cast<std::uint8_t>(-applyV) & (2 - upperOut)));
        const auto horizontalBits = static_cast<std::uint8_t>(
            (kCountLeft | kCountRight) & ~(static_cast<std::uint8_t>(-applyH) & (4 + (rightOut << 2))));
        decisions[i] = static_cast<std::uint8_t>(vertical | horizontalBits);
    }
}

[[maybe_unused]] void walkKeysLoop(const std::uint8_t* bits, std::uint16_t* keys, int chunks,
                                   const WalkKeyBits& select) {
    for (int j = 0; j < chunks; ++j) {
        unsigned low = 0, high = 0;
        for (int i = 0; i < kWalkChunk; ++i) {
            const unsigned b = bits[kWalkChunk * j + i];
            low |= ((b >> select.lowBit) & select.lowOn) << i;
            high |= ((b >> select.highBit) & select.highOn) << i;
        }
        keys[j] = static_cast<std::uint16_t>(low | high << 8);
    }
}

// walkInputs as two passes, one for each of its parts.
template <auto kDecisions, auto kKeys>
void walkInputsInTwo(const std::uint8_t* bits, std::uint8_t* decisions, std::uint16_t* keys, int chunks,
                     const DecisionIndex& index, const WalkKeyBits& select) {
    kDecisions(bits, decisions, kWalkChunk * chunks, index);
    kKeys(bits, keys, chunks, select);
}

// For each pattern of starts in a chunk: their places in the chunk, in order, a byte each, and
// how many there are.
struct StartPicks {
    std::uint64_t places[256];
    std::uint8_t count[256];
};
constexpr StartPicks kStartPicks = [] {
    StartPicks picks{};
    for (unsigned starts = 0; starts < 256; ++starts) {
        unsigned n = 0;
        for (unsigned i = 0; i < 8; ++i)
            if ((starts >> i & 1u) != 0) picks.places[starts] |= std::uint64_t{i} << (8 * n++);
        picks.count[starts] = static_cast<std::uint8_t>(n);
    }
    return picks;
}();

// One step of the chunked walk: the starts of the chunk with key `key` for the state, and the
// state after it.
inline unsigned walkStep(const std::uint64_t* table, unsigned key, unsigned& state4) {
    const std::uint64_t entry = table[key];
    const auto starts = static_cast<std::uint8_t>(entry >> (16 + 2 * state4));
    state4 = static_cast<unsigned>(entry >> state4) & 12u;
    return starts;
}

// The walk with the cells picked one byte at a time: eight bytes written whatever the count.
[[maybe_unused]] int walkChunksLoop(const std::uint16_t* keys, const std::uint8_t* decisions, int chunks,
                                    const std::uint64_t* table, unsigned* state4, std::uint8_t* cells,
                                    std::uint8_t* starts) {
    unsigned state = *state4;
    std::uint8_t* out = cells;
    for (int j = 0; j < chunks; ++j) {
        const unsigned m = walkStep(table, keys[j], state);
        starts[j] = static_cast<std::uint8_t>(m);
        const std::uint8_t* d = decisions + kWalkChunk * j;
        const std::uint64_t places = kStartPicks.places[m];
        for (int k = 0; k < kWalkChunk; ++k) out[k] = d[(places >> (8 * k)) & 7u];
        out += kStartPicks.count[m];
    }
    *state4 = state;
    return static_cast<int>(out - cells);
}

#if defined(__SSSE3__)
// The cells of a chunk picked by one byte shuffle of its eight decisions.
int walkChunksShuffle(const std::uint16_t* keys, const std::uint8_t* decisions, int chunks, const std::uint64_t* table,
                      unsigned* state4, std::uint8_t* cells, std::uint8_t* starts) {
    unsigned state = *state4;
    std::uint8_t* out = cells;
    for (int j = 0; j < chunks; ++j) {
        const unsigned m = walkStep(table, keys[j], state);
        starts[j] = static_cast<std::uint8_t>(m);
        const __m128i d = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(decisions + kWalkChunk * j));
        const __m128i places = _mm_cvtsi64_si128(static_cast<long long>(kStartPicks.places[m]));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(d, places));
        out += kStartPicks.count[m];
    }
    *state4 = state;
    return static_cast<int>(out - cells);
}
#endif

// The entry of the next cell is one of the four after a cell's own: a choice between four
// shifted rows of bytes, which vectorises.
[[maybe_unused]] void cellPairsLoop(const std::uint8_t* cells, std::uint8_t* second, std::uint8_t* words, int count) {
    for (int i = 0; i < count; ++i) {
        const std::uint8_t cell = cells[i];
        const unsigned taken = cell >> 4;
        const std::uint8_t after1 = cells[i + 1], after2 = cells[i + 2], after3 = cells[i + 3], after4 = cells[i + 4];
        const std::uint8_t after = taken == 1 ? after1 : taken == 2 ? after2 : taken == 3 ? after3 : after4;
        second[i] = after;
        words[i] = static_cast<std::uint8_t>(taken + (after >> 4));
    }
}

// The rule for cells [from, to) of a column, to - from a multiple of V::kWidth. A land
// neighbour gives an eq mask of -1, so the masks are subtracted to count. A cell the rule leaves
// alone takes keep's value (keep == next: it keeps its own). With kChanges, the cells whose new
// value differs from mid are marked in changes (bit y % 64 of word y / 64, set with |=); the
// result is nonzero when any is.
template <class V, bool kChanges = false>
std::uint64_t ruleSpan(const std::int8_t* left, const std::int8_t* mid, const std::int8_t* right,
                       const std::uint8_t* decisions, const std::int8_t* keep, std::int8_t* next,
                       std::uint64_t* changes, std::ptrdiff_t from, std::ptrdiff_t to, RuleBounds bounds) {
    using T = typename V::T;
    constexpr std::uint64_t kLanes = V::kWidth == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << V::kWidth) - 1;
    const T three = V::set1(3), four = V::set1(4), zero = V::zero();
    const T upperBit = V::set1(kCountUpper), lowerBit = V::set1(kCountLower);
    const T leftBit = V::set1(kCountLeft), rightBit = V::set1(kCountRight);
    const T landmass = V::set1(bounds.landmasssize), ratio = V::set1(bounds.landwaterratio);
    std::uint64_t any = 0;
    for (std::ptrdiff_t y = from; y < to; y += V::kWidth) {
        const T d = V::load(decisions + y);
        auto land = [&](const std::int8_t* p) { return V::eq(V::load(p), three); };
        auto counts = [&](T bit) { return V::eq(V::and_(d, bit), bit); };
        T negative =
            V::add(V::add(land(left + y - 1), land(right + y - 1)), V::add(land(left + y + 1), land(right + y + 1)));
        negative = V::add(negative, V::and_(land(mid + y - 1), counts(upperBit)));
        negative = V::add(negative, V::and_(land(mid + y + 1), counts(lowerBit)));
        negative = V::add(negative, V::and_(land(left + y), counts(leftBit)));
        negative = V::add(negative, V::and_(land(right + y), counts(rightBit)));
        const T count = V::sub(zero, negative);

        const T v = V::load(mid + y);
        const T isWater = V::eq(v, zero);
        const T toLand = V::and_(isWater, V::gtSigned(four, count));
        // Water and the sea never turn to water; the sea never turns at all.
        const T toWater =
            V::andNot(V::or_(isWater, V::eq(v, four)),
                      V::or_(V::and_(V::eq(v, three), V::gtSigned(count, landmass)), V::eq(count, ratio)));
        const T old = V::load(keep + y);
        const T result = V::or_(V::andNot(V::or_(toLand, toWater), old), V::and_(toLand, three));
        V::store(next + y, result);
        if constexpr (kChanges) {
            const std::uint64_t differs = ~std::uint64_t{V::movemask(V::eq(result, v))} & kLanes;
            changes[y >> 6] |= differs << (y & 63);
            any |= differs;
        }
    }
    return any;
}

// Cells [from, to) of a column, to - from a multiple of V::kWidth: commit and classify (the sea,
// which never changes, as class 3).
template <class V>
void commitSpan(std::int8_t* current, const std::int8_t* next, std::uint8_t* classes, std::ptrdiff_t from,
                std::ptrdiff_t to, std::int8_t waterValue) {
    using T = typename V::T;
    const T water = V::set1(waterValue), one = V::set1(1), two = V::set1(2), three = V::set1(3), sea = V::set1(4);
    for (std::ptrdiff_t y = from; y < to; y += V::kWidth) {
        const T c = V::load(current + y);
        const T n = V::load(next + y);
        const T kind = V::sub(two, V::and_(V::eq(n, water), one));
        V::store(classes + y, V::or_(V::andNot(V::eq(c, n), kind), V::and_(V::eq(n, sea), three)));
        V::store(current + y, n);
    }
}

// Zeroes the change words of a column of count cells.
inline void clearChanges(std::uint64_t* changes, std::ptrdiff_t count) {
    for (std::ptrdiff_t i = 0; i < (count + 63) / 64; ++i) changes[i] = 0;
}

// The largest multiple of width not above count.
constexpr std::ptrdiff_t wholeVectors(std::ptrdiff_t count, std::ptrdiff_t width) {
    return count - count % width;
}

[[maybe_unused]] void drawTileScalar(const std::uint8_t* classes, std::ptrdiff_t classStride, int columns, int rows,
                                     std::uint32_t* pixels, std::ptrdiff_t pitch, const std::uint32_t* colors) {
    for (int r = 0; r < rows; ++r) {
        std::uint32_t* out = pixels + r * pitch;
        for (int c = 0; c < columns; ++c) out[c] = colors[classes[c * classStride + r]];
    }
}

}  // namespace
}  // namespace orv
