#include "app/Batch.hpp"

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <iostream>
#include <mutex>
#include <new>
#include <stdexcept>
#include <system_error>
#include <thread>

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

// A progress bar on stderr, redrawn at most ten times a second, with what is done, its rate and
// the time left: maps for a range of seeds, generations for one map.
class ProgressBar {
public:
    ProgressBar(std::ostream& err, bool enabled, std::int64_t total, bool maps)
        : err_(err), enabled_(enabled), total_(total), maps_(maps), start_(std::chrono::steady_clock::now()) {}
    ~ProgressBar() { finish(); }

    void advance(std::int64_t units = 1) {
        done_ += units;
        if (!enabled_) return;
        const auto now = std::chrono::steady_clock::now();
        if (shown_ && now - last_ < std::chrono::milliseconds(100) && done_ < total_) return;
        last_ = now;
        shown_ = true;
        const std::int64_t done = std::min(done_, total_);
        const double fraction = total_ > 0 ? static_cast<double>(done) / static_cast<double>(total_) : 1.0;
        const int filled = static_cast<int>(fraction * 30);
        const double seconds = std::chrono::duration<double>(now - start_).count();
        const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0.0;
        char rateText[32];
        std::snprintf(rateText, sizeof rateText, rate < 10 ? "%.1f" : "%.0f", rate);
        err_ << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
             << std::string(static_cast<std::size_t>(30 - filled), '.') << "] " << static_cast<int>(fraction * 100)
             << "% " << (maps_ ? "" : "generation ") << done << "/" << total_ << (maps_ ? " maps, " : ", ") << rateText
             << (maps_ ? " maps/s, " : " generations/s, ")
             << timeLeft(rate > 0 ? static_cast<double>(total_ - done) / rate : -1) << " left\x1b[K" << std::flush;
    }
    void finish() {
        if (enabled_ && shown_) err_ << "\r\x1b[K" << std::flush;
        shown_ = false;
    }

private:
    // m:ss, or h:mm:ss from an hour on; --:-- before anything is done.
    static std::string timeLeft(double seconds) {
        if (seconds < 0) return "--:--";
        const auto whole = static_cast<long long>(seconds + 0.5);
        char text[48];
        if (whole >= 3600)
            std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
        else
            std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
        return text;
    }

    std::ostream& err_;
    bool enabled_;
    std::int64_t total_;
    bool maps_;
    std::int64_t done_ = 0;
    bool shown_ = false;
    std::chrono::steady_clock::time_point start_, last_{};
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
    const char* key;  // its name in the manifest
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
    std::vector<std::int32_t> seeds;                 // this run's: the whole range, or its shard
    bool several = false;                            // the range holds several seeds (output names then carry the seed)
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
    // Worlds are grown as heights from 2.0.0 on: a world of 1.x would come out another world.
    constexpr int kWorldsSince = 2;
    if (made && *made < kWorldsSince && recipe->settings.continents > 0) {
        err << kProgram << ": " << file << " was made by " << recipe->program << ", whose worlds this version ("
            << ORVANDEL_VERSION << ") makes differently; classic maps (continents=0) it still makes\n";
        return 1;
    }
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
        // A shard takes every N-th seed from its own first: each part gets a like share of
        // the range, and of any trend along it (maps that grow harder to make, say).
        for (std::int64_t seed = o.firstSeed + (o.shardIndex - 1); seed <= o.lastSeed; seed += o.shardCount)
            plan.seeds.push_back(static_cast<std::int32_t>(seed));
        plan.several = o.lastSeed > o.firstSeed;
    }
    return 0;
}

