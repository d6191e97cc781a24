#include "terrain/Relief.hpp"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

#include "terrain/TerrainGrid.hpp"

namespace orv {
namespace {

constexpr std::uint8_t kSeaClass = 3;
constexpr std::int64_t kOne = 65536;  // 1.0 in the ranks and curves
// A first-level block's distance inland is kept as two numbers 0 .. 1024: against an eighth of
// the map in the low bits, against the farthest land from kDeepShift on.
constexpr int kDeepShift = 16;
constexpr std::int32_t kFarBits = (1 << kDeepShift) - 1;

// Floor of a / b for b > 0.
std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

// Floor of the square root.
std::uint64_t squareRoot(std::uint64_t v) {
    std::uint64_t r = 0;
    for (std::uint64_t bit = std::uint64_t{1} << 62; bit != 0; bit >>= 2) {
        if (v >= r + bit) {
            v -= r + bit;
            r = (r >> 1) + bit;
        } else {
            r >>= 1;
        }
    }
    return r;
}

// How a grid of `fine` cells on one axis is cut into `coarse` blocks, and how the coarse grid is
// read back at the fine cells. Block j holds the fine cells floor(j * fine / coarse) up to the
// next block's first; a fine cell lies at (x + 1/2) * coarse / fine - 1/2 in coarse cells
// (centres on whole numbers), between coarse cells `low` and `low + 1` (across the wrap) at
// `weight` / 256 of the way.
struct Axis {
    std::vector<std::int32_t> block, low, high, weight;

