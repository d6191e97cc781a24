// One batch map against the window program's generation loop written out with the
// straightforward functions: the same picture row for row, the same statistics and counts, for
// odd sizes, flows, erosion, stopping when stable, and maps large enough to share the work.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "map/GenerateMap.hpp"
#include "map/MadeMap.hpp"
#include "rng/Random.hpp"
#include "settings/Palette.hpp"
#include "settings/Settings.hpp"
#include "sim/Simulation.hpp"
#include "tests/SimSupport.hpp"

namespace orv {
namespace {

struct Expected {
    MapResult result;
    std::vector<std::uint32_t> picture;
};

// Whether any draw decides which neighbours count: a flow that applies by chance (threshold
// 1 .. 98) and changes the count, or a choice of neighbour made by chance.
bool flowsLeftToChance(const Settings& s) {
    const bool vertical = s.upflowenabled != 0 || s.downflowenabled != 0;
    const bool horizontal = s.leftflowenabled != 0 || s.rightflowenabled != 0;
    auto byChance = [](std::int32_t t) { return t >= 0 && t <= 98; };
    return (s.downupflow != 0 && byChance(s.downupflow) && vertical) ||
           (s.downupflow != 0 && s.downupflow > 0 && s.upflowenabled != 0 && byChance(s.upflowratio)) ||
           (s.leftrightflow != 0 && byChance(s.leftrightflow) && horizontal) ||
           (s.leftrightflow != 0 && s.leftrightflow > 0 && s.leftflowenabled != 0 && byChance(s.rightflowratio));
}

// The window program's loop: every kept generation committed and drawn. It settles, by the
// grids themselves, at the first drawn generation k >= 2 whose next grid is the grid of
// generation k - 1, when no draw decides a flow; the steady picture starts at the first drawn
// generation whose picture equals that of k.
Expected windowLoop(const Settings& settings, std::int32_t seed, std::int64_t generations, bool untilSettled) {
    Expected e;
    MapResult& r = e.result;
    r.settings = settings;
    Settings& s = r.settings;
    Random random;
    r.seed = seedRun(random, s, SeedChoice::of(seed), [] { return 0.0; }).seed;
    MapState map(s.xsize, s.ysize);
    ReferenceEngine engine;
    layInitialMap(engine, map, s, random);
    e.picture.assign(static_cast<std::size_t>(s.xsize) * static_cast<std::size_t>(s.ysize), 0xFF000000u);
    const MapCanvas canvas{e.picture.data(), s.xsize, s.xsize, s.ysize, -1, -1};
    const bool fixedRule = !flowsLeftToChance(s);
    std::vector<std::vector<std::uint32_t>> pictures{e.picture};  // the picture of every drawn generation
    std::vector<CellValue> before;                                // the grid of the generation before the last drawn
    auto interior = [&s](const MapGrid& grid) {
        std::vector<CellValue> cells;
        for (int x = 1; x <= s.xsize; ++x)
            for (int y = 1; y <= s.ysize; ++y) cells.push_back(grid(x, y));
        return cells;
    };
    for (;;) {
        generationCycle(engine, map, s, random);
        const std::vector<CellValue> next = interior(map.nextMap);
        r.stable = next == interior(map.currentMap);
        const std::int64_t k = r.committedGenerations;
        if (fixedRule && k >= 2 && !r.settled && next == before) {
            r.settled = true;
            std::int64_t first = k;
            while (first > 1 && pictures[static_cast<std::size_t>(first - 1)] == pictures[static_cast<std::size_t>(k)])
                --first;
            r.settledAt = first;
        }
        if (k >= generations || (untilSettled && r.settled)) break;
        before = interior(map.currentMap);
        engine.commitAndDraw(map, s, canvas, mapColors(s));
        pictures.push_back(e.picture);
        ++r.committedGenerations;
    }
    r.cycles = map.cycleCount;
    const MapStatistics stats = engine.finalStatistics(map, s);
    r.unchangedCount = stats.unchangedCount;
    r.waterCount = stats.waterCount;
    r.landCount = stats.landCount;
    return e;
}

struct BatchCase {
    Settings settings;
    std::int32_t seed = 1;
    std::int64_t generations = 3;
    bool untilSettled = false;
    int threads = 1;
};

std::string describe(const BatchCase& c) {
    return std::to_string(c.settings.xsize) + "x" + std::to_string(c.settings.ysize) + " seed " +
           std::to_string(c.seed) + ", " + std::to_string(c.generations) + " generations" +
           (c.untilSettled ? " or until settled" : "") + ", " + std::to_string(c.threads) + " threads";
}

// Runs the case both ways; the picture is read bottom row first when `backwards`.
testing::AssertionResult sameMap(const BatchCase& c, MapPicture& picture, bool backwards = false,
                                 MapResult* out = nullptr) {
    const Expected e = windowLoop(c.settings, c.seed, c.generations, c.untilSettled);
    MapRequest request;
    request.settings = c.settings;
    request.seed = SeedChoice::of(c.seed);
    request.generations = c.generations;
    request.untilSettled = c.untilSettled;
    request.colors = mapColors(c.settings);
    request.threads = c.threads;
    const MapResult r = generateMap(request, picture);
    if (out != nullptr) *out = r;
    const MapResult& x = e.result;
    const std::string where = " (" + describe(c) + ")";
    if (r.committedGenerations != x.committedGenerations || r.cycles != x.cycles || r.stable != x.stable ||
        r.settled != x.settled || r.settledAt != x.settledAt)
        return testing::AssertionFailure()
               << "kept " << r.committedGenerations << " of " << r.cycles << " generations, stable " << r.stable
               << ", settled " << r.settled << " at " << r.settledAt.value_or(-1) << "; expected "
               << x.committedGenerations << " of " << x.cycles << ", " << x.stable << ", " << x.settled << " at "
               << x.settledAt.value_or(-1) << where;
    if (r.unchangedCount != x.unchangedCount || r.waterCount != x.waterCount || r.landCount != x.landCount)
        return testing::AssertionFailure()
               << "classes " << r.unchangedCount << "/" << r.waterCount << "/" << r.landCount << ", expected "
               << x.unchangedCount << "/" << x.waterCount << "/" << x.landCount << where;
    if (r.settings.randratio != x.settings.randratio || r.settings.landwaterratio != x.settings.landwaterratio)
        return testing::AssertionFailure() << "settings after the run differ" << where;
    if (picture.width() != c.settings.xsize || picture.height() != c.settings.ysize)
        return testing::AssertionFailure() << "picture is " << picture.width() << "x" << picture.height() << where;
    const int w = picture.width(), h = picture.height();
    for (int i = 0; i < h; ++i) {
        const int y = backwards ? h - 1 - i : i;
        const std::uint32_t* row = picture.row(y);
        for (int x0 = 0; x0 < w; ++x0)
            if (row[x0] != e.picture[static_cast<std::size_t>(y * w + x0)])
                return testing::AssertionFailure() << "pixel (" << x0 << ", " << y << ") differs" << where;
    }
    return testing::AssertionSuccess();
}

using test::presets;

Settings randomFlows(int xsize, int ysize) {
    Settings s = presets(xsize, ysize);
    s.downupflow = 70;
    s.upflowenabled = 1;
    s.upflowratio = 40;
    s.leftrightflow = 50;
    s.leftflowenabled = 1;
    s.rightflowratio = 60;
    return s;
}

TEST(BatchMap, OddSizesFlowsAndErosionAsTheWindowLoopDrawsThem) {
    MapPicture picture;  // one picture for every map, as a batch of seeds uses it
    int seed = 0;
    const std::pair<int, int> sizes[] = {{1, 1}, {1, 70}, {70, 1}, {19, 23}, {64, 64}, {130, 67}};
    for (const auto& [x, y] : sizes) {
        Settings eroding = randomFlows(x, y);
        eroding.erosion = 1;
        eroding.oceanedgesizex = 2;
        eroding.oceanedgesizey = -1;
        eroding.randratio = 0;
        for (const Settings& s : {presets(x, y), randomFlows(x, y), eroding}) {
            for (const std::int64_t generations : {0, 1, 2, 7}) {
                BatchCase c;
                c.settings = s;
                c.seed = ++seed;
                c.generations = generations;
                ASSERT_TRUE(sameMap(c, picture, seed % 2 == 0));
            }
        }
    }
}

// Settling, against the window loop's grids: maps that settle with period 1 (land that never
// goes, no flows) and with period 2 (the presets), maps whose flows are left to chance and never
// settle, and the cap of --generations that comes first.
TEST(BatchMap, UntilSettledStopsWhereThePictureNoLongerChanges) {
    MapPicture picture;
    int periodOne = 0, periodTwo = 0, capped = 0;
    for (std::int32_t seed = 1; seed <= 12; ++seed) {
        BatchCase calm;
        calm.settings = presets(9 + seed, 7);
        calm.settings.downupflow = 0;
        calm.settings.landmasssize = 9;
        calm.settings.landwaterratio = -1;
        BatchCase preset;
        preset.settings = presets(20 + seed, 16);
        BatchCase chance;
        chance.settings = randomFlows(12, 10);
        for (BatchCase* c : {&calm, &preset, &chance}) {
            c->seed = seed;
            c->generations = 300;
            c->untilSettled = true;
            MapResult r;
            ASSERT_TRUE(sameMap(*c, picture, false, &r));
            if (c == &chance) {
                EXPECT_FALSE(r.settled);
            }
            if (!r.settled) continue;
            EXPECT_EQ(r.committedGenerations, std::max<std::int64_t>(*r.settledAt, 2));
            (r.unchangedCount == std::int64_t{c->settings.xsize} * c->settings.ysize ? periodOne : periodTwo) += 1;
            // Capped one generation short of seeing it: not settled.
            BatchCase shorter = *c;
            shorter.generations = r.committedGenerations - 1;
            MapResult early;
            ASSERT_TRUE(sameMap(shorter, picture, false, &early));
            EXPECT_FALSE(early.settled);
            capped += !early.settled;
        }
    }
    EXPECT_GT(periodOne, 0);
    EXPECT_GT(periodTwo, 0);
    EXPECT_GT(capped, 0);
}

// A run followed step by step (as the page draws it) and ended early: its painting after k
// steps and its finished map are the window loop's after k generations; at the cap it stops.
TEST(BatchMap, ARunStoppedEarlyIsTheMapOfTheGenerationsItDrew) {
    std::int32_t seed = 40;
    for (const Settings& s : {presets(37, 29), randomFlows(40, 33)}) {
        for (const std::int64_t stop : {0, 1, 6}) {
            MapRequest request;
            request.settings = s;
            request.seed = SeedChoice::of(++seed);
            request.generations = 8;
            request.colors = mapColors(s);
            MapRun run(request);
            for (std::int64_t k = 0; k < stop; ++k) ASSERT_TRUE(run.step());
            const Expected e = windowLoop(s, seed, stop, false);
            std::vector<std::uint32_t> painted(e.picture.size(), 0);
            run.paint(MapCanvas{painted.data(), s.xsize, s.xsize, s.ysize, -1, -1}, request.colors);
            EXPECT_EQ(painted, e.picture) << "after " << stop << " steps";
            MapPicture picture;
            const MapResult r = run.finish(picture);
            EXPECT_EQ(r.committedGenerations, stop);
            EXPECT_EQ(r.cycles, e.result.cycles);
            EXPECT_EQ(r.waterCount, e.result.waterCount);
            EXPECT_EQ(r.landCount, e.result.landCount);
            EXPECT_EQ(r.unchangedCount, e.result.unchangedCount);
            for (int y = 0; y < s.ysize; ++y)
                ASSERT_TRUE(std::equal(picture.row(y), picture.row(y) + s.xsize,
                                       e.picture.begin() + std::ptrdiff_t{y} * s.xsize));
        }
    }
    MapRequest request;
    request.settings = presets(16, 16);
    request.generations = 3;
    MapRun run(request);
    int kept = 0;
    while (run.step()) ++kept;
    EXPECT_EQ(kept, 3);
    EXPECT_TRUE(run.over());
    EXPECT_FALSE(run.step());
    EXPECT_EQ(run.drawn(), 3);
}

TEST(BatchMap, LargeMapsSharedBetweenTwoThreads) {
    MapPicture picture;
    Settings world = randomFlows(1030, 513);
    world.continents = 4;
    world.oceanedgesizex = 30;
    for (const Settings& s : {presets(1030, 513), randomFlows(1030, 513), world}) {
        BatchCase c;
        c.settings = s;
        c.seed = 42;
        c.generations = 2;
        c.threads = 2;
        ASSERT_TRUE(sameMap(c, picture));
    }
    // A world, whose threads share its pyramid too, is the one grown on one thread.
    BatchCase c;
    c.settings = world;
    c.seed = 7;
    c.generations = 1;
    c.threads = 3;
    ASSERT_TRUE(sameMap(c, picture));
}

// A world's terrain made from the heights the run kept is the one grown again from the seed
// word, and once made it lets the kept heights go.
TEST(BatchMap, TheTerrainLetsTheKeptWorldGo) {
    MapRequest request;
    applyPresets(request.settings);
    request.settings.xsize = 160, request.settings.ysize = 96, request.settings.continents = 2;
    request.seed = SeedChoice::of(8);
    request.generations = 12;
    MadeMap kept, grown;
    request.keepWorld = true;
    makeMap(kept, request, "test");
    request.keepWorld = false;
    makeMap(grown, request, "test");
    ASSERT_TRUE(kept.result.heights);
    const Terrain& fromKept = madeTerrain(kept);
    EXPECT_FALSE(kept.result.heights);
    EXPECT_EQ(fromKept.heights, madeTerrain(grown).heights);
    EXPECT_EQ(fromKept.drainage.cells, grown.terrain->drainage.cells);
}

}  // namespace
}  // namespace orv
