// The fast engine sharing a generation between threads, and generations kept by swapping the
// grids (as the batch generator keeps them), against the straightforward rule, commit and
// drawing: the same grids, the same random numbers taken, the same pixels and statistics. And
// the initial fill a block of the random source at a time.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "rng/Random.hpp"
#include "settings/Settings.hpp"
#include "sim/FastEngine.hpp"
#include "sim/FlowDecisions.hpp"
#include "sim/Simulation.hpp"
#include "tests/SimSupport.hpp"

namespace orv {
namespace {

struct RunCase {
    Settings settings;
    double seed = 1;
    int generations = 4;
    bool buildErosion = false;
};

// How an engine is made: its thread count, the smallest map it shares out, and its walk through
// the flow decisions (the best for the kernels when not given).
struct Threading {
    int threads;
    std::int64_t threadedCells;
    std::optional<FlowWalk> walk = std::nullopt;
};
constexpr Threading kOneThread{1, std::numeric_limits<std::int64_t>::max()};
constexpr Threading kTwoAlways{2, 0};
constexpr Threading kThreeAlways{3, 0};
constexpr Threading kTwoAsShipped{2, FastEngine::kThreadedCells};
constexpr Threading kTwoCellToCell{2, 0, FlowWalk::Pairs};

std::string describe(const RunCase& c, Threading t) {
    const Settings& s = c.settings;
    return std::to_string(s.xsize) + "x" + std::to_string(s.ysize) + ", seed " + std::to_string(c.seed) + ", flows " +
           std::to_string(s.downupflow) + "/" + std::to_string(s.upflowenabled) + std::to_string(s.downflowenabled) +
           "/" + std::to_string(s.upflowratio) + " " + std::to_string(s.leftrightflow) + "/" +
           std::to_string(s.leftflowenabled) + std::to_string(s.rightflowenabled) + "/" +
           std::to_string(s.rightflowratio) + ", landmass " + std::to_string(s.landmasssize) + ", ratio " +
           std::to_string(s.landwaterratio) + ", erosion " + std::to_string(s.erosion) + ", margins " +
           std::to_string(s.oceanedgesizex) + "/" + std::to_string(s.oceanedgesizey) + ", " +
           std::to_string(t.threads) + " threads" + (t.walk == FlowWalk::Pairs ? ", cell to cell" : "");
}

testing::AssertionResult sameSource(const Random& a, const Random& b) {
    if (a.draws() != b.draws() || a.position() != b.position() || a.state() != b.state())
        return testing::AssertionFailure()
               << "random sources differ (draws " << a.draws() << " and " << b.draws() << ")";
    return testing::AssertionSuccess();
}

// The interior, and with edges the border but its corners (everything else the rule reads).
testing::AssertionResult sameMap(const char* what, const MapGrid& a, const MapGrid& b, MapSize size, bool edges) {
    for (int x = 0; x <= size.x + 1; ++x)
        for (int y = 0; y <= size.y + 1; ++y) {
            const bool xEdge = x == 0 || x == size.x + 1, yEdge = y == 0 || y == size.y + 1;
            const bool compared = edges ? !(xEdge && yEdge) : !(xEdge || yEdge);
            if (compared && a(x, y) != b(x, y))
                return testing::AssertionFailure() << what << " differs first at (" << x << ", " << y
                                                   << "): " << int{a(x, y)} << " and " << int{b(x, y)};
        }
    return testing::AssertionSuccess();
}

testing::AssertionResult samePixels(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b,
                                    int width) {
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i])
            return testing::AssertionFailure() << "pixel (" << i % static_cast<std::size_t>(width) << ", "
                                               << i / static_cast<std::size_t>(width) << ") differs";
    return testing::AssertionSuccess();
}

struct Pair {
    explicit Pair(const RunCase& c)
        : reference(c.settings.xsize, c.settings.ysize),
          fast(c.settings.xsize, c.settings.ysize),
          referenceSettings(c.settings),
          fastSettings(c.settings) {
        referenceRandom.seedRandom(c.seed);
        fastRandom.seedRandom(c.seed);
        if (c.buildErosion) {
            buildErosionTable(reference, referenceSettings, referenceRandom);
            buildErosionTable(fast, fastSettings, fastRandom);
        }
        fillInitialLandmass(reference, referenceSettings, referenceRandom);
        fillInitialLandmass(fast, fastSettings, fastRandom);
    }
    void countCycle() {
        for (auto [map, settings] : {std::pair{&reference, &referenceSettings}, std::pair{&fast, &fastSettings}}) {
            ++map->cycleCount;
            if (settings->erosion == 1)
                settings->landwaterratio = map->erosionTable[static_cast<std::size_t>(map->cycleCount % 1000)];
        }
    }
    MapSize size() const { return mapSize(referenceSettings, reference.currentMap); }

