#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>
#include <numeric>
#include <orvandel/orvandel.hpp>
#include <sstream>

#include "app/Batch.hpp"
#include "io/PngText.hpp"
#include "io/PngWriter.hpp"
#include "map/MapFiles.hpp"
#include "map/Recipe.hpp"
#include "settings/Palette.hpp"
#include "settings/Settings.hpp"
#include "settings/TextFormat.hpp"
#include "tests/ExportSupport.hpp"
#include "tests/Session.hpp"

namespace orv::test {
namespace {

std::optional<BatchOptions> parse(std::initializer_list<const char*> args, std::string* error = nullptr) {
    std::string e;
    auto o = parseBatchArguments(std::vector<std::string>(args.begin(), args.end()), e);
    if (error) *error = e;
    return o;
}

TEST(BatchArguments, RefuseMistakesWithOneLineSayingWhat) {
    struct Case {
        std::initializer_list<const char*> args;
        const char* says;
    } cases[] = {
        {{"--out", "a.png"}, "--seed is required"},
        {{"--seed", "7"}, "nothing to write"},
        {{"--seed", "abc", "--out", "a.png"}, "--seed abc"},
        {{"--seed", "42abc", "--out", "a.png"}, "--seed 42abc"},
        {{"--seed", "9-3", "--out", "a.png"}, "--seed 9-3"},
        {{"--seed", "1-2000000", "--out", "a.png"}, "at most"},
        {{"--seed", "1", "--size", "0x5", "--out", "a.png"}, "--size 0x5"},
        {{"--seed", "1", "--size", "400", "--out", "a.png"}, "--size 400"},
        {{"--seed", "1", "--size", "65537x2", "--out", "a.png"}, "--size 65537x2"},
        {{"--seed", "1", "--size", "4x-1", "--out", "a.png"}, "--size 4x-1"},
        {{"--seed", "1", "--generations", "-1", "--out", "a.png"}, "--generations -1"},
        {{"--seed", "1", "--generations", "ten", "--out", "a.png"}, "--generations ten"},
        {{"--seed", "1", "--out"}, "--out needs a value"},
        {{"--seed", "1", "--out", "a.png", "--colour"}, "unknown option --colour"},
        {{"--seed", "3-1", "--out", "a.png"}, "--seed 3-1: the first seed is above the last"},
        {{"--seed", "1-99999999999", "--out", "a.png"}, "99999999999 is beyond the seeds"},
        {{"--seed", "1-2x", "--out", "a.png"}, "a range is two whole numbers"},
        {{"--seed", "-3-4", "--out", "a.png"}, "cannot hold 0 or -1"},
        {{"--seed", "0-1400", "--out", "a.png"}, "cannot hold 0 or -1"},
        {{"--seed", "-5--1", "--out", "a.png"}, "cannot hold 0 or -1"},
        {{"--seed", "-1", "--out", "a.png"}, "--seed clock"},
        {{"--seed", "-1.2", "--out", "a.png"}, "--seed clock"},
        {{"--seed", "99999999999", "--out", "a.png"}, "beyond the seeds"},
        {{"--seed", "1", "--out", ""}, "--out: the file name is empty"},
        {{"--seed", "1", "--stats="}, "--stats: the file name is empty"},
        {{"--seed", "1", "--out", "a.png", "--until-stable=no"}, "--until-stable takes no value"},
        {{"--seed", "1", "--out", "a.png", "--progress=never"}, "--progress takes no value"},
        {{"--seed", "1", "--out", "a.png", "--quiet=x"}, "--quiet takes no value"},
        {{"--seed", "1", "--seed", "2", "--out", "a.png"}, "--seed is given twice"},
        {{"--seed", "1", "--out", "a.png", "--out=b.png"}, "--out is given twice"},
        {{"--seed", "1", "--out", "a.png", "--progress", "--quiet"}, "--quiet cannot go with --progress"},
        {{"--seed", "1", "--out", "a.png", "--until-settled", "--until-stable"}, "cannot go with --until-settled"},
        {{"--seed", "1", "--out", "a.png", "--set", "colour=3"}, "--set colour: no such setting"},
        {{"--seed", "1", "--out", "a.png", "--set", "landcolor"}, "expected KEY=VALUE"},
        {{"--from", "m.png", "--seed", "1", "--out", "a.png"}, "--from takes the seed"},
        {{"--seed", "1", "--out", "-", "--stats", "-"}, "only one output"},
        {{"--seed", "1-3", "--grid", "-"}, "standard output (-) takes the outputs of one map"},
        {{"--seed", "1", "a.png"}, "unexpected argument 'a.png'"},
        {{"--seed", "1-9", "--out", "a.png", "--shard", "0/3"}, "--shard 0/3: expected K/N"},
        {{"--seed", "1-9", "--out", "a.png", "--shard", "4/3"}, "--shard 4/3"},
        {{"--seed", "1-9", "--out", "a.png", "--shard", "1/0"}, "--shard 1/0"},
        {{"--seed", "1-9", "--out", "a.png", "--shard", "-1/-3"}, "--shard -1/-3"},
        {{"--seed", "1-9", "--out", "a.png", "--shard", "2"}, "--shard 2"},
        {{"--seed", "clock", "--out", "a.png", "--shard", "1/2"}, "--shard parts a seed range"},
        {{"--from", "m.png", "--out", "a.png", "--shard", "1/2"}, "--shard parts a seed range"},
        {{"--seed", "1-9", "--out", "a.png", "--jobs", "65"}, "--jobs 65"},
        {{"--seed", "1-9", "--out", "a.png", "--jobs", "-2"}, "--jobs -2"},
        {{"--seed", "1", "--out", "-", "--manifest", "-"}, "only one output"},
        {{"--seed", "1", "--out", "a.png", "--manifest", ""}, "--manifest: the file name is empty"},
        {{"--from", "m.png", "--out", "a.png", "--until-settled"}, "--from takes the seed"},
        {{"--seed", "1", "--out", "a.png", "--set", "landcolor=5,colour=2"}, "--set colour: no such setting"},
        {{"--seed", "1", "--out", "a.png", "--set", "continents=lots"}, "holds no number"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(parse(c.args, &error).has_value()) << c.says;
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
}

TEST(BatchArguments, ReadSeedsSizesAndSwitches) {
    auto o = parse({"--seed=2.5", "--size", "640x480", "--generations", "0", "--until-stable", "--out", "m.png",
                    "--stats=s.json", "--quiet"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->firstSeed, 2);  // the seed prompt's rule: halves go to the even neighbour
    EXPECT_EQ(o->lastSeed, 2);
    EXPECT_EQ(*o->width, 640);
    EXPECT_EQ(*o->height, 480);
    EXPECT_EQ(o->generations, 0);
    EXPECT_TRUE(o->untilSettled);
    EXPECT_EQ(o->progress, BatchOptions::Progress::Never);

    o = parse({"--seed", "-9--3", "--stats", "s.json"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->firstSeed, -9);
    EXPECT_EQ(o->lastSeed, -3);
    o = parse({"--seed", "+1-+3", "--stats", "s.json", "--set", "landcolor=4", "--set=XSIZE = 20", "--until-stable"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->firstSeed, 1);
    EXPECT_EQ(o->lastSeed, 3);
    EXPECT_EQ(o->sets, (std::vector<std::string>{"landcolor=4", "XSIZE = 20"}));
    EXPECT_TRUE(o->untilSettled);                 // --until-stable is the same option
    o = parse({"--seed", "5-5", "--grid", "-"});  // a range of one seed is one map
    ASSERT_TRUE(o);
    EXPECT_EQ(o->firstSeed, 5);
    EXPECT_EQ(o->lastSeed, 5);
    o = parse({"--seed", "0", "--out", "-"});
    ASSERT_TRUE(o);
    EXPECT_TRUE(o->seedFromClock);
    o = parse({"--seed", "&hFF", "--out", "m.png"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->firstSeed, 255);
    o = parse({"--seed", "clock", "--out", "m.png"});
    ASSERT_TRUE(o);
    EXPECT_TRUE(o->seedFromClock);
    // --set takes a settings file's line: several items, a quoted one.
    o = parse({"--seed", "1", "--stats", "s.json", "--set", "landcolor=5,watercolor=7", "--set", "\"landcolor=5,6\""});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->sets, (std::vector<std::string>{"landcolor=5,watercolor=7", "\"landcolor=5,6\""}));
    ASSERT_TRUE(parse({"--seed", "1-9", "--stats", "s.json", "--jobs", "64"}));
    o = parse({"--seed", "1-9", "--stats", "s.json", "--shard", "2/3", "--jobs", "5", "--manifest", "-"});
    ASSERT_TRUE(o);
    EXPECT_EQ(std::pair(o->shardIndex, o->shardCount), std::pair(2, 3));
    EXPECT_EQ(o->jobs, 5);
    EXPECT_EQ(o->manifest, "-");
    EXPECT_TRUE(parse({"--help"})->help);
    EXPECT_TRUE(parse({"--version"})->version);
}

TEST(BatchArguments, OutputNamesCarryTheSeedWhenThereAreSeveral) {
    EXPECT_EQ(outputName("map.png", 7, false), "map.png");
    EXPECT_EQ(outputName("map.png", 7, true), "map-7.png");
    EXPECT_EQ(outputName("out/map", -2, true), "out/map--2");
    EXPECT_EQ(outputName("out.d/map", 3, true), "out.d/map-3");
    EXPECT_EQ(outputName(".png", 3, true), "-3.png");  // the seed goes before the last dot of the name
    EXPECT_EQ(outputName("maps/.json", 3, true), "maps/-3.json");
    EXPECT_EQ(outputName("-", 3, false), "-");
    EXPECT_EQ(outputName("w{seed}/m-{seed}.png", 12, false), "w12/m-12.png");
}

// The real program run in a directory of its own.
class BatchHostileRecipes : public testing::Test {
protected:
    TempDir dir;
    std::string program = "cd '" + dir.path().string() + "' && '" ORVANDEL_BATCH_PATH "' ";
};

struct BatchRun {
    int status = -1;
    std::string out, err;
};

BatchRun batchArgs(const std::vector<const char*>& args, const TempDir& dir, double clock = 500.5,
                   bool terminal = false, FileSystem& files = realFileSystem()) {
    std::vector<std::string> list;
    for (const char* a : args) {
        std::string arg = a;
        // Relative file arguments are taken inside the test's directory.
        if (!arg.empty() && arg[0] != '-' &&
            (arg.find(".png") != std::string::npos || arg.find(".json") != std::string::npos ||
             arg.find(".ini") != std::string::npos || arg.find(".npy") != std::string::npos ||
             arg.find(".geojson") != std::string::npos))
            arg = (dir.path() / arg).string();
        list.push_back(arg);
    }
    std::string error;
    BatchRun run;
    auto o = parseBatchArguments(list, error);
    if (!o) {
        run.err = error;
        run.status = 2;
        return run;
    }
    std::ostringstream out, err;
    // The clock's reading, and as a seed its whole seconds.
    const BatchClock fixed{[clock] { return clock; }, [clock] { return static_cast<std::int32_t>(clock); }};
    run.status = runBatch(*o, out, err, fixed, terminal, files);
    run.out = out.str();
    run.err = err.str();
    return run;
}

BatchRun batch(std::initializer_list<const char*> args, const TempDir& dir, double clock = 500.5,
               bool terminal = false) {
    return batchArgs(std::vector<const char*>(args), dir, clock, terminal);
}

// The window program's whole session for a settings file (or the presets) and a seed, stopped
// after `generations` drawn generations and saved as saved.png; the report rows come back.
Session windowSession(const TempDir& dir, const std::string& settingsFile, const std::string& seed, int generations,
                      bool asksSeed = true) {
    std::string keys =
        settingsFile.empty() ? "key Up\nkey Enter\n" : "key Enter\ntype " + settingsFile + "\nkey Enter\nkey Space\n";
    if (asksSeed) keys += "type " + seed + "\nkey Enter\nkey Space\n";
    keys += "wait " + std::to_string(generations) +
            "\nkey x\nkey x\ntype yes\nkey Enter\ntype saved\nkey Enter\nkey Enter\n";
    return runSession(keys, {.clockSeconds = 500.5, .directory = dir.path()});
}

// The statistics JSON, read by a real JSON parser (a malformed document fails the test).
nlohmann::json statsOf(const std::filesystem::path& file) {
    return nlohmann::json::parse(readBytes(file));
}

// A field of one class ("water", "land", "unchanged") as the JSON writes it.
std::string jsonField(const std::string& json, const std::string& object, const std::string& field) {
    return nlohmann::json::parse(json).at(object).at(field).dump();
}

TEST(BatchGenerator, MakesTheMapAndReportTheWindowProgramMakes) {
    struct Case {
        const char* settings;  // contents of the settings file, or nullptr for the presets
        const char* seed;
        int generations;
    } cases[] = {
        {nullptr, "42", 9},
        {"xsize=1\nysize=1\n", "5", 3},
        {"xsize=7, ysize=3\nlandcolor=14\n", "77", 6},
        {"xsize=20\nysize=10\nwatercolor=-1\nforestcolor=6\n", "31", 4},  // transparent water, two colours alike
        {"xsize=61\nysize=45\nleftrightflow=50\nupflowenabled=1\nupflowratio=30\ndownupflow=70\n", "-12", 15},
        {"xsize=120\nysize=90\noceanedgesizex=10\noceanedgesizey=4\nrandratio=7\n", "3", 4},
        {"xsize=50\nysize=40\nrandom1=0\n", "", 5},
        {"xsize=33\nysize=20\n", "0", 2},  // a seed from the clock
        // Worlds: the report counts the sea with the water, drawn in the water colour or its own.
        {"xsize=160\nysize=120\ncontinents=3\noceanedgesizey=5\nleftrightflow=30\n", "8", 7},
        {"xsize=400\nysize=400\ncontinents=4\nseacolor=11\nislands=90\n", "21", 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settings ? c.settings : "presets");
        TempDir dir;
        std::vector<const char*> args;
        if (c.settings) writeBytes(dir.path() / "world.ini", c.settings);
        Session window =
            windowSession(dir, c.settings ? "world" : "", c.seed, c.generations,
                          c.settings == nullptr || std::string(c.settings).find("random1=0") == std::string::npos);
        ASSERT_EQ(window.status, 0);

        const std::string generations = std::to_string(c.generations);
        BatchRun run = c.settings
                           ? batch({"--settings", "world.ini", "--seed", c.seed[0] ? c.seed : "1", "--generations",
                                    generations.c_str(), "--out", "batch.png", "--stats", "batch.json"},
                                   dir)
                           : batch({"--seed", c.seed, "--generations", generations.c_str(), "--out", "batch.png",
                                    "--stats", "batch.json"},
                                   dir);
        ASSERT_EQ(run.status, 0) << run.err;

        const auto windowPng = decodePng(dir.path() / "saved.png");
        const auto batchPng = decodePng(dir.path() / "batch.png");
        ASSERT_TRUE(windowPng && batchPng);
        EXPECT_EQ(batchPng->width, windowPng->width);
        EXPECT_EQ(batchPng->height, windowPng->height);
        EXPECT_TRUE(batchPng->pixels == windowPng->pixels) << "the pictures differ";

        const std::string json = readBytes(dir.path() / "batch.json");
        // The report's figures are the JSON's (which holds every digit of the shares).
        auto shown = [&](const char* object) {
            const std::string text = jsonField(json, object, "percent");
            double value = 0;
            std::from_chars(text.data(), text.data() + text.size(), value);
            return realToText(value);
        };
        EXPECT_EQ(window.row(30), " Variations ended at: " + jsonField(json, "unchanged", "cells") + " variations. " +
                                      std::to_string(c.generations + 1) + " total cyles.");
        const nlohmann::json figures = nlohmann::json::parse(json);
        const std::int64_t sea = figures["sea"]["cells"], water = figures["water"]["cells"];
        const std::string waterShown =
            sea == 0 ? shown("water")
                     : realToText(static_cast<double>((water + sea) * 100) / figures["cells"].get<double>());
        EXPECT_EQ(window.row(32), " Percent color " + jsonField(json, "water", "color") + ": " + waterShown + "%");
        EXPECT_EQ(window.row(33), " Percent color " + jsonField(json, "land", "color") + ": " + shown("land") + "%");
        EXPECT_EQ(window.row(34),
                  " Percent color " + jsonField(json, "unchanged", "color") + ": " + shown("unchanged") + "%");
    }
}

TEST(BatchGenerator, StatisticsNameTheSeedSizeSettingsAndCycles) {
    TempDir dir;
    writeBytes(dir.path() / "w.ini", "landcolor=12\nspeed=3\n");
    BatchRun run = batch(
        {"--settings", "w.ini", "--seed", "9", "--size", "30x20", "--generations", "4", "--stats", "s.json"}, dir);
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json json = statsOf(dir.path() / "s.json");
    EXPECT_EQ(json["seed"], 9);
    EXPECT_EQ(json["seedUsed"], true);
    EXPECT_EQ(json["width"], 30);
    EXPECT_EQ(json["height"], 20);
    EXPECT_EQ(json["generations"], 4);
    EXPECT_EQ(json["cycles"], 5);
    EXPECT_EQ(json["cells"], 600);
    EXPECT_EQ(json["stable"], false);
    EXPECT_EQ(json["settled"], false);
    EXPECT_TRUE(json["settledAt"].is_null());
    ASSERT_EQ(json["settings"].size(), kSettingsKeys.size());
    EXPECT_EQ(json["settings"]["landcolor"], 12);
    EXPECT_EQ(json["settings"]["speed"], 3);
    EXPECT_EQ(json["settings"]["xsize"], 30);
    EXPECT_EQ(
        json["water"]["cells"].get<int>() + json["land"]["cells"].get<int>() + json["unchanged"]["cells"].get<int>(),
        600);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "s.png"));
}

TEST(BatchGenerator, SeveralSeedsMakeOneMapEach) {
    TempDir dir;
    BatchRun run = batch(
        {"--seed", "3-5", "--size", "16x16", "--generations", "3", "--out", "m.png", "--stats", "s-{seed}.json"}, dir);
    ASSERT_EQ(run.status, 0) << run.err;
    for (const char* name : {"m-3.png", "m-4.png", "m-5.png", "s-3.json", "s-4.json", "s-5.json"})
        EXPECT_TRUE(std::filesystem::exists(dir.path() / name)) << name;
    EXPECT_NE(readBytes(dir.path() / "m-3.png"), readBytes(dir.path() / "m-4.png"));
    // The same seed alone gives the same map as within the range.
    ASSERT_EQ(batch({"--seed", "4", "--size", "16x16", "--generations", "3", "--out", "one.png"}, dir).status, 0);
    EXPECT_EQ(decodePng(dir.path() / "one.png")->pixels, decodePng(dir.path() / "m-4.png")->pixels);
}

// Every regular file under a directory, by its name there: its bytes.
std::map<std::string, std::string> filesUnder(const std::filesystem::path& directory) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(directory))
        if (entry.is_regular_file())
            files[std::filesystem::relative(entry.path(), directory).string()] = readBytes(entry.path());
    return files;
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// A manifest's lines, each read by a real JSON parser (a malformed line fails the test).
std::vector<nlohmann::json> manifestLines(const std::filesystem::path& file) {
    std::vector<nlohmann::json> lines;
    std::istringstream text(readBytes(file));
    for (std::string line; std::getline(text, line);) lines.push_back(nlohmann::json::parse(line));
    return lines;
}

// Maps made side by side are the maps made one at a time, byte for byte, and are told of in
// seed order: random flows (which the engine would share between threads on a larger map) and
// all three outputs.
TEST(BatchGenerator, MapsMadeSideBySideAreTheMapsMadeOneAtATime) {
    TempDir dir;
    for (const char* jobs : {"1", "3"}) {
        const std::string folder = std::string("j") + jobs;
        std::filesystem::create_directory(dir.path() / folder);
        const std::string png = folder + "/{seed}.png", json = folder + "/{seed}.json", npy = folder + "/{seed}.npy",
                          manifest = folder + ".jsonl";
        BatchRun run = batch({"--seed",        "2-12",
                              "--size",        "45x31",
                              "--generations", "9",
                              "--set",         "downupflow=60",
                              "--set",         "upflowenabled=1",
                              "--set",         "leftrightflow=70",
                              "--out",         png.c_str(),
                              "--stats",       json.c_str(),
                              "--grid",        npy.c_str(),
                              "--manifest",    manifest.c_str(),
                              "--jobs",        jobs},
                             dir);
        ASSERT_EQ(run.status, 0) << run.err;
    }
    const auto one = filesUnder(dir.path() / "j1");
    EXPECT_EQ(one.size(), 33u);
    EXPECT_TRUE(one == filesUnder(dir.path() / "j3"));
    const std::vector<nlohmann::json> lines = manifestLines(dir.path() / "j3.jsonl");
    ASSERT_EQ(lines.size(), 11u);
    for (int seed = 2; seed <= 12; ++seed) {
        const nlohmann::json& line = lines[static_cast<std::size_t>(seed - 2)];
        const std::filesystem::path stats = dir.path() / "j3" / (std::to_string(seed) + ".json");
        EXPECT_EQ(line["seed"], seed);
        EXPECT_EQ(line["files"]["stats"], stats.string());
        EXPECT_EQ(line["files"]["grid"], (dir.path() / "j3" / (std::to_string(seed) + ".npy")).string());
        EXPECT_EQ(line["statistics"], statsOf(stats));
    }
    // The manifests differ only in the folder's name.
    EXPECT_EQ(replaceAll(readBytes(dir.path() / "j1.jsonl"), "/j1/", "/j3/"), readBytes(dir.path() / "j3.jsonl"));
}

// A range's files go to the disk together: no flush of each file, but one of the file system
// before any of them takes its name (in seed order), and the manifest tells of them only after
// it. A flush that fails is an error: no map file, no line, no temporary file.
TEST(BatchGenerator, ARangeIsFlushedTogetherBeforeItIsReported) {
    for (const int error : {0, EIO}) {
        TempDir dir;
        FaultyFileSystem files;
        files.fileSystemSyncError = error;
        BatchRun run = batchArgs({"--seed", "1-3", "--size", "16x16", "--generations", "2", "--out", "{seed}.png",
                                  "--stats", "{seed}.json", "--manifest", "m.jsonl", "--jobs", "2"},
                                 dir, 500.5, false, files);
        if (error != 0) {
            EXPECT_EQ(run.status, 1);
            EXPECT_NE(run.err.find("cannot write " + (dir.path() / "1.png").string() + ": input/output error"),
                      std::string::npos)
                << run.err;
            EXPECT_EQ(fileNames(dir.path()), std::set<std::string>{"m.jsonl"});
            EXPECT_EQ(readBytes(dir.path() / "m.jsonl"), "");
            continue;
        }
        ASSERT_EQ(run.status, 0) << run.err;
        ASSERT_GE(files.events.size(), 8u);
        EXPECT_EQ(files.events[0], "sync-file-system " + dir.path().string());
        std::vector<std::string> renamed;
        for (const std::string& event : files.events)
            if (event.starts_with("rename ")) renamed.push_back(std::filesystem::path(event).filename().string());
        EXPECT_EQ(renamed, (std::vector<std::string>{"1.png", "1.json", "2.png", "2.json", "3.png", "3.json"}));
        EXPECT_EQ(files.events.back(), "sync-directory " + dir.path().string());
        EXPECT_EQ(files.fileSyncs, 1);  // the manifest's, at the end
        EXPECT_EQ(manifestLines(dir.path() / "m.jsonl").size(), 3u);
    }
}

// The manifest is appended to, never replaced, and otherwise follows the output rule: through
// a symbolic link, into a FIFO; a directory is refused before any work, and so is a manifest
// that names an output. File names that are not UTF-8 still make lines of valid JSON.
TEST(BatchGenerator, TheManifestIsAppendedToByTheOutputRule) {
    TempDir dir;
    const auto& d = dir.path();
    std::filesystem::create_directory(d / "logs");
    std::filesystem::create_symlink("logs/all.jsonl", d / "link.jsonl");
    // Stray bytes, the leads C0 and C1 (overlong forms), a surrogate and a code point past U+10FFFF.
    const char* odd = "q\"\\\x01\xff\xc3\xa9\xc0\xaf\xc1\xbf\xed\xa0\x80\xf4\x90\x80\x80{seed}.json";
    for (int round = 0; round < 2; ++round)
        ASSERT_EQ(
            batch({"--seed", "5-6", "--size", "8x8", "--generations", "1", "--stats", odd, "--manifest", "link.jsonl"},
                  dir)
                .status,
            0);
    EXPECT_TRUE(isKind(d / "link.jsonl", S_IFLNK));
    const std::vector<nlohmann::json> lines = manifestLines(d / "logs" / "all.jsonl");
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[3]["seed"], 6);
    // A byte that is no UTF-8 reads as the character of its Latin-1 reading.
    EXPECT_EQ(lines[3]["files"]["stats"], (d / "q\"\\\x01\xc3\xbf\xc3\xa9\xc3\x80\xc2\xaf\xc3\x81\xc2\xbf\xc3\xad\xc2"
                                               "\xa0\xc2\x80\xc3\xb4\xc2\x90\xc2\x80\xc2\x80"
                                               "6.json")
                                              .string());
    EXPECT_EQ(lines[3]["statistics"], statsOf(d / "q\"\\\x01\xff\xc3\xa9\xc0\xaf\xc1\xbf\xed\xa0\x80\xf4\x90\x80\x80"
                                                  "6.json"));

    FifoReader fifo(d / "pipe.jsonl");
    ASSERT_EQ(batch({"--seed", "7", "--size", "8x8", "--stats", "p.json", "--manifest", "pipe.jsonl"}, dir).status, 0);
    EXPECT_EQ(nlohmann::json::parse(fifo.take())["files"]["stats"], (d / "p.json").string());

    std::filesystem::create_directory(d / "dir.jsonl");
    BatchRun folder = batch({"--seed", "7", "--size", "8x8", "--stats", "x.json", "--manifest", "dir.jsonl"}, dir);
    EXPECT_EQ(folder.status, 1);
    EXPECT_NE(
        folder.err.find("cannot write to the manifest " + (d / "dir.jsonl").string() + ": a directory has that name"),
        std::string::npos)
        << folder.err;
    BatchRun same = batch({"--seed", "7", "--size", "8x8", "--stats", "s.json", "--manifest", "s.json"}, dir);
    EXPECT_EQ(same.status, 2);
    EXPECT_NE(same.err.find("name the same file"), std::string::npos) << same.err;
    EXPECT_FALSE(std::filesystem::exists(d / "x.json") || std::filesystem::exists(d / "s.json"));
}

TEST(BatchGenerator, AClockSeedIsPrintedAndTypingItGivesTheSameMap) {
    TempDir dir;
    BatchRun run = batch({"--seed", "clock", "--size", "40x30", "--generations", "5", "--out", "c.png"}, dir, 1234.9);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("1234"), std::string::npos) << run.out;
    ASSERT_EQ(batch({"--seed", "1234", "--size", "40x30", "--generations", "5", "--out", "t.png"}, dir, 99.0).status,
              0);
    EXPECT_EQ(decodePng(dir.path() / "c.png")->pixels, decodePng(dir.path() / "t.png")->pixels);
}

TEST(BatchGenerator, UntilStableStopsAtTheFirstGenerationThatChangesNothing) {
    TempDir dir;
    // Without flows and with land that never turns back, the map settles quickly.
    writeBytes(dir.path() / "calm.ini", "downupflow=0\nleftrightflow=0\nlandwaterratio=99\nlandmasssize=99\n");
    BatchRun run = batch({"--settings", "calm.ini", "--seed", "8", "--size", "24x24", "--generations", "1000",
                          "--until-stable", "--stats", "s.json"},
                         dir);
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json json = statsOf(dir.path() / "s.json");
    EXPECT_EQ(json["stable"], true);
    EXPECT_EQ(json["settled"], true);
    EXPECT_LT(json["generations"], 1000);
    EXPECT_EQ(json["settledAt"], json["generations"]);
    EXPECT_EQ(json["unchanged"]["percent"], 100);
}

TEST(BatchGenerator, FailuresAreClearAndLeaveNoPartialFiles) {
    TempDir dir;
    BatchRun run = batch({"--settings", "missing.ini", "--seed", "1", "--out", "a.png"}, dir);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("cannot read the settings file"), std::string::npos) << run.err;

