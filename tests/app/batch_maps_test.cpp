// The batch generator's maps: the window program's maps and reports, grids, worlds and their
// terrain, settings, progress and exit statuses.
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
#include "tests/app/BatchSupport.hpp"

namespace orv::test {
namespace {

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

}  // namespace
}  // namespace orv::test
