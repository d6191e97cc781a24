#include "map/Recipe.hpp"

#include <algorithm>
#include <charconv>
#include <set>

#include "settings/SettingsFile.hpp"

namespace orv {
namespace {

constexpr const char* kSeed = "Orvandel seed";
constexpr const char* kSeedSource = "Orvandel seed source";
constexpr const char* kGenerations = "Orvandel generations";
constexpr const char* kSize = "Orvandel size";
constexpr const char* kSettings = "Orvandel settings";

template <class T>
bool readWhole(std::string_view text, T& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc{} && end == text.data() + text.size() && !text.empty();
}

}  // namespace

Recipe recipeOf(const std::string& program, const Settings& begun, const MapResult& result) {
    Recipe r;
    r.program = program;
    r.seedSource = !result.seedUsed       ? Recipe::SeedSource::none
                   : result.seedFromClock ? Recipe::SeedSource::clock
                                          : Recipe::SeedSource::given;
    r.seed = result.seed;
    r.generations = result.committedGenerations;
    r.settings = begun;
    return r;
}

std::optional<int> majorVersion(const std::string& program) {
    for (const std::string_view maker : {"orvandel-batch ", "liborvandel ", "orvandel-web "}) {
        if (!program.starts_with(maker)) continue;
        const std::string_view version = std::string_view(program).substr(maker.size());
        int major = 0;
        const auto [end, ec] = std::from_chars(version.data(), version.data() + version.size(), major);
        if (ec == std::errc{} && (end == version.data() + version.size() || *end == '.')) return major;
    }
    return std::nullopt;
}

TextChunks recipeTexts(const Recipe& r) {
    std::string settings;
    for (const SettingsKey& key : kSettingsKeys)
        settings += std::string(key.name) + "=" + std::to_string(r.settings.*key.field) + "\n";
    const char* source = r.seedSource == Recipe::SeedSource::clock  ? "clock"
                         : r.seedSource == Recipe::SeedSource::none ? "none"
                                                                    : "given";
    return {{"Software", r.program},
            {kSeed, std::to_string(r.seed)},
            {kSeedSource, source},
            {kGenerations, std::to_string(r.generations)},
            {kSize, std::to_string(r.settings.xsize) + "x" + std::to_string(r.settings.ysize)},
            {kSettings, settings}};
}

bool recipeKeyword(std::string_view keyword) {
    for (const std::string_view known : {"Software", kSeed, kSeedSource, kGenerations, kSize, kSettings})
        if (keyword == known) return true;
    return false;
}

std::optional<Recipe> recipeFromTexts(const TextChunks& texts, std::string& error, std::vector<std::string>* warnings) {
    auto damaged = [&error](const std::string& why) {
        error = "its recipe is damaged: " + why;
        return std::nullopt;
    };
    const char* const names[] = {kSeed, kSeedSource, kGenerations, kSize, kSettings};
    const std::string* found[std::size(names)] = {};
    const std::string* program = nullptr;
    for (const auto& [keyword, text] : texts) {
        const std::string** slot = keyword == "Software" ? &program : nullptr;
        for (std::size_t i = 0; i < std::size(names) && slot == nullptr; ++i)
            if (keyword == names[i]) slot = &found[i];
        if (slot == nullptr) continue;
        if (*slot != nullptr) return damaged("'" + keyword + "' is given twice");
        *slot = &text;
    }
    if (std::none_of(std::begin(found), std::end(found), [](const std::string* t) { return t != nullptr; })) {
        error = "it holds no recipe (maps made by orvandel-batch carry one)";
        return std::nullopt;
    }
    for (std::size_t i = 0; i < std::size(found); ++i)
        if (found[i] == nullptr) return damaged(std::string("no '") + names[i] + "'");

    Recipe r;
    r.program = program ? *program : "";
    const std::optional<int> made = majorVersion(r.program);
    const bool otherVersion = made != majorVersion(std::string("orvandel-batch ") + ORVANDEL_VERSION);
    // Worlds are grown as heights from 2.0.0 on: a world of 1.x would come out another world.
    constexpr int kWorldsSince = 2;
    const bool oldWorlds = made && *made < kWorldsSince;
    if (!readWhole(*found[0], r.seed)) return damaged("the seed '" + *found[0] + "'");
    if (*found[1] == "given")
        r.seedSource = Recipe::SeedSource::given;
    else if (*found[1] == "clock")
        r.seedSource = Recipe::SeedSource::clock;
    else if (*found[1] == "none")
        r.seedSource = Recipe::SeedSource::none;
    else
        return damaged("the seed source '" + *found[1] + "'");
    if (!readWhole(*found[2], r.generations) || r.generations < 0)
        return damaged("the generations '" + *found[2] + "'");
    const std::size_t x = found[3]->find('x');
    std::int32_t width = 0, height = 0;
    if (x == std::string::npos || !readWhole(std::string_view(*found[3]).substr(0, x), width) ||
        !readWhole(std::string_view(*found[3]).substr(x + 1), height) || width < 1 || height < 1 ||
        width > kMaxMapSide || height > kMaxMapSide)
        return damaged("the size '" + *found[3] + "' (each side 1 .. " + std::to_string(kMaxMapSide) + ")");

    // Every setting, one key=value a line, read by the settings file's rules; the world's keys,
    // which recipes made before the world mode lack, keep their presets when missing.
    applyPresets(r.settings);
    std::set<std::string_view> keys;
    std::string_view lines = *found[4];
    while (!lines.empty()) {
        const std::size_t end = lines.find('\n');
        const std::string_view line = lines.substr(0, end);
        lines.remove_prefix(end == std::string_view::npos ? lines.size() : end + 1);
        if (line.empty()) continue;
        const SettingsKey* key = findSettingsKey(line);
        if (key == nullptr && otherVersion && line.find('=') != std::string_view::npos) {
            if (warnings)
                warnings->push_back("the recipe's setting '" + std::string(line) + "' is unknown to version " +
                                    ORVANDEL_VERSION + " and left out");
            continue;
        }
        if (key == nullptr || line.find('=') == std::string_view::npos)
            return damaged("the settings line '" + std::string(line) + "'");
        if (keys.contains(key->name)) return damaged("the setting " + std::string(key->name) + " is given twice");
        applySettingsItem(r.settings, line);
        keys.insert(key->name);
    }
    for (const SettingsKey& key : kSettingsKeys)
        if (key.inEveryRecipe && !keys.contains(key.name)) return damaged("no setting " + std::string(key.name));
    r.settings.xsize = width;
    r.settings.ysize = height;
    if (oldWorlds && r.settings.continents > 0) {
        error = "it was made by " + r.program + ", whose worlds this version (" + ORVANDEL_VERSION +
                ") makes differently; classic maps (continents=0) it still makes";
        return std::nullopt;
    }
    // No Orvandel program writes a value that would be brought into range.
    Settings fitted = r.settings;
    const std::vector<ClampedSetting> changes = clampToGrid(fitted, kMaxMapSide, kMaxMapSide);
    if (!changes.empty()) {
        const SettingsKey& key = *findSettingsKey(changes.front().key);
        return damaged("the setting " + std::string(key.name) + "=" + std::to_string(changes.front().from) +
                       " (its range: " + std::to_string(key.low) + " .. " + std::to_string(key.high) + ")");
    }
    return r;
}

}  // namespace orv