    writeBytes(dir.path() / "keep.png", "old");
    std::filesystem::create_directory(dir.path() / "keep.png.d");
    run = batch({"--seed", "1", "--size", "8x8", "--out", "nowhere/a.png"}, dir);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("cannot write"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("no such directory"), std::string::npos) << run.err;
    EXPECT_EQ(fileNames(dir.path()), (std::set<std::string>{"keep.png", "keep.png.d"}));
}

TEST(BatchGenerator, ClampsOutOfRangeSettingsAndSaysSo) {
    TempDir dir;
    writeBytes(dir.path() / "odd.ini", "xsize=0\nysize=9\noceanedgesizex=-4\n");
    BatchRun run = batch({"--settings", "odd.ini", "--seed", "1", "--stats", "s.json"}, dir);
    ASSERT_EQ(run.status, 0);
    EXPECT_NE(run.err.find("xsize 0 is out of range; using 1"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("oceanedgesizex -4"), std::string::npos) << run.err;
    EXPECT_EQ(statsOf(dir.path() / "s.json")["cells"], 9);
    // The world's keys go into their ranges.
    run = batch({"--seed", "1", "--size", "9x9", "--set", "continents=40", "--set", "landshare=0", "--set",
                 "islands=-3", "--stats", "s.json"},
                dir);
    ASSERT_EQ(run.status, 0);
    for (const char* told : {"continents 40 is out of range; using 16", "landshare 0 is out of range; using 1",
                             "islands -3 is out of range; using 0"})
        EXPECT_NE(run.err.find(told), std::string::npos) << run.err;
}

TEST(BatchGenerator, ProgressShowsOnlyOnATerminalOrWhenAskedFor) {
    TempDir dir;
    BatchRun quiet = batch({"--seed", "1", "--size", "64x64", "--generations", "3", "--stats", "s.json"}, dir);
    EXPECT_EQ(quiet.err, "");
    BatchRun shown =
        batch({"--seed", "1", "--size", "64x64", "--generations", "3", "--stats", "s.json", "--progress"}, dir);
    // "[###...] 66% generation 2/3, 41.5 generations/s, 0:00 left"
    const std::size_t generation = shown.err.find("% generation ");
    ASSERT_NE(generation, std::string::npos) << shown.err;
    const std::size_t rate = shown.err.find(" generations/s, ", generation);
    ASSERT_NE(rate, std::string::npos) << shown.err;
    EXPECT_NE(shown.err.find(" left\x1b[K", rate), std::string::npos) << shown.err;
    EXPECT_EQ(shown.err.substr(shown.err.size() - 4), "\r\x1b[K");  // the bar is wiped at the end
    // A range counts maps; its last state is always drawn before it is wiped.
    BatchRun range = batch(
        {"--seed", "1-3", "--size", "16x16", "--generations", "3", "--stats", "s.json", "--progress", "--jobs", "2"},
        dir);
    EXPECT_NE(range.err.find("[" + std::string(30, '#') + "] 100% 3/3 maps, "), std::string::npos) << range.err;
    EXPECT_NE(range.err.find(" maps/s, 0:00 left"), std::string::npos) << range.err;
    EXPECT_EQ(range.err.find("generation"), std::string::npos);
    EXPECT_EQ(range.err.substr(range.err.size() - 4), "\r\x1b[K");
}

TEST(BatchProgram, ExitStatusesOfTheRealProgram) {
    TempDir dir;
    const std::string program = "cd '" + dir.path().string() + "' && '" ORVANDEL_BATCH_PATH "' ";
    EXPECT_EQ(runCommand(program + "--help >help.txt"), 0);
    EXPECT_NE(readBytes(dir.path() / "help.txt").find("usage: orvandel-batch"), std::string::npos);
    EXPECT_EQ(runCommand(program + "--version >/dev/null"), 0);
    EXPECT_EQ(runCommand(program + "--size 3x3 --out a.png 2>err.txt"), 2);
    EXPECT_NE(readBytes(dir.path() / "err.txt").find("--seed is required"), std::string::npos);
    EXPECT_EQ(runCommand(program + "--seed 5 --size 20x10 --generations 2 --out a.png --stats a.json 2>err.txt"), 0);
    EXPECT_EQ(readBytes(dir.path() / "err.txt"), "");  // silent when stderr is not a terminal
    EXPECT_EQ(decodePng(dir.path() / "a.png")->width, 20u);
    EXPECT_EQ(runCommand(program + "--seed 5 --out missing/a.png 2>/dev/null"), 1);
}

// A .npy file as NumPy reads it: the magic, version 1.0, a header padded to a multiple of 64
// bytes ending in a newline, and the bytes after it.
struct Npy {
    std::string header;
    std::string data;
};
std::optional<Npy> readNpy(const std::filesystem::path& path) {
    const std::string bytes = readBytes(path);
    if (bytes.size() < 10 || bytes.compare(0, 8, std::string("\x93NUMPY\x01\x00", 8)) != 0) return std::nullopt;
    const std::size_t length =
        static_cast<std::uint8_t>(bytes[8]) | static_cast<std::size_t>(static_cast<std::uint8_t>(bytes[9])) << 8;
    if (bytes.size() < 10 + length || (10 + length) % 64 != 0 || bytes[9 + length] != '\n') return std::nullopt;
    return Npy{bytes.substr(10, length), bytes.substr(10 + length)};
}

// The grid holds, cell for cell, the class of the colour the picture shows there.
TEST(BatchGenerator, GridHoldsTheClassesThePictureShows) {
    TempDir dir;
    for (const char* generations : {"7", "0"}) {
        ASSERT_EQ(batch({"--seed", "11", "--size", "37x23", "--generations", generations, "--out", "m.png", "--grid",
                         "g.npy"},
                        dir)
                      .status,
                  0);
        const std::optional<Npy> npy = readNpy(dir.path() / "g.npy");
        const std::optional<DecodedPng> png = decodePng(dir.path() / "m.png");
        ASSERT_TRUE(npy && png);
        EXPECT_EQ(npy->header.substr(0, npy->header.find_last_not_of(" \n") + 1),
                  "{'descr': '|u1', 'fortran_order': False, 'shape': (23, 37), }");
        ASSERT_EQ(npy->data.size(), 37u * 23u);
        Settings s;
        applyPresets(s);
        const std::map<std::uint32_t, char> classOf{
            {paletteColor(s.watercolor), 0}, {paletteColor(s.landcolor), 1}, {paletteColor(s.forestcolor), 2}};
        std::set<char> seen;
        for (std::uint32_t y = 0; y < 23; ++y)
            for (std::uint32_t x = 0; x < 37; ++x) {
                const char cell = npy->data[y * 37 + x];
                seen.insert(cell);
                const auto drawn = classOf.find(png->at(x, y));
                // Nothing drawn yet: the picture is black and every cell unchanged.
                EXPECT_EQ(cell, drawn == classOf.end() ? 2 : drawn->second)
                    << x << ", " << y << " after " << generations;
            }
        EXPECT_EQ(seen.size(), std::string(generations) == "0" ? 1u : 3u);
    }
}

// A world: its sea, held through every generation, is drawn in seacolor, written as class 3 in
// the grid and counted apart in the statistics, which add its land masses; the margins are sea.
// A classic map has no sea and no land masses. Until-settled still stops.
TEST(BatchGenerator, WorldsShowTheirSeaInPictureGridAndStatistics) {
    TempDir dir;
    BatchRun run = batch(
        {"--seed", "5", "--size", "96x80", "--set", "continents=3", "--set", "seacolor=9", "--set", "oceanedgesizex=4",
         "--generations", "40", "--until-settled", "--out", "w.png", "--grid", "w.npy", "--stats", "w.json"},
        dir);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::optional<Npy> npy = readNpy(dir.path() / "w.npy");
    const std::optional<DecodedPng> png = decodePng(dir.path() / "w.png");
    ASSERT_TRUE(npy && png);
    const nlohmann::json json = statsOf(dir.path() / "w.json");
    std::int64_t sea = 0;
    for (std::uint32_t y = 0; y < 80; ++y)
        for (std::uint32_t x = 0; x < 96; ++x) {
            const bool isSea = npy->data[y * 96 + x] == 3;
            sea += isSea;
            ASSERT_EQ(isSea, png->at(x, y) == paletteColor(9)) << x << ", " << y;
            if (x + 1 < 4 || x + 1 > 92) {
                ASSERT_TRUE(isSea) << x << ", " << y;  // the margins
            }
        }
    EXPECT_EQ(json["sea"]["cells"], sea);
    EXPECT_EQ(json["sea"]["color"], 9);
    EXPECT_EQ(json["sea"]["percent"], static_cast<double>(sea * 100) / (96 * 80));
    EXPECT_EQ(json["water"]["cells"].get<std::int64_t>() + json["land"]["cells"].get<std::int64_t>() +
                  json["unchanged"]["cells"].get<std::int64_t>() + sea,
              96 * 80);
    EXPECT_TRUE(json["settled"].get<bool>());
    EXPECT_LT(json["generations"].get<int>(), 40);
    const std::vector<std::int64_t> masses = json["landMasses"]["cells"];
    EXPECT_EQ(json["landMasses"]["count"], masses.size());
    EXPECT_TRUE(std::is_sorted(masses.rbegin(), masses.rend()));
    EXPECT_EQ(std::accumulate(masses.begin(), masses.end(), std::int64_t{0}), 96 * 80 - sea);
    EXPECT_GT(sea, 96 * 80 / 3);
    EXPECT_LT(sea, 96 * 80 * 4 / 5);

    ASSERT_EQ(batch({"--seed", "5", "--size", "96x80", "--stats", "c.json"}, dir).status, 0);
    const nlohmann::json classic = statsOf(dir.path() / "c.json");
    EXPECT_EQ(classic["sea"]["cells"], 0);
    EXPECT_EQ(classic["sea"]["color"], 1);  // seacolor -1: the water colour
    EXPECT_FALSE(classic.contains("landMasses"));
}

// A world's terrain files: the 16-bit PNG holds the .npy's heights (as its documented grey), the
// classes and the statistics agree, every point of a river lies on a river cell (but where it
// leaves a lake or reaches water), the atlas and heights carry the recipe; a classic
// map refuses them all before any work.
TEST(BatchGenerator, AWorldsTerrainFilesAgree) {
    TempDir dir;
    const BatchRun run =
        batch({"--seed",       "11",    "--size",    "200x150",   "--generations", "6",         "--set",
               "continents=3", "--set", "rivers=80", "--height",  "h.npy",         "--terrain", "t.npy",
               "--atlas",      "a.png", "--rivers",  "r.geojson", "--stats",       "s.json"},
              dir);
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(batch({"--seed", "11", "--size", "200x150", "--generations", "6", "--set", "continents=3", "--set",
                     "rivers=80", "--height", "h.png"},
                    dir)
                  .status,
              0);
    const std::string heights = readBytes(dir.path() / "h.npy"), classes = readBytes(dir.path() / "t.npy");
    const std::size_t cells = 200 * 150, heightsAt = heights.size() - 2 * cells, classesAt = classes.size() - cells;
    const auto png = decodePng(dir.path() / "h.png");
    ASSERT_TRUE(png && png->bitDepth == 16 && png->colorType == 0);
    std::size_t mismatches = 0;
    for (std::size_t i = 0; i < cells; ++i) {
        const auto metres = static_cast<std::int16_t>(static_cast<std::uint8_t>(heights[heightsAt + 2 * i]) |
                                                      static_cast<std::uint8_t>(heights[heightsAt + 2 * i + 1]) << 8);
        const int grey = png->samples[2 * i] << 8 | png->samples[2 * i + 1];
        mismatches += grey != static_cast<int>(std::lround((metres + 8000) * 65535.0 / 16000.0));
        mismatches += (metres > 0) != (classes[classesAt + i] != 0);  // land above the sea level
    }
    EXPECT_EQ(mismatches, 0u);
    const nlohmann::json stats = statsOf(dir.path() / "s.json");
    EXPECT_EQ(stats["terrain"]["river"]["cells"],
              std::count(classes.begin() + static_cast<long>(classesAt), classes.end(), 2));
    const nlohmann::json rivers = nlohmann::json::parse(readBytes(dir.path() / "r.geojson"));
    ASSERT_EQ(rivers["type"], "FeatureCollection");
    ASSERT_FALSE(rivers["features"].empty());
    for (const nlohmann::json& river : rivers["features"]) {
        const nlohmann::json& points = river["geometry"]["coordinates"];
        // The last point is half a step into the water the river reaches, the first of a river
        // from a lake half a step inside it (on a cell's edge or corner): the others are cells of
        // the river.
        for (std::size_t k = river["properties"]["fromLake"].is_null() ? 0 : 1; k + 1 < points.size(); ++k) {
            const auto x = static_cast<long>(std::floor(points[k][0].get<double>()));
            const auto y = static_cast<long>(std::floor(points[k][1].get<double>()));
            const char c = classes[classesAt + static_cast<std::size_t>((y % 150 + 150) % 150) * 200 +
                                   static_cast<std::size_t>((x % 200 + 200) % 200)];
            EXPECT_EQ(c, 2) << river["id"] << " " << k;
        }
    }
    for (const char* picture : {"a.png", "h.png"}) {
        const auto decoded = decodePng(dir.path() / picture);
        ASSERT_TRUE(decoded);
        EXPECT_NE(std::find_if(decoded->texts.begin(), decoded->texts.end(),
                               [](const auto& t) { return t.first == "Orvandel seed" && t.second == "11"; }),
                  decoded->texts.end())
            << picture;
    }
    for (const char* option : {"--height", "--terrain", "--atlas", "--rivers"}) {
        const BatchRun classic = batch({"--seed", "11", "--size", "20x20", option, "c.npy", "--stats", "c.json"}, dir);
        EXPECT_EQ(classic.status, 2);
        EXPECT_NE(classic.err.find(std::string(option) + " needs a world: continents is 0"), std::string::npos)
            << classic.err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "c.json"));
}

// A setting given with --set goes after the settings file and is read by its rules: any letter
// case, blanks around, "&h" numbers. XSIZE holds a "Z": every upper-case letter is lowered.
TEST(BatchGenerator, SetGoesAfterTheSettingsFileAndReadsLikeIt) {
    TempDir dir;
    writeBytes(dir.path() / "w.ini", "landcolor=3\nXSIZE=20\nYSIZE=10\nwatercolor=4\n");
    BatchRun run = batch({"--settings", "w.ini", "--set", "landcolor=&hC", "--set", " WaterColor = 9 ", "--set",
                          "forestcolor=5, beachshow=7", "--seed", "3", "--stats", "s.json"},
                         dir);
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json json = statsOf(dir.path() / "s.json");
    EXPECT_EQ(json["width"], 20);
    EXPECT_EQ(json["height"], 10);
    EXPECT_EQ(json["settings"]["landcolor"], 12);
    EXPECT_EQ(json["settings"]["watercolor"], 9);
    EXPECT_EQ(json["settings"]["forestcolor"], 5);  // every item of a line
    EXPECT_EQ(json["settings"]["beachshow"], 7);
}

// Every batch PNG carries its recipe; --from makes the same map again from it alone: the same
// pixels and the same statistics, for the presets, settings with flows, and clock seeds (one
// that reads 0 included, which no --seed can give).
TEST(BatchGenerator, TheRecipeInThePngMakesTheSameMapAgain) {
    TempDir dir;
    writeBytes(dir.path() / "flows.ini",
               "xsize=61\nysize=45\nleftrightflow=50\nupflowenabled=1\nupflowratio=30\n"
               "downupflow=70\nerosion=1\nlandcolor=14\n");
    struct Case {
        std::vector<const char*> args;
        double clock;
    } cases[] = {
        {{"--seed", "42", "--generations", "30"}, 9.0},
        {{"--settings", "flows.ini", "--seed", "-12", "--generations", "15"}, 9.0},
        {{"--seed", "8", "--size", "64x48", "--set", "continents=3", "--set", "seacolor=4"}, 9.0},
        {{"--seed", "clock", "--size", "40x30", "--generations", "5", "--until-settled"}, 1234.9},
        {{"--seed", "0", "--size", "33x20", "--generations", "200", "--until-settled"}, 0.5},
    };
    for (const Case& c : cases) {
        std::vector<const char*> args = c.args;
        args.insert(args.end(), {"--out", "a.png", "--stats", "a.json"});
        BatchRun first = batchArgs(args, dir, c.clock);
        ASSERT_EQ(first.status, 0) << first.err;
        BatchRun again = batch({"--from", "a.png", "--out", "b.png", "--stats", "b.json"}, dir, 77.0);
        ASSERT_EQ(again.status, 0) << again.err;
        EXPECT_EQ(again.out, "");  // no clock was read
        EXPECT_EQ(readBytes(dir.path() / "b.json"), readBytes(dir.path() / "a.json")) << c.args[1];
        const auto a = decodePng(dir.path() / "a.png"), b = decodePng(dir.path() / "b.png");
        ASSERT_TRUE(a && b);
        EXPECT_TRUE(a->pixels == b->pixels) << c.args[1];
        EXPECT_EQ(a->texts, b->texts);  // the remade map tells the same recipe
        ASSERT_FALSE(a->texts.empty());
        EXPECT_EQ(a->texts[0].first, "Software");
    }
    // libpng reads the recipe as text chunks; the settings are a settings file's lines.
    const auto png = decodePng(dir.path() / "a.png");
    const auto settings = std::find_if(png->texts.begin(), png->texts.end(),
                                       [](const auto& t) { return t.first == "Orvandel settings"; });
    ASSERT_NE(settings, png->texts.end());
    EXPECT_NE(settings->second.find("\nxsize=33\nysize=20\n"), std::string::npos) << settings->second;
    EXPECT_NE(std::find(png->texts.begin(), png->texts.end(),
                        std::pair<std::string, std::string>{"Orvandel seed source", "clock"}),
              png->texts.end());

    // A recipe made before the world's keys existed lacks them: they keep their presets.
    Recipe old;
    applyPresets(old.settings);
    old.settings.landcolor = 3;
    TextChunks texts = recipeTexts(old);
    std::string& lines = texts.back().second;
    lines.erase(lines.find("continents="));
    std::string why;
    const std::optional<Recipe> read = recipeFromTexts(texts, why);
    ASSERT_TRUE(read) << why;
    EXPECT_EQ(read->settings, old.settings);

    // Worlds of 1.x came from another pyramid: their recipes are refused, naming both versions;
    // a classic map of 1.x is made again, with the warning of another major version.
    for (const std::int32_t continents : {3, 0}) {
        Recipe made;
        made.program = "orvandel-batch 1.1.0";
        applyPresets(made.settings);
        made.settings.xsize = 24;
        made.settings.ysize = 16;
        made.settings.continents = continents;
        made.seed = 4;
        made.generations = 2;
        MapPicture picture;
        MapRequest request;
        request.settings = made.settings;
        generateMap(request, picture);
        ASSERT_FALSE(writeMapPng(dir.path() / "old.png", picture, recipeTexts(made)));
        BatchRun remade = batch({"--from", "old.png", "--out", "new.png"}, dir);
        if (continents > 0) {
            EXPECT_EQ(remade.status, 1);
            for (const char* told : {"old.png again: it was made by orvandel-batch 1.1.0, whose worlds this version (",
                                     ") makes differently; classic maps (continents=0) it still makes"})
                EXPECT_NE(remade.err.find(told), std::string::npos) << remade.err;
            EXPECT_FALSE(std::filesystem::exists(dir.path() / "new.png"));
        } else {
            EXPECT_EQ(remade.status, 0) << remade.err;
            EXPECT_NE(remade.err.find("whose maps may differ"), std::string::npos) << remade.err;
        }
    }

    // A PNG without a recipe, and a file that is no PNG, are refused with the reason.
    ImageBuffer image = noisyImage(4, 4, 16);
    ASSERT_FALSE(writePngFile(dir.path() / "plain.png", &image));
    BatchRun plain = batch({"--from", "plain.png", "--out", "c.png"}, dir);
    EXPECT_EQ(plain.status, 1);
    EXPECT_NE(plain.err.find("holds no recipe"), std::string::npos) << plain.err;
    writeBytes(dir.path() / "text.png", "not a picture");
    BatchRun text = batch({"--from", "text.png", "--out", "c.png"}, dir);
    EXPECT_EQ(text.status, 1);
    EXPECT_NE(text.err.find("not a PNG file"), std::string::npos) << text.err;
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "c.png"));
}

