// The terrain's files read back by other programs' readers: the .npy grids, the 16-bit PNG by
// libpng (against the .npy), the rivers by a JSON parser (every point on a river cell), the
// statistics, and the atlas' colours at cells whose colour is known.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "SyntheticWorld.hpp"
#include "terrain/Atlas.hpp"
#include "terrain/TerrainFiles.hpp"
#include "tests/ExportSupport.hpp"
#include "tests/Session.hpp"

namespace orv::test {
namespace {

const TextChunks kTexts = {{"Software", "orvandel-batch 9.9.9"}, {"Orvandel seed", "5"}};

template <class Write>
std::string written(const std::filesystem::path& path, Write write) {
    SafeFile file(path);
    EXPECT_FALSE(write(file));
    EXPECT_TRUE(file.commit());
    return readBytes(path);
}

// The data of a .npy file after checking its header's type and shape.
std::string npyData(const std::string& bytes, const std::string& descr, int width, int height) {
    EXPECT_EQ(bytes.substr(0, 8), std::string("\x93NUMPY\x01\x00", 8));
    const std::size_t length =
        std::size_t{static_cast<unsigned char>(bytes[8])} | std::size_t{static_cast<unsigned char>(bytes[9])} << 8;
    const std::string header = bytes.substr(10, length);
    EXPECT_EQ((10 + length) % 64, 0u);
    EXPECT_NE(header.find("'descr': '" + descr + "'"), std::string::npos) << header;
    EXPECT_NE(header.find("'shape': (" + std::to_string(height) + ", " + std::to_string(width) + ")"),
              std::string::npos);
    return bytes.substr(10 + length);
}

class TerrainFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        world_ = new SyntheticWorld(syntheticWorld(11, 240, 160, false));
        terrain_ = new Terrain(makeTerrain(world_->world(), world_->classRows(), TerrainOptions{70, 80, false}));
    }
    static void TearDownTestSuite() {
        delete terrain_;
        delete world_;
    }
    static inline SyntheticWorld* world_ = nullptr;
    static inline Terrain* terrain_ = nullptr;
    TempDir dir_;
};

TEST_F(TerrainFiles, HeightsAsNpyAndAs16BitPngAgree) {
    const Terrain& t = *terrain_;
    for (int metres = -8000; metres <= 8000; ++metres) ASSERT_EQ(greyHeight(heightGrey(metres)), metres);
    EXPECT_EQ(heightGrey(-8000), 0);
    EXPECT_EQ(heightGrey(0), 32768);
    EXPECT_EQ(heightGrey(8000), 65535);
    const std::string npy = npyData(written(dir_.path() / "h.npy", [&](SafeFile& f) { return writeHeightsNpy(f, t); }),
                                    "<i2", t.width, t.height);
    ASSERT_EQ(npy.size(), t.heights.size() * 2);
    written(dir_.path() / "h.png", [&](SafeFile& f) { return writeHeightsPng(f, t, kTexts); });
    const std::optional<DecodedPng> png = decodePng(dir_.path() / "h.png");
    ASSERT_TRUE(png);
    EXPECT_EQ(png->bitDepth, 16);
    EXPECT_EQ(png->colorType, 0);
    EXPECT_EQ(png->texts, kTexts);
    ASSERT_EQ(png->samples.size(), npy.size());
    for (std::size_t i = 0; i < t.heights.size(); ++i) {
        const auto stored = static_cast<std::int16_t>(static_cast<unsigned char>(npy[2 * i]) |
                                                      static_cast<unsigned char>(npy[2 * i + 1]) << 8);
        ASSERT_EQ(stored, t.heights[i]) << i;
        const auto grey = static_cast<std::uint16_t>(png->samples[2 * i] << 8 | png->samples[2 * i + 1]);
        ASSERT_EQ(greyHeight(grey), stored) << i;
    }
    // A directory is refused, as by every writer.
    SafeFile directory(dir_.path());
    EXPECT_TRUE(writeHeightsPng(directory, t, kTexts));
}

