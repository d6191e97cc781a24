// The world pyramid: land and sea grown on a coarse grid, then the resolution doubled with
// ragged edges and smoothed, level by level, until the map's size.
//
// Levels. With continents = N there are N + 1 levels; an axis of size cells has
// ceil(size / 2^k) cells at the level k steps above the map, so a coarse cell has one or two
// fine cells on each axis and every axis wraps around at every level (the last cell's
// neighbour is the first), for any size and aspect ratio.
//
// The draws, all from the one random source, in this order:
//  1. The coarsest level: one draw per cell, x outer, y inner.
//  2. For each doubling step, coarse to fine:
//     a. the zoom: one draw per fine cell whose four candidates disagree, x outer, y inner;
//     b. on the ranked steps (the first four, while the level is two or more steps above the
//        map), the land share: one draw per tied cell taken;
//     c. on the island levels (two to five steps above the map), two draws (x, then y) per
//        island spot.
// Nothing else is drawn, so the same seed, size, margins and parameters give the same world.
// The work is done on one thread, in integers only, so no build or machine changes a world.
#include "world/WorldPyramid.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <stdexcept>

#include "rng/Random.hpp"

namespace orv {
namespace {

using Byte = std::uint8_t;

constexpr int kMaxLevels = 16, kMaxSide = 65536;
// The first doubling steps rank the cells to keep the land share: it is at the coarse levels
// that smoothing moves it (thin straits and capes vanish); later steps change it by a fraction
// of a per cent. The two levels nearest the map, which hold most of the cells, are never ranked.
constexpr int kRankedSteps = 4, kLowestRankedLevel = 2;
// The score of a cell in the margins while a level is ranked: never land.
constexpr Byte kMarginScore = 0xFF;
// Islands are sown at the levels 2 to 5 steps above the map (spots of 2 x 2 cells there, so
// islands some 8 to 64 cells across); a level k steps above gets islands x cells x 2^k / 2^19
// spots: twice as many at each finer level.
constexpr int kLowestIslandLevel = 2, kHighestIslandLevel = 5, kIslandShift = 19;

std::size_t cellIndex(int x, int y, int sy) {
    return static_cast<std::size_t>(x) * static_cast<std::size_t>(sy) + static_cast<std::size_t>(y);
}

// The cells of one level, x-major, 1 land and 0 sea (or scores while it is smoothed and
// ranked), in storage the pyramid owns.
struct Level {
    int sx = 0, sy = 0;
    Byte* cells = nullptr;
    std::vector<Byte> edgeX, edgeY;  // 1 where the column / row lies in the margins

