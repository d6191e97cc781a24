#pragma once

#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <span>
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
    // A world's terrain: how mountainous its land is, 0 .. 100, and how dense its rivers are,
    // 0 (none) .. 100.
    std::int32_t relief = 0;
    std::int32_t rivers = 0;

    friend bool operator==(const Settings&, const Settings&) = default;
};

// How a value outside a key's range is treated when a map is made.
enum class OutOfRange {
    kept,     // used as it is (colours: a number outside 0 .. 15 draws transparent black)
    clamped,  // brought to the nearest end of the range, and said so
};

// One settings key: its name (as a settings file spells it), its field, its preset, its range
// and what becomes of a value outside the range. Every reader, writer and check of settings goes
// through the table of them, kSettingsKeys.
struct SettingsKey {
    std::string_view name;
    std::int32_t Settings::*field;
    std::int32_t preset;
    std::int32_t low, high;  // the range; for xsize and ysize, the largest map a caller makes
    OutOfRange outOfRange = OutOfRange::kept;
    // Recipes written before the key existed lack it: it then keeps its preset.
    bool inEveryRecipe = true;
    // The preset is not applied: xsize and ysize keep the size a run starts with.
    bool sizeKey = false;
};

// The largest value a setting can hold.
inline constexpr std::int32_t kAnyValue = INT32_MAX;

// The settings keys in the order the settings file is matched against them, with everything
// the program knows of each.
inline constexpr SettingsKey kSettingsKeyTable[] = {
    {"landcolor", &Settings::landcolor, 6, 0, 15},
    {"watercolor", &Settings::watercolor, 1, 0, 15},
    {"forestcolor", &Settings::forestcolor, 2, 0, 15},
    {"xsize", &Settings::xsize, kWindowGridSize, 1, kMaxMapSide, OutOfRange::clamped, true, true},
    {"ysize", &Settings::ysize, kWindowGridSize, 1, kMaxMapSide, OutOfRange::clamped, true, true},
    {"oceanedgesizex", &Settings::oceanedgesizex, 0, 0, kAnyValue, OutOfRange::clamped},
    {"oceanedgesizey", &Settings::oceanedgesizey, 0, 0, kAnyValue, OutOfRange::clamped},
    {"wround", &Settings::wround, 1, INT32_MIN, kAnyValue},
    {"landwaterratio", &Settings::landwaterratio, 6, INT32_MIN, kAnyValue},
    {"landmasssize", &Settings::landmasssize, 4, INT32_MIN, kAnyValue},
    {"beachshow", &Settings::beachshow, 2, INT32_MIN, kAnyValue},
    {"erosion", &Settings::erosion, 0, INT32_MIN, kAnyValue},
    {"randerosionvar1", &Settings::randerosionvar1, 3, INT32_MIN, kAnyValue},
    {"randerosionvar2", &Settings::randerosionvar2, 2, INT32_MIN, kAnyValue},
    {"erosionseed", &Settings::erosionseed, 0, INT32_MIN, kAnyValue},
    {"random1", &Settings::random1, 1, INT32_MIN, kAnyValue},
    {"randratio", &Settings::randratio, 0, INT32_MIN, kAnyValue},
    {"seed", &Settings::seed, 0, INT32_MIN, kAnyValue},
    {"speed", &Settings::speed, 0, INT32_MIN, kAnyValue},
    {"downupflow", &Settings::downupflow, 100, INT32_MIN, kAnyValue},
    {"downflowenabled", &Settings::downflowenabled, 1, INT32_MIN, kAnyValue},
    {"upflowenabled", &Settings::upflowenabled, 0, INT32_MIN, kAnyValue},
    {"upflowratio", &Settings::upflowratio, 0, INT32_MIN, kAnyValue},
    {"leftrightflow", &Settings::leftrightflow, 0, INT32_MIN, kAnyValue},
    {"leftflowenabled", &Settings::leftflowenabled, 1, INT32_MIN, kAnyValue},
    {"rightflowenabled", &Settings::rightflowenabled, 1, INT32_MIN, kAnyValue},
    {"rightflowratio", &Settings::rightflowratio, 0, INT32_MIN, kAnyValue},
    {"continents", &Settings::continents, 0, 0, 16, OutOfRange::clamped, false},
    {"landshare", &Settings::landshare, 40, 1, 99, OutOfRange::clamped, false},
    {"coastroughness", &Settings::coastroughness, 50, 0, 100, OutOfRange::clamped, false},
    {"islands", &Settings::islands, 30, 0, 100, OutOfRange::clamped, false},
    {"seacolor", &Settings::seacolor, -1, -1, 15, OutOfRange::kept, false},
    {"relief", &Settings::relief, 50, 0, 100, OutOfRange::clamped, false},
    {"rivers", &Settings::rivers, 70, 0, 100, OutOfRange::clamped, false},
};
inline constexpr std::span<const SettingsKey> kSettingsKeys{kSettingsKeyTable};

// The key of a field.
constexpr const SettingsKey& settingsKey(std::int32_t Settings::*field) {
    for (const SettingsKey& key : kSettingsKeys)
        if (key.field == field) return key;
    throw "not a settings field";  // never reached for a field of Settings
}

// Stores the preset of every field but xsize and ysize, which keep their start-up size.
void applyPresets(Settings& settings);

// What a map's size must be, for messages: "expected WIDTHxHEIGHT, each from 1 to 65536".
std::string mapSizeRule();

// "landcolor, watercolor, ...": every key, for messages that list them.
std::string settingsKeyList();

// "KEY: no such setting (the keys: ...)", for a key nobody knows.
std::string unknownKeyMessage(std::string_view key);

// A setting that was changed to keep the map inside its grids.
struct ClampedSetting {
    std::string_view key;
    std::int32_t from = 0;
    std::int32_t to = 0;

    friend bool operator==(const ClampedSetting&, const ClampedSetting&) = default;
};

// "xsize 1000 is out of range; using 400": how the batch generator and the library tell of it.
std::string clampedMessage(const ClampedSetting& change);

// Brings every setting whose key clamps it into its range, xsize into 1 .. maxWidth and ysize
// into 1 .. maxHeight (grids that hold maxWidth x maxHeight interior cells, both at least 1).
// Returns what was changed, in key order; nothing for settings already in range.
std::vector<ClampedSetting> clampToGrid(Settings& settings, std::int32_t maxWidth, std::int32_t maxHeight);

}  // namespace orv
