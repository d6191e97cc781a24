#include "map/MapFiles.hpp"

#include <algorithm>
#include <string>

#include "io/NpyFile.hpp"
#include "io/PngStream.hpp"
#include "io/PngWriter.hpp"

namespace orv {

std::vector<std::uint32_t> mapPalette(const MapColors& colors, bool world) {
    std::vector<std::uint32_t> palette;
    auto add = [&palette](std::uint32_t color) {
        if (std::find(palette.begin(), palette.end(), color) == palette.end()) palette.push_back(color);
    };
    for (std::uint32_t color : {colors.unchanged, colors.water, colors.land, std::uint32_t{0xFF000000}}) add(color);
    if (world) add(colors.sea);
    return palette;
}

std::error_code writeMapPng(SafeFile& file, MapPicture& picture, const TextChunks& texts) {
    if (!file.ok()) return file.error();
    PngStreamWriter png(file, static_cast<std::uint32_t>(picture.width()), static_cast<std::uint32_t>(picture.height()),
                        mapPalette(picture.colors(), picture.world()));
    for (const auto& [keyword, text] : texts) png.writeText(keyword, text);
    for (int y = 0; y < picture.height() && png.ok(); ++y) png.writeRow(picture.row(y));
    if (png.finish()) return {};
    return file.ok() ? make_error_code(PngError::compressFailed) : file.error();
}

std::error_code writeMapPng(const std::filesystem::path& name, MapPicture& picture, const TextChunks& texts,
                            Dash dash) {
    SafeFile file(name, realFileSystem(), dash);
    if (const std::error_code why = writeMapPng(file, picture, texts)) return why;
    file.commit();
    return file.error();
}

std::error_code writeMapGrid(SafeFile& file, MapPicture& picture) {
    const std::string header =
        npyHeader(static_cast<std::uint64_t>(picture.height()), static_cast<std::uint64_t>(picture.width()));
    bool ok = file.write(header.data(), header.size());
    for (int y = 0; y < picture.height() && ok; ++y)
        ok = file.write(picture.classRow(y), static_cast<std::size_t>(picture.width()));
    return file.error();
}

std::error_code writeMapGrid(const std::filesystem::path& name, MapPicture& picture, Dash dash) {
    SafeFile file(name, realFileSystem(), dash);
    if (!writeMapGrid(file, picture)) file.commit();
    return file.error();
}

}  // namespace orv
