#include "map/MapOutputs.hpp"

#include <array>

#include "map/MapFiles.hpp"
#include "map/StatsJson.hpp"

namespace orv {
namespace {

std::error_code writePicture(MadeMap& map, ByteSink& sink) {
    return writeMapPng(sink, map.picture, recipeTexts(map.recipe));
}

std::error_code writeStatistics(MadeMap& map, ByteSink& sink) {
    const std::string json = statsJson(map.result);
    sink.write(json.data(), json.size());
    return sink.error();
}

std::error_code writeClasses(MadeMap& map, ByteSink& sink) {
    return writeMapGrid(sink, map.picture);
}

constexpr std::array<MapOutput, 3> kOutputs{{
    {"png", "--out", "FILE.png", "the map as the window shows it, its recipe in text chunks\n('-': standard output)",
     "the picture as a PNG file, with the recipe that makes it again in its text chunks", writePicture},
    {"stats", "--stats", "FILE.json",
     "seed, size, settings, generations, settling, the cells of\nthe three colour classes and the sea "
     "('-': standard output)",
     "the statistics as a JSON document", writeStatistics},
    {"grid", "--grid", "FILE.npy",
     "the cells' classes as a NumPy array: uint8, height x width;\n0 water, 1 land, 2 unchanged, 3 sea "
     "('-': standard output)",
     "the cells' classes as a NumPy .npy file (uint8, height x width)", writeClasses},
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

std::error_code writeMapOutput(const MapOutput& output, MadeMap& map, const std::filesystem::path& path,
                               FileSystem& files, Dash dash) {
    SafeFile file(path, files, dash);
    if (!file.ok()) return file.error();
    if (const std::error_code why = output.write(map, file)) {
        file.fail(why);
        return why;
    }
    file.commit();
    return file.error();
}

}  // namespace orv
