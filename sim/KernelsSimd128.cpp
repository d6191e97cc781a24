// The kernels for WebAssembly's 128-bit SIMD, those of the browser build: 16 cells at a time, as
// with SSE2 (whose drawing and cell tables this table keeps), in WebAssembly's own instructions.
// Its byte shuffle picks the walk's cells and looks up decisions and pass bits, change bits are
// stored 16 at a time, and a generation whose cells all take the same flow bits has each column's
// land summed once for the columns on either side of it.
#include <wasm_simd128.h>

#include <cstring>

#include "sim/KernelsImpl.hpp"

namespace orv {
namespace {

struct Simd128Bytes {
    static constexpr std::ptrdiff_t kWidth = 16;
    using T = v128_t;
    static T load(const void* p) { return wasm_v128_load(p); }
    static void store(void* p, T v) { wasm_v128_store(p, v); }
    static T set1(int v) { return wasm_i8x16_splat(static_cast<std::int8_t>(v)); }
    static T zero() { return wasm_i64x2_const(0, 0); }
    static T eq(T a, T b) { return wasm_i8x16_eq(a, b); }
    static T gtSigned(T a, T b) { return wasm_i8x16_gt(a, b); }
    static T and_(T a, T b) { return wasm_v128_and(a, b); }
    static T andNot(T a, T b) { return wasm_v128_andnot(b, a); }
    static T or_(T a, T b) { return wasm_v128_or(a, b); }
    static T add(T a, T b) { return wasm_i8x16_add(a, b); }
    static T sub(T a, T b) { return wasm_i8x16_sub(a, b); }
    static std::uint32_t movemask(T a) { return wasm_i8x16_bitmask(a); }
};

v128_t splat8(int v) {
    return wasm_i8x16_splat(static_cast<std::int8_t>(v));
}

// The change bits of the 16 cells from row y (a multiple of 16) on, written whole.
void storeChanges(std::uint64_t* changes, std::ptrdiff_t y, std::uint32_t bits) {
    const auto sixteen = static_cast<std::uint16_t>(bits);
    std::memcpy(reinterpret_cast<unsigned char*>(changes) + y / 8, &sixteen, sizeof sixteen);
}

// Zeroes the change bits of a column of count cells from row `from` (a multiple of 16) on.
void clearChangesFrom(std::uint64_t* changes, std::ptrdiff_t from, std::ptrdiff_t count) {
    const std::ptrdiff_t end = (count + 63) / 64 * 8;
    std::memset(reinterpret_cast<unsigned char*>(changes) + from / 8, 0, static_cast<std::size_t>(end - from / 8));
}

// What the rule compares. A count of land neighbours is held negated (each neighbour's mask,
// 0xFF, adds -1), so it is compared with the negated bounds.
struct RuleConstants {
    explicit RuleConstants(RuleBounds bounds)
        : water(splat8(0)),
          land(splat8(3)),
          sea(splat8(4)),
          minusFour(splat8(-4)),
          minusLandmass(splat8(-bounds.landmasssize)),
          minusRatio(splat8(-bounds.landwaterratio)) {}
    v128_t water, land, sea, minusFour, minusLandmass, minusRatio;
};

// The cells v with -negCount land neighbours: 0xFF where the rule turns them to land, and where it
// turns them at all (to land or to water). Water and the sea never turn to water, and the sea
// never turns; land turns to water when crowded, and anything else when the count is the ratio.
struct Turns {
    v128_t toLand, turned;
};
Turns ruleTurns(v128_t v, v128_t negCount, const RuleConstants& k) {
    const v128_t isWater = wasm_i8x16_eq(v, k.water);
    const v128_t toLand = wasm_v128_and(isWater, wasm_i8x16_gt(negCount, k.minusFour));
    const v128_t crowded = wasm_v128_and(wasm_i8x16_eq(v, k.land), wasm_i8x16_lt(negCount, k.minusLandmass));
    const v128_t toWater = wasm_v128_andnot(wasm_v128_or(crowded, wasm_i8x16_eq(negCount, k.minusRatio)),
                                            wasm_v128_or(isWater, wasm_i8x16_eq(v, k.sea)));
    return {toLand, wasm_v128_or(toLand, toWater)};
}

// The new values: land where it turns to land, water where it turns to water, keep's elsewhere.
v128_t ruleResult(v128_t keep, const Turns& t, const RuleConstants& k) {
    return wasm_v128_or(wasm_v128_andnot(keep, t.turned), wasm_v128_and(t.toLand, k.land));
}

// The rule over rows 0 .. whole - 1 of a column (whole a multiple of 16), each cell counting
// its neighbours as its flow bits say. With kChanges the change bits of those rows are written;
// with kKeepIsMid the untouched cells keep their own value, so a cell differs where it turns.
// Returns a vector that is nonzero when a cell differs. Each version is a function of its own (as
// are the uniform rule's): the browser compiles a function to its fastest code once it has run
// for a while, in the background, and a small one is ready sooner.
template <bool kChanges, bool kKeepIsMid>
[[gnu::noinline]] v128_t ruleVectors(const std::int8_t* left, const std::int8_t* mid, const std::int8_t* right,
                                     const std::uint8_t* decisions, const std::int8_t* keep, std::int8_t* next,
                                     std::uint64_t* changes, std::ptrdiff_t whole, RuleBounds bounds) {
    const RuleConstants k(bounds);
    const v128_t upper = splat8(kCountUpper), lower = splat8(kCountLower);
    const v128_t leftBit = splat8(kCountLeft), rightBit = splat8(kCountRight);
    v128_t any = k.water;
    for (std::ptrdiff_t y = 0; y < whole; y += 16) {
        auto land = [&](const std::int8_t* p) { return wasm_i8x16_eq(wasm_v128_load(p), k.land); };
        const v128_t d = wasm_v128_load(decisions + y);
        auto counted = [&](const std::int8_t* p, v128_t bit) {
            return wasm_v128_and(land(p), wasm_i8x16_eq(wasm_v128_and(d, bit), bit));
        };
        v128_t negCount = wasm_i8x16_add(wasm_i8x16_add(land(left + y - 1), land(right + y - 1)),
                                         wasm_i8x16_add(land(left + y + 1), land(right + y + 1)));
        negCount = wasm_i8x16_add(negCount, wasm_i8x16_add(counted(mid + y - 1, upper), counted(mid + y + 1, lower)));
        negCount = wasm_i8x16_add(negCount, wasm_i8x16_add(counted(left + y, leftBit), counted(right + y, rightBit)));
        const v128_t v = wasm_v128_load(mid + y);
        const Turns t = ruleTurns(v, negCount, k);
        const v128_t result = ruleResult(kKeepIsMid ? v : wasm_v128_load(keep + y), t, k);
        wasm_v128_store(next + y, result);
        const v128_t differs = kKeepIsMid ? t.turned : wasm_v128_not(wasm_i8x16_eq(result, v));
        if constexpr (kChanges) storeChanges(changes, y, wasm_i8x16_bitmask(differs));
        any = wasm_v128_or(any, differs);
    }
    return any;
}

// The last rows of a column, cell by cell: ruleSpan's for rows from .. count - 1.
template <bool kChanges>
[[gnu::noinline]] std::uint64_t ruleRows(const std::int8_t* left, const std::int8_t* mid, const std::int8_t* right,
                                         const std::uint8_t* decisions, const std::int8_t* keep, std::int8_t* next,
                                         std::uint64_t* changes, std::ptrdiff_t from, std::ptrdiff_t count,
                                         RuleBounds bounds) {
    return ruleSpan<ScalarBytes, kChanges>(left, mid, right, decisions, keep, next, changes, from, count, bounds);
}

void ruleColumnSimd128(const std::int8_t* left, const std::int8_t* mid, const std::int8_t* right,
                       const std::uint8_t* decisions, std::int8_t* next, std::ptrdiff_t count, RuleBounds bounds) {
    const std::ptrdiff_t whole = wholeVectors(count, Simd128Bytes::kWidth);
    ruleVectors<false, false>(left, mid, right, decisions, next, next, nullptr, whole, bounds);
    ruleRows<false>(left, mid, right, decisions, next, next, nullptr, whole, count, bounds);
}

bool ruleColumnChangesSimd128(const std::int8_t* left, const std::int8_t* mid, const std::int8_t* right,
                              const std::uint8_t* decisions, const std::int8_t* keep, std::int8_t* next,
                              std::uint64_t* changes, std::ptrdiff_t count, RuleBounds bounds) {
    const std::ptrdiff_t whole = wholeVectors(count, Simd128Bytes::kWidth);
    const v128_t any = keep == mid
                           ? ruleVectors<true, true>(left, mid, right, decisions, keep, next, changes, whole, bounds)
                           : ruleVectors<true, false>(left, mid, right, decisions, keep, next, changes, whole, bounds);
    clearChangesFrom(changes, whole, count);
    const std::uint64_t tail = ruleRows<true>(left, mid, right, decisions, keep, next, changes, whole, count, bounds);
    return wasm_v128_any_true(any) || tail != 0;
}

// The uniform rule over rows 0 .. whole - 1 of the columns (see Kernels::ruleUniform). The land of
// a column as a cell's neighbour to the left (above, below, and beside it when decision counts
// kCountLeft) is summed when the column is the cells' right-hand neighbour, and kept in a buffer
// until the cells two columns on read it; as their right-hand neighbour it counts beside them with
// kCountRight (one sum when both count: kBothSides). The cells of a column's own above and below
// count both (kBothVertical) or the one that decision counts.
template <bool kBothVertical, bool kBothSides>
[[gnu::noinline]] v128_t ruleUniformVectors(const std::int8_t* current, std::int8_t* next, std::ptrdiff_t stride,
                                            std::uint64_t* changes, std::ptrdiff_t changeStride, int columns,
                                            std::ptrdiff_t whole, std::uint8_t decision, RuleBounds bounds,
                                            std::int8_t* const sums[2]) {
    const RuleConstants k(bounds);
    const v128_t asLeft = splat8((decision & kCountLeft) != 0 ? -1 : 0);
    const v128_t asRight = splat8((decision & kCountRight) != 0 ? -1 : 0);
    const std::ptrdiff_t counted = (decision & kCountLower) != 0 ? 1 : -1;  // the row of one vertical neighbour
    auto land = [&](const std::int8_t* p) { return wasm_i8x16_eq(wasm_v128_load(p), k.land); };
    auto beside = [](v128_t pair, v128_t sideLand, v128_t side) {
        return wasm_i8x16_add(pair, kBothSides ? sideLand : wasm_v128_and(sideLand, side));
    };
    // The first two columns' sums as left-hand neighbours: the column before the first, and the first.
    for (int c = 0; c < 2; ++c) {
        const std::int8_t* column = current + c * stride;
        for (std::ptrdiff_t y = 0; y < whole; y += 16)
            wasm_v128_store(sums[c] + y, beside(wasm_i8x16_add(land(column + y - 1), land(column + y + 1)),
                                                land(column + y), asLeft));
    }
    v128_t any = k.water;
    for (int i = 0; i < columns; ++i) {
        const std::int8_t* mid = current + (i + 1) * stride;
        const std::int8_t* right = mid + stride;
        std::int8_t* out = next + i * stride;
        std::uint64_t* columnChanges = changes + i * changeStride;
        std::int8_t* leftSums = sums[i & 1];  // the column before's, replaced by the column after's
        for (std::ptrdiff_t y = 0; y < whole; y += 16) {
            const v128_t pair = wasm_i8x16_add(land(right + y - 1), land(right + y + 1));
            const v128_t side = land(right + y);
            const v128_t asRightSum = beside(pair, side, asRight);
            v128_t negCount = wasm_i8x16_add(wasm_v128_load(leftSums + y), asRightSum);
            wasm_v128_store(leftSums + y, kBothSides ? asRightSum : beside(pair, side, asLeft));
            negCount = wasm_i8x16_add(negCount, kBothVertical ? wasm_i8x16_add(land(mid + y - 1), land(mid + y + 1))
                                                              : land(mid + y + counted));
            const v128_t v = wasm_v128_load(mid + y);
            const Turns t = ruleTurns(v, negCount, k);
            wasm_v128_store(out + y, ruleResult(v, t, k));
            storeChanges(columnChanges, y, wasm_i8x16_bitmask(t.turned));
            any = wasm_v128_or(any, t.turned);
        }
    }
    return any;
}

bool ruleUniformSimd128(const std::int8_t* current, std::int8_t* next, std::ptrdiff_t stride, std::uint64_t* changes,
                        std::ptrdiff_t changeStride, int columns, std::ptrdiff_t count, std::uint8_t decision,
                        RuleBounds bounds, std::int8_t* scratch) {
    const std::ptrdiff_t whole = wholeVectors(count, Simd128Bytes::kWidth);
    std::int8_t* const sums[2] = {scratch, scratch + count + 16};
    const bool bothVertical = (decision & (kCountUpper | kCountLower)) == (kCountUpper | kCountLower);
    const bool bothSides = (decision & (kCountLeft | kCountRight)) == (kCountLeft | kCountRight);
    auto run = [&](auto kernel) {
        return kernel(current, next, stride, changes, changeStride, columns, whole, decision, bounds, sums);
    };
    const v128_t any = bothVertical
                           ? (bothSides ? run(ruleUniformVectors<true, true>) : run(ruleUniformVectors<true, false>))
                           : (bothSides ? run(ruleUniformVectors<false, true>) : run(ruleUniformVectors<false, false>));
    if (whole == count) return wasm_v128_any_true(any);
    // The last rows, cell by cell, with the decision spelled out for each.
    auto* decisions = reinterpret_cast<std::uint8_t*>(scratch + 2 * (count + 16));
    std::memset(decisions, decision, static_cast<std::size_t>(count));
    std::uint64_t tail = 0;
    for (int i = 0; i < columns; ++i) {
        const std::int8_t* mid = current + (i + 1) * stride;
        std::uint64_t* columnChanges = changes + i * changeStride;
        clearChangesFrom(columnChanges, whole, count);
        tail |= ruleRows<true>(mid - stride, mid, mid + stride, decisions, mid, next + i * stride, columnChanges, whole,
                               count, bounds);
    }
    return wasm_v128_any_true(any) || tail != 0;
}

void commitColumnSimd128(std::int8_t* current, const std::int8_t* next, std::uint8_t* classes, std::ptrdiff_t count,
                         std::int8_t waterValue) {
    const std::ptrdiff_t whole = wholeVectors(count, Simd128Bytes::kWidth);
    commitSpan<Simd128Bytes>(current, next, classes, 0, whole, waterValue);
    commitSpan<ScalarBytes>(current, next, classes, whole, count, waterValue);
}

// Tempering and the four threshold tests, 16 words at a time: each output is compared with the
// four limits in ascending order (as signed numbers, both moved by 2^31, which WebAssembly
// compares in one instruction), and how many it exceeds picks its pass bits in a byte shuffle.
void passBitsSimd128(const std::uint32_t* words, std::uint8_t* bits, int count, const PassLimits& limits) {
    const v128_t sign = wasm_i32x4_splat(static_cast<std::int32_t>(0x80000000u));
    v128_t limit[4];
    for (int i = 0; i < 4; ++i)
        limit[i] = wasm_i32x4_splat(static_cast<std::int32_t>(limits.ascending[i] ^ 0x80000000u));
    const v128_t byAbove = wasm_v128_load(limits.byAbove);
    const v128_t mask7 = wasm_i32x4_splat(static_cast<std::int32_t>(0x9D2C5680u));
    const v128_t mask15 = wasm_i32x4_splat(static_cast<std::int32_t>(0xEFC60000u));
    // Minus the number of limits each of four outputs exceeds.
    auto above = [&](const std::uint32_t* p) {
        v128_t y = wasm_v128_load(p);
        y = wasm_v128_xor(y, wasm_u32x4_shr(y, 11));
        y = wasm_v128_xor(y, wasm_v128_and(wasm_i32x4_shl(y, 7), mask7));
        y = wasm_v128_xor(y, wasm_v128_and(wasm_i32x4_shl(y, 15), mask15));
        y = wasm_v128_xor(wasm_v128_xor(y, wasm_u32x4_shr(y, 18)), sign);
        return wasm_i32x4_add(wasm_i32x4_add(wasm_i32x4_gt(y, limit[0]), wasm_i32x4_gt(y, limit[1])),
                              wasm_i32x4_add(wasm_i32x4_gt(y, limit[2]), wasm_i32x4_gt(y, limit[3])));
    };
    int i = 0;
    for (; i + 16 <= count; i += 16) {
        const v128_t negCounts =
            wasm_i8x16_narrow_i16x8(wasm_i16x8_narrow_i32x4(above(words + i), above(words + i + 4)),
                                    wasm_i16x8_narrow_i32x4(above(words + i + 8), above(words + i + 12)));
        wasm_v128_store(bits + i, wasm_i8x16_swizzle(byAbove, wasm_i8x16_neg(negCounts)));
    }
    passBitsLoop(words + i, bits + i, count - i, limits);
}

// The keys of two chunks from 16 words' pass bits: the selected bit moved to the top of each byte
// and gathered.
struct KeyBitsSimd128 {
    explicit KeyBitsSimd128(const WalkKeyBits& select)
        : lowShift(7u - select.lowBit),
          highShift(7u - select.highBit),
          lowOn(select.lowOn != 0 ? 0xFFFFu : 0),
          highOn(select.highOn != 0 ? 0xFFFFu : 0) {}
    void store(v128_t b, std::uint16_t* keys) const {
        const std::uint32_t low = wasm_i8x16_bitmask(wasm_i8x16_shl(b, lowShift)) & lowOn;
        const std::uint32_t high = wasm_i8x16_bitmask(wasm_i8x16_shl(b, highShift)) & highOn;
        keys[0] = static_cast<std::uint16_t>((low & 0xFFu) | (high & 0xFFu) << 8);
        keys[1] = static_cast<std::uint16_t>(low >> 8 | (high & 0xFF00u));
    }
    std::uint32_t lowShift, highShift, lowOn, highOn;
};

void walkKeysSimd128(const std::uint8_t* bits, std::uint16_t* keys, int chunks, const WalkKeyBits& select) {
    const KeyBitsSimd128 keyBits(select);
    int j = 0;
    for (; j + 2 <= chunks; j += 2) keyBits.store(wasm_v128_load(bits + kWalkChunk * j), keys + j);
    walkKeysLoop(bits + kWalkChunk * j, keys + j, chunks - j, select);
}

// The decisions: the words that play each part are chosen by selects between rows of bits
// shifted by one, and the 16-entry table is one byte shuffle. The keys come from the same loads.
void walkInputsSimd128(const std::uint8_t* bits, std::uint8_t* decisions, std::uint16_t* keys, int chunks,
                       const DecisionIndex& index, const WalkKeyBits& select) {
    const v128_t lut = wasm_v128_load(index.lut);
    const v128_t one = splat8(1), four = splat8(4), eight = splat8(8);
    const FlowShape& shape = index.shape;
    const int longV = shape.takeVertical & shape.verticalActs & shape.upperChoice;
    const v128_t vertical = splat8(shape.takeVertical), upper = splat8(longV << 1), longVertical = splat8(longV);
    const KeyBitsSimd128 keyBits(select);
    const std::uint8_t* h = bits + shape.takeVertical;
    const int count = kWalkChunk * chunks;
    int i = 0;
    for (; i + 16 <= count; i += 16) {
        const v128_t b0 = wasm_v128_load(bits + i), b1 = wasm_v128_load(bits + i + 1);
        const v128_t h0 = wasm_v128_load(h + i), h1 = wasm_v128_load(h + i + 1), h2 = wasm_v128_load(h + i + 2);
        const v128_t longCell = wasm_i8x16_eq(wasm_v128_and(b0, longVertical), one);
        const v128_t horizontal = wasm_v128_bitselect(h1, h0, longCell);
        const v128_t choice = wasm_v128_bitselect(h2, h1, longCell);
        const v128_t at = wasm_v128_or(wasm_v128_or(wasm_v128_and(b0, vertical), wasm_v128_and(b1, upper)),
                                       wasm_v128_or(wasm_v128_and(horizontal, four), wasm_v128_and(choice, eight)));
        wasm_v128_store(decisions + i, wasm_i8x16_swizzle(lut, at));
        keyBits.store(b0, keys + i / kWalkChunk);
    }
    cellDecisionsLoop(bits + i, decisions + i, count - i, index);
    walkKeysLoop(bits + i, keys + i / kWalkChunk, (count - i) / kWalkChunk, select);
}

// The cells of a chunk picked by one byte shuffle of its eight decisions.
int walkChunksSimd128(const std::uint16_t* keys, const std::uint8_t* decisions, int chunks, const std::uint64_t* table,
                      unsigned* state4, std::uint8_t* cells, std::uint8_t* starts) {
    unsigned state = *state4;
    std::uint8_t* out = cells;
    for (int j = 0; j < chunks; ++j) {
        const unsigned m = walkStep(table, keys[j], state);
        starts[j] = static_cast<std::uint8_t>(m);
        const v128_t d = wasm_v128_load64_zero(decisions + kWalkChunk * j);
        const v128_t places = wasm_v128_load64_zero(&kStartPicks.places[m]);
        wasm_v128_store64_lane(out, wasm_i8x16_swizzle(d, places), 0);
        out += kStartPicks.count[m];
    }
    *state4 = state;
    return static_cast<int>(out - cells);
}

}  // namespace

const Kernels& simd128Kernels() {
    static const Kernels kernels = [] {
        Kernels k = sse2Kernels();
        k.passBits = passBitsSimd128;
        k.walkKeys = walkKeysSimd128;
        k.walkInputs = walkInputsSimd128;
        k.walkChunks = walkChunksSimd128;
        k.ruleColumn = ruleColumnSimd128;
        k.ruleColumnChanges = ruleColumnChangesSimd128;
        k.commitColumn = commitColumnSimd128;
        k.ruleUniform = ruleUniformSimd128;
        return k;
    }();
    return kernels;
}

}  // namespace orv
