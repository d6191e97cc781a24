// The fast engine sharing a generation between threads, and generations kept by swapping the
// grids (as the batch generator keeps them), against the straightforward rule, commit and
// drawing: the same grids, the same random numbers taken, the same pixels and statistics. And
// the initial fill a block of the random source at a time.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <utility>

#include "settings/Seeding.hpp"
#include "tests/SimSupport.hpp"

namespace orv {
namespace {

using test::drawnRunMatches;
using test::EngineChoice;
using test::keptRunMatches;
using test::RunCase;
using test::sameSource;

// Engines by their thread count, the smallest map they share out and their walk through the
// flow decisions (the best for the kernels when not given).
const EngineChoice kOneThread{bestKernelLevel(), 1, std::numeric_limits<std::int64_t>::max()};
const EngineChoice kTwoAlways{bestKernelLevel(), 2, 0};
const EngineChoice kThreeAlways{bestKernelLevel(), 3, 0};
const EngineChoice kTwoAsShipped{bestKernelLevel(), 2, FastEngine::kThreadedCells};
const EngineChoice kTwoCellToCell{bestKernelLevel(), 2, 0, FlowWalk::Pairs};

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
            for (const EngineChoice& t : {kOneThread, kTwoAlways, kThreeAlways}) {
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
        const EngineChoice& t = i % 2 == 0 ? kTwoAlways : kThreeAlways;
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
        RunCase c;
        c.settings = shape;
        c.seed = 5.0 + shape.xsize;
        c.generations = 3;
        ASSERT_TRUE(keptRunMatches(c, kTwoAlways));
        ASSERT_TRUE(drawnRunMatches(c, kTwoAlways));
        ASSERT_TRUE(keptRunMatches(c, kTwoCellToCell));
    }
    // The engine says how many generations two walks made: all of these, and none of a map too
    // small for two (there the second walk could make no cells before the first got to them).
    for (const auto& [settings, joined] : {std::pair{randomFlows(333, 77), 4}, std::pair{twoDraws, 4},
                                           std::pair{upToFour, 4}, std::pair{randomFlows(20, 7), 0}}) {
        RunCase c;
        c.settings = settings;
        c.seed = 9;
        test::EngineRun<ReferenceEngine> reference(c);
        test::EngineRun<FastEngine> fast(c, bestKernelLevel(), 2, 0);
        ChangeMask changes;
        for (int generation = 1; generation <= c.generations; ++generation) {
            generationCycle(reference.engine, reference.map, reference.settings, reference.random);
            generationCycle(fast.engine, fast.map, fast.settings, fast.random, Untouched::KeepNext, changes);
            ASSERT_TRUE(sameSource(reference.random, fast.random));
            ASSERT_EQ(reference.map.nextMap, fast.map.nextMap);
            reference.engine.commitAndDraw(reference.map, reference.settings, MapCanvas{}, MapColors{});
            fast.engine.commitAndDraw(fast.map, fast.settings, MapCanvas{}, MapColors{});
        }
        EXPECT_EQ(fast.engine.joinedWalks(), joined) << describe(c, kTwoAlways);
    }
}

TEST(SharedEngine, WorldsSharedOutAndWalkedInTwo) {
    for (Settings s : {presets(333, 77), randomFlows(333, 77), randomFlows(71, 40)}) {
        s.continents = 4;
        s.seacolor = 9;
        s.oceanedgesizey = 3;
        RunCase c;
        c.settings = s;
        c.seed = 17;
        c.generations = 4;
        for (const EngineChoice& t : {kTwoAlways, kThreeAlways, kTwoCellToCell}) {
            ASSERT_TRUE(keptRunMatches(c, t));
            ASSERT_TRUE(drawnRunMatches(c, t));
        }
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
                referenceRandom.seed(seedWord(n));
                fastRandom.seed(seedWord(n));
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
