#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "map/GenerateMap.hpp"
#include "map/Recipe.hpp"
#include "settings/Seeding.hpp"
#include "terrain/Terrain.hpp"

namespace orv {

// One map made, with everything its outputs are written from: the run's result, the picture as
// last drawn, and the recipe that makes it again. The programs and the library all make maps
// through makeMap and write them through the outputs table (map/MapOutputs.hpp).
struct MadeMap {
    MapResult result;
    MapPicture picture;
    Recipe recipe;
    // A world's terrain (heights in metres, drainage, rivers), made on first use by madeTerrain.
    std::optional<Terrain> terrain;
};

// What a run reports to its caller, and how the caller stops it.
struct RunHooks {
    // What a seed from the clock's bit pattern reads.
    std::function<double()> clock = clockSeconds;
    // Told after every generation computed: how many so far, and the most there will be (the
    // generations drawn and the one computed for the statistics). Returning false stops the run:
    // makeMap then throws RunCancelled.
    std::function<bool(std::int64_t done, std::int64_t total)> progress;
};

// Makes the map a request asks for into `into` (its picture's storage is reused), with the
// recipe naming `maker` ("orvandel-batch 2.0.0") as the program that made it.
void makeMap(MadeMap& into, const MapRequest& request, const std::string& maker, const RunHooks& hooks = {});

// Whether the map is a world (continents above 0), which has a terrain.
inline bool hasTerrain(const MadeMap& map) {
    return map.result.world;
}

// A world's terrain, from its heights (kept by the run when it was asked to keep them, otherwise
// grown again from the world's seed word) and the automaton's last map, with the settings'
// relief and rivers; made on first use and kept. Throws std::logic_error for a classic map.
const Terrain& madeTerrain(MadeMap& map);

// The statistics document of a made map (statsJson), with a world's terrain in it.
std::string madeStatsJson(MadeMap& map);

}  // namespace orv
