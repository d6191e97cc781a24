#include "terrain/Terrain.hpp"

#include <algorithm>
#include <utility>

namespace orv {

namespace {

// The basins: a land cell that drains into the sea is the mouth of one.
void summarizeBasins(const Drainage& d, TerrainSummary& s) {
    const WrapGrid grid(d.width, d.height);
    for (int y = 0; y < d.height; ++y)
        for (int x = 0; x < d.width; ++x) {
            const std::uint32_t i = grid.index(x, y);
            if (d.terrainAt(i) == kTerrainSea || d.flow[i] == kNoFlow ||
                d.terrainAt(grid.step(i, x, y, d.flow[i])) != kTerrainSea)
                continue;
            ++s.basinCount;
            s.largestBasin = std::max<std::int64_t>(s.largestBasin, d.upstream[i]);
            if (d.upstream[i] >= 1000) ++s.basinsOf1000;
        }
}

}  // namespace

Terrain makeTerrain(const WorldField& world, const ClassRows& classes, const TerrainOptions& options) {
    return drainedTerrain(makeRelief(world, classes, options.relief), world.width, world.height, options);
}

Terrain drainedTerrain(std::vector<std::int16_t> heights, int width, int height, const TerrainOptions& options) {
    Terrain t;
    t.width = width;
    t.height = height;
    t.heights = std::move(heights);
    t.drainage = drain(t.heights, t.width, t.height, options.rivers);
    // The basins while the upstream areas are there; then those go (unless kept), before the
    // rivers take any memory.
    TerrainSummary basins;
    summarizeBasins(t.drainage, basins);
    if (!options.keepUpstream) std::vector<std::uint32_t>().swap(t.drainage.upstream);
    t.rivers = traceRivers(t.drainage);
    t.summary = summarizeTerrain(t.heights, t.drainage, t.rivers);
    t.summary.basinCount = basins.basinCount;
    t.summary.largestBasin = basins.largestBasin;
    t.summary.basinsOf1000 = basins.basinsOf1000;
    return t;
}

TerrainSummary summarizeTerrain(const std::vector<std::int16_t>& heights, const Drainage& d,
                                const std::vector<River>& rivers) {
    TerrainSummary s;
    s.cells = static_cast<std::int64_t>(heights.size());
    if (!d.upstream.empty()) summarizeBasins(d, s);
    std::size_t highest = 0, deepest = 0;
    for (std::size_t i = 0; i < heights.size(); ++i) {
        ++s.classCells[d.terrainAt(i)];
        if (heights[i] > heights[highest]) highest = i;
        if (heights[i] < heights[deepest]) deepest = i;
    }
    s.highest = heights.empty() || heights[highest] <= 0 ? 0 : heights[highest];
    s.deepest = heights.empty() || heights[deepest] > 0 ? 0 : heights[deepest];
    s.highestX = static_cast<int>(highest % static_cast<std::size_t>(d.width));
    s.highestY = static_cast<int>(highest / static_cast<std::size_t>(d.width));
    s.deepestX = static_cast<int>(deepest % static_cast<std::size_t>(d.width));
    s.deepestY = static_cast<int>(deepest / static_cast<std::size_t>(d.width));
    s.riverCount = static_cast<std::int64_t>(rivers.size());
    for (const River& r : rivers) s.highestOrder = std::max(s.highestOrder, r.order);
    for (double length : lengthsToWater(rivers)) s.longestRiver = std::max(s.longestRiver, length);
    s.lakeCount = static_cast<std::int64_t>(d.lakes.size());
    for (const Lake& lake : d.lakes) {
        s.largestLake = std::max(s.largestLake, lake.cells);
        if (lake.closed) ++s.closedLakes;
    }
    return s;
}

}  // namespace orv