    Byte* column(int x) const { return cells + cellIndex(x, 0, sy); }
    std::size_t size() const { return static_cast<std::size_t>(sx) * static_cast<std::size_t>(sy); }
};

// ceil(size / 2^levelsAbove).
int levelSize(int size, int levelsAbove) {
    const std::int64_t step = std::int64_t{1} << levelsAbove;
    return static_cast<int>((size + step - 1) / step);
}

// Which cells of an axis of a level are held as sea for the margins: those that cover a map
// cell in the margins. So a coarse level keeps its land a cell of its own away from them, the
// coast there grows ragged like any other, and the map's own level holds exactly the margins.
std::vector<Byte> edgeCells(int cells, int size, int margin) {
    std::vector<Byte> edge(static_cast<std::size_t>(cells));
    for (std::int64_t c = 0; c < cells; ++c) {
        const std::int64_t first = c * size / cells, last = ((c + 1) * size - 1) / cells;
        edge[static_cast<std::size_t>(c)] = inOceanEdge(first, size, margin) || inOceanEdge(last, size, margin) ? 1 : 0;
    }
    return edge;
}

// The coarsest level: one draw per cell (x outer, y inner), each cell's number summed with its
// eight neighbours' so that land comes in blobs, and the landshare per cent of the cells
// outside the margins with the largest sums made land (of equal sums, the lower index first).
// The cut is found by a radix selection on the sums, so that any size costs little memory
// and time (scratch holds a word per cell).
void seedCoarsest(Level& level, Random& random, int landshare, std::vector<std::uint32_t>& scratch) {
    const int sx = level.sx, sy = level.sy;
    const auto height = static_cast<std::size_t>(sy);
    scratch.resize(level.size());
    std::uint32_t* v = scratch.data();
    for (std::size_t i = 0; i < level.size(); ++i) v[i] = random.nextRaw() >> 4;  // nine fit in 32 bits
    // Sums of three down each column, then of three columns, across the wraps.
    std::vector<std::uint32_t> first(height), previous(height), current(height);
    for (int x = 0; x < sx; ++x) {
        std::uint32_t* col = v + cellIndex(x, 0, sy);
        std::copy(col, col + sy, current.begin());
        for (std::size_t y = 0; y < height; ++y)
            col[y] = current[y == 0 ? height - 1 : y - 1] + current[y] + current[y + 1 == height ? 0 : y + 1];
    }
    std::copy(v, v + sy, first.begin());
    std::copy(v + cellIndex(sx - 1, 0, sy), v + cellIndex(sx - 1, 0, sy) + sy, previous.begin());
    for (int x = 0; x < sx; ++x) {
        std::uint32_t* col = v + cellIndex(x, 0, sy);
        const std::uint32_t* right = x + 1 < sx ? v + cellIndex(x + 1, 0, sy) : first.data();
        std::copy(col, col + sy, current.begin());
        for (std::size_t y = 0; y < height; ++y) col[y] = previous[y] + current[y] + right[y];
        previous.swap(current);
    }
    auto forFree = [&](auto&& visit) {
        for (int x = 0; x < sx; ++x) {
            if (level.edgeX[static_cast<std::size_t>(x)] != 0) continue;
            for (int y = 0; y < sy; ++y)
                if (level.edgeY[static_cast<std::size_t>(y)] == 0) visit(cellIndex(x, y, sy));
        }
    };
    std::size_t free = 0;
    forFree([&](std::size_t) { ++free; });
    const std::size_t landCells = (free * static_cast<std::size_t>(landshare) + 50) / 100;
    // The landCells-th largest sum, 11, 11 and 10 bits at a time.
    std::uint32_t cut = 0, known = 0;
    std::size_t above = 0;  // cells whose sum is known to be greater
    for (const int shift : {21, 10, 0}) {
        const std::uint32_t bins = shift == 0 ? 1024 : 2048;
        std::vector<std::size_t> histogram(bins);
        forFree([&](std::size_t i) {
            if ((v[i] & known) == cut) ++histogram[(v[i] >> shift) & (bins - 1)];
        });
        std::uint32_t bin = bins - 1;
        while (bin > 0 && above + histogram[bin] < landCells) above += histogram[bin--];
        cut |= bin << shift;
        known |= (bins - 1) << shift;
    }
    std::size_t ties = landCells - std::min(landCells, above);  // of the cells whose sum is the cut
    std::fill(level.cells, level.cells + level.size(), Byte{0});
    forFree([&](std::size_t i) {
        if (v[i] > cut) {
            level.cells[i] = 1;
        } else if (v[i] == cut && ties > 0) {
            level.cells[i] = 1;
            --ties;
        }
    });
}

// Where the fine cells of one axis look when the resolution doubles from coarse to fine cells
// (fine is 2 coarse or 2 coarse - 1, or both are 1): the coarse cell under the fine cell's
// centre, and the coarse neighbour on the side its centre leans to, across the wrap.
struct AxisStep {
    std::vector<std::uint32_t> parent, near;
    bool doubling = false;  // fine = 2 coarse: parent y / 2, near the one below or above
};

AxisStep axisStep(int coarse, int fine) {
    AxisStep step;
    step.parent.resize(static_cast<std::size_t>(fine));
    step.near.resize(static_cast<std::size_t>(fine));
    for (int i = 0; i < fine; ++i) {
        const std::int64_t centre = (2 * std::int64_t{i} + 1) * coarse;  // in units of 1 / (2 fine)
        const auto p = static_cast<int>(centre / (2 * std::int64_t{fine}));
        const bool leansLow = centre % (2 * std::int64_t{fine}) < fine;
        step.parent[static_cast<std::size_t>(i)] = static_cast<std::uint32_t>(p);
        step.near[static_cast<std::size_t>(i)] = static_cast<std::uint32_t>((p + (leansLow ? coarse - 1 : 1)) % coarse);
    }
    step.doubling = fine == 2 * coarse;
    return step;
}

// A coarse column stretched to the fine height, once by parent rows and once by near rows.
struct Stretched {
    int column = -1;
    int lastUse = 0;
    std::vector<Byte> byParent, byNear;
};

void stretch(const Byte* __restrict src, const AxisStep& ys, int coarseHeight, Stretched& s) {
    const std::size_t sy = ys.parent.size();
    s.byParent.resize(sy);
    s.byNear.resize(sy);
    Byte* __restrict p = s.byParent.data();
    Byte* __restrict n = s.byNear.data();
    if (ys.doubling) {
        const int h = coarseHeight;
        auto row = [&](int k, Byte below, Byte above) {
            p[2 * k] = p[2 * k + 1] = src[k];
            n[2 * k] = below;
            n[2 * k + 1] = above;
        };
        if (h == 1) {
            row(0, src[0], src[0]);
            return;
        }
        row(0, src[h - 1], src[1]);
        for (int k = 1; k < h - 1; ++k) row(k, src[k - 1], src[k + 1]);
        row(h - 1, src[h - 2], src[0]);
        return;
    }
    for (std::size_t y = 0; y < sy; ++y) {
        p[y] = src[ys.parent[y]];
        n[y] = src[ys.near[y]];
    }
}

// One doubling step: the zoom and the smoothing, a fine column at a time, so that the zoomed
// level never exists whole.
class DoublingStep {
public:
    // A cell's smoothed score is its land neighbours plus weight for its own land; without
    // ranking, the cell is land when the score reaches the threshold.
    DoublingStep(const Level& coarse, const Level& fine, Random& random, std::uint32_t chance, int turn, bool ranked)
        : coarse_(coarse),
          fine_(fine),
          xs_(axisStep(coarse.sx, fine.sx)),
          ys_(axisStep(coarse.sy, fine.sy)),
          random_(random),
          chance_(chance),
          weight_(static_cast<Byte>(2 * turn - 9)),
          threshold_(static_cast<Byte>(turn)),
          ranked_(ranked) {
        const auto sy = static_cast<std::size_t>(fine.sy);
        for (auto& z : zoomed_) z.resize(sy + 8);
        first_.resize(sy);
        second_.resize(sy);
        sums_.resize(sy + 2);
        keepY_.resize(sy);
        for (std::size_t y = 0; y < sy; ++y) {
            keepY_[y] = fine.edgeY[y] != 0 ? 0x00 : 0xFF;
            holdY_ = holdY_ || fine.edgeY[y] != 0;
        }
    }

