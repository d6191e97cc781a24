#pragma once

// Relief: a world's heights in metres, from its large-scale height field and the automaton's last
// map.
//
// The world's field says where land and sea are and how they rise and fall across the map; the
// automaton's cells, smoothed at every scale from two cells to a thirty-second of the map, grow
// the hills and valleys on the land: the hills where the smoothed cells stand far from their
// middle value, the valleys along the lines where they cross it, which run on and meet as valleys
// worn by rivers do, so that most of the land drains to the sea and only a few hollows hold
// lakes; and each cell's own value on top, the automaton's texture, which makes streams wind.
// Heights are in metres from sea level, -8000 .. 8000: every land cell 1 m or higher, every sea
// cell 1 m deep or deeper, so that the land is exactly the world's land (the coast is the world's
// coast) and `height > 0` tells land from sea.
//
//   - Land: the world field's height is ranked among the land cells, and the rank read off a
//     curve like the Earth's hypsometry (most land low, a little very high, rising from the coast
//     on): the highest rank reaches the peak height, the median about a tenth of that. The land
//     rises inland, from a quarter of that height at the coast, ever faster, to all of it an
//     eighth of the map inland; from halfway to the land farthest inland on it rises further,
//     ever faster, by up to the peak height again (the sum at most 8000 m), so that the highest
//     land lies deepest inland. Onto it go the automaton's hills, in proportion to the height
//     (lowlands gentle, highlands rugged) plus a little everywhere but at the coast.
//   - Sea: ranked among the sea cells from the coast down, and read off a sea floor: a shelf to
//     200 m, a slope to 3000 m, the deep-sea plain to 5500 m and trenches to 8000 m in the
//     deepest twentieth. The sea floor deepens as the world field falls away from the coast.
//
// `relief` (0 .. 100) says how mountainous the land is: the peak height (1000 m at 0, 4000 m at
// 50, 7000 m at 100; deepest inland up to twice that, at most 8000 m) and how strongly the
// automaton's hills stand out. The same inputs give the
// same heights on every build and processor: the arithmetic is integer.

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace orv {

// A world's large-scale height field: width x height 16-bit heights, wrapping on both axes like
// the map, in one of two layouts:
//   - heights: unsigned, row-major (y * width + x); land where the height stands above seaLevel;
//   - columns (when heights is empty): the world's own heights as its pyramid grows them
//     (world/WorldPyramid.hpp), signed, x-major (cell (x, y) at x * height + y), sea level 0.
//     They are read where they lie, a band of rows at a time: no copy of the field is made.
// Only the order of the heights matters to the relief (and whether a cell is above the sea
// level), so both layouts of the same heights give the same relief.
struct WorldField {
    int width = 0;
    int height = 0;
    std::span<const std::uint16_t> heights;
    std::uint16_t seaLevel = 0;
    std::span<const std::int16_t> columns;
};

// The field of a world's own heights (x-major, signed, sea level 0), read in place.
inline WorldField columnField(int width, int height, std::span<const std::int16_t> columns) {
    return WorldField{width, height, {}, 0, columns};
}

// The automaton's last map, one row at a time: row y (0 at the top) as width bytes of the
// picture's classes, 0 changed to water, 1 changed to land, 2 unchanged, 3 the sea (as the map's
// CellClass). makeRelief asks for the rows in order, twice, from one thread, and reads each
// before asking for the next. A cell is land when its class is not the sea: the map's sea is
// the world's (whatever the field says there). Without rows (an empty function) the land is
// where the field stands above the sea level, with no hills of the automaton's.
using ClassRows = std::function<const std::uint8_t*(int y)>;
// The rows of a whole row-major grid of classes.
ClassRows classRowsOf(std::span<const std::uint8_t> classes, int width);

inline constexpr std::int16_t kHighestLand = 8000;  // metres
inline constexpr std::int16_t kDeepestSea = -8000;  // metres

// The heights, width x height metres row-major. Throws std::invalid_argument for a size the
// terrain does not handle (see TerrainGrid.hpp), a field of another size, or relief outside
// 0 .. 100.
std::vector<std::int16_t> makeRelief(const WorldField& world, const ClassRows& classes, int relief);

}  // namespace orv
