#pragma once

// Drainage: where the water of every land cell goes, the lakes it fills and the rivers it makes.
//
// Heights are metres (Relief.hpp): a cell above 0 is land, any other the sea. One flood from the
// sea up visits every land cell in the order of the water level needed to reach it (a queue of
// buckets, one per metre: linear time), and gives each cell its flow direction as it reaches it:
// towards the neighbour (of eight, across the wrap) that it was reached from, which is the
// neighbour with the lowest water level. A cell lower than that level lies in a depression: the
// flood fills the whole depression at once from the cell it spills over (its outlet), so that a
// depression has exactly one outlet and its cells drain, through the cell next to the outlet,
// over it. Depressions of at least `smallestLake` cells are lakes whose surface is the outlet's
// height; smaller ones are filled (their cells raised to the outlet's height, flats that drain),
// and so are the smallest lakes where all together would cover more than their share of the land
// (the largest kept, and each smaller one that still fits).
// Every lake spills over its outlet; the only closed basin is that of a world without sea, which
// drains to its lowest cell, a lake of its own.
//
// Flow then accumulates: a cell's upstream area counts the cells that drain through it, itself
// included. Land cells whose upstream area reaches the river threshold are rivers, and so is the
// way from a lake's outlet down to the next water. Rivers (and the lakes they pass through) carry
// Strahler orders: 1 at a source, and where two streams of the same order meet, one more.

#include <cstdint>
#include <utility>
#include <vector>

#include "terrain/TerrainGrid.hpp"

namespace orv {

// What a cell of the terrain is, as the terrain file stores it.
enum TerrainClass : std::uint8_t { kTerrainSea = 0, kTerrainLake = 1, kTerrainRiver = 2, kTerrainLand = 3 };

struct Lake {
    std::int64_t cells = 0;
    std::int16_t surface = 0;  // metres: the height of the outlet
    std::int16_t deepest = 0;  // metres: the lowest cell under the water
    std::uint32_t outlet = 0;  // the land cell the lake spills over (a closed basin: its lowest cell)
    std::uint32_t entry = 0;   // the lake's cell that drains over the outlet (closed: the lowest cell)
    bool closed = false;       // a world without sea drains into it
};

struct Drainage {
    int width = 0, height = 0;
    // Per cell, row-major: the D8 direction its water takes (kDirectionX/Y), kNoFlow for the sea
    // and the bottom of a closed basin.
    std::vector<std::uint8_t> flow;
    // Per cell: its TerrainClass in bits 0-1; a river's Strahler order (1 .. 15), or that of the
    // rivers that flow through a lake cell (0 where none does), in bits 2-5.
    std::vector<std::uint8_t> cells;
    // Per cell: its upstream area in cells, itself included; 0 for the sea.
    std::vector<std::uint32_t> upstream;
    // In the order the flood found them; a lake's cells are found from any of them by following
    // the flow to its entry.
    std::vector<Lake> lakes;
    // (entry, lake) of every lake, by entry: the way from a lake cell to its lake.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> lakeEntries;
    std::uint32_t riverThreshold = 0;  // upstream area that makes a river (0: no rivers)

    TerrainClass terrainAt(std::size_t i) const { return static_cast<TerrainClass>(cells[i] & 3); }
    int orderAt(std::size_t i) const { return cells[i] >> 2; }
};

// The upstream area that makes a river, from `rivers` 0 (no rivers) to 100 (the densest
// network): 4 cells at 100, twice as many every 10 less (128 at 50).
std::uint32_t riverThreshold(int rivers);

// The smallest lake a map of these cells holds unless told otherwise: 24 cells, and an 8192th
// of the map on larger maps (2048 cells at 4096 x 4096), so that a world has lakes of the same
// sizes at every map size.
std::int64_t smallestLakeFor(std::size_t cells);

// The most of the land, in thousandths, that a map's lakes cover unless told otherwise.
inline constexpr int kLakesPerMille = 40;

// Drains the terrain. `heights` (width x height metres, row-major, land at most 16383 m) keep
// their land and sea; filled depressions are raised to their outlets. Lakes cover at most
// `lakesPerMille` thousandths of the land (the closed basin of a world without sea whatever its
// size). Throws std::invalid_argument for a size the terrain does not handle, heights of another
// size or higher land, rivers outside 0 .. 100 or a share outside 0 .. 1000.
Drainage drain(std::vector<std::int16_t>& heights, int width, int height, int rivers, std::int64_t smallestLake,
               int lakesPerMille = 1000);
inline Drainage drain(std::vector<std::int16_t>& heights, int width, int height, int rivers) {
    return drain(heights, width, height, rivers,
                 smallestLakeFor(static_cast<std::size_t>(width) * static_cast<std::size_t>(height)), kLakesPerMille);
}

// The lake (an index into lakes) that lake cell i belongs to: its flow followed to the entry;
// lakes.size() when i is no lake cell.
std::size_t lakeOf(const Drainage& drainage, std::uint32_t i);

}  // namespace orv
