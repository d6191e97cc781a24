// The terrain: relief that keeps the world's coast, drainage in which every land cell reaches
// the sea (checked by following the flow, and the upstream areas and orders counted again in
// another order), lakes with their outlets, and rivers traced as lines, on maps of any shape.
#include "terrain/Terrain.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <numeric>
#include <random>
#include <stdexcept>
#include <vector>

#include "SyntheticWorld.hpp"
#include "map/GenerateMap.hpp"
#include "terrain/Drainage.hpp"
#include "terrain/Relief.hpp"
#include "terrain/Rivers.hpp"

namespace orv {
namespace {

std::size_t at(int x, int y, int w) {
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x);
}

// The cell the flow of cell i leads to, found without the terrain's own grid.
std::size_t downstream(const Drainage& d, std::size_t i) {
    const int w = d.width, h = d.height, f = d.flow[i];
    const int x = static_cast<int>(i % static_cast<std::size_t>(w)),
              y = static_cast<int>(i / static_cast<std::size_t>(w));
    return at(((x + kDirectionX[f]) % w + w) % w, ((y + kDirectionY[f]) % h + h) % h, w);
}

// Checks a drained terrain against what drainage promises, each promise counted again another
// way: `before` are the heights drain was given, `after` what it left.
void expectDrained(const std::vector<std::int16_t>& before, const std::vector<std::int16_t>& after, const Drainage& d) {
    const std::size_t n = before.size();
    ASSERT_EQ(after.size(), n);
    ASSERT_EQ(d.flow.size(), n);
    // Land stays land, heights are only raised, lakes and sea untouched.
    for (std::size_t i = 0; i < n; ++i) {
        ASSERT_EQ(before[i] > 0, after[i] > 0) << i;
        ASSERT_EQ(d.terrainAt(i) == kTerrainSea, before[i] <= 0) << i;
        ASSERT_GE(after[i], before[i]) << i;
        if (d.terrainAt(i) == kTerrainLake) {
            EXPECT_EQ(after[i], before[i]) << i;
        }
        if (d.flow[i] == kNoFlow)
            ASSERT_TRUE(d.terrainAt(i) == kTerrainSea ||
                        (d.terrainAt(i) == kTerrainLake && d.lakes[lakeOf(d, static_cast<std::uint32_t>(i))].closed))
                << i;
        else
            ASSERT_LT(d.flow[i], kDirections) << i;
    }
    // Upstream areas in an order of their own (inflows counted, cells with none first): every
    // land cell is taken, so that no flow goes round in a circle, and the areas agree.
    std::vector<int> inflows(n, 0);
    std::vector<std::uint32_t> area(n, 0);
    for (std::size_t i = 0; i < n; ++i)
        if (d.flow[i] != kNoFlow && d.terrainAt(i) != kTerrainSea) {
            area[i] = 1;
            if (d.terrainAt(downstream(d, i)) != kTerrainSea) ++inflows[downstream(d, i)];
        } else if (d.terrainAt(i) != kTerrainSea) {
            area[i] = 1;
        }
    std::deque<std::size_t> ready;
    for (std::size_t i = 0; i < n; ++i)
        if (d.terrainAt(i) != kTerrainSea && inflows[i] == 0) ready.push_back(i);
    std::size_t taken = 0;
    while (!ready.empty()) {
        const std::size_t i = ready.front();
        ready.pop_front();
        ++taken;
        if (d.flow[i] == kNoFlow) continue;
        const std::size_t j = downstream(d, i);
        if (d.terrainAt(j) == kTerrainSea) continue;
        area[j] += area[i];
        if (--inflows[j] == 0) ready.push_back(j);
    }
    const auto land =
        static_cast<std::size_t>(std::count_if(before.begin(), before.end(), [](std::int16_t v) { return v > 0; }));
    ASSERT_EQ(taken, land) << "some land never drains";
    EXPECT_EQ(area, d.upstream);
    // Water runs level or down: a lake cell stands at its lake's surface, the bed below it. The
    // lake of a cell is that of the cell it drains into, or the one whose entry it is.
    std::vector<int> level(after.begin(), after.end());
    std::vector<std::int64_t> lakeCells(d.lakes.size(), 0);
    std::vector<std::size_t> lakeAt(n, d.lakes.size());
    for (std::size_t k = 0; k < d.lakes.size(); ++k) lakeAt[d.lakes[k].entry] = k;
    std::vector<std::size_t> path;
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = i; d.terrainAt(j) == kTerrainLake && lakeAt[j] == d.lakes.size(); j = downstream(d, j))
            path.push_back(j);
        const std::size_t k = path.empty() ? lakeAt[i] : lakeAt[downstream(d, path.back())];
        for (std::size_t j : path) lakeAt[j] = k;
        path.clear();
    }
    for (std::size_t i = 0; i < n; ++i)
        if (d.terrainAt(i) == kTerrainLake) {
            const std::size_t k = lakeAt[i];
            ASSERT_LT(k, d.lakes.size());
            ++lakeCells[k];
            level[i] = d.lakes[k].surface;
            if (!d.lakes[k].closed) {
                EXPECT_LT(after[i], d.lakes[k].surface) << i;
            }
        }
    for (std::size_t i = 0; i < n; ++i)
        if (d.flow[i] != kNoFlow && d.terrainAt(i) != kTerrainSea) {
            EXPECT_LE(level[downstream(d, i)], level[i]) << i;
        }
    // Each lake spills over its outlet, a land cell at its surface that its entry drains into.
    for (std::size_t k = 0; k < d.lakes.size(); ++k) {
        const Lake& lake = d.lakes[k];
        EXPECT_EQ(lakeCells[k], lake.cells) << k;
        if (lake.closed) continue;
        EXPECT_EQ(after[lake.outlet], lake.surface) << k;
        EXPECT_TRUE(d.terrainAt(lake.outlet) == kTerrainLand || d.terrainAt(lake.outlet) == kTerrainRiver) << k;
        EXPECT_EQ(downstream(d, lake.entry), lake.outlet) << k;
        EXPECT_EQ(d.terrainAt(lake.entry), kTerrainLake) << k;
    }
    // Rivers where the upstream area reaches the threshold or a river or lake flows in, and
    // Strahler's orders from the streams that meet in each cell.
    for (std::size_t i = 0; i < n; ++i) {
        const TerrainClass c = d.terrainAt(i);
        if (c == kTerrainSea) continue;
        int highest = 0, times = 0;
        bool fed = false;
        const int x = static_cast<int>(i % static_cast<std::size_t>(d.width)),
                  y = static_cast<int>(i / static_cast<std::size_t>(d.width));
        for (int k = 0; k < kDirections; ++k) {
            const std::size_t j = at(((x + kDirectionX[k]) % d.width + d.width) % d.width,
                                     ((y + kDirectionY[k]) % d.height + d.height) % d.height, d.width);
            if (j == i || d.flow[j] == kNoFlow || d.terrainAt(j) == kTerrainSea || downstream(d, j) != i) continue;
            if (d.flow[j] != oppositeDirection(k)) continue;  // the same neighbour twice on a narrow map
            if (d.terrainAt(j) != kTerrainRiver && d.terrainAt(j) != kTerrainLake) continue;
            fed = true;
            if (d.orderAt(j) > highest) {
                highest = d.orderAt(j);
                times = 1;
            } else if (d.orderAt(j) == highest && highest > 0) {
                ++times;
            }
        }
        const int order = std::min(15, highest + (times >= 2 ? 1 : 0));
        const bool river = d.riverThreshold > 0 && (d.upstream[i] >= d.riverThreshold || fed);
        if (c == kTerrainLake) {
            EXPECT_EQ(d.orderAt(i), order) << i;
        } else {
            EXPECT_EQ(c == kTerrainRiver, river) << i;
            EXPECT_EQ(d.orderAt(i), river ? std::max(1, order) : 0) << i;
        }
    }
}

