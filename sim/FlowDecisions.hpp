#pragma once

#include <array>
#include <cstdint>

#include "rng/Random.hpp"
#include "settings/Settings.hpp"
#include "sim/Kernels.hpp"

namespace orv {

// The random part of the generation rule, taken apart from the map. How many draws a cell
// takes and what they decide (which vertical and which horizontal neighbours count) depends
// only on the settings and on the draws themselves, never on the map, so the decisions of a
// generation can be produced on their own, cell by cell in the rule's order, and applied to
// the map afterwards (or by another thread, while the next ones are produced).
//
// A draw d = floor(100 y / 2^32) of the 32-bit output y passes a threshold t (d <= t) exactly
// when y <= passLimit(t), so no draw is ever turned into a number; draws whose outcome is
// fixed (t >= 99 always passes, t < 0 never does) are not even tempered.
class FlowDecisions {
public:
    explicit FlowDecisions(const Settings& settings, KernelLevel level = bestKernelLevel());

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
    // afterwards random is where the straightforward rule would have left it.
    void produce(Random& random, std::uint8_t* out, std::int64_t cells);
    // Takes the draws of the next `cells` cells without writing their decisions (constant() only).
    void skipConstant(Random& random, std::int64_t cells) const;

    // The largest 32-bit output whose draw passes threshold t, for 0 <= t <= 98.
    static std::uint32_t passLimit(std::int32_t t);

private:
    std::uint8_t decideAcrossBlocks(Random& random, int& position);
    void computeBits(const Random& random, int from);

    bool takeVertical_, verticalActs_, takeUpperChoice_;
    bool takeHorizontal_, horizontalActs_, takeRightChoice_;
    int maxDraws_ = 0;
    FlowShape shape_{};
    PassLimits limits_{};
    bool constant_ = false;
    std::uint8_t constantDecision_ = 0;
    int drawsPerCell_ = 0;
    const Kernels* kernels_;
    // Pass bits of the words of the random source's current block, a few spare at the end so
    // that reads of words a cell does not take stay inside.
    std::array<std::uint8_t, Random::kStateSize + 8> bits_{};
    // For a cell whose draws start at word w of the block (w + maxDraws_ <= kStateSize): its
    // flow bits in bits 0 .. 3 and the number of words it takes in bits 4 .. 6. Walking the
    // block is then one table read per cell. A few spare entries at the end, as for bits_.
    std::array<std::uint8_t, Random::kStateSize + 8> cellTable_{};
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
