// The fast engine against the straightforward rule, commit and drawing: the same grids, the
// same random numbers taken and the same pixels after every step of every generation, over many
// settings, sizes and seeds, for every kernel version this processor runs.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "settings/Seeding.hpp"
#include "tests/SimSupport.hpp"

namespace orv {

void PrintTo(KernelLevel level, std::ostream* out) {
    *out << kernelLevelName(level);
}

namespace {

using test::drawnRunMatches;
using test::RunCase;
using test::sameSource;

// A case of the window program's cycle in grids for 40 x 40, drawn onto an 80 x 60 canvas.
RunCase windowCase(const Settings& settings) {
    RunCase c;
    c.settings = settings;
    c.seed = 0;
    c.capacity = 40;
    c.canvas = test::CanvasShape{80, 60, 4, 3};
    return c;
}

using test::presets;

std::vector<KernelLevel> levels() {
    std::vector<KernelLevel> available;
    for (KernelLevel level :
         {KernelLevel::Portable, KernelLevel::Sse2, KernelLevel::Simd128, KernelLevel::Avx2, KernelLevel::Avx512})
        if (kernelLevelAvailable(level)) available.push_back(level);
    return available;
}

class FastEngineMatches : public testing::TestWithParam<KernelLevel> {};

TEST_P(FastEngineMatches, PresetsOnTheFullMap) {
    RunCase c = windowCase(presets(400, 400));
    c.capacity = 400;
    c.seed = 42;
    c.generations = 3;
    c.canvas = test::CanvasShape{800, 600, 40, 40};
    EXPECT_TRUE(drawnRunMatches(c, {GetParam()}));
}

TEST_P(FastEngineMatches, EveryThresholdOfEachFlowAlone) {
    // One flow at a time over the thresholds that decide how draws are taken, with both of its
    // enable flags each way; the map is odd-sized so that columns end between vectors.
    for (std::int32_t t : {-1, 0, 1, 50, 98, 99, 100}) {
        for (std::int32_t ratio : {-1, 0, 1, 50, 98, 99, 100}) {
            for (int flags = 0; flags < 4; ++flags) {
                RunCase vertical = windowCase(presets(17, 33));
                vertical.settings.downupflow = t;
                vertical.settings.upflowratio = ratio;
                vertical.settings.upflowenabled = flags & 1;
                vertical.settings.downflowenabled = flags >> 1;
                vertical.seed = 1000 + t;
                vertical.generations = 3;
                ASSERT_TRUE(drawnRunMatches(vertical, {GetParam()}));

                RunCase horizontal = windowCase(presets(33, 17));
                horizontal.settings.downupflow = 0;
                horizontal.settings.leftrightflow = t;
                horizontal.settings.rightflowratio = ratio;
                horizontal.settings.leftflowenabled = flags & 1;
                horizontal.settings.rightflowenabled = flags >> 1;
                horizontal.seed = 2000 + ratio;
                horizontal.generations = 3;
                ASSERT_TRUE(drawnRunMatches(horizontal, {GetParam()}));
            }
        }
    }
}

TEST_P(FastEngineMatches, SmallAndOddSizesMarginsAndCanvases) {
    struct Shape {
        int x, y, capacity;
    };
    const Shape shapes[] = {{1, 1, 1},    {1, 7, 7},    {7, 1, 9},    {3, 2, 3},   {2, 3, 40},
                            {17, 33, 33}, {31, 16, 40}, {33, 65, 70}, {48, 47, 48}};
    const test::CanvasShape canvases[] = {{80, 60, 4, 3}, {10, 9, 2, 1}, {20, 20, -5, -3}, {800, 600, 40, 40}};
    int n = 0;
    for (const Shape& shape : shapes) {
        for (std::int32_t margin : {0, 1, 3, -2, 40}) {
            RunCase c = windowCase(presets(shape.x, shape.y));
            c.settings.oceanedgesizex = margin;
            c.settings.oceanedgesizey = margin == 3 ? 1 : margin;
            c.settings.leftrightflow = 50;  // both flows random
            c.settings.downupflow = 60;
            c.settings.upflowenabled = 1;
            c.settings.upflowratio = 30;
            c.capacity = shape.capacity;
            c.canvas = canvases[n++ % 4];
            c.seed = n;
            c.generations = 5;
            ASSERT_TRUE(drawnRunMatches(c, {GetParam()}));
        }
    }
}

TEST_P(FastEngineMatches, ManySeedsAndMixedSettings) {
    // Settings drawn at random from the values that change how the rule behaves.
    std::mt19937 pick(20240611);
    auto from = [&pick](std::initializer_list<std::int32_t> values) {
        return values.begin()[std::uniform_int_distribution<std::size_t>(0, values.size() - 1)(pick)];
    };
    for (int i = 0; i < 120; ++i) {
        RunCase c = windowCase(presets(from({1, 2, 5, 16, 17, 32, 33, 39}), from({1, 3, 15, 16, 31, 32, 33, 40})));
        Settings& s = c.settings;
        s.downupflow = from({0, -1, 0, 1, 50, 98, 99, 100});
        s.upflowenabled = from({0, 1, 7});
        s.downflowenabled = from({0, 1});
        s.upflowratio = from({-1, 0, 1, 50, 98, 99, 100});
        s.leftrightflow = from({0, -1, 0, 1, 50, 98, 99, 100});
        s.leftflowenabled = from({0, 1, -3});
        s.rightflowenabled = from({0, 1});
        s.rightflowratio = from({-1, 0, 1, 50, 98, 99, 100});
        s.landmasssize = from({4, 0, 3, 7, 8, 9, -1, -100});
        s.landwaterratio = from({6, 0, 2, 8, 9, -1});
        s.oceanedgesizex = from({0, 0, 1, 2, -1});
        s.oceanedgesizey = from({0, 0, 1, 4});
        s.erosion = from({0, 1, 2});
        s.randerosionvar1 = from({3, 9, -4});
        s.randerosionvar2 = from({2, 0, 3});
        s.erosionseed = from({0, 5});
        c.buildErosion = s.erosion == 1 && from({0, 1}) == 1;
        c.seed = i == 0 ? -1 : static_cast<double>(i * 7919);
        c.generations = 6;
        ASSERT_TRUE(drawnRunMatches(c, {GetParam()}));
    }
}

TEST_P(FastEngineMatches, LongRunWithRandomFlowsOnAMediumMap) {
    RunCase c = windowCase(presets(57, 61));
    c.settings.leftrightflow = 40;
    c.settings.upflowenabled = 1;
    c.settings.upflowratio = 50;
    c.settings.downupflow = 70;
    c.settings.erosion = 1;
    c.buildErosion = true;
    c.capacity = 64;
    c.seed = 99;
    c.generations = 40;
    EXPECT_TRUE(drawnRunMatches(c, {GetParam()}));
}

// Generations kept as the batch keeps them, in which every cell counts the same neighbours: each
// vertical and each horizontal neighbour alone or both (flows that always pass, never pass or are
// not drawn), on maps whose columns end between vectors or have fewer cells than one, a world's
// sea among them.
TEST_P(FastEngineMatches, KeptGenerationsOfOneDecision) {
    std::mt19937 pick(77);
    int n = 0;
    for (int vertical = 0; vertical < 3; ++vertical) {
        for (int horizontal = 0; horizontal < 3; ++horizontal) {
            for (const auto& [x, y] : {std::pair{17, 33}, {40, 16}, {33, 65}, {6, 5}, {21, 47}}) {
                RunCase c = windowCase(presets(x, y));
                Settings& s = c.settings;
                // Left out: 0 the upper (the right) neighbour, 1 the lower (the left), 2 neither.
                s.downupflow = vertical == 2 ? 0 : 100;
                s.upflowenabled = vertical == 1;
                s.upflowratio = -1;
                s.leftrightflow = horizontal == 2 ? -1 : 99;
                s.leftflowenabled = horizontal == 1;
                s.rightflowenabled = 1;
                s.rightflowratio = -1;
                s.landmasssize = std::uniform_int_distribution<std::int32_t>(-1, 9)(pick);
                s.landwaterratio = std::uniform_int_distribution<std::int32_t>(-1, 9)(pick);
                s.continents = n % 4 == 3 ? 2 : 0;
                c.seed = ++n;
                c.generations = 7;
                ASSERT_TRUE(FlowDecisions(s, GetParam()).constant());
                ASSERT_TRUE(test::keptRunMatches(c, {GetParam()}));
            }
        }
    }
}

// Worlds: the same on every engine (the sea drawn in a colour of its own and counted apart), and
// the sea held where it was laid through every generation, the land around it changing.
TEST_P(FastEngineMatches, WorldsHoldTheirSea) {
    int n = 0, sea = 0, changedLand = 0;
    for (const auto& [x, y] : {std::pair{40, 40}, {33, 17}, {7, 39}}) {
        for (std::int32_t continents : {1, 3, 6}) {
            RunCase c = windowCase(presets(x, y));
            Settings& s = c.settings;
            s.continents = continents;
            s.seacolor = 3;
            s.oceanedgesizex = n % 3;
            s.leftrightflow = n % 2 == 0 ? 0 : 50;
            s.downupflow = 60;
            s.upflowenabled = 1;
            s.upflowratio = 30;
            c.seed = ++n;
            c.generations = 6;
            ASSERT_TRUE(drawnRunMatches(c, {GetParam()}));
            ASSERT_TRUE(test::keptRunMatches(c, {GetParam()}));

            test::EngineRun<FastEngine> run(c, GetParam());
            ASSERT_TRUE(run.world.has_value());
            const MapGrid start = run.map.currentMap;
            for (int generation = 0; generation < c.generations; ++generation) {
                generationCycle(run.engine, run.map, run.settings, run.random);
                run.engine.commitAndDraw(run.map, run.settings, MapCanvas{}, MapColors{});
            }
            for (int i = 1; i <= x; ++i)
                for (int j = 1; j <= y; ++j) {
                    const bool isSea = !run.world->land(i - 1, j - 1);
                    ASSERT_EQ(run.map.currentMap(i, j) == kSea, isSea) << i << ", " << j << " " << describe(c);
                    sea += isSea;
                    changedLand += !isSea && run.map.currentMap(i, j) != start(i, j);
                }
        }
    }
    EXPECT_GT(sea, 0);
    EXPECT_GT(changedLand, 0);
}

INSTANTIATE_TEST_SUITE_P(Kernels, FastEngineMatches, testing::ValuesIn(levels()),
                         [](const testing::TestParamInfo<KernelLevel>& param) {
                             return std::string(kernelLevelName(param.param));
                         });

// The decisions of the next cell and its draws, one by one as the straightforward rule takes them.
std::uint8_t decideOneCell(const Settings& s, Random& random) {
    auto pass = [&random](std::int32_t t) { return static_cast<std::int32_t>(scaleDraw(random.nextRaw(), 100)) <= t; };
    unsigned counted = kCountUpper | kCountLower | kCountLeft | kCountRight;
    if (s.downupflow != 0 && pass(s.downupflow) && (s.upflowenabled != 0 || s.downflowenabled != 0))
        counted &= ~static_cast<unsigned>(s.upflowenabled == 0 || pass(s.upflowratio) ? kCountUpper : kCountLower);
    if (s.leftrightflow != 0 && pass(s.leftrightflow) && (s.leftflowenabled != 0 || s.rightflowenabled != 0))
        counted &= ~static_cast<unsigned>(s.leftflowenabled == 0 || pass(s.rightflowratio) ? kCountRight : kCountLeft);
    return static_cast<std::uint8_t>(counted);
}

class FlowWalkMatches : public testing::TestWithParam<KernelLevel> {};

TEST_P(FlowWalkMatches, CellByCellInRunsOfAnyLength) {
    // Runs that end inside chunks, at block ends and inside cells cut by a block end, single
    // cells, runs over many blocks, runs that stop before a given draw, and draws taken by
    // someone else in between, for cells of one part and of two, with and without their
    // choices, for both walks. And sure starts found from draws inside cells.
    std::mt19937 pick(4242);
    for (int shape = 0; shape < 6; ++shape) {
        Settings s = presets(400, 400);
        s.downupflow = shape == 3 ? 0 : 60;
        s.upflowenabled = shape == 1 ? 0 : 1;
        s.upflowratio = 40;
        s.leftrightflow = shape == 2 ? 0 : shape == 4 ? 99 : 70;
        s.leftflowenabled = shape == 5 ? 0 : 1;
        s.rightflowratio = 50;
        for (FlowWalk walk : {FlowWalk::Chunks, FlowWalk::Pairs}) {
            FlowDecisions flows(s, GetParam(), walk);
            ASSERT_FALSE(flows.constant());
            Random fast, reference;
            fast.seed(seedWord(shape + 1));
            reference.seed(seedWord(shape + 1));
            std::vector<std::uint8_t> out;
            std::vector<std::uint64_t> starts;
            for (int run = 0; run < 300; ++run) {
                const std::int64_t cells = run % 7 == 0 ? std::uniform_int_distribution<int>(1, 3000)(pick)
                                                        : std::uniform_int_distribution<int>(1, 9)(pick);
                const bool until = run % 5 == 4, noteStarts = !until && run % 3 == 0;
                out.assign(static_cast<std::size_t>(cells), 0xEE);
                starts.assign(static_cast<std::size_t>(cells), 0);
                std::int64_t made = cells;
                if (until) {
                    const std::uint64_t stop = reference.draws() + static_cast<std::uint64_t>(pick() % 9000);
                    made = flows.produceUntil(fast, out.data(), cells, stop);
                    Random counter = reference;
                    std::int64_t expected = 0;
                    for (; expected < cells && counter.draws() < stop; ++expected) decideOneCell(s, counter);
                    ASSERT_EQ(made, expected) << "shape " << shape << ", run " << run;
                } else {
                    flows.produce(fast, out.data(), cells, noteStarts ? starts.data() : nullptr);
                }
                for (std::int64_t i = 0; i < made; ++i) {
                    const auto k = static_cast<std::size_t>(i);
                    if (noteStarts) {
                        ASSERT_EQ(starts[k], reference.draws()) << "shape " << shape << ", run " << run;
                    }
                    ASSERT_EQ(out[k], decideOneCell(s, reference))
                        << "shape " << shape << ", run " << run << ", cell " << i;
                }
                ASSERT_TRUE(sameSource(fast, reference)) << "shape " << shape << ", run " << run;
                if (run % 11 == 10) {
                    ASSERT_EQ(fast.nextRaw(), reference.nextRaw());
                }
            }
            ASSERT_EQ(flows.fixedDraws(), 0);
            for (int probe = 0; probe < 20; ++probe) {
                Random sure = reference;
                sure.discard(1 + pick() % 40);
                ASSERT_TRUE(flows.findSureStart(sure, 100000));
                while (reference.draws() < sure.draws()) decideOneCell(s, reference);
                ASSERT_EQ(reference.draws(), sure.draws()) << "shape " << shape << ": no cell starts there";
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, FlowWalkMatches, testing::ValuesIn(levels()),
                         [](const testing::TestParamInfo<KernelLevel>& param) {
                             return std::string(kernelLevelName(param.param));
                         });

TEST(FlowDecisions, PassLimitIsTheLastOutputWhoseDrawPasses) {
    for (std::int32_t t = 0; t <= 98; ++t) {
        const std::uint32_t limit = FlowDecisions::passLimit(t);
        EXPECT_LE(static_cast<std::int32_t>(scaleDraw(limit, 100)), t) << t;
        EXPECT_GT(static_cast<std::int32_t>(scaleDraw(limit + 1, 100)), t) << t;
    }
}

TEST(FlowDecisions, FixedOutcomesNeedNoDecisionsOnlyDraws) {
    Settings s = presets(400, 400);  // downupflow 100: one draw per cell, always passes, upper left out
    FlowDecisions presetFlows(s);
    EXPECT_TRUE(presetFlows.constant());
    EXPECT_EQ(presetFlows.drawsPerCell(), 1);
    EXPECT_EQ(presetFlows.constantDecision(), kCountLower | kCountLeft | kCountRight);

    s.downupflow = -1;  // a draw per cell that never passes
    EXPECT_TRUE(FlowDecisions(s).constant());
    EXPECT_EQ(FlowDecisions(s).drawsPerCell(), 1);
    EXPECT_EQ(FlowDecisions(s).constantDecision(), kCountUpper | kCountLower | kCountLeft | kCountRight);

    s.downupflow = 50;  // now the draw decides
    EXPECT_FALSE(FlowDecisions(s).constant());
    s.upflowenabled = 0;
    s.downflowenabled = 0;  // ... but the flow cannot act: still one draw, always both neighbours
    EXPECT_TRUE(FlowDecisions(s).constant());

    s = presets(400, 400);
    s.leftrightflow = 99;
    s.rightflowratio = 100;  // two more draws, both always pass: the right neighbour is left out
    FlowDecisions three(s);
    EXPECT_TRUE(three.constant());
    EXPECT_EQ(three.drawsPerCell(), 3);
    EXPECT_EQ(three.constantDecision(), kCountLower | kCountLeft);
}

}  // namespace
}  // namespace orv
