#include "app/BatchMap.hpp"

#include "rng/Random.hpp"
#include "sim/FastEngine.hpp"
#include "sim/MapGrid.hpp"
#include "sim/Simulation.hpp"

namespace orv {
namespace {

// True when the generation just computed into nextMap differs from currentMap in any cell.
bool anyCellChanges(const MapState& map, const Settings& settings) {
    const MapSize size = mapSize(settings, map.currentMap);
    for (int x = 1; x <= size.x; ++x)
        for (int y = 1; y <= size.y; ++y)
            if (map.currentMap(x, y) != map.nextMap(x, y)) return true;
    return false;
}

// One cycle's work before the commit, as the window program's generation loop does it.
void computeCycle(FastEngine& engine, MapState& map, Settings& settings, Random& random) {
    map.phaseFlag = 1 - map.phaseFlag;
    engine.wrapBorder(map, settings);
    engine.computeGeneration(map, settings, random);
    ++map.cycleCount;
    if (settings.erosion == 1)
        settings.landwaterratio = map.erosionTable[static_cast<std::size_t>(map.cycleCount % 1000)];
}

}  // namespace

BatchResult generateMap(const Settings& settings, SeedChoice seed, std::int64_t generations, bool untilStable,
                        const std::function<double()>& clock, std::vector<std::uint32_t>& picture,
                        const std::function<void(double)>& progress) {
    BatchResult r;
    r.settings = settings;
    Settings& s = r.settings;
    Random random;
    MapState map(s.xsize, s.ysize);
    const double cells = static_cast<double>(s.xsize) * s.ysize;

    r.seedUsed = s.random1 == 1;
    if (r.seedUsed) {
        if (seed.fromClock || seed.value == 0) {
            // The source keeps the whole seconds of the clock: they are the seed to type again.
            const double seconds = clock();
            random.seedRandom(seconds, clock);
            r.seed = static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::int64_t>(seconds)));
            r.seedFromClock = true;
        } else {
            random.seedRandom(seed.value, clock);
            r.seed = seed.value;
        }
    }
    if (s.randratio == 0) s.randratio = static_cast<std::int32_t>(scaleDraw(random.nextRaw(), 10)) + 40;
    fillInitialLandmass(map, s, random);

    // Until something is drawn the map area is as the cleared screen leaves it: black.
    picture.assign(static_cast<std::size_t>(s.xsize) * static_cast<std::size_t>(s.ysize), 0xFF000000u);
    const MapCanvas canvas{picture.data(), s.xsize, s.xsize, s.ysize, -1, -1};
    FastEngine engine;
    for (;;) {
        computeCycle(engine, map, s, random);
        progress(cells);
        const bool changes = anyCellChanges(map, s);
        if (!changes) r.stable = true;
        if (r.committedGenerations >= generations || (untilStable && !changes)) break;
        engine.commitAndDraw(map, s, canvas);
        ++r.committedGenerations;
    }
    r.cycles = map.cycleCount;
    const MapStatistics stats = computeFinalStatistics(map, s);
    r.unchangedCount = stats.unchangedCount;
    r.waterCount = stats.waterCount;
    r.landCount = stats.landCount;
    return r;
}

}  // namespace orv
