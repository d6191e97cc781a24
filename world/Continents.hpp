#pragma once

#include <cstdint>
#include <vector>

#include "world/Resample.hpp"

namespace orv::world {

// Heights are whole numbers in units of 1/4096 of a continent's relief: the base shape rises
// kRelief from a continent's coast to its inland plateau and falls to -3 kRelief in the deep
// ocean; the coasts' and the islands' noise add to it.
inline constexpr std::int32_t kRelief = 4096;

// Where a world's map lies in the continents' plane: lengths are in units of 1/65536 of the
// map's shorter side, so that one world is the same at every size.
struct Plane {
    int width = 1, height = 1;              // the map, in cells
    std::int64_t lengthX = 0, lengthY = 0;  // the map, in plane units
    bool wrapX = true, wrapY = true;        // no margins on that axis: the world wraps around it
    // The open area, inside the margins: from the left edge of cell openX0 to the right edge of
    // cell openX1 (likewise for y), in plane units; empty when openX1 < openX0.
    int openX0 = 0, openX1 = 0, openY0 = 0, openY1 = 0;

    Plane(int w, int h, int marginX, int marginY);
    std::int64_t x(std::int64_t cells) const;  // a distance across x in map cells, in plane units
    std::int64_t y(std::int64_t cells) const;
    bool empty() const { return openX1 < openX0 || openY1 < openY0; }
};

// A continent: a few overlapping discs (its shape before the warp and the noise) in the plane.
struct Disc {
    std::int64_t x = 0, y = 0, radius = 0;
};
struct Continent {
    std::int64_t radius = 0;  // of a disc of the continent's share of the land
    std::vector<Disc> discs;
};

// The continents' layout, and the large-scale fields it gives at a level of the pyramid.
struct Layout {
    std::vector<Continent> continents;
    std::int64_t meanRadius = 0;  // the root mean square of the continents' radii, in plane units
    // The mean radius five continents would have: the coasts' slope and noise are measured
    // against it, so that coasts are as rough however many continents share the map.
    std::int64_t scale = 0;
    // How far from the margins the base is below sea level everywhere (plane units).
    std::int64_t marginWidth = 0;
    // At the layout's level: the base height; how much of the coasts' noise a cell takes (Q12,
    // 4096 all of it: less in the deep sea, so that no noise joins two continents across the
    // channel between them); where islands rise (Q12, most on the shelves off the coasts, none
    // in the channels between continents or along the margins).
    Field base, coastNoise, islandWeight;
};

// Lays `count` continents out from the continents' stream and draws their fields at a level of
// width x height cells of the map's plane.
Layout layContinents(std::uint64_t key, const Plane& plane, int count, int width, int height);

}  // namespace orv::world
