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
    // The continents: the land masses that hold at least 5 % of the land (the others are islands).
    std::int64_t continents() const;
};

// Labels the world's components (land: the cells above the sea level). The work goes by runs of
// land or sea down each column, so it costs little more than a read of the heights plus a few
// words per run. With massOfCell, every cell's land mass too (x-major like the world): 0 for
// sea, k + 1 for landMasses[k].
WorldFigures measureWorld(const World& world, std::vector<std::uint32_t>* massOfCell = nullptr);

}  // namespace orv
