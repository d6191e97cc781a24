#include "world/WorldFigures.hpp"

#include <algorithm>
#include <functional>
#include <numeric>

namespace orv {
namespace {

// A run of equal cells down one column: y = start .. end.
struct Run {
    int start, end;
    bool land;
};

class Components {
public:
    explicit Components(std::size_t n) : parent_(n) { std::iota(parent_.begin(), parent_.end(), std::size_t{0}); }
    std::size_t find(std::size_t i) {
        while (parent_[i] != i) i = parent_[i] = parent_[parent_[i]];
        return i;
    }
    void unite(std::size_t a, std::size_t b) {
        a = find(a);
        b = find(b);
        if (a != b) parent_[std::max(a, b)] = std::min(a, b);
    }

private:
    std::vector<std::size_t> parent_;
};

}  // namespace

std::int64_t WorldFigures::landMassesOfAtLeast(double share) const {
    const double least = share * static_cast<double>(cells);
    return std::count_if(landMasses.begin(), landMasses.end(),
                         [least](std::int64_t size) { return static_cast<double>(size) >= least; });
}

std::int64_t WorldFigures::continents() const {
    return std::count_if(landMasses.begin(), landMasses.end(),
                         [this](std::int64_t size) { return 20 * size >= landCells; });
}

WorldFigures measureWorld(const World& world, std::vector<std::uint32_t>* massOfCell) {
    WorldFigures figures;
    const int sx = world.width, sy = world.height;
    if (sx <= 0 || sy <= 0) return figures;
    std::vector<Run> runs;
    std::vector<std::size_t> firstRun(static_cast<std::size_t>(sx) + 1);
    for (int x = 0; x < sx; ++x) {
        firstRun[static_cast<std::size_t>(x)] = runs.size();
        const std::int16_t* col = world.column(x);
        int y = 0;
        while (y < sy) {
            const bool land = col[y] > World::kSeaLevel;
            const int start = y;
            while (y < sy && (col[y] > World::kSeaLevel) == land) ++y;
            runs.push_back({start, y - 1, land});
        }
    }
    firstRun[static_cast<std::size_t>(sx)] = runs.size();

    Components components(runs.size());
    for (int x = 0; x < sx; ++x) {
        const std::size_t a0 = firstRun[static_cast<std::size_t>(x)], a1 = firstRun[static_cast<std::size_t>(x) + 1];
        // The bottom of a column meets its top.
        if (a1 - a0 > 1 && runs[a0].land == runs[a1 - 1].land) components.unite(a0, a1 - 1);
        if (sx == 1) continue;  // a lone column is its own left and right: nothing more meets
        const int nx = (x + 1) % sx;
        const std::size_t b0 = firstRun[static_cast<std::size_t>(nx)], b1 = firstRun[static_cast<std::size_t>(nx) + 1];
        // Runs of the next column that touch: overlapping for sea, or also diagonally for land.
        std::size_t j = b0;
        for (std::size_t i = a0; i < a1; ++i) {
            const Run& a = runs[i];
            while (j < b1 && runs[j].end + 1 < a.start) ++j;
            for (std::size_t k = j; k < b1 && runs[k].start <= a.end + 1; ++k) {
                const Run& b = runs[k];
                const int reach = a.land ? 1 : 0;
                if (b.land == a.land && b.start <= a.end + reach && a.start <= b.end + reach) components.unite(i, k);
            }
        }
        // Land also meets diagonally across the top and bottom edges.
        if (sy > 1) {
            if (runs[a1 - 1].land && runs[b0].land) components.unite(a1 - 1, b0);
            if (runs[a0].land && runs[b1 - 1].land) components.unite(a0, b1 - 1);
        }
    }

    std::vector<std::int64_t> sizes(runs.size(), 0);
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const std::int64_t length = runs[i].end - runs[i].start + 1;
        sizes[components.find(i)] += length;
        (runs[i].land ? figures.landCells : figures.seaCells) += length;
    }
    // The land masses largest first (of equal sizes, the one found first), and the seas.
    std::vector<std::size_t> masses;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        if (sizes[i] == 0) continue;
        if (runs[i].land) {
            masses.push_back(i);
        } else {
            figures.seas.push_back(sizes[i]);
        }
    }
    std::stable_sort(masses.begin(), masses.end(), [&](std::size_t a, std::size_t b) { return sizes[a] > sizes[b]; });
    for (const std::size_t root : masses) figures.landMasses.push_back(sizes[root]);
    std::sort(figures.seas.begin(), figures.seas.end(), std::greater<>());
    if (massOfCell) {
        std::vector<std::uint32_t> rank(runs.size(), 0);
        for (std::size_t k = 0; k < masses.size(); ++k) rank[masses[k]] = static_cast<std::uint32_t>(k + 1);
        massOfCell->assign(static_cast<std::size_t>(sx) * static_cast<std::size_t>(sy), 0);
        for (int x = 0; x < sx; ++x)
            for (std::size_t i = firstRun[static_cast<std::size_t>(x)]; i < firstRun[static_cast<std::size_t>(x) + 1];
                 ++i)
                if (runs[i].land)
                    std::fill_n(massOfCell->begin() + static_cast<std::ptrdiff_t>(world.index(x, runs[i].start)),
                                runs[i].end - runs[i].start + 1, rank[components.find(i)]);
    }
    figures.cells = std::int64_t{sx} * sy;
    return figures;
}

}  // namespace orv
