#pragma once

#include <cstdint>
#include <vector>

#include "world/WorldPyramid.hpp"

namespace orv {

// The land masses and seas of a world, found across the wrap-around on both axes: land cells
// join their eight neighbours, sea cells their four.
struct WorldFigures {
    std::int64_t cells = 0;
    std::int64_t landCells = 0;
    std::int64_t seaCells = 0;
    std::vector<std::int64_t> landMasses;  // the size of every land mass, largest first
    std::vector<std::int64_t> seas;        // the size of every sea, largest first

    std::int64_t largestLandMass() const { return landMasses.empty() ? 0 : landMasses.front(); }
    std::int64_t largestSea() const { return seas.empty() ? 0 : seas.front(); }
    // How many land masses hold at least share (0 .. 1) of all the map's cells.
    std::int64_t landMassesOfAtLeast(double share) const;
};

// Labels the mask's components. The work goes by runs of equal cells down each column, so it
// costs little more than a read of the mask plus a few words per run.
WorldFigures measureWorld(const WorldMask& mask);

}  // namespace orv
