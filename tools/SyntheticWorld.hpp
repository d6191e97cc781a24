#pragma once

// Worlds for the terrain's figures, benchmarks and tests: a height field of wrapping fractal
// noise with a sea level, and the automaton's last map grown on its land. The field is the same
// world at every size (its features are fractions of the map, not cells), as the world's own
// field is meant to be.

#include <cstdint>
#include <vector>

#include "terrain/Relief.hpp"

namespace orv {

struct SyntheticWorld {
    int width = 0, height = 0;
    std::vector<std::uint16_t> field;  // row-major
    std::uint16_t seaLevel = 0;
    std::vector<std::uint8_t> classes;  // row-major CellClass values

    WorldField world() const { return WorldField{width, height, field, seaLevel, {}}; }
    ClassRows classRows() const { return classRowsOf(classes, width); }
};

// Fractal value noise over the map, 0 .. 65535, wrapping on both axes: octaves from four cells
// across the longer side down to two cells, each half as high as the one before.
std::vector<std::uint16_t> fractalField(std::uint32_t seed, int width, int height);

// The level that leaves about landShare (0 .. 1) of the field above it.
std::uint16_t seaLevelFor(const std::vector<std::uint16_t>& field, double landShare);

// The automaton's classes after `generations` generations with the presets and this seed,
// the sea held where land is 0 (row-major, one byte a cell).
std::vector<std::uint8_t> automatonClasses(std::int32_t seed, int width, int height,
                                           const std::vector<std::uint8_t>& land, int generations);

// Classes without the automaton: the sea below the sea level, and on land a cheap texture of
// blobs (for tests, where the rule's own cells do not matter).
std::vector<std::uint8_t> blobClasses(std::uint32_t seed, const std::vector<std::uint16_t>& field, int width,
                                      int height, std::uint16_t seaLevel);

// A whole world: the field, 40 % land, and the automaton run 100 generations on it (blobs instead
// when `automaton` is false).
SyntheticWorld syntheticWorld(std::uint32_t seed, int width, int height, bool automaton = true);

}  // namespace orv
