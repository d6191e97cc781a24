#pragma once

#include <cstdint>
#include <vector>

#include "rng/Random.hpp"
#include "settings/Settings.hpp"
#include "sim/Kernels.hpp"
#include "sim/MapGrid.hpp"

namespace orv {

// The generation cycle's map work done fast, with exactly the results of wrapBorder,
// computeGeneration and commitAndDraw in Simulation.hpp: the same grids, the same pixels and
// the same random numbers taken, for any settings and any grid size.
//
// The rule runs a whole column at a time over bytes with SIMD, on flow decisions produced
// beforehand from the random stream (FlowDecisions); the commit classifies every cell while it
// copies, and the drawing turns blocks of columns into rows of the row-major frame buffer.
class FastEngine {
public:
    explicit FastEngine(KernelLevel level = bestKernelLevel());

    KernelLevel level() const { return level_; }

    void wrapBorder(MapState& map, const Settings& settings) const;
    void computeGeneration(MapState& map, const Settings& settings, Random& random);
    // The canvas's pixels outside width x height are left alone.
    void commitAndDraw(MapState& map, const Settings& settings, const MapCanvas& canvas);

private:
    KernelLevel level_;
    const Kernels* kernels_;
    std::vector<std::uint8_t> decisions_;  // one column's flow bits
    std::vector<std::uint8_t> classes_;    // one block of classified cells, column after column
};

}  // namespace orv
