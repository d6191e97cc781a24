// The kernels in plain C++, one byte at a time: for processors without a faster version, and
// the yardstick the others are tested against.
#include "sim/KernelsImpl.hpp"

namespace orv {
namespace {

void ruleColumnPortable(const std::int8_t* left, const std::int8_t* mid, const std::int8_t* right,
                        const std::uint8_t* decisions, std::int8_t* next, std::ptrdiff_t count, RuleBounds bounds) {
    ruleSpan<ScalarBytes>(left, mid, right, decisions, next, next, nullptr, 0, count, bounds);
}

bool ruleColumnChangesPortable(const std::int8_t* left, const std::int8_t* mid, const std::int8_t* right,
                               const std::uint8_t* decisions, const std::int8_t* keep, std::int8_t* next,
                               std::uint64_t* changes, std::ptrdiff_t count, RuleBounds bounds) {
    clearChanges(changes, count);
    return ruleSpan<ScalarBytes, true>(left, mid, right, decisions, keep, next, changes, 0, count, bounds) != 0;
}

void commitColumnPortable(std::int8_t* current, const std::int8_t* next, std::uint8_t* classes, std::ptrdiff_t count,
                          std::int8_t waterValue) {
    commitSpan<ScalarBytes>(current, next, classes, 0, count, waterValue);
}

const Kernels kPortable{.passBits = passBitsLoop,
                        .cellTable = cellTableLoop,
                        .cellPairs = cellPairsLoop,
                        .walkKeys = walkKeysLoop,
                        .walkInputs = walkInputsInTwo<cellDecisionsLoop, walkKeysLoop>,
                        .walkChunks = walkChunksLoop,
                        .ruleColumn = ruleColumnPortable,
                        .ruleColumnChanges = ruleColumnChangesPortable,
                        .commitColumn = commitColumnPortable,
                        .drawTile = drawTileScalar,
                        .ruleUniform = nullptr};

}  // namespace

const Kernels& portableKernels() {
    return kPortable;
}

}  // namespace orv
