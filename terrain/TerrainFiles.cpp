#include "terrain/TerrainFiles.hpp"

#include <algorithm>
#include <charconv>
#include <sstream>
#include <utility>

#include "io/NpyFile.hpp"
#include "io/PngStream.hpp"
#include "io/PngWriter.hpp"
#include "settings/NumberText.hpp"
#include "terrain/Atlas.hpp"

namespace orv {
namespace {

// The shortest text that reads back as the same double.
std::string number(double v) {
    return shortestText(v);
}

std::error_code finishPng(ByteSink& file, PngStreamWriter& png) {
    if (png.finish()) return {};
    return file.ok() ? make_error_code(PngError::compressFailed) : file.error();
}

}  // namespace

std::uint16_t heightGrey(int metres) {
    const std::int64_t m = std::clamp(metres, -8000, 8000) + 8000;
    return static_cast<std::uint16_t>((m * 65535 + 8000) / 16000);
}

int greyHeight(std::uint16_t grey) {
    return static_cast<int>((std::int64_t{grey} * 16000 + 32767) / 65535) - 8000;
}

std::error_code writeHeightsNpy(ByteSink& file, const Terrain& t) {
    const std::string header =
        npyHeader(static_cast<std::uint64_t>(t.height), static_cast<std::uint64_t>(t.width), "<i2");
    bool ok = file.write(header.data(), header.size());
    std::vector<std::uint8_t> row(static_cast<std::size_t>(t.width) * 2);
    for (int y = 0; y < t.height && ok; ++y) {
        const std::int16_t* h = t.heights.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(t.width);
        for (std::size_t x = 0; x < static_cast<std::size_t>(t.width); ++x) {
            const auto v = static_cast<std::uint16_t>(h[x]);
            row[2 * x] = static_cast<std::uint8_t>(v);
            row[2 * x + 1] = static_cast<std::uint8_t>(v >> 8);
        }
        ok = file.write(row.data(), row.size());
    }
    return file.error();
}

std::error_code writeHeightsPng(ByteSink& file, const Terrain& t, const TextChunks& texts) {
    if (!file.ok()) return file.error();
    PngStreamWriter png(file, static_cast<std::uint32_t>(t.width), static_cast<std::uint32_t>(t.height),
                        PngStreamWriter::Samples::grey16, PngStreamWriter::Filter::up);
    for (const auto& [keyword, text] : texts) png.writeText(keyword, text);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(t.width) * 2);
    for (int y = 0; y < t.height && png.ok(); ++y) {
        const std::int16_t* h = t.heights.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(t.width);
        for (std::size_t x = 0; x < static_cast<std::size_t>(t.width); ++x) {
            const std::uint16_t grey = heightGrey(h[x]);
            row[2 * x] = static_cast<std::uint8_t>(grey >> 8);
            row[2 * x + 1] = static_cast<std::uint8_t>(grey);
        }
        png.writeRowBytes(row.data());
    }
    return finishPng(file, png);
}

std::error_code writeTerrainNpy(ByteSink& file, const Terrain& t) {
    const std::string header = npyHeader(static_cast<std::uint64_t>(t.height), static_cast<std::uint64_t>(t.width));
    bool ok = file.write(header.data(), header.size());
    std::vector<std::uint8_t> row(static_cast<std::size_t>(t.width));
    for (int y = 0; y < t.height && ok; ++y) {
        const std::size_t first = static_cast<std::size_t>(y) * row.size();
        for (std::size_t x = 0; x < row.size(); ++x) row[x] = t.drainage.terrainAt(first + x);
        ok = file.write(row.data(), row.size());
    }
    return file.error();
}

std::error_code writeAtlasPng(ByteSink& file, const Terrain& t, const TextChunks& texts) {
    if (!file.ok()) return file.error();
    PngStreamWriter png(file, static_cast<std::uint32_t>(t.width), static_cast<std::uint32_t>(t.height),
                        PngStreamWriter::Samples::rgb8, PngStreamWriter::Filter::up);
    for (const auto& [keyword, text] : texts) png.writeText(keyword, text);
    const AtlasPainter painter(t.heights, t.drainage);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(t.width) * 3);
    for (int y = 0; y < t.height && png.ok(); ++y) {
        painter.paintRow(y, row.data());
        png.writeRowBytes(row.data());
    }
    return finishPng(file, png);
}

