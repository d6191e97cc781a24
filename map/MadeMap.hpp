#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "map/GenerateMap.hpp"
#include "map/Recipe.hpp"
#include "settings/Seeding.hpp"

namespace orv {

// One map made, with everything its outputs are written from: the run's result, the picture as
// last drawn, and the recipe that makes it again. The programs and the library all make maps
// through makeMap and write them through the outputs table (map/MapOutputs.hpp).
struct MadeMap {
    MapResult result;
    MapPicture picture;
    Recipe recipe;
};

// What a run reports to its caller, and how the caller stops it.
struct RunHooks {
    // What a seed from the clock's bit pattern reads.
    std::function<double()> clock = clockSeconds;
    // Told after every generation computed: how many so far, and the most there will be (the
    // generations drawn and the one computed for the statistics). Returning false stops the run:
    // makeMap then throws RunCancelled.
    std::function<bool(std::int64_t done, std::int64_t total)> progress;
};

// Makes the map a request asks for into `into` (its picture's storage is reused), with the
// recipe naming `maker` ("orvandel-batch 2.0.0") as the program that made it.
void makeMap(MadeMap& into, const MapRequest& request, const std::string& maker, const RunHooks& hooks = {});

}  // namespace orv
