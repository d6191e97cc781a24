#include "terrain/TerrainGrid.hpp"

#include <stdexcept>
#include <string>

namespace orv {

void checkTerrainSize(int width, int height) {
    if (width < 1 || height < 1 || width > 65536 || height > 65536 ||
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > kMostTerrainCells)
        throw std::invalid_argument("a terrain of " + std::to_string(width) + " x " + std::to_string(height) +
                                    " cells: each side 1 .. 65536 and at most 2^31 cells");
}

WrapGrid::WrapGrid(int width, int height) : width_(width), height_(height) {
    checkTerrainSize(width, height);
    cells_ = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    lastRow_ = static_cast<std::uint32_t>(height - 1) * static_cast<std::uint32_t>(width);
    const std::uint64_t w = static_cast<std::uint64_t>(width);
    reciprocal_ = ((std::uint64_t{1} << 32) + w - 1) / w;
    for (int d = 0; d < kDirections; ++d)
        offset_[d] = static_cast<std::uint32_t>(kDirectionY[d] * width + kDirectionX[d]);
}

}  // namespace orv
