#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "settings/Settings.hpp"

namespace orv {

class Screen;

// A value text as a signed 32-bit integer: "&h", "&o", "&b" (or "&" and octal digits) wrap
// around in 32 bits; decimals saturate at the ends of the 32-bit range; no digits give 0.
std::int32_t settingsInteger(std::string_view valueText);

// Applies one key=value item: split at the first "=", blanks trimmed, lower-cased, matched
// exactly against the keys. Unrecognised items change nothing.
void applySettingsItem(Settings& settings, std::string_view item);

// Applies every item of a settings file's contents, in order.
void applySettingsText(Settings& settings, std::string_view text);

// The dialogue: presets, the file-name prompt, reading the file, the confirmation, a key.
// Relative file names are taken from directory (empty: the current directory).
void loadSettingsFile(Screen& screen, Settings& settings, const std::filesystem::path& directory = {});

}  // namespace orv
