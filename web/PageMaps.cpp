// The world explorer's maps: the page's calls into the core, as the batch generator makes its
// maps (the same settings rules, the same run, the same files), with a run that the page follows
// step by step and may stop. Texts go to the page as JSON or as file contents.
#include <emscripten/emscripten.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "io/PngText.hpp"
#include "map/GenerateMap.hpp"
#include "map/MadeMap.hpp"
#include "map/MapOutputs.hpp"
#include "map/Recipe.hpp"
#include "map/StatsJson.hpp"
#include "settings/Palette.hpp"
#include "settings/Settings.hpp"
#include "settings/SettingsFile.hpp"
#include "terrain/Atlas.hpp"
#include "terrain/TerrainFiles.hpp"
#include "web/PageText.hpp"

namespace orv {
namespace {

// The maker the page's recipes name.
const std::string kMaker = std::string("orvandel-web ") + ORVANDEL_VERSION;

// A colour of the frame buffer (0xAARRGGBB) as the bytes R, G, B, A of a canvas's pixels.
std::uint32_t canvasOrder(std::uint32_t argb) {
    return (argb & 0xFF00FF00u) | (argb >> 16 & 0xFFu) | (argb & 0xFFu) << 16;
}

// One map of the explorer: its run while it is made, then the map itself.
struct PageMap {
    Settings begun;  // the settings as the run began: those of the recipe and the settings file
    std::vector<ClampedSetting> adjustments;
    Recipe::SeedSource seedSource = Recipe::SeedSource::given;
    MapColors colors;  // in the canvas's byte order
    std::unique_ptr<MapRun> run;
    MadeMap made;  // once the run is finished
    bool finished = false;
    std::vector<std::uint32_t> pixels;         // the map for the canvas, R, G, B, A bytes a pixel
    std::vector<std::uint32_t> terrainPixels;  // a view of the world's terrain, the same way
    std::string reply;                         // the last text handed to the page
};

const char* replyWith(PageMap& map, std::string text) {
    map.reply = std::move(text);
    return map.reply.c_str();
}

// The settings of a map from "key=value" lines, each read as orvandel-batch reads --set: the
// presets first, an unknown key or a line without "=" refused. Error text, or empty.
std::string readSettingsLines(std::string_view lines, Settings& settings) {
    applyPresets(settings);
    while (!lines.empty()) {
        const std::size_t end = lines.find('\n');
        const std::string_view line = lines.substr(0, end);
        lines.remove_prefix(end == std::string_view::npos ? lines.size() : end + 1);
        if (line.empty()) continue;
        if (line.find('=') == std::string_view::npos || findSettingsKey(line) == nullptr)
            return std::string(line) + ": no such setting";
        applySettingsItem(settings, line);
    }
    return {};
}

std::string recipeJson(const Recipe& r) {
    const char* source = r.seedSource == Recipe::SeedSource::clock  ? "clock"
                         : r.seedSource == Recipe::SeedSource::none ? "none"
                                                                    : "given";
    std::string settings;
    for (const SettingsKey& key : kSettingsKeys)
        settings +=
            (settings.empty() ? "" : ", ") + jsonString(key.name) + ": " + std::to_string(r.settings.*key.field);
    return "{\"program\": " + jsonString(r.program) + ", \"seed\": " + std::to_string(r.seed) + ", \"seedSource\": \"" +
           source + "\", \"generations\": " + std::to_string(r.generations) + ", \"settings\": {" + settings + "}}";
}

}  // namespace
}  // namespace orv

using orv::PageMap;