// Heights of noise: the synthetic world's field about its sea level, in metres; `rough` adds
// noise of single cells, which leaves pits and flats everywhere.
std::vector<std::int16_t> noise(std::uint32_t seed, int w, int h, bool rough) {
    const std::vector<std::uint16_t> field = fractalField(seed, w, h);
    const int sea = seaLevelFor(field, 0.5);
    std::mt19937 pick(seed);
    std::vector<std::int16_t> heights(field.size());
    for (std::size_t i = 0; i < field.size(); ++i)
        heights[i] = static_cast<std::int16_t>((field[i] - sea) / 16 + (rough ? static_cast<int>(pick() % 40) : 0));
    return heights;
}

Drainage drained(std::vector<std::int16_t>& heights, int w, int h, int rivers = 50, std::int64_t lake = 24,
                 int lakesPerMille = 1000) {
    const std::vector<std::int16_t> before = heights;
    Drainage d = drain(heights, w, h, rivers, lake, lakesPerMille);
    expectDrained(before, heights, d);
    return d;
}

TEST(TerrainDrainage, NoiseOfAnyShapeDrainsToTheSea) {
    for (const auto& [w, h] :
         {std::pair{1, 1}, {1, 9}, {9, 1}, {2, 2}, {3, 5}, {64, 48}, {97, 31}, {3, 65536}, {65536, 3}}) {
        for (const bool rough : {false, true}) {
            SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h) + (rough ? " rough" : ""));
            std::vector<std::int16_t> heights = noise(7, w, h, rough);
            const Drainage d = drained(heights, w, h, 60, rough ? 4 : 24);
            if (w * h >= 3000) {
                EXPECT_GT(std::count_if(d.cells.begin(), d.cells.end(),
                                        [](std::uint8_t c) { return (c & 3) == kTerrainRiver; }),
                          0);
                if (rough) {
                    EXPECT_FALSE(d.lakes.empty());
                }
            }
        }
    }
}

