#include "settings/Settings.hpp"

#include <algorithm>

namespace orv {

void applyPresets(Settings& s) {
    for (const SettingsKey& key : kSettingsKeys)
        if (!key.sizeKey) s.*key.field = key.preset;
}

std::string settingsKeyList() {
    std::string keys;
    for (const SettingsKey& key : kSettingsKeys) keys.append(keys.empty() ? "" : ", ").append(key.name);
    return keys;
}

std::string unknownKeyMessage(std::string_view key) {
    return std::string(key) + ": no such setting (the keys: " + settingsKeyList() + ")";
}

std::string clampedMessage(const ClampedSetting& change) {
    return std::string(change.key) + " " + std::to_string(change.from) + " is out of range; using " +
           std::to_string(change.to);
}

std::vector<ClampedSetting> clampToGrid(Settings& s, std::int32_t maxWidth, std::int32_t maxHeight) {
    std::vector<ClampedSetting> changes;
    for (const SettingsKey& key : kSettingsKeys) {
        if (key.outOfRange != OutOfRange::clamped) continue;
        std::int32_t high = key.high;
        if (key.field == &Settings::xsize) high = maxWidth;
        if (key.field == &Settings::ysize) high = maxHeight;
        std::int32_t& field = s.*key.field;
        const std::int32_t fitted = std::clamp(field, key.low, std::max(key.low, high));
        if (fitted == field) continue;
        changes.push_back({key.name, field, fitted});
        field = fitted;
    }
    return changes;
}

}  // namespace orv
