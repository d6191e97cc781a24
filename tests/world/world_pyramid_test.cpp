// The world pyramid and the figures of a world: the same world from the same seed on any number
// of threads, worlds that tile, any size, the margins, the land share as a sea level (the
// contour property), knobs that keep the continents, continents=N giving N continents, and land
// masses labelled across the wrap.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numeric>
#include <stdexcept>
#include <thread>
#include <vector>

#include "map/GenerateMap.hpp"
#include "rng/Random.hpp"
#include "settings/Seeding.hpp"
#include "sim/MapGrid.hpp"
#include "sim/Simulation.hpp"
#include "tests/SimSupport.hpp"
#include "world/Resample.hpp"
#include "world/WorldFigures.hpp"
#include "world/WorldNoise.hpp"
#include "world/WorldPyramid.hpp"

namespace orv {
namespace {

WorldParameters world(int continents, int landshare = 40, int coastroughness = 50, int islands = 30) {
    return {continents, landshare, coastroughness, islands};
}

World grow(std::uint32_t seed, int width, int height, const WorldParameters& parameters, int marginX = 0,
           int marginY = 0, int threads = 1) {
    return buildWorld(seed, width, height, marginX, marginY, parameters, threads);
}

std::int64_t landCells(const World& w) {
    return std::count_if(w.heights.begin(), w.heights.end(), [](std::int16_t h) { return h > World::kSeaLevel; });
}

// The continents' cells in both worlds over those in either.
double continentOverlap(const World& a, const World& b) {
    std::vector<std::uint32_t> massA, massB;
    const std::int64_t na = measureWorld(a, &massA).continents(), nb = measureWorld(b, &massB).continents();
    std::int64_t both = 0, either = 0;
    for (std::size_t i = 0; i < massA.size(); ++i) {
        const bool inA = massA[i] != 0 && massA[i] <= na, inB = massB[i] != 0 && massB[i] <= nb;
        both += inA && inB;
        either += inA || inB;
    }
    return static_cast<double>(both) / static_cast<double>(either);
}

// The integer arithmetic a world is grown with, against the processor's floating point.
TEST(WorldPyramid, IntegerArithmetic) {
    for (std::uint64_t v :
         {0ull, 1ull, 2ull, 3ull, 15ull, 16ull, 17ull, 99999999999ull, (1ull << 62) - 1, 1ull << 62, ~0ull}) {
        const std::uint64_t r = world::isqrt(v);
        EXPECT_LE(static_cast<unsigned __int128>(r) * r, v) << v;
        EXPECT_GT(static_cast<unsigned __int128>(r + 1) * (r + 1), v) << v;
    }
    for (std::uint64_t v : {1ull, 2ull, 3ull, 1000ull, 65536ull, 123456789ull})
        EXPECT_NEAR(static_cast<double>(world::log2Q16(v)) / 65536, std::log2(static_cast<double>(v)), 1.0 / 32768)
            << v;
    for (std::int64_t e : {-16 * 65536 + 1, -65536, -1, 0, 1, 32768, 65536 * 3 + 12345, 30 * 65536})
        EXPECT_NEAR(static_cast<double>(world::exp2Q16(e)) / 65536 / std::exp2(static_cast<double>(e) / 65536), 1.0,
                    1e-4)
            << e;
    // The resampler's weights add up to the whole; a level of one size resamples to itself, and
    // any other to what each fine cell's taps give, read straight from the coarse cells (across
    // the wrap, where the columns read are not consecutive numbers).
    for (const auto& [coarse, fine] : {std::pair{1, 5}, {3, 7}, {9, 20}, {19, 43}, {64, 128}, {100, 257}, {7, 7}}) {
        const world::AxisTaps taps = world::axisTaps(coarse, fine);
        for (const auto& w : taps.weights) EXPECT_EQ(w[0] + w[1] + w[2] + w[3], 4096);
        world::Field f(coarse, 3);
        for (std::size_t i = 0; i < f.cells.size(); ++i) f.cells[i] = static_cast<std::int32_t>(i * 37 % 101);
        const world::Field up = world::upsample(f, fine, 3);
        for (int x = 0; x < fine && coarse != fine; ++x)
            for (int y = 0; y < 3; ++y) {
                std::int32_t sum = 2048;
                for (std::size_t k = 0; k < 4; ++k)
                    sum += taps.weights[static_cast<std::size_t>(x)][k] *
                           f.column(static_cast<int>(taps.cells[static_cast<std::size_t>(x)][k]))[y];
                ASSERT_EQ(up.column(x)[y], sum >> 12) << coarse << " to " << fine << " at " << x << "," << y;
            }
        if (coarse == fine) {
            EXPECT_EQ(up.cells, f.cells);
        }
        // Doubling's own loop gives what the tables give.
        const world::Field twice = world::upsample(world::upsample(f, coarse, 16), coarse, 32);
        world::AxisTaps plain = world::axisTaps(16, 32);
        plain.doubling = false;
        const world::Field half = world::upsample(f, coarse, 16);
        const world::AxisTaps across = world::axisTaps(coarse, coarse);
        world::Upsampler slow(half, across, plain);
        std::vector<std::int32_t> column(32);
        for (int x = 0; x < coarse; ++x) {
            slow.column(x, column.data());
            EXPECT_TRUE(std::equal(column.begin(), column.end(), twice.column(x))) << coarse << " column " << x;
        }
    }
}

TEST(WorldPyramid, SameSeedSameWorldOnAnyNumberOfThreads) {
    const World a = grow(7, 300, 200, world(5));
    for (const int threads : {2, 3, 8}) EXPECT_EQ(grow(7, 300, 200, world(5), 0, 0, threads).heights, a.heights);
    EXPECT_NE(grow(8, 300, 200, world(5)).heights, a.heights);
    // Storage reused from other worlds, and worlds grown side by side, give the same world.
    World reused;
    for (const int size : {517, 64, 300}) buildWorld(7, size, 200, 0, 0, world(5), reused);
    EXPECT_EQ(reused.heights, a.heights);
    std::vector<World> parallel(2);
    std::vector<std::thread> team;
    for (auto& w : parallel) team.emplace_back([&w] { w = grow(7, 300, 200, world(5)); });
    for (auto& t : team) t.join();
    for (const auto& w : parallel) EXPECT_EQ(w.heights, a.heights);
}

TEST(WorldPyramid, NoWorldIsLandOutsideTheMargins) {
    const World w = grow(1, 40, 30, world(0), 3, 5);
    for (int x = 0; x < 40; ++x)
        for (int y = 0; y < 30; ++y) EXPECT_EQ(w.land(x, y), !inOceanEdge(x, 40, 3) && !inOceanEdge(y, 30, 5));
}

// A world tiles: summed over many small worlds, cells differ across the wrap as often as across
// any line inside (within a few per cent; a wrap that misses a neighbour at one level shows as
// far more), at sizes that are powers of two and sizes that are not.
TEST(WorldPyramid, TheWrapIsNoSeam) {
    for (const auto& [w, h] : {std::pair{64, 64}, {48, 40}, {100, 37}}) {
        std::vector<double> columns(static_cast<std::size_t>(w)), rows(static_cast<std::size_t>(h));
        for (std::uint32_t seed = 1; seed <= 400; ++seed) {
            const World m = grow(seed, w, h, world(2, 40, 100));
            for (int x = 0; x < w; ++x)
                for (int y = 0; y < h; ++y) {
                    columns[static_cast<std::size_t>(x)] += m.land(x, y) != m.land((x + 1) % w, y);
                    rows[static_cast<std::size_t>(y)] += m.land(x, y) != m.land(x, (y + 1) % h);
                }
        }
        for (const auto* across : {&columns, &rows}) {
            const double inside =
                std::accumulate(across->begin(), across->end() - 1, 0.0) / static_cast<double>(across->size() - 1);
            EXPECT_NEAR(across->back(), inside, 0.1 * inside) << w << "x" << h;
        }
    }
}

TEST(WorldPyramid, AnySizeAnyAspect) {
    for (const auto& [w, h] : {std::pair{1, 1}, {1, 97}, {97, 1}, {2, 2}, {3, 5}, {257, 263}, {4099, 3}}) {
        for (const int continents : {1, 4, 16}) {
            const World m = grow(11, w, h, world(continents));
            ASSERT_EQ(m.heights.size(), static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
            EXPECT_EQ(m.heights, grow(11, w, h, world(continents)).heights);
        }
    }
    EXPECT_NEAR(static_cast<double>(landCells(grow(11, 257, 263, world(4)))) / (257 * 263), 0.40, 0.001);
    for (const auto& [w, h] : {std::pair{0, 5}, {5, -1}, {65537, 1}})
        EXPECT_THROW(grow(11, w, h, world(4)), std::invalid_argument);
}

// Sea lies wherever the classic initial pattern is not laid, for margins of every kind, and
// land keeps off the margins: it meets them with a coast, never on the first or last two
// columns and rows inside them (where there is room to keep off).
TEST(WorldPyramid, TheMarginsAreSea) {
    const int w = 120, h = 90;
    MapGrid grid(w, h);
    for (const auto& [mx, my] : {std::pair{0, 0}, {1, 1}, {17, 6}, {-3, 44}, {60, 45}, {61, 0}}) {
        Settings s = test::presets(w, h);
        s.oceanedgesizex = mx;
        s.oceanedgesizey = my;
        const FillRange fill = initialFillRange(s, grid);
        const World m = grow(5, w, h, world(2), mx, my);
        std::int64_t land = 0, open = 0;
        for (int x = 0; x < w; ++x) {
            for (int y = 0; y < h; ++y) {
                const bool laid = x + 1 >= fill.x0 && x + 1 <= fill.x1 && y + 1 >= fill.y0 && y + 1 <= fill.y1;
                EXPECT_EQ(inOceanEdge(x, w, mx) || inOceanEdge(y, h, my), !laid) << x << "," << y;
                EXPECT_EQ(m.at(x, y) == World::kMarginHeight, !laid) << x << "," << y;
                const bool wide = fill.x1 - fill.x0 > 20 && fill.y1 - fill.y0 > 20;
                const bool nearEdge = wide && ((mx > 0 && (x + 1 < fill.x0 + 2 || x + 1 > fill.x1 - 2)) ||
                                               (my > 0 && (y + 1 < fill.y0 + 2 || y + 1 > fill.y1 - 2)));
                if (nearEdge) {
                    EXPECT_FALSE(m.land(x, y)) << mx << "," << my << ": " << x << "," << y;
                }
                land += m.land(x, y);
                open += laid;
            }
        }
        EXPECT_NEAR(static_cast<double>(land), static_cast<double>(open * 40) / 100, 2.0) << mx << "," << my;
    }
}

// The land share is a sea level: the land of a smaller share lies inside that of a larger one,
// and holds its share of the cells inside the margins (of heights that tie at the sea level,
// all or none: to a cell or so here).
TEST(WorldPyramid, ASmallerLandShareLiesInsideALargerOne) {
    for (const auto& [w, h, mx, my] : {std::tuple{160, 120, 0, 0}, {97, 203, 9, 4}}) {
        std::int64_t open = 0;
        for (int x = 0; x < w; ++x)
            for (int y = 0; y < h; ++y) open += !inOceanEdge(x, w, mx) && !inOceanEdge(y, h, my);
        World smaller = grow(3, w, h, world(3, 1), mx, my);
        for (const int share : {20, 38, 40, 41, 60, 99}) {
            const World larger = grow(3, w, h, world(3, share), mx, my);
            EXPECT_NEAR(static_cast<double>(landCells(larger)), static_cast<double>(open * share) / 100, 2.0) << share;
            for (std::size_t i = 0; i < larger.heights.size(); ++i) {
                if (smaller.heights[i] > 0) {
                    ASSERT_GT(larger.heights[i], 0) << share << ": cell " << i;
                }
            }
            smaller = larger;
        }
    }
}

// On a small map no two heights tie at the sea level: the land is the share of the open cells,
// rounded to the nearest cell.
TEST(WorldPyramid, TheLandShareIsRoundedToTheNearestCell) {
    for (const int share : {1, 35, 40, 45, 99}) {
        const World w = grow(6, 9, 11, world(2, share));
        EXPECT_EQ(landCells(w), (99 * share + 50) / 100) << share;
    }
}

// coastroughness and islands draw from streams of their own: the continents stay where they are.
TEST(WorldPyramid, KnobsKeepTheContinents) {
    for (std::uint32_t seed = 1; seed <= 3; ++seed) {
        const World base = grow(seed, 512, 512, world(4));
        EXPECT_GE(continentOverlap(base, grow(seed, 512, 512, world(4, 40, 50, 0))), 0.95) << seed;
        EXPECT_GE(continentOverlap(base, grow(seed, 512, 512, world(4, 40, 49))), 0.95) << seed;
    }
    // Each step of islands changes the world, even at the window's size.
    World before = grow(9, 400, 400, world(3, 40, 50, 0));
    for (int islands = 1; islands <= 100; ++islands) {
        const World after = grow(9, 400, 400, world(3, 40, 50, islands));
        EXPECT_NE(after.heights, before.heights) << islands;
        before = after;
    }
}

// continents=N gives N land masses of at least 5 % of the land at any size: the median over a
// few seeds is N and most are within one of it (the figures tool measures 20 seeds a size).
TEST(WorldPyramid, ContinentsGiveThatManyContinents) {
    for (const auto& [n, size] : {std::pair{1, 256}, {2, 512}, {3, 300}, {5, 512}, {8, 640}}) {
        std::vector<std::int64_t> counts;
        for (std::uint32_t seed = 1; seed <= 7; ++seed)
            counts.push_back(measureWorld(grow(seed, size, size, world(n))).continents());
        std::sort(counts.begin(), counts.end());
        EXPECT_EQ(counts[3], n) << n << " at " << size;
        EXPECT_GE(std::count_if(counts.begin(), counts.end(), [n = n](std::int64_t c) { return std::abs(c - n) <= 1; }),
                  6)
            << n << " at " << size;
    }
}

// The run's world: one draw of the source after the seeding step, whatever seeded it; generateMap
// keeps it when asked, the very heights growWorld gives, and the map's sea is its sea.
TEST(WorldPyramid, TheRunsWorldIsTheWorldGrownForItsSeed) {
    Settings s = test::presets(192, 128);
    s.continents = 3;
    s.oceanedgesizey = 7;
    auto grown = [&s](Random& random) {
        Settings t = s;
        drawRandratio(t, random);
        const std::uint64_t before = random.draws();
        World w = *growWorld(t, MapSize{t.xsize, t.ysize}, random);
        EXPECT_EQ(random.draws(), before + 1);
        return w;
    };
    Random unseeded, seeded, classic;
    seeded.seed(seedWord(5));
    EXPECT_NE(grown(unseeded).heights, grown(seeded).heights);
    Settings none = s;
    none.continents = 0;
    EXPECT_FALSE(growWorld(none, MapSize{192, 128}, classic).has_value());
    EXPECT_EQ(classic.draws(), 0u);

    MapRequest request;
    request.settings = s;
    request.seed = SeedChoice::of(5);
    request.generations = 6;
    request.keepWorld = true;
    MapPicture picture;
    const MapResult result = generateMap(request, picture);
    Random again;
    again.seed(seedWord(5));
    const World w = grown(again);
    ASSERT_TRUE(result.heights);
    EXPECT_EQ(result.heights->heights, w.heights);
    EXPECT_EQ(result.landMasses, measureWorld(w).landMasses);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 192; ++x) ASSERT_EQ(picture.classRow(y)[x] == kClassSea, !w.land(x, y)) << x << "," << y;
    request.keepWorld = false;
    EXPECT_FALSE(generateMap(request, picture).heights);
}

// The sizes of the components by a plain flood fill over every cell, across the wraps.
std::pair<std::vector<std::int64_t>, std::vector<std::int64_t>> floodFill(const World& m) {
    std::vector<int> seen(m.heights.size(), 0);
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

World noise(Random& random, int w, int h) {
    World m{w, h, std::vector<std::int16_t>(static_cast<std::size_t>(w) * static_cast<std::size_t>(h))};
    for (auto& c : m.heights) c = static_cast<std::int16_t>(scaleDraw(random.nextRaw(), 2) ? 100 : -100);
    return m;
}

TEST(WorldFigures, LabelsLikeAFloodFillAcrossTheWraps) {
    // Noise: many cells that meet only at a corner, and runs that wrap top to bottom.
    Random random;
    random.seed(seedWord(9));
    for (const auto& [w, h] : {std::pair{1, 1}, {1, 7}, {7, 1}, {2, 2}, {3, 5}, {31, 17}, {64, 64}}) {
        const World m = noise(random, w, h);
        std::vector<std::uint32_t> massOf;
        const WorldFigures f = measureWorld(m, &massOf);
        const auto [land, sea] = floodFill(m);
        EXPECT_EQ(f.landMasses, land) << w << "x" << h;
        EXPECT_EQ(f.seas, sea) << w << "x" << h;
        // Every cell's mass: sea 0, and each mass's cells as many as its size.
        std::vector<std::int64_t> sizes(f.landMasses.size() + 1, 0);
        for (std::size_t i = 0; i < massOf.size(); ++i) {
            ASSERT_EQ(massOf[i] != 0, m.heights[i] > 0);
            ++sizes[massOf[i]];
        }
        EXPECT_EQ(std::vector<std::int64_t>(sizes.begin() + 1, sizes.end()), f.landMasses) << w << "x" << h;
    }
    // Land in two opposite corners is one mass across both wraps; sea there is two seas.
    World corners{4, 3, std::vector<std::int16_t>(12, -1)};
    corners.heights[corners.index(0, 0)] = corners.heights[corners.index(3, 2)] = 1;
    EXPECT_EQ(measureWorld(corners).landMasses, std::vector<std::int64_t>{2});
    for (auto& c : corners.heights) c = static_cast<std::int16_t>(-c);
    EXPECT_EQ(measureWorld(corners).seas, (std::vector<std::int64_t>{1, 1}));
    // Continents hold at least 5 % of the land each.
    WorldFigures f;
    f.landCells = 100;
    f.landMasses = {60, 20, 5, 4, 4, 4, 3};
    EXPECT_EQ(f.continents(), 3);
}

}  // namespace
}  // namespace orv