TEST(TerrainDrainage, EdgeCaseWorlds) {
    // All sea: nothing drains, nothing flows.
    std::vector<std::int16_t> sea(35, -3);
    const Drainage none = drained(sea, 7, 5);
    EXPECT_TRUE(none.lakes.empty());
    EXPECT_TRUE(std::all_of(none.flow.begin(), none.flow.end(), [](std::uint8_t f) { return f == kNoFlow; }));
    // All land: one closed basin at the lowest cell (the first of them), everything drains to it,
    // whatever share of the land lakes may cover.
    for (const bool flat : {true, false}) {
        std::vector<std::int16_t> land = flat ? std::vector<std::int16_t>(48, 7) : noise(3, 8, 6, true);
        for (std::int16_t& v : land) v = static_cast<std::int16_t>(std::max<int>(v, 0) + 1);
        const auto lowest = static_cast<std::uint32_t>(std::min_element(land.begin(), land.end()) - land.begin());
        const Drainage d = drained(land, 8, 6, 100, 24, flat ? 1000 : 0);
        ASSERT_EQ(d.lakes.size(), 1u);
        EXPECT_TRUE(d.lakes[0].closed);
        EXPECT_EQ(d.lakes[0].entry, lowest);
        EXPECT_EQ(d.upstream[lowest], 48u);
    }
    // A flat island: every cell drains the shortest way (king's moves) to the sea.
    std::vector<std::int16_t> plateau(30 * 20, -1);
    for (int y = 2; y < 18; ++y)
        for (int x = 3; x < 27; ++x) plateau[at(x, y, 30)] = 100;
    const Drainage flats = drained(plateau, 30, 20);
    for (int y = 2; y < 18; ++y)
        for (int x = 3; x < 27; ++x) {
            int steps = 0;
            for (std::size_t i = at(x, y, 30); plateau[i] > 0; i = downstream(flats, i)) ++steps;
            EXPECT_EQ(steps, std::min({x - 2, 27 - x, y - 1, 18 - y})) << x << " " << y;
        }
}

