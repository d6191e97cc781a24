#pragma once

#include <array>
#include <cstdint>

#include "rng/Random.hpp"
#include "settings/Settings.hpp"
#include "sim/Kernels.hpp"

namespace orv {

// How the decisions are found in the random stream (both give the same decisions and take the
// same draws): a walk a chunk of eight words at a time, or a walk from cell to cell, two cells a
// step. The chunked walk picks its cells out with a byte shuffle (AVX2's, WebAssembly's); without
// one (the portable and SSE2 kernels) the walk from cell to cell is the faster.
enum class FlowWalk { Chunks, Pairs };
FlowWalk bestFlowWalk(KernelLevel level);

// The random part of the generation rule, taken apart from the map. How many draws a cell
// takes and what they decide (which vertical and which horizontal neighbours count) depends
// only on the settings and on the draws themselves, never on the map, so the decisions of a
// generation can be produced on their own, cell by cell in the rule's order, and applied to
// the map afterwards (or by another thread, while the next ones are produced).
//
// A draw d = floor(100 y / 2^32) of the 32-bit output y passes a threshold t (d <= t) exactly
// when y <= passLimit(t), so no draw is ever turned into a number; draws whose outcome is
// fixed (t >= 99 always passes, t < 0 never does) are not even tempered.
//
// The chunked walk: every word of a block of the random source is tempered and tested, and
// from each word's tests come the decisions of a cell that would start there. Where the cells
// start depends only on which words make a cell longer (a passing vertical flow that takes the
// upper/lower choice, a passing horizontal flow that takes the right/left choice). Each word
// plays one of four parts in its cell, its state (the cell's first word, the vertical choice,
// the horizontal flow's word, the horizontal choice), and a table gives, for the state of a
// chunk's first word and those two bits of each of its eight words, the words that start cells
// and the state of the next chunk's first word. The decisions at the starts are then picked out
// a chunk at a time. A cell whose words run past the block is carried over to the window of the
// next block.
class FlowDecisions {
public:
    explicit FlowDecisions(const Settings& settings, KernelLevel level = bestKernelLevel())
        : FlowDecisions(settings, level, bestFlowWalk(level)) {}
    FlowDecisions(const Settings& settings, KernelLevel level, FlowWalk walk);

    // True when every cell gets the same decision from the same number of draws.
    bool constant() const { return constant_; }
    // The flow bits (kCountUpper ...) every cell gets when constant().
    std::uint8_t constantDecision() const { return constantDecision_; }
    // The draws every cell takes when constant().
    int drawsPerCell() const { return drawsPerCell_; }
    // The most draws a cell can take, and how many it takes on average.
    int maxDrawsPerCell() const { return maxDraws_; }
    double meanDrawsPerCell() const;

    // Writes the flow bits of the next `cells` cells into out and takes exactly their draws:
    // afterwards random is where the straightforward rule would have left it. With starts, also
    // notes where each cell's draws start: starts[i] := random.draws() before cell i's first draw.
    void produce(Random& random, std::uint8_t* out, std::int64_t cells, std::uint64_t* starts = nullptr);
    // As produce, but stops before the first cell whose draws start at draw stopDraw or later;
    // returns how many cells it made.
    std::int64_t produceUntil(Random& random, std::uint8_t* out, std::int64_t cells, std::uint64_t stopDraw);
    // Takes the draws of the next `cells` cells without writing their decisions (constant() only).
    void skipConstant(Random& random, std::int64_t cells) const;

    // The draws every cell takes when that never varies (a cell then starts every that many
    // draws), 0 when it varies.
    int fixedDraws() const { return fixedDraws_; }
    // For a source at any draw, not necessarily a cell's first: moves it on to the first draw at
    // which a cell starts whatever the draws before it were, within `within` draws; false (the
    // source left anywhere) when there is none. Cells of varying draws only (fixedDraws() == 0).
    bool findSureStart(Random& random, std::uint64_t within);