    // Every fine column is zoomed in order (that fixes the draws) and smoothed once its right
    // neighbour is zoomed; the first column waits for the last.
    void run() {
        const int sx = fine_.sx, sy = fine_.sy;
        for (int x = 0; x < sx; ++x) {
            Byte* z = zoomed(x);
            zoomColumn(x, z);
            if (x == 0) std::copy(z, z + sy, first_.begin());
            if (x == 1) std::copy(z, z + sy, second_.begin());
            if (x >= 2) smoothColumn(x - 1, zoomed(x - 2), zoomed(x - 1), z);
        }
        if (sx == 1) {
            smoothColumn(0, first_.data(), first_.data(), first_.data());
            return;
        }
        if (sx == 2) {
            smoothColumn(1, first_.data(), second_.data(), first_.data());
        } else {
            smoothColumn(sx - 1, zoomed(sx - 2), zoomed(sx - 1), first_.data());
        }
        smoothColumn(0, zoomed(sx - 1), first_.data(), second_.data());
    }

private:
    Byte* zoomed(int x) { return zoomed_[static_cast<std::size_t>(x % 3)].data(); }

    const Stretched& stretched(int c) {
        Stretched* victim = &cache_[0];
        for (Stretched& s : cache_) {
            if (s.column == c) {
                s.lastUse = ++clock_;
                return s;
            }
            if (s.lastUse < victim->lastUse) victim = &s;
        }
        stretch(coarse_.column(c), ys_, coarse_.sy, *victim);
        victim->column = c;
        victim->lastUse = ++clock_;
        return *victim;
    }