// A PNG's bytes with raw chunks put in after its IHDR: a recipe as a hostile file may hold one.
std::string withChunks(std::string png, const std::vector<std::pair<std::string, std::string>>& chunks) {
    std::string raw;
    for (const auto& [type, data] : chunks) {
        const auto length = static_cast<std::uint32_t>(data.size());
        for (int shift = 24; shift >= 0; shift -= 8) raw += static_cast<char>(length >> shift);
        const std::string body = type + data;
        raw += body;
        const auto crc = static_cast<std::uint32_t>(
            crc32(0L, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size())));
        for (int shift = 24; shift >= 0; shift -= 8) raw += static_cast<char>(crc >> shift);
    }
    return png.insert(33, raw);
}

std::string deflated(const std::string& text) {
    uLongf size = compressBound(static_cast<uLong>(text.size()));
    std::string packed(size, '\0');
    compress(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(text.data()),
             static_cast<uLong>(text.size()));
    packed.resize(size);
    return packed;
}

// What a recipe may not be: a part missing or twice, a value no program writes, a key unknown
// (from this major version; from another it is left out with a warning).
TEST(BatchGenerator, DamagedRecipesAreToldApart) {
    Recipe made;
    applyPresets(made.settings);
    made.program = "orvandel-batch " + orvandel::version();
    auto read = [](const TextChunks& texts, std::vector<std::string>* warnings = nullptr) {
        std::string why;
        const std::optional<Recipe> r = recipeFromTexts(texts, why, warnings);
        return r ? std::string() : why;
    };
    auto with = [&](const std::string& keyword, const std::string& text) {
        TextChunks texts = recipeTexts(made);
        for (auto& [k, t] : texts)
            if (k == keyword) t = text;
        return texts;
    };
    EXPECT_EQ(read(recipeTexts(made)), "");
    EXPECT_NE(read(with("Orvandel size", "100000x2")).find("the size '100000x2'"), std::string::npos);
    EXPECT_NE(read(with("Orvandel size", "2147483647x1")).find("damaged"), std::string::npos);
    EXPECT_NE(read(with("Orvandel generations", "-1")).find("the generations '-1'"), std::string::npos);
    std::string settings = recipeTexts(made).back().second;
    EXPECT_NE(read(with("Orvandel settings", settings + "continents=99\n")).find("given twice"), std::string::npos);
    settings.replace(settings.find("landshare=40"), 12, "landshare=400");
    EXPECT_NE(read(with("Orvandel settings", settings)).find("landshare=400 (its range: 1 .. 99)"), std::string::npos);
    TextChunks twice = recipeTexts(made);
    twice.push_back(twice[1]);
    EXPECT_NE(read(twice).find("'Orvandel seed' is given twice"), std::string::npos);
    const std::string unknown = recipeTexts(made).back().second + "riverdepth=3\n";
    EXPECT_NE(read(with("Orvandel settings", unknown)).find("the settings line 'riverdepth=3'"), std::string::npos);
    std::vector<std::string> warnings;
    TextChunks other = with("Orvandel settings", unknown);
    other[0].second = "orvandel-batch 99.0.0";
    EXPECT_EQ(read(other, &warnings), "");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("'riverdepth=3' is unknown to version"), std::string::npos);
}

