#include "sim/Simulation.hpp"

#include <algorithm>

#include "rng/Random.hpp"

namespace orv {

MapSize mapSize(const Settings& settings, const MapGrid& grid) {
    return {std::clamp(settings.xsize, 1, std::max(grid.xCapacity(), 1)),
            std::clamp(settings.ysize, 1, std::max(grid.yCapacity(), 1))};
}

void wrapBorder(MapState& map, const Settings& settings) {
    const MapSize size = mapSize(settings, map.currentMap);
    MapGrid& c = map.currentMap;
    for (int y = 1; y <= size.y; ++y) {
        c(0, y) = c(size.x, y);
        c(size.x + 1, y) = c(1, y);
    }
    for (int x = 1; x <= size.x; ++x) {
        c(x, 0) = c(x, size.y);
        c(x, size.y + 1) = c(x, 1);
    }
}

FillRange initialFillRange(const Settings& settings, const MapGrid& grid) {
    const MapSize size = mapSize(settings, grid);
    // A range reaching past the grid (a negative margin) is cut to the grid's indices.
    auto range = [](std::int64_t side, std::int64_t margin, std::int64_t last) {
        return std::pair{std::max<std::int64_t>(margin, 0), std::min<std::int64_t>(side - margin, last)};
    };
    const auto [x0, x1] = range(size.x, settings.oceanedgesizex, grid.xCapacity() + 2);
    const auto [y0, y1] = range(size.y, settings.oceanedgesizey, grid.yCapacity() + 2);
    return {x0, x1, y0, y1};
}

void fillInitialLandmass(MapState& map, const Settings& settings, Random& random) {
    const auto [x0, x1, y0, y1] = initialFillRange(settings, map.currentMap);
    for (std::int64_t x = x0; x <= x1; ++x)
        for (std::int64_t y = y0; y <= y1; ++y)
            map.currentMap(static_cast<int>(x), static_cast<int>(y)) =
                static_cast<CellValue>(scaleDraw(random.nextRaw(), 2));
}

std::optional<World> growWorld(const Settings& settings, MapSize size, Random& random, int threads,
                               std::uint32_t* seedWord) {
    if (settings.continents <= 0) return std::nullopt;
    const std::uint32_t word = random.nextRaw();
    if (seedWord) *seedWord = word;
    return regrowWorld(settings, size, word, threads);
}

World regrowWorld(const Settings& settings, MapSize size, std::uint32_t seedWord, int threads) {
    // Margins beyond the map hold the whole map as sea, as a margin of the map's size does.
    auto margin = [](std::int32_t m, int length) { return static_cast<int>(std::clamp<std::int64_t>(m, 0, length)); };
    return buildWorld(seedWord, size.x, size.y, margin(settings.oceanedgesizex, size.x),
                      margin(settings.oceanedgesizey, size.y), worldParameters(settings), threads);
}

std::optional<World> growWorld(const Settings& settings, const MapGrid& grid, Random& random) {
    return growWorld(settings, mapSize(settings, grid), random);
}

namespace {

// cells[y] := kSea where heights[y] is at or below the sea level, for y < count: a select over
// arrays that do not overlap, which vectorises.
void stampColumn(CellValue* __restrict cells, const std::int16_t* __restrict heights, int count) {
    for (int y = 0; y < count; ++y) cells[y] = heights[y] > World::kSeaLevel ? cells[y] : kSea;
}

}  // namespace

void stampSea(MapState& map, const World& world) {
    for (int x = 1; x <= world.width; ++x) {
        stampColumn(map.currentMap.column(x) + 1, world.column(x - 1), world.height);
        stampColumn(map.nextMap.column(x) + 1, world.column(x - 1), world.height);
    }
}

void buildErosionTable(MapState& map, const Settings& settings, Random& random) {
    random.seed(sourceWord(settings.erosionseed, clockSeconds));
    for (std::size_t i = 1; i <= 1000; ++i) {
        // floor(r * var1) + var2 for a factor of any sign, formed exactly in integers.
        const std::int64_t product = static_cast<std::int64_t>(random.nextRaw()) * settings.randerosionvar1;
        const std::int64_t floored = product >= 0 ? product >> 32 : -((-product + 0xFFFFFFFFll) >> 32);
        map.erosionTable[i] = static_cast<std::int32_t>(static_cast<std::uint32_t>(floored + settings.randerosionvar2));
    }
}

void computeGeneration(MapState& map, const Settings& s, Random& random) {
    const MapSize size = mapSize(s, map.currentMap);
    const MapGrid& c = map.currentMap;
    auto land = [&c](int x, int y) { return c(x, y) == kLand ? 1 : 0; };
    auto draw = [&random] { return static_cast<std::int32_t>(scaleDraw(random.nextRaw(), 100)); };
    for (int x = 1; x <= size.x; ++x) {
        for (int y = 1; y <= size.y; ++y) {
            int count = land(x - 1, y - 1) + land(x + 1, y - 1) + land(x - 1, y + 1) + land(x + 1, y + 1);

            const bool verticalFlow = s.downupflow != 0 && draw() <= s.downupflow;
            if (verticalFlow && (s.upflowenabled != 0 || s.downflowenabled != 0)) {
                const bool leaveUpperOut = s.upflowenabled == 0 || draw() <= s.upflowratio;
                count += leaveUpperOut ? land(x, y + 1) : land(x, y - 1);
            } else {
                count += land(x, y - 1) + land(x, y + 1);
            }

            const bool horizontalFlow = s.leftrightflow != 0 && draw() <= s.leftrightflow;
            if (horizontalFlow && (s.leftflowenabled != 0 || s.rightflowenabled != 0)) {
                const bool leaveRightOut = s.leftflowenabled == 0 || draw() <= s.rightflowratio;
                count += leaveRightOut ? land(x - 1, y) : land(x + 1, y);
            } else {
                count += land(x - 1, y) + land(x + 1, y);
            }

            const CellValue v = c(x, y);
            if (v == kWater) {
                if (count < 4) map.nextMap(x, y) = kLand;
            } else if (v != kSea) {
                if (v == kLand && count > s.landmasssize) map.nextMap(x, y) = kWater;
                if (count == s.landwaterratio) map.nextMap(x, y) = kWater;
            }
        }
    }
}

namespace {

// The value by which a changed cell is coloured and counted: inverted in even cycles.
CellValue phaseValue(CellValue v, int phaseFlag) {
    if (phaseFlag == 0) return v == kLand ? kWater : kLand;
    return v;
}

}  // namespace

void commitAndDraw(MapState& map, const Settings& s, const MapCanvas& canvas, const MapColors& colors) {
    const MapSize size = mapSize(s, map.currentMap);
    for (int x = 1; x <= size.x; ++x) {
        for (int y = 1; y <= size.y; ++y) {
            std::uint32_t color = colors.unchanged;
            const CellValue next = map.nextMap(x, y);
            if (map.currentMap(x, y) != next) {
                map.currentMap(x, y) = next;
                color = phaseValue(next, map.phaseFlag) == kWater ? colors.water : colors.land;
            }
            if (next == kSea) color = colors.sea;
            if (canvas.contains(x, y)) canvas.at(x, y) = color;
        }
    }
}

SeedOutcome seedSource(Random& random, const SeedChoice& choice, const std::function<double()>& clock) {
    const ResolvedSeed resolved = resolveSeed(choice, clock);
    random.seed(resolved.word);
    return resolved.outcome;
}

void drawRandratio(Settings& settings, Random& random) {
    if (settings.randratio == 0) settings.randratio = static_cast<std::int32_t>(scaleDraw(random.nextRaw(), 10)) + 40;
}

SeedOutcome seedRun(Random& random, Settings& settings, const SeedChoice& choice,
                    const std::function<double()>& clock) {
    const SeedOutcome outcome = settings.random1 == 1 ? seedSource(random, choice, clock) : SeedOutcome{};
    drawRandratio(settings, random);
    return outcome;
}

MapStatistics computeFinalStatistics(const MapState& map, const Settings& s) {
    const MapSize size = mapSize(s, map.currentMap);
    MapStatistics stats;
    for (int x = 1; x <= size.x; ++x) {
        for (int y = 1; y <= size.y; ++y) {
            const CellValue next = map.nextMap(x, y);
            if (next == kSea)
                ++stats.seaCount;
            else if (map.currentMap(x, y) == next)
                ++stats.unchangedCount;
            else if (phaseValue(next, map.phaseFlag) == kWater)
                ++stats.waterCount;
            else
                ++stats.landCount;
        }
    }
    return stats;
}

}  // namespace orv