    // Each fine cell takes its parent's value; where the four candidates (parent, near row,
    // near column, both) disagree, one draw decides along each axis whether to take the near
    // one instead: its low 16 bits for x, its high 16 bits for y, each with the chance.
    void zoomColumn(int x, Byte* __restrict out) {
        const Stretched& a = stretched(static_cast<int>(xs_.parent[static_cast<std::size_t>(x)]));
        const Stretched& b = stretched(static_cast<int>(xs_.near[static_cast<std::size_t>(x)]));
        const Byte* __restrict c0 = a.byParent.data();
        const Byte* __restrict c1 = a.byNear.data();
        const Byte* __restrict c2 = b.byParent.data();
        const Byte* __restrict c3 = b.byNear.data();
        const int sy = fine_.sy;
        // Bit 1 marks the cells to decide.
        for (int y = 0; y < sy; ++y)
            out[y] = static_cast<Byte>(c0[y] | ((c0[y] ^ c1[y]) | (c0[y] ^ c2[y]) | (c0[y] ^ c3[y])) << 1);
        for (int y0 = 0; y0 < sy; y0 += 8) {
            std::uint64_t word;
            std::memcpy(&word, out + y0, 8);  // past sy: spare bytes, never marked
            for (std::uint64_t marks = word & 0x0202020202020202u; marks != 0; marks &= marks - 1) {
                const int y = y0 + std::countr_zero(marks) / 8;
                const std::uint32_t r = random_.nextRaw();
                // Chosen by masks: the choices are coin flips, which branches would mispredict.
                const auto alongX = static_cast<Byte>(-static_cast<int>((r & 0xFFFFu) < chance_));
                const auto alongY = static_cast<Byte>(-static_cast<int>((r >> 16) < chance_));
                const auto parentColumn = static_cast<Byte>(c0[y] ^ ((c0[y] ^ c1[y]) & alongY));
                const auto nearColumn = static_cast<Byte>(c2[y] ^ ((c2[y] ^ c3[y]) & alongY));
                out[y] = static_cast<Byte>(parentColumn ^ ((parentColumn ^ nearColumn) & alongX));
            }
        }
    }

    // Scores (or smooths) column x from the zoomed columns around it; cells in the margins
    // become sea (kMarginScore while ranked).
    void smoothColumn(int x, const Byte* __restrict left, const Byte* __restrict mid, const Byte* __restrict right) {
        const int sy = fine_.sy;
        Byte* __restrict out = fine_.column(x);
        const Byte edgeValue = ranked_ ? kMarginScore : 0;
        if (fine_.edgeX[static_cast<std::size_t>(x)] != 0) {
            std::fill(out, out + sy, edgeValue);
            return;
        }
        Byte* __restrict s = sums_.data();
        for (int y = 0; y < sy; ++y) s[y + 1] = static_cast<Byte>(left[y] + mid[y] + right[y]);
        s[0] = s[sy];
        s[sy + 1] = s[1];
        const Byte t = threshold_, w = static_cast<Byte>(weight_ - 1);  // mid is in the sums once
        if (ranked_) {
            for (int y = 0; y < sy; ++y) out[y] = static_cast<Byte>(s[y] + s[y + 1] + s[y + 2] + (-mid[y] & w));
        } else {
            for (int y = 0; y < sy; ++y)
                out[y] = static_cast<Byte>(static_cast<Byte>(s[y] + s[y + 1] + s[y + 2] + (-mid[y] & w)) >= t);
        }
        if (holdY_) {
            const Byte* keep = keepY_.data();
            for (int y = 0; y < sy; ++y) out[y] = static_cast<Byte>((out[y] & keep[y]) | (edgeValue & ~keep[y]));
        }
    }