// --from reads a regular file only, and only so much text: a FIFO is refused at once; a keyword
// of no length is damage; Latin-1 text comes out as UTF-8; texts inflating past any recipe (a
// small file that would take gigabytes) are refused before they are held.
TEST_F(BatchHostileRecipes, FromReadsRegularFilesAndRecipesOfRecipeSize) {
    ImageBuffer image = noisyImage(4, 4, 16);
    const std::string png = [&] {
        const std::vector<std::uint8_t> bytes = encodePng(image);
        return std::string(bytes.begin(), bytes.end());
    }();
    TextChunks texts;
    writeBytes(dir.path() / "latin.png", withChunks(png, {{"tEXt", std::string("Software\0caf\xe9", 13)}}));
    ASSERT_FALSE(readPngTexts(dir.path() / "latin.png", texts));
    EXPECT_EQ(texts, (TextChunks{{"Software", "caf\xc3\xa9"}}));
    writeBytes(dir.path() / "empty.png", withChunks(png, {{"tEXt", std::string("\0text", 5)}}));
    EXPECT_EQ(readPngTexts(dir.path() / "empty.png", texts), PngReadError::damaged);
    // Sixty chunks of 16 MiB each once inflated.
    const std::string bomb = std::string("Orvandel settings\0\1\0\0\0", 22) + deflated(std::string(16 << 20, 'a'));
    writeBytes(dir.path() / "bomb.png",
               withChunks(png, std::vector(60, std::pair<std::string, std::string>("iTXt", bomb))));
    EXPECT_EQ(readPngTexts(dir.path() / "bomb.png", texts, recipeKeyword), PngReadError::textsTooLarge);
    ASSERT_EQ(::mkfifo((dir.path() / "fifo.png").c_str(), 0644), 0);
    EXPECT_EQ(runCommand(program + "--from fifo.png --out a.png 2>err.txt"), 1);
    EXPECT_EQ(readBytes(dir.path() / "err.txt"), "orvandel-batch: cannot read fifo.png: not a regular file\n");
    EXPECT_EQ(runCommand(program + "--from bomb.png --out a.png 2>err.txt"), 1);
    EXPECT_NE(readBytes(dir.path() / "err.txt").find("larger than any recipe"), std::string::npos);
}

