#include "app/Batch.hpp"

#include <pthread.h>
#include <signal.h>

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

#include "io/FileIdentity.hpp"
#include "io/PngText.hpp"
#include "io/SafeWrite.hpp"
#include "map/MadeMap.hpp"
#include "map/MapOutputs.hpp"
#include "map/Recipe.hpp"
#include "map/StatsJson.hpp"
#include "settings/Palette.hpp"
#include "settings/Seeding.hpp"
#include "settings/SettingsFile.hpp"
#include "terrain/TerrainFiles.hpp"

namespace orv {
namespace {

constexpr const char* kProgram = "orvandel-batch";

std::string maker() {
    return std::string(kProgram) + " " + ORVANDEL_VERSION;
}

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

// A JSON string. Bytes that are not UTF-8 (a file name may hold any: stray bytes, overlong
// forms, surrogates, code points past U+10FFFF) are written as the characters of their Latin-1
// reading, byte by byte, so that every line stays valid JSON in valid UTF-8.
std::string jsonString(std::string_view text) {
    std::string json = "\"";
    auto escape = [&json](unsigned code) {
        char buffer[8];
        std::snprintf(buffer, sizeof buffer, "\\u%04x", code);
        json += buffer;
    };
    auto at = [&text](std::size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u; };
    for (std::size_t i = 0; i < text.size();) {
        const unsigned byte = at(i);
        // The length of a well-formed sequence starting here (RFC 3629's table), 0 if none.
        std::size_t length = 0;
        if (byte < 0x80)
            length = 1;
        else if (byte >= 0xC2 && byte <= 0xDF)
            length = 2;
        else if (byte >= 0xE0 && byte <= 0xEF)
            length = 3;
        else if (byte >= 0xF0 && byte <= 0xF4)
            length = 4;
        for (std::size_t k = 1; k < length; ++k)
            if ((at(i + k) & 0xC0) != 0x80) length = 0;
        const unsigned second = at(i + 1);
        if ((byte == 0xE0 && second < 0xA0) ||  // overlong three-byte form
            (byte == 0xED && second > 0x9F) ||  // a surrogate
            (byte == 0xF0 && second < 0x90) ||  // overlong four-byte form
            (byte == 0xF4 && second > 0x8F))    // past U+10FFFF
            length = 0;
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

// The settings, generations and seeds of the run, from the options or from a map's recipe.
struct Plan {
    Settings settings;  // as the run begins: in range, before the randratio draw
    std::int64_t generations = 0;
    bool untilSettled = false;
    std::vector<std::int32_t> seeds;                 // this run's: the whole range, or its shard
    bool several = false;                            // the range holds several seeds (output names then carry the seed)
    bool fromClock = false;                          // the one seed came from the clock
    std::optional<Recipe::SeedSource> recipeSource;  // --from: the seed source of the map made before
};

// One map of the run, made and written into temporary files, waiting for its turn.
struct Made {
    std::int32_t seed = 0;
    MadeMap map;
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
    using Make = std::function<void(std::size_t index, Made& made)>;
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
    std::unique_ptr<Made> take(std::size_t index) {
        std::unique_lock lock(mutex_);
        std::unique_ptr<Made>& slot = slots_[index % slots_.size()];
        changed_.wait(lock, [&] { return slot != nullptr; });
        std::unique_ptr<Made> made = std::move(slot);
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
        for (;;) {
            std::size_t index = 0;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return stop_ || next_ >= count_ || next_ < taken_ + slots_.size(); });
                if (stop_ || next_ >= count_) return;
                index = next_++;
            }
            auto made = std::make_unique<Made>();
            make_(index, *made);
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
    std::vector<std::unique_ptr<Made>> slots_;
    std::size_t count_, next_ = 0, taken_ = 0;
    bool stop_ = false;
    std::vector<std::thread> threads_;
};

// Files waiting for a batched flush, at most: they hold temporary files the signal handler
// must know of.
constexpr std::size_t kFilesPerFlush = 256;
// A flush at least this often, so that an interruption loses little work.
constexpr auto kFlushEvery = std::chrono::seconds(1);

// One call of orvandel-batch, from its plan to the last flush.
class BatchRun {
public:
    BatchRun(const BatchOptions& o, std::ostream& out, std::ostream& err, const BatchClock& clock,
             bool stderrIsTerminal, FileSystem& files)
        : o_(o), out_(out), err_(err), clock_(clock), terminal_(stderrIsTerminal), files_(files), batch_(files) {}

    int run() {
        if (const int status = o_.from ? planFromRecipe() : planFromOptions()) return status;
        for (const BatchOptions::Output& output : o_.outputs) {
            if (const std::optional<std::string> problem =
                    outputProblem(*output.output, plan_.settings, output.output->option)) {
                err_ << kProgram << ": " << *problem << "\n";
                return 2;
            }
            needsTerrain_ = needsTerrain_ || (plan_.settings.continents > 0 &&
                                              (output.output->needsWorld || output.output->name == "stats"));
        }
        if (const int status = checkNames()) return status;
        if (o_.manifest) {
            manifest_.emplace(*o_.manifest, files_, Dash::isStandardOutput);
            if (!manifest_->ok()) return manifestFailed();
        }
        const double cells = static_cast<double>(plan_.settings.xsize) * plan_.settings.ysize;
        const double work =
            cells * static_cast<double>(plan_.generations + 1) * static_cast<double>(plan_.seeds.size());
        const bool showProgress = o_.progress == BatchOptions::Progress::Always ||
                                  (o_.progress == BatchOptions::Progress::Auto && terminal_ && work > 2e8);
        manyMaps_ = plan_.seeds.size() > 1;
        progress_.emplace(err_, showProgress,
                          manyMaps_ ? static_cast<std::int64_t>(plan_.seeds.size()) : plan_.generations + 1, manyMaps_);

        // Small maps are made side by side, one on each processor; a large one alone, its work
        // shared by the engine's own threads.
        const int processors = std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, kMaxBatchJobs);
        if (manyMaps_ && cells < static_cast<double>(FastEngine::kThreadedCells))
            workers_ = static_cast<int>(std::min<std::size_t>(
                o_.jobs > 0 ? static_cast<std::size_t>(o_.jobs) : static_cast<std::size_t>(processors),
                plan_.seeds.size()));
        std::optional<MapMakers> makers;
        if (workers_ > 1) {
            makers.emplace(workers_, plan_.seeds.size(), 2 * static_cast<std::size_t>(workers_),
                           [this](std::size_t index, Made& made) { make(index, made); });
            if (!makers->started()) makers.reset();
        }
        Made alone;  // one map at a time: its grids kept from one map to the next
        for (std::size_t index = 0; index < plan_.seeds.size(); ++index) {
            std::unique_ptr<Made> made = makers ? makers->take(index) : nullptr;
            if (!made) make(index, alone);
            if (!commit(made ? *made : alone)) return 1;
        }
        makers.reset();
        if (!flush()) return 1;
        if (manifest_ && !manifest_->sync()) return manifestFailed();
        progress_->finish();
        return 0;
    }

private:
    int planFromRecipe() {
        TextChunks texts;
        const std::string file = o_.from->string();
        if (const std::error_code why = readPngTexts(*o_.from, texts, recipeKeyword)) {
            err_ << kProgram << ": cannot read " << file << ": " << why.message() << "\n";
            return 1;
        }
        std::string error;
        std::vector<std::string> warnings;
        const std::optional<Recipe> recipe = recipeFromTexts(texts, error, &warnings);
        if (!recipe) {
            err_ << kProgram << ": cannot make " << file << " again: " << error << "\n";
            return 1;
        }
        if (majorVersion(recipe->program) != majorVersion(maker()))
            err_ << kProgram << ": " << file << " was made by "
                 << (recipe->program.empty() ? "an unknown program" : recipe->program) << "; this is "
                 << ORVANDEL_VERSION << ", whose maps may differ\n";
        for (const std::string& warning : warnings) err_ << kProgram << ": " << file << ": " << warning << "\n";
        plan_.settings = recipe->settings;
        plan_.generations = recipe->generations;
        plan_.seeds = {recipe->seed};
        plan_.recipeSource = recipe->seedSource;
        return 0;
    }

    int planFromOptions() {
        Settings& s = plan_.settings;
        applyPresets(s);
        if (o_.settingsFile) {
            std::string text;
            if (const std::error_code why = readSettingsFile(*o_.settingsFile, text)) {
                err_ << kProgram << ": cannot read the settings file " << o_.settingsFile->string() << ": "
                     << why.message() << "\n";
                return 1;
            }
            applySettingsText(s, text);
        }
        for (const std::string& item : o_.sets) applySettingsText(s, item);
        if (o_.width) s.xsize = *o_.width;
        if (o_.height) s.ysize = *o_.height;
        for (const ClampedSetting& c : clampToGrid(s, kMaxMapSide, kMaxMapSide))
            err_ << kProgram << ": " << clampedMessage(c) << "\n";
        if (const std::string warning = unseededWarning(s); !warning.empty())
            err_ << kProgram << ": " << warning << "\n";
        plan_.generations = o_.generationCount();
        plan_.untilSettled = o_.untilSettled;
        if (o_.seedFromClock) {
            // Taken now, so that output names holding {seed} are known before any work.
            plan_.fromClock = true;
            plan_.seeds = {clock_.seed()};
        } else {
            // A shard takes every N-th seed from its own first: each part gets a like share of
            // the range, and of any trend along it (maps that grow harder to make, say).
            for (std::int64_t seed = o_.firstSeed + (o_.shardIndex - 1); seed <= o_.lastSeed; seed += o_.shardCount)
                plan_.seeds.push_back(static_cast<std::int32_t>(seed));
            plan_.several = o_.lastSeed > o_.firstSeed;
        }
        return 0;
    }

    std::string nameOf(std::size_t output, std::int32_t seed) const {
        return outputName(o_.outputs[output].pattern, seed, plan_.several);
    }

    // Two files of the run that would meet: two outputs, an output and the manifest, or either
    // and one of the run's inputs (which it would destroy). Every name is looked at once, where
    // it leads (FileIdentity); only the keys' hashes are kept (a million seeds have millions of
    // names), and names whose hashes meet are compared in full. Exit status 2 when any meet.
    int checkNames() {
        struct Named {
            std::size_t hash;
            std::uint32_t seedIndex;
            std::uint32_t what;  // an output's index, or kManifest, kFrom, kSettings
        };
        const auto outputs = static_cast<std::uint32_t>(o_.outputs.size());
        const std::uint32_t kManifest = outputs, kFrom = outputs + 1, kSettings = outputs + 2;
        auto name = [&](const Named& n) -> std::string {
            if (n.what == kManifest) return *o_.manifest;
            if (n.what == kFrom) return o_.from->string();
            if (n.what == kSettings) return o_.settingsFile->string();
            return nameOf(n.what, plan_.seeds[n.seedIndex]);
        };
        auto describe = [&](const Named& n) {
            std::string text = n.what < outputs      ? std::string(o_.outputs[n.what].output->option)
                               : n.what == kManifest ? "--manifest"
                               : n.what == kFrom     ? "--from"
                                                     : "--settings";
            text.append(" ").append(name(n));
            if (n.what < outputs && plan_.several)
                text.append(" (seed ").append(std::to_string(plan_.seeds[n.seedIndex])).append(")");
            return text;
        };
        FileIdentity identity;
        std::vector<Named> named;
        named.reserve(plan_.seeds.size() * outputs + 3);
        auto add = [&](std::uint32_t seedIndex, std::uint32_t what) {
            Named n{0, seedIndex, what};
            const std::string key = identity.key(name(n));
            if (key == "-") return;  // standard output: at most one output goes there
            n.hash = std::hash<std::string>{}(key);
            named.push_back(n);
        };
        for (std::uint32_t s = 0; s < plan_.seeds.size(); ++s)
            for (std::uint32_t o = 0; o < outputs; ++o) add(s, o);
        if (o_.manifest) add(0, kManifest);
        if (o_.from) add(0, kFrom);
        if (o_.settingsFile) add(0, kSettings);
        std::sort(named.begin(), named.end(), [](const Named& a, const Named& b) { return a.hash < b.hash; });
        for (std::size_t i = 0; i < named.size(); ++i) {
            for (std::size_t j = i + 1; j < named.size() && named[j].hash == named[i].hash; ++j) {
                const bool inputs = named[i].what >= kFrom && named[j].what >= kFrom;
                if (inputs || identity.key(name(named[i])) != identity.key(name(named[j]))) continue;
                const Named& first = named[i].what < named[j].what ? named[i] : named[j];
                const Named& second = named[i].what < named[j].what ? named[j] : named[i];
                err_ << kProgram << ": " << describe(first) << " and " << describe(second) << " name the same file"
                     << (second.what >= kFrom ? " (an input of the run)" : "") << "\n";
                return 2;
            }
        }
        return 0;
    }

    // Makes map `index` and writes its outputs into temporary files.
    void make(std::size_t index, Made& made) {
        made.seed = plan_.seeds[index];
        made.files.clear();
        made.failed = SIZE_MAX;
        made.why.clear();
        made.exception = nullptr;
        try {
            MapRequest request;
            request.settings = plan_.settings;
            request.seed = plan_.fromClock ? SeedChoice::ofClock(made.seed) : SeedChoice::of(made.seed);
            request.generations = plan_.generations;
            request.untilSettled = plan_.untilSettled;
            request.colors = mapColors(plan_.settings);
            request.threads = workers_ > 1 ? 1 : 0;
            request.keepWorld = needsTerrain_;  // rather than grow it again for the terrain
            RunHooks hooks;
            hooks.clock = [this] { return clock_.reading(); };
            if (!manyMaps_)
                hooks.progress = [this](std::int64_t, std::int64_t) {
                    progress_->advance();
                    return true;
                };
            makeMap(made.map, request, maker(), hooks);
            if (plan_.recipeSource) made.map.recipe.seedSource = *plan_.recipeSource;
            for (std::size_t i = 0; i < o_.outputs.size() && made.failed == SIZE_MAX; ++i) {
                SafeFile& file = *made.files.emplace_back(
                    std::make_unique<SafeFile>(nameOf(i, made.seed), files_, Dash::isStandardOutput));
                made.why = file.ok() ? o_.outputs[i].output->write(made.map, file, nameOf(i, made.seed)) : file.error();
                if (made.why) made.failed = i;
            }
        } catch (...) {
            made.exception = std::current_exception();
        }
    }

    // Hands one map's files to the batch and its manifest line to the next flush; false (the
    // reason told) when the map could not be written.
    bool commit(Made& made) {
        if (made.exception) {
            flush();  // the maps before it are whole: they stay
            std::rethrow_exception(made.exception);
        }
        const MapResult& result = made.map.result;
        if (result.seedUsed && (result.seedFromClock || plan_.fromClock)) {
            progress_->finish();
            // Standard output may carry a map or the manifest: then this goes to stderr.
            const bool outputOnStdout =
                o_.manifest == "-" ||
                std::any_of(o_.outputs.begin(), o_.outputs.end(), [](const auto& x) { return x.pattern == "-"; });
            (outputOnStdout ? err_ : out_)
                << "seed from the clock: " << result.seed << " (--seed " << result.seed << " makes this map again)\n";
        }
        for (std::size_t i = 0; i < made.files.size(); ++i) {
            SafeFile& file = *made.files[i];
            if (made.failed != i && (o_.flushEachFile ? file.commit() : file.commit(batch_))) continue;
            const std::error_code why = made.failed == i ? made.why : file.error();
            const std::string name = nameOf(i, made.seed);
            batch_.endGroup();
            flush();
            progress_->finish();
            err_ << kProgram << ": cannot write " << (name == "-" ? "to standard output" : name) << ": "
                 << writeErrorReason(why) << "\n";
            return false;
        }
        batch_.endGroup();  // a map's files are put in place together
        made.files.clear();
        if (manifest_) {
            std::string line = "{\"seed\": " + std::to_string(made.seed) + ", \"files\": {";
            for (std::size_t i = 0; i < o_.outputs.size(); ++i)
                line.append(i ? ", \"" : "\"")
                    .append(o_.outputs[i].output->name)
                    .append("\": ")
                    .append(jsonString(nameOf(i, made.seed)));
            // The statistics as --stats writes them, with a world's terrain once it is made.
            const std::string statistics =
                made.map.terrain ? statsJson(result, terrainStatsJson(*made.map.terrain)) : statsJson(result);
            line.append("}, \"statistics\": ").append(oneLine(statistics)).append("}\n");
            unreported_.push_back(std::move(line));
        }
        if (manyMaps_) progress_->advance();
        if (batch_.size() >= kFilesPerFlush || std::chrono::steady_clock::now() - lastFlush_ >= kFlushEvery ||
            (o_.flushEachFile && !unreported_.empty()))
            return flush();
        return true;
    }

    // Puts the files committed so far in place, then tells of their maps in the manifest.
    bool flush() {
        lastFlush_ = std::chrono::steady_clock::now();
        if (const std::error_code why = batch_.flush()) {
            progress_->finish();
            err_ << kProgram << ": cannot write " << batch_.failedPath() << ": " << writeErrorReason(why) << "\n";
            return false;
        }
        for (const std::string& line : unreported_)
            if (!manifest_->append(line)) return manifestFailed() == 0;
        unreported_.clear();
        return true;
    }

    int manifestFailed() {
        if (progress_) progress_->finish();
        err_ << kProgram << ": cannot write to the manifest " << *o_.manifest << ": "
             << writeErrorReason(manifest_->error()) << "\n";
        return 1;
    }

    const BatchOptions& o_;
    std::ostream& out_;
    std::ostream& err_;
    const BatchClock& clock_;
    bool terminal_;
    FileSystem& files_;
    Plan plan_;
    bool manyMaps_ = false;
    bool needsTerrain_ = false;  // an output asks for a world's terrain
    int workers_ = 1;
    std::optional<ProgressBar> progress_;
    std::optional<AppendedFile> manifest_;
    SyncBatch batch_;
    std::vector<std::string> unreported_;  // manifest lines of the maps in the batch
    std::chrono::steady_clock::time_point lastFlush_ = std::chrono::steady_clock::now();
};

}  // namespace

BatchClock BatchClock::system() {
    return {clockSeconds, freshClockSeed};
}

int runBatch(const BatchOptions& o, std::ostream& out, std::ostream& err, const BatchClock& clock,
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
        return BatchRun(o, out, err, clock, stderrIsTerminal, files).run();
    } catch (const std::bad_alloc&) {
        // Every write in progress has removed its temporary file on the way out.
        err << kProgram << ": out of memory\n";
    } catch (const std::length_error&) {
        err << kProgram << ": out of memory (a map too large for this machine)\n";
    }
    return 1;
}

}  // namespace orv
