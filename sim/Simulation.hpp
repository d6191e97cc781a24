#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <type_traits>
#include <utility>

#include "settings/Palette.hpp"
#include "settings/Seeding.hpp"
#include "settings/Settings.hpp"
#include "sim/MapGrid.hpp"
#include "world/WorldPyramid.hpp"

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

// The world of a run when continents is above 0: one word is drawn from the source (the
// world's seed word, from which each of its parts draws a stream of its own) and the world is
// grown over the map's size with the settings' world keys (brought into range) and ocean-edge
// margins. Nothing is drawn, and nothing returned, for the classic map (continents 0). threads
// share the work; the world is the same whatever their number.
std::optional<World> growWorld(const Settings& settings, MapSize size, Random& random, int threads = 1,
                               std::uint32_t* seedWord = nullptr);
std::optional<World> growWorld(const Settings& settings, const MapGrid& grid, Random& random);

// The same world again from its seed word (what growWorld drew), without a source.
World regrowWorld(const Settings& settings, MapSize size, std::uint32_t seedWord, int threads = 1);

// Holds the world's sea: every interior cell at or below the world's sea level becomes kSea in
// both grids (the rule then never changes it, and the commit never sees it change).
void stampSea(MapState& map, const World& world);

// The initial map of a run on either engine: the world grown first (its draw follows the seeding
// step), then the classic pattern laid exactly as without a world (one draw per cell of its range,
// sea or not), then the sea stamped over it. Returns the world, nothing for a classic map.
template <class Engine>
std::optional<World> layInitialMap(const Engine& engine, MapState& map, const Settings& settings, Random& random) {
    std::optional<World> world = growWorld(settings, map.currentMap, random);
    engine.fillInitialLandmass(map, settings, random);
    if (world) stampSea(map, *world);
    return world;
}

// Re-seeds the source with erosionseed and draws erosionTable[1 .. 1000].
void buildErosionTable(MapState& map, const Settings& settings, Random& random);

// One generation of the rule, from currentMap into nextMap, cell by cell in the defining
// order, one draw at a time. This is the reference the fast engine is held to.
void computeGeneration(MapState& map, const Settings& settings, Random& random);

// Commits the changed cells of nextMap into currentMap and paints every interior cell in the
// colours given (the sea in colors.sea).
void commitAndDraw(MapState& map, const Settings& settings, const MapCanvas& canvas, const MapColors& colors);

// The three classes of the final map and their sizes, and the world's sea apart from them.
struct MapStatistics {
    std::int64_t unchangedCount = 0;
    std::int64_t waterCount = 0;
    std::int64_t landCount = 0;
    std::int64_t seaCount = 0;
};
MapStatistics computeFinalStatistics(const MapState& map, const Settings& settings);

// The seeding step of a run, before the initial landmass: when random1 is 1 the source is
// seeded as chosen (seedSource); then, when randratio is 0, it receives floor(r x 10) + 40 from
// one draw (drawRandratio). clock is what a bit-pattern seed reads. The window program runs the
// two halves with its seed dialogue between them, which seeds and then waits for a key.
SeedOutcome seedRun(Random& random, Settings& settings, const SeedChoice& choice, const std::function<double()>& clock);
SeedOutcome seedSource(Random& random, const SeedChoice& choice, const std::function<double()>& clock);
void drawRandratio(Settings& settings, Random& random);

// The straightforward functions above under the names of the fast engine's, so that one
// generation cycle, one run and one test harness serve both engines.
struct ReferenceEngine {
    void fillInitialLandmass(MapState& map, const Settings& settings, Random& random) const {
        orv::fillInitialLandmass(map, settings, random);
    }
    void wrapBorder(MapState& map, const Settings& settings) const { orv::wrapBorder(map, settings); }
    void computeGeneration(MapState& map, const Settings& settings, Random& random) const {
        orv::computeGeneration(map, settings, random);
    }
    void commitAndDraw(MapState& map, const Settings& settings, const MapCanvas& canvas,
                       const MapColors& colors) const {
        orv::commitAndDraw(map, settings, canvas, colors);
    }
    MapStatistics finalStatistics(const MapState& map, const Settings& settings) const {
        return computeFinalStatistics(map, settings);
    }
};

// The end of a generation cycle: the cycle is counted and, with erosion on, landwaterratio
// becomes the erosion table's entry for it.
inline void countCycle(MapState& map, Settings& settings) {
    ++map.cycleCount;
    if (settings.erosion == 1)
        settings.landwaterratio = map.erosionTable[static_cast<std::size_t>(map.cycleCount % 1000)];
}

// One generation cycle up to the key poll, with either engine: flip phaseFlag, refresh the
// border, compute the next generation into nextMap, count the cycle and look up the erosion
// ratio. Further arguments go to the engine's computeGeneration, whose result is returned.
template <class Engine, class... Extra>
auto generationCycle(Engine& engine, MapState& map, Settings& settings, Random& random, Extra&&... extra) {
    map.phaseFlag = 1 - map.phaseFlag;
    engine.wrapBorder(map, settings);
    if constexpr (std::is_void_v<decltype(engine.computeGeneration(map, settings, random,
                                                                   std::forward<Extra>(extra)...))>) {
        engine.computeGeneration(map, settings, random, std::forward<Extra>(extra)...);
        countCycle(map, settings);
    } else {
        auto result = engine.computeGeneration(map, settings, random, std::forward<Extra>(extra)...);
        countCycle(map, settings);
        return result;
    }
}

}  // namespace orv