// Files of a run that meet, whatever way they meet (a link to a file or to a directory, a
// dangling link, a range whose folders are one), and outputs that would destroy an input, are
// refused before any work: exit 2, nothing written.
TEST(BatchGenerator, FilesThatMeetThroughLinksOrInputsAreRefused) {
    TempDir dir;
    const auto& d = dir.path();
    std::filesystem::create_symlink("a.png", d / "b.json");
    std::filesystem::create_directory(d / "d1");
    std::filesystem::create_directory_symlink("d1", d / "d2");
    std::filesystem::create_directory(d / "r2");
    std::filesystem::create_directory_symlink("r2", d / "r1");
    std::filesystem::create_symlink("out.png", d / "man.jsonl");
    writeBytes(d / "s.ini", "landcolor=3\n");
    ASSERT_EQ(batch({"--seed", "5", "--size", "8x8", "--out", "made.png"}, dir).status, 0);
    const std::string made = readBytes(d / "made.png");
    std::filesystem::create_hard_link(d / "made.png", d / "hard.png");
    const std::vector<std::vector<const char*>> clashes = {
        {"--seed", "5", "--out", "a.png", "--stats", "b.json"},
        {"--seed", "5", "--out", "d1/x.png", "--stats", "d2/x.png"},
        {"--seed", "1-2", "--out", "r{seed}/x.png"},
        {"--seed", "5", "--out", "out.png", "--manifest", "man.jsonl"},
        {"--from", "made.png", "--stats", "made.png"},
        {"--from", "made.png", "--stats", "hard.png"},
        {"--from", "made.png", "--out", "c.png", "--manifest", "made.png"},
        {"--settings", "s.ini", "--seed", "5", "--out", "s.ini"},
        {"--settings", "s.ini", "--seed", "5", "--out", "c.png", "--manifest", "s.ini"},
    };
    for (std::vector<const char*> args : clashes) {
        args.insert(args.end(), {"--size", "8x8"});
        if (args[0] == std::string("--from")) args.resize(args.size() - 2);
        const BatchRun run = batchArgs(args, dir);
        EXPECT_EQ(run.status, 2) << args[3] << " " << run.err;
        EXPECT_NE(run.err.find("name the same file"), std::string::npos) << run.err;
    }
    EXPECT_EQ(fileNames(d),
              (std::set<std::string>{"b.json", "d1", "d2", "r1", "r2", "man.jsonl", "s.ini", "made.png", "hard.png"}));
    EXPECT_TRUE(fileNames(d / "d1").empty() && fileNames(d / "r2").empty());
    EXPECT_EQ(readBytes(d / "made.png"), made);
    EXPECT_EQ(readBytes(d / "s.ini"), "landcolor=3\n");
}

