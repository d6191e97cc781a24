#include "map/MadeMap.hpp"

#include <algorithm>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "map/StatsJson.hpp"
#include "terrain/TerrainFiles.hpp"

namespace orv {

void makeMap(MadeMap& into, const MapRequest& request, const std::string& maker, const RunHooks& hooks) {
    into.terrain.reset();
    into.result = generateMap(request, into.picture, hooks.clock ? hooks.clock : clockSeconds, hooks.progress);
    into.recipe = recipeOf(maker, request.settings, into.result);
}

const Terrain& madeTerrain(MadeMap& map) {
    if (map.terrain) return *map.terrain;
    if (!hasTerrain(map)) throw std::logic_error("a classic map has no terrain");
    const Settings& s = map.result.settings;
    const MapSize size{map.picture.width(), map.picture.height()};
    std::shared_ptr<const World> world = map.result.heights;
    if (!world) {
        const int threads = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 2u));
        world = std::make_shared<const World>(regrowWorld(s, size, map.result.worldSeed, threads));
    }
    // The terrain reads the world's heights where they lie, column by column, sea level 0.
    static_assert(World::kSeaLevel == 0);
    const WorldField input = columnField(size.x, size.y, world->heights);
    TerrainOptions options;
    options.relief = s.relief;
    options.rivers = s.rivers;
    std::vector<std::int16_t> heights = makeRelief(
        input, [&map](int y) { return map.picture.classRow(y); }, options.relief);
    // The world's heights have done their work: they go before the drainage takes its memory.
    world.reset();
    map.result.heights.reset();
    map.terrain = drainedTerrain(std::move(heights), size.x, size.y, options);
    return *map.terrain;
}

std::string madeStatsJson(MadeMap& map) {
    if (!hasTerrain(map)) return statsJson(map.result);
    return statsJson(map.result, terrainStatsJson(madeTerrain(map)));
}

}  // namespace orv