    MapState reference, fast;
    Settings referenceSettings, fastSettings;
    Random referenceRandom, fastRandom;
};

// The window program's cycle: rule, commit and drawing, onto a canvas that shows part of the map.
testing::AssertionResult drawnRunMatches(const RunCase& c, Threading t) {
    Pair run(c);
    const MapSize size = run.size();
    const int width = size.x + 3, height = size.y / 2 + 2;  // the lower rows fall off the canvas
    std::vector<std::uint32_t> referencePixels(static_cast<std::size_t>(width) * height);
    std::mt19937 noise(5);
    for (std::uint32_t& p : referencePixels) p = noise();
    std::vector<std::uint32_t> fastPixels = referencePixels;
    FastEngine engine(bestKernelLevel(), t.threads, t.threadedCells, t.walk);
    for (int generation = 1; generation <= c.generations; ++generation) {
        const std::string where = " in generation " + std::to_string(generation) + " (" + describe(c, t) + ")";
        run.reference.phaseFlag = run.fast.phaseFlag = 1 - run.reference.phaseFlag;
        wrapBorder(run.reference, run.referenceSettings);
        engine.wrapBorder(run.fast, run.fastSettings);
        computeGeneration(run.reference, run.referenceSettings, run.referenceRandom);
        engine.computeGeneration(run.fast, run.fastSettings, run.fastRandom);
        if (run.reference.nextMap != run.fast.nextMap) return testing::AssertionFailure() << "nextMap differs" << where;
        if (auto r = sameSource(run.referenceRandom, run.fastRandom); !r) return r << where;
        run.countCycle();
        commitAndDraw(run.reference, run.referenceSettings,
                      MapCanvas{referencePixels.data(), width, width, height, 1, -1});
        engine.commitAndDraw(run.fast, run.fastSettings, MapCanvas{fastPixels.data(), width, width, height, 1, -1});
        if (run.reference.currentMap != run.fast.currentMap)
            return testing::AssertionFailure() << "currentMap differs" << where;
        if (auto r = samePixels(referencePixels, fastPixels, width); !r) return r << where;
    }
    return testing::AssertionSuccess();
}

// The batch generator's cycle: each generation written whole into nextMap with its changed cells
// marked, kept by swapping the grids, and drawn from the mask only after the last one kept;
// the straightforward functions commit and draw every generation.
testing::AssertionResult keptRunMatches(const RunCase& c, Threading t) {
    Pair run(c);
    const MapSize size = run.size();
    const int width = size.x, height = size.y;
    std::vector<std::uint32_t> referencePixels(static_cast<std::size_t>(width) * height, 0),
        fastPixels(referencePixels.size(), 1);
    FastEngine engine(bestKernelLevel(), t.threads, t.threadedCells, t.walk);
    ChangeMask computed, kept;
    int keptPhase = 0;
    for (int generation = 1; generation <= c.generations; ++generation) {
        const std::string where = " in generation " + std::to_string(generation) + " (" + describe(c, t) + ")";
        run.reference.phaseFlag = run.fast.phaseFlag = 1 - run.reference.phaseFlag;
        wrapBorder(run.reference, run.referenceSettings);
        engine.wrapBorder(run.fast, run.fastSettings);
        computeGeneration(run.reference, run.referenceSettings, run.referenceRandom);
        const bool changed =
            engine.computeGeneration(run.fast, run.fastSettings, run.fastRandom,
                                     generation == 1 ? Untouched::KeepNext : Untouched::FromCurrent, computed);
        if (auto r = sameMap("currentMap", run.reference.currentMap, run.fast.currentMap, size, true); !r)
            return r << where;
        if (auto r = sameMap("nextMap", run.reference.nextMap, run.fast.nextMap, size, false); !r) return r << where;
        if (auto r = sameSource(run.referenceRandom, run.fastRandom); !r) return r << where;
        bool referenceChanged = false;
        for (int x = 1; x <= size.x; ++x)
            for (int y = 1; y <= size.y; ++y) {
                const bool differs = run.reference.currentMap(x, y) != run.reference.nextMap(x, y);
                referenceChanged |= differs;
                if (computed.changed(x, y) != differs)
                    return testing::AssertionFailure() << "change mark of (" << x << ", " << y << ") wrong" << where;
            }
        if (changed != referenceChanged) return testing::AssertionFailure() << "changed reported wrongly" << where;
        run.countCycle();
        if (generation == c.generations) break;  // computed but never kept
        commitAndDraw(run.reference, run.referenceSettings,
                      MapCanvas{referencePixels.data(), width, width, height, -1, -1});
        std::swap(run.fast.currentMap, run.fast.nextMap);
        std::swap(kept, computed);
        keptPhase = run.fast.phaseFlag;
    }
    const std::string atEnd = " at the end (" + describe(c, t) + ")";
    if (c.generations > 1) {
        engine.drawChanges(run.fast.currentMap, kept, keptPhase, run.fastSettings,
                           MapCanvas{fastPixels.data(), width, width, height, -1, -1});
        if (auto r = samePixels(referencePixels, fastPixels, width); !r) return r << atEnd;
        // A canvas showing the map from cell (4, 7) on: rows start between words of the mask.
        if (size.x > 3 && size.y > 6) {
            const int partWidth = size.x - 3, partHeight = size.y - 6;
            std::vector<std::uint32_t> part(static_cast<std::size_t>(partWidth) * partHeight, 1);
            engine.drawChanges(run.fast.currentMap, kept, keptPhase, run.fastSettings,
                               MapCanvas{part.data(), partWidth, partWidth, partHeight, -4, -7});
            for (int y = 0; y < partHeight; ++y)
                for (int x = 0; x < partWidth; ++x)
                    if (part[static_cast<std::size_t>(y) * partWidth + x] !=
                        referencePixels[static_cast<std::size_t>(y + 6) * width + (x + 3)])
                        return testing::AssertionFailure()
                               << "pixel (" << x << ", " << y << ") of the part differs" << atEnd;
        }
    }
    const MapStatistics expected = computeFinalStatistics(run.reference, run.referenceSettings);
    const MapStatistics counted = engine.finalStatistics(run.fast, run.fastSettings);
    if (expected.unchangedCount != counted.unchangedCount || expected.waterCount != counted.waterCount ||
        expected.landCount != counted.landCount)
        return testing::AssertionFailure() << "statistics " << counted.unchangedCount << "/" << counted.waterCount
                                           << "/" << counted.landCount << ", expected " << expected.unchangedCount
                                           << "/" << expected.waterCount << "/" << expected.landCount << atEnd;
    return testing::AssertionSuccess();
}

