#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "io/PngText.hpp"
#include "map/GenerateMap.hpp"
#include "settings/Settings.hpp"

namespace orv {

// What makes a batch map again, carried by every batch PNG in text chunks:
//   Software              orvandel-batch VERSION
//   Orvandel seed         the seed the random source was seeded with (signed 32-bit)
//   Orvandel seed source  given, clock (the seed is the clock's), or none (random1 is not 1)
//   Orvandel generations  the generations drawn
//   Orvandel size         WIDTHxHEIGHT
//   Orvandel settings     every setting as the run began (before the randratio draw), one
//                         key=value a line, as a settings file holds them
struct Recipe {
    std::string program;  // "orvandel-batch 1.0.0", or "liborvandel 1.1.0" for a map the library wrote
    enum class SeedSource { given, clock, none } seedSource = SeedSource::given;
    std::int32_t seed = 0;
    std::int64_t generations = 0;
    Settings settings;  // xsize and ysize are the size
};

// The recipe of a map made from `begun` (the settings as the run began), as its result says
// it was seeded.
Recipe recipeOf(const std::string& program, const Settings& begun, const MapResult& result);

// The major version of Orvandel that made a recipe ("orvandel-batch 1.2.3" or "liborvandel
// 1.2.3": 1); nothing for any other maker.
std::optional<int> majorVersion(const std::string& program);

// The recipe's text chunks, keyword and text, in the order above.
TextChunks recipeTexts(const Recipe& recipe);

// The recipe in a PNG's text chunks. Nothing, with error set to one line, when there is none
// or it is incomplete.
std::optional<Recipe> recipeFromTexts(const TextChunks& texts, std::string& error);

}  // namespace orv
