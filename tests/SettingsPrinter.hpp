#pragma once

// Lets GoogleTest show a Settings record as key=value pairs when a comparison fails.

#include <ostream>

#include "settings/Settings.hpp"

namespace orv {

inline void PrintTo(const Settings& settings, std::ostream* out) {
    for (const SettingsKey& key : kSettingsKeys) *out << key.name << '=' << settings.*key.field << ' ';
}

}  // namespace orv
