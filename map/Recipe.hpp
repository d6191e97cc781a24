#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
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
    // "orvandel-batch 1.0.0", "liborvandel 1.1.0" for a map the library wrote, "orvandel-web 1.1.0"
    // for one the page made
    std::string program;
    enum class SeedSource { given, clock, none } seedSource = SeedSource::given;
    std::int32_t seed = 0;
    std::int64_t generations = 0;
    Settings settings;  // xsize and ysize are the size
};

// The recipe of a map made from `begun` (the settings as the run began), as its result says
// it was seeded.
Recipe recipeOf(const std::string& program, const Settings& begun, const MapResult& result);

// The major version of Orvandel that made a recipe ("orvandel-batch 1.2.3", "liborvandel 1.2.3"
// or "orvandel-web 1.2.3": 1); nothing for any other maker.
std::optional<int> majorVersion(const std::string& program);

// The recipe's text chunks, keyword and text, in the order above.
TextChunks recipeTexts(const Recipe& recipe);

// Whether a text chunk's keyword is one a recipe is read from (the others need not be read).
bool recipeKeyword(std::string_view keyword);

// The recipe in a PNG's text chunks. Nothing, with error set to one line, when there is none or
// it is damaged: a part missing or given twice, a value no Orvandel program writes (a size
// beyond 1 .. 65536, a setting out of its key's range, fewer than 0 generations), or a setting
// this version does not know. A recipe made by another major version may name settings this one
// lacks: they are left out, and warnings says so.
std::optional<Recipe> recipeFromTexts(const TextChunks& texts, std::string& error,
                                      std::vector<std::string>* warnings = nullptr);

}  // namespace orv
