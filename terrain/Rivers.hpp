#pragma once

// The rivers of a drained terrain as lines: each a stream of one Strahler order, from where it
// begins (a source, a lake's outlet, or the meeting of two streams of the order below) down to
// where it ends (the sea, a lake, or a stream of a higher order that it joins).

#include <cstdint>
#include <vector>

#include "terrain/Drainage.hpp"

namespace orv {

struct River {
    enum class End : std::uint8_t { sea, lake, river };

    int order = 0;
    // Its cells, row-major indices, first the head; each drains in direction steps[k] into the
    // next, the last into what the river ends in.
    std::vector<std::uint32_t> cells;
    std::vector<std::uint8_t> steps;
    // Where it begins: the lake whose outlet is its head (drained over from the lake's cell in
    // direction `firstStep` from the head), or -1.
    std::int32_t fromLake = -1;
    int firstStep = -1;
    // Where it ends: the sea, a lake (into), or the cell cells[joinsAt] of river `into`.
    End end = End::sea;
    std::int32_t into = -1;
    std::int32_t joinsAt = -1;
    // Where its water comes to rest: -1 the sea, or a lake (the lake a chain of rivers ends in).
    std::int32_t reaches = -1;
    // Its length in cells: a straight step 1, a diagonal sqrt(2), to the junction with the river
    // it joins a whole step, into the sea or a lake (and out of a lake) half a step to the shore.
    double length = 0;
};

// The rivers, in the order of their heads (row-major). A river's index is its id.
std::vector<River> traceRivers(const Drainage& drainage);

// The length of the way from a river's head to the water it ends in (the sea or a lake),
// through the rivers it joins; for every river, by id.
std::vector<double> lengthsToWater(const std::vector<River>& rivers);

}  // namespace orv