TEST(TerrainDrainage, APitIsFilledOrALakeThatSpillsOverItsOutlet) {
    // A bowl on an island: its rim stands at 50 but for a notch at 30 on the east, through which
    // it spills down to the sea.
    const int w = 21, h = 21;
    std::vector<std::int16_t> bowl(w * h, -10);
    for (int y = 2; y < 19; ++y)
        for (int x = 2; x < 19; ++x) {
            const int r = std::max(std::abs(x - 10), std::abs(y - 10));
            bowl[at(x, y, w)] = static_cast<std::int16_t>(r < 6 ? 10 + r : r == 6 ? 50 : 30 - 5 * (r - 6));
        }
    bowl[at(16, 10, w)] = 30;
    for (const std::int64_t smallest : {1, 121, 122}) {
        std::vector<std::int16_t> heights = bowl;
        const Drainage d = drained(heights, w, h, 50, smallest);
        if (smallest <= 121) {
            ASSERT_EQ(d.lakes.size(), 1u);
            const Lake& lake = d.lakes[0];
            EXPECT_EQ(lake.cells, 11 * 11);
            EXPECT_EQ(lake.surface, 30);
            EXPECT_EQ(lake.deepest, 10);
            EXPECT_EQ(lake.outlet, at(16, 10, w));
            EXPECT_EQ(d.terrainAt(lake.outlet), kTerrainRiver) << "the lake spills into a river";
        } else {
            EXPECT_TRUE(d.lakes.empty());
            EXPECT_EQ(heights[at(10, 10, w)], 30) << "filled to the notch";
        }
    }
}

TEST(TerrainDrainage, LakesKeepToTheirShareOfTheLandTheLargestFirst) {
    const int w = 97, h = 61;
    std::vector<std::int16_t> free = noise(5, w, h, true);
    const std::int64_t land = std::count_if(free.begin(), free.end(), [](std::int16_t v) { return v > 0; });
    std::vector<std::int16_t> capped = free;
    const Drainage all = drained(free, w, h, 50, 4);
    std::int64_t total = 0;
    for (const Lake& lake : all.lakes) total += lake.cells;
    ASSERT_GE(all.lakes.size(), 4u);
    // Room for about half the lakes' cells: the largest lake fits, smaller ones fill the rest.
    const int perMille = static_cast<int>(total * 1000 / land / 2);
    const std::int64_t most = land * perMille / 1000;
    const Drainage d = drained(capped, w, h, 50, 4, perMille);
    std::int64_t kept = 0;
    for (const Lake& lake : d.lakes) kept += lake.cells;
    EXPECT_LE(kept, most);
    EXPECT_LT(d.lakes.size(), all.lakes.size());
    // Every lake kept is one of those found without the cap; every one dropped was too large
    // for the room left.
    std::int64_t largest = 0;
    std::size_t found = 0;
    for (const Lake& lake : all.lakes) {
        largest = std::max(largest, lake.cells);
        const auto same = std::find_if(d.lakes.begin(), d.lakes.end(), [&](const Lake& k) {
            return k.entry == lake.entry && k.cells == lake.cells && k.surface == lake.surface;
        });
        if (same == d.lakes.end()) {
            EXPECT_GT(lake.cells, most - kept);
        } else {
            ++found;
        }
    }
    EXPECT_EQ(found, d.lakes.size());
    EXPECT_TRUE(std::any_of(d.lakes.begin(), d.lakes.end(), [&](const Lake& k) { return k.cells == largest; }));
    EXPECT_THROW(drain(capped, w, h, 50, 4, 1001), std::invalid_argument);
}

TEST(TerrainDrainage, RiversCrossTheWrap) {
    // A valley falling from west to east that starts near the east edge and reaches the sea
    // west of the middle, across the wrap.
    const int w = 40, h = 9;
    std::vector<std::int16_t> heights(w * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int along = (x + w - 30) % w;  // 0 at x = 30, rising to the east ...
            heights[at(x, y, w)] =
                static_cast<std::int16_t>(along >= 18 ? -5 : 200 - 10 * along + 15 * std::abs(y - 4));
        }
    const Drainage d = drained(heights, w, h, 100, 24);
    const std::vector<River> rivers = traceRivers(d);
    bool crosses = false;
    for (const River& r : rivers)
        for (std::size_t k = 0; k < r.cells.size(); ++k)
            crosses = crosses || (r.cells[k] % w == static_cast<std::uint32_t>(w - 1) && kDirectionX[r.steps[k]] > 0);
    EXPECT_TRUE(crosses);
}

