#pragma once

#include <cstdint>

namespace orv {

struct Settings;

using ColorIndex = std::int32_t;

// The 16 text-mode colours as 0xAARRGGBB; any index outside 0 .. 15 gives 0 (transparent black).
std::uint32_t paletteColor(ColorIndex index);

// The colours the map pass paints in, 0xAARRGGBB: a cell the last generation left unchanged,
// one it changed to water and one it changed to land (the report's three classes), and a cell
// of a world's sea. The engines take them from their caller and know nothing of the table.
struct MapColors {
    std::uint32_t unchanged = 0;
    std::uint32_t water = 0;
    std::uint32_t land = 0;
    std::uint32_t sea = 0;

    friend bool operator==(const MapColors&, const MapColors&) = default;
};

// The map colours of a run from the table: forestcolor, watercolor, landcolor and seacolor.
MapColors mapColors(const Settings& settings);
// The colour index the sea is drawn in: seacolor; when seacolor is -1, in a world (continents
// above 0) light blue (9), set apart from the lakes and other water of the texture in the water
// colour (blue, 1, when the water colour is itself light blue), and on a classic map, which
// has no sea, the water colour.
ColorIndex seaColorIndex(const Settings& settings);

}  // namespace orv