extern "C" {

// Every settings key in the order a settings file is matched, with its preset (a map of the
// window's size) and, for a key whose values are brought into a range, the range:
// [["landcolor", 6], ..., ["continents", 0, 0, 16], ...].
EMSCRIPTEN_KEEPALIVE char* orv_settings_keys() {
    orv::Settings presets;
    orv::applyPresets(presets);
    std::string json = "[";
    for (const orv::SettingsKey& key : orv::kSettingsKeys) {
        json += std::string(json.size() > 1 ? ", " : "") + "[" + orv::jsonString(key.name) + ", " +
                std::to_string(presets.*key.field);
        if (key.outOfRange == orv::OutOfRange::clamped && !key.sizeKey)
            json += ", " + std::to_string(key.low) + ", " + std::to_string(key.high);
        json += "]";
    }
    return orv::pageText(json + "]");
}

// A colour of the table (0xAARRGGBB): what the settings' colour numbers stand for.
EMSCRIPTEN_KEEPALIVE std::uint32_t orv_palette_color(int index) {
    return orv::paletteColor(index);
}

// A map from settings lines, a seed (seeded as it is: every 32-bit number is a seed here), the
// generations to draw at most and whether to stop once the picture has settled. seedFromClock
// marks a seed that a clock gave (a recipe's), as the map's recipe then says. Null when the
// settings are refused; *error then says why (free it with free).
EMSCRIPTEN_KEEPALIVE PageMap* orv_map_new(const char* settingsLines, double seed, double generations, int untilSettled,
                                          int seedFromClock, char** error) {
    *error = nullptr;
    auto map = std::make_unique<PageMap>();
    if (const std::string why = orv::readSettingsLines(settingsLines, map->begun); !why.empty()) {
        *error = orv::pageText(why);
        return nullptr;
    }
    if (!(seed >= -2147483648.0 && seed <= 2147483647.0) ||
        seed != static_cast<double>(static_cast<std::int64_t>(seed))) {
        *error = orv::pageText("seed: a whole number from -2147483648 to 2147483647");
        return nullptr;
    }
    if (!(generations >= 0 && generations <= 1e9)) {
        *error = orv::pageText("generations: a whole number from 0 to 1000000000");
        return nullptr;
    }
    map->adjustments = orv::clampToGrid(map->begun, orv::kMaxMapSide, orv::kMaxMapSide);
    orv::MapRequest request;
    request.settings = map->begun;
    request.seed = orv::SeedChoice::of(static_cast<std::int32_t>(seed));
    request.generations = static_cast<std::int64_t>(generations);
    request.untilSettled = untilSettled != 0;
    request.colors = orv::mapColors(request.settings);
    // While it is made, the map is painted straight in the canvas's byte order.
    const orv::MapColors& c = request.colors;
    map->colors = {orv::canvasOrder(c.unchanged), orv::canvasOrder(c.water), orv::canvasOrder(c.land),
                   orv::canvasOrder(c.sea)};
    request.threads = 1;
    map->seedSource = map->begun.random1 != 1 ? orv::Recipe::SeedSource::none
                      : seedFromClock != 0    ? orv::Recipe::SeedSource::clock
                                              : orv::Recipe::SeedSource::given;
    try {
        map->run = std::make_unique<orv::MapRun>(request);
        map->pixels.assign(static_cast<std::size_t>(map->begun.xsize) * static_cast<std::size_t>(map->begun.ysize),
                           0xFF000000u);
    } catch (const std::bad_alloc&) {
        *error = orv::pageText("the map does not fit in the memory the page has");
        return nullptr;
    }
    return map.release();
}

// What the library changed to make the map: ["xsize 70000 is out of range; using 65536", ...].
EMSCRIPTEN_KEEPALIVE const char* orv_map_adjustments(PageMap* map) {
    std::string json = "[";
    for (const orv::ClampedSetting& c : map->adjustments)
        json += std::string(json.size() > 1 ? ", " : "") + orv::jsonString(orv::clampedMessage(c));
    return orv::replyWith(*map, json + "]");
}

// Runs generations for about `milliseconds` (at least one). Returns the generations drawn so
// far, or -1 once the run is over.
EMSCRIPTEN_KEEPALIVE double orv_map_step(PageMap* map, double milliseconds) {
    if (!map->run) return -1;
    const double until = emscripten_get_now() + milliseconds;
    do {
        if (!map->run->step()) return -1;
    } while (emscripten_get_now() < until);
    return static_cast<double>(map->run->drawn());
}

// The map as drawn so far (while it is made) or as made: width x height pixels of R, G, B, A.
EMSCRIPTEN_KEEPALIVE const std::uint32_t* orv_map_pixels(PageMap* map) {
    const int width = map->begun.xsize, height = map->begun.ysize;
    if (map->run) {
        map->run->paint(orv::MapCanvas{map->pixels.data(), width, width, height, -1, -1}, map->colors);
    }
    return map->pixels.data();
}

EMSCRIPTEN_KEEPALIVE int orv_map_width(PageMap* map) {
    return map->begun.xsize;
}
EMSCRIPTEN_KEEPALIVE int orv_map_height(PageMap* map) {
    return map->begun.ysize;
}

// Ends the run with the generations drawn so far (at once when it is over) and returns the
// statistics as orvandel-batch --stats writes them.
EMSCRIPTEN_KEEPALIVE const char* orv_map_finish(PageMap* map) {
    if (map->run) {
        orv::MadeMap& made = map->made;
        made.result = map->run->finish(made.picture);
        made.recipe = orv::recipeOf(orv::kMaker, map->begun, made.result);
        made.recipe.seedSource = map->seedSource;
        map->run.reset();
        map->finished = true;
        const auto width = static_cast<std::size_t>(map->begun.xsize);
        for (int y = 0; y < made.picture.height(); ++y) {
            const std::uint32_t* row = made.picture.row(y);
            std::uint32_t* out = map->pixels.data() + static_cast<std::size_t>(y) * width;
            for (std::size_t x = 0; x < width; ++x) out[x] = orv::canvasOrder(row[x]);
        }
    }
    return orv::replyWith(*map, orv::statsJson(map->made.result));
}

// One of the made map's outputs (by its name in the outputs table: "png", "stats", "grid", ...),
// written to path in the page's file system: 0 when written, otherwise the errno value or the
// writer's reason.
EMSCRIPTEN_KEEPALIVE int orv_map_write(PageMap* map, const char* output, const char* path) {
    const orv::MapOutput* kind = orv::findMapOutput(output);
    if (!map->finished || kind == nullptr || (kind->needsWorld && !orv::hasTerrain(map->made))) return EINVAL;
    return orv::writeMapOutput(*kind, map->made, path).value();
}

// The outputs a map can be written as, in the table's order: [{"name": "png", "file":
// "FILE.png", "about": "..."}, ...].
EMSCRIPTEN_KEEPALIVE char* orv_map_outputs() {
    std::string json = "[";
    for (const orv::MapOutput& output : orv::mapOutputs())
        json += std::string(json.size() > 1 ? ", " : "") + "{\"name\": " + orv::jsonString(output.name) +
                ", \"file\": " + orv::jsonString(output.value) + ", \"about\": " + orv::jsonString(output.about) + "}";
    return orv::pageText(json + "]");
}

// A view of a made world's terrain for the canvas: 0 the atlas, 1 the heights in grey (black
// -8000 m, white 8000 m); width x height pixels of R, G, B, A. Null for a classic map or a map
// not yet made.
EMSCRIPTEN_KEEPALIVE const std::uint32_t* orv_map_terrain_pixels(PageMap* map, int view) {
    if (!map->finished || !orv::hasTerrain(map->made)) return nullptr;
    const orv::Terrain& terrain = orv::madeTerrain(map->made);
    const auto width = static_cast<std::size_t>(terrain.width);
    map->terrainPixels.resize(width * static_cast<std::size_t>(terrain.height));
    std::vector<std::uint8_t> rgb(width * 3);
    const orv::AtlasPainter painter(terrain.heights, terrain.drainage);
    for (int y = 0; y < terrain.height; ++y) {
        std::uint32_t* out = map->terrainPixels.data() + static_cast<std::size_t>(y) * width;
        if (view == 0) {
            painter.paintRow(y, rgb.data());
            for (std::size_t x = 0; x < width; ++x)
                out[x] =
                    0xFF000000u | std::uint32_t{rgb[3 * x + 2]} << 16 | std::uint32_t{rgb[3 * x + 1]} << 8 | rgb[3 * x];
        } else {
            const std::int16_t* row = terrain.heights.data() + static_cast<std::size_t>(y) * width;
            for (std::size_t x = 0; x < width; ++x) {
                const auto grey = static_cast<std::uint32_t>(orv::heightGrey(row[x]) >> 8);
                out[x] = 0xFF000000u | grey << 16 | grey << 8 | grey;
            }
        }
    }
    return map->terrainPixels.data();
}

// The settings the map began with, as a settings file: one key=value a line, every key.
EMSCRIPTEN_KEEPALIVE const char* orv_map_settings_text(PageMap* map) {
    std::string text;
    for (const orv::SettingsKey& key : orv::kSettingsKeys)
        text += std::string(key.name) + "=" + std::to_string(map->begun.*key.field) + "\n";
    return orv::replyWith(*map, text);
}

EMSCRIPTEN_KEEPALIVE void orv_map_delete(PageMap* map) {
    delete map;
}

// The recipe of a PNG in the page's file system, as JSON ({"error": ...} when it has none or
// cannot be read); free it with free.
EMSCRIPTEN_KEEPALIVE char* orv_recipe_of_png(const char* path) {
    orv::TextChunks texts;
    if (const std::error_code why = orv::readPngTexts(path, texts, orv::recipeKeyword))
        return orv::pageText("{\"error\": " + orv::jsonString("it cannot be read: " + why.message()) + "}");
    std::string error;
    const std::optional<orv::Recipe> recipe = orv::recipeFromTexts(texts, error);
    if (!recipe) return orv::pageText("{\"error\": " + orv::jsonString(error) + "}");
    return orv::pageText(orv::recipeJson(*recipe));
}

}  // extern "C"
