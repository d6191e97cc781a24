// Maps pinned by results kept in tests/golden/: whole sessions (report rows and a digest of the
// saved map's pixels) and batch runs (a digest of the PNG's pixels and its statistics). The
// expected files were made once and are never rewritten by a plain test run: a difference here
// means the program now makes other maps from the same inputs, which is a breaking change.
// tools/update-golden.sh rewrites them on purpose (ORVANDEL_UPDATE_GOLDEN=1).
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/ExportSupport.hpp"
#include "tests/Session.hpp"

namespace orv::test {
namespace {

namespace fs = std::filesystem;

const fs::path kGolden = fs::path(ORVANDEL_SOURCE_DIR) / "tests" / "golden";

bool updating() {
    const char* value = std::getenv("ORVANDEL_UPDATE_GOLDEN");
    return value != nullptr && std::string(value) == "1";
}

// The SHA-256 of bytes, in hexadecimal.
std::string digestOf(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        static constexpr char kDigits[] = "0123456789abcdef";
        hex += kDigits[digest[i] >> 4];
        hex += kDigits[digest[i] & 15];
    }
    return hex;
}

// "map WxH DIGEST": the picture's size and the SHA-256 of its pixels as R, G, B, A bytes, row by
// row from the top. Decoded pixels, not file bytes: another zlib may pack the same picture
// differently.
std::string pictureLine(const fs::path& png) {
    const std::optional<DecodedPng> picture = decodePng(png);
    if (!picture) return "map unreadable";
    std::string bytes;
    bytes.reserve(picture->pixels.size() * 4);
    for (std::uint32_t p : picture->pixels)
        for (int shift : {16, 8, 0, 24}) bytes.push_back(static_cast<char>(p >> shift));
    return "map " + std::to_string(picture->width) + "x" + std::to_string(picture->height) + " " + digestOf(bytes);
}

// The cases of one kind: the names of the files in tests/golden/KIND with the given extension.
std::vector<std::string> cases(const std::string& kind, const std::string& extension) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(kGolden / kind))
        if (entry.path().extension() == extension) names.push_back(entry.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Compares a result with its expected file, or writes the file when asked to.
void checkOrUpdate(const fs::path& expectedFile, const std::string& actual) {
    if (updating()) {
        writeBytes(expectedFile, actual);
        return;
    }
    ASSERT_TRUE(fs::exists(expectedFile)) << expectedFile << " is missing: tools/update-golden.sh makes it";
    EXPECT_EQ(readBytes(expectedFile), actual) << "in " << expectedFile;
}

// Every member of `expected` is in `actual` with the same value; members added later are allowed.
void expectContains(const nlohmann::json& expected, const nlohmann::json& actual, const std::string& where) {
    if (!expected.is_object()) {
        EXPECT_EQ(expected, actual) << where;
        return;
    }
    ASSERT_TRUE(actual.is_object()) << where;
    for (const auto& [key, value] : expected.items()) {
        ASSERT_TRUE(actual.contains(key)) << where << "." << key << " is gone";
        expectContains(value, actual[key], where + "." + key);
    }
}

// A session's key script starts with "# clock SECONDS" when the clock matters; its settings
// file, when it has one, is NAME.ini in the directory the session runs in.
TEST(Golden, SessionsGiveTheReportsAndMapsTheyGaveBefore) {
    const std::vector<std::string> names = cases("sessions", ".keys");
    ASSERT_GE(names.size(), 12u);
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const std::string keys = readBytes(kGolden / "sessions" / (name + ".keys"));
        SessionOptions options;
        if (keys.starts_with("# clock ")) options.clockSeconds = std::stod(keys.substr(8));
        TempDir dir;
        options.directory = dir.path();
        if (fs::exists(kGolden / "sessions" / (name + ".ini")))
            fs::copy_file(kGolden / "sessions" / (name + ".ini"), dir.path() / (name + ".ini"));
        const Session s = runSession(keys, options);
        ASSERT_EQ(s.status, 0);
        std::ostringstream actual;
        for (int row = 30; row <= 34; ++row) actual << row << "|" << s.row(row) << "\n";
        actual << pictureLine(dir.path() / "map.png") << "\n";
        checkOrUpdate(kGolden / "sessions" / (name + ".golden"), actual.str());
    }
}

// A batch case is one line of arguments ({golden} stands for tests/golden); the run writes a PNG
// and statistics, whose digest and JSON are kept.
TEST(Golden, BatchRunsGiveTheMapsAndStatisticsTheyGaveBefore) {
    const std::vector<std::string> names = cases("batch", ".args");
    ASSERT_GE(names.size(), 4u);
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        std::string args = readBytes(kGolden / "batch" / (name + ".args"));
        args.erase(args.find_last_not_of("\n") + 1);
        for (std::size_t at; (at = args.find("{golden}")) != std::string::npos;) args.replace(at, 8, kGolden.string());
        TempDir dir;
        const fs::path png = dir.path() / "map.png", json = dir.path() / "map.json";
        ASSERT_EQ(runCommand(std::string(ORVANDEL_BATCH_PATH) + " " + args + " --quiet --out " + png.string() +
                             " --stats " + json.string()),
                  0);
        checkOrUpdate(kGolden / "batch" / (name + ".golden"), pictureLine(png) + "\n");
        const fs::path expectedJson = kGolden / "batch" / (name + ".json");
        if (updating()) {
            writeBytes(expectedJson, readBytes(json));
            continue;
        }
        expectContains(nlohmann::json::parse(readBytes(expectedJson)), nlohmann::json::parse(readBytes(json)), name);
    }
}

// A terrain case is one line of arguments for a world; the digests of its heights, its land and
// water, the atlas' decoded pixels and the rivers' GeoJSON are kept.
TEST(Golden, TerrainGivesTheHeightsAtlasAndRiversItGaveBefore) {
    const std::vector<std::string> names = cases("terrain", ".args");
    ASSERT_GE(names.size(), 2u);
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        std::string args = readBytes(kGolden / "terrain" / (name + ".args"));
        args.erase(args.find_last_not_of("\n") + 1);
        TempDir dir;
        const fs::path h = dir.path() / "h.npy", t = dir.path() / "t.npy", a = dir.path() / "a.png",
                       r = dir.path() / "r.geojson";
        ASSERT_EQ(runCommand(std::string(ORVANDEL_BATCH_PATH) + " " + args + " --quiet --height " + h.string() +
                             " --terrain " + t.string() + " --atlas " + a.string() + " --rivers " + r.string()),
                  0);
        const std::optional<DecodedPng> atlas = decodePng(a);
        ASSERT_TRUE(atlas);
        const std::string actual = "heights " + digestOf(readBytes(h)) + "\nterrain " + digestOf(readBytes(t)) +
                                   "\natlas " + digestOf(std::string(atlas->samples.begin(), atlas->samples.end())) +
                                   "\nrivers " + digestOf(readBytes(r)) + "\n";
        checkOrUpdate(kGolden / "terrain" / (name + ".golden"), actual);
    }
}

}  // namespace
}  // namespace orv::test
