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
    for (const std::string_view maker : {"orvandel-batch ", "liborvandel "}) {
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

std::optional<Recipe> recipeFromTexts(const TextChunks& texts, std::string& error) {
    auto find = [&texts](std::string_view keyword) -> const std::string* {
        for (const auto& [k, text] : texts)
            if (k == keyword) return &text;
        return nullptr;
    };
    const std::string* found[] = {find(kSeed), find(kSeedSource), find(kGenerations), find(kSize), find(kSettings)};
    if (std::none_of(std::begin(found), std::end(found), [](const std::string* t) { return t != nullptr; })) {
        error = "it holds no recipe (maps made by orvandel-batch carry one)";
        return std::nullopt;
    }
    auto damaged = [&error](const std::string& why) {
        error = "its recipe is damaged: " + why;
        return std::nullopt;
    };
    const char* names[] = {kSeed, kSeedSource, kGenerations, kSize, kSettings};
    for (std::size_t i = 0; i < std::size(found); ++i)
        if (found[i] == nullptr) return damaged(std::string("no '") + names[i] + "'");

    Recipe r;
    const std::string* program = find("Software");
    r.program = program ? *program : "";
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
        !readWhole(std::string_view(*found[3]).substr(x + 1), height) || width < 1 || height < 1)
        return damaged("the size '" + *found[3] + "'");

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
        if (key == nullptr || line.find('=') == std::string_view::npos)
            return damaged("the settings line '" + std::string(line) + "'");
        applySettingsItem(r.settings, line);
        keys.insert(key->name);
    }
    for (const SettingsKey& key : kSettingsKeys)
        if (key.inEveryRecipe && !keys.contains(key.name)) return damaged("no setting " + std::string(key.name));
    r.settings.xsize = width;
    r.settings.ysize = height;
    return r;
}

}  // namespace orv