using test::presets;

// Both flows drawn cell by cell: the decisions come from another thread when shared.
Settings randomFlows(int xsize, int ysize) {
    Settings s = presets(xsize, ysize);
    s.downupflow = 60;
    s.upflowenabled = 1;
    s.upflowratio = 50;
    s.leftrightflow = 45;
    s.leftflowenabled = 1;
    s.rightflowratio = 30;
    return s;
}

TEST(SharedEngine, SmallAndOddMapsSplitBetweenTwoAndThreeThreads) {
    // Maps narrower than the threads, single rows and columns, and sizes that end between vectors.
    const std::pair<int, int> sizes[] = {{1, 1}, {2, 3}, {3, 1}, {1, 9}, {17, 33}, {33, 17}, {64, 5}, {71, 40}};
    int seed = 0;
    for (const auto& [x, y] : sizes) {
        for (const Settings& s : {presets(x, y), randomFlows(x, y)}) {
            for (const Threading t : {kOneThread, kTwoAlways, kThreeAlways}) {
                RunCase c;
                c.settings = s;
                c.seed = ++seed;
                c.generations = 5;
                ASSERT_TRUE(drawnRunMatches(c, t));
                ASSERT_TRUE(keptRunMatches(c, t));
            }
        }
    }
}

TEST(SharedEngine, MixedSettingsWithErosionAndMargins) {
    std::mt19937 pick(77);
    auto from = [&pick](std::initializer_list<std::int32_t> values) {
        return values.begin()[std::uniform_int_distribution<std::size_t>(0, values.size() - 1)(pick)];
    };
    for (int i = 0; i < 40; ++i) {
        RunCase c;
        Settings& s = c.settings;
        s = presets(from({1, 5, 16, 33, 48}), from({1, 3, 31, 32, 47}));
        s.downupflow = from({0, -1, 1, 50, 99, 100});
        s.upflowenabled = from({0, 1});
        s.downflowenabled = from({0, 1});
        s.upflowratio = from({-1, 0, 50, 98, 100});
        s.leftrightflow = from({0, -1, 1, 50, 99});
        s.leftflowenabled = from({0, 1});
        s.rightflowenabled = from({0, 1});
        s.rightflowratio = from({-1, 0, 50, 100});
        s.landmasssize = from({4, 0, 7, 9, -1});
        s.landwaterratio = from({6, 0, 8, 9, -1});
        s.oceanedgesizex = from({0, 1, -1});
        s.oceanedgesizey = from({0, 2, -2});
        s.erosion = from({0, 1});
        s.randerosionvar1 = from({3, 9});
        s.randerosionvar2 = from({2, 0});
        c.buildErosion = s.erosion == 1;
        c.seed = 31 * i + 1;
        c.generations = 6;
        const Threading t = i % 2 == 0 ? kTwoAlways : kThreeAlways;
        ASSERT_TRUE(drawnRunMatches(c, t));
        ASSERT_TRUE(keptRunMatches(c, t));
    }
}

