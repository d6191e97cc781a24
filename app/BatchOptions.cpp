#include "app/BatchOptions.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <set>

#include "settings/NumberText.hpp"
#include "settings/Seeding.hpp"
#include "settings/Settings.hpp"
#include "settings/SettingsFile.hpp"

namespace orv {
namespace {

bool fail(std::string& error, std::string text) {
    error = std::move(text);
    return false;
}

bool applySeed(BatchOptions& o, std::string_view text, std::string& error) {
    o.seedGiven = true;
    const std::optional<SeedArgument> seeds = parseSeedArgument(text, error);
    if (!seeds) return false;
    o.seedFromClock = seeds->fromClock;
    o.firstSeed = seeds->first;
    o.lastSeed = seeds->last;
    return true;
}

bool applySize(BatchOptions& o, std::string_view v, std::string& error) {
    const std::size_t x = v.find_first_of("xX");
    std::int64_t w = 0, h = 0;
    if (x == std::string_view::npos || !isWholeNumber(v.substr(0, x)) || !isWholeNumber(v.substr(x + 1)) ||
        !readInt64(v.substr(0, x), w) || !readInt64(v.substr(x + 1), h) || w < 1 || h < 1 || w > kMaxMapSide ||
        h > kMaxMapSide)
        return fail(error, "--size " + std::string(v) + ": " + mapSizeRule());
    o.width = static_cast<std::int32_t>(w);
    o.height = static_cast<std::int32_t>(h);
    return true;
}

bool applyGenerations(BatchOptions& o, std::string_view v, std::string& error) {
    std::int64_t n = 0;
    if (!isWholeNumber(v) || !readInt64(v, n) || n < 0)
        return fail(error, "--generations " + std::string(v) + ": expected a whole number of 0 or more");
    o.generations = n;
    return true;
}

bool applySet(BatchOptions& o, std::string_view v, std::string& error) {
    if (const std::optional<std::string> problem = strictSettingsProblem(v)) return fail(error, "--set " + *problem);
    o.sets.emplace_back(v);
    return true;
}

bool applyShard(BatchOptions& o, std::string_view v, std::string& error) {
    const std::size_t slash = v.find('/');
    std::int64_t k = 0, n = 0;
    if (slash == std::string_view::npos || !isWholeNumber(v.substr(0, slash)) || !isWholeNumber(v.substr(slash + 1)) ||
        v[0] == '-' || v[slash + 1] == '-' || !readInt64(v.substr(0, slash), k) || !readInt64(v.substr(slash + 1), n) ||
        n < 1 || n > kMaxSeedRange || k < 1 || k > n)
        return fail(error, "--shard " + std::string(v) + ": expected K/N, the K-th of N parts (1 <= K <= N, N up to " +
                               std::to_string(kMaxSeedRange) + ")");
    o.shardIndex = static_cast<int>(k);
    o.shardCount = static_cast<int>(n);
    return true;
}

bool applyJobs(BatchOptions& o, std::string_view v, std::string& error) {
    std::int64_t n = 0;
    if (!isWholeNumber(v) || v[0] == '-' || !readInt64(v, n) || n < 0 || n > kMaxBatchJobs)
        return fail(error, "--jobs " + std::string(v) + ": expected a whole number from 1 to " +
                               std::to_string(kMaxBatchJobs) + " (0: one per processor)");
    o.jobs = static_cast<int>(n);
    return true;
}

// The options before the outputs, and after them.
const std::array<BatchOption, 7> kInputOptions{{
    {"--seed", "", "N|A-B|clock",
     "the seed: one number as the seed prompt reads it, nothing after it\n"
     "(42, 2.5, 1e3, &hFF); 0 or 'clock' takes one from the clock and prints\n"
     "it; -1 is refused. A-B: every seed from A to B (whole numbers, 0 and -1\n"
     "outside), one map each; output names get the seed where they say\n"
     "{seed}, or -SEED before the last dot",
     false, "", applySeed},
    {"--from", "", "MAP.png",
     "make a map again from the recipe a batch PNG carries (seed,\nsettings, size, generations); "
     "a world made by 1.x is refused",
     false, "",
     [](BatchOptions& o, std::string_view v, std::string& error) {
         if (v.empty()) return fail(error, "--from: the file name is empty");
         o.from = std::filesystem::path(v);
         return true;
     }},
    {"--settings", "", "FILE.ini", "a settings file, read as the window program reads it", false, "",
     [](BatchOptions& o, std::string_view v, std::string& error) {
         if (v.empty()) return fail(error, "--settings: the file name is empty");
         o.settingsFile = std::filesystem::path(v);
         return true;
     }},
    {"--set", "", "KEY=VALUE",
     "settings as a line of a settings file (KEY=VALUE, more items\nbetween commas), after --settings; every key known "
     "and every\nvalue a number (repeatable)",
     true, "", applySet},
    {"--size", "", "WxH", "the map size, overriding xsize and ysize (1 .. 65536 each)", false, "", applySize},
    {"--generations", "", "N", "how many generations are drawn (default 100; the cap with\n--until-settled)", false, "",
     applyGenerations},
    {"--until-settled", "--until-stable", "",
     "stop at the first generation from which the picture no longer changes\n(--until-stable is another name for it)",
     false, "",
     [](BatchOptions& o, std::string_view, std::string&) {
         o.untilSettled = true;
         return true;
     }},
}};
const std::array<BatchOption, 7> kRunOptions{{
    {"--manifest", "", "FILE.jsonl",
     "append one JSON line for every map written (seed, files,\nstatistics), once its files are on the disk ('-': "
     "standard\noutput)",
     false, "",
     [](BatchOptions& o, std::string_view v, std::string& e) {
         if (v.empty()) return fail(e, "--manifest: the file name is empty");
         o.manifest = std::string(v);
         return true;
     }},
    {"--shard", "", "K/N",
     "make only the K-th of N parts of the seed range: the seeds whose\nplace in it (0 for the first), divided by N, "
     "leaves K - 1",
     false, "", applyShard},
    {"--jobs", "", "N",
     "maps made side by side, each on its own processor (default 0:\none per processor); maps of 524288 cells and "
     "more are made\none at a time, the engine sharing each among its threads",
     false, "", applyJobs},
    {"--progress", "", "", "always show a progress bar on stderr (by default: on a terminal,\nfor large work)", false,
     "progress",
     [](BatchOptions& o, std::string_view, std::string&) {
         o.progress = BatchOptions::Progress::Always;
         return true;
     }},
    {"--quiet", "", "", "never show one", false, "progress",
     [](BatchOptions& o, std::string_view, std::string&) {
         o.progress = BatchOptions::Progress::Never;
         return true;
     }},
    {"--help", "-h", "", "this text", false, "",
     [](BatchOptions& o, std::string_view, std::string&) {
         o.help = true;
         return true;
     }},
    {"--version", "", "", "the program's version", false, "",
     [](BatchOptions& o, std::string_view, std::string&) {
         o.version = true;
         return true;
     }},
}};

// The whole table: the options of the run, one for each output of the outputs table, then the
// options of how the run goes. Made once: it is constant.
std::vector<BatchOption> makeOptionTable() {
    std::vector<BatchOption> table(kInputOptions.begin(), kInputOptions.end());
    for (const MapOutput& output : mapOutputs()) {
        BatchOption option;
        option.name = output.option;
        option.value = output.value;
        option.help = output.help;
        option.output = &output;
        table.push_back(option);
    }
    table.insert(table.end(), kRunOptions.begin(), kRunOptions.end());
    return table;
}

const std::vector<BatchOption>& optionTable() {
    static const std::vector<BatchOption> table = makeOptionTable();
    return table;
}

const BatchOption* findOption(std::string_view name) {
    for (const BatchOption& option : optionTable())
        if (option.name == name || (!option.alias.empty() && option.alias == name)) return &option;
    return nullptr;
}

}  // namespace

std::span<const BatchOption> batchOptionTable() {
    return optionTable();
}

const std::string* BatchOptions::pattern(std::string_view outputName) const {
    for (const Output& o : outputs)
        if (o.output->name == outputName) return &o.pattern;
    return nullptr;
}

std::optional<BatchOptions> parseBatchArguments(const std::vector<std::string>& args, std::string& error) {
    BatchOptions o;
    std::vector<std::pair<std::string_view, std::string>> given;  // group, the name it was given as
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const std::size_t eq = arg.starts_with("--") ? arg.find('=') : std::string::npos;
        const std::string name = arg.substr(0, eq);
        const BatchOption* option = findOption(name);
        if (option == nullptr) {
            fail(error,
                 arg.starts_with("-") && arg != "-" ? "unknown option " + name : "unexpected argument '" + arg + "'");
            return std::nullopt;
        }
        const std::string_view group = option->group.empty() ? option->name : option->group;
        const auto earlier = std::find_if(given.begin(), given.end(), [&](const auto& g) { return g.first == group; });
        if (earlier != given.end() && !option->repeatable) {
            fail(error,
                 earlier->second == name ? name + " is given twice" : name + " cannot go with " + earlier->second);
            return std::nullopt;
        }
        given.emplace_back(group, name);
        std::string value;
        if (option->value.empty()) {
            if (eq != std::string::npos) {
                fail(error, name + " takes no value (" + arg + ")");
                return std::nullopt;
            }
        } else if (eq != std::string::npos) {
            value = arg.substr(eq + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            fail(error, name + " needs a value (" + std::string(option->value) + ")");
            return std::nullopt;
        }
        if (option->output != nullptr) {
            if (value.empty()) {
                fail(error, name + ": the file name is empty");
                return std::nullopt;
            }
            // Kept in the table's order, whatever the command line's.
            const auto at = std::find_if(o.outputs.begin(), o.outputs.end(),
                                         [&](const BatchOptions::Output& x) { return x.output > option->output; });
            o.outputs.insert(at, {option->output, value});
        } else if (!option->apply(o, value, error)) {
            return std::nullopt;
        }
    }
    if (o.help || o.version) return o;

    const bool recipeGiven =
        o.seedGiven || o.settingsFile || !o.sets.empty() || o.width || o.generations || o.untilSettled;
    if (o.from && recipeGiven) {
        fail(error, "--from takes the seed, settings, size and generations from the map: give none of them with it");
        return std::nullopt;
    }
    if (!o.from && !o.seedGiven) {
        fail(error, "--seed is required (a number, a range A-B, or 'clock'), or --from MAP.png");
        return std::nullopt;
    }
    if (o.outputs.empty()) {
        std::string outputs;
        for (const MapOutput& output : mapOutputs())
            outputs.append(outputs.empty() ? "" : ", ").append(output.option).append(" ").append(output.value);
        fail(error, "nothing to write: give one or more of " + outputs);
        return std::nullopt;
    }
    if (o.shardCount > 1 && (o.from || o.seedFromClock)) {
        fail(error, "--shard parts a seed range: give --seed A-B (not a clock seed or --from)");
        return std::nullopt;
    }
    const auto toStandardOutput = std::count_if(o.outputs.begin(), o.outputs.end(),
                                                [](const BatchOptions::Output& x) { return x.pattern == "-"; });
    if (toStandardOutput + (o.manifest == "-") > 1) {
        fail(error, "only one output can go to standard output (-)");
        return std::nullopt;
    }
    if (toStandardOutput == 1 && o.firstSeed != o.lastSeed) {
        fail(error, "standard output (-) takes the outputs of one map: give file names for a range of seeds");
        return std::nullopt;
    }
    return o;
}

namespace {

// Text wrapped into lines of at most width characters, each after `indent` blanks (the first
// after `first` instead, which already stands on the line): the help's words, whatever its own
// line breaks.
std::string wrapped(std::string_view text, std::size_t width, std::size_t indent, const std::string& first = "") {
    std::string out, line = first;
    line.resize(std::max(indent, first.size()), ' ');
    bool empty = true;
    for (std::size_t at = 0; at < text.size();) {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\n')) ++at;
        std::size_t end = at;
        while (end < text.size() && text[end] != ' ' && text[end] != '\n') ++end;
        if (end == at) break;
        const std::string_view word = text.substr(at, end - at);
        if (!empty && line.size() + 1 + word.size() > width) {
            out.append(line).append("\n");
            line.assign(indent, ' ');
            empty = true;
        }
        line.append(empty ? "" : " ").append(word);
        empty = false;
        at = end;
    }
    return out.append(line).append("\n");
}

}  // namespace

std::string batchUsage() {
    constexpr std::size_t kWidth = 80, kHelpColumn = 24;
    std::string outputOptions;
    for (const MapOutput& output : mapOutputs())
        outputOptions.append(outputOptions.empty() ? "" : ", ").append(output.option);
    std::string text =
        "usage: orvandel-batch --seed N|A-B|clock [OPTION...] OUTPUT...\n"
        "       orvandel-batch --from MAP.png OUTPUT...\n" +
        wrapped("one or more of " + outputOptions, kWidth, 8, "OUTPUT:") + "\n" +
        wrapped(
            "Generates maps without a window: the same settings and seed give the same map as the window "
            "program stopped after the same number of generations.",
            kWidth, 0) +
        "\n";
    for (const BatchOption& option : optionTable()) {
        std::string head = "  " + std::string(option.name);
        if (!option.alias.empty()) head.append(", ").append(option.alias);
        if (!option.value.empty()) head.append(" ").append(option.value);
        if (head.size() + 1 >= kHelpColumn) {
            text += head + "\n";
            head.clear();
        }
        text += wrapped(option.help, kWidth, kHelpColumn, head);
    }
    for (const char* paragraph :
         {"Outputs: a regular file (or none) is replaced only by a whole new one, keeping its permission bits; a "
          "symbolic link's target is replaced and the link kept; a device, FIFO or socket is written directly; a "
          "directory, or a path whose directory is missing, is refused. Two files of the run that would meet "
          "(outputs, the manifest, the --from PNG, the settings file; also through links) are refused before any "
          "work.",
          "Files are flushed to the disk in batches, then renamed into place, a map's files together, and listed in "
          "the manifest; a run that ends with status 0 has every output on the disk.",
          "Exit status: 0 every output written; 1 a file could not be read or written, or memory ran out (the "
          "message says which and why, nothing partial is left); 2 a mistake on the command line (nothing is "
          "done); 128 + N ended by signal N (INT, TERM, HUP: temporary files removed, the files already renamed "
          "into place are whole)."})
        text.append("\n").append(wrapped(paragraph, kWidth, 0));
    return text;
}

std::string outputName(const std::string& pattern, std::int32_t seed, bool severalSeeds) {
    const std::string seedText = std::to_string(seed);
    std::string name = pattern;
    bool replaced = false;
    for (std::size_t at = name.find("{seed}"); at != std::string::npos;
         at = name.find("{seed}", at + seedText.size())) {
        name.replace(at, 6, seedText);
        replaced = true;
    }
    if (replaced || !severalSeeds || name == "-") return name;
    const std::size_t slash = name.find_last_of('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = name.find_last_of('.');
    const std::size_t insertAt = dot != std::string::npos && dot >= nameStart ? dot : name.size();
    name.insert(insertAt, "-" + seedText);
    return name;
}

}  // namespace orv
