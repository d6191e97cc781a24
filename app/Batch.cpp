#include "app/Batch.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <new>
#include <stdexcept>

#include "export/MapFiles.hpp"
#include "export/PngText.hpp"
#include "export/Recipe.hpp"
#include "export/SafeWrite.hpp"
#include "export/StatsJson.hpp"
#include "settings/Palette.hpp"
#include "settings/SettingsFile.hpp"

namespace orv {
namespace {

constexpr const char* kProgram = "orvandel-batch";

// A progress bar on stderr, redrawn at most ten times a second.
class ProgressBar {
public:
    ProgressBar(std::ostream& err, bool enabled, double totalWork) : err_(err), enabled_(enabled), total_(totalWork) {}
    ~ProgressBar() { finish(); }

    void advance(double work, const std::string& label) {
        done_ += work;
        if (!enabled_) return;
        const auto now = std::chrono::steady_clock::now();
        if (shown_ && now - last_ < std::chrono::milliseconds(100)) return;
        last_ = now;
        shown_ = true;
        const double fraction = total_ > 0 ? std::min(done_ / total_, 1.0) : 1.0;
        const int filled = static_cast<int>(fraction * 30);
        err_ << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
             << std::string(static_cast<std::size_t>(30 - filled), '.') << "] " << static_cast<int>(fraction * 100)
             << "% " << label << "\x1b[K" << std::flush;
    }
    void finish() {
        if (enabled_ && shown_) err_ << "\r\x1b[K" << std::flush;
        shown_ = false;
    }

private:
    std::ostream& err_;
    bool enabled_;
    double total_;
    double done_ = 0;
    bool shown_ = false;
    std::chrono::steady_clock::time_point last_{};
};

// What tells whether two output names are one file: the file itself when it exists, its
// absolute name with "." and ".." worked out otherwise.
std::string fileKey(const std::string& name) {
    if (name == "-") return name;
    struct stat info {};
    if (::stat(name.c_str(), &info) == 0)
        return std::string("#").append(std::to_string(info.st_dev)).append(":").append(std::to_string(info.st_ino));
    std::error_code ignored;
    return std::filesystem::absolute(name, ignored).lexically_normal().string();
}

struct Output {
    const char* option;
    std::string pattern;
};

// Finds two outputs of the run that would write one file. Every name is looked at once; the
// names themselves are not kept (a million seeds have millions of them), only their hashes,
// and names whose hashes meet are compared in full.
std::optional<std::string> collidingOutputs(const std::vector<Output>& outputs, const std::vector<std::int32_t>& seeds,
                                            bool several) {
    struct Named {
        std::size_t hash;
        std::uint32_t seedIndex;
        std::uint8_t output;
    };
    std::vector<Named> named;
    named.reserve(seeds.size() * outputs.size());
    for (std::size_t s = 0; s < seeds.size(); ++s)
        for (std::size_t o = 0; o < outputs.size(); ++o)
            named.push_back({std::hash<std::string>{}(fileKey(outputName(outputs[o].pattern, seeds[s], several))),
                             static_cast<std::uint32_t>(s), static_cast<std::uint8_t>(o)});
    std::sort(named.begin(), named.end(), [](const Named& a, const Named& b) { return a.hash < b.hash; });
    auto name = [&](const Named& n) { return outputName(outputs[n.output].pattern, seeds[n.seedIndex], several); };
    for (std::size_t i = 0; i < named.size(); ++i) {
        for (std::size_t j = i + 1; j < named.size() && named[j].hash == named[i].hash; ++j) {
            if (fileKey(name(named[i])) != fileKey(name(named[j]))) continue;
            auto describe = [&](const Named& n) {
                std::string text = std::string(outputs[n.output].option) + " " + name(n);
                if (several) text += " (seed " + std::to_string(seeds[n.seedIndex]) + ")";
                return text;
            };
            return describe(named[i]) + " and " + describe(named[j]) + " name the same file";
        }
    }
    return std::nullopt;
}

// The settings, generations and seeds of the run, from the options or from a map's recipe.
struct Plan {
    Settings settings;  // as the run begins: clamped, before the randratio draw
    std::int64_t generations = 0;
    bool untilSettled = false;
    std::vector<std::int32_t> seeds;
    bool fromClock = false;                          // the one seed comes from the clock (its value is already read)
    std::optional<Recipe::SeedSource> recipeSource;  // --from: the seed source of the map made before
};

int planFromRecipe(const BatchOptions& o, Plan& plan, std::ostream& err) {
    TextChunks texts;
    const std::string file = o.from->string();
    if (const std::error_code why = readPngTexts(*o.from, texts)) {
        err << kProgram << ": cannot read " << file << ": " << why.message() << "\n";
        return 1;
    }
    std::string error;
    const std::optional<Recipe> recipe = recipeFromTexts(texts, error);
    if (!recipe) {
        err << kProgram << ": cannot make " << file << " again: " << error << "\n";
        return 1;
    }
    const std::optional<int> made = majorVersion(recipe->program),
                             ours = majorVersion(std::string(kProgram) + " " + ORVANDEL_VERSION);
    if (made != ours)
        err << kProgram << ": " << file << " was made by "
            << (recipe->program.empty() ? "an unknown program" : recipe->program) << "; this is " << ORVANDEL_VERSION
            << ", whose maps may differ\n";
    plan.settings = recipe->settings;
    plan.generations = recipe->generations;
    plan.seeds = {recipe->seed};
    plan.recipeSource = recipe->seedSource;
    return 0;
}

int planFromOptions(const BatchOptions& o, Plan& plan, std::ostream& err, const std::function<double()>& clock,
                    double& clockReading) {
    Settings& s = plan.settings;
    applyPresets(s);
    if (o.settingsFile) {
        std::string text;
        if (const std::error_code why = readSettingsFile(*o.settingsFile, text)) {
            err << kProgram << ": cannot read the settings file " << o.settingsFile->string() << ": " << why.message()
                << "\n";
            return 1;
        }
        applySettingsText(s, text);
    }
    for (const std::string& item : o.sets) applySettingsItem(s, item);
    if (o.width) s.xsize = *o.width;
    if (o.height) s.ysize = *o.height;
    for (const ClampedSetting& c : clampToGrid(s, kMaxMapSide, kMaxMapSide))
        err << kProgram << ": " << clampedMessage(c) << "\n";
    if (s.random1 != 1)
        err << kProgram << ": the settings set random1 to " << s.random1
            << ", so no seed is used (the window program asks for none either)\n";
    plan.generations = o.generationCount();
    plan.untilSettled = o.untilSettled;
    if (o.seedFromClock) {
        // Read now, so that output names holding {seed} are known before any work.
        clockReading = clock();
        plan.fromClock = true;
        plan.seeds = {static_cast<std::int32_t>(seedWord(clockReading))};
    } else {
        for (std::int64_t seed = o.firstSeed; seed <= o.lastSeed; ++seed)
            plan.seeds.push_back(static_cast<std::int32_t>(seed));
    }
    return 0;
}

int run(const BatchOptions& o, std::ostream& out, std::ostream& err, const std::function<double()>& clock,
        bool stderrIsTerminal) {
    Plan plan;
    double clockReading = 0;
    if (const int status = o.from ? planFromRecipe(o, plan, err) : planFromOptions(o, plan, err, clock, clockReading))
        return status;
    const Settings& base = plan.settings;

    std::vector<Output> outputs;
    if (o.pngPattern) outputs.push_back({"--out", *o.pngPattern});
    if (o.statsPattern) outputs.push_back({"--stats", *o.statsPattern});
    if (o.gridPattern) outputs.push_back({"--grid", *o.gridPattern});
    const bool several = plan.seeds.size() > 1;
    if (const std::optional<std::string> clash = collidingOutputs(outputs, plan.seeds, several)) {
        err << kProgram << ": " << *clash << "\n";
        return 2;
    }
    // Standard output may carry a map: then what would be said there goes to stderr.
    const bool outputOnStdout =
        std::any_of(outputs.begin(), outputs.end(), [](const Output& x) { return x.pattern == "-"; });
    std::ostream& say = outputOnStdout ? err : out;

    const double cells = static_cast<double>(base.xsize) * base.ysize;
    const double work = cells * static_cast<double>(plan.generations + 1) * static_cast<double>(plan.seeds.size());
    const bool showProgress = o.progress == BatchOptions::Progress::Always ||
                              (o.progress == BatchOptions::Progress::Auto && stderrIsTerminal && work > 2e8);
    ProgressBar progress(err, showProgress, work);

    MapPicture picture;
    for (const std::int32_t seedValue : plan.seeds) {
        MapRequest request;
        request.settings = base;
        request.seed = plan.fromClock ? SeedChoice::fromClock(clockReading) : SeedChoice::of(seedValue);
        request.generations = plan.generations;
        request.untilSettled = plan.untilSettled;
        request.colors = mapColors(base);
        const std::string label = several ? "seed " + std::to_string(seedValue) : std::string();
        const MapResult result = generateMap(
            request, picture, [&] { return plan.fromClock ? clockReading : clock(); },
            [&](double done) { progress.advance(done, label); });
        if (result.seedUsed && result.seedFromClock) {
            progress.finish();
            say << "seed from the clock: " << result.seed;
            // 0 and -1 would ask for the clock again: such a seed is made again from the PNG's recipe.
            if (result.seed != 0 && result.seed != -1)
                say << " (--seed " << result.seed << " makes this map again)";
            else if (o.pngPattern)
                say << " (--from with the PNG makes this map again)";
            say << "\n";
        }
        Recipe recipe = recipeOf(std::string(kProgram) + " " + ORVANDEL_VERSION, base, result);
        if (plan.recipeSource) recipe.seedSource = *plan.recipeSource;

        for (const Output& output : outputs) {
            const std::string name = outputName(output.pattern, seedValue, several);
            std::error_code why;
            if (output.option == std::string_view("--out"))
                why = writeMapPng(name, picture, recipeTexts(recipe), Dash::isStandardOutput);
            else if (output.option == std::string_view("--stats"))
                why = writeFileSafely(name, statsJson(result), realFileSystem(), Dash::isStandardOutput);
            else
                why = writeMapGrid(name, picture, Dash::isStandardOutput);
            if (why) {
                progress.finish();
                err << kProgram << ": cannot write " << (name == "-" ? "to standard output" : name) << ": "
                    << writeErrorReason(why) << "\n";
                return 1;
            }
        }
    }
    progress.finish();
    return 0;
}

}  // namespace

int runBatch(const BatchOptions& o, std::ostream& out, std::ostream& err, const std::function<double()>& clock,
             bool stderrIsTerminal) {
    if (o.help) {
        out << batchUsage();
        return 0;
    }
    if (o.version) {
        out << kProgram << " " << ORVANDEL_VERSION << "\n";
        return 0;
    }
    try {
        return run(o, out, err, clock, stderrIsTerminal);
    } catch (const std::bad_alloc&) {
        // Every write in progress has removed its temporary file on the way out.
        err << kProgram << ": out of memory\n";
    } catch (const std::length_error&) {
        err << kProgram << ": out of memory (a map too large for this machine)\n";
    }
    return 1;
}

}  // namespace orv
