#include "map/MapOutputs.hpp"

#include <array>
#include <cctype>

#include "map/MapFiles.hpp"
#include "terrain/TerrainFiles.hpp"

namespace orv {
namespace {

bool endsWithPng(std::string_view name) {
    if (name.size() < 4) return false;
    std::string end(name.substr(name.size() - 4));
    for (char& c : end) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return end == ".png";
}

std::error_code writeText(ByteSink& sink, const std::string& text) {
    sink.write(text.data(), text.size());
    return sink.error();
}

std::error_code writePicture(MadeMap& map, ByteSink& sink, std::string_view) {
    return writeMapPng(sink, map.picture, recipeTexts(map.recipe));
}

std::error_code writeStatistics(MadeMap& map, ByteSink& sink, std::string_view) {
    return writeText(sink, madeStatsJson(map));
}

std::error_code writeClasses(MadeMap& map, ByteSink& sink, std::string_view) {
    return writeMapGrid(sink, map.picture);
}

std::error_code writeHeights(MadeMap& map, ByteSink& sink, std::string_view fileName) {
    const Terrain& terrain = madeTerrain(map);
    return endsWithPng(fileName) ? writeHeightsPng(sink, terrain, recipeTexts(map.recipe))
                                 : writeHeightsNpy(sink, terrain);
}

std::error_code writeTerrain(MadeMap& map, ByteSink& sink, std::string_view) {
    return writeTerrainNpy(sink, madeTerrain(map));
}

std::error_code writeAtlas(MadeMap& map, ByteSink& sink, std::string_view) {
    return writeAtlasPng(sink, madeTerrain(map), recipeTexts(map.recipe));
}

std::error_code writeRivers(MadeMap& map, ByteSink& sink, std::string_view) {
    return writeRiversGeoJson(sink, madeTerrain(map));
}

constexpr std::array<MapOutput, 7> kOutputs{{
    {"png", "--out", "FILE.png", "the map as the window shows it, its recipe in text chunks\n('-': standard output)",
     "the picture as a PNG file, with the recipe that makes it again in its text chunks", writePicture},
    {"stats", "--stats", "FILE.json",
     "seed, size, settings, generations, settling, the cells of\nthe three colour classes and the sea, a world's "
     "terrain\n('-': standard output)",
     "the statistics as a JSON document", writeStatistics},
    {"grid", "--grid", "FILE.npy",
     "the cells' classes as a NumPy array: uint8, height x width;\n0 water, 1 land, 2 unchanged, 3 sea "
     "('-': standard output)",
     "the cells' classes as a NumPy .npy file (uint8, height x width)", writeClasses},
    {"height", "--height", "FILE",
     "a world's heights in metres (-8000 .. 8000): FILE.npy as int16,\nheight x width; FILE.png as 16-bit grey, "
     "grey = (metres + 8000)\nx 65535 / 16000 rounded, with the recipe",
     "a world's heights in metres, int16 in a .npy file or 16-bit grey in a .png file (by the name)", writeHeights,
     true},
    {"terrain", "--terrain", "FILE.npy",
     "a world's land and water as a NumPy array: uint8, height x\nwidth; 0 sea, 1 lake, 2 river, 3 land",
     "a world's land and water: uint8 in a .npy file, 0 sea, 1 lake, 2 river, 3 land", writeTerrain, true},
    {"atlas", "--atlas", "FILE.png",
     "a world as an atlas: colours by height, hills lit from the\nnorth-west, the sea by depth, rivers and lakes; "
     "the recipe",
     "a world as an atlas picture (PNG, RGB), with the recipe", writeAtlas, true},
    {"rivers", "--rivers", "FILE.geojson",
     "a world's rivers as GeoJSON LineStrings in cells, with their\norder, length and where they end",
     "a world's rivers as GeoJSON", writeRivers, true},
}};

}  // namespace

std::span<const MapOutput> mapOutputs() {
    return kOutputs;
}

const MapOutput* findMapOutput(std::string_view name) {
    for (const MapOutput& output : kOutputs)
        if (output.name == name) return &output;
    return nullptr;
}

std::string mapOutputNames() {
    std::string names;
    for (const MapOutput& output : kOutputs) names.append(names.empty() ? "" : ", ").append(output.name);
    return names;
}

std::optional<std::string> outputProblem(const MapOutput& output, const Settings& settings, std::string_view name) {
    if (!output.needsWorld || settings.continents > 0) return std::nullopt;
    return std::string(name) + " needs a world: continents is " + std::to_string(settings.continents) +
           " (set continents to 1 or more)";
}

std::error_code writeMapOutput(const MapOutput& output, MadeMap& map, const std::filesystem::path& path,
                               FileSystem& files, Dash dash) {
    SafeFile file(path, files, dash);
    if (!file.ok()) return file.error();
    if (const std::error_code why = output.write(map, file, path.string())) {
        file.fail(why);
        return why;
    }
    file.commit();
    return file.error();
}

}  // namespace orv
