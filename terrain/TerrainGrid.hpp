#pragma once

// What every part of the terrain shares: the layout of its grids and the eight neighbours of a
// cell across the wrap-around.
//
// Every grid of the terrain is row-major, as the .npy and PNG files are: cell (x, y) is element
// y * width + x, x counted from the left, y from the top. Both axes wrap around: the cell right
// of the last column is the first column's, the cell below the last row the first row's, as on
// the map. A grid has 1 .. 65536 cells on each axis and at most kMostTerrainCells in all.

#include <cstddef>
#include <cstdint>

namespace orv {

inline constexpr std::uint64_t kMostTerrainCells = std::uint64_t{1} << 31;

// Throws std::invalid_argument unless width x height is a size the terrain handles.
void checkTerrainSize(int width, int height);

// The eight directions of D8 flow, clockwise from east, y growing downwards. A flow code is one
// of them, or kNoFlow.
inline constexpr int kDirections = 8;
inline constexpr int kDirectionX[kDirections] = {1, 1, 0, -1, -1, -1, 0, 1};
inline constexpr int kDirectionY[kDirections] = {0, 1, 1, 1, 0, -1, -1, -1};
inline constexpr std::uint8_t kNoFlow = 8;  // the sea, or the bottom of a closed basin
// The direction opposite d (from the neighbour back to the cell).
constexpr int oppositeDirection(int d) {
    return (d + 4) & 7;
}
// Diagonal steps (odd directions) are sqrt(2) cells long.
constexpr bool diagonalDirection(int d) {
    return (d & 1) != 0;
}

// A width x height grid's cell indices and their neighbours across the wrap. The division of an
// index into its row and column is a multiplication: the terrain's passes visit cells in the
// order a flood reaches them and take the neighbours of every one.
class WrapGrid {
public:
    WrapGrid(int width, int height);

    int width() const { return width_; }
    int height() const { return height_; }
    std::size_t cells() const { return cells_; }

    std::uint32_t index(int x, int y) const {
        return static_cast<std::uint32_t>(y) * static_cast<std::uint32_t>(width_) + static_cast<std::uint32_t>(x);
    }
    // The row of cell i.
    int rowOf(std::uint32_t i) const {
        std::uint32_t y = static_cast<std::uint32_t>((static_cast<std::uint64_t>(i) * reciprocal_) >> 32);
        // The reciprocal is rounded up: the quotient is exact or one too large.
        if (y * static_cast<std::uint32_t>(width_) > i) --y;
        return static_cast<int>(y);
    }
    // The neighbour of cell i (at x, y) in direction d, across the wrap.
    std::uint32_t neighbour(std::uint32_t i, int x, int y, int d) const {
        const std::uint32_t w = static_cast<std::uint32_t>(width_);
        std::uint32_t n = i;
        if (kDirectionX[d] > 0) n = x + 1 < width_ ? n + 1 : n + 1 - w;
        if (kDirectionX[d] < 0) n = x > 0 ? n - 1 : n + w - 1;
        if (kDirectionY[d] > 0) n = y + 1 < height_ ? n + w : n - lastRow_;
        if (kDirectionY[d] < 0) n = y > 0 ? n - w : n + lastRow_;
        return n;
    }
    // The same, quicker for cells away from the edges.
    std::uint32_t step(std::uint32_t i, int x, int y, int d) const {
        if (x > 0 && y > 0 && x + 1 < width_ && y + 1 < height_) return i + offset_[d];
        return neighbour(i, x, y, d);
    }
    std::uint32_t neighbour(std::uint32_t i, int d) const {
        const int y = rowOf(i);
        return neighbour(i, static_cast<int>(i - static_cast<std::uint32_t>(y) * static_cast<std::uint32_t>(width_)), y,
                         d);
    }

private:
    int width_, height_;
    std::size_t cells_;
    std::uint32_t lastRow_;              // index of the last row's first cell
    std::uint64_t reciprocal_;           // 2^32 / width, rounded up
    std::uint32_t offset_[kDirections];  // from a cell away from the edges to its neighbours (modulo 2^32)
};

}  // namespace orv
