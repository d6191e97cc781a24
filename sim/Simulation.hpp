#pragma once

#include <cstdint>

#include "settings/Settings.hpp"
#include "sim/MapGrid.hpp"

namespace orv {

class Random;

// The map's size as the grids can hold it: xsize and ysize clamped into 1 .. capacity.
struct MapSize {
    int x = 1;
    int y = 1;
};
MapSize mapSize(const Settings& settings, const MapGrid& grid);

// Refreshes the border of currentMap from the opposite edges of the interior (wrap-around).
void wrapBorder(MapState& map, const Settings& settings);

// The cells the initial pattern covers: x0 .. x1 and y0 .. y1 (empty when x1 < x0 or y1 < y0),
// from the margin to size - margin on each axis (margin 0 includes index 0), cut to the grid.
struct FillRange {
    std::int64_t x0, x1, y0, y1;
};
FillRange initialFillRange(const Settings& settings, const MapGrid& grid);

// Lays the initial random pattern (0 or 1, one draw per cell, x outer, y inner) over the
// range the ocean-edge margins leave, kept inside the grid.
void fillInitialLandmass(MapState& map, const Settings& settings, Random& random);

// Re-seeds the source with erosionseed and draws erosionTable[1 .. 1000].
void buildErosionTable(MapState& map, const Settings& settings, Random& random);

// One generation of the rule, from currentMap into nextMap, cell by cell in the defining
// order, one draw at a time. This is the reference the fast engine is held to.
void computeGeneration(MapState& map, const Settings& settings, Random& random);

// Commits the changed cells of nextMap into currentMap and paints every interior cell.
void commitAndDraw(MapState& map, const Settings& settings, const MapCanvas& canvas);

// The three classes of the final map and their sizes.
struct MapStatistics {
    std::int64_t unchangedCount = 0;
    std::int64_t waterCount = 0;
    std::int64_t landCount = 0;
};
MapStatistics computeFinalStatistics(const MapState& map, const Settings& settings);

}  // namespace orv
