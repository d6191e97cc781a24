// The world pyramid and the figures of a world: the same world from the same seed, worlds that
// tile, any size, the margins, what each setting does, and land masses labelled across the wrap.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "rng/Random.hpp"
#include "sim/GenerateMap.hpp"
#include "sim/MapGrid.hpp"
#include "sim/Simulation.hpp"
#include "tests/SimSupport.hpp"
#include "world/WorldFigures.hpp"
#include "world/WorldPyramid.hpp"

namespace orv {
namespace {

WorldParameters world(int continents, int landshare = 40, int coastroughness = 50, int islands = 30) {
    return {continents, landshare, coastroughness, islands};
}

WorldMask grow(int seed, int width, int height, const WorldParameters& parameters, int marginX = 0, int marginY = 0,
               std::uint64_t* draws = nullptr) {
    Random random;
    random.seedRandom(seed);
    WorldMask mask = buildWorld(random, width, height, marginX, marginY, parameters);
    if (draws) *draws = random.draws();
    return mask;
}

double landShare(const WorldMask& mask) {
    return static_cast<double>(std::count(mask.cells.begin(), mask.cells.end(), 1)) /
           static_cast<double>(mask.cells.size());
}

TEST(WorldPyramid, SameSeedSameWorldOtherSeedOtherWorld) {
    std::uint64_t drawsA = 0, drawsB = 0;
    const WorldMask a = grow(7, 300, 200, world(5), 0, 0, &drawsA);
    const WorldMask b = grow(7, 300, 200, world(5), 0, 0, &drawsB);
    EXPECT_EQ(a.cells, b.cells);
    EXPECT_EQ(drawsA, drawsB);
    EXPECT_NE(grow(8, 300, 200, world(5)).cells, a.cells);

    // A pyramid that grew other worlds before, and worlds grown on several threads at once,
    // give the same world: nothing is left over from one world to the next.
    WorldPyramid pyramid;
    WorldMask reused;
    Random random;
    for (const int size : {517, 64, 300}) {
        random.seedRandom(7);
        pyramid.build(random, size, 200, 0, 0, world(5), reused);
    }
    EXPECT_EQ(reused.cells, a.cells);
    std::vector<WorldMask> parallel(2);
    std::vector<std::thread> threads;
    for (auto& mask : parallel) threads.emplace_back([&mask] { mask = grow(7, 300, 200, world(5)); });
    for (auto& t : threads) t.join();
    for (const auto& mask : parallel) EXPECT_EQ(mask.cells, a.cells);
}

TEST(WorldPyramid, NoWorldDrawsNothingAndIsLandOutsideTheMargins) {
    std::uint64_t draws = 1;
    const WorldMask mask = grow(1, 40, 30, world(0), 3, 5, &draws);
    EXPECT_EQ(draws, 0u);
    for (int x = 0; x < 40; ++x)
        for (int y = 0; y < 30; ++y) EXPECT_EQ(mask.land(x, y), !inOceanEdge(x, 40, 3) && !inOceanEdge(y, 30, 5));
}

// For each x, the cells that differ between columns x and x + 1 (the last: and the first), and
// the land cells of column x; for each y, likewise for rows.
struct Across {
    std::vector<double> columns, rows, landByColumn, landByRow;
    explicit Across(const WorldMask& m)
        : columns(static_cast<std::size_t>(m.width)),
          rows(static_cast<std::size_t>(m.height)),
          landByColumn(columns.size()),
          landByRow(rows.size()) {
        for (int x = 0; x < m.width; ++x) {
            for (int y = 0; y < m.height; ++y) {
                const auto i = static_cast<std::size_t>(x), j = static_cast<std::size_t>(y);
                columns[i] += m.land(x, y) != m.land((x + 1) % m.width, y);
                rows[j] += m.land(x, y) != m.land(x, (y + 1) % m.height);
                landByColumn[i] += m.land(x, y);
                landByRow[j] += m.land(x, y);
            }
        }
    }
};

// A world tiles: summed over many small worlds, its cells differ across the wrap as often as
// across the lines of the coarsest grid inside, which every level treats alike (within a few
// per cent; a wrap that misses a neighbour at one level shows as a third more), and the
// coarse cells at the wrap hold as much land as the others. At sizes that are no multiple of
// a coarse cell, the cells across the wrap differ no more or less than somewhere inside.
TEST(WorldPyramid, TheWrapIsNoSeam) {
    for (const auto& [w, h] : {std::pair{64, 64}, {48, 40}}) {
        Across sum(grow(1, w, h, world(3, 40, 100)));
        for (int seed = 2; seed <= 1000; ++seed) {
            const Across one(grow(seed, w, h, world(3, 40, 100)));
            for (auto [to, from] : {std::pair{&sum.columns, &one.columns},
                                    {&sum.rows, &one.rows},
                                    {&sum.landByColumn, &one.landByColumn},
                                    {&sum.landByRow, &one.landByRow}})
                for (std::size_t i = 0; i < to->size(); ++i) (*to)[i] += (*from)[i];
        }
        for (const auto& [across, land] : {std::pair{&sum.columns, &sum.landByColumn}, {&sum.rows, &sum.landByRow}}) {
            const std::size_t cells = across->size() / 8;  // of the coarsest grid
            double lines = 0, blockLand = 0;               // the mean over those away from the wrap
            for (std::size_t i = 7; i + 1 < across->size(); i += 8)
                lines += (*across)[i] / static_cast<double>(cells - 1);
            for (std::size_t i = 0; i + 8 < land->size(); ++i) blockLand += (*land)[i] / static_cast<double>(cells - 1);
            double lastBlock = 0;
            for (std::size_t i = land->size() - 8; i < land->size(); ++i) lastBlock += (*land)[i];
            EXPECT_NEAR(across->back(), lines, 0.15 * lines) << w << "x" << h;
            EXPECT_NEAR(lastBlock, blockLand, 0.15 * blockLand) << w << "x" << h;
        }
    }
    for (const auto& [w, h] : {std::pair{517, 300}, {301, 769}}) {
        const Across one(grow(3, w, h, world(5, 40, 100)));
        for (const auto* across : {&one.columns, &one.rows}) {
            EXPECT_LE(across->back(), *std::max_element(across->begin(), across->end() - 1)) << w << "x" << h;
            EXPECT_GE(across->back(), *std::min_element(across->begin(), across->end() - 1)) << w << "x" << h;
        }
    }
}

TEST(WorldPyramid, AnySizeAnyAspect) {
    for (const auto& [w, h] : {std::pair{1, 1}, {1, 97}, {97, 1}, {2, 2}, {3, 5}, {257, 263}, {4099, 3}}) {
        for (const int continents : {1, 4, 16}) {
            const WorldMask mask = grow(11, w, h, world(continents));
            ASSERT_EQ(mask.cells.size(), static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
            EXPECT_TRUE(std::all_of(mask.cells.begin(), mask.cells.end(), [](std::uint8_t c) { return c <= 1; }));
            EXPECT_EQ(mask.cells, grow(11, w, h, world(continents)).cells);
        }
    }
    EXPECT_NEAR(landShare(grow(11, 257, 263, world(4))), 0.40, 0.02);
    for (const auto& [w, h] : {std::pair{0, 5}, {5, -1}, {65537, 1}})
        EXPECT_THROW(grow(11, w, h, world(4)), std::invalid_argument);
}

// Sea lies exactly where the classic initial pattern is not laid, for margins of every kind.
TEST(WorldPyramid, TheMarginsAreSea) {
    const int w = 120, h = 90;
    MapGrid grid(w, h);
    for (const auto& [mx, my] : {std::pair{0, 0}, {1, 1}, {17, 6}, {-3, 44}, {60, 45}, {61, 0}}) {
        const Settings s = [&] {
            Settings t = test::presets(w, h);
            t.oceanedgesizex = mx;
            t.oceanedgesizey = my;
            return t;
        }();
        const FillRange fill = initialFillRange(s, grid);
        const WorldMask mask = grow(5, w, h, world(4, 99), mx, my);
        std::int64_t land = 0, open = 0;
        for (int x = 0; x < w; ++x) {
            for (int y = 0; y < h; ++y) {
                const bool laid = x + 1 >= fill.x0 && x + 1 <= fill.x1 && y + 1 >= fill.y0 && y + 1 <= fill.y1;
                EXPECT_EQ(inOceanEdge(x, w, mx) || inOceanEdge(y, h, my), !laid) << x << "," << y;
                if (!laid) {
                    EXPECT_FALSE(mask.land(x, y)) << x << "," << y;
                }
                land += mask.land(x, y);
                open += laid;
            }
        }
        if (open > 500) {
            EXPECT_GT(land, open / 2) << mx << "," << my;  // landshare 99 of the open cells
        }
    }
}

// Each setting moves what it names, the others held.
TEST(WorldPyramid, EachSettingHasItsEffect) {
    const int n = 512;
    for (const int share : {20, 40, 60}) EXPECT_NEAR(landShare(grow(2, n, n, world(4, share))), share / 100.0, 0.015);
    auto masses = [&](const WorldParameters& p) { return measureWorld(grow(2, n, n, p)).landMasses.size(); };
    EXPECT_LT(masses(world(5, 40, 50, 0)), masses(world(3, 40, 50, 0)));    // larger continents, fewer
    EXPECT_LT(masses(world(4, 40, 50, 0)), masses(world(4, 40, 50, 100)));  // islands
    auto coast = [&](int roughness) {  // land cells with a sea neighbour below them
        const WorldMask mask = grow(2, n, n, world(4, 40, roughness, 0));
        int count = 0;
        for (int x = 0; x < n; ++x)
            for (int y = 0; y < n; ++y) count += mask.land(x, y) && !mask.land(x, (y + 1) % n);
        return count;
    };
    EXPECT_LT(coast(0) * 1.2, coast(100));
}

// What a world should look like: land 20-60 % of the map, the largest land mass at least a
// quarter of the land, 2 to 40 masses of at least 0.1 % of the map, one sea holding 80 % of it.
void expectWorldLook(const WorldFigures& f, int seed) {
    const double land = static_cast<double>(f.landCells) / static_cast<double>(f.cells);
    EXPECT_GT(land, 0.2) << seed;
    EXPECT_LT(land, 0.6) << seed;
    EXPECT_GE(static_cast<double>(f.largestLandMass()), 0.25 * static_cast<double>(f.landCells)) << seed;
    EXPECT_GE(f.landMassesOfAtLeast(0.001), 2) << seed;
    EXPECT_LE(f.landMassesOfAtLeast(0.001), 40) << seed;
    EXPECT_GE(static_cast<double>(f.largestSea()), 0.8 * static_cast<double>(f.seaCells)) << seed;
}

// What a world should look like, on a few seeds at a size where the default look is
// continents 4 (a coarsest grid of 32 x 32 cells, as continents 7 gives at 4096 x 4096).
TEST(WorldPyramid, WorldsHaveContinentsAndOneOcean) {
    for (int seed = 1; seed <= 4; ++seed) {
        const WorldFigures f = measureWorld(grow(seed, 512, 512, world(4)));
        expectWorldLook(f, seed);
    }
}

// The same figures for whole maps, after the classic rule has run on the world (the cells
// outside the sea taken as land, read back from the classes the map shows): the rule never
// moves the sea, so the land masses are those the run measured on the world it grew.
TEST(WorldPyramid, MapsAfterTheRuleKeepTheWorldsFigures) {
    double seam = 0, inside = 0;  // coast cells across the wrap-around, and across the lines inside
    for (int seed = 1; seed <= 3; ++seed) {
        MapRequest request;
        applyPresets(request.settings);
        request.settings.xsize = request.settings.ysize = 512;
        request.settings.continents = 4;
        request.seed = SeedChoice::of(seed);
        request.generations = 12;
        MapPicture picture;
        const MapResult result = generateMap(request, picture);
        WorldMask seen{512, 512, std::vector<std::uint8_t>(512 * 512)};
        for (int y = 0; y < 512; ++y)
            for (int x = 0; x < 512; ++x) seen.cells[seen.index(x, y)] = picture.classRow(y)[x] != kClassSea;
        const WorldFigures f = measureWorld(seen);
        EXPECT_EQ(f.landMasses, result.landMasses) << seed;
        EXPECT_EQ(f.seaCells, result.seaCount) << seed;
        expectWorldLook(f, seed);
        // Inside the continents the classic texture: all three classes, not one.
        EXPECT_GT(result.waterCount, f.landCells / 10);
        EXPECT_GT(result.unchangedCount, f.landCells / 10);
        // The map tiles: the last column meets the first, the bottom row the top one, as often
        // at a coast as two columns or rows inside do (52 against 62 on average here).
        for (int k = 0; k < 512; ++k) {
            const int next = (k + 1) % 512;
            for (int j = 0; j < 512; ++j) {
                const double coast = (seen.land(k, j) != seen.land(next, j)) + (seen.land(j, k) != seen.land(j, next));
                (next == 0 ? seam : inside) += coast;
            }
        }
    }
    EXPECT_GT(seam, 0.5 * inside / 511);
    EXPECT_LT(seam, 2.0 * inside / 511);
}

// Levels past the map's size act as the most it holds (8 at 400 x 400), which keep the land share.
TEST(WorldPyramid, LevelsPastTheMapsSizeActAsTheMostItHolds) {
    Settings s = test::presets(400, 400);
    const MapGrid grid(400, 400);
    auto grown = [&](int continents) {
        s.continents = continents;
        Random random;
        random.seedRandom(3);
        return growWorld(s, grid, random).value();
    };
    const WorldMask most = grown(8);
    EXPECT_EQ(grown(16).cells, most.cells);
    EXPECT_NE(grown(7).cells, most.cells);
    EXPECT_NEAR(landShare(most), 0.4, 0.02);
}

// The sizes of the components by a plain flood fill over every cell, across the wraps.
std::pair<std::vector<std::int64_t>, std::vector<std::int64_t>> floodFill(const WorldMask& m) {
    std::vector<int> seen(m.cells.size(), 0);
    std::vector<std::int64_t> land, sea;
    for (int x0 = 0; x0 < m.width; ++x0) {
        for (int y0 = 0; y0 < m.height; ++y0) {
            if (seen[m.index(x0, y0)]) continue;
            const bool isLand = m.land(x0, y0);
            std::vector<std::pair<int, int>> stack{{x0, y0}};
            seen[m.index(x0, y0)] = 1;
            std::int64_t size = 0;
            while (!stack.empty()) {
                const auto [x, y] = stack.back();
                stack.pop_back();
                ++size;
                for (int dx = -1; dx <= 1; ++dx) {
                    for (int dy = -1; dy <= 1; ++dy) {
                        if ((dx == 0 && dy == 0) || (!isLand && dx != 0 && dy != 0)) continue;
                        const int nx = (x + dx + m.width) % m.width, ny = (y + dy + m.height) % m.height;
                        if (seen[m.index(nx, ny)] || m.land(nx, ny) != isLand) continue;
                        seen[m.index(nx, ny)] = 1;
                        stack.push_back({nx, ny});
                    }
                }
            }
            (isLand ? land : sea).push_back(size);
        }
    }
    std::sort(land.begin(), land.end(), std::greater<>());
    std::sort(sea.begin(), sea.end(), std::greater<>());
    return {land, sea};
}

TEST(WorldFigures, LabelsLikeAFloodFillAcrossTheWraps) {
    // Noise: many cells that meet only at a corner, and runs that wrap top to bottom.
    Random random;
    random.seedRandom(9);
    for (const auto& [w, h] : {std::pair{1, 1}, {1, 7}, {7, 1}, {2, 2}, {3, 5}, {31, 17}, {64, 64}}) {
        WorldMask mask{w, h, std::vector<std::uint8_t>(static_cast<std::size_t>(w) * static_cast<std::size_t>(h))};
        for (auto& c : mask.cells) c = static_cast<std::uint8_t>(scaleDraw(random.nextRaw(), 2));
        const WorldFigures f = measureWorld(mask);
        const auto [land, sea] = floodFill(mask);
        EXPECT_EQ(f.landMasses, land) << w << "x" << h;
        EXPECT_EQ(f.seas, sea) << w << "x" << h;
    }
    // Land in two opposite corners is one mass across both wraps; sea there is two seas.
    WorldMask corners{4, 3, std::vector<std::uint8_t>(12, 0)};
    corners.cells[corners.index(0, 0)] = corners.cells[corners.index(3, 2)] = 1;
    EXPECT_EQ(measureWorld(corners).landMasses, std::vector<std::int64_t>{2});
    for (auto& c : corners.cells) c ^= 1;
    EXPECT_EQ(measureWorld(corners).seas, (std::vector<std::int64_t>{1, 1}));
}

}  // namespace
}  // namespace orv
