#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "settings/Settings.hpp"

namespace orv {

// What one call of orvandel-batch asks for.
struct BatchOptions {
    std::optional<std::filesystem::path> settingsFile;
    bool seedFromClock = false;
    std::int32_t firstSeed = 0;  // the seeds firstSeed .. lastSeed, one map each
    std::int32_t lastSeed = 0;
    std::optional<std::int32_t> width, height;  // --size
    std::int64_t generations = 100;
    bool untilStable = false;
    std::optional<std::string> pngPattern;   // --out, may hold {seed}
    std::optional<std::string> statsPattern; // --stats, may hold {seed}
    enum class Progress { Auto, Always, Never } progress = Progress::Auto;
    bool help = false;
    bool version = false;
};

// Parses the command line; on a mistake returns nothing and sets error to one line saying what.
std::optional<BatchOptions> parseBatchArguments(const std::vector<std::string>& args, std::string& error);

// The file name for one seed: {seed} replaced by the seed; without {seed} and with several
// seeds, "-SEED" goes before the extension (map.png, seed 7: map-7.png).
std::string outputName(const std::string& pattern, std::int32_t seed, bool severalSeeds);

// The outcome of one map.
struct BatchResult {
    std::int32_t seed = 0;       // the seed value the source was seeded with (0: never seeded)
    bool seedUsed = true;        // false when the settings turn the seed entry off (random1 not 1)
    bool seedFromClock = false;  // seed holds the whole seconds the clock gave
    Settings settings;           // as the run used them, after clamping and the randratio draw
    std::int64_t committedGenerations = 0;
    std::int64_t cycles = 0;     // generations computed, the last, uncommitted one included
    bool stable = false;         // the last generation computed changed no cell
    std::int64_t unchangedCount = 0, waterCount = 0, landCount = 0;
};

// The statistics of one map as a JSON document.
std::string statsJson(const BatchResult& result);

// Runs a whole call: every seed, its outputs, messages on err. Returns the exit status.
// clock is what a clock seed reads.
int runBatch(const BatchOptions& options, std::ostream& out, std::ostream& err, const std::function<double()>& clock,
             bool stderrIsTerminal);

}  // namespace orv