TEST_F(TerrainFiles, TerrainClassesAsNpy) {
    const Terrain& t = *terrain_;
    const std::string npy = npyData(written(dir_.path() / "t.npy", [&](SafeFile& f) { return writeTerrainNpy(f, t); }),
                                    "|u1", t.width, t.height);
    ASSERT_EQ(npy.size(), t.heights.size());
    std::vector<std::int64_t> counts(4, 0);
    for (std::size_t i = 0; i < npy.size(); ++i) {
        ASSERT_EQ(npy[i], static_cast<char>(t.drainage.terrainAt(i))) << i;
        ++counts[static_cast<std::size_t>(npy[i])];
        ASSERT_EQ(npy[i] == kTerrainSea, t.heights[i] <= 0) << i;
    }
    EXPECT_GT(counts[kTerrainLake] * counts[kTerrainRiver] * counts[kTerrainLand], 0);
}

TEST_F(TerrainFiles, RiversAsGeoJsonOnRiverCells) {
    const Terrain& t = *terrain_;
    // Written in pieces that begin the whole text; after a piece fails, nothing more is tried.
    const std::string text = riversGeoJson(t);
    struct FullDisk : ByteSink {
        std::string pieces;
        int calls = 0;
        bool write(const void* data, std::size_t size) override {
            pieces.append(static_cast<const char*>(data), size);
            ++calls;
            return false;
        }
        std::error_code error() const override { return std::make_error_code(std::errc::no_space_on_device); }
    } file;
    EXPECT_EQ(writeRiversGeoJson(file, t), std::errc::no_space_on_device);
    ASSERT_GT(text.size(), file.pieces.size());
    EXPECT_EQ(text.compare(0, file.pieces.size(), file.pieces), 0);
    EXPECT_EQ(file.calls, 1);
    const nlohmann::json json = nlohmann::json::parse(text);
    EXPECT_EQ(json["type"], "FeatureCollection");
    ASSERT_EQ(json["features"].size(), t.rivers.size());
    ASSERT_FALSE(t.rivers.empty());
    const auto river = [&t](double x, double y) {
        const auto cell = [&t](double c, int size) {
            return static_cast<int>(std::fmod(std::fmod(c, size) + size, size));
        };
        return t.drainage.terrainAt(static_cast<std::size_t>(cell(y, t.height)) * static_cast<std::size_t>(t.width) +
                                    static_cast<std::size_t>(cell(x, t.width))) == kTerrainRiver;
    };
    std::size_t id = 0, toLakes = 0;
    for (const nlohmann::json& feature : json["features"]) {
        EXPECT_EQ(feature["type"], "Feature");
        EXPECT_EQ(feature["id"], id);
        EXPECT_EQ(feature["geometry"]["type"], "LineString");
        const nlohmann::json& points = feature["geometry"]["coordinates"];
        ASSERT_GE(points.size(), 2u);
        for (std::size_t k = 0; k < points.size(); ++k) {
            const double x = points[k][0], y = points[k][1];
            // On a river cell, or on the edge of one (where a river meets the water).
            bool on = false;
            for (const double dx : {-0.25, 0.0, 0.25})
                for (const double dy : {-0.25, 0.0, 0.25}) on = on || river(x + dx, y + dy);
            EXPECT_TRUE(on) << id << ": " << x << ", " << y;
            if (k > 0) {
                // No jumps, across the map's edge included.
                EXPECT_LE(std::abs(x - static_cast<double>(points[k - 1][0])), 1.0);
                EXPECT_LE(std::abs(y - static_cast<double>(points[k - 1][1])), 1.0);
            }
        }
        const River& r = t.rivers[id];
        const nlohmann::json& p = feature["properties"];
        EXPECT_EQ(p["order"], r.order);
        EXPECT_DOUBLE_EQ(p["length"], r.length);
        if (r.reaches < 0) {
            EXPECT_EQ(p["endsIn"], "sea");
        } else {
            EXPECT_EQ(p["endsIn"], r.reaches);
            ++toLakes;
        }
        EXPECT_EQ(p["joins"].is_null(), r.end != River::End::river);
        EXPECT_EQ(p["fromLake"].is_null(), r.fromLake < 0);
        ++id;
    }
    EXPECT_GT(toLakes, 0u);
}

