#include <gtest/gtest.h>

#include <charconv>
#include <sstream>

#include "app/Batch.hpp"
#include "tests/ExportSupport.hpp"
#include "tests/Session.hpp"
#include "ui/TextFormat.hpp"

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
        {{"--seed", "1", "--out", "a.png", "--colour"}, "unknown argument --colour"},
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

    o = parse({"--seed", "-3-4", "--stats", "s.json"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->firstSeed, -3);
    EXPECT_EQ(o->lastSeed, 4);
    o = parse({"--seed", "&hFF", "--out", "m.png"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->firstSeed, 255);
    o = parse({"--seed", "clock", "--out", "m.png"});
    ASSERT_TRUE(o);
    EXPECT_TRUE(o->seedFromClock);
    EXPECT_TRUE(parse({"--help"})->help);
    EXPECT_TRUE(parse({"--version"})->version);
}

TEST(BatchArguments, OutputNamesCarryTheSeedWhenThereAreSeveral) {
    EXPECT_EQ(outputName("map.png", 7, false), "map.png");
    EXPECT_EQ(outputName("map.png", 7, true), "map-7.png");
    EXPECT_EQ(outputName("out/map", -2, true), "out/map--2");
    EXPECT_EQ(outputName("out.d/map", 3, true), "out.d/map-3");
    EXPECT_EQ(outputName(".png", 3, true), "-3.png");
    EXPECT_EQ(outputName("w{seed}/m-{seed}.png", 12, false), "w12/m-12.png");
}

struct BatchRun {
    int status = -1;
    std::string out, err;
};

BatchRun batch(std::initializer_list<const char*> args, const TempDir& dir, double clock = 500.5, bool terminal = false) {
    std::vector<std::string> list;
    for (const char* a : args) {
        std::string arg = a;
        // Relative file arguments are taken inside the test's directory.
        if (!arg.empty() && arg[0] != '-' && (arg.find(".png") != std::string::npos || arg.find(".json") != std::string::npos ||
                                              arg.find(".ini") != std::string::npos))
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
    run.status = runBatch(*o, out, err, [clock] { return clock; }, terminal);
    run.out = out.str();
    run.err = err.str();
    return run;
}

// The window program's whole session for a settings file (or the presets) and a seed, stopped
// after `generations` drawn generations and saved as saved.png; the report rows come back.
Session windowSession(const TempDir& dir, const std::string& settingsFile, const std::string& seed, int generations,
                      bool asksSeed = true) {
    std::string keys = settingsFile.empty() ? "key Up\nkey Enter\n"
                                            : "key Enter\ntype " + settingsFile + "\nkey Enter\nkey Space\n";
    if (asksSeed) keys += "type " + seed + "\nkey Enter\nkey Space\n";
    keys += "wait " + std::to_string(generations) + "\nkey x\nkey x\ntype yes\nkey Enter\ntype saved\nkey Enter\nkey Enter\n";
    return runSession(keys, {.clockSeconds = 500.5, .directory = dir.path()});
}

// The share from the stats JSON, as text, for one class ("water", "land", "unchanged").
std::string jsonField(const std::string& json, const std::string& object, const std::string& field) {
    const std::size_t at = json.find("\"" + object + "\"");
    const std::size_t f = json.find("\"" + field + "\": ", at);
    const std::size_t start = f + field.size() + 4;
    return json.substr(start, json.find_first_of(",}\n", start) - start);
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
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settings ? c.settings : "presets");
        TempDir dir;
        std::vector<const char*> args;
        if (c.settings) writeBytes(dir.path() / "world.ini", c.settings);
        Session window = windowSession(dir, c.settings ? "world" : "", c.seed, c.generations,
                                       c.settings == nullptr || std::string(c.settings).find("random1=0") == std::string::npos);
        ASSERT_EQ(window.status, 0);

        const std::string generations = std::to_string(c.generations);
        BatchRun run = c.settings ? batch({"--settings", "world.ini", "--seed", c.seed[0] ? c.seed : "1", "--generations",
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
        EXPECT_EQ(window.row(32), " Percent color " + jsonField(json, "water", "color") + ": " +
                                      shown("water") + "%");
        EXPECT_EQ(window.row(33), " Percent color " + jsonField(json, "land", "color") + ": " +
                                      shown("land") + "%");
        EXPECT_EQ(window.row(34), " Percent color " + jsonField(json, "unchanged", "color") + ": " +
                                      shown("unchanged") + "%");
    }
}

TEST(BatchGenerator, StatisticsNameTheSeedSizeSettingsAndCycles) {
    TempDir dir;
    writeBytes(dir.path() / "w.ini", "landcolor=12\nspeed=3\n");
    BatchRun run = batch({"--settings", "w.ini", "--seed", "9", "--size", "30x20", "--generations", "4", "--stats", "s.json"}, dir);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string json = readBytes(dir.path() / "s.json");
    for (const char* expected : {"\"seed\": 9,", "\"seedUsed\": true,", "\"width\": 30,", "\"height\": 20,",
                                 "\"landcolor\": 12,", "\"speed\": 3,", "\"xsize\": 30,", "\"generations\": 4,",
                                 "\"cycles\": 5,", "\"cells\": 600,", "\"stable\": false"})
        EXPECT_NE(json.find(expected), std::string::npos) << expected << "\n" << json;
    const std::int64_t total = std::stoll(jsonField(json, "water", "cells")) + std::stoll(jsonField(json, "land", "cells")) +
                               std::stoll(jsonField(json, "unchanged", "cells"));
    EXPECT_EQ(total, 600);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "s.png"));
}

