#include "sim/FlowDecisions.hpp"

#include <algorithm>

namespace orv {

std::uint32_t FlowDecisions::passLimit(std::int32_t t) {
    // floor(100 y / 2^32) <= t  <=>  100 y < (t + 1) 2^32  <=>  y < ceil((t + 1) 2^32 / 100).
    const std::uint64_t bound = ((static_cast<std::uint64_t>(t) + 1) << 32) + 99;
    return static_cast<std::uint32_t>(bound / 100 - 1);
}

FlowDecisions::FlowDecisions(const Settings& s, KernelLevel level)
    : takeVertical_(s.downupflow != 0),
      verticalActs_(s.upflowenabled != 0 || s.downflowenabled != 0),
      takeUpperChoice_(s.upflowenabled != 0),
      takeHorizontal_(s.leftrightflow != 0),
      horizontalActs_(s.leftflowenabled != 0 || s.rightflowenabled != 0),
      takeRightChoice_(s.leftflowenabled != 0),
      kernels_(&kernelsFor(level)) {
    shape_ =
        FlowShape{takeVertical_, verticalActs_, takeUpperChoice_, takeHorizontal_, horizontalActs_, takeRightChoice_};
    maxDraws_ = int{takeVertical_} + int{takeVertical_ && verticalActs_ && takeUpperChoice_} + int{takeHorizontal_} +
                int{takeHorizontal_ && horizontalActs_ && takeRightChoice_};

    // The four tests: a threshold of 99 or more always passes, a negative one never.
    const std::int32_t thresholds[4] = {s.downupflow, s.upflowratio, s.leftrightflow, s.rightflowratio};
    bool random[4];
    std::uint8_t fixedPass = 0;
    limits_.keep = 0;
    for (int i = 0; i < 4; ++i) {
        const std::int32_t t = thresholds[i];
        random[i] = t >= 0 && t <= 98;
        limits_.limit[i] = t >= 99 ? 0xFFFFFFFFu : t >= 0 ? passLimit(t) : 0;
        if (t >= 0) limits_.keep = static_cast<std::uint8_t>(limits_.keep | (1u << i));
        if (t >= 99) fixedPass = static_cast<std::uint8_t>(fixedPass | (1u << i));
    }

    // The decisions vary from cell to cell only when a draw whose outcome matters can go
    // either way.
    const bool verticalVaries =
        takeVertical_ && verticalActs_ && (random[0] || ((fixedPass & 1u) != 0 && takeUpperChoice_ && random[1]));
    const bool horizontalVaries =
        takeHorizontal_ && horizontalActs_ && (random[2] || ((fixedPass & 4u) != 0 && takeRightChoice_ && random[3]));
    constant_ = !verticalVaries && !horizontalVaries;
    if (constant_) {
        // Every draw that is taken has a fixed outcome: decide one cell on those outcomes.
        bits_.fill(fixedPass);
        kernels_->cellTable(bits_.data(), cellTable_.data(), 1, shape_);
        constantDecision_ = static_cast<std::uint8_t>(cellTable_[0] & 15u);
        drawsPerCell_ = cellTable_[0] >> 4;
    }
}

double FlowDecisions::meanDrawsPerCell() const {
    // The chance that a draw passes test i.
    auto passes = [this](int i) {
        return (limits_.keep >> i & 1u) != 0 ? (static_cast<double>(limits_.limit[i]) + 1) / 4294967296.0 : 0.0;
    };
    return int{takeVertical_} + (takeVertical_ && verticalActs_ && takeUpperChoice_ ? passes(0) : 0.0) +
           int{takeHorizontal_} + (takeHorizontal_ && horizontalActs_ && takeRightChoice_ ? passes(2) : 0.0);
}

void FlowDecisions::computeBits(const Random& random, int from) {
    kernels_->passBits(random.state().data() + from, bits_.data() + from, Random::kStateSize - from, limits_);
    // The cell that starts at each word, for every start from which the block holds all the
    // words a cell can take.
    const int starts = Random::kStateSize - maxDraws_ + 1 - from;
    if (starts > 0) kernels_->cellTable(bits_.data() + from, cellTable_.data() + from, starts, shape_);
    const int pairStarts = Random::kStateSize - 2 * maxDraws_ + 1 - from;
    if (pairStarts > 0)
        kernels_->cellPairs(cellTable_.data() + from, pairSecond_.data() + from, pairWords_.data() + from, pairStarts);
    tabledDraws_ = random.draws();
    tabledPosition_ = from;
}

// One cell's draws, in the rule's order, one at a time: the vertical flow, the upper/lower
// choice when the flow applies, the horizontal flow, the right/left choice when that flow
// applies. For the cells near the end of a block: each draw first refills the source when its
// block is used up.
std::uint8_t FlowDecisions::decideAcrossBlocks(Random& random, int& position) {
    auto pass = [&](unsigned test) -> unsigned {
        if (position == Random::kStateSize) {
            random.skip(Random::kStateSize - random.position());
            random.refill();
            computeBits(random, 0);
            position = 0;
        }
        return (bits_[static_cast<std::size_t>(position++)] >> test) & 1u;
    };
    unsigned counted = kCountUpper | kCountLower | kCountLeft | kCountRight;
    if (takeVertical_ && pass(0) != 0 && verticalActs_) {
        const bool upperOut = !takeUpperChoice_ || pass(1) != 0;
        counted &= ~static_cast<unsigned>(upperOut ? kCountUpper : kCountLower);
    }
    if (takeHorizontal_ && pass(2) != 0 && horizontalActs_) {
        const bool rightOut = !takeRightChoice_ || pass(3) != 0;
        counted &= ~static_cast<unsigned>(rightOut ? kCountRight : kCountLeft);
    }
    return static_cast<std::uint8_t>(counted);
}

void FlowDecisions::produce(Random& random, std::uint8_t* out, std::int64_t cells) {
    if (cells <= 0) return;
    if (constant_) {
        std::fill(out, out + cells, constantDecision_);
        skipConstant(random, cells);
        return;
    }
    int position = random.position();
    // The tables of the block are still good when nothing has been drawn since they were made.
    const bool tablesValid = tabledDraws_ == random.draws() && tabledPosition_ <= position && tabledSource_ == &random;
    tabledSource_ = &random;
    if (position < Random::kStateSize && !tablesValid) computeBits(random, position);
    const int lastTabled = Random::kStateSize - maxDraws_;
    const int lastPaired = Random::kStateSize - 2 * maxDraws_;
    const std::uint8_t* table = cellTable_.data();
    const std::uint8_t* second = pairSecond_.data();
    const std::uint8_t* words = pairWords_.data();
    for (std::int64_t i = 0; i < cells;) {
        if (position > lastTabled) {
            out[i++] = decideAcrossBlocks(random, position);
            continue;
        }
        // Two cells a step: the next step's start depends on one table read only.
        for (; i + 1 < cells && position <= lastPaired; i += 2) {
            out[i] = static_cast<std::uint8_t>(table[position] & 15u);
            out[i + 1] = static_cast<std::uint8_t>(second[position] & 15u);
            position += words[position];
        }
        for (; i < cells && position <= lastTabled; ++i) {
            const unsigned cell = table[position];
            out[i] = static_cast<std::uint8_t>(cell & 15u);
            position += static_cast<int>(cell >> 4);
        }
    }
    random.skip(position - random.position());
    tabledDraws_ = random.draws();
}

void FlowDecisions::skipConstant(Random& random, std::int64_t cells) const {
    if (cells > 0) random.discard(static_cast<std::uint64_t>(cells) * static_cast<std::uint64_t>(drawsPerCell_));
}

}  // namespace orv
