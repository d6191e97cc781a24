#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orv {

class Random;

// What shapes a world; each field is named after the settings key that would set it.
struct WorldParameters {
    // Levels of the pyramid, 1 .. 16 (0: no world, the classic map). The coarsest grid has one
    // cell per 2^continents x 2^continents cells of the map and a continent is a few of those
    // cells across, so each step up doubles the continents' size and quarters their number.
    // The default look (5 to 15 land masses) takes log2 of the map's side minus 5: 7 at 4096.
    int continents = 0;
    // Per cent of the cells outside the ocean-edge margins that are land, 1 .. 99: held to a
    // few tenths of a per cent from continents 3 up (islands add up to a third of a per cent);
    // continents 1 and 2, whose few steps are all near the map, lose one to five per cent.
    int landshare = 40;
    // How ragged the coasts are, 0 (round) .. 100 (frayed, with lakes and specks along them):
    // how easily a cell at the coast takes its neighbour's value when the resolution doubles,
    // and how little the smoothing after it takes away.
    int coastroughness = 50;
    // How many islands are sown into the open sea at the middle levels, 0 (none) .. 100; they
    // are 8 to 64 cells across, twice as many of each size as of the next larger one.
    int islands = 30;
};

// Values outside the ranges above brought into them (continents 0 stays 0).
WorldParameters clampWorldParameters(const WorldParameters& parameters);

// A world's land and sea, one byte per cell of a width x height map: 1 land, 0 sea. Stored
// x-major like MapGrid (the cells of one x are adjacent), so a column of the mask is a column
// of the map's grid, and laying the mask into a grid is a copy per column.
struct WorldMask {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> cells;

    std::size_t index(int x, int y) const {
        return static_cast<std::size_t>(x) * static_cast<std::size_t>(height) + static_cast<std::size_t>(y);
    }
    bool land(int x, int y) const { return cells[index(x, y)] != 0; }
    const std::uint8_t* column(int x) const { return cells.data() + index(x, 0); }
};

// Whether map cell (x, y), counted from 0, lies in the ocean-edge margins: the interior cells
// that the classic initial pattern does not reach (grid index x + 1 below marginX or above
// width - marginX; likewise for y). A world holds sea there.
bool inOceanEdge(std::int64_t x, std::int64_t size, std::int64_t margin);

// Grows worlds, keeping its working storage from one world to the next.
class WorldPyramid {
public:
    // Grows a world into mask, reusing its storage; see buildWorld.
    void build(Random& random, int width, int height, int marginX, int marginY, const WorldParameters& parameters,
               WorldMask& mask);

private:
    std::vector<std::uint8_t> spare_;     // the levels an odd number of steps above the map
    std::vector<std::uint32_t> scratch_;  // the coarsest level's sums; the cells tied at a cut
};

// Grows a world of width x height cells (each 1 .. 65536; other sizes throw
// std::invalid_argument) from the random source, coarse to fine; see WorldPyramid.cpp for the
// steps and the order of the draws. Both axes wrap around at every level, so the world tiles
// seamlessly. With continents 0 nothing is drawn and every cell outside the margins is land.
WorldMask buildWorld(Random& random, int width, int height, int marginX, int marginY,
                     const WorldParameters& parameters);

}  // namespace orv
