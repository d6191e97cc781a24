#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "app/Batch.hpp"
#include "settings/Settings.hpp"

namespace orv {

struct SeedChoice {
    bool fromClock = false;  // a seed from the clock; value 0 means the same
    std::int32_t value = 0;
};

// Generates one map exactly as the window program would with the same settings and seed when
// stopped after `generations` drawn generations (or earlier, with untilStable, at the first
// generation that changes no cell): seeding, the randratio draw, the initial fill, the
// generations, and one more generation computed but not drawn, from which the statistics come.
// picture receives the map as it was last drawn, xsize x ysize pixels row after row (black
// where nothing was drawn). progress is told of every generation's cells.
BatchResult generateMap(const Settings& settings, SeedChoice seed, std::int64_t generations, bool untilStable,
                        const std::function<double()>& clock, std::vector<std::uint32_t>& picture,
                        const std::function<void(double)>& progress);

}  // namespace orv