TEST(BatchGenerator, SeveralSeedsMakeOneMapEach) {
    TempDir dir;
    BatchRun run = batch({"--seed", "3-5", "--size", "16x16", "--generations", "3", "--out", "m.png", "--stats",
                          "s-{seed}.json"},
                         dir);
    ASSERT_EQ(run.status, 0) << run.err;
    for (const char* name : {"m-3.png", "m-4.png", "m-5.png", "s-3.json", "s-4.json", "s-5.json"})
        EXPECT_TRUE(std::filesystem::exists(dir.path() / name)) << name;
    EXPECT_NE(readBytes(dir.path() / "m-3.png"), readBytes(dir.path() / "m-4.png"));
    // The same seed alone gives the same map as within the range.
    ASSERT_EQ(batch({"--seed", "4", "--size", "16x16", "--generations", "3", "--out", "one.png"}, dir).status, 0);
    EXPECT_EQ(decodePng(dir.path() / "one.png")->pixels, decodePng(dir.path() / "m-4.png")->pixels);
}

TEST(BatchGenerator, AClockSeedIsPrintedAndTypingItGivesTheSameMap) {
    TempDir dir;
    BatchRun run = batch({"--seed", "clock", "--size", "40x30", "--generations", "5", "--out", "c.png"}, dir, 1234.9);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("1234"), std::string::npos) << run.out;
    ASSERT_EQ(batch({"--seed", "1234", "--size", "40x30", "--generations", "5", "--out", "t.png"}, dir, 99.0).status, 0);
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
    const std::string json = readBytes(dir.path() / "s.json");
    EXPECT_NE(json.find("\"stable\": true"), std::string::npos) << json;
    const std::size_t at = json.find("\"generations\": ");
    ASSERT_NE(at, std::string::npos);
    EXPECT_LT(std::stoi(json.substr(at + 15)), 1000);
    EXPECT_EQ(jsonField(json, "unchanged", "percent"), "100");
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
    EXPECT_NE(readBytes(dir.path() / "s.json").find("\"cells\": 9,"), std::string::npos);
}

TEST(BatchGenerator, ProgressShowsOnlyOnATerminalOrWhenAskedFor) {
    TempDir dir;
    BatchRun quiet = batch({"--seed", "1", "--size", "64x64", "--generations", "3", "--stats", "s.json"}, dir);
    EXPECT_EQ(quiet.err, "");
    BatchRun shown = batch({"--seed", "1", "--size", "64x64", "--generations", "3", "--stats", "s.json", "--progress"}, dir);
    EXPECT_NE(shown.err.find("%"), std::string::npos);
    EXPECT_EQ(shown.err.substr(shown.err.size() - 4), "\r\x1b[K");  // the bar is wiped at the end
}

}  // namespace
}  // namespace orv::test

namespace orv::test {
namespace {

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

}  // namespace
}  // namespace orv::test
