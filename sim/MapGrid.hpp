#pragma once

#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace orv {

// What a map cell holds: 0 water, 3 land, 1 the second value of the initial pattern, 4 the sea
// of a world (held as it is by the rule, and water to its neighbours, which count only land).
using CellValue = std::int8_t;
inline constexpr CellValue kWater = 0;
inline constexpr CellValue kLand = 3;
inline constexpr CellValue kSea = 4;

// A map grid indexed [x][y] over 0 .. xCapacity + 2 and 0 .. yCapacity + 2: the interior
// 1 .. size on each axis, a one-cell border around it, and spare cells beyond for maps smaller
// than the capacity. Stored x-major: the cells of one x are adjacent.
class MapGrid {
public:
    MapGrid() = default;
    MapGrid(int xCapacity, int yCapacity)
        : xCells_(xCapacity + 3),
          yCells_(yCapacity + 3),
          cells_(static_cast<std::size_t>(xCells_) * static_cast<std::size_t>(yCells_), kWater) {}

    CellValue& operator()(int x, int y) {
        assert(x >= 0 && x < xCells_ && y >= 0 && y < yCells_);
        return cells_[static_cast<std::size_t>(x) * static_cast<std::size_t>(yCells_) + static_cast<std::size_t>(y)];
    }
    CellValue operator()(int x, int y) const {
        assert(x >= 0 && x < xCells_ && y >= 0 && y < yCells_);
        return cells_[static_cast<std::size_t>(x) * static_cast<std::size_t>(yCells_) + static_cast<std::size_t>(y)];
    }
    CellValue* column(int x) { return cells_.data() + static_cast<std::size_t>(x) * static_cast<std::size_t>(yCells_); }
    const CellValue* column(int x) const {
        return cells_.data() + static_cast<std::size_t>(x) * static_cast<std::size_t>(yCells_);
    }

    // Largest map size the grid holds on each axis.
    int xCapacity() const { return xCells_ - 3; }
    int yCapacity() const { return yCells_ - 3; }
    // Cells per x (the distance between two columns).
    std::ptrdiff_t columnStride() const { return yCells_; }

    friend bool operator==(const MapGrid&, const MapGrid&) = default;

private:
    int xCells_ = 0;
    int yCells_ = 0;
    std::vector<CellValue> cells_;
};

// The map of a run: both grids, the phase that alternates every cycle, the number of
// generations computed and the erosion table.
struct MapState {
    MapState(int xCapacity, int yCapacity) : currentMap(xCapacity, yCapacity), nextMap(xCapacity, yCapacity) {}

    MapGrid currentMap;
    MapGrid nextMap;
    int phaseFlag = 0;
    std::int64_t cycleCount = 0;
    std::array<std::int32_t, 1001> erosionTable{};
};

// Where the map pass paints: cell (x, y) goes to pixel (originX + x, originY + y) of a
// width x height buffer of 0xAARRGGBB pixels with the given pitch (in pixels). Cells whose
// pixel falls outside the buffer are not painted.
struct MapCanvas {
    std::uint32_t* pixels = nullptr;
    std::ptrdiff_t pitch = 0;
    int width = 0;
    int height = 0;
    int originX = 0;
    int originY = 0;

    bool contains(int x, int y) const {
        const std::int64_t px = std::int64_t{originX} + x, py = std::int64_t{originY} + y;
        return pixels != nullptr && px >= 0 && px < width && py >= 0 && py < height;
    }
    std::uint32_t& at(int x, int y) const {
        assert(contains(x, y));
        return pixels[static_cast<std::ptrdiff_t>(originY + y) * pitch + (originX + x)];
    }
};

}  // namespace orv