// A JSON string. Bytes that are not UTF-8 (a file name may hold any) are written as the
// characters of their Latin-1 reading, so that every line stays valid JSON.
std::string jsonString(std::string_view text) {
    std::string json = "\"";
    auto escape = [&json](unsigned code) {
        char buffer[8];
        std::snprintf(buffer, sizeof buffer, "\\u%04x", code);
        json += buffer;
    };
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        std::size_t length = byte < 0x80 ? 1 : (byte >> 5) == 6 ? 2 : (byte >> 4) == 14 ? 3 : (byte >> 3) == 30 ? 4 : 0;
        for (std::size_t k = 1; k < length; ++k)
            if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) length = 0;
        if (length > 1 && byte < 0xC2) length = 0;  // overlong forms
        if (length == 0) {
            escape(byte);
            ++i;
        } else if (byte == '"' || byte == '\\') {
            json.append(1, '\\').append(1, static_cast<char>(byte));
            ++i;
        } else if (byte < 0x20 || byte == 0x7F) {
            escape(byte);
            ++i;
        } else {
            json.append(text.substr(i, length));
            i += length;
        }
    }
    return json + "\"";
}

// The statistics document on one line: it holds no strings, so its line breaks and the
// indentation after them can simply go.
std::string oneLine(const std::string& json) {
    std::string line;
    bool lineStart = false;
    for (const char c : json) {
        if (c == '\n') {
            lineStart = true;
        } else if (!(lineStart && c == ' ')) {
            lineStart = false;
            line += c;
        }
    }
    return line;
}

// One map of the run, made and written into temporary files, waiting for its turn.
struct Made {
    std::int32_t seed = 0;
    MapResult result;
    std::vector<std::unique_ptr<SafeFile>> files;  // one for each output, in their order
    std::size_t failed = SIZE_MAX;                 // the output that could not be written
    std::error_code why;
    std::exception_ptr exception;  // memory ran out
};

// Threads that make the maps of a range side by side, each map whole on one of them, and hand
// them over in seed order. At most `window` maps are made ahead of the one awaited, which bounds
// the memory and the open files of the maps in flight.
class MapMakers {
public:
    using Make = std::function<Made(std::size_t index, MapPicture& picture)>;
    MapMakers(int threads, std::size_t count, std::size_t window, Make make)
        : make_(std::move(make)), slots_(window), count_(count) {
        for (int t = 0; t < threads; ++t) {
            try {
                threads_.emplace_back([this] { work(); });
            } catch (const std::system_error&) {
                break;  // the system gives no more threads: those started do the work
            }
        }
    }
    ~MapMakers() {
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        for (std::thread& thread : threads_) thread.join();
    }
    MapMakers(const MapMakers&) = delete;
    MapMakers& operator=(const MapMakers&) = delete;

    bool started() const { return !threads_.empty(); }
    // Map `index`, the next in order, once it is made.
    Made take(std::size_t index) {
        std::unique_lock lock(mutex_);
        std::optional<Made>& slot = slots_[index % slots_.size()];
        changed_.wait(lock, [&] { return slot.has_value(); });
        Made made = std::move(*slot);
        slot.reset();
        taken_ = index + 1;
        changed_.notify_all();
        return made;
    }

private:
    void work() {
        // Signals go to the run's own thread, whose handler removes the temporary files.
        sigset_t signals;
        sigemptyset(&signals);
        for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, s);
        pthread_sigmask(SIG_BLOCK, &signals, nullptr);
        MapPicture picture;
        for (;;) {
            std::size_t index = 0;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return stop_ || next_ >= count_ || next_ < taken_ + slots_.size(); });
                if (stop_ || next_ >= count_) return;
                index = next_++;
            }
            Made made = make_(index, picture);
            {
                const std::lock_guard lock(mutex_);
                slots_[index % slots_.size()] = std::move(made);
            }
            changed_.notify_all();
        }
    }

    Make make_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::optional<Made>> slots_;
    std::size_t count_, next_ = 0, taken_ = 0;
    bool stop_ = false;
    std::vector<std::thread> threads_;
};

// Files waiting for a batched flush, at most: they hold temporary files the signal handler
// must know of.
constexpr std::size_t kFilesPerFlush = 256;
// A flush at least this often, so that an interruption loses little work.
constexpr auto kFlushEvery = std::chrono::seconds(1);