    Axis(int fine, int coarse, int shift = 0)
        : block(static_cast<std::size_t>(fine)), low(block.size()), high(block.size()), weight(block.size()) {
        for (int x = 0; x < fine; ++x) {
            const auto i = static_cast<std::size_t>(x);
            block[i] = static_cast<std::int32_t>(std::int64_t{x} * coarse / fine);
            const std::int64_t at =
                floorDiv((2 * std::int64_t{x} + 1) * coarse * 128 - 128 * std::int64_t{fine}, fine) + shift;
            const std::int64_t cell = floorDiv(at, 256);
            low[i] = static_cast<std::int32_t>((cell % coarse + coarse) % coarse);
            high[i] = static_cast<std::int32_t>(((cell + 1) % coarse + coarse) % coarse);
            weight[i] = static_cast<std::int32_t>(at - cell * 256);
        }
    }
};

int halved(int n) {
    return (n + 1) / 2;
}

// 65536 / n for the n cells (1 .. 9) a block holds: a block's mean is its sum times this.
constexpr std::int32_t kPart[10] = {0, 65536, 32768, 21845, 16384, 13107, 10923, 9362, 8192, 7282};

// A level of the scales: the mean of the automaton's cells over blocks 2^k cells across (in
// 1/256), then the deviation from the mean of all land divided by the level's spread (in 1/1024).
struct Level {
    int width = 0, height = 0;
    std::vector<std::int32_t> cells;
};

// The land's share of the height from the world field's rank among land cells (0 .. kOne): a
// curve with its median near a tenth of the top and its mean near a quarter, as on the Earth,
// rising from the coast on.
std::int64_t landCurve(std::int64_t rank) {
    const std::int64_t q2 = rank * rank / kOne;
    const std::int64_t q4 = q2 * q2 / kOne;
    return (5 * rank + 30 * q2 + 65 * q4) / 100;
}

// The depth of the sea in metres from the world field's rank among sea cells counted from the
// coast (0) to the deepest (kOne).
std::int64_t seaDepth(std::int64_t rank) {
    struct Knee {
        std::int64_t rank, metres;
    };
    static constexpr Knee kFloor[] = {
        {0, 1}, {kOne / 10, 200}, {kOne / 5, 3000}, {kOne * 19 / 20, 5500}, {kOne, -std::int64_t{kDeepestSea}}};
    for (std::size_t k = 1; k < std::size(kFloor); ++k)
        if (rank <= kFloor[k].rank) {
            const Knee a = kFloor[k - 1], b = kFloor[k];
            return a.metres + (b.metres - a.metres) * (rank - a.rank) / (b.rank - a.rank);
        }
    return -std::int64_t{kDeepestSea};
}

// Ranks of every field height among the cells counted in `counts` (0 .. kOne): the share of them
// below it, plus half of those equal. Counted downwards (from the top) when `fromTop`.
std::vector<std::uint32_t> ranks(const std::vector<std::uint32_t>& counts, bool fromTop) {
    std::uint64_t total = 0;
    for (std::uint32_t c : counts) total += c;
    std::vector<std::uint32_t> rank(counts.size(), 0);
    if (total == 0) return rank;
    std::uint64_t before = 0;
    for (std::size_t k = 0; k < counts.size(); ++k) {
        const std::size_t v = fromTop ? counts.size() - 1 - k : k;
        rank[v] = static_cast<std::uint32_t>((2 * before + counts[v]) * static_cast<std::uint64_t>(kOne) / (2 * total));
        before += counts[v];
    }
    return rank;
}

// The value the automaton's class gives the relief: settled cells high, cells that turned to
// water low.
constexpr std::int32_t classValue(std::uint8_t c) {
    return c == 2 ? 2 : c == 1 ? 1 : 0;
}

// The world field a row at a time as unsigned heights: the row-major layout as it lies, the
// x-major one turned a band of rows at a time (a cache line of each column per band).
class FieldRows {
public:
    explicit FieldRows(const WorldField& world) : world_(world) {
        if (world.heights.empty()) band_.resize(static_cast<std::size_t>(world.width) * kBand);
    }
    // Heights above it are land.
    std::uint16_t seaLevel() const { return world_.heights.empty() ? kColumnSea : world_.seaLevel; }
    const std::uint16_t* operator()(int y) {
        const auto w = static_cast<std::size_t>(world_.width);
        if (!world_.heights.empty()) return world_.heights.data() + static_cast<std::size_t>(y) * w;
        const int first = y - y % kBand;
        if (first != first_) {
            first_ = first;
            const int rows = std::min(kBand, world_.height - first);
            const auto h = static_cast<std::size_t>(world_.height);
            for (std::size_t x = 0; x < w; ++x) {
                const std::int16_t* column = world_.columns.data() + x * h + static_cast<std::size_t>(first);
                for (int r = 0; r < rows; ++r)
                    band_[static_cast<std::size_t>(r) * w + x] = static_cast<std::uint16_t>(column[r] + kColumnSea);
            }
        }
        return band_.data() + static_cast<std::size_t>(y - first) * w;
    }

private:
    static constexpr int kBand = 32;
    static constexpr std::uint16_t kColumnSea = 32768;  // the world's sea level 0, unsigned
    const WorldField& world_;
    std::vector<std::uint16_t> band_;
    int first_ = -1;
};

}  // namespace

ClassRows classRowsOf(std::span<const std::uint8_t> classes, int width) {
    return [classes, width](int y) {
        return classes.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
    };
}

std::vector<std::int16_t> makeRelief(const WorldField& world, const ClassRows& given, int relief) {
    checkTerrainSize(world.width, world.height);
    const int w = world.width, h = world.height;
    const std::size_t cells = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    if ((world.heights.empty() ? world.columns.size() : world.heights.size()) != cells)
        throw std::invalid_argument("the world field is not width x height");
    if (relief < 0 || relief > 100) throw std::invalid_argument("relief is 0 .. 100");
    // Without the automaton's cells, the field's land and sea, the land all settled.
    FieldRows fieldRows(world);
    std::vector<std::uint8_t> plain;
    const ClassRows classes = given ? given : [&fieldRows, &plain, w](int y) -> const std::uint8_t* {
        plain.resize(static_cast<std::size_t>(w));
        const std::uint16_t* field = fieldRows(y);
        for (std::size_t x = 0; x < plain.size(); ++x) plain[x] = field[x] > fieldRows.seaLevel() ? 2 : kSeaClass;
        return plain.data();
    };

    // The scales: level k has blocks about 2^k cells across, up to the one that leaves about 32
    // blocks across the map's longer side (at least one level).
    int levels = 1;
    while ((std::max(w, h) >> (levels + 1)) >= 32) ++levels;
    std::vector<Level> level(static_cast<std::size_t>(levels) + 1);
    level[0].width = w;
    level[0].height = h;
    for (std::size_t k = 1; k < level.size(); ++k) {
        level[k].width = halved(level[k - 1].width);
        level[k].height = halved(level[k - 1].height);
        level[k].cells.assign(static_cast<std::size_t>(level[k].width) * static_cast<std::size_t>(level[k].height), 0);
    }

    // First pass over the map: the world field's heights counted on land and at sea, and the
    // automaton's land summed over the first level's blocks.
    std::vector<std::uint32_t> landCounts(65536, 0), seaCounts(65536, 0);  // at most 2^31 cells
    std::vector<std::uint8_t> blockLand(level[1].cells.size(), 0);
    {
        const Axis columns(w, level[1].width), rows(h, level[1].height);
        for (int y = 0; y < h; ++y) {
            const std::uint8_t* row = classes(y);
            const std::uint16_t* field = fieldRows(y);
            const std::size_t first = static_cast<std::size_t>(rows.block[static_cast<std::size_t>(y)]) *
                                      static_cast<std::size_t>(level[1].width);
            for (int x = 0; x < w; ++x) {
                const auto i = static_cast<std::size_t>(x);
                const std::size_t b = first + static_cast<std::size_t>(columns.block[i]);
                if (row[i] == kSeaClass) {
                    ++seaCounts[field[i]];
                } else {
                    ++landCounts[field[i]];
                    level[1].cells[b] += classValue(row[i]);
                    ++blockLand[b];
                }
            }
        }
    }
    std::uint64_t landCells = 0, landSum = 0;
    for (std::size_t b = 0; b < blockLand.size(); ++b) {
        landCells += blockLand[b];
        landSum += static_cast<std::uint64_t>(level[1].cells[b]);
    }
    // The mean of the land's values in 1/256; blocks of sea alone take it.
    const std::int32_t mean = landCells == 0 ? 0 : static_cast<std::int32_t>(landSum * 256 / landCells);
    for (std::size_t b = 0; b < blockLand.size(); ++b)
        level[1].cells[b] = blockLand[b] == 0 ? mean : level[1].cells[b] * kPart[blockLand[b]] >> 8;
    // How far inland each first-level block lies: chamfer distances (3 a step along an axis, 4
    // a diagonal one) from the blocks that hold any sea, across the wrap (the second round
    // carries what crossed it).
    std::vector<std::int32_t> inland(blockLand.size());
    {
        const Level& first = level[1];
        const Axis columns(w, first.width), rows(h, first.height);
        std::vector<std::int32_t> across(static_cast<std::size_t>(first.width), 0),
            down(static_cast<std::size_t>(first.height), 0);
        for (int x = 0; x < w; ++x) ++across[static_cast<std::size_t>(columns.block[static_cast<std::size_t>(x)])];
        for (int y = 0; y < h; ++y) ++down[static_cast<std::size_t>(rows.block[static_cast<std::size_t>(y)])];
        constexpr std::int32_t kFar = 1 << 30;
        for (std::size_t by = 0, b = 0; by < down.size(); ++by)
            for (std::size_t bx = 0; bx < across.size(); ++bx, ++b)
                inland[b] = blockLand[b] == across[bx] * down[by] ? kFar : 0;
        const auto bw = static_cast<std::size_t>(first.width), bh = static_cast<std::size_t>(first.height);
        for (int round = 0; round < 2; ++round) {
            for (std::size_t y = 0; y < bh; ++y) {
                std::int32_t* row = inland.data() + y * bw;
                const std::int32_t* up = inland.data() + (y > 0 ? y - 1 : bh - 1) * bw;
                for (std::size_t x = 0; x < bw; ++x) {
                    const std::size_t left = x > 0 ? x - 1 : bw - 1, right = x + 1 < bw ? x + 1 : 0;
                    row[x] = std::min({row[x], row[left] + 3, up[left] + 4, up[x] + 3, up[right] + 4});
                }
            }
            for (std::size_t y = bh; y-- > 0;) {
                std::int32_t* row = inland.data() + y * bw;
                const std::int32_t* next = inland.data() + (y + 1 < bh ? y + 1 : 0) * bw;
                for (std::size_t x = bw; x-- > 0;) {
                    const std::size_t left = x > 0 ? x - 1 : bw - 1, right = x + 1 < bw ? x + 1 : 0;
                    row[x] = std::min({row[x], row[right] + 3, next[right] + 4, next[x] + 3, next[left] + 4});
                }
            }
        }
        // Distances in map cells against an eighth of the map's longer side: 1024 from there on;
        // and against the farthest any land lies inland (0 in a world without sea, which has no
        // inland).
        const std::int64_t reach = std::max<std::int64_t>(1, std::max(w, h) / 8);
        // Chamfer units of the first level to map cells over the reach, in 1/65536.
        const std::int64_t scale = (std::int64_t{w} * 1024 << 16) / (static_cast<std::int64_t>(bw) * 3 * reach);
        std::int64_t farthest = 1;
        for (const std::int32_t d : inland)
            if (d < kFar) farthest = std::max<std::int64_t>(farthest, d);
        for (std::int32_t& d : inland) {
            const std::int64_t far = std::min<std::int64_t>(1024, std::int64_t{d} * scale >> 16);
            const std::int64_t deep = d >= kFar ? 0 : std::min<std::int64_t>(1024, std::int64_t{d} * 1024 / farthest);
            d = static_cast<std::int32_t>(far | deep << kDeepShift);
        }
    }
    std::vector<std::uint8_t>().swap(blockLand);

    // The coarser levels: means of the finer one's blocks.
    for (std::size_t k = 2; k < level.size(); ++k) {
        const Level& fine = level[k - 1];
        Level& coarse = level[k];
        const Axis columns(fine.width, coarse.width), rows(fine.height, coarse.height);
        std::vector<std::uint8_t> count(coarse.cells.size(), 0);
        for (int y = 0; y < fine.height; ++y)
            for (int x = 0; x < fine.width; ++x) {
                const std::size_t b = static_cast<std::size_t>(rows.block[static_cast<std::size_t>(y)]) *
                                          static_cast<std::size_t>(coarse.width) +
                                      static_cast<std::size_t>(columns.block[static_cast<std::size_t>(x)]);
                coarse.cells[b] += fine.cells[static_cast<std::size_t>(y) * static_cast<std::size_t>(fine.width) +
                                              static_cast<std::size_t>(x)];
                ++count[b];
            }
        for (std::size_t b = 0; b < coarse.cells.size(); ++b) coarse.cells[b] = coarse.cells[b] * kPart[count[b]] >> 16;
    }

    // Each level's deviations from the mean in units of its spread (1024 = one spread), then
    // weighted: the scale twice as large stands 27/16 as high, up to 4096 at the largest, so that
    // a scale of the world is as high at every map size.
    std::vector<std::int64_t> weight(level.size());
    weight[level.size() - 1] = 4096;
    for (std::size_t k = level.size() - 1; k > 0; --k) weight[k - 1] = weight[k] * 16 / 27;
    for (std::size_t k = 1; k < level.size(); ++k) {
        for (std::int32_t& v : level[k].cells) v -= mean;
        std::uint64_t squares = 0;
        for (const std::int32_t v : level[k].cells) squares += static_cast<std::uint64_t>(std::int64_t{v} * v);
        const auto spread = static_cast<std::int64_t>(squareRoot(squares / level[k].cells.size()));
        // 1024 a spread, times the weight over 4096, in 1/65536.
        const std::int64_t scale = spread == 0 ? 0 : (weight[k] << 24) / (4096 * spread);
        for (std::int32_t& v : level[k].cells)
            v = spread == 0 ? 0 : static_cast<std::int32_t>(std::int64_t{v} * scale >> 16);
    }
    // Coarse to fine: each level read back at the next finer one's cells and added to it. Read
    // back between its cells, a level changes fastest midway between them, at its blocks' edges,
    // where the edges of all coarser levels lie too: each level is read shifted by its own part
    // of a cell (in 1/256), so that these lines fall apart and no grid shows.
    const auto shift = [](std::size_t k) { return static_cast<int>(k * 97 % 256); };
    for (std::size_t k = level.size() - 1; k > 1; --k) {
        const Level& coarse = level[k];
        Level& fine = level[k - 1];
        const Axis columns(fine.width, coarse.width, shift(k)), rows(fine.height, coarse.height, shift(k));
        for (int y = 0; y < fine.height; ++y) {
            const auto yi = static_cast<std::size_t>(y);
            const std::int32_t* upper =
                coarse.cells.data() + static_cast<std::size_t>(rows.low[yi]) * static_cast<std::size_t>(coarse.width);
            const std::int32_t* lower =
                coarse.cells.data() + static_cast<std::size_t>(rows.high[yi]) * static_cast<std::size_t>(coarse.width);
            const std::int64_t down = rows.weight[yi];
            std::int32_t* out = fine.cells.data() + yi * static_cast<std::size_t>(fine.width);
            for (int x = 0; x < fine.width; ++x) {
                const auto xi = static_cast<std::size_t>(x);
                const auto l = static_cast<std::size_t>(columns.low[xi]),
                           r = static_cast<std::size_t>(columns.high[xi]);
                const std::int64_t across = columns.weight[xi];
                const std::int64_t top = upper[l] * (256 - across) + upper[r] * across;
                const std::int64_t bottom = lower[l] * (256 - across) + lower[r] * across;
                out[xi] += static_cast<std::int32_t>((top * (256 - down) + bottom * down) >> 16);
            }
        }
        std::vector<std::int32_t>().swap(level[k].cells);
    }

    // The last pass: the heights from the field's rank, the first level read back at every cell,
    // and the cell's own class.
    const std::int64_t peak = 1000 + 60 * std::int64_t{relief};
    // Per value of the field: the land's height from its rank before it rises inland, and the
    // sea's depth.
    std::vector<std::int32_t> landHeight(65536), seaFloor(65536);
    {
        const std::vector<std::uint32_t> landRank = ranks(landCounts, false), seaRank = ranks(seaCounts, true);
        for (std::size_t v = 0; v < 65536; ++v) {
            landHeight[v] = static_cast<std::int32_t>(peak * landCurve(landRank[v]) / kOne);
            seaFloor[v] = static_cast<std::int32_t>(-seaDepth(seaRank[v]));
        }
    }
    std::vector<std::uint32_t>().swap(landCounts);
    std::vector<std::uint32_t>().swap(seaCounts);
    const std::int64_t rugged = 6 * std::int64_t{relief};       // thousandths of the height per spread
    const std::int64_t everywhere = 40 + std::int64_t{relief};  // metres per spread
    const std::int64_t uplift = std::min<std::int64_t>(peak, kHighestLand - peak);
    std::vector<std::int16_t> heights(cells);
    const Level& first = level[1];
    std::int64_t middle = 0;  // the mean distance from the middle value
    for (std::int32_t v : first.cells) middle += std::abs(v);
    middle /= static_cast<std::int64_t>(first.cells.size());
    const Axis columns(w, first.width, shift(1)), rows(h, first.height, shift(1));
    std::vector<std::int64_t> blended(static_cast<std::size_t>(first.width)), blendedInland(blended.size()),
        blendedDeep(blended.size());
    for (int y = 0; y < h; ++y) {
        const auto yi = static_cast<std::size_t>(y);
        const std::int32_t* upper =
            first.cells.data() + static_cast<std::size_t>(rows.low[yi]) * static_cast<std::size_t>(first.width);
        const std::int32_t* lower =
            first.cells.data() + static_cast<std::size_t>(rows.high[yi]) * static_cast<std::size_t>(first.width);
        const std::int64_t down = rows.weight[yi];
        for (std::size_t b = 0; b < blended.size(); ++b) blended[b] = upper[b] * (256 - down) + lower[b] * down;
        const std::int32_t* upperInland =
            inland.data() + static_cast<std::size_t>(rows.low[yi]) * static_cast<std::size_t>(first.width);
        const std::int32_t* lowerInland =
            inland.data() + static_cast<std::size_t>(rows.high[yi]) * static_cast<std::size_t>(first.width);
        for (std::size_t b = 0; b < blended.size(); ++b) {
            blendedInland[b] = (upperInland[b] & kFarBits) * (256 - down) + (lowerInland[b] & kFarBits) * down;
            blendedDeep[b] = (upperInland[b] >> kDeepShift) * (256 - down) + (lowerInland[b] >> kDeepShift) * down;
        }
        const std::uint8_t* row = classes(y);
        const std::uint16_t* field = fieldRows(y);
        std::int16_t* out = heights.data() + yi * static_cast<std::size_t>(w);
        for (int x = 0; x < w; ++x) {
            const auto xi = static_cast<std::size_t>(x);
            if (row[xi] == kSeaClass) {
                out[xi] = static_cast<std::int16_t>(seaFloor[field[xi]]);
                continue;
            }
            // A row's blend of the first level read between its columns at this cell.
            const auto at = [&columns, xi](const std::vector<std::int64_t>& part) {
                const std::int64_t across = columns.weight[xi];
                return (part[static_cast<std::size_t>(columns.low[xi])] * (256 - across) +
                        part[static_cast<std::size_t>(columns.high[xi])] * across) >>
                       16;
            };
            const std::int64_t smooth = at(blended);
            // A quarter the smoothed cells themselves, three quarters their distance from the middle
            // value: valleys along the middle value's lines, which run on and meet, so that the
            // water finds its way down as it does in valleys worn by rivers. On them the cell's
            // own value, the automaton's texture, which makes the streams wind.
            const std::int64_t hills =
                (smooth + 3 * (std::abs(smooth) - middle)) / 2 + 2 * (classValue(row[xi]) * 256 - mean);
            const std::int64_t far = at(blendedInland);
            // The land rises inland, slowly near the coast and ever faster, so that the highest
            // land lies deep inland: at the coast a quarter of the height its rank gives, all of
            // it an eighth of the map inland.
            const std::int64_t base = landHeight[field[xi]] * (256 * 1024 + 3 * far * far / 4) / (1024 * 1024);
            // Hills in proportion to the height, and a little everywhere but at the coast.
            const std::int64_t amplitude = base * rugged / 1000 + everywhere * std::min<std::int64_t>(base, 200) / 200;
            // The deepest inland rises further, so that the highest land lies there: from halfway
            // to the farthest land on, ever faster, by up to the peak height (as far as the
            // highest land allows).
            const std::int64_t deep = at(blendedDeep);
            const std::int64_t inmost = std::max<std::int64_t>(0, 2 * deep - 1024);
            std::int64_t metres =
                1 + base + amplitude * hills / 1024 + uplift * inmost / 1024 * inmost / 1024 * inmost / 1024;
            // The deepest valleys of rugged land sink slowly below a quarter of the height, so
            // that they stay above the sea.
            const std::int64_t floor = 1 + base / 4;
            if (metres < floor) metres = floor - (floor - metres) / 8;
            out[xi] = static_cast<std::int16_t>(std::clamp<std::int64_t>(metres, 1, kHighestLand));
        }
    }
    return heights;
}

}  // namespace orv