    const Level& coarse_;
    const Level& fine_;
    AxisStep xs_, ys_;
    Random& random_;
    std::uint32_t chance_;
    Byte weight_, threshold_;
    bool ranked_;
    std::array<Stretched, 4> cache_;
    int clock_ = 0;
    std::array<std::vector<Byte>, 3> zoomed_;  // columns x % 3, with spare bytes for whole words
    std::vector<Byte> first_, second_, sums_, keepY_;
    bool holdY_ = false;
};

// Makes the landshare per cent of the level's cells outside the margins land: those of the
// highest scores, and of the cells whose score ties at the cut, as many as needed, chosen by
// draws (a partial shuffle of the tied cells listed x outer, y inner: one draw per cell taken).
// Ranked levels are at least two levels above the map: at most 2^28 cells, so that a cell's
// index and the number of cells fit in 32 bits.
void rankLand(Level& level, Random& random, int landshare, std::vector<std::uint32_t>& tied) {
    const std::size_t n = level.size();
    Byte* __restrict cells = level.cells;
    // Four histograms, so that runs of equal scores do not wait on one counter.
    std::array<std::array<std::uint32_t, 256>, 4> counts{};
    std::size_t counted = 0;
    for (; counted + 4 <= n; counted += 4)
        for (std::size_t k = 0; k < 4; ++k) ++counts[k][cells[counted + k]];
    for (; counted < n; ++counted) ++counts[0][cells[counted]];
    std::array<std::size_t, 256> histogram{};
    for (std::size_t v = 0; v < 256; ++v)
        for (const auto& c : counts) histogram[v] += c[v];
    const std::size_t free = n - histogram[kMarginScore];
    const std::size_t wanted = (free * static_cast<std::size_t>(landshare) + 50) / 100;
    // Every cell scoring cut or more becomes land; those scoring cut - 1 are too many for all.
    int cut = kMarginScore;
    std::size_t above = 0;
    while (cut > 0 && above + histogram[static_cast<std::size_t>(cut - 1)] <= wanted)
        above += histogram[static_cast<std::size_t>(--cut)];
    const std::size_t take = wanted - above;
    if (take > 0) {
        const Byte tie = static_cast<Byte>(cut - 1);
        tied.resize(histogram[tie] + 1);  // every cell is written, and kept if it ties
        std::uint32_t* __restrict list = tied.data();
        std::size_t k = 0;
        for (std::size_t i = 0; i < n; ++i) {
            list[k] = static_cast<std::uint32_t>(i);
            k += cells[i] == tie ? 1 : 0;
        }
        tied.pop_back();
    }
    for (std::size_t k = 0; k < take; ++k)
        std::swap(tied[k], tied[k + scaleDraw(random.nextRaw(), static_cast<std::uint32_t>(tied.size() - k))]);
    const Byte least = static_cast<Byte>(cut);
    for (std::size_t i = 0; i < n; ++i) cells[i] = static_cast<Byte>((cells[i] >= least) & (cells[i] != kMarginScore));
    for (std::size_t k = 0; k < take; ++k) cells[tied[k]] = 1;
}

// How many of its eight neighbours must differ for a cell to turn at a doubling step (1 ..
// levels, coarse to fine): 5 (a majority of the nine: round coasts) with no roughness, 7 (only
// specks and spikes go: ragged coasts) with the most; in between the steps take 5, 6 and 7 in
// turn, spread evenly, so that every scale of the coast is about as ragged.
int smoothingTurn(int step, int coastroughness) {
    return 5 + step * coastroughness * 2 / 100 - (step - 1) * coastroughness * 2 / 100;
}

// Sows islands: count spots drawn as two numbers each (x, then y); a spot whose 2 x 2 block is
// all sea outside the margins becomes land.
void sowIslands(Level& level, Random& random, std::int64_t count) {
    const int sx = level.sx, sy = level.sy;
    for (std::int64_t k = 0; k < count; ++k) {
        const auto x = static_cast<int>(scaleDraw(random.nextRaw(), static_cast<std::uint32_t>(sx)));
        const auto y = static_cast<int>(scaleDraw(random.nextRaw(), static_cast<std::uint32_t>(sy)));
        const int x1 = (x + 1) % sx, y1 = (y + 1) % sy;
        if (level.edgeX[static_cast<std::size_t>(x)] | level.edgeX[static_cast<std::size_t>(x1)] |
            level.edgeY[static_cast<std::size_t>(y)] | level.edgeY[static_cast<std::size_t>(y1)])
            continue;
        Byte *a = level.column(x), *b = level.column(x1);
        if (a[y] | a[y1] | b[y] | b[y1]) continue;
        a[y] = a[y1] = b[y] = b[y1] = 1;
    }
}

}  // namespace

WorldParameters clampWorldParameters(const WorldParameters& p) {
    WorldParameters c;
    c.continents = std::clamp(p.continents, 0, kMaxLevels);
    c.landshare = std::clamp(p.landshare, 1, 99);
    c.coastroughness = std::clamp(p.coastroughness, 0, 100);
    c.islands = std::clamp(p.islands, 0, 100);
    return c;
}

bool inOceanEdge(std::int64_t x, std::int64_t size, std::int64_t margin) {
    const std::int64_t index = x + 1;  // the grid's index of the cell
    return index < margin || index > size - margin;
}

void WorldPyramid::build(Random& random, int width, int height, int marginX, int marginY,
                         const WorldParameters& parameters, WorldMask& mask) {
    if (width < 1 || width > kMaxSide || height < 1 || height > kMaxSide)
        throw std::invalid_argument("a world is 1 to 65536 cells on each side");
    const WorldParameters p = clampWorldParameters(parameters);
    const int levels = p.continents;
    mask.width = width;
    mask.height = height;
    mask.cells.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    // Levels an even number of steps above the map live in the mask, the others in a spare
    // buffer the size of the level just above the map.
    if (levels > 0)
        spare_.resize(static_cast<std::size_t>(levelSize(width, 1)) * static_cast<std::size_t>(levelSize(height, 1)));
    auto makeLevel = [&](int levelsAbove) {
        Level level;
        level.sx = levelSize(width, levelsAbove);
        level.sy = levelSize(height, levelsAbove);
        level.cells = levelsAbove % 2 == 0 ? mask.cells.data() : spare_.data();
        level.edgeX = edgeCells(level.sx, width, marginX);
        level.edgeY = edgeCells(level.sy, height, marginY);
        return level;
    };
    if (levels == 0) {
        const Level map = makeLevel(0);
        for (int x = 0; x < width; ++x) {
            Byte* col = map.column(x);
            const Byte edgeX = map.edgeX[static_cast<std::size_t>(x)];
            for (int y = 0; y < height; ++y)
                col[y] = static_cast<Byte>((edgeX | map.edgeY[static_cast<std::size_t>(y)]) ^ 1);
        }
        return;
    }
    Level coarse = makeLevel(levels);
    seedCoarsest(coarse, random, p.landshare, scratch_);
    const auto chance = static_cast<std::uint32_t>(16384 + p.coastroughness * 16384 / 100);
    for (int above = levels - 1; above >= 0; --above) {
        Level fine = makeLevel(above);
        const int step = levels - above;
        const bool ranked = step <= kRankedSteps && above >= kLowestRankedLevel;
        DoublingStep(coarse, fine, random, chance, smoothingTurn(step, p.coastroughness), ranked).run();
        if (ranked) rankLand(fine, random, p.landshare, scratch_);
        if (p.islands > 0 && above >= kLowestIslandLevel && above <= kHighestIslandLevel)
            sowIslands(fine, random, (static_cast<std::int64_t>(fine.size()) * p.islands << above) >> kIslandShift);
        coarse = std::move(fine);
    }
}

WorldMask buildWorld(Random& random, int width, int height, int marginX, int marginY,
                     const WorldParameters& parameters) {
    WorldMask mask;
    WorldPyramid().build(random, width, height, marginX, marginY, parameters, mask);
    return mask;
}

}  // namespace orv