// Two outputs that would write one file are found before any work: exit 2, nothing written.
TEST(BatchGenerator, OutputsThatNameOneFileAreRefusedBeforeAnyWork) {
    TempDir dir;
    std::filesystem::create_directory(dir.path() / "maps");
    writeBytes(dir.path() / "maps" / "a.png", "old");
    std::filesystem::create_symlink("maps/a.png", dir.path() / "link.json");
    const std::vector<std::vector<const char*>> clashes = {
        {"--seed", "1", "--out", "same.png", "--stats", "same.png"},
        {"--seed", "1", "--out", "maps/../x.png", "--grid", "x.png"},
        {"--seed", "1", "--out", "maps/a.png", "--stats", "link.json"},
        {"--seed", "2-3", "--out", "m.png", "--stats", "m-{seed}.png"},
        {"--seed", "7-9", "--out", "{seed}/../one.png"},
        {"--seed", "clock", "--out", "{seed}.png", "--stats", "{seed}.png"},
    };
    for (const auto& args : clashes) {
        BatchRun run = batchArgs(args, dir);
        EXPECT_EQ(run.status, 2) << args[3];
        EXPECT_NE(run.err.find("name the same file"), std::string::npos) << run.err;
    }
    EXPECT_EQ(fileNames(dir.path()), (std::set<std::string>{"maps", "link.json"}));
    EXPECT_EQ(readBytes(dir.path() / "maps" / "a.png"), "old");
}

