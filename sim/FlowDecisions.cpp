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
    const bool verticalVaries = takeVertical_ && verticalActs_ &&
                                (random[0] || ((fixedPass & 1u) != 0 && takeUpperChoice_ && random[1]));
    const bool horizontalVaries = takeHorizontal_ && horizontalActs_ &&
                                  (random[2] || ((fixedPass & 4u) != 0 && takeRightChoice_ && random[3]));
    constant_ = !verticalVaries && !horizontalVaries;
    if (constant_) {
        // Every draw that is taken has a fixed outcome: decide one cell on those outcomes.
        bits_.fill(fixedPass);
        int position = 0;
        Random unused;
        constantDecision_ = decide<false>(unused, position);
        drawsPerCell_ = position;
    }
}

void FlowDecisions::computeBits(const Random& random, int from) {
    kernels_->passBits(random.state().data() + from, bits_.data() + from, Random::kStateSize - from, limits_);
}

// One cell's draws, in the rule's order: the vertical flow, the upper/lower choice when the
// flow applies, the horizontal flow, the right/left choice when that flow applies. Unchecked,
// the block must hold maxDraws_ more words, and the steps go without branches; checked, each
// draw first refills the source when its block is used up.
template <bool kChecked>
std::uint8_t FlowDecisions::decide(Random& random, int& position) {
    if constexpr (kChecked) {
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
    } else {
        (void)random;
        const std::uint8_t* b = bits_.data() + position;
        const unsigned takeV = takeVertical_, actsV = verticalActs_, choiceV = takeUpperChoice_;
        const unsigned takeH = takeHorizontal_, actsH = horizontalActs_, choiceH = takeRightChoice_;
        unsigned k = 0;
        const unsigned applyV = b[k] & 1u & takeV & actsV;
        k += takeV;
        const unsigned upperOut = ((b[k] >> 1) & 1u) | (choiceV ^ 1u);
        k += applyV & choiceV;
        const unsigned vertical = (kCountUpper | kCountLower) & ~(applyV * (2u - upperOut));
        const unsigned applyH = (b[k] >> 2) & 1u & takeH & actsH;
        k += takeH;
        const unsigned rightOut = ((b[k] >> 3) & 1u) | (choiceH ^ 1u);
        k += applyH & choiceH;
        const unsigned horizontal = (kCountLeft | kCountRight) & ~(applyH * (4u + 4u * rightOut));
        position += static_cast<int>(k);
        return static_cast<std::uint8_t>(vertical | horizontal);
    }
}

void FlowDecisions::produce(Random& random, std::uint8_t* out, std::int64_t cells) {
    if (cells <= 0) return;
    if (constant_) {
        std::fill(out, out + cells, constantDecision_);
        skipConstant(random, cells);
        return;
    }
    int position = random.position();
    if (position < Random::kStateSize) computeBits(random, position);
    for (std::int64_t i = 0; i < cells; ++i) {
        out[i] = position + maxDraws_ <= Random::kStateSize ? decide<false>(random, position)
                                                            : decide<true>(random, position);
    }
    random.skip(position - random.position());
}

void FlowDecisions::skipConstant(Random& random, std::int64_t cells) const {
    if (cells > 0) random.discard(static_cast<std::uint64_t>(cells) * static_cast<std::uint64_t>(drawsPerCell_));
}

}  // namespace orv
