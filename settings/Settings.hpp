#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

// The map size the window program's grids hold: 400 x 400 interior cells.
inline constexpr std::int32_t kWindowGridSize = 400;
// The largest map side the batch generator and the library make.
inline constexpr std::int32_t kMaxMapSide = 65536;

// All parameters of a run, each a signed 32-bit integer named after its settings-file key.
struct Settings {
    std::int32_t landcolor = 0;
    std::int32_t watercolor = 0;
    std::int32_t forestcolor = 0;
    std::int32_t xsize = kWindowGridSize;
    std::int32_t ysize = kWindowGridSize;
    std::int32_t oceanedgesizex = 0;
    std::int32_t oceanedgesizey = 0;
    std::int32_t wround = 0;
    std::int32_t landwaterratio = 0;
    std::int32_t landmasssize = 0;
    std::int32_t beachshow = 0;
    std::int32_t erosion = 0;
    std::int32_t randerosionvar1 = 0;
    std::int32_t randerosionvar2 = 0;
    std::int32_t erosionseed = 0;
    std::int32_t random1 = 0;
    std::int32_t randratio = 0;
    std::int32_t seed = 0;
    std::int32_t speed = 0;
    std::int32_t downupflow = 0;
    std::int32_t downflowenabled = 0;
    std::int32_t upflowenabled = 0;
    std::int32_t upflowratio = 0;
    std::int32_t leftrightflow = 0;
    std::int32_t leftflowenabled = 0;
    std::int32_t rightflowenabled = 0;
    std::int32_t rightflowratio = 0;
    // The world mode: continents 0 is the classic map; 1 .. 16 grow a world of that many
    // continents (with coasts, islands and a sea the rule never changes) before the first
    // generation.
    std::int32_t continents = 0;
    std::int32_t landshare = 0;       // per cent of the open area that is land, 1 .. 99
    std::int32_t coastroughness = 0;  // 0 round coasts .. 100 frayed ones
    std::int32_t islands = 0;         // 0 no islands sown into the sea .. 100 many
    std::int32_t seacolor = 0;        // the sea's colour; -1 (the preset): a colour of its own

    friend bool operator==(const Settings&, const Settings&) = default;
};

// Stores the preset of every field but xsize and ysize, which keep their start-up size.
void applyPresets(Settings& settings);

// The settings keys in the order the settings file is matched against them.
struct SettingsKey {
    std::string_view name;
    std::int32_t Settings::*field;
};
extern const std::array<SettingsKey, 32> kSettingsKeys;
// The keys every recipe holds: those before the world's keys (recipes made before the world
// mode lack the rest, which then keep their presets).
inline constexpr std::size_t kClassicSettingsKeys = 27;

// A setting that was changed to keep the map inside its grids.
struct ClampedSetting {
    std::string_view key;
    std::int32_t from = 0;
    std::int32_t to = 0;

    friend bool operator==(const ClampedSetting&, const ClampedSetting&) = default;
};

// "xsize 1000 is out of range; using 400": how the batch generator and the library tell of it.
std::string clampedMessage(const ClampedSetting& change);

// Keeps the map inside grids that hold maxWidth x maxHeight interior cells (both at least 1):
// xsize goes into 1 .. maxWidth, ysize into 1 .. maxHeight, and a negative ocean-edge margin
// becomes 0. The world's keys go into their ranges too (continents 0 .. 16, landshare 1 .. 99,
// coastroughness and islands 0 .. 100). Returns what was changed, in key order; nothing for
// settings already in range.
std::vector<ClampedSetting> clampToGrid(Settings& settings, std::int32_t maxWidth, std::int32_t maxHeight);

}  // namespace orv