// The batch's outputs follow the rule of every output: see SafeWrite's tests for its parts.
TEST(BatchGenerator, EachKindOfOutputIsWrittenByTheOneRule) {
    TempDir dir;
    const auto& d = dir.path();
    std::filesystem::create_directory(d / "maps");
    std::filesystem::create_symlink("maps/latest.json", d / "latest.json");
    writeBytes(d / "kept.png", "old");
    ::chmod((d / "kept.png").c_str(), 0640);
    FifoReader fifo(d / "pipe.npy");
    BatchRun run = batch(
        {"--seed", "4", "--size", "24x16", "--out", "kept.png", "--stats", "latest.json", "--grid", "pipe.npy"}, dir);
    ASSERT_EQ(run.status, 0) << run.err;
    writeBytes(d / "maps" / "piped.npy", fifo.take());
    EXPECT_TRUE(readNpy(d / "maps" / "piped.npy"));
    EXPECT_EQ(statsOf(d / "maps" / "latest.json")["width"], 24);
    EXPECT_TRUE(isKind(d / "latest.json", S_IFLNK) && isKind(d / "pipe.npy", S_IFIFO));
    struct stat info {};
    ::stat((d / "kept.png").c_str(), &info);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(decodePng(d / "kept.png")->width, 24u);

    ASSERT_TRUE(makeCharDevice(d / "null", 1, 3) && makeCharDevice(d / "full", 1, 7)) << "needs root";
    EXPECT_EQ(batch({"--seed", "4", "--size", "24x16", "--out", (d / "null").c_str()}, dir).status, 0);
    BatchRun full = batch({"--seed", "4", "--size", "24x16", "--stats", (d / "full").c_str()}, dir);
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.err.find("full: disk full"), std::string::npos) << full.err;
    std::filesystem::create_directory(d / "dir.png");
    BatchRun folder = batch({"--seed", "4", "--out", "dir.png"}, dir);
    EXPECT_EQ(folder.status, 1);
    EXPECT_NE(folder.err.find("a directory has that name"), std::string::npos) << folder.err;
    EXPECT_TRUE(isKind(d / "null", S_IFCHR) && isKind(d / "full", S_IFCHR));
    EXPECT_EQ(fileNames(d),
              (std::set<std::string>{"maps", "latest.json", "kept.png", "pipe.npy", "null", "full", "dir.png"}));
}

// The real program, as a hostile user runs it.
class BatchHostile : public testing::Test {
protected:
    TempDir dir;
    std::string program = "cd '" + dir.path().string() + "' && '" ORVANDEL_BATCH_PATH "' ";
};

TEST_F(BatchHostile, StandardOutputCarriesOneOutputAndTheClockSeedGoesToStderr) {
    ASSERT_EQ(runCommand(program + "--seed clock --size 30x20 --generations 3 --out - >map.png 2>err.txt"), 0);
    const auto png = decodePng(dir.path() / "map.png");
    ASSERT_TRUE(png);
    EXPECT_EQ(png->width, 30u);
    EXPECT_NE(readBytes(dir.path() / "err.txt").find("seed from the clock: "), std::string::npos);
    ASSERT_EQ(runCommand(program + "--seed 5-5 --size 30x20 --stats - >s.json"), 0);
    EXPECT_EQ(statsOf(dir.path() / "s.json")["seed"], 5);
    ASSERT_EQ(runCommand(program + "--seed 2-3 --size 8x8 --stats s-{seed}.json --manifest - >m.jsonl"), 0);
    EXPECT_EQ(manifestLines(dir.path() / "m.jsonl")[1]["statistics"], statsOf(dir.path() / "s-3.json"));
    EXPECT_EQ(fileNames(dir.path()),
              (std::set<std::string>{"map.png", "err.txt", "s.json", "m.jsonl", "s-2.json", "s-3.json"}));
}

// Three shards run side by side by GNU parallel, appending to one manifest, make the maps of the
// whole range exactly once: the same files, and one line for each map.
TEST_F(BatchHostile, ShardsRunByParallelMakeTheWholeRangeOnce) {
    ASSERT_EQ(runCommand("command -v parallel >/dev/null"), 0) << "tools/install-deps.sh --test installs GNU parallel";
    const std::string range = "--seed 3-22 --size 24x18 --generations 4 --quiet ";
    ASSERT_EQ(runCommand("cd '" + dir.path().string() + "' && mkdir all parts && '" ORVANDEL_BATCH_PATH "' " + range +
                         "--out 'all/{seed}.png' --stats 'all/{seed}.json' --manifest all.jsonl"),
              0);
    ASSERT_EQ(runCommand("cd '" + dir.path().string() + "' && parallel --will-cite -j 3 \"'" ORVANDEL_BATCH_PATH "' " +
                         range +
                         "--out parts/{seed}.png --stats parts/{seed}.json --manifest parts.jsonl --shard {}/3\" "
                         "::: 1 2 3"),
              0);
    EXPECT_TRUE(filesUnder(dir.path() / "all") == filesUnder(dir.path() / "parts"));
    EXPECT_EQ(filesUnder(dir.path() / "parts").size(), 40u);
    std::multiset<std::string> whole, shards;
    std::set<int> seeds;
    for (const nlohmann::json& line : manifestLines(dir.path() / "all.jsonl"))
        whole.insert(replaceAll(line.dump(), "all/", "parts/"));
    for (const nlohmann::json& line : manifestLines(dir.path() / "parts.jsonl")) {
        shards.insert(line.dump());
        seeds.insert(line["seed"].get<int>());
    }
    EXPECT_EQ(shards, whole);
    EXPECT_EQ(seeds.size(), 20u);  // no map made twice
}