TEST(TerrainDrainage, RefusesWhatItCannotDrain) {
    std::vector<std::int16_t> heights(12, 5);
    EXPECT_THROW(drain(heights, 3, 5, 50), std::invalid_argument);
    EXPECT_THROW(drain(heights, 0, 12, 50), std::invalid_argument);
    EXPECT_THROW(drain(heights, 3, 4, 101), std::invalid_argument);
    EXPECT_THROW(drain(heights, 3, 4, -1), std::invalid_argument);
    heights[4] = 16384;
    EXPECT_THROW(drain(heights, 3, 4, 50), std::invalid_argument);
    EXPECT_THROW(checkTerrainSize(65537, 1), std::invalid_argument);
    EXPECT_THROW(checkTerrainSize(65536, 65536), std::invalid_argument);
    EXPECT_NO_THROW(checkTerrainSize(65536, 32768));
    EXPECT_EQ(riverThreshold(0), 0u);
    EXPECT_EQ(riverThreshold(100), 4u);
    EXPECT_EQ(riverThreshold(50), 128u);
}

TEST(TerrainRivers, EveryRiverCellOnOneRiverThatEndsWhereItSays) {
    const SyntheticWorld world = syntheticWorld(5, 300, 200, false);
    const Terrain t = makeTerrain(world.world(), world.classRows(), TerrainOptions{60, 70, true});
    std::vector<int> owners(t.heights.size(), 0);
    const std::vector<double> toWater = lengthsToWater(t.rivers);
    for (std::size_t r = 0; r < t.rivers.size(); ++r) {
        const River& river = t.rivers[r];
        ASSERT_FALSE(river.cells.empty());
        double length =
            river.fromLake >= 0 ? 0.5 * std::hypot(kDirectionX[river.firstStep], kDirectionY[river.firstStep]) : 0;
        for (std::size_t k = 0; k < river.cells.size(); ++k) {
            const std::uint32_t c = river.cells[k];
            ++owners[c];
            EXPECT_EQ(t.drainage.terrainAt(c), kTerrainRiver);
            EXPECT_EQ(t.drainage.orderAt(c), river.order);
            EXPECT_EQ(river.steps[k], t.drainage.flow[c]);
            const double step = std::hypot(kDirectionX[river.steps[k]], kDirectionY[river.steps[k]]);
            length += k + 1 < river.cells.size() || river.end == River::End::river ? step : step / 2;
            if (k + 1 < river.cells.size()) {
                EXPECT_EQ(downstream(t.drainage, c), river.cells[k + 1]);
            }
        }
        EXPECT_NEAR(river.length, length, 1e-9);
        EXPECT_GE(toWater[r], river.length - 1e-9);
        const std::size_t next = downstream(t.drainage, river.cells.back());
        switch (river.end) {
            case River::End::sea:
                EXPECT_EQ(t.drainage.terrainAt(next), kTerrainSea);
                EXPECT_EQ(river.reaches, -1);
                break;
            case River::End::lake:
                EXPECT_EQ(t.drainage.terrainAt(next), kTerrainLake);
                EXPECT_EQ(river.into, static_cast<std::int32_t>(lakeOf(t.drainage, static_cast<std::uint32_t>(next))));
                EXPECT_EQ(river.reaches, river.into);
                break;
            case River::End::river: {
                const River& joined = t.rivers[static_cast<std::size_t>(river.into)];
                EXPECT_EQ(joined.cells[static_cast<std::size_t>(river.joinsAt)], next);
                EXPECT_GT(joined.order, river.order);
                EXPECT_EQ(river.reaches, joined.reaches);
                break;
            }
        }
    }
    for (std::size_t i = 0; i < owners.size(); ++i)
        EXPECT_EQ(owners[i], t.drainage.terrainAt(i) == kTerrainRiver ? 1 : 0) << i;
    EXPECT_GT(t.summary.highestOrder, 2);
    EXPECT_GT(t.summary.longestRiver, *std::max_element(toWater.begin(), toWater.end()) - 1e-9);
}

