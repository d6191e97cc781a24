#include "terrain/Atlas.hpp"

#include <algorithm>
#include <cstdlib>
#include <iterator>

#include "terrain/Drainage.hpp"

namespace orv {
namespace {

struct Stop {
    int at;
    std::uint32_t color;
};

constexpr Stop kLand[] = {{0, 0x548C46},    {300, 0x7CA558},  {800, 0xAAB46E},  {1500, 0xBEA06E}, {2500, 0x966E4B},
                          {3500, 0x785F50}, {4500, 0x96918C}, {5500, 0xF0F0F0}, {8000, 0xFFFFFF}};
constexpr Stop kSea[] = {{0, 0xAAD2EB},    {200, 0x78AFDC},  {1000, 0x4682C3},
                         {3000, 0x2855A0}, {6000, 0x142D6E}, {8000, 0x0A194B}};

template <std::size_t N>
std::uint32_t ramp(const Stop (&stops)[N], int at) {
    if (at <= stops[0].at) return stops[0].color;
    for (std::size_t k = 1; k < N; ++k)
        if (at <= stops[k].at) {
            const Stop a = stops[k - 1], b = stops[k];
            std::uint32_t color = 0;
            for (int shift = 16; shift >= 0; shift -= 8) {
                const int from = static_cast<int>(a.color >> shift & 0xFF),
                          to = static_cast<int>(b.color >> shift & 0xFF);
                const int channel = from + (to - from) * (at - a.at) / (b.at - a.at);
                color |= static_cast<std::uint32_t>(channel) << shift;
            }
            return color;
        }
    return stops[N - 1].color;
}

void put(std::uint8_t* rgb, std::uint32_t color) {
    rgb[0] = static_cast<std::uint8_t>(color >> 16);
    rgb[1] = static_cast<std::uint8_t>(color >> 8);
    rgb[2] = static_cast<std::uint8_t>(color);
}

}  // namespace

std::uint32_t landTint(int metres) {
    return ramp(kLand, metres);
}
std::uint32_t seaTint(int depth) {
    return ramp(kSea, depth);
}

AtlasPainter::AtlasPainter(const std::vector<std::int16_t>& heights, const Drainage& drainage)
    : heights_(heights), drainage_(drainage), width_(drainage.width), height_(drainage.height) {}

void AtlasPainter::paintRow(int y, std::uint8_t* rgb) const {
    const auto row = [this](int r) {
        return heights_.data() + static_cast<std::size_t>(r) * static_cast<std::size_t>(width_);
    };
    const std::int16_t* above = row(y > 0 ? y - 1 : height_ - 1);
    const std::int16_t* here = row(y);
    const std::int16_t* below = row(y + 1 < height_ ? y + 1 : 0);
    const std::size_t first = static_cast<std::size_t>(y) * static_cast<std::size_t>(width_);
    // The sea next to the land counts as sea level, so that the coast is lit as the land is.
    const auto land = [](std::int16_t v) { return std::max<int>(v, 0); };
    for (int x = 0; x < width_; ++x, rgb += 3) {
        const auto i = static_cast<std::size_t>(x);
        switch (drainage_.terrainAt(first + i)) {
            case kTerrainSea:
                put(rgb, seaTint(-here[i]));
                continue;
            case kTerrainLake:
                put(rgb, kAtlasLake);
                continue;
            case kTerrainRiver:
            case kTerrainLand:
                break;
        }
        const std::size_t left = x > 0 ? i - 1 : static_cast<std::size_t>(width_ - 1);
        const std::size_t right = x + 1 < width_ ? i + 1 : 0;
        // Rising towards the south-east faces the light from the north-west.
        const int facing = land(here[right]) - land(here[left]) + land(below[i]) - land(above[i]);
        const int light = 256 + 200 * facing / (std::abs(facing) + 300);
        const std::uint32_t tint = landTint(here[i]);
        // A river over its valley: the smallest streams faint, the larger ones in full.
        const int order = drainage_.terrainAt(first + i) == kTerrainRiver ? drainage_.orderAt(first + i) : 0;
        const int water = order == 0 ? 0 : order == 1 ? 128 : order == 2 ? 192 : 256;
        for (int shift = 16, k = 0; shift >= 0; shift -= 8, ++k) {
            const int shaded = std::min(255, static_cast<int>(tint >> shift & 0xFF) * light / 256);
            const int river = static_cast<int>(kAtlasRiver >> shift & 0xFF);
            rgb[k] = static_cast<std::uint8_t>((shaded * (256 - water) + river * water) / 256);
        }
    }
}

}  // namespace orv