// A range ended by a signal leaves whole files only: each file its manifest names, and no
// temporary file.
TEST_F(BatchHostile, AnInterruptedRangeLeavesWholeFilesAndNoTemporaryFile) {
    std::filesystem::create_directory(dir.path() / "maps");
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        ::chdir(dir.path().c_str());
        ::execl(ORVANDEL_BATCH_PATH, ORVANDEL_BATCH_PATH, "--seed", "1-100000", "--size", "120x90", "--generations",
                "20", "--out", "maps/{seed}.png", "--manifest", "m.jsonl", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // Wait for the first maps to be told of.
    int status = 0;
    while (readBytes(dir.path() / "m.jsonl").empty() && ::waitpid(child, &status, WNOHANG) == 0) ::usleep(1000);
    ::kill(child, SIGTERM);
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    const std::vector<nlohmann::json> lines = manifestLines(dir.path() / "m.jsonl");
    ASSERT_FALSE(lines.empty());
    for (const nlohmann::json& line : lines)
        EXPECT_TRUE(std::filesystem::exists(dir.path() / line["files"]["png"].get<std::string>())) << line.dump();
    for (const std::string& name : fileNames(dir.path() / "maps")) {
        EXPECT_FALSE(name.ends_with(".tmp")) << name;
        EXPECT_TRUE(decodePng(dir.path() / "maps" / name)) << name;
    }
}

// A file-size limit: the write fails with the reason instead of the program dying silently,
// and the old file stays.
TEST_F(BatchHostile, AFileSizeLimitFailsTheWriteWithTheReason) {
    writeBytes(dir.path() / "big.png", "old");
    EXPECT_EQ(
        runCommand("ulimit -f 20 && " + program + "--seed 3 --size 1000x1000 --generations 2 --out big.png 2>err.txt"),
        1);
    EXPECT_EQ(readBytes(dir.path() / "err.txt"), "orvandel-batch: cannot write big.png: file too large\n");
    EXPECT_EQ(readBytes(dir.path() / "big.png"), "old");
    EXPECT_EQ(fileNames(dir.path()), (std::set<std::string>{"big.png", "err.txt"}));
}

// Memory runs out at one point or another as the limit rises: each time one clear message,
// exit 1, and no temporary file (it used to abort with an uncaught std::bad_alloc).
TEST_F(BatchHostile, RunningOutOfMemoryIsToldAndLeavesNothing) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer needs more address space than any such limit leaves";
#endif
    int failed = 0, succeeded = 0;
    for (int limit = 8000; limit <= 72000; limit += 8000) {
        const int status = runCommand("ulimit -v " + std::to_string(limit) + " && " + program +
                                      "--seed 3 --size 4096x1024 --generations 1 --out m.png --stats m.json "
                                      "--grid m.npy 2>err.txt");
        const std::string err = readBytes(dir.path() / "err.txt");
        if (status == 1) {
            EXPECT_EQ(err, "orvandel-batch: out of memory\n") << limit;
            ++failed;
        } else {
            EXPECT_EQ(status, 0) << limit << ": " << err;
            ++succeeded;
        }
        for (const std::string& name : fileNames(dir.path())) EXPECT_FALSE(name.ends_with(".tmp")) << name;
    }
    EXPECT_GT(failed, 0);
    EXPECT_GT(succeeded, 0);
}

// A signal while a large PNG is written: the temporary file goes, the old file stays, and the
// status is the signal's.
TEST_F(BatchHostile, ASignalDuringAWriteRemovesTheTemporaryFile) {
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        writeBytes(dir.path() / "map.png", "old");
        const pid_t child = ::fork();
        ASSERT_NE(child, -1);
        if (child == 0) {
            ::chdir(dir.path().c_str());
            ::execl(ORVANDEL_BATCH_PATH, ORVANDEL_BATCH_PATH, "--seed", "3", "--size", "8192x4096", "--generations",
                    "1", "--out", "map.png", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        // Wait for the temporary file: the picture is being written.
        bool writing = false;
        int status = 0;
        while (!writing && ::waitpid(child, &status, WNOHANG) == 0) {
            for (const std::string& name : fileNames(dir.path())) writing = writing || name.ends_with(".tmp");
            if (!writing) ::usleep(1000);
        }
        ASSERT_TRUE(writing) << "the program ended before it wrote";
        ::kill(child, signalNumber);
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signalNumber) << signalNumber;
        EXPECT_EQ(fileNames(dir.path()), std::set<std::string>{"map.png"});
        EXPECT_EQ(readBytes(dir.path() / "map.png"), "old");
    }
}

// Closed standard descriptors are never handed to output files: with stdout closed, "-" is an
// error and the PNG stays a PNG; with stderr closed, nothing but JSON lines reaches the manifest.
// Two clock seeds in one second differ. The headless runner's screen files may not meet.
TEST_F(BatchHostile, ClosedDescriptorsClockSeedsAndMeetingScreenFiles) {
    EXPECT_EQ(runCommand(program + "--seed 1 --size 8x8 --stats - --out o.png >&- 2>err.txt"), 1);
    EXPECT_TRUE(decodePng(dir.path() / "o.png"));
    EXPECT_NE(readBytes(dir.path() / "err.txt").find("cannot write to standard output: not open for writing"),
              std::string::npos);
    EXPECT_EQ(runCommand(program + "--seed 1-2 --size 8x8 --stats /nonexistent/s.json --manifest m.jsonl 2>&-"), 1);
    EXPECT_EQ(readBytes(dir.path() / "m.jsonl"), "");
    ASSERT_EQ(runCommand(program + "--seed clock --size 8x8 --stats a.json && " + program +
                         "--seed clock --size 8x8 --stats b.json"),
              0);
    EXPECT_NE(statsOf(dir.path() / "a.json")["seed"], statsOf(dir.path() / "b.json")["seed"]);
    const std::string headless = "cd '" + dir.path().string() + "' && '" ORVANDEL_HEADLESS_PATH "' ";
    writeBytes(dir.path() / "keys.txt", "key Down\nkey Down\nkey Enter\n");
    EXPECT_EQ(runCommand(headless + "--script keys.txt --screen-png s --screen-text s 2>err.txt"), 2);
    EXPECT_EQ(runCommand(headless + "--script keys.txt --screen-text keys.txt 2>err.txt"), 2);
    EXPECT_NE(readBytes(dir.path() / "err.txt").find("name the same file"), std::string::npos);
    EXPECT_EQ(readBytes(dir.path() / "keys.txt"), "key Down\nkey Down\nkey Enter\n");
}

// A settings file that is a FIFO (or a device) is refused at once, not waited on for ever.
TEST_F(BatchHostile, ASettingsFileThatIsNoRegularFileIsRefused) {
    ASSERT_EQ(::mkfifo((dir.path() / "fifo.ini").c_str(), 0644), 0);
    EXPECT_EQ(runCommand(program + "--settings fifo.ini --seed 1 --out a.png 2>err.txt"), 1);
    EXPECT_EQ(readBytes(dir.path() / "err.txt"),
              "orvandel-batch: cannot read the settings file fifo.ini: Not a regular file\n");
}

// The help tells every option of the table, --version and the exit statuses; the README's
// table of options lists exactly the options the program has.
TEST_F(BatchHostile, HelpAndReadmeListTheOptionsOfTheTable) {
    ASSERT_EQ(runCommand(program + "--help >help.txt"), 0);
    const std::string help = readBytes(dir.path() / "help.txt");
    // Every program's help fits a terminal of 80 columns.
    for (const char* other : {ORVANDEL_HEADLESS_PATH, ORVANDEL_BATCH_PATH}) {
        ASSERT_EQ(runCommand("'" + std::string(other) + "' --help >other.txt"), 0);
        std::istringstream lines(readBytes(dir.path() / "other.txt"));
        for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << other << ": " << line;
    }
    std::set<std::string> options;
    for (const BatchOption& option : batchOptionTable()) {
        options.insert(std::string(option.name));
        EXPECT_NE(help.find("  " + std::string(option.name)), std::string::npos) << option.name;
        if (option.alias.starts_with("--")) options.insert(std::string(option.alias));
    }
    EXPECT_NE(help.find("Exit status: 0"), std::string::npos);
    EXPECT_NE(help.find("--until-stable"), std::string::npos);

    const std::string readme = readBytes(std::filesystem::path(ORVANDEL_SOURCE_DIR) / "README.md");
    const std::size_t table = readme.find("| Option | Meaning |");
    ASSERT_NE(table, std::string::npos);
    std::set<std::string> listed;
    std::istringstream rows(readme.substr(table));
    std::string line;
    std::getline(rows, line);
    while (std::getline(rows, line) && line.starts_with("|")) {
        const std::string first = line.substr(1, line.find('|', 1) - 1);
        // Every "--" and the lower-case letters and dashes after it, a letter first.
        for (std::size_t at = first.find("--"); at != std::string::npos; at = first.find("--", at + 2)) {
            std::size_t end = at + 2;
            while (end < first.size() &&
                   ((first[end] >= 'a' && first[end] <= 'z') || (end > at + 2 && first[end] == '-')))
                ++end;
            if (end > at + 2) listed.insert(first.substr(at, end - at));
        }
    }
    EXPECT_EQ(listed, options);
}

}  // namespace
}  // namespace orv::test