int run(const BatchOptions& o, std::ostream& out, std::ostream& err, const std::function<double()>& clock,
        bool stderrIsTerminal, FileSystem& files) {
    Plan plan;
    double clockReading = 0;
    if (const int status = o.from ? planFromRecipe(o, plan, err) : planFromOptions(o, plan, err, clock, clockReading))
        return status;
    const Settings& base = plan.settings;

    std::vector<Output> outputs;
    if (o.pngPattern) outputs.push_back({"--out", "png", *o.pngPattern});
    if (o.statsPattern) outputs.push_back({"--stats", "stats", *o.statsPattern});
    if (o.gridPattern) outputs.push_back({"--grid", "grid", *o.gridPattern});
    const bool several = plan.several;
    if (const std::optional<std::string> clash = collidingOutputs(outputs, plan.seeds, several)) {
        err << kProgram << ": " << *clash << "\n";
        return 2;
    }
    if (o.manifest && *o.manifest != "-") {
        const std::string manifestKey = fileKey(*o.manifest);
        for (const std::int32_t seed : plan.seeds)
            for (const Output& output : outputs)
                if (const std::string name = outputName(output.pattern, seed, several); fileKey(name) == manifestKey) {
                    err << kProgram << ": --manifest " << *o.manifest << " and " << output.option << " " << name
                        << " name the same file\n";
                    return 2;
                }
    }
    // Standard output may carry a map or the manifest: then what would be said there goes to stderr.
    const bool outputOnStdout = o.manifest == "-" || std::any_of(outputs.begin(), outputs.end(),
                                                                 [](const Output& x) { return x.pattern == "-"; });
    std::ostream& say = outputOnStdout ? err : out;

    std::optional<AppendedFile> manifest;
    if (o.manifest) {
        manifest.emplace(*o.manifest, files, Dash::isStandardOutput);
        if (!manifest->ok()) {
            err << kProgram << ": cannot write to the manifest " << *o.manifest << ": "
                << writeErrorReason(manifest->error()) << "\n";
            return 1;
        }
    }

    const double cells = static_cast<double>(base.xsize) * base.ysize;
    const double work = cells * static_cast<double>(plan.generations + 1) * static_cast<double>(plan.seeds.size());
    const bool showProgress = o.progress == BatchOptions::Progress::Always ||
                              (o.progress == BatchOptions::Progress::Auto && stderrIsTerminal && work > 2e8);
    const bool manyMaps = plan.seeds.size() > 1;
    ProgressBar progress(err, showProgress, manyMaps ? static_cast<std::int64_t>(plan.seeds.size()) : plan.generations,
                         manyMaps);

    // Small maps are made side by side, one on each processor; a large one alone, its work
    // shared by the engine's own threads.
    const int processors = std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, kMaxBatchJobs);
    int workers = 1;
    if (manyMaps && cells < static_cast<double>(FastEngine::kThreadedCells))
        workers = static_cast<int>(std::min<std::size_t>(
            o.jobs > 0 ? static_cast<std::size_t>(o.jobs) : static_cast<std::size_t>(processors), plan.seeds.size()));

    auto make = [&](std::size_t index, MapPicture& picture) {
        Made made;
        made.seed = plan.seeds[index];
        try {
            MapRequest request;
            request.settings = base;
            request.seed = plan.fromClock ? SeedChoice::fromClock(clockReading) : SeedChoice::of(made.seed);
            request.generations = plan.generations;
            request.untilSettled = plan.untilSettled;
            request.colors = mapColors(base);
            request.threads = workers > 1 ? 1 : 0;
            made.result = generateMap(
                request, picture, [&] { return plan.fromClock ? clockReading : clock(); },
                [&](double) {
                    if (!manyMaps) progress.advance();
                });
            Recipe recipe = recipeOf(std::string(kProgram) + " " + ORVANDEL_VERSION, base, made.result);
            if (plan.recipeSource) recipe.seedSource = *plan.recipeSource;
            for (std::size_t i = 0; i < outputs.size() && made.failed == SIZE_MAX; ++i) {
                auto& file = made.files.emplace_back(std::make_unique<SafeFile>(
                    outputName(outputs[i].pattern, made.seed, several), files, Dash::isStandardOutput));
                if (outputs[i].key == std::string_view("png")) {
                    made.why = writeMapPng(*file, picture, recipeTexts(recipe));
                } else if (outputs[i].key == std::string_view("stats")) {
                    const std::string json = statsJson(made.result);
                    file->write(json.data(), json.size());
                    made.why = file->error();
                } else {
                    made.why = writeMapGrid(*file, picture);
                }
                if (made.why) made.failed = i;
            }
        } catch (...) {
            made.exception = std::current_exception();
        }
        return made;
    };

    SyncBatch batch(files);
    std::vector<std::string> unreported;  // manifest lines of the maps in the batch
    auto lastFlush = std::chrono::steady_clock::now();
    // Puts the files committed so far in place, then tells of their maps in the manifest.
    auto flush = [&]() -> bool {
        lastFlush = std::chrono::steady_clock::now();
        if (const std::error_code why = batch.flush()) {
            progress.finish();
            err << kProgram << ": cannot write " << batch.failedPath() << ": " << writeErrorReason(why) << "\n";
            return false;
        }
        for (const std::string& line : unreported) {
            if (!manifest->append(line)) {
                progress.finish();
                err << kProgram << ": cannot write to the manifest " << *o.manifest << ": "
                    << writeErrorReason(manifest->error()) << "\n";
                return false;
            }
        }
        unreported.clear();
        return true;
    };
    // Commits one map's files; false (the reason told) when the map could not be written.
    auto report = [&](Made& made) -> bool {
        if (made.exception) {
            flush();  // the maps before it are whole: they stay
            std::rethrow_exception(made.exception);
        }
        const MapResult& result = made.result;
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
        for (std::size_t i = 0; i < made.files.size(); ++i) {
            SafeFile& file = *made.files[i];
            if (made.failed != i && (o.flushEachFile ? file.commit() : file.commit(batch))) continue;
            const std::error_code why = made.failed == i ? made.why : file.error();
            const std::string name = outputName(outputs[i].pattern, made.seed, several);
            flush();
            progress.finish();
            err << kProgram << ": cannot write " << (name == "-" ? "to standard output" : name) << ": "
                << writeErrorReason(why) << "\n";
            return false;
        }
        if (manifest) {
            std::string line = "{\"seed\": " + std::to_string(made.seed) + ", \"files\": {";
            for (std::size_t i = 0; i < outputs.size(); ++i)
                line.append(i ? ", \"" : "\"")
                    .append(outputs[i].key)
                    .append("\": ")
                    .append(jsonString(outputName(outputs[i].pattern, made.seed, several)));
            line.append("}, \"statistics\": ").append(oneLine(statsJson(result))).append("}\n");
            unreported.push_back(std::move(line));
        }
        if (manyMaps) progress.advance();
        if (batch.size() >= kFilesPerFlush || std::chrono::steady_clock::now() - lastFlush >= kFlushEvery ||
            (o.flushEachFile && !unreported.empty()))
            return flush();
        return true;
    };

    std::optional<MapMakers> makers;
    if (workers > 1) {
        makers.emplace(workers, plan.seeds.size(), 2 * static_cast<std::size_t>(workers), make);
        if (!makers->started()) makers.reset();
    }
    MapPicture picture;
    for (std::size_t index = 0; index < plan.seeds.size(); ++index) {
        Made made = makers ? makers->take(index) : make(index, picture);
        if (!report(made)) return 1;
    }
    makers.reset();
    if (!flush()) return 1;
    if (manifest && !manifest->sync()) {
        err << kProgram << ": cannot write to the manifest " << *o.manifest << ": "
            << writeErrorReason(manifest->error()) << "\n";
        return 1;
    }
    progress.finish();
    return 0;
}

}  // namespace

int runBatch(const BatchOptions& o, std::ostream& out, std::ostream& err, const std::function<double()>& clock,
             bool stderrIsTerminal, FileSystem& files) {
    if (o.help) {
        out << batchUsage();
        return 0;
    }
    if (o.version) {
        out << kProgram << " " << ORVANDEL_VERSION << "\n";
        return 0;
    }
    try {
        return run(o, out, err, clock, stderrIsTerminal, files);
    } catch (const std::bad_alloc&) {
        // Every write in progress has removed its temporary file on the way out.
        err << kProgram << ": out of memory\n";
    } catch (const std::length_error&) {
        err << kProgram << ": out of memory (a map too large for this machine)\n";
    }
    return 1;
}

}  // namespace orv
