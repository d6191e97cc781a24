#pragma once

// The atlas: a terrain drawn as a map to look at, one RGB pixel per cell.
//
//   - Land in colours by height: lowland green at sea level, through pale green, tan and brown
//     to grey rock at 4500 m and snow from 5500 m; lit from the north-west, so that slopes facing
//     it are brighter and those facing away darker (the light falls at 45 degrees on slopes of a
//     few hundred metres a cell, and saturates softly on steeper ones).
//   - The sea by its depth alone, from pale shallows over the shelf to dark blue in the deep,
//     with no light on it: the coast stands out sharply against the lit land.
//   - Lakes and rivers in blue, unlit, rivers a little darker than lakes; streams of Strahler
//     order 1 half and of order 2 three quarters river blue over their lit valley, so that the
//     larger rivers stand out of a dense network.
//
// Everything is integer arithmetic: the same picture on every build. Neighbours are taken across
// the wrap-around, so that the atlas tiles like the map.

#include <cstdint>
#include <vector>

namespace orv {

struct Drainage;

// Colours as 0xRRGGBB.
inline constexpr std::uint32_t kAtlasLake = 0x467DCD;
inline constexpr std::uint32_t kAtlasRiver = 0x2D5FC3;

// The colour of land at a height (metres) before the light, and of the sea at a depth (metres
// below sea level, positive).
std::uint32_t landTint(int metres);
std::uint32_t seaTint(int depth);

// Paints the atlas a row at a time.
class AtlasPainter {
public:
    // The heights and the drainage of a width x height terrain, both kept by the caller.
    AtlasPainter(const std::vector<std::int16_t>& heights, const Drainage& drainage);
    // Row y (0 at the top) as width x 3 bytes: red, green, blue.
    void paintRow(int y, std::uint8_t* rgb) const;

private:
    const std::vector<std::int16_t>& heights_;
    const Drainage& drainage_;
    int width_, height_;
};

}  // namespace orv
