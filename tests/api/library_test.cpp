// The public API against orvandel-batch: the same pixels, classes and statistics for the same
// settings and seed, its own files read back by the batch, its errors, and maps made on two
// threads at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <orvandel/orvandel.hpp>
#include <sstream>
#include <thread>
#include <tuple>

#include "tests/ExportSupport.hpp"
#include "tests/Session.hpp"

namespace orv::test {
namespace {

// The batch's outputs for these arguments, made in dir.
struct BatchFiles {
    DecodedPng png;
    std::string grid, json;
};
BatchFiles batchFiles(const TempDir& dir, const std::string& args) {
    const auto p = [&dir](const char* name) { return (dir.path() / name).string(); };
    EXPECT_EQ(runCommand(std::string(ORVANDEL_BATCH_PATH) + " " + args + " --quiet --out " + p("b.png") + " --grid " +
                         p("b.npy") + " --stats " + p("b.json")),
              0);
    return {decodePng(p("b.png")).value_or(DecodedPng{}), readBytes(p("b.npy")), readBytes(p("b.json"))};
}

void expectSameAsBatch(const orvandel::Map& map, const BatchFiles& batch) {
    ASSERT_EQ(batch.png.pixels.size() * 4, map.rgba().size());
    for (std::size_t i = 0; i < batch.png.pixels.size(); ++i) {
        const std::uint32_t p = batch.png.pixels[i];
        const std::uint8_t* q = map.rgba().data() + i * 4;
        ASSERT_EQ((std::array<int, 4>{q[0], q[1], q[2], q[3]}),
                  (std::array<int, 4>{int(p >> 16 & 255), int(p >> 8 & 255), int(p & 255), int(p >> 24)}))
            << "pixel " << i;
    }
    ASSERT_GE(batch.grid.size(), map.classes().size());
    EXPECT_EQ(batch.grid.substr(batch.grid.size() - map.classes().size()),
              std::string(map.classes().begin(), map.classes().end()));
    EXPECT_EQ(map.statsJson(), batch.json);
}

TEST(Library, MapsAreTheBatchGeneratorsPixelForPixel) {
    TempDir dir;
    const orvandel::Map presets = orvandel::Map::generate(orvandel::Settings(), 42, {.generations = 30});
    expectSameAsBatch(presets, batchFiles(dir, "--seed 42 --generations 30"));
    EXPECT_EQ(presets.settings(), orvandel::Settings::presets());
    // randratio drawn, as the statistics list it; the settings given make the map again.
    const std::int32_t drawn = presets.settingsUsed().get("randratio");
    EXPECT_NE(drawn, 0);
    EXPECT_NE(presets.statsJson().find("\"randratio\": " + std::to_string(drawn) + ","), std::string::npos);

    const std::string flows = "xsize=61, ysize=45\nleftrightflow=50\nupflowenabled=1\nupflowratio=30\ndownupflow=70\n";
    writeBytes(dir.path() / "flows.ini", flows);
    const orvandel::Settings fromFile = orvandel::Settings::fromFile(dir.path() / "flows.ini");
    EXPECT_EQ(fromFile, orvandel::Settings::fromText(flows));
    expectSameAsBatch(
        orvandel::Map::generate(fromFile, -12, {.generations = 15}),
        batchFiles(dir, "--settings " + (dir.path() / "flows.ini").string() + " --seed -12 --generations 15"));

    const orvandel::Settings overrides =
        orvandel::Settings::fromPairs({{"LandColor", "&hC"}, {"erosion", "1"}, {"xsize", "33"}, {"ysize", "20"}});
    const orvandel::Map settled = orvandel::Map::generate(overrides, 7, {.generations = 500, .untilSettled = true});
    expectSameAsBatch(settled, batchFiles(dir,
                                          "--set landcolor=12 --set erosion=1 --size 33x20 --seed 7 "
                                          "--generations 500 --until-settled"));

    // The library's PNG carries a recipe the batch makes the same map from, without a warning.
    settled.writePng(dir.path() / "lib.png");
    const std::string again = (dir.path() / "again.png").string();
    ASSERT_EQ(runCommand(std::string(ORVANDEL_BATCH_PATH) + " --quiet --from " + (dir.path() / "lib.png").string() +
                         " --out " + again + " 2>" + (dir.path() / "err").string()),
              0);
    EXPECT_EQ(readBytes(dir.path() / "err"), "");
    EXPECT_EQ(decodePng(again)->pixels, decodePng(dir.path() / "lib.png")->pixels);
}

// A world through the public API: the batch's map, its sea in the statistics and the classes,
// its land masses; the same on one thread and on two (the map is large enough to share).
TEST(Library, WorldsAreTheBatchGeneratorsAndTheSameOnAnyThreads) {
    TempDir dir;
    orvandel::Settings s;
    s.size(1024, 640).set("continents", 5).set("seacolor", "12").set("leftrightflow", 30);
    const orvandel::Map one = orvandel::Map::generate(s, 3, {.generations = 6, .threads = 1});
    const orvandel::Map two = orvandel::Map::generate(s, 3, {.generations = 6, .threads = 2});
    EXPECT_EQ(one.rgba(), two.rgba());
    EXPECT_EQ(one.statsJson(), two.statsJson());
    expectSameAsBatch(one, batchFiles(dir,
                                      "--size 1024x640 --set continents=5 --set seacolor=12 --set "
                                      "leftrightflow=30 --seed 3 --generations 6"));
    // The terrain's views are the batch's files, and stay where they are as more is asked of
    // the map (NumPy's views of them rely on it).
    const std::int16_t* heights = one.heights().data();
    const std::uint8_t* terrain = one.terrain().data();
    std::ostringstream atlas;
    one.write("atlas", atlas);
    EXPECT_FALSE(one.atlas().empty());
    EXPECT_EQ(one.heights().data(), heights);
    EXPECT_EQ(one.terrain().data(), terrain);
    ASSERT_EQ(runCommand(std::string(ORVANDEL_BATCH_PATH) +
                         " --size 1024x640 --set continents=5 --set seacolor=12 --set leftrightflow=30 --seed 3 "
                         "--generations 6 --quiet --terrain " +
                         (dir.path() / "t.npy").string() + " --height " + (dir.path() / "h.npy").string()),
              0);
    const std::string t = readBytes(dir.path() / "t.npy"), h = readBytes(dir.path() / "h.npy");
    ASSERT_EQ(one.terrain().size(), 1024u * 640u);
    ASSERT_GE(t.size(), one.terrain().size());
    EXPECT_EQ(t.substr(t.size() - one.terrain().size()), std::string(one.terrain().begin(), one.terrain().end()));
    ASSERT_GE(h.size(), one.heights().size() * 2);
    EXPECT_EQ(
        0, std::memcmp(h.data() + h.size() - one.heights().size() * 2, one.heights().data(), one.heights().size() * 2));
    const orvandel::Statistics st = one.statistics();
    EXPECT_EQ(st.sea, std::count(one.classes().begin(), one.classes().end(), 3));
    EXPECT_EQ(st.changedToWater + st.changedToLand + st.unchanged + st.sea, st.cells);
    EXPECT_DOUBLE_EQ(st.changedToWaterPercent + st.changedToLandPercent + st.unchangedPercent + st.seaPercent, 100.0);
    // The names of version 1.0 still tell the same counts.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    EXPECT_EQ(std::tuple(st.water, st.land, st.waterPercent, st.landPercent),
              std::tuple(st.changedToWater, st.changedToLand, st.changedToWaterPercent, st.changedToLandPercent));
#pragma GCC diagnostic pop
    const std::vector<std::int64_t>& masses = one.landMasses();
    ASSERT_FALSE(masses.empty());
    EXPECT_EQ(std::accumulate(masses.begin(), masses.end(), std::int64_t{0}), st.cells - st.sea);
    EXPECT_TRUE(orvandel::Map::generate(orvandel::Settings(), 3, {.generations = 1}).landMasses().empty());
}

TEST(Library, SettingsByKeyAndTheirMistakes) {
    orvandel::Settings s;
    s.set(" WaterColor ", "&h0e").set("speed", 5).apply("landmasssize = 3");
    EXPECT_EQ(s.get("watercolor"), 14);
    EXPECT_EQ(s.get("SPEED"), 5);
    EXPECT_EQ(s.items().size(), orvandel::Settings::keys().size());
    EXPECT_EQ(orvandel::Settings::fromText(s.text()), s);
    EXPECT_THROW(s.set("colour", "1"), orvandel::Error);
    EXPECT_THROW(s.apply("landcolor"), orvandel::Error);
    EXPECT_THROW((void)s.get("xsize=1"), orvandel::Error);
    try {
        orvandel::Settings::fromFile("/nonexistent/world.ini");
        FAIL();
    } catch (const orvandel::FileError& e) {
        EXPECT_EQ(e.code(), std::errc::no_such_file_or_directory);
        // The file and the reason, once.
        EXPECT_EQ(std::string(e.what()), "cannot read the settings file /nonexistent/world.ini: " + e.code().message());
    }
    for (const auto& [seed, says] : {std::pair<std::int64_t, const char*>{-1, "clock's bit pattern"},
                                     {std::int64_t{1} << 31, "beyond the seeds"}}) {
        try {
            orvandel::Map::generate(s, seed);
            FAIL() << seed;
        } catch (const orvandel::Error& e) {
            EXPECT_NE(std::string(e.what()).find(says), std::string::npos) << e.what();
        }
    }
    EXPECT_THROW(orvandel::Map::generate(s, 1, {.generations = -1}), orvandel::Error);
}

TEST(Library, AdjustmentsAreListedNeverMadeSilently) {
    orvandel::Settings s;
    s.size(0, 70000).set("oceanedgesizey", -3);
    std::vector<std::string> said;
    for (const orvandel::Adjustment& a : s.adjustments()) said.push_back(a.message());
    EXPECT_EQ(said,
              (std::vector<std::string>{"xsize 0 is out of range; using 1", "ysize 70000 is out of range; using 65536",
                                        "oceanedgesizey -3 is out of range; using 0"}));
    s.size(3, 2);
    const orvandel::Map map = orvandel::Map::generate(s, 9, {.generations = 2});
    EXPECT_EQ(map.adjustments().size(), 1u);
    EXPECT_EQ(map.settings().get("oceanedgesizey"), 0);
    EXPECT_EQ(map.width() * map.height(), 6);
    EXPECT_TRUE(orvandel::Settings().adjustments().empty());
}

TEST(Library, SeparateMapsOnSeparateThreadsAndMovedMapsKeepTheirData) {
    orvandel::Settings s;
    s.size(300, 200).set("leftrightflow", 40);
    auto make = [&s](std::int64_t seed) { return orvandel::Map::generate(s, seed, {.generations = 20, .threads = 2}); };
    const orvandel::Map first = make(1), second = make(2);
    std::optional<orvandel::Map> a, b;
    std::thread one([&] { a.emplace(make(1)); }), two([&] { b.emplace(make(2)); });
    one.join();
    two.join();
    EXPECT_EQ(a->rgba(), first.rgba());
    EXPECT_EQ(b->statsJson(), second.statsJson());
    EXPECT_NE(a->classes(), b->classes());

    const std::uint8_t* data = a->classes().data();
    orvandel::Map moved = std::move(*a);
    EXPECT_EQ(moved.classes().data(), data);
    // A seed from the clock is told, and gives the same map again.
    const orvandel::Map clock = orvandel::Map::generate(s, 0, {.generations = 3});
    ASSERT_TRUE(clock.seedFromClock());
    EXPECT_EQ(orvandel::Map::generate(s, clock.seed(), {.generations = 3}).rgba(), clock.rgba());
}

}  // namespace
}  // namespace orv::test
