#pragma once

// The files a terrain is written as. The grids and pictures are written into a safe write that
// the caller commits (SafeWrite.hpp: the output rules every file follows), row by row as they
// are made; the GeoJSON and the statistics are text for the caller to write or embed.
//
//   heights .npy    int16, little-endian, shape (height, width): metres (Relief.hpp)
//   heights .png    16-bit greyscale: grey = round((metres + 8000) x 65535 / 16000), so that
//                   -8000 m is black, sea level 32768 and 8000 m white; metres = round(grey x
//                   16000 / 65535) - 8000 gives the heights back exactly
//   terrain .npy    uint8, shape (height, width): 0 sea, 1 lake, 2 river, 3 land
//   atlas .png      8-bit RGB (Atlas.hpp)
//   rivers .geojson a FeatureCollection of LineStrings, one per river (Rivers.hpp)
//
// The PNG files carry the text chunks they are given (a recipe) before the image data.

#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

#include "io/ByteSink.hpp"
#include "io/PngText.hpp"
#include "terrain/Terrain.hpp"

namespace orv {

// The grey of a height in the 16-bit PNG, and the height of a grey.
std::uint16_t heightGrey(int metres);
int greyHeight(std::uint16_t grey);

// Each: no error when every byte went into the file.
std::error_code writeHeightsNpy(ByteSink& file, const Terrain& terrain);
std::error_code writeHeightsPng(ByteSink& file, const Terrain& terrain, const TextChunks& texts);
std::error_code writeTerrainNpy(ByteSink& file, const Terrain& terrain);
std::error_code writeAtlasPng(ByteSink& file, const Terrain& terrain, const TextChunks& texts);

// The rivers as GeoJSON (RFC 7946). Coordinates are in cells: x the column and y the row (growing
// downwards, as the grids' rows do) of a cell's centre plus a half; a river ends half a step into
// the sea or lake it flows into (and a river from a lake begins half a step inside it), a
// tributary on the first cell of the river it joins. A river that crosses the map's edge goes on
// past it (x below 0 or from width on): take the coordinates modulo the size to find the cells.
// Properties:
//   order    its Strahler order
//   length   in cells (a diagonal step sqrt 2)
//   endsIn   where its water comes to rest: "sea", or the number of a lake (as in the statistics)
//   joins    the id of the river it flows into, or null when it ends in the sea or a lake
//   fromLake the lake whose outlet it begins at, or null
// Each feature's id is its river's number.
std::error_code writeRiversGeoJson(ByteSink& file, const Terrain& terrain);
// The same as one text.
std::string riversGeoJson(const Terrain& terrain);

// The terrain's statistics as a JSON object, its lines indented by `indent` blanks, for the
// statistics document's "terrain" member:
//   land, lake, river, sea   {"cells", "percent"} of the map, each class of the terrain file
//   highest, deepest         {"metres", "x", "y"}, null when there is no land (no sea)
//   rivers                   {"count", "highestOrder", "longest"}: longest in cells, from a source
//                            to the sea or a lake
//   lakes                    {"count", "cells", "largest", "closed", "list"}: list holds each
//                            lake's {"cells", "surface", "deepest", "outlet": [x, y]}
//   basins                   {"count", "largest", "ofAtLeast1000"}: the land draining into the
//                            sea through each coastal cell
std::string terrainStatsJson(const Terrain& terrain, int indent = 2);

}  // namespace orv