    // The largest 32-bit output whose draw passes threshold t, for 0 <= t <= 98.
    static std::uint32_t passLimit(std::int32_t t);

private:
    // The chunked walk.
    static constexpr int kCarried = 3;  // words of an unfinished cell, at most
    static constexpr int kWindow = kCarried + Random::kStateSize;
    static constexpr int kChunks = kWindow / kWalkChunk + 1;  // chunks over words 0 .. kWindow
    void openWindow(Random& random, int carried);
    int startOf(int cell);
    int cellsBefore(int word);
    void produceChunked(Random& random, std::uint8_t* out, std::int64_t cells, std::uint64_t* starts);

    // The walk two cells a step.
    std::uint8_t decideAcrossBlocks(Random& random, int& position);
    void computeBits(const Random& random, int from);
    void producePairs(Random& random, std::uint8_t* out, std::int64_t cells);

    bool takeVertical_, verticalActs_, takeUpperChoice_;
    bool takeHorizontal_, horizontalActs_, takeRightChoice_;
    int maxDraws_ = 0;
    FlowShape shape_{};
    PassLimits limits_{};
    bool constant_ = false;
    std::uint8_t constantDecision_ = 0;
    int drawsPerCell_ = 0;
    int fixedDraws_ = 0;
    const Kernels* kernels_;
    FlowWalk walk_;

    // The window of the chunked walk: the words of an unfinished cell of the last block (if any)
    // and then those of the current block from where the walk entered it, end_ words in all;
    // word w of it is word origin_ + w of the block, and was draw originDraws_ + w.
    WalkKeyBits keyBits_{};
    DecisionIndex decisionIndex_{};
    const std::uint64_t* walkTable_ = nullptr;
    alignas(64) std::array<std::uint8_t, kChunks * kWalkChunk + 8> windowBits_{};   // pass bits, 0 after the end
    alignas(64) std::array<std::uint8_t, kChunks * kWalkChunk> windowDecisions_{};  // of a cell starting at each word
    std::array<std::uint16_t, kChunks> keys_{};
    std::array<std::uint8_t, kChunks> startMasks_{};  // the words of each chunk that start a cell
    // The decisions of the cells that start in the window, in order: the first cellCount_
    // end in it; the one after those, starting at word carry_, is unfinished (or starts at the end).
    alignas(64) std::array<std::uint8_t, kChunks * kWalkChunk + 8> windowCells_{};
    int end_ = 0, cellCount_ = 0, carry_ = 0, origin_ = 0;
    std::uint64_t originDraws_ = 0;
    int cursor_ = 0;                     // the next cell to hand out
    int scanChunk_ = 0, scanCells_ = 0;  // startOf's place: a chunk and the cells that start before it
    // The source the window belongs to, and its draws when the window was left: the window goes
    // on only while nothing else has drawn from it.
    const Random* windowSource_ = nullptr;
    std::uint64_t windowDraws_ = 0;

    // The walk two cells a step. Pass bits of the words of the random source's current block, a
    // few spare at the end so that reads of words a cell does not take stay inside.
    alignas(64) std::array<std::uint8_t, Random::kStateSize + 8> bits_{};
    // For a cell whose draws start at word w (w + maxDraws_ <= kStateSize): its flow bits in bits
    // 0 .. 3 and the number of words it takes in bits 4 .. 6. Walking the block is then one table
    // read per cell. A few spare entries at the end, as for bits_.
    alignas(64) std::array<std::uint8_t, Random::kStateSize + 8> cellTable_{};
    // For two cells in a row starting at word w (w + 2 maxDraws_ <= kStateSize): the second's
    // entry of cellTable_ and the words both take, so that the walk goes two cells a step.
    std::array<std::uint8_t, Random::kStateSize> pairSecond_{};
    std::array<std::uint8_t, Random::kStateSize> pairWords_{};
    // What the tables were made for: the source, its count of draws and the first word.
    const Random* tabledSource_ = nullptr;
    std::uint64_t tabledDraws_ = 0;
    int tabledPosition_ = Random::kStateSize;
};

}  // namespace orv
