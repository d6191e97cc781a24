#pragma once

#include <cstdint>
#include <filesystem>

#include "settings/Settings.hpp"

namespace orv {

class Screen;

// The dialogue: presets, the file-name prompt, reading the file, the confirmation (or the
// reason the file could not be read), the settings clamped to grids of gridWidth x gridHeight
// with a notice line when that changed anything, then a key. Relative file names are taken
// from directory (empty: the current directory).
void loadSettingsFile(Screen& screen, Settings& settings, const std::filesystem::path& directory = {},
                      std::int32_t gridWidth = kWindowGridSize, std::int32_t gridHeight = kWindowGridSize);

}  // namespace orv
