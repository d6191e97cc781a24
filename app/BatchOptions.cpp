#include "app/BatchOptions.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <set>

#include "settings/SeedNumber.hpp"
#include "settings/Settings.hpp"
#include "settings/SettingsFile.hpp"

namespace orv {
namespace {

bool parseInt64(std::string_view text, std::int64_t& value) {
    if (text.starts_with('+')) text.remove_prefix(1);
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc{} && end == text.data() + text.size() && !text.empty();
}

bool isWholeNumber(std::string_view text) {
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) text.remove_prefix(1);
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool fail(std::string& error, std::string text) {
    error = std::move(text);
    return false;
}

// "A-B": two whole numbers, each with an optional sign. Only called when the text has that shape.
bool parseSeedRange(BatchOptions& o, std::string_view text, std::size_t dash, std::string& error) {
    const std::string_view a = text.substr(0, dash), b = text.substr(dash + 1);
    const std::string what = "--seed " + std::string(text) + ": ";
    std::int64_t first = 0, last = 0;
    for (const auto& [part, value] : {std::pair{a, &first}, std::pair{b, &last}}) {
        if (!parseInt64(part, *value) || *value < INT32_MIN || *value > INT32_MAX)
            return fail(error, what + std::string(part) + " is beyond the seeds, -2147483648 .. 2147483647");
    }
    if (first > last) return fail(error, what + "the first seed is above the last");
    if (first <= 0 && last >= -1)
        return fail(error, what +
                               "a range cannot hold 0 or -1, which would take the seed from the clock "
                               "(--seed clock takes one and prints it)");
    if (last - first + 1 > kMaxBatchSeeds)
        return fail(error, what + "at most " + std::to_string(kMaxBatchSeeds) + " seeds in one call");
    o.firstSeed = static_cast<std::int32_t>(first);
    o.lastSeed = static_cast<std::int32_t>(last);
    return true;
}

bool applySeed(BatchOptions& o, std::string_view text, std::string& error) {
    o.seedGiven = true;
    if (text == "clock") {
        o.seedFromClock = true;
        return true;
    }
    // A range when the text is a whole number, a dash and more.
    std::size_t i = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    if (i > 0 && i < text.size() && text[i] == '-' && isWholeNumber(text.substr(0, i))) {
        if (!isWholeNumber(text.substr(i + 1)))
            return fail(error, "--seed " + std::string(text) + ": a range is two whole numbers, such as 1-100");
        return parseSeedRange(o, text, i, error);
    }
    const std::optional<double> number = exactSeedNumber(text);
    if (!number)
        return fail(error, "--seed " + std::string(text) +
                               ": expected a number (such as 42, 2.5, 1e3 or &hFF, nothing after it), "
                               "a range A-B, or 'clock'");
    if (!(*number >= -2147483648.5 && *number < 2147483647.5))
        return fail(error, "--seed " + std::string(text) + ": beyond the seeds, -2147483648 .. 2147483647");
    const std::int32_t seed = roundToSeed(*number);
    if (seed == -1)
        return fail(error, "--seed " + std::string(text) +
                               ": -1 takes the seed from the clock's bit pattern, which can never be given again; "
                               "--seed clock takes a seed from the clock and prints it");
    o.seedFromClock = seed == 0;  // as at the seed prompt
    o.firstSeed = o.lastSeed = seed;
    return true;
}

bool applySize(BatchOptions& o, std::string_view v, std::string& error) {
    const std::size_t x = v.find_first_of("xX");
    std::int64_t w = 0, h = 0;
    if (x == std::string_view::npos || !isWholeNumber(v.substr(0, x)) || !isWholeNumber(v.substr(x + 1)) ||
        !parseInt64(v.substr(0, x), w) || !parseInt64(v.substr(x + 1), h) || w < 1 || h < 1 || w > kMaxMapSide ||
        h > kMaxMapSide)
        return fail(error, "--size " + std::string(v) + ": expected WIDTHxHEIGHT, each from 1 to " +
                               std::to_string(kMaxMapSide));
    o.width = static_cast<std::int32_t>(w);
    o.height = static_cast<std::int32_t>(h);
    return true;
}

bool applyGenerations(BatchOptions& o, std::string_view v, std::string& error) {
    std::int64_t n = 0;
    if (!isWholeNumber(v) || !parseInt64(v, n) || n < 0)
        return fail(error, "--generations " + std::string(v) + ": expected a whole number of 0 or more");
    o.generations = n;
    return true;
}

bool applySet(BatchOptions& o, std::string_view v, std::string& error) {
    if (v.find('=') == std::string_view::npos)
        return fail(error, "--set " + std::string(v) + ": expected KEY=VALUE, such as landcolor=12");
    if (findSettingsKey(v) == nullptr) {
        std::string keys;
        for (const SettingsKey& k : kSettingsKeys) keys += (keys.empty() ? "" : ", ") + std::string(k.name);
        return fail(error, "--set " + std::string(v) + ": no such setting (the keys: " + keys + ")");
    }
    o.sets.emplace_back(v);
    return true;
}

// An output file name: never empty.
bool output(std::optional<std::string>& field, std::string_view option, std::string_view v, std::string& error) {
    if (v.empty()) return fail(error, std::string(option) + ": the file name is empty");
    field = std::string(v);
    return true;
}

bool applyShard(BatchOptions& o, std::string_view v, std::string& error) {
    const std::size_t slash = v.find('/');
    std::int64_t k = 0, n = 0;
    if (slash == std::string_view::npos || !isWholeNumber(v.substr(0, slash)) || !isWholeNumber(v.substr(slash + 1)) ||
        v[0] == '-' || v[slash + 1] == '-' || !parseInt64(v.substr(0, slash), k) ||
        !parseInt64(v.substr(slash + 1), n) || n < 1 || n > kMaxBatchSeeds || k < 1 || k > n)
        return fail(error, "--shard " + std::string(v) + ": expected K/N, the K-th of N parts (1 <= K <= N, N up to " +
                               std::to_string(kMaxBatchSeeds) + ")");
    o.shardIndex = static_cast<int>(k);
    o.shardCount = static_cast<int>(n);
    return true;
}

bool applyJobs(BatchOptions& o, std::string_view v, std::string& error) {
    std::int64_t n = 0;
    if (!isWholeNumber(v) || v[0] == '-' || !parseInt64(v, n) || n < 0 || n > kMaxBatchJobs)
        return fail(error, "--jobs " + std::string(v) + ": expected a whole number from 1 to " +
                               std::to_string(kMaxBatchJobs) + " (0: one per processor)");
    o.jobs = static_cast<int>(n);
    return true;
}

const std::array<BatchOption, 17> kOptions{{
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
    {"--set", "", "KEY=VALUE", "one setting, read as a settings file reads it, after --settings\n(repeatable)", true,
     "", applySet},
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
    {"--out", "", "FILE.png", "the map as the window shows it, its recipe in text chunks\n('-': standard output)",
     false, "",
     [](BatchOptions& o, std::string_view v, std::string& e) { return output(o.pngPattern, "--out", v, e); }},
    {"--stats", "", "FILE.json",
     "seed, size, settings, generations, settling, the three colour\nclasses ('-': standard output)", false, "",
     [](BatchOptions& o, std::string_view v, std::string& e) { return output(o.statsPattern, "--stats", v, e); }},
    {"--grid", "", "FILE.npy",
     "the cells' classes as a NumPy array: uint8, height x width,\n0 water, 1 land, 2 unchanged ('-': standard output)",
     false, "",
     [](BatchOptions& o, std::string_view v, std::string& e) { return output(o.gridPattern, "--grid", v, e); }},
    {"--manifest", "", "FILE.jsonl",
     "append one JSON line for every map written (seed, files,\nstatistics), once its files are on the disk ('-': "
     "standard\noutput)",
     false, "",
     [](BatchOptions& o, std::string_view v, std::string& e) { return output(o.manifest, "--manifest", v, e); }},
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

const BatchOption* findOption(std::string_view name) {
    for (const BatchOption& option : kOptions)
        if (option.name == name || (!option.alias.empty() && option.alias == name)) return &option;
    return nullptr;
}

}  // namespace

std::span<const BatchOption> batchOptionTable() {
    return kOptions;
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
        if (!option->apply(o, value, error)) return std::nullopt;
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
    if (!o.pngPattern && !o.statsPattern && !o.gridPattern) {
        fail(error, "nothing to write: give --out FILE.png, --stats FILE.json and/or --grid FILE.npy");
        return std::nullopt;
    }
    if (o.shardCount > 1 && (o.from || o.seedFromClock)) {
        fail(error, "--shard parts a seed range: give --seed A-B (not a clock seed or --from)");
        return std::nullopt;
    }
    int toStandardOutput = 0;
    for (const auto* pattern : {&o.pngPattern, &o.statsPattern, &o.gridPattern}) toStandardOutput += *pattern == "-";
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

std::string batchUsage() {
    std::string text =
        "usage: orvandel-batch --seed N|A-B|clock [OPTION...] OUTPUT...   (--out, --stats, --grid)\n"
        "       orvandel-batch --from MAP.png [--out FILE.png] [--stats FILE.json] [--grid FILE.npy]\n"
        "\n"
        "Generates maps without a window: the same settings and seed give the same map as the window\n"
        "program stopped after the same number of generations.\n"
        "\n";
    constexpr std::size_t kHelpColumn = 24;
    for (const BatchOption& option : kOptions) {
        std::string head = "  " + std::string(option.name);
        if (!option.alias.empty()) head.append(", ").append(option.alias);
        if (!option.value.empty()) head.append(" ").append(option.value);
        if (head.size() + 1 >= kHelpColumn) {
            text += head + "\n";
            head.clear();
        }
        std::string_view help = option.help;
        for (bool first = true; !help.empty() || first; first = false) {
            const std::size_t end = help.find('\n');
            const std::string_view line = help.substr(0, end);
            text += (first ? head : std::string()) + std::string(kHelpColumn - (first ? head.size() : 0), ' ');
            text.append(line).append("\n");
            help = end == std::string_view::npos ? std::string_view() : help.substr(end + 1);
        }
    }
    text +=
        "\n"
        "Outputs: a regular file (or none) is replaced only by a whole new one, keeping its permission\n"
        "bits; a symbolic link's target is replaced and the link kept; a device, FIFO or socket is\n"
        "written directly; a directory, or a path whose directory is missing, is refused. Two outputs\n"
        "that name one file are refused before any work.\n"
        "\n"
        "Files are flushed to the disk in batches, then renamed into place and listed in the manifest;\n"
        "a run that ends with status 0 has every output on the disk.\n"
        "\n"
        "Exit status: 0 every output written; 1 a file could not be read or written, or memory ran out\n"
        "(the message says which and why, nothing partial is left); 2 a mistake on the command line\n"
        "(nothing is done); 128 + N ended by signal N (INT, TERM, HUP: temporary files removed, the\n"
        "files already renamed into place are whole).\n";
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
