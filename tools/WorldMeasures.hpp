#pragma once

// The figures orvandel-world-figures measures a world by, beyond its land masses: how rough its
// coasts are, how its islands are sized and where they lie, its margins, how much two worlds'
// continents overlap, and whether its coasts follow the grid.

#include <cstdint>
#include <vector>

#include "world/WorldFigures.hpp"
#include "world/WorldPyramid.hpp"

namespace orv::measures {

// A world measured: its figures and every cell's land mass.
struct Measured {
    std::vector<std::uint32_t> massOfCell;  // 0 sea, k + 1 for figures.landMasses[k]
    WorldFigures figures;
    std::int64_t continents = 0;  // masses 1 .. continents hold 5 % of the land or more

    explicit Measured(const World& world);
    bool continent(std::size_t cell) const { return massOfCell[cell] != 0 && massOfCell[cell] <= continents; }
};

// The box-counting dimension of the coastline per octave: for box sides s = smallest,
// 2 smallest, ... (octaves of them), log2 of the boxes holding coast at s over those at 2 s. The
// coast is every land cell with a sea cell among its four neighbours (across the wrap).
std::vector<double> coastDimensions(const World& world, int smallest, int octaves);

// Korcak's exponent b of the islands' sizes (N(area > a) ~ a^-b), fitted by least squares in
// log-log at 16 sizes spread evenly (in log) from `from` to `to` cells; NaN with fewer than
// three sizes that some island exceeds. sizes: the islands' areas.
double korcakExponent(const std::vector<std::int64_t>& sizes, double from, double to);

// The median distance (in cells) from an island to the nearest continent cell, and from a sea
// cell outside the margins to the nearest continent cell: exact Euclidean distances across the
// wrap. NaN where there is no island or no continent.
struct Distances {
    double island = 0, sea = 0;
};
Distances islandDistances(const World& world, const Measured& measured);

// Land cells on the first and the last column and row outside the margins, and in the first and
// last eighth of the columns and rows outside them.
struct MarginCounts {
    std::int64_t firstColumn = 0, lastColumn = 0, firstRow = 0, lastRow = 0;
    std::int64_t firstColumns = 0, lastColumns = 0, firstRows = 0, lastRows = 0;
};
MarginCounts marginCounts(const World& world, int marginX, int marginY);

// The continents' cells in both worlds over those in either (1 when both have none).
double continentOverlap(const Measured& a, const Measured& b);

// How the coast's edges (the sides between a land and a sea cell) lie on the grid: the share on
// lines at multiples of 32 cells (1/32 by chance), and the share in straight runs of 8 or more
// edges along one line.
struct EdgeFigures {
    double onMultiplesOf32 = 0, inStraightRuns = 0;
};
EdgeFigures edgeFigures(const World& world);

// The world turned by `degrees` about the map's centre (bilinear, across the wrap): a coast as
// smooth, whose straight runs along the grid are those of chance. Margins are not kept.
World turned(const World& world, double degrees);

}  // namespace orv::measures
