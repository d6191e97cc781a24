#pragma once

// The inner loops of the fast engine, in one portable version and, on x86-64, versions for
// SSE2 (always there), AVX2 and AVX-512 (chosen at run time when the processor has them; the
// AVX-512 table has its own threshold tests and walk, and AVX2's other kernels); in the browser
// build, one for WebAssembly's 128-bit SIMD. Every version gives the same bytes; the engine picks
// one table of them.
//
// This header is also compiled with AVX2 and AVX-512 enabled, so it declares plain data and
// function pointers only: an inline function here could be emitted with those instructions and then
// chosen by the linker for code that runs on any processor.

#include <cstddef>
#include <cstdint>

namespace orv {

// Ordered by what they run on: an unavailable level stands for the best available one below it.
enum class KernelLevel { Portable, Sse2, Simd128, Avx2, Avx512 };

// The flow decision of one cell: which of its four edge neighbours take part in its count.
enum FlowBits : std::uint8_t { kCountUpper = 1, kCountLower = 2, kCountLeft = 4, kCountRight = 8 };

// The four tests a draw can face, one bit each (bit 0: the vertical flow, 1: the upper/lower
// choice, 2: the horizontal flow, 3: the right/left choice). A tempered output y passes test i
// when y <= limit[i] and bit i of keep is set (keep clears the tests that never pass).
//
// The same again for vector code: ascending holds the four limits in ascending order, and a y
// above exactly c of them passes the tests byAbove[c] (keep applied; c <= 4, the rest of the 16
// bytes is there for one vector load).
struct PassLimits {
    std::uint32_t limit[4];
    std::uint8_t keep;
    std::uint32_t ascending[4];
    std::uint8_t byAbove[16];
};

// Which draws a cell takes, as 0 or 1 each: the vertical flow's draw (takeVertical), whether
// that flow can act (verticalActs) and then takes the upper/lower choice (upperChoice); the
// same for the horizontal flow and its right/left choice.
struct FlowShape {
    std::uint8_t takeVertical, verticalActs, upperChoice;
    std::uint8_t takeHorizontal, horizontalActs, rightChoice;
};

// Which pass bits the chunked walk reads (see FlowDecisions): bit `lowBit` of each word's pass
// bits goes to the low byte of its chunk's key when lowOn, bit `highBit` to the high byte when
// highOn (1 or 0 each).
struct WalkKeyBits {
    std::uint8_t lowBit, lowOn, highBit, highOn;
};

// The flow bits of a cell whose draws start at word w, from at most four words' pass bits b and
// the cell's shape: with v = shape.takeVertical and l = v & verticalActs & upperChoice (a passing
// vertical flow takes the upper/lower choice), they are
// lut[(b[w] & v) | (b[w + 1] & 2l) | (b[h] & 4) | (b[h + 1] & 8)] for h = w + v + (b[w] & l), the
// word of the horizontal flow.
struct DecisionIndex {
    FlowShape shape;
    std::uint8_t lut[16];
};

// A cell walk a chunk of eight words at a time: for a chunk key k and the walk's state s (0 .. 3)
// at the chunk's first word, the state at the next chunk's first word times 4 is in bits
// 4s .. 4s + 3 of table[k], and which of the chunk's words start a cell in bits 16 + 8s .. 23 + 8s.
constexpr int kWalkChunk = 8;

// landmasssize and landwaterratio brought into the byte range without changing any outcome
// for a neighbour count of 0 .. 8.
struct RuleBounds {
    std::int8_t landmasssize;
    std::int8_t landwaterratio;
};

struct Kernels {
    // bits[i] := the pass bits of the tempered state word words[i], for i < count.
    void (*passBits)(const std::uint32_t* words, std::uint8_t* bits, int count, const PassLimits& limits);
    // cells[i] := the decision of a cell whose draws start at word i: its flow bits in bits
    // 0 .. 3 and the number of words it takes in bits 4 .. 6, from bits[i .. i + 4], for i < count.
    void (*cellTable)(const std::uint8_t* bits, std::uint8_t* cells, int count, const FlowShape& shape);
    // For the cell starting at word i and the one after it, for i < count: second[i] := the
    // cells entry of the one after, cells[i + (cells[i] >> 4)], and words[i] := the words the
    // two take. Reads cells[i .. i + 4].
    void (*cellPairs)(const std::uint8_t* cells, std::uint8_t* second, std::uint8_t* words, int count);
    // keys[j] := the key of chunk j (words 8j .. 8j + 7 of bits), for j < chunks (see WalkKeyBits).
    void (*walkKeys)(const std::uint8_t* bits, std::uint16_t* keys, int chunks, const WalkKeyBits& select);
    // What the walk reads, in one pass over the pass bits: the keys of chunks 0 .. chunks-1, and
    // decisions[i] := the flow bits of a cell whose draws start at word i, for i < 8 chunks,
    // from bits[i .. i + 4] (see DecisionIndex).
    void (*walkInputs)(const std::uint8_t* bits, std::uint8_t* decisions, std::uint16_t* keys, int chunks,
                       const DecisionIndex& index, const WalkKeyBits& select);
    // Walks chunks 0 .. chunks-1 from state *state4 / 4 through table (see kWalkChunk): writes
    // the decision of every cell that starts in them to cells, in order, and each chunk's starts
    // to starts[j]; leaves the state after the last chunk in *state4. Returns the cells written;
    // cells has room for eight more.
    int (*walkChunks)(const std::uint16_t* keys, const std::uint8_t* decisions, int chunks, const std::uint64_t* table,
                      unsigned* state4, std::uint8_t* cells, std::uint8_t* starts);
    // The rule over cells 0 .. count-1 of one column: left, mid and right point at the cell of
    // the same row in the columns x-1, x and x+1 (the rows before and after are read too),
    // decisions at that row's flow bits, next at the column of nextMap.
    void (*ruleColumn)(const std::int8_t* left, const std::int8_t* mid, const std::int8_t* right,
                       const std::uint8_t* decisions, std::int8_t* next, std::ptrdiff_t count, RuleBounds bounds);
    // The same rule, except that a cell the rule leaves alone takes keep's value (keep == next:
    // as ruleColumn), and that changes records which cells of next now differ from mid: bit
    // r % 64 of word r / 64 for cell r, the (count + 63) / 64 words overwritten. Returns whether
    // any cell differs.
    bool (*ruleColumnChanges)(const std::int8_t* left, const std::int8_t* mid, const std::int8_t* right,
                              const std::uint8_t* decisions, const std::int8_t* keep, std::int8_t* next,
                              std::uint64_t* changes, std::ptrdiff_t count, RuleBounds bounds);
    // Commits count cells of a column (current := next) and classifies them: 0 unchanged,
    // 1 changed to the value that reads as water (waterValue), 2 changed to anything else, 3 the
    // sea (kSea, which never changes).
    void (*commitColumn)(std::int8_t* current, const std::int8_t* next, std::uint8_t* classes, std::ptrdiff_t count,
                         std::int8_t waterValue);
    // Paints a block of classified cells: the cell at column c, row r of the block,
    // classes[c * classStride + r] (0 .. 3), becomes pixels[r * pitch + c] := colors[class].
    void (*drawTile)(const std::uint8_t* classes, std::ptrdiff_t classStride, int columns, int rows,
                     std::uint32_t* pixels, std::ptrdiff_t pitch, const std::uint32_t* colors);
    // ruleColumnChanges over `columns` columns in a row, for a generation in which every cell has
    // the flow bits `decision` (counting the cell above or below, or both, and one beside or both,
    // as every constant decision does) and the cells the rule leaves alone keep their value
    // (keep == mid): the column before the first starts at current (its row 1) and the others
    // follow `stride` bytes apart, as do the columns of next from the first one's row 1 on, and
    // the change words of the columns, changeStride words apart. The neighbour counts are summed
    // once per column and shared by the columns beside it; scratch holds 3 * (count + 16) bytes.
    // Null in the tables that have no such kernel (the engine then goes column by column).
    bool (*ruleUniform)(const std::int8_t* current, std::int8_t* next, std::ptrdiff_t stride, std::uint64_t* changes,
                        std::ptrdiff_t changeStride, int columns, std::ptrdiff_t count, std::uint8_t decision,
                        RuleBounds bounds, std::int8_t* scratch);
};

// The best level this processor runs.
KernelLevel bestKernelLevel();
bool kernelLevelAvailable(KernelLevel level);
// The kernels of a level; an unavailable level gives the best available one below it.
const Kernels& kernelsFor(KernelLevel level);
const char* kernelLevelName(KernelLevel level);

// The tables, one per translation unit (those of SSE2, AVX2 and AVX-512 exist on x86-64 only,
// SSE2's and SIMD128's in the browser build).
const Kernels& portableKernels();
const Kernels& sse2Kernels();
const Kernels& simd128Kernels();
const Kernels& avx2Kernels();
const Kernels& avx512Kernels();

}  // namespace orv
