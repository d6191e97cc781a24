#include "sim/FlowDecisions.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

namespace orv {
namespace {

// Cells starting in a chunk, by its starts (std::popcount would be a library call in a build for
// every x86-64 processor).
constexpr std::array<std::uint8_t, 256> kStartCount = [] {
    std::array<std::uint8_t, 256> count{};
    for (unsigned m = 0; m < 256; ++m) count[m] = static_cast<std::uint8_t>((m & 1u) + count[m >> 1]);
    return count;
}();

// The walk's table (see kWalkChunk) for cells of two parts, a vertical and a horizontal one: the
// states are 0 (a cell's first word, the vertical flow's), 1 (the vertical choice), 2 (the
// horizontal flow's word) and 3 (the horizontal choice). Bit i of the key's low byte says
// whether word i, as a cell's first word, takes the vertical choice; bit i of the high byte,
// whether as the horizontal flow's word it takes the horizontal choice. Cells of one part only
// (one flow drawn) use states 0 and 1 and the low byte alone.
std::vector<std::uint64_t> makeWalkTable(bool twoParts) {
    const unsigned keys = twoParts ? 65536 : 256;
    std::vector<std::uint64_t> table(keys);
    for (unsigned key = 0; key < keys; ++key) {
        std::uint64_t entry = 0;
        for (unsigned first = 0; first < 4; ++first) {
            unsigned state = first, starts = 0;
            for (unsigned i = 0; i < kWalkChunk; ++i) {
                const bool longVertical = (key >> i & 1u) != 0, longHorizontal = (key >> (8 + i) & 1u) != 0;
                if (state == 0) starts |= 1u << i;
                if (!twoParts)
                    state = state == 0 && longVertical ? 1 : 0;
                else if (state == 0)
                    state = longVertical ? 1 : 2;
                else if (state == 1)
                    state = 2;
                else if (state == 2)
                    state = longHorizontal ? 3 : 0;
                else
                    state = 0;
            }
            entry |= std::uint64_t{4 * state} << (4 * first);
            entry |= std::uint64_t{starts} << (16 + 8 * first);
        }
        table[key] = entry;
    }
    return table;
}

// Made on first use, and never changed: 512 KiB for cells of two parts.
const std::uint64_t* walkTable(bool twoParts) {
    if (twoParts) {
        static const std::vector<std::uint64_t> table = makeWalkTable(true);
        return table.data();
    }
    static const std::vector<std::uint64_t> table = makeWalkTable(false);
    return table.data();
}

}  // namespace

FlowWalk bestFlowWalk(KernelLevel level) {
    return level >= KernelLevel::Simd128 ? FlowWalk::Chunks : FlowWalk::Pairs;
}

std::uint32_t FlowDecisions::passLimit(std::int32_t t) {
    // floor(100 y / 2^32) <= t  <=>  100 y < (t + 1) 2^32  <=>  y < ceil((t + 1) 2^32 / 100).
    const std::uint64_t bound = ((static_cast<std::uint64_t>(t) + 1) << 32) + 99;
    return static_cast<std::uint32_t>(bound / 100 - 1);
}

FlowDecisions::FlowDecisions(const Settings& s, KernelLevel level, FlowWalk walk)
    : takeVertical_(s.downupflow != 0),
      verticalActs_(s.upflowenabled != 0 || s.downflowenabled != 0),
      takeUpperChoice_(s.upflowenabled != 0),
      takeHorizontal_(s.leftrightflow != 0),
      horizontalActs_(s.leftflowenabled != 0 || s.rightflowenabled != 0),
      takeRightChoice_(s.leftflowenabled != 0),
      kernels_(&kernelsFor(level)),
      walk_(walk) {
    shape_ =
        FlowShape{takeVertical_, verticalActs_, takeUpperChoice_, takeHorizontal_, horizontalActs_, takeRightChoice_};
    const bool longVertical = takeVertical_ && verticalActs_ && takeUpperChoice_;
    const bool longHorizontal = takeHorizontal_ && horizontalActs_ && takeRightChoice_;
    maxDraws_ = int{takeVertical_} + int{longVertical} + int{takeHorizontal_} + int{longHorizontal};

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
    int order[4] = {0, 1, 2, 3};
    std::stable_sort(order, order + 4, [this](int a, int b) { return limits_.limit[a] < limits_.limit[b]; });
    for (int c = 0; c < 4; ++c) limits_.ascending[c] = limits_.limit[order[c]];
    for (int above = 0; above <= 4; ++above) {
        unsigned passed = 0;
        for (int c = above; c < 4; ++c) passed |= 1u << order[c];
        limits_.byAbove[above] = static_cast<std::uint8_t>(passed & limits_.keep);
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
        fixedDraws_ = drawsPerCell_;
        return;
    }
    if (!longVertical && !longHorizontal) fixedDraws_ = maxDraws_;

    // The chunked walk: which bits make a cell longer, and a cell's decisions from its tests.
    const bool twoParts = takeVertical_ && takeHorizontal_;
    if (twoParts)
        keyBits_ = WalkKeyBits{0, longVertical, 2, longHorizontal};
    else if (takeVertical_)
        keyBits_ = WalkKeyBits{0, longVertical, 0, 0};
    else
        keyBits_ = WalkKeyBits{2, longHorizontal, 0, 0};
    walkTable_ = walkTable(twoParts);
    decisionIndex_.shape = shape_;
    for (unsigned at = 0; at < 16; ++at) {
        unsigned counted = kCountUpper | kCountLower | kCountLeft | kCountRight;
        if (takeVertical_ && verticalActs_ && (at & 1u) != 0) {
            const bool upperOut = !takeUpperChoice_ || (at & 2u) != 0;
            counted &= ~static_cast<unsigned>(upperOut ? kCountUpper : kCountLower);
        }
        if (takeHorizontal_ && horizontalActs_ && (at & 4u) != 0) {
            const bool rightOut = !takeRightChoice_ || (at & 8u) != 0;
            counted &= ~static_cast<unsigned>(rightOut ? kCountRight : kCountLeft);
        }
        decisionIndex_.lut[at] = static_cast<std::uint8_t>(counted);
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

void FlowDecisions::produce(Random& random, std::uint8_t* out, std::int64_t cells, std::uint64_t* starts) {
    if (cells <= 0) return;
    if (constant_) {
        std::fill(out, out + cells, constantDecision_);
        if (starts != nullptr)
            for (std::int64_t i = 0; i < cells; ++i)
                starts[i] = random.draws() + static_cast<std::uint64_t>(i * drawsPerCell_);
        skipConstant(random, cells);
        return;
    }
    if (walk_ == FlowWalk::Chunks) {
        produceChunked(random, out, cells, starts);
    } else if (starts == nullptr) {
        producePairs(random, out, cells);
    } else {
        for (std::int64_t i = 0; i < cells; ++i) {
            starts[i] = random.draws();
            producePairs(random, out + i, 1);
        }
    }
}

std::int64_t FlowDecisions::produceUntil(Random& random, std::uint8_t* out, std::int64_t cells,
                                         std::uint64_t stopDraw) {
    if (cells <= 0 || random.draws() >= stopDraw) return 0;
    if (constant_ && drawsPerCell_ == 0) {
        produce(random, out, cells);  // cells that take no draws all start here
        return cells;
    }
    if (fixedDraws_ != 0) {
        // A cell starts every fixedDraws_ draws from here.
        const std::uint64_t before = (stopDraw - random.draws() + static_cast<std::uint64_t>(fixedDraws_) - 1) /
                                     static_cast<std::uint64_t>(fixedDraws_);
        const auto made = static_cast<std::int64_t>(std::min<std::uint64_t>(before, static_cast<std::uint64_t>(cells)));
        produce(random, out, made);
        return made;
    }
    if (walk_ == FlowWalk::Pairs) {
        std::int64_t made = 0;
        for (; made < cells && random.draws() < stopDraw; ++made) producePairs(random, out + made, 1);
        return made;
    }
    if (windowSource_ != &random || windowDraws_ != random.draws()) {
        if (random.position() == Random::kStateSize) random.refill();
        openWindow(random, 0);
    }
    // The cells whose draws start before stopDraw, counted window by window.
    std::int64_t made = 0;
    for (;;) {
        const std::uint64_t stopWord = stopDraw - originDraws_;
        const std::int64_t stop =
            stopWord > static_cast<std::uint64_t>(carry_) ? cellCount_ : cellsBefore(static_cast<int>(stopWord));
        const std::int64_t take = std::min(cells - made, stop - cursor_);
        produceChunked(random, out + made, take, nullptr);
        made += take;
        // Stopped inside this window, or the next cell is the unfinished one and starts too late.
        if (made == cells || stop < cellCount_ || originDraws_ + static_cast<std::uint64_t>(carry_) >= stopDraw)
            return made;
        // The next cell crosses into the next block: make it, and go on from there.
        produceChunked(random, out + made, 1, nullptr);
        ++made;
    }
}

// How many of the window's cells start before word `word` (word <= carry_).
int FlowDecisions::cellsBefore(int word) {
    int cells = 0;
    for (int j = 0; j < word / kWalkChunk; ++j) cells += kStartCount[startMasks_[static_cast<std::size_t>(j)]];
    const unsigned below = (1u << (word % kWalkChunk)) - 1;
    return cells + kStartCount[startMasks_[static_cast<std::size_t>(word / kWalkChunk)] & below];
}

bool FlowDecisions::findSureStart(Random& random, std::uint64_t within) {
    // Four walks at once, one for each state the first word can be in; the first word at which
    // all four start a cell is where they have become one. A start is sure as soon as the words
    // before it are known, so the words of a chunk cut by the end of a block are looked at
    // before the block is left, and go with the next block's.
    std::array<std::uint8_t, kChunks * kWalkChunk + 8> bits{};
    std::array<std::uint16_t, kChunks> keys{};
    unsigned states[4] = {0, 4, 8, 12};
    auto commonStarts = [&](unsigned key, bool advance) {
        unsigned common = 0xFF;
        for (unsigned& state : states) {
            const std::uint64_t entry = walkTable_[key];
            common &= static_cast<std::uint8_t>(entry >> (16 + 2 * state));
            if (advance) state = static_cast<unsigned>(entry >> state) & 12u;
        }
        return common;
    };
    int carried = 0;
    for (std::uint64_t walked = 0; walked < within;) {
        if (random.position() == Random::kStateSize) random.refill();
        const int from = random.position();
        kernels_->passBits(random.state().data() + from, bits.data() + carried, Random::kStateSize - from, limits_);
        const int words = carried + Random::kStateSize - from;
        std::fill(bits.begin() + words, bits.end(), std::uint8_t{0});
        const int chunks = words / kWalkChunk + 1;  // the last one cut short
        kernels_->walkKeys(bits.data(), keys.data(), chunks, keyBits_);
        for (int j = 0; j < chunks; ++j) {
            const bool whole = j < chunks - 1;
            unsigned common = commonStarts(keys[static_cast<std::size_t>(j)], whole);
            if (!whole) common &= (1u << (words % kWalkChunk)) - 1;
            if (common != 0) {
                // Word `word` of the window is word from + word - carried of the block.
                random.skip(kWalkChunk * j + std::countr_zero(common) - carried);
                return true;
            }
        }
        carried = words % kWalkChunk;
        std::memmove(bits.data(), bits.data() + (words - carried), static_cast<std::size_t>(carried));
        walked += static_cast<std::uint64_t>(Random::kStateSize - from);
        random.skip(Random::kStateSize - from);
    }
    return false;
}

void FlowDecisions::skipConstant(Random& random, std::int64_t cells) const {
    if (cells > 0) random.discard(static_cast<std::uint64_t>(cells) * static_cast<std::uint64_t>(drawsPerCell_));
}

// The chunked walk.

// Walks the words of the source's block from its position on, after `carried` words of an
// unfinished cell whose pass bits are already at the front of the window.
void FlowDecisions::openWindow(Random& random, int carried) {
    const int from = random.position();
    kernels_->passBits(random.state().data() + from, windowBits_.data() + carried, Random::kStateSize - from, limits_);
    end_ = carried + Random::kStateSize - from;
    // The chunks cover every word that can start a cell, the end included.
    const int chunks = end_ / kWalkChunk + 1;
    std::fill(windowBits_.begin() + end_, windowBits_.end(), std::uint8_t{0});
    kernels_->walkInputs(windowBits_.data(), windowDecisions_.data(), keys_.data(), chunks, decisionIndex_, keyBits_);
    unsigned state = 0;  // the window starts with a cell
    int total = kernels_->walkChunks(keys_.data(), windowDecisions_.data(), chunks, walkTable_, &state,
                                     windowCells_.data(), startMasks_.data());
    // Starts past the end come from words not drawn yet; the starts up to the end are sure, as
    // each follows from the words before it. The last of them begins the unfinished cell.
    const int lastChunk = chunks - 1;
    std::uint8_t& lastStarts = startMasks_[static_cast<std::size_t>(lastChunk)];
    total -= kStartCount[lastStarts];
    lastStarts &= static_cast<std::uint8_t>((2u << (end_ % kWalkChunk)) - 1);
    total += kStartCount[lastStarts];
    int j = lastChunk;
    while (startMasks_[static_cast<std::size_t>(j)] == 0) --j;  // chunk 0 starts with a cell
    carry_ = kWalkChunk * j + static_cast<int>(std::bit_width(unsigned{startMasks_[static_cast<std::size_t>(j)]})) - 1;
    cellCount_ = total - 1;
    origin_ = from - carried;
    originDraws_ = random.draws() - static_cast<std::uint64_t>(carried);
    cursor_ = 0;
    scanChunk_ = 0;
    scanCells_ = 0;
}

// The word of the window at which cell `cell` starts (cell < cellCount_; never less than the
// cell asked for last in this window).
int FlowDecisions::startOf(int cell) {
    for (;;) {
        const unsigned m = startMasks_[static_cast<std::size_t>(scanChunk_)];
        const int here = kStartCount[m];
        if (cell < scanCells_ + here) {
            unsigned rest = m;
            for (int k = scanCells_; k < cell; ++k) rest &= rest - 1;
            return kWalkChunk * scanChunk_ + std::countr_zero(rest);
        }
        scanCells_ += here;
        ++scanChunk_;
    }
}

void FlowDecisions::produceChunked(Random& random, std::uint8_t* out, std::int64_t cells, std::uint64_t* starts) {
    if (windowSource_ != &random || windowDraws_ != random.draws()) {
        // A fresh walk, from a cell's first draw.
        if (random.position() == Random::kStateSize) random.refill();
        openWindow(random, 0);
    }
    for (std::int64_t i = 0; i < cells;) {
        if (cursor_ == cellCount_) {
            // The unfinished cell's words go to the front of a window over the next block.
            const int carried = end_ - carry_;
            std::memmove(windowBits_.data(), windowBits_.data() + carry_, static_cast<std::size_t>(carried));
            random.skip(Random::kStateSize - random.position());
            random.refill();
            openWindow(random, carried);
            continue;
        }
        const int take = static_cast<int>(std::min<std::int64_t>(cells - i, cellCount_ - cursor_));
        std::memcpy(out + i, windowCells_.data() + cursor_, static_cast<std::size_t>(take));
        if (starts != nullptr)
            for (int k = 0; k < take; ++k)
                starts[i + k] = originDraws_ + static_cast<std::uint64_t>(startOf(cursor_ + k));
        i += take;
        cursor_ += take;
    }
    // The source stops where the next cell starts.
    const int next = cursor_ < cellCount_ ? startOf(cursor_) : carry_;
    random.skip(origin_ + next - random.position());
    windowSource_ = &random;
    windowDraws_ = random.draws();
}

// The walk two cells a step.

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
        return (unsigned{bits_[static_cast<std::size_t>(position++)]} >> test) & 1u;
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

void FlowDecisions::producePairs(Random& random, std::uint8_t* out, std::int64_t cells) {
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

}  // namespace orv
