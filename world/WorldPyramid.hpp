#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "settings/Settings.hpp"

namespace orv {

// What shapes a world; each field is named after the settings key that sets it, whose preset it
// starts from.
struct WorldParameters {
    // How many continents, 1 .. 16 (0: no world, the classic map): land masses that each hold
    // at least 5 % of the land, at any map size (from 12 on the smallest may hold less).
    int continents = settingsKey(&Settings::continents).preset;
    // Per cent of the cells outside the ocean-edge margins that are land, 1 .. 99: the sea
    // level is the height that leaves that much above it, so more land share only adds land.
    int landshare = settingsKey(&Settings::landshare).preset;
    // How rough the coasts are, 0 (smooth) .. 100 (frayed): how strong the heights' noise is at
    // small scales against large ones. At 50 the coastline's box-counting dimension is about
    // 1.25 at every scale, as real coastlines'.
    int coastroughness = settingsKey(&Settings::coastroughness).preset;
    // How many islands rise off the coasts, 0 (those the coasts' noise makes alone) .. 100.
    int islands = settingsKey(&Settings::islands).preset;
};

// Values outside their keys' ranges (the settings key table's) brought into them.
WorldParameters clampWorldParameters(const WorldParameters& parameters);

// The world's keys of a run's settings, brought into their ranges.
WorldParameters worldParameters(const Settings& settings);

// Whether map cell (x, y), counted from 0, lies in the ocean-edge margins: the interior cells
// that the classic initial pattern does not reach (grid index x + 1 below marginX or above
// width - marginX; likewise for y). A world holds sea there.
bool inOceanEdge(std::int64_t x, std::int64_t size, std::int64_t margin);

// A world: a height for every cell of a width x height map, 16-bit signed whole numbers stored
// x-major like MapGrid (the cells of one x are adjacent: cell (x, y) at x * height + y; pictures
// and NumPy files are row-major, so read them across). The sea level is 0: a cell is land when
// its height is above it, sea otherwise, and the margins hold kMarginHeight. The scale: a
// continent's base shape rises 4096 from its coast to a plateau inland and falls to -12288 in
// the deep sea, and the coasts' and the islands' noise add to it (most land lies below 8192,
// most sea above -16384); heights are held to -32767 .. 32767.
struct World {
    static constexpr std::int16_t kSeaLevel = 0;
    static constexpr std::int16_t kMarginHeight = -32768;

    int width = 0;
    int height = 0;
    std::vector<std::int16_t> heights;

    std::size_t index(int x, int y) const {
        return static_cast<std::size_t>(x) * static_cast<std::size_t>(height) + static_cast<std::size_t>(y);
    }
    std::int16_t at(int x, int y) const { return heights[index(x, y)]; }
    bool land(int x, int y) const { return heights[index(x, y)] > kSeaLevel; }
    const std::int16_t* column(int x) const { return heights.data() + index(x, 0); }
};

// Grows the world of a width x height map (each 1 .. 65536; other sizes throw
// std::invalid_argument) from a seed word, coarse to fine; see WorldPyramid.cpp for the steps
// and world/WorldNoise.hpp for the streams. Both axes wrap around at every level, so a world
// without margins tiles seamlessly. With continents 0 nothing is grown: every cell outside the
// margins is land (height 1). threads (at least 1) share the finest level's work; the world is
// the same whatever their number. The world's storage is reused.
void buildWorld(std::uint32_t seedWord, int width, int height, int marginX, int marginY,
                const WorldParameters& parameters, World& world, int threads = 1);
World buildWorld(std::uint32_t seedWord, int width, int height, int marginX, int marginY,
                 const WorldParameters& parameters, int threads = 1);

}  // namespace orv