TEST(SharedEngine, TwoWalksThroughTheDecisionsMeetOrOneWalksAlone) {
    // Maps big enough for the second walk to be waited for, in shapes from one tall column to
    // many short ones, with cells of one to four draws (the second walk searches for a sure
    // start) and cells of always two draws (it starts exactly at a cell), with either walk.
    Settings twoDraws = presets(150, 101);
    twoDraws.downupflow = 50;
    twoDraws.leftrightflow = 30;
    twoDraws.upflowenabled = twoDraws.leftflowenabled = 0;
    Settings upToFour = randomFlows(150, 101);
    upToFour.upflowratio = 99;  // every vertical flow takes its second draw
    for (const Settings& shape :
         {randomFlows(3, 70001), randomFlows(9000, 4), randomFlows(333, 77), twoDraws, upToFour}) {
        const RunCase c{shape, 5.0 + shape.xsize, 3, false};
        ASSERT_TRUE(keptRunMatches(c, kTwoAlways));
        ASSERT_TRUE(drawnRunMatches(c, kTwoAlways));
        ASSERT_TRUE(keptRunMatches(c, kTwoCellToCell));
    }
    // The engine says how many generations two walks made: all of these, and none of a map too
    // small for two (there the second walk could make no cells before the first got to them).
    for (const auto& [settings, joined] : {std::pair{randomFlows(333, 77), 4}, std::pair{twoDraws, 4},
                                           std::pair{upToFour, 4}, std::pair{randomFlows(20, 7), 0}}) {
        FastEngine engine(bestKernelLevel(), 2, 0);
        RunCase c{settings, 9, 4, false};
        Pair run(c);
        ChangeMask changes;
        for (int generation = 1; generation <= c.generations; ++generation) {
            run.reference.phaseFlag = run.fast.phaseFlag = 1 - run.reference.phaseFlag;
            wrapBorder(run.reference, run.referenceSettings);
            engine.wrapBorder(run.fast, run.fastSettings);
            computeGeneration(run.reference, run.referenceSettings, run.referenceRandom);
            engine.computeGeneration(run.fast, run.fastSettings, run.fastRandom, Untouched::KeepNext, changes);
            ASSERT_TRUE(sameSource(run.referenceRandom, run.fastRandom));
            ASSERT_EQ(run.reference.nextMap, run.fast.nextMap);
            commitAndDraw(run.reference, run.referenceSettings, MapCanvas{});
            engine.commitAndDraw(run.fast, run.fastSettings, MapCanvas{});
        }
        EXPECT_EQ(engine.joinedWalks(), joined) << describe(c, kTwoAlways);
    }
}

TEST(SharedEngine, LargeMapsAsShipped) {
    // Big enough that the engine shares the work without being told to.
    for (const Settings& s : {presets(1031, 515), randomFlows(1031, 515)}) {
        RunCase c;
        c.settings = s;
        c.settings.erosion = 1;
        c.buildErosion = true;
        c.seed = 42;
        c.generations = 3;
        ASSERT_TRUE(keptRunMatches(c, kTwoAsShipped));
    }
    RunCase c;
    c.settings = randomFlows(1031, 515);
    c.generations = 2;
    EXPECT_TRUE(drawnRunMatches(c, kTwoAsShipped));
}

TEST(FastFill, LaysThePatternOfTheStraightforwardFill) {
    // Margins of every sign, maps smaller than their grids, columns longer than a block of the
    // source and a source never seeded (seed -1 here) or part-way through a block.
    struct Shape {
        int x, y, capacity;
    };
    int n = 0;
    for (const Shape shape : {Shape{1, 1, 1}, Shape{5, 3, 9}, Shape{40, 700, 700}, Shape{623, 2, 630}}) {
        for (const std::int32_t margin : {0, 1, 2, -1, -5, 900}) {
            Settings s = presets(shape.x, shape.y);
            s.oceanedgesizex = margin;
            s.oceanedgesizey = margin == 2 ? -1 : margin;
            MapState reference(shape.capacity, shape.capacity), fast(shape.capacity, shape.capacity);
            Random referenceRandom, fastRandom;
            if (++n % 3 != 0) {
                referenceRandom.seedRandom(n);
                fastRandom.seedRandom(n);
            }
            for (int i = 0; i < n % 5 * 97; ++i) (void)referenceRandom.nextRaw(), (void)fastRandom.nextRaw();
            fillInitialLandmass(reference, s, referenceRandom);
            FastEngine().fillInitialLandmass(fast, s, fastRandom);
            ASSERT_EQ(reference.currentMap, fast.currentMap) << shape.x << "x" << shape.y << " margin " << margin;
            ASSERT_TRUE(sameSource(referenceRandom, fastRandom)) << shape.x << "x" << shape.y << " margin " << margin;
        }
    }
}

}  // namespace
}  // namespace orv
