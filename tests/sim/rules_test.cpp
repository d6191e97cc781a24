// The map's rules on small hand-made maps, each case run through the straightforward functions
// and through the fast engine.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "rng/Random.hpp"
#include "settings/Palette.hpp"
#include "settings/Seeding.hpp"
#include "settings/Settings.hpp"
#include "sim/FastEngine.hpp"
#include "sim/Simulation.hpp"
#include "tests/SimSupport.hpp"

namespace orv {
namespace {

enum class Engine { Reference, Fast };

// The steps of the cycle on the engine under test, in the map's own colours.
struct Steps {
    Engine engine;
    ReferenceEngine reference;
    FastEngine fast;
    template <class Step>
    void on(Step&& step) {
        if (engine == Engine::Reference)
            step(reference);
        else
            step(fast);
    }
    void wrap(MapState& map, const Settings& s) {
        on([&](auto& e) { e.wrapBorder(map, s); });
    }
    void generate(MapState& map, const Settings& s, Random& random) {
        on([&](auto& e) { e.computeGeneration(map, s, random); });
    }
    void cycle(MapState& map, Settings& s, Random& random) {
        on([&](auto& e) { generationCycle(e, map, s, random); });
    }
    void commit(MapState& map, const Settings& s, const MapCanvas& canvas) {
        on([&](auto& e) { e.commitAndDraw(map, s, canvas, mapColors(s)); });
    }
};

using test::presets;

Settings noFlows(int xsize, int ysize) {
    Settings s = presets(xsize, ysize);
    s.downupflow = 0;
    s.leftrightflow = 0;
    return s;
}

// Lays rows of '.' (0), '#' (3) and '1' into the interior: row r is y = r + 1, column c x = c + 1.
void lay(MapGrid& grid, const std::vector<std::string>& rows) {
    for (std::size_t r = 0; r < rows.size(); ++r)
        for (std::size_t c = 0; c < rows[r].size(); ++c)
            grid(static_cast<int>(c + 1), static_cast<int>(r + 1)) = rows[r][c] == '#'   ? kLand
                                                                     : rows[r][c] == '1' ? CellValue{1}
                                                                                         : kWater;
}

// A map as it stands after a commit: nextMap equal to currentMap over the interior.
MapState committedMap(int capacity, const std::vector<std::string>& rows) {
    MapState map(capacity, capacity);
    lay(map.currentMap, rows);
    lay(map.nextMap, rows);
    return map;
}

struct Frame {
    explicit Frame(int width = 800, int height = 600) : pixels(static_cast<std::size_t>(width * height), kBlank) {
        canvas = MapCanvas{pixels.data(), width, width, height, 40, 40};
    }
    std::uint32_t at(int px, int py) const { return pixels[static_cast<std::size_t>(py * canvas.width + px)]; }
    static constexpr std::uint32_t kBlank = 0x12345678u;
    std::vector<std::uint32_t> pixels;
    MapCanvas canvas;
};

class MapRules : public testing::TestWithParam<Engine> {
protected:
    Steps steps{GetParam(), {}, FastEngine()};
};

TEST_P(MapRules, BorderWrapsAroundEvenAtSizeOne) {
    Settings s = presets(1, 1);
    MapState map(3, 3);
    map.currentMap(1, 1) = kLand;
    for (auto [x, y] : {std::pair{0, 0}, {0, 2}, {2, 0}, {2, 2}}) map.currentMap(x, y) = 1;
    steps.wrap(map, s);
    // The cell is its own left, right, upper and lower neighbour; corners keep what they held.
    for (auto [x, y] : {std::pair{0, 1}, {2, 1}, {1, 0}, {1, 2}}) EXPECT_EQ(map.currentMap(x, y), kLand) << x << y;
    for (auto [x, y] : {std::pair{0, 0}, {0, 2}, {2, 0}, {2, 2}}) EXPECT_EQ(map.currentMap(x, y), 1) << x << y;

    s = presets(1, 3);
    MapState column = committedMap(3, {".", "#", "1"});
    steps.wrap(column, s);
    for (int y = 1; y <= 3; ++y) {
        EXPECT_EQ(column.currentMap(0, y), column.currentMap(1, y));
        EXPECT_EQ(column.currentMap(2, y), column.currentMap(1, y));
    }
    EXPECT_EQ(column.currentMap(1, 0), 1);       // the last row above the first
    EXPECT_EQ(column.currentMap(1, 4), kWater);  // the first row below the last
}

TEST_P(MapRules, OppositeEdgesAreNeighbours) {
    Settings s = presets(4, 3);
    MapState map = committedMap(6, {"....", "...#", ".#.."});
    steps.wrap(map, s);
    EXPECT_EQ(map.currentMap(0, 2), kLand);  // (4, 2) is the left neighbour of (1, 2)
    EXPECT_EQ(map.currentMap(5, 2), kWater);
    EXPECT_EQ(map.currentMap(2, 0), kLand);  // (2, 3) is the upper neighbour of (2, 1)
    EXPECT_EQ(map.currentMap(2, 4), kWater);
    for (auto [x, y] : {std::pair{0, 0}, {0, 4}, {5, 0}, {5, 4}}) EXPECT_EQ(map.currentMap(x, y), kWater);
}

TEST_P(MapRules, ACornerNeverCountsAsADiagonalNeighbour) {
    // (1, 1) has three land neighbours across the edges (above, left, right) and the opposite
    // corner (3, 3) of the map is land too. Through the corner cell (0, 0) it is not a
    // neighbour, so the count stays 3 and the water turns to land.
    Settings s = noFlows(3, 3);
    MapState map(3, 3);
    lay(map.currentMap, {".##", "...", "#.#"});
    Random random;
    steps.wrap(map, s);
    steps.generate(map, s, random);
    EXPECT_EQ(map.nextMap(1, 1), kLand);
    EXPECT_EQ(random.draws(), 0u);
}

TEST_P(MapRules, CellsPastTheMapAreNeitherReadNorWritten) {
    // A 20 x 10 map in grids for 40 x 40 whose spare cells all hold land: the map evolves as in
    // grids of its own size, and the spare cells keep their land.
    Settings s = presets(20, 10);
    s.leftrightflow = 50;
    MapState big(40, 40), tight(20, 10);
    for (int x = 0; x < 43; ++x)
        for (int y = 0; y < 43; ++y)
            if (x >= 22 || y >= 12) big.currentMap(x, y) = big.nextMap(x, y) = kLand;
    Random bigRandom, tightRandom;
    fillInitialLandmass(big, s, bigRandom);
    fillInitialLandmass(tight, s, tightRandom);
    Frame bigFrame, tightFrame;
    for (int cycle = 0; cycle < 6; ++cycle) {
        steps.cycle(big, s, bigRandom);
        steps.cycle(tight, s, tightRandom);
        steps.commit(big, s, bigFrame.canvas);
        steps.commit(tight, s, tightFrame.canvas);
    }
    EXPECT_EQ(bigFrame.pixels, tightFrame.pixels);
    for (int x = 0; x < 22; ++x)
        for (int y = 0; y < 12; ++y) ASSERT_EQ(big.currentMap(x, y), tight.currentMap(x, y)) << x << ", " << y;
    for (int x = 0; x < 43; ++x)
        for (int y = 0; y < 43; ++y)
            if (x >= 22 || y >= 12) {
                ASSERT_EQ(big.currentMap(x, y), kLand) << x << ", " << y;
                ASSERT_EQ(big.nextMap(x, y), kLand) << x << ", " << y;
            }
}

// The outcome for the centre (2, 2) of a 3 x 3 map whose other cells are given, row by row.
CellValue centreAfter(Steps& steps, const Settings& s, const std::vector<std::string>& rows,
                      std::uint64_t* draws = nullptr) {
    MapState map = committedMap(3, rows);
    Random random;
    random.seed(seedWord(3));
    steps.wrap(map, s);
    steps.generate(map, s, random);
    if (draws != nullptr) *draws = random.draws();
    return map.nextMap(2, 2);
}

TEST_P(MapRules, TheWorkedExampleOfThePresets) {
    // Diagonals 3, 0, 0, 3; upper 3 (left out by the flow), lower 0, left 0, right 3: count 3.
    const std::vector<std::string> rows = {"##.", "..#", "..#"};
    std::uint64_t draws = 0;
    EXPECT_EQ(centreAfter(steps, presets(3, 3), rows, &draws), kLand);
    EXPECT_EQ(draws, 9u);  // exactly one number per cell
    Settings off = presets(3, 3);
    off.downupflow = 0;  // the upper neighbour counts: 4, the cell stays water
    EXPECT_EQ(centreAfter(steps, off, rows, &draws), kWater);
    EXPECT_EQ(draws, 0u);
}

TEST_P(MapRules, WaterBecomesLandBelowFourLandNeighbours) {
    EXPECT_EQ(centreAfter(steps, noFlows(3, 3), {"###", "...", "..."}), kLand);
    EXPECT_EQ(centreAfter(steps, noFlows(3, 3), {"###", "#..", "..."}), kWater);
    EXPECT_EQ(centreAfter(steps, noFlows(3, 3), {"...", "...", "..."}), kLand);
}

TEST_P(MapRules, LandGoesAboveTheLandmassSizeOrAtTheRatio) {
    Settings s = noFlows(3, 3);                                       // landmasssize 4, landwaterratio 6
    EXPECT_EQ(centreAfter(steps, s, {"###", "###", "..."}), kWater);  // 5 > 4
    EXPECT_EQ(centreAfter(steps, s, {"###", "##.", "..."}), kLand);   // 4
    s.landmasssize = 8;                                               // only the ratio is left
    EXPECT_EQ(centreAfter(steps, s, {"###", "###", "#.."}), kWater);  // 6 = ratio
    EXPECT_EQ(centreAfter(steps, s, {"###", "###", "##."}), kLand);   // 7
    EXPECT_EQ(centreAfter(steps, s, {"###", "###", "###"}), kLand);   // 8
    s.landwaterratio = 0;
    EXPECT_EQ(centreAfter(steps, s, {"...", ".#.", "..."}), kWater);  // alone, 0 = ratio
    s.landmasssize = -1;
    s.landwaterratio = 9;
    EXPECT_EQ(centreAfter(steps, s, {"...", ".#.", "..."}), kWater);  // 0 > -1
}

TEST_P(MapRules, TheValueOneMeetsOnlyTheRatio) {
    Settings s = noFlows(3, 3);
    EXPECT_EQ(centreAfter(steps, s, {"###", "#1#", "..."}), 1);       // 5 > 4, but it is not land
    EXPECT_EQ(centreAfter(steps, s, {"###", "#1#", "#.."}), kWater);  // 6 = ratio
    // Neighbours holding 1 are not land.
    EXPECT_EQ(centreAfter(steps, s, {"111", "1.1", "111"}), kLand);
}

TEST_P(MapRules, FlowSwitchesDecideDrawsAndWhichNeighboursCount) {
    // The centre is water with land on two diagonals and above and below: 4 when both of
    // those count (it stays water), 3 when one is left out (it turns to land).
    const std::vector<std::string> vertical = {"##.", "...", "##."};
    std::uint64_t draws = 0;

    Settings s = presets(3, 3);
    s.upflowenabled = 0;
    s.downflowenabled = 0;  // a draw per cell, but the flow cannot act: both count
    EXPECT_EQ(centreAfter(steps, s, vertical, &draws), kWater);
    EXPECT_EQ(draws, 9u);

    s = presets(3, 3);
    s.downupflow = -1;  // a draw per cell that never passes
    EXPECT_EQ(centreAfter(steps, s, vertical, &draws), kWater);
    EXPECT_EQ(draws, 9u);

    // Three land diagonals and land above (upperLand) or below (lowerLand): land when the
    // neighbour that is land is left out.
    const std::vector<std::string> upperLand = {"###", "...", "#.."}, lowerLand = {"#.#", "...", "##."};
    s = presets(3, 3);
    s.upflowenabled = 1;
    s.upflowratio = 99;  // the second draw always leaves the upper neighbour out
    EXPECT_EQ(centreAfter(steps, s, upperLand, &draws), kLand);
    EXPECT_EQ(draws, 18u);
    EXPECT_EQ(centreAfter(steps, s, lowerLand), kWater);
    s.upflowratio = -1;  // ... and never: the lower one is left out
    EXPECT_EQ(centreAfter(steps, s, upperLand), kWater);
    EXPECT_EQ(centreAfter(steps, s, lowerLand), kLand);

    const std::vector<std::string> horizontal = {"#.#", "..#", "#.."};  // right neighbour land
    s = noFlows(3, 3);
    s.leftrightflow = 100;
    s.leftflowenabled = 0;  // the right neighbour is always left out, without a second draw
    s.rightflowenabled = 1;
    EXPECT_EQ(centreAfter(steps, s, horizontal, &draws), kLand);
    EXPECT_EQ(draws, 9u);
    s.leftflowenabled = 1;
    s.rightflowratio = 99;  // a second draw, always passing: the right one is left out
    EXPECT_EQ(centreAfter(steps, s, horizontal, &draws), kLand);
    EXPECT_EQ(draws, 18u);
    s.rightflowratio = -1;  // never passing: the left one is left out
    EXPECT_EQ(centreAfter(steps, s, horizontal), kWater);
    EXPECT_EQ(centreAfter(steps, s, {"#.#", "#..", "#.."}), kLand);
}

TEST_P(MapRules, TheFirstCycleTurnsTheFillAroundAndDrawsOnlyChanges) {
    Settings s = presets(9, 7);
    s.landcolor = 6;
    s.watercolor = 1;
    s.forestcolor = 2;
    MapState map(12, 12);
    Random random;
    random.seed(seedWord(11));
    fillInitialLandmass(map, s, random);
    const MapGrid fill = map.currentMap;
    Frame frame;
    map.phaseFlag = 1;
    steps.wrap(map, s);
    steps.generate(map, s, random);
    steps.commit(map, s, frame.canvas);
    for (int x = 1; x <= 9; ++x) {
        for (int y = 1; y <= 7; ++y) {
            const bool wasZero = fill(x, y) == 0;
            EXPECT_EQ(map.currentMap(x, y), wasZero ? kLand : kWater);
            EXPECT_EQ(frame.at(40 + x, 40 + y), paletteColor(wasZero ? 6 : 1)) << x << ", " << y;
        }
    }
    // Nothing outside the map's pixels: not column or row 40, not past the map.
    for (int i = 0; i < 60; ++i) {
        EXPECT_EQ(frame.at(40, i), Frame::kBlank);
        EXPECT_EQ(frame.at(i, 40), Frame::kBlank);
        EXPECT_EQ(frame.at(50, i), Frame::kBlank);
        EXPECT_EQ(frame.at(i, 48), Frame::kBlank);
    }
}

TEST_P(MapRules, ChangedCellsAreColouredByPhase) {
    Settings s = presets(3, 1);
    s.landcolor = 6;
    s.watercolor = 1;
    s.forestcolor = 2;
    for (int phase : {1, 0}) {
        MapState map(3, 3);
        lay(map.currentMap, {".#."});
        lay(map.nextMap, {"#.."});  // (1) to land, (2) to water, (3) unchanged
        map.phaseFlag = phase;
        Frame frame;
        steps.commit(map, s, frame.canvas);
        EXPECT_EQ(frame.at(41, 41), paletteColor(phase == 1 ? 6 : 1)) << phase;
        EXPECT_EQ(frame.at(42, 41), paletteColor(phase == 1 ? 1 : 6)) << phase;
        EXPECT_EQ(frame.at(43, 41), paletteColor(2)) << phase;
        EXPECT_EQ(map.currentMap, map.nextMap);
        // A cell unchanged in this pass is settled whatever it holds.
        Frame again;
        steps.commit(map, s, again.canvas);
        for (int x = 41; x <= 43; ++x) EXPECT_EQ(again.at(x, 41), paletteColor(2));
    }
}

TEST_P(MapRules, OneCellOneColourAndColoursOutsideTheTable) {
    Settings s = presets(1, 1);
    MapState map(4, 4);
    map.nextMap(1, 1) = kLand;
    map.phaseFlag = 1;
    Frame frame;
    steps.commit(map, s, frame.canvas);
    int painted = 0;
    for (std::uint32_t p : frame.pixels) painted += p != Frame::kBlank;
    EXPECT_EQ(painted, 1);
    EXPECT_EQ(frame.at(41, 41), paletteColor(s.landcolor));

    s = presets(2, 1);
    s.landcolor = s.watercolor = s.forestcolor = 16;  // not a colour: transparent black
    MapState same(4, 4);
    same.nextMap(1, 1) = kLand;
    Frame black;
    steps.commit(same, s, black.canvas);
    EXPECT_EQ(black.at(41, 41), 0u);
    EXPECT_EQ(black.at(42, 41), 0u);
}

TEST_P(MapRules, CellsOutsideTheCanvasAreCommittedButNotPainted) {
    Settings s = presets(30, 30);
    MapState map(30, 30);
    for (int x = 1; x <= 30; ++x)
        for (int y = 1; y <= 30; ++y) map.nextMap(x, y) = kLand;
    map.phaseFlag = 1;
    Frame small(50, 45);  // the map would reach pixel (70, 70)
    steps.commit(map, s, small.canvas);
    for (int x = 1; x <= 30; ++x)
        for (int y = 1; y <= 30; ++y) ASSERT_EQ(map.currentMap(x, y), kLand);
    EXPECT_EQ(small.at(49, 44), paletteColor(s.landcolor));
    EXPECT_EQ(small.at(40, 44), Frame::kBlank);
}

INSTANTIATE_TEST_SUITE_P(Engines, MapRules, testing::Values(Engine::Reference, Engine::Fast),
                         [](const testing::TestParamInfo<Engine>& param) {
                             return std::string(param.param == Engine::Reference ? "reference" : "fast");
                         });

// The initial fill and the erosion table run once a run, in one version.

TEST(InitialLandmass, FillsFromIndexZeroWithOneDrawPerCell) {
    Settings s = presets(400, 400);
    MapState map(400, 400);
    for (int x = 0; x < 403; ++x)
        for (int y = 0; y < 403; ++y) map.currentMap(x, y) = kLand;  // marks what the fill leaves
    Random random;
    fillInitialLandmass(map, s, random);
    EXPECT_EQ(random.draws(), 401u * 401u);
    for (int x = 0; x < 403; ++x)
        for (int y = 0; y < 403; ++y) {
            const bool filled = x <= 400 && y <= 400;
            const CellValue v = map.currentMap(x, y);
            ASSERT_TRUE(filled ? (v == 0 || v == 1) : v == kLand) << x << ", " << y;
        }
    // Unseeded is seed 0, whose first draws are 0.330, 0.329 and 0.533.
    EXPECT_EQ(map.currentMap(0, 0), 0);
    EXPECT_EQ(map.currentMap(0, 1), 0);
    EXPECT_EQ(map.currentMap(0, 2), 1);
}

TEST(InitialLandmass, MarginsLeaveBandsUntouched) {
    struct Case {
        int margin, first, last;
    };
    for (Case c : {Case{10, 10, 390}, Case{1, 1, 399}, Case{200, 200, 200}}) {
        Settings s = presets(400, 400);
        s.oceanedgesizex = c.margin;
        s.oceanedgesizey = c.margin;
        MapState map(400, 400);
        for (int x = 0; x < 403; ++x)
            for (int y = 0; y < 403; ++y) map.currentMap(x, y) = kLand;
        Random random;
        fillInitialLandmass(map, s, random);
        const auto side = static_cast<std::uint64_t>(c.last - c.first + 1);
        EXPECT_EQ(random.draws(), side * side) << c.margin;
        for (int i = 0; i < 403; ++i) {
            const bool inside = i >= c.first && i <= c.last;
            ASSERT_EQ(map.currentMap(i, 200) != kLand, inside) << c.margin << ": x " << i;
            ASSERT_EQ(map.currentMap(200, i) != kLand, inside) << c.margin << ": y " << i;
        }
    }
    Settings wide = presets(400, 400);
    wide.oceanedgesizex = 201;  // an empty range: nothing written, nothing drawn
    MapState map(400, 400);
    Random random;
    fillInitialLandmass(map, wide, random);
    EXPECT_EQ(random.draws(), 0u);
    EXPECT_FALSE(random.seeded());
}

TEST(InitialLandmass, OutOfRangeSettingsStayInsideTheGrids) {
    // Sizes beyond the grids or below 1 and negative margins: the map is cut to the grids and
    // the fill to the grid's indices. Run under the sanitizers this also shows that no step
    // reaches outside either grid or the frame buffer.
    Settings s = presets(1000, -5);
    s.oceanedgesizex = -3;
    s.oceanedgesizey = -2;
    s.leftrightflow = 50;
    MapState map(40, 30);
    EXPECT_EQ(mapSize(s, map.currentMap).x, 40);
    EXPECT_EQ(mapSize(s, map.currentMap).y, 1);
    Random random;
    fillInitialLandmass(map, s, random);
    EXPECT_EQ(random.draws(), 43u * 4u);  // x 0 .. 42 (the grid's last index), y 0 .. 1 + 2
    MapState copy = map;
    Random copyRandom = random;
    ReferenceEngine reference;
    FastEngine engine;
    Frame frame, copyFrame;
    for (int cycle = 0; cycle < 3; ++cycle) {
        generationCycle(reference, map, s, random);
        generationCycle(engine, copy, s, copyRandom);
        reference.commitAndDraw(map, s, frame.canvas, mapColors(s));
        engine.commitAndDraw(copy, s, copyFrame.canvas, mapColors(s));
    }
    EXPECT_EQ(map.currentMap, copy.currentMap);
    EXPECT_EQ(frame.pixels, copyFrame.pixels);
    const MapStatistics stats = computeFinalStatistics(map, s);
    EXPECT_EQ(stats.unchangedCount + stats.waterCount + stats.landCount, 40);
}

TEST(ErosionTable, DrawnFromItsOwnSeedIntoEntriesOneToAThousand) {
    for (std::int32_t spread : {3, -4}) {
        Settings s = presets(400, 400);
        s.erosionseed = 17;
        s.randerosionvar1 = spread;
        s.randerosionvar2 = 2;
        MapState map(4, 4);
        Random random;
        random.seed(seedWord(99));
        random.nextRaw();
        buildErosionTable(map, s, random);
        Random expected;
        expected.seed(seedWord(17));
        EXPECT_EQ(map.erosionTable[0], 0);
        for (int i = 1; i <= 1000; ++i)
            ASSERT_EQ(map.erosionTable[static_cast<std::size_t>(i)],
                      static_cast<int>(std::floor(expected.nextRandom() * spread)) + 2)
                << i;
        // The shared source goes on in the erosion seed's sequence.
        EXPECT_EQ(random.nextRaw(), expected.nextRaw());
    }
}

TEST(FinalStatistics, ChangedCellsAreReadByPhaseAndEveryCellCountsOnce) {
    Settings s = presets(4, 2);
    MapState map(4, 4);
    lay(map.currentMap, {"#.1.", "##.."});
    lay(map.nextMap, {".##.", "#..#"});
    // Changed: (1,1) to 0, (2,1) to 3, (3,1) 1 to 3, (2,2) to 0, (4,2) to 3. Unchanged: 3.
    map.phaseFlag = 1;
    MapStatistics odd = computeFinalStatistics(map, s);
    EXPECT_EQ(odd.unchangedCount, 3);
    EXPECT_EQ(odd.waterCount, 2);
    EXPECT_EQ(odd.landCount, 3);
    map.phaseFlag = 0;
    MapStatistics even = computeFinalStatistics(map, s);
    EXPECT_EQ(even.unchangedCount, 3);
    EXPECT_EQ(even.waterCount, 3);
    EXPECT_EQ(even.landCount, 2);
}

}  // namespace
}  // namespace orv
