#pragma once

#include <cstdint>
#include <filesystem>
#include <system_error>
#include <vector>

#include "io/PngText.hpp"
#include "io/SafeWrite.hpp"
#include "map/GenerateMap.hpp"
#include "settings/Palette.hpp"

namespace orv {

// The files a made map is written as, each by the output rules of SafeWrite.hpp.

// The colours a map's picture can show: its three map colours, black where nothing was drawn
// and, for a world, the sea's colour last, each once.
std::vector<std::uint32_t> mapPalette(const MapColors& colors, bool world = false);

// The picture as a paletted PNG (which decodes to the same pixels as RGBA, and is far smaller
// and quicker to make), with the text chunks (a recipe) before the image data.
std::error_code writeMapPng(const std::filesystem::path& name, MapPicture& picture, const TextChunks& texts,
                            Dash dash = Dash::isAFile);

// The same written into a safe write the caller commits: no error when every byte went in.
std::error_code writeMapPng(SafeFile& file, MapPicture& picture, const TextChunks& texts);

// The cells' classes (CellClass) as a NumPy array of unsigned bytes, shape (height, width).
std::error_code writeMapGrid(const std::filesystem::path& name, MapPicture& picture, Dash dash = Dash::isAFile);
std::error_code writeMapGrid(SafeFile& file, MapPicture& picture);

}  // namespace orv