// A terrain keeps the world's coast and its range at any size; the relief key raises and
// roughens the land; the sea deepens away from the coast; the same inputs give the same heights.
TEST(TerrainRelief, KeepsTheCoastAndRisesWithTheKey) {
    for (const auto& [w, h] : {std::pair{1, 1}, {5, 3}, {3, 500}, {200, 120}}) {
        const SyntheticWorld world = syntheticWorld(9, w, h, false);
        std::vector<double> spread;
        for (const int relief : {0, 50, 100}) {
            const std::vector<std::int16_t> heights = makeRelief(world.world(), world.classRows(), relief);
            EXPECT_EQ(heights, makeRelief(world.world(), world.classRows(), relief));
            double sum = 0, squares = 0, land = 0;
            for (std::size_t i = 0; i < heights.size(); ++i) {
                ASSERT_EQ(heights[i] > 0, world.classes[i] != kClassSea) << i;
                ASSERT_GE(heights[i], kDeepestSea);
                ASSERT_LE(heights[i], kHighestLand);
                ASSERT_NE(heights[i], 0);
                if (heights[i] > 0) {
                    sum += heights[i];
                    squares += static_cast<double>(heights[i]) * heights[i];
                    ++land;
                }
            }
            if (land > 0) spread.push_back(std::sqrt(squares / land - sum * sum / land / land));
        }
        if (w * h > 1000) {
            EXPECT_LT(spread[0] * 2, spread[2]);
        }
    }
    // Sea cells next to the coast are shallower than those ten cells out.
    const SyntheticWorld world = syntheticWorld(4, 256, 256, false);
    const std::vector<std::int16_t> heights = makeRelief(world.world(), world.classRows(), 50);
    // Without the automaton's cells, the field's sea level draws the coast.
    const std::vector<std::int16_t> plain = makeRelief(world.world(), ClassRows{}, 50);
    for (std::size_t i = 0; i < plain.size(); ++i) ASSERT_EQ(plain[i] > 0, world.field[i] > world.seaLevel) << i;
    double nearDepth = 0, near = 0, farDepth = 0, far = 0;
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            if (heights[at(x, y, 256)] > 0) continue;
            int distance = 99;
            for (int r = 1; r <= 10 && distance == 99; ++r)
                for (int k = -r; k <= r; ++k)
                    for (const auto& [dx, dy] : {std::pair{k, -r}, {k, r}, {-r, k}, {r, k}})
                        if (heights[at((x + dx + 256) % 256, (y + dy + 256) % 256, 256)] > 0) distance = r;
            if (distance == 1) nearDepth -= heights[at(x, y, 256)], ++near;
            if (distance == 99) farDepth -= heights[at(x, y, 256)], ++far;
        }
    ASSERT_GT(near * far, 0);
    EXPECT_LT(nearDepth / near * 4, farDepth / far);
    EXPECT_THROW(makeRelief(world.world(), world.classRows(), 101), std::invalid_argument);
    WorldField wrong = world.world();
    wrong.height = 255;
    EXPECT_THROW(makeRelief(wrong, world.classRows(), 50), std::invalid_argument);
}

// The highest land lies deepest inland: over worlds of a few islands, the highest 1 % of the
// land lies far from the sea against the land on average (king's moves across the wrap), near
// the most the coasts allow; and no land rises above the highest.
TEST(TerrainRelief, TheHighestLandLiesDeepestInland) {
    constexpr int kSide = 384;
    double ratio = 0, best = 0;
    for (std::uint32_t seed = 1; seed <= 4; ++seed) {
        const SyntheticWorld world = syntheticWorld(seed, kSide, kSide, false);
        const std::vector<std::int16_t> heights = makeRelief(world.world(), world.classRows(), 50);
        std::vector<int> distance(heights.size(), -1);
        std::deque<std::size_t> queue;
        for (std::size_t i = 0; i < heights.size(); ++i)
            if (heights[i] <= 0) distance[i] = 0, queue.push_back(i);
        while (!queue.empty()) {
            const std::size_t c = queue.front();
            queue.pop_front();
            const int x = static_cast<int>(c % kSide), y = static_cast<int>(c / kSide);
            for (int d = 0; d < kDirections; ++d) {
                const std::size_t n =
                    at((x + kDirectionX[d] + kSide) % kSide, (y + kDirectionY[d] + kSide) % kSide, kSide);
                if (distance[n] < 0) distance[n] = distance[c] + 1, queue.push_back(n);
            }
        }
        std::vector<std::pair<std::int16_t, int>> land;
        std::vector<int> farthest;
        for (std::size_t i = 0; i < heights.size(); ++i)
            if (heights[i] > 0) land.emplace_back(heights[i], distance[i]), farthest.push_back(distance[i]);
        ASSERT_GT(land.size(), 10000u);
        std::sort(land.begin(), land.end(), std::greater<>());
        std::sort(farthest.begin(), farthest.end(), std::greater<>());
        const std::size_t top = land.size() / 100;
        double all = 0, high = 0, far = 0;
        for (std::size_t k = 0; k < land.size(); ++k) all += land[k].second;
        for (std::size_t k = 0; k < top; ++k) high += land[k].second, far += farthest[k];
        ratio += high / all * static_cast<double>(land.size()) / static_cast<double>(top);
        best += far / all * static_cast<double>(land.size()) / static_cast<double>(top);
    }
    EXPECT_GT(ratio, 0.9 * best) << ratio / 4 << " of " << best / 4;
    // The highest land rises no higher than the range at the steepest relief.
    const SyntheticWorld world = syntheticWorld(2, kSide, kSide, false);
    const std::vector<std::int16_t> steep = makeRelief(world.world(), world.classRows(), 100);
    EXPECT_LE(*std::max_element(steep.begin(), steep.end()), kHighestLand);
}

