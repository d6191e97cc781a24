#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

// What one call of orvandel-batch asks for.
struct BatchOptions {
    std::optional<std::filesystem::path> settingsFile;
    std::vector<std::string> sets;  // --set KEY=VALUE items, in order
    bool seedGiven = false;
    bool seedFromClock = false;
    std::int32_t firstSeed = 0;  // the seeds firstSeed .. lastSeed, one map each
    std::int32_t lastSeed = 0;
    std::optional<std::int32_t> width, height;  // --size
    std::optional<std::int64_t> generations;    // --generations (100 when not given)
    bool untilSettled = false;
    std::optional<std::string> pngPattern;      // --out, may hold {seed}
    std::optional<std::string> statsPattern;    // --stats, may hold {seed}
    std::optional<std::string> gridPattern;     // --grid, may hold {seed}
    std::optional<std::filesystem::path> from;  // --from: the recipe of a map made before
    std::optional<std::string> manifest;        // --manifest: a line appended for every map written
    int shardIndex = 1, shardCount = 1;         // --shard K/N: the seeds whose place in the range, mod N, is K - 1
    int jobs = 0;                               // --jobs: maps made side by side (0: one per processor)
    // Every output flushed to the disk on its own before the next is written (as before batched
    // flushes); not on the command line, for measuring the two side by side.
    bool flushEachFile = false;
    enum class Progress { Auto, Always, Never } progress = Progress::Auto;
    bool help = false;
    bool version = false;

    std::int64_t generationCount() const { return generations.value_or(100); }
};

// The most maps made side by side (--jobs).
inline constexpr int kMaxBatchJobs = 64;

// One option of the command line. The table of them drives the parser, the --help text and
// the check that the README lists the same options.
struct BatchOption {
    std::string_view name;    // "--seed"
    std::string_view alias;   // another name for the same option ("" for none)
    std::string_view value;   // what follows it, for the help ("" for a switch)
    std::string_view help;    // one line
    bool repeatable = false;  // may come more than once (--set)
    std::string_view group;   // options of one group exclude each other ("" for the name's own)
    // Stores the value (or notes the switch); false with error set on a bad value.
    bool (*apply)(BatchOptions& options, std::string_view value, std::string& error);
};
std::span<const BatchOption> batchOptionTable();

// Parses the command line; on a mistake returns nothing and sets error to one line saying what.
std::optional<BatchOptions> parseBatchArguments(const std::vector<std::string>& args, std::string& error);

// The text --help prints.
std::string batchUsage();

// The file name for one seed: {seed} replaced by the seed; without {seed} and with several
// seeds, "-SEED" goes before the last dot of the file name ("map.png", seed 7: "map-7.png";
// ".png": "-7.png"), or at its end when the file name has no dot. "-" stays "-".
std::string outputName(const std::string& pattern, std::int32_t seed, bool severalSeeds);

}  // namespace orv
