#pragma once

#include <string>

#include "sim/GenerateMap.hpp"

namespace orv {

// The statistics of one map as a JSON document: seed, size, every setting as the run used it,
// the generations drawn and computed, whether the last changed no cell ("stable") and whether
// and from when the picture had settled, and the three colour classes with their cells and
// shares (the shares in the shortest text that reads back as the report's double).
std::string statsJson(const MapResult& result);

}  // namespace orv
