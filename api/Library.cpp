// The public API of include/orvandel/orvandel.hpp over the core: the batch generator's map
// making, files and statistics behind a small set of value types.
#include <cstring>
#include <limits>
#include <mutex>
#include <orvandel/orvandel.hpp>

#include "io/SafeWrite.hpp"
#include "map/GenerateMap.hpp"
#include "map/MapFiles.hpp"
#include "map/Recipe.hpp"
#include "map/StatsJson.hpp"
#include "rng/Random.hpp"
#include "settings/Palette.hpp"
#include "settings/Seeding.hpp"
#include "settings/Settings.hpp"
#include "settings/SettingsFile.hpp"

namespace orvandel {

static_assert(maxMapSide == orv::kMaxMapSide, "the public header's largest side is the core's");

struct SettingsAccess {
    static orv::Settings core(const Settings& settings) {
        orv::Settings s;
        for (std::size_t i = 0; i < orv::kSettingsKeys.size(); ++i)
            s.*orv::kSettingsKeys[i].field = settings.values_[i];
        return s;
    }
    static Settings of(const orv::Settings& s) {
        Settings settings;
        for (std::size_t i = 0; i < orv::kSettingsKeys.size(); ++i)
            settings.values_[i] = s.*orv::kSettingsKeys[i].field;
        return settings;
    }
    static std::int32_t& field(Settings& settings, std::string_view key) { return settings.values_[index(key)]; }
    static std::size_t index(std::string_view key) {
        if (key.find('=') == std::string_view::npos)
            if (const orv::SettingsKey* found = orv::findSettingsKey(key))
                return static_cast<std::size_t>(found - orv::kSettingsKeys.data());
        throw Error(orv::unknownKeyMessage(key));
    }
};

namespace {

using Access = SettingsAccess;

std::vector<Adjustment> adjustmentsOf(const std::vector<orv::ClampedSetting>& changes) {
    std::vector<Adjustment> adjustments;
    for (const orv::ClampedSetting& c : changes) adjustments.push_back({std::string(c.key), c.from, c.to});
    return adjustments;
}

[[noreturn]] void cannotWrite(const std::filesystem::path& path, std::error_code why) {
    throw FileError(why, "cannot write " + path.string() + ": " + orv::writeErrorReason(why));
}

}  // namespace

std::string version() {
    return ORVANDEL_VERSION;
}

std::string Adjustment::message() const {
    return orv::clampedMessage({key, from, to});
}

Settings::Settings() {
    orv::Settings s;
    orv::applyPresets(s);
    for (const orv::SettingsKey& key : orv::kSettingsKeys) values_.push_back(s.*key.field);
}

Settings Settings::fromText(std::string_view text) {
    orv::Settings s = Access::core(Settings());
    orv::applySettingsText(s, text);
    return Access::of(s);
}

Settings Settings::fromFile(const std::filesystem::path& path) {
    std::string text;
    if (const std::error_code why = orv::readSettingsFile(path, text))
        throw FileError(why, "cannot read the settings file " + path.string() + ": " + why.message());
    return fromText(text);
}

Settings Settings::fromPairs(const std::vector<std::pair<std::string, std::string>>& pairs) {
    Settings settings;
    for (const auto& [key, value] : pairs) settings.set(key, value);
    return settings;
}

Settings& Settings::set(std::string_view key, std::string_view value) {
    Access::index(key);
    return apply(std::string(key) + "=" + std::string(value));
}

Settings& Settings::set(std::string_view key, std::int32_t value) {
    Access::field(*this, key) = value;
    return *this;
}

Settings& Settings::apply(std::string_view item) {
    if (item.find('=') == std::string_view::npos)
        throw Error(std::string(item) + ": expected KEY=VALUE, such as landcolor=12");
    Access::index(item.substr(0, item.find('=')));
    orv::Settings s = Access::core(*this);
    orv::applySettingsItem(s, item);
    return *this = Access::of(s);
}

Settings& Settings::size(std::int32_t width, std::int32_t height) {
    return set("xsize", width).set("ysize", height);
}

std::int32_t Settings::get(std::string_view key) const {
    return values_[Access::index(key)];
}

std::vector<std::pair<std::string, std::int32_t>> Settings::items() const {
    std::vector<std::pair<std::string, std::int32_t>> items;
    for (std::size_t i = 0; i < orv::kSettingsKeys.size(); ++i)
        items.emplace_back(orv::kSettingsKeys[i].name, values_[i]);
    return items;
}

std::vector<std::string> Settings::keys() {
    std::vector<std::string> keys;
    for (const orv::SettingsKey& key : orv::kSettingsKeys) keys.emplace_back(key.name);
    return keys;
}

std::string Settings::text() const {
    std::string text;
    for (const auto& [key, value] : items()) text += key + "=" + std::to_string(value) + "\n";
    return text;
}

std::vector<Adjustment> Settings::adjustments() const {
    orv::Settings s = Access::core(*this);
    return adjustmentsOf(orv::clampToGrid(s, orv::kMaxMapSide, orv::kMaxMapSide));
}

struct Map::State {
    orv::MapResult result;
    Settings settings, settingsUsed;
    std::vector<Adjustment> adjustments;
    orv::Recipe recipe;
    // The picture paints its rows into buffers of its own: one reader at a time.
    mutable std::mutex pictureLock;
    mutable orv::MapPicture picture;
    mutable std::once_flag classesMade, rgbaMade;
    mutable std::vector<std::uint8_t> classes, rgba;
};

Map::Map(std::unique_ptr<State> state) : state_(std::move(state)) {}
Map::Map(Map&& other) noexcept = default;
Map& Map::operator=(Map&& other) noexcept = default;
Map::~Map() = default;

Map Map::generate(const Settings& settings, std::int64_t seed, const MapOptions& options) {
    if (seed == -1)
        throw Error(
            "seed -1: -1 takes the seed from the clock's bit pattern, which can never be given again; "
            "0 takes a seed from the clock");
    if (seed < std::numeric_limits<std::int32_t>::min() || seed > std::numeric_limits<std::int32_t>::max())
        throw Error("seed " + std::to_string(seed) + ": beyond the seeds, -2147483648 .. 2147483647");
    if (options.generations < 0)
        throw Error("generations " + std::to_string(options.generations) + ": expected a whole number of 0 or more");
    if (options.threads < 0)
        throw Error("threads " + std::to_string(options.threads) + ": expected a whole number of 0 or more");

    auto state = std::make_unique<State>();
    orv::MapRequest request;
    request.settings = Access::core(settings);
    state->adjustments = adjustmentsOf(orv::clampToGrid(request.settings, orv::kMaxMapSide, orv::kMaxMapSide));
    request.seed = seed == 0 ? orv::SeedChoice::fromClock(orv::clockSeconds())
                             : orv::SeedChoice::of(static_cast<std::int32_t>(seed));
    request.generations = options.generations;
    request.untilSettled = options.untilSettled;
    request.colors = orv::mapColors(request.settings);
    request.threads = options.threads;
    state->result = orv::generateMap(request, state->picture);
    state->settings = Access::of(request.settings);
    state->settingsUsed = Access::of(state->result.settings);
    state->recipe = orv::recipeOf(std::string("liborvandel ") + ORVANDEL_VERSION, request.settings, state->result);
    return Map(std::move(state));
}

int Map::width() const {
    return state_->picture.width();
}
int Map::height() const {
    return state_->picture.height();
}
std::int32_t Map::seed() const {
    return state_->result.seed;
}
bool Map::seedFromClock() const {
    return state_->result.seedFromClock;
}
bool Map::seedUsed() const {
    return state_->result.seedUsed;
}
std::int64_t Map::generations() const {
    return state_->result.committedGenerations;
}
std::int64_t Map::cycles() const {
    return state_->result.cycles;
}
bool Map::stable() const {
    return state_->result.stable;
}
bool Map::settled() const {
    return state_->result.settled;
}
std::optional<std::int64_t> Map::settledAt() const {
    return state_->result.settledAt;
}
const Settings& Map::settings() const {
    return state_->settings;
}
const Settings& Map::settingsUsed() const {
    return state_->settingsUsed;
}
const std::vector<Adjustment>& Map::adjustments() const {
    return state_->adjustments;
}

Statistics Map::statistics() const {
    const orv::MapResult& r = state_->result;
    Statistics st;
    st.cells = std::int64_t{width()} * height();
    st.water = r.waterCount;
    st.land = r.landCount;
    st.unchanged = r.unchangedCount;
    st.sea = r.seaCount;
    // As the report computes them.
    auto percent = [&st](std::int64_t count) {
        return static_cast<double>(count * 100) / static_cast<double>(st.cells);
    };
    st.waterPercent = percent(st.water);
    st.landPercent = percent(st.land);
    st.unchangedPercent = percent(st.cells - st.water - st.land - st.sea);
    st.seaPercent = percent(st.sea);
    return st;
}

const std::vector<std::int64_t>& Map::landMasses() const {
    return state_->result.landMasses;
}

std::string Map::statsJson() const {
    return orv::statsJson(state_->result);
}

const std::vector<std::uint8_t>& Map::classes() const {
    State& s = *state_;
    std::call_once(s.classesMade, [&s] {
        const auto width = static_cast<std::size_t>(s.picture.width());
        std::vector<std::uint8_t> classes(width * static_cast<std::size_t>(s.picture.height()));
        const std::lock_guard lock(s.pictureLock);
        for (int y = 0; y < s.picture.height(); ++y)
            std::memcpy(classes.data() + static_cast<std::size_t>(y) * width, s.picture.classRow(y), width);
        s.classes = std::move(classes);
    });
    return s.classes;
}

const std::vector<std::uint8_t>& Map::rgba() const {
    State& s = *state_;
    std::call_once(s.rgbaMade, [&s] {
        const auto width = static_cast<std::size_t>(s.picture.width());
        std::vector<std::uint8_t> rgba(width * static_cast<std::size_t>(s.picture.height()) * 4);
        const std::lock_guard lock(s.pictureLock);
        std::uint8_t* out = rgba.data();
        for (int y = 0; y < s.picture.height(); ++y) {
            const std::uint32_t* row = s.picture.row(y);
            for (std::size_t x = 0; x < width; ++x, out += 4) {
                out[0] = static_cast<std::uint8_t>(row[x] >> 16);
                out[1] = static_cast<std::uint8_t>(row[x] >> 8);
                out[2] = static_cast<std::uint8_t>(row[x]);
                out[3] = static_cast<std::uint8_t>(row[x] >> 24);
            }
        }
        s.rgba = std::move(rgba);
    });
    return s.rgba;
}

void Map::writePng(const std::filesystem::path& path) const {
    const std::lock_guard lock(state_->pictureLock);
    if (const std::error_code why = orv::writeMapPng(path, state_->picture, orv::recipeTexts(state_->recipe)))
        cannotWrite(path, why);
}

void Map::writeGrid(const std::filesystem::path& path) const {
    const std::lock_guard lock(state_->pictureLock);
    if (const std::error_code why = orv::writeMapGrid(path, state_->picture)) cannotWrite(path, why);
}

void Map::writeStats(const std::filesystem::path& path) const {
    if (const std::error_code why = orv::writeFileSafely(path, statsJson())) cannotWrite(path, why);
}

}  // namespace orvandel
