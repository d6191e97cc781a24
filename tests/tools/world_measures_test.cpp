// The measures orvandel-world-figures reports a world by, on shapes whose figures are known.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tools/WorldMeasures.hpp"

namespace orv {
namespace {

using namespace measures;

// A world of sea with land where land(x, y) says.
template <class Land>
World shaped(int w, int h, Land&& land) {
    World world{w, h, std::vector<std::int16_t>(static_cast<std::size_t>(w) * static_cast<std::size_t>(h))};
    for (int x = 0; x < w; ++x)
        for (int y = 0; y < h; ++y) world.heights[world.index(x, y)] = land(x, y) ? 100 : -100;
    return world;
}

TEST(WorldMeasures, CoastsOfKnownDimension) {
    // A disc's coast is a smooth line: dimension 1 (a little less where the boxes are a few cells:
    // the coast cells of a circle drawn in cells step); land in a checkerboard of single cells
    // fills the plane: dimension 2.
    const World disc = shaped(1024, 1024, [](int x, int y) { return std::hypot(x - 511.5, y - 511.5) < 450; });
    for (const double d : coastDimensions(disc, 4, 4)) EXPECT_NEAR(d, 1.0, 0.15);
    const World board = shaped(256, 256, [](int x, int y) { return (x + y) % 2 == 0; });
    for (const double d : coastDimensions(board, 4, 4)) EXPECT_NEAR(d, 2.0, 0.01);
}

TEST(WorldMeasures, KorcakExponentOfAPowerLaw) {
    // N(area > a) = 10000 a^-0.6: the k-th largest of n islands has area (10000 / k)^(1 / 0.6).
    std::vector<std::int64_t> sizes;
    for (int k = 1; k <= 10000; ++k) sizes.push_back(std::llround(std::pow(10000.0 / k, 1 / 0.6)));
    EXPECT_NEAR(korcakExponent(sizes, 16, 100000), 0.6, 0.02);
    EXPECT_TRUE(std::isnan(korcakExponent({5, 6}, 16, 1000)));
}

TEST(WorldMeasures, IslandsMarginsOverlapsAndTheGrid) {
    // A continent (a band of 40 columns, 40 % of the land and more) and a 2 x 2 island whose
    // nearest cell lies 25 columns from it; sea cells lie up to 50 columns from the band.
    const World w = shaped(140, 60, [](int x, int y) { return x < 40 || (x >= 64 && x < 66 && y >= 10 && y < 12); });
    const Measured m(w);
    ASSERT_EQ(m.continents, 1);
    const Distances d = islandDistances(w, m);
    EXPECT_DOUBLE_EQ(d.island, 25);
    EXPECT_GT(d.sea, 20);
    EXPECT_LT(d.sea, 35);

    const MarginCounts c = marginCounts(w, 0, 0);
    EXPECT_EQ(c.firstColumn, 60);
    EXPECT_EQ(c.lastColumn, 0);
    EXPECT_EQ(c.firstRow, 40);
    EXPECT_EQ(c.lastRow, 40);

    EXPECT_DOUBLE_EQ(continentOverlap(m, m), 1.0);
    const Measured shifted(shaped(140, 60, [](int x, int) { return x >= 20 && x < 60; }));
    EXPECT_DOUBLE_EQ(continentOverlap(m, shifted), 20.0 / 60);

    // The band's coast: two straight vertical lines of 60 edges, one on a multiple of 32 (the
    // wrap at 0); the island's eight edges in runs of two, two of them on the line at 64.
    const EdgeFigures e = edgeFigures(w);
    EXPECT_DOUBLE_EQ(e.inStraightRuns, 120.0 / 128);
    EXPECT_DOUBLE_EQ(e.onMultiplesOf32, 62.0 / 128);
}

}  // namespace
}  // namespace orv
