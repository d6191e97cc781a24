#include "sim/FastEngine.hpp"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "sim/FlowDecisions.hpp"
#include "sim/Simulation.hpp"
#include "ui/Palette.hpp"

namespace orv {
namespace {

static_assert(std::is_same_v<CellValue, std::int8_t>, "the kernels work on cells of one signed byte");

// The commit and drawing go through the map in blocks of this many columns and rows: one
// block's classes stay in the first-level cache, and its pixel rows are whole cache lines.
constexpr int kBlockColumns = 16;
constexpr int kBlockRows = 256;

KernelLevel availableLevel(KernelLevel level) {
    while (!kernelLevelAvailable(level)) level = static_cast<KernelLevel>(static_cast<int>(level) - 1);
    return level;
}

}  // namespace

FastEngine::FastEngine(KernelLevel level)
    : level_(availableLevel(level)),
      kernels_(&kernelsFor(level_)),
      classes_(static_cast<std::size_t>(kBlockColumns) * kBlockRows) {}

void FastEngine::wrapBorder(MapState& map, const Settings& settings) const {
    const MapSize size = mapSize(settings, map.currentMap);
    MapGrid& c = map.currentMap;
    const auto rows = static_cast<std::size_t>(size.y);
    std::memcpy(c.column(0) + 1, c.column(size.x) + 1, rows);
    std::memcpy(c.column(size.x + 1) + 1, c.column(1) + 1, rows);
    for (int x = 1; x <= size.x; ++x) {
        CellValue* column = c.column(x);
        column[0] = column[size.y];
        column[size.y + 1] = column[1];
    }
}

void FastEngine::computeGeneration(MapState& map, const Settings& settings, Random& random) {
    const MapSize size = mapSize(settings, map.currentMap);
    FlowDecisions flows(settings, level_);
    // A count is 0 .. 8: a landmass size above 8 never lets land go, one below 0 always does,
    // and a ratio outside 0 .. 8 is never met.
    const RuleBounds bounds{
        static_cast<std::int8_t>(std::clamp(settings.landmasssize, -1, 8)),
        static_cast<std::int8_t>(settings.landwaterratio >= 0 && settings.landwaterratio <= 8 ? settings.landwaterratio
                                                                                              : -1)};
    const auto rows = static_cast<std::size_t>(size.y);
    if (decisions_.size() < rows) decisions_.resize(rows);
    if (flows.constant()) std::fill(decisions_.begin(), decisions_.begin() + size.y, flows.constantDecision());

    const MapGrid& c = map.currentMap;
    for (int x = 1; x <= size.x; ++x) {
        if (!flows.constant()) flows.produce(random, decisions_.data(), size.y);
        kernels_->ruleColumn(c.column(x - 1) + 1, c.column(x) + 1, c.column(x + 1) + 1, decisions_.data(),
                             map.nextMap.column(x) + 1, size.y, bounds);
    }
    // Draws whose outcomes are all known are only counted off.
    if (flows.constant()) flows.skipConstant(random, std::int64_t{size.x} * size.y);
}

void FastEngine::commitAndDraw(MapState& map, const Settings& settings, const MapCanvas& canvas) {
    const MapSize size = mapSize(settings, map.currentMap);
    const std::uint32_t colors[3] = {paletteColor(settings.forestcolor), paletteColor(settings.watercolor),
                                     paletteColor(settings.landcolor)};
    // A changed cell reads as water when it holds 0 in odd cycles and 3 in even ones.
    const CellValue waterValue = map.phaseFlag == 0 ? kLand : kWater;

    // The cells whose pixels lie on the canvas.
    int xFirst = 1, xLast = 0, yFirst = 1, yLast = 0;
    if (canvas.pixels != nullptr) {
        xFirst = std::max(1, -canvas.originX);
        xLast = static_cast<int>(std::min<std::int64_t>(size.x, std::int64_t{canvas.width} - 1 - canvas.originX));
        yFirst = std::max(1, -canvas.originY);
        yLast = static_cast<int>(std::min<std::int64_t>(size.y, std::int64_t{canvas.height} - 1 - canvas.originY));
    }

    for (int x0 = 1; x0 <= size.x; x0 += kBlockColumns) {
        const int columns = std::min(kBlockColumns, size.x - x0 + 1);
        for (int y0 = 1; y0 <= size.y; y0 += kBlockRows) {
            const int rows = std::min(kBlockRows, size.y - y0 + 1);
            for (int i = 0; i < columns; ++i)
                kernels_->commitColumn(map.currentMap.column(x0 + i) + y0, map.nextMap.column(x0 + i) + y0,
                                       classes_.data() + static_cast<std::ptrdiff_t>(i) * kBlockRows, rows, waterValue);
            const int drawX0 = std::max(x0, xFirst), drawX1 = std::min(x0 + columns - 1, xLast);
            const int drawY0 = std::max(y0, yFirst), drawY1 = std::min(y0 + rows - 1, yLast);
            if (drawX0 > drawX1 || drawY0 > drawY1) continue;
            kernels_->drawTile(classes_.data() + static_cast<std::ptrdiff_t>(drawX0 - x0) * kBlockRows + (drawY0 - y0),
                               kBlockRows, drawX1 - drawX0 + 1, drawY1 - drawY0 + 1, &canvas.at(drawX0, drawY0),
                               canvas.pitch, colors);
        }
    }
}

}  // namespace orv
