#pragma once

#include <string>

#include "map/GenerateMap.hpp"

namespace orv {

// The statistics of one map as a JSON document: seed, size, every setting as the run used it,
// the generations drawn and computed, whether the last changed no cell ("stable") and whether
// and from when the picture had settled, the three colour classes and the sea (0 cells but in
// a world) with their colours, cells and shares (the shares in the shortest text that reads back
// as the report's double), and for a world its land masses: how many, and their cells, largest
// first.
std::string statsJson(const MapResult& result);
// The same with a world's terrain as its "terrain" member (terrainStatsJson's object).
std::string statsJson(const MapResult& result, const std::string& terrain);

}  // namespace orv
