#include "terrain/Rivers.hpp"

#include <algorithm>
#include <tuple>

namespace orv {
namespace {

constexpr double kDiagonal = 1.4142135623730951;

double stepLength(int direction) {
    return diagonalDirection(direction) ? kDiagonal : 1.0;
}

bool drainsInto(const Drainage& d, const WrapGrid& grid, std::uint32_t from, int x, int y, int direction,
                std::uint32_t& neighbour) {
    neighbour = grid.neighbour(from, x, y, direction);
    const int f = d.flow[neighbour];
    return f != kNoFlow && f == oppositeDirection(direction);
}

}  // namespace

std::vector<River> traceRivers(const Drainage& d) {
    const WrapGrid grid(d.width, d.height);
    std::vector<River> rivers;
    for (int y = 0; y < d.height; ++y)
        for (int x = 0; x < d.width; ++x) {
            const std::uint32_t head = grid.index(x, y);
            if (d.terrainAt(head) != kTerrainRiver) continue;
            const int order = d.orderAt(head);
            River river;
            river.order = order;
            bool isHead = true;
            for (int k = 0; k < kDirections && isHead; ++k) {
                std::uint32_t n;
                if (!drainsInto(d, grid, head, x, y, k, n)) continue;
                if (d.terrainAt(n) == kTerrainRiver && d.orderAt(n) == order) isHead = false;
                if (d.terrainAt(n) == kTerrainLake && river.fromLake < 0) {
                    river.fromLake = static_cast<std::int32_t>(lakeOf(d, n));
                    river.firstStep = k;
                }
            }
            if (!isHead) continue;
            if (river.fromLake >= 0) river.length += 0.5 * stepLength(river.firstStep);
            std::uint32_t c = head;
            for (;;) {
                const int f = d.flow[c];
                river.cells.push_back(c);
                river.steps.push_back(static_cast<std::uint8_t>(f));
                const std::uint32_t next = grid.neighbour(c, f);
                const TerrainClass t = d.terrainAt(next);
                if (t == kTerrainRiver && d.orderAt(next) == order) {
                    river.length += stepLength(f);
                    c = next;
                    continue;
                }
                if (t == kTerrainRiver) {
                    river.end = River::End::river;
                    river.into = static_cast<std::int32_t>(next);  // a cell for now: resolved below
                    river.length += stepLength(f);
                } else {
                    river.end = t == kTerrainLake ? River::End::lake : River::End::sea;
                    if (t == kTerrainLake) river.into = static_cast<std::int32_t>(lakeOf(d, next));
                    river.length += 0.5 * stepLength(f);
                }
                break;
            }
            rivers.push_back(std::move(river));
        }

    // Every river cell's river and place on it, to find where each river joins another.
    std::vector<std::tuple<std::uint32_t, std::int32_t, std::int32_t>> owner;
    for (std::size_t r = 0; r < rivers.size(); ++r)
        for (std::size_t k = 0; k < rivers[r].cells.size(); ++k)
            owner.emplace_back(rivers[r].cells[k], static_cast<std::int32_t>(r), static_cast<std::int32_t>(k));
    std::sort(owner.begin(), owner.end());
    for (River& river : rivers) {
        if (river.end != River::End::river) continue;
        const auto cell = static_cast<std::uint32_t>(river.into);
        const auto found =
            std::lower_bound(owner.begin(), owner.end(), std::tuple{cell, std::int32_t{-1}, std::int32_t{-1}});
        river.into = std::get<1>(*found);
        river.joinsAt = std::get<2>(*found);
    }
    // Where the water rests: a river joins one of a higher order, so following the joins ends.
    for (River& river : rivers) {
        const River* last = &river;
        while (last->end == River::End::river) last = &rivers[static_cast<std::size_t>(last->into)];
        river.reaches = last->end == River::End::lake ? last->into : -1;
    }
    return rivers;
}

std::vector<double> lengthsToWater(const std::vector<River>& rivers) {
    // Rivers of higher orders first, so that the river a river joins is measured before it.
    std::vector<std::size_t> byOrder(rivers.size());
    for (std::size_t r = 0; r < rivers.size(); ++r) byOrder[r] = r;
    std::stable_sort(byOrder.begin(), byOrder.end(),
                     [&](std::size_t a, std::size_t b) { return rivers[a].order > rivers[b].order; });
    // For each river, the length from each of its cells to the water its water rests in.
    std::vector<std::vector<double>> fromCell(rivers.size());
    std::vector<double> total(rivers.size(), 0.0);
    for (std::size_t r : byOrder) {
        const River& river = rivers[r];
        std::vector<double>& along = fromCell[r];
        along.resize(river.cells.size());
        const std::size_t last = river.cells.size() - 1;
        along[last] = river.end == River::End::river
                          ? stepLength(river.steps[last]) +
                                fromCell[static_cast<std::size_t>(river.into)][static_cast<std::size_t>(river.joinsAt)]
                          : 0.5 * stepLength(river.steps[last]);
        for (std::size_t k = last; k-- > 0;) along[k] = along[k + 1] + stepLength(river.steps[k]);
        total[r] = along[0] + (river.fromLake >= 0 ? 0.5 * stepLength(river.firstStep) : 0.0);
    }
    return total;
}

}  // namespace orv