std::error_code writeRiversGeoJson(ByteSink& sink, const Terrain& t) {
    // Written a few features at a time: the whole text of a large world's rivers is a byte or
    // two a cell.
    constexpr std::size_t kChunk = std::size_t{1} << 16;
    std::string out = "{\"type\": \"FeatureCollection\", \"features\": [";
    out.reserve(2 * kChunk);
    const auto w = static_cast<std::uint32_t>(t.width);
    auto point = [&out](double x, double y) {
        out += '[';
        out += number(x);
        out += ", ";
        out += number(y);
        out += ']';
    };
    for (std::size_t r = 0; r < t.rivers.size(); ++r) {
        if (out.size() >= kChunk) {
            if (!sink.write(out.data(), out.size())) return sink.error();
            out.clear();
        }
        const River& river = t.rivers[r];
        out += r == 0 ? "\n" : ",\n";
        out += "{\"type\": \"Feature\", \"id\": " + std::to_string(r) +
               ", \"geometry\": {\"type\": \"LineString\", \"coordinates\": [";
        // The first cell where it is, the rest by their steps, so that the line runs on across
        // the map's edge.
        double x = static_cast<double>(river.cells[0] % w) + 0.5, y = static_cast<double>(river.cells[0] / w) + 0.5;
        if (river.fromLake >= 0) {
            point(x + 0.5 * kDirectionX[river.firstStep], y + 0.5 * kDirectionY[river.firstStep]);
            out += ", ";
        }
        for (std::size_t k = 0; k < river.cells.size(); ++k) {
            point(x, y);
            out += ", ";
            const int step = river.steps[k];
            const double part = k + 1 < river.cells.size() || river.end == River::End::river ? 1.0 : 0.5;
            x += part * kDirectionX[step];
            y += part * kDirectionY[step];
        }
        point(x, y);
        out += "]}, \"properties\": {\"order\": " + std::to_string(river.order) +
               ", \"length\": " + number(river.length) +
               ", \"endsIn\": " + (river.reaches < 0 ? std::string("\"sea\"") : std::to_string(river.reaches)) +
               ", \"joins\": " + (river.end == River::End::river ? std::to_string(river.into) : std::string("null")) +
               ", \"fromLake\": " + (river.fromLake >= 0 ? std::to_string(river.fromLake) : std::string("null")) + "}}";
    }
    out += "\n]}\n";
    sink.write(out.data(), out.size());
    return sink.error();
}

std::string riversGeoJson(const Terrain& t) {
    StringSink text;
    writeRiversGeoJson(text, t);
    return std::move(text.bytes);
}

std::string terrainStatsJson(const Terrain& t, int indent) {
    const TerrainSummary& s = t.summary;
    const std::string pad(static_cast<std::size_t>(indent), ' ');
    const auto share = [&s](std::int64_t count) {
        return number(static_cast<double>(count * 100) / static_cast<double>(std::max<std::int64_t>(1, s.cells)));
    };
    const std::int64_t land = s.cells - s.classCells[kTerrainSea];
    std::ostringstream json;
    json << "{\n";
    static constexpr const char* kNames[4] = {"sea", "lake", "river", "land"};
    for (int c : {kTerrainLand, kTerrainLake, kTerrainRiver, kTerrainSea})
        json << pad << "  \"" << kNames[c] << "\": {\"cells\": " << s.classCells[c]
             << ", \"percent\": " << share(s.classCells[c]) << "},\n";
    json << pad << "  \"highest\": ";
    if (land > 0)
        json << "{\"metres\": " << s.highest << ", \"x\": " << s.highestX << ", \"y\": " << s.highestY << "}";
    else
        json << "null";
    json << ",\n" << pad << "  \"deepest\": ";
    if (s.classCells[kTerrainSea] > 0)
        json << "{\"metres\": " << s.deepest << ", \"x\": " << s.deepestX << ", \"y\": " << s.deepestY << "}";
    else
        json << "null";
    json << ",\n";
    json << pad << "  \"rivers\": {\"count\": " << s.riverCount << ", \"highestOrder\": " << s.highestOrder
         << ", \"longest\": " << number(s.longestRiver) << "},\n";
    const auto w = static_cast<std::uint32_t>(t.width);
    json << pad << "  \"lakes\": {\"count\": " << s.lakeCount << ", \"cells\": " << s.classCells[kTerrainLake]
         << ", \"largest\": " << s.largestLake << ", \"closed\": " << s.closedLakes << ", \"list\": [";
    for (std::size_t k = 0; k < t.drainage.lakes.size(); ++k) {
        const Lake& lake = t.drainage.lakes[k];
        json << (k ? ", " : "") << "{\"cells\": " << lake.cells << ", \"surface\": " << lake.surface
             << ", \"deepest\": " << lake.deepest << ", \"outlet\": [" << lake.outlet % w << ", " << lake.outlet / w
             << "]}";
    }
    json << "]},\n";
    json << pad << "  \"basins\": {\"count\": " << s.basinCount << ", \"largest\": " << s.largestBasin
         << ", \"ofAtLeast1000\": " << s.basinsOf1000 << "}\n";
    json << pad << "}";
    return json.str();
}

}  // namespace orv
