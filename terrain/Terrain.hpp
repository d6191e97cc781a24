#pragma once

// A world's terrain, whole: its heights (Relief.hpp), drainage with lakes and rivers
// (Drainage.hpp), the rivers as lines (Rivers.hpp) and the figures that describe it. What the
// programs make and write a map's terrain files from (TerrainFiles.hpp).
//
// Memory: at its peak, while flow accumulates, a terrain holds 8 bytes a cell (heights 2, flow 1,
// classes 1, upstream areas 4); the relief before it about 4.5 (heights 2 and its scales), the
// flood about 4 and its queue of waiting cells; the input field and classes are the caller's.
// Upstream areas are let go (unless kept) as soon as the basins are counted, before the rivers
// are traced.

#include <cstdint>
#include <vector>

#include "terrain/Drainage.hpp"
#include "terrain/Relief.hpp"
#include "terrain/Rivers.hpp"

namespace orv {

struct TerrainOptions {
    int relief = 50;            // 0 .. 100, how mountainous the land is
    int rivers = 70;            // 0 .. 100, how dense the rivers are (0: none)
    bool keepUpstream = false;  // keep drainage.upstream after the terrain is made
};

// What a terrain is like, as its statistics tell it.
struct TerrainSummary {
    std::int64_t cells = 0;
    // Cells of each class: sea, lake, river, other land (TerrainClass order).
    std::int64_t classCells[4] = {0, 0, 0, 0};
    // The highest land and the deepest sea: metres, and the first such cell (row-major).
    int highest = 0, highestX = 0, highestY = 0;
    int deepest = 0, deepestX = 0, deepestY = 0;
    std::int64_t riverCount = 0;  // rivers as traced: streams of one order
    int highestOrder = 0;
    double longestRiver = 0;  // cells, from a source to the sea or a lake (lengthsToWater)
    std::int64_t lakeCount = 0, largestLake = 0, closedLakes = 0;
    // Basins: the land draining into the sea through each coastal cell; how many, the largest,
    // and how many hold at least 1000 cells.
    std::int64_t basinCount = 0, largestBasin = 0, basinsOf1000 = 0;
};

struct Terrain {
    int width = 0, height = 0;
    std::vector<std::int16_t> heights;  // metres, row-major
    Drainage drainage;
    std::vector<River> rivers;
    TerrainSummary summary;
};

// The terrain of a world: relief, drainage, rivers and figures. Throws std::invalid_argument as
// makeRelief and drain do.
Terrain makeTerrain(const WorldField& world, const ClassRows& classes, const TerrainOptions& options);
// The same from heights makeRelief made (options.relief unused), so that a caller can let its
// world go before the drainage takes its memory.
Terrain drainedTerrain(std::vector<std::int16_t> heights, int width, int height, const TerrainOptions& options);

// The figures of a drained terrain; the basins' only when its upstream areas are there.
TerrainSummary summarizeTerrain(const std::vector<std::int16_t>& heights, const Drainage& drainage,
                                const std::vector<River>& rivers);

}  // namespace orv
