// The public API of include/orvandel/orvandel.hpp over the core: a map made by makeMap and
// written through the outputs table, behind a small set of value types.
#include <cstring>
#include <limits>
#include <mutex>
#include <orvandel/orvandel.hpp>

#include "io/ByteSink.hpp"
#include "io/SafeWrite.hpp"
#include "map/GenerateMap.hpp"
#include "map/MadeMap.hpp"
#include "map/MapOutputs.hpp"
#include "map/Recipe.hpp"
#include "map/StatsJson.hpp"
#include "rng/Random.hpp"
#include "settings/Palette.hpp"
#include "settings/Seeding.hpp"
#include "settings/Settings.hpp"
#include "settings/SettingsFile.hpp"
#include "terrain/Atlas.hpp"

namespace orvandel {
inline namespace ORVANDEL_ABI_NAMESPACE {

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

const orv::MapOutput& outputNamed(std::string_view name) {
    if (const orv::MapOutput* output = orv::findMapOutput(name)) return *output;
    throw Error(std::string(name) + ": no such output (the outputs: " + orv::mapOutputNames() + ")");
}

// An output this map can be written as: Error for a world's output of a classic map.
const orv::MapOutput& outputOf(const orv::MadeMap& map, std::string_view name) {
    const orv::MapOutput& output = outputNamed(name);
    if (const std::optional<std::string> problem = orv::outputProblem(output, map.result.settings, output.name))
        throw Error(*problem);
    return output;
}

[[noreturn]] void cannotWrite(const std::string& what, std::error_code why) {
    throw FileError(why, "cannot write " + what + ": " + orv::writeErrorReason(why));
}

}  // namespace

std::string version() {
    return ORVANDEL_VERSION;
}

int versionNumber() {
    return ORVANDEL_VERSION_NUMBER;
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

Settings& Settings::apply(std::string_view line) {
    if (const std::optional<std::string> problem = orv::strictSettingsProblem(line)) throw Error(*problem);
    orv::Settings s = Access::core(*this);
    orv::applySettingsText(s, line);
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
    // The picture paints its rows into buffers of its own: one reader or writer at a time.
    mutable std::mutex lock;
    mutable orv::MadeMap made;
    Settings settings, settingsUsed;
    std::vector<Adjustment> adjustments;
    mutable std::once_flag classesMade, rgbaMade, atlasMade, terrainMade;
    mutable std::vector<std::uint8_t> classes, rgba, atlas, terrainClasses;
    // The world's terrain, made on first use (Error for a classic map).
    const orv::Terrain& terrainOf() const;
};

Map::Map(std::unique_ptr<State> state) : state_(std::move(state)) {}
Map::Map(Map&& other) noexcept = default;
Map& Map::operator=(Map&& other) noexcept = default;
Map::~Map() = default;

Map Map::generate(const Settings& settings, std::int64_t seed, const MapOptions& options) {
    if (const std::optional<std::string> problem = orv::seedProblem(seed)) throw Error(*problem);
    if (options.generations < 0)
        throw Error("generations " + std::to_string(options.generations) + ": expected a whole number of 0 or more");
    if (options.threads < 0)
        throw Error("threads " + std::to_string(options.threads) + ": expected a whole number of 0 or more");

    auto state = std::make_unique<State>();
    orv::MapRequest request;
    request.settings = Access::core(settings);
    state->adjustments = adjustmentsOf(orv::clampToGrid(request.settings, orv::kMaxMapSide, orv::kMaxMapSide));
    request.seed = seed == 0 ? orv::SeedChoice::ofClock(orv::freshClockSeed())
                             : orv::SeedChoice::of(static_cast<std::int32_t>(seed));
    request.generations = options.generations;
    request.untilSettled = options.untilSettled;
    request.colors = orv::mapColors(request.settings);
    request.threads = options.threads;
    orv::RunHooks hooks;
    if (options.progress)
        hooks.progress = [&options](std::int64_t done, std::int64_t total) {
            return options.progress(Progress{done, total});
        };
    try {
        orv::makeMap(state->made, request, std::string("liborvandel ") + ORVANDEL_VERSION, hooks);
    } catch (const orv::RunCancelled&) {
        throw Cancelled("the map was stopped by its progress hook");
    }
    state->settings = Access::of(request.settings);
    state->settingsUsed = Access::of(state->made.result.settings);
    return Map(std::move(state));
}

int Map::width() const {
    return state_->made.picture.width();
}
int Map::height() const {
    return state_->made.picture.height();
}
std::int32_t Map::seed() const {
    return state_->made.result.seed;
}
bool Map::seedFromClock() const {
    return state_->made.result.seedFromClock;
}
bool Map::seedUsed() const {
    return state_->made.result.seedUsed;
}
std::int64_t Map::generations() const {
    return state_->made.result.committedGenerations;
}
std::int64_t Map::cycles() const {
    return state_->made.result.cycles;
}
bool Map::stable() const {
    return state_->made.result.stable;
}
bool Map::settled() const {
    return state_->made.result.settled;
}
std::optional<std::int64_t> Map::settledAt() const {
    return state_->made.result.settledAt;
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

std::vector<std::string> Map::warnings() const {
    std::vector<std::string> warnings;
    for (const Adjustment& adjustment : state_->adjustments) warnings.push_back(adjustment.message());
    if (std::string unseeded = orv::unseededWarning(state_->made.result.settings); !unseeded.empty())
        warnings.push_back(std::move(unseeded));
    return warnings;
}

Statistics Map::statistics() const {
    const orv::MapResult& r = state_->made.result;
    Statistics st;
    st.cells = std::int64_t{width()} * height();
    st.changedToWater = r.waterCount;
    st.changedToLand = r.landCount;
    st.unchanged = r.unchangedCount;
    st.sea = r.seaCount;
    // As the report computes them.
    auto percent = [&st](std::int64_t count) {
        return static_cast<double>(count * 100) / static_cast<double>(st.cells);
    };
    st.changedToWaterPercent = percent(st.changedToWater);
    st.changedToLandPercent = percent(st.changedToLand);
    st.unchangedPercent = percent(st.cells - st.changedToWater - st.changedToLand - st.sea);
    st.seaPercent = percent(st.sea);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    st.water = st.changedToWater;
    st.land = st.changedToLand;
    st.waterPercent = st.changedToWaterPercent;
    st.landPercent = st.changedToLandPercent;
#pragma GCC diagnostic pop
    return st;
}

const std::vector<std::int64_t>& Map::landMasses() const {
    return state_->made.result.landMasses;
}

std::string Map::statsJson() const {
    const std::lock_guard lock(state_->lock);
    return orv::madeStatsJson(state_->made);
}

const orv::Terrain& Map::State::terrainOf() const {
    if (!orv::hasTerrain(made))
        throw Error("a classic map has no terrain: continents is " + std::to_string(made.result.settings.continents) +
                    " (set continents to 1 or more)");
    const std::lock_guard guard(lock);
    return orv::madeTerrain(made);
}

const std::vector<std::int16_t>& Map::heights() const {
    return state_->terrainOf().heights;
}

const std::vector<std::uint8_t>& Map::terrain() const {
    State& s = *state_;
    const orv::Terrain& terrain = s.terrainOf();
    std::call_once(s.terrainMade, [&] {
        std::vector<std::uint8_t> classes(terrain.drainage.cells.size());
        for (std::size_t i = 0; i < classes.size(); ++i) classes[i] = terrain.drainage.terrainAt(i);
        s.terrainClasses = std::move(classes);
    });
    return s.terrainClasses;
}

const std::vector<std::uint8_t>& Map::atlas() const {
    State& s = *state_;
    const orv::Terrain& terrain = s.terrainOf();
    std::call_once(s.atlasMade, [&] {
        const auto width = static_cast<std::size_t>(terrain.width);
        std::vector<std::uint8_t> rgba(width * static_cast<std::size_t>(terrain.height) * 4);
        std::vector<std::uint8_t> rgb(width * 3);
        const orv::AtlasPainter painter(terrain.heights, terrain.drainage);
        for (int y = 0; y < terrain.height; ++y) {
            painter.paintRow(y, rgb.data());
            std::uint8_t* out = rgba.data() + static_cast<std::size_t>(y) * width * 4;
            for (std::size_t x = 0; x < width; ++x) {
                out[4 * x] = rgb[3 * x];
                out[4 * x + 1] = rgb[3 * x + 1];
                out[4 * x + 2] = rgb[3 * x + 2];
                out[4 * x + 3] = 0xFF;
            }
        }
        s.atlas = std::move(rgba);
    });
    return s.atlas;
}

const std::vector<std::uint8_t>& Map::classes() const {
    State& s = *state_;
    std::call_once(s.classesMade, [&s] {
        const auto width = static_cast<std::size_t>(s.made.picture.width());
        std::vector<std::uint8_t> classes(width * static_cast<std::size_t>(s.made.picture.height()));
        const std::lock_guard lock(s.lock);
        for (int y = 0; y < s.made.picture.height(); ++y)
            std::memcpy(classes.data() + static_cast<std::size_t>(y) * width, s.made.picture.classRow(y), width);
        s.classes = std::move(classes);
    });
    return s.classes;
}

const std::vector<std::uint8_t>& Map::rgba() const {
    State& s = *state_;
    std::call_once(s.rgbaMade, [&s] {
        const auto width = static_cast<std::size_t>(s.made.picture.width());
        std::vector<std::uint8_t> rgba(width * static_cast<std::size_t>(s.made.picture.height()) * 4);
        const std::lock_guard lock(s.lock);
        std::uint8_t* out = rgba.data();
        for (int y = 0; y < s.made.picture.height(); ++y) {
            const std::uint32_t* row = s.made.picture.row(y);
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

std::vector<std::string> Map::outputs() {
    std::vector<std::string> names;
    for (const orv::MapOutput& output : orv::mapOutputs()) names.emplace_back(output.name);
    return names;
}

std::string Map::describeOutput(std::string_view output) {
    return std::string(outputNamed(output).about);
}

void Map::write(std::string_view output, const std::filesystem::path& path) const {
    const orv::MapOutput& kind = outputOf(state_->made, output);
    const std::lock_guard lock(state_->lock);
    if (const std::error_code why = orv::writeMapOutput(kind, state_->made, path)) cannotWrite(path.string(), why);
}

void Map::write(std::string_view output, std::ostream& out) const {
    const orv::MapOutput& kind = outputOf(state_->made, output);
    orv::StreamSink sink(out);
    const std::lock_guard lock(state_->lock);
    if (const std::error_code why = kind.write(state_->made, sink, ""))
        cannotWrite("the " + std::string(output) + " output to a stream", why);
}

void Map::write(std::string_view output, const std::function<bool(const void* data, std::size_t size)>& take) const {
    const orv::MapOutput& kind = outputOf(state_->made, output);
    orv::CallbackSink sink(take);
    const std::lock_guard lock(state_->lock);
    if (const std::error_code why = kind.write(state_->made, sink, ""))
        cannotWrite("the " + std::string(output) + " output", why);
}

void Map::writePng(const std::filesystem::path& path) const {
    write("png", path);
}

void Map::writeGrid(const std::filesystem::path& path) const {
    write("grid", path);
}

void Map::writeStats(const std::filesystem::path& path) const {
    write("stats", path);
}

}  // namespace ORVANDEL_ABI_NAMESPACE
}  // namespace orvandel