// No seam and no grid: summed over worlds, the heights step across the wrap as much as across
// the lines next to it, and across the edges of the relief's coarsest blocks (32 cells at this
// size) as much as anywhere else. (Read back without the shifts and smoothing, both steps are a
// sixth larger than elsewhere.)
TEST(TerrainRelief, TheWrapIsNoSeamAndTheBlocksNoGrid) {
    const int side = 1024;
    std::vector<double> columns(side, 0.0), rows(side, 0.0);
    for (std::uint32_t seed = 1; seed <= 4; ++seed) {
        const SyntheticWorld world = syntheticWorld(seed, side, side, true);
        const std::vector<std::int16_t> cells = makeRelief(world.world(), world.classRows(), 60);
        // Summed over three by three cells, so that the cells' own texture does not drown the
        // larger scales.
        std::vector<int> heights(cells.size(), 0);
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x)
                for (int k = 0; k < 9; ++k)
                    heights[at(x, y, side)] +=
                        cells[at((x + k % 3 + side - 1) % side, (y + k / 3 + side - 1) % side, side)];
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x) {
                const int here = heights[at(x, y, side)];
                columns[static_cast<std::size_t>(x)] += std::abs(here - heights[at((x + 1) % side, y, side)]);
                rows[static_cast<std::size_t>(y)] += std::abs(here - heights[at(x, (y + 1) % side, side)]);
            }
    }
    for (const std::vector<double>* lines : {&columns, &rows}) {
        const std::size_t n = lines->size();
        double near = 0;
        for (std::size_t k = 1; k <= 8; ++k) near += ((*lines)[k - 1] + (*lines)[n - 1 - k]) / 16;
        EXPECT_NEAR(lines->back() / near, 1.0, 0.1);
        std::vector<double> phase(32, 0.0);
        for (std::size_t k = 0; k < n; ++k) phase[k % 32] += (*lines)[k] / static_cast<double>(n / 32);
        const double mean = std::accumulate(phase.begin(), phase.end(), 0.0) / 32;
        EXPECT_NEAR(phase[31] / mean, 1.0, 0.08);
        EXPECT_LT(*std::max_element(phase.begin(), phase.end()) / *std::min_element(phase.begin(), phase.end()), 1.2);
    }
}

// The same world at two sizes: the relief grown from different automaton cells, the heights
// still alike once the larger is shrunk to the smaller.
TEST(TerrainRelief, TheSameWorldAtEverySize) {
    const SyntheticWorld small = syntheticWorld(2, 128, 128, false), large = syntheticWorld(2, 512, 512, false);
    const std::vector<std::int16_t> a = makeRelief(small.world(), small.classRows(), 50);
    const std::vector<std::int16_t> b = makeRelief(large.world(), large.classRows(), 50);
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) {
            double mean = 0;
            for (int k = 0; k < 16; ++k) mean += b[at(4 * x + k % 4, 4 * y + k / 4, 512)] / 16.0;
            const double v = a[at(x, y, 128)];
            sa += v, sb += mean, saa += v * v, sbb += mean * mean, sab += v * mean;
        }
    const double n = 128 * 128;
    const double correlation = (sab - sa * sb / n) / std::sqrt((saa - sa * sa / n) * (sbb - sb * sb / n));
    EXPECT_GT(correlation, 0.8);
}

}  // namespace
}  // namespace orv
