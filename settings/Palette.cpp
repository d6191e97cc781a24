#include "settings/Palette.hpp"

#include <array>

#include "settings/Settings.hpp"

namespace orv {

std::uint32_t paletteColor(ColorIndex index) {
    static constexpr std::array<std::uint32_t, 16> kColors{
        0xFF000000, 0xFF0000AA, 0xFF00AA00, 0xFF00AAAA, 0xFFAA0000, 0xFFAA00AA, 0xFFAA5500, 0xFFAAAAAA,
        0xFF555555, 0xFF5555FF, 0xFF55FF55, 0xFF55FFFF, 0xFFFF5555, 0xFFFF55FF, 0xFFFFFF55, 0xFFFFFFFF,
    };
    if (index < 0 || index > 15) return 0;
    return kColors[static_cast<std::size_t>(index)];
}

ColorIndex seaColorIndex(const Settings& settings) {
    constexpr ColorIndex kLightBlue = 9, kBlue = 1;
    if (settings.seacolor != -1) return settings.seacolor;
    if (settings.continents <= 0) return settings.watercolor;
    return settings.watercolor == kLightBlue ? kBlue : kLightBlue;
}

MapColors mapColors(const Settings& settings) {
    return {paletteColor(settings.forestcolor), paletteColor(settings.watercolor), paletteColor(settings.landcolor),
            paletteColor(seaColorIndex(settings))};
}

}  // namespace orv