TEST_F(TerrainFiles, StatisticsAddUp) {
    const Terrain& t = *terrain_;
    const nlohmann::json json = nlohmann::json::parse("{\"terrain\": " + terrainStatsJson(t) + "}")["terrain"];
    std::int64_t cells = 0;
    for (const char* name : {"land", "lake", "river", "sea"}) cells += json[name]["cells"].get<std::int64_t>();
    EXPECT_EQ(cells, static_cast<std::int64_t>(t.heights.size()));
    EXPECT_EQ(json["highest"]["metres"], *std::max_element(t.heights.begin(), t.heights.end()));
    EXPECT_EQ(json["deepest"]["metres"], *std::min_element(t.heights.begin(), t.heights.end()));
    for (const char* end : {"highest", "deepest"}) {
        const int x = json[end]["x"], y = json[end]["y"];
        EXPECT_EQ(t.heights[static_cast<std::size_t>(y * t.width + x)], json[end]["metres"]) << end;
    }
    EXPECT_EQ(json["lakes"]["count"], t.drainage.lakes.size());
    EXPECT_EQ(json["lakes"]["list"].size(), t.drainage.lakes.size());
    EXPECT_EQ(json["rivers"]["count"], t.rivers.size());
    EXPECT_GT(json["basins"]["count"].get<int>(), 0);
    EXPECT_GT(json["rivers"]["longest"].get<double>(), 1.0);
}

TEST_F(TerrainFiles, AtlasColoursAtKnownCells) {
    const Terrain& t = *terrain_;
    written(dir_.path() / "a.png", [&](SafeFile& f) { return writeAtlasPng(f, t, kTexts); });
    const std::optional<DecodedPng> png = decodePng(dir_.path() / "a.png");
    ASSERT_TRUE(png);
    EXPECT_EQ(png->colorType, 2);
    EXPECT_EQ(png->texts, kTexts);
    const auto color = [&png](std::size_t i) {
        const std::uint8_t* p = png->samples.data() + 3 * i;
        return static_cast<std::uint32_t>(p[0]) << 16 | static_cast<std::uint32_t>(p[1]) << 8 | p[2];
    };
    const auto w = static_cast<std::size_t>(t.width), rows = static_cast<std::size_t>(t.height), n = t.heights.size();
    int flat = 0, largeRivers = 0, streams = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t c = color(i);
        switch (t.drainage.terrainAt(i)) {
            case kTerrainSea:
                ASSERT_EQ(c, seaTint(-t.heights[i])) << i;
                ASSERT_GT(c & 0xFF, c >> 16) << "bluer than red at " << i;
                break;
            case kTerrainLake:
                ASSERT_EQ(c, kAtlasLake) << i;
                break;
            case kTerrainRiver:
                // Larger rivers in full, the smallest streams a blue shade of their valley.
                if (t.drainage.orderAt(i) >= 3) {
                    ASSERT_EQ(c, kAtlasRiver) << i;
                    ++largeRivers;
                } else {
                    ASSERT_NE(c, kAtlasRiver) << i;
                    ASSERT_GT(c & 0xFF, c >> 16) << "bluer than red at " << i;
                    ++streams;
                }
                break;
            case kTerrainLand: {
                // Where the land is level the light changes nothing; lit slopes are brighter.
                const auto h = [&](std::size_t j) { return std::max<int>(0, t.heights[j]); };
                const std::size_t x = i % w, y = i / w;
                const std::size_t left = y * w + (x + w - 1) % w, right = y * w + (x + 1) % w;
                const std::size_t up = (y + rows - 1) % rows * w + x, down = (y + 1) % rows * w + x;
                const int facing = h(right) - h(left) + h(down) - h(up);
                const std::uint32_t tint = landTint(t.heights[i]);
                if (facing == 0) {
                    ASSERT_EQ(c, tint) << i;
                    ++flat;
                }
                if (facing > 0) {
                    ASSERT_GE(c >> 8 & 0xFF, tint >> 8 & 0xFF) << i;
                }
                if (facing < 0) {
                    ASSERT_LE(c >> 8 & 0xFF, tint >> 8 & 0xFF) << i;
                }
                break;
            }
        }
    }
    EXPECT_GT(flat, 0);
    EXPECT_GT(largeRivers, 0);
    EXPECT_GT(streams, 0);
    // Lowland green, snow white, shallows pale and the deep sea dark.
    const auto channel = [](std::uint32_t c, int shift) { return static_cast<int>(c >> shift & 0xFF); };
    EXPECT_GT(channel(landTint(10), 8), channel(landTint(10), 16));
    EXPECT_GT(channel(landTint(10), 8), channel(landTint(10), 0));
    EXPECT_GE(channel(landTint(6000), 0), 240);
    EXPECT_GT(channel(seaTint(10), 16) + channel(seaTint(10), 8),
              2 * (channel(seaTint(5000), 16) + channel(seaTint(5000), 8)));
}

}  // namespace
}  // namespace orv::test
