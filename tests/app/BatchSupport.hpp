// What the batch generator's tests share: runs of the batch in a directory of their own, the
// window program's session to hold them to, and readers of the files they write.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/Batch.hpp"
#include "tests/Session.hpp"

namespace orv::test {

// The real program run in a directory of its own.
class BatchHostileRecipes : public testing::Test {
protected:
    TempDir dir;
    std::string program = "cd '" + dir.path().string() + "' && '" ORVANDEL_BATCH_PATH "' ";
};

struct BatchRun {
    int status = -1;
    std::string out, err;
};

inline BatchRun batchArgs(const std::vector<const char*>& args, const TempDir& dir, double clock = 500.5,
                          bool terminal = false, FileSystem& files = realFileSystem()) {
    std::vector<std::string> list;
    for (const char* a : args) {
        std::string arg = a;
        // Relative file arguments are taken inside the test's directory.
        if (!arg.empty() && arg[0] != '-' &&
            (arg.find(".png") != std::string::npos || arg.find(".json") != std::string::npos ||
             arg.find(".ini") != std::string::npos || arg.find(".npy") != std::string::npos ||
             arg.find(".geojson") != std::string::npos))
            arg = (dir.path() / arg).string();
        list.push_back(arg);
    }
    std::string error;
    BatchRun run;
    auto o = parseBatchArguments(list, error);
    if (!o) {
        run.err = error;
        run.status = 2;
        return run;
    }
    std::ostringstream out, err;
    // The clock's reading, and as a seed its whole seconds.
    const BatchClock fixed{[clock] { return clock; }, [clock] { return static_cast<std::int32_t>(clock); }};
    run.status = runBatch(*o, out, err, fixed, terminal, files);
    run.out = out.str();
    run.err = err.str();
    return run;
}

inline BatchRun batch(std::initializer_list<const char*> args, const TempDir& dir, double clock = 500.5,
                      bool terminal = false) {
    return batchArgs(std::vector<const char*>(args), dir, clock, terminal);
}

// The window program's whole session for a settings file (or the presets) and a seed, stopped
// after `generations` drawn generations and saved as saved.png; the report rows come back.
inline Session windowSession(const TempDir& dir, const std::string& settingsFile, const std::string& seed,
                             int generations, bool asksSeed = true) {
    std::string keys =
        settingsFile.empty() ? "key Up\nkey Enter\n" : "key Enter\ntype " + settingsFile + "\nkey Enter\nkey Space\n";
    if (asksSeed) keys += "type " + seed + "\nkey Enter\nkey Space\n";
    keys += "wait " + std::to_string(generations) +
            "\nkey x\nkey x\ntype yes\nkey Enter\ntype saved\nkey Enter\nkey Enter\n";
    return runSession(keys, {.clockSeconds = 500.5, .directory = dir.path()});
}

// The statistics JSON, read by a real JSON parser (a malformed document fails the test).
inline nlohmann::json statsOf(const std::filesystem::path& file) {
    return nlohmann::json::parse(readBytes(file));
}

// A field of one class ("water", "land", "unchanged") as the JSON writes it.
inline std::string jsonField(const std::string& json, const std::string& object, const std::string& field) {
    return nlohmann::json::parse(json).at(object).at(field).dump();
}

// Every regular file under a directory, by its name there: its bytes.
inline std::map<std::string, std::string> filesUnder(const std::filesystem::path& directory) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(directory))
        if (entry.is_regular_file())
            files[std::filesystem::relative(entry.path(), directory).string()] = readBytes(entry.path());
    return files;
}

inline std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// A manifest's lines, each read by a real JSON parser (a malformed line fails the test).
inline std::vector<nlohmann::json> manifestLines(const std::filesystem::path& file) {
    std::vector<nlohmann::json> lines;
    std::istringstream text(readBytes(file));
    for (std::string line; std::getline(text, line);) lines.push_back(nlohmann::json::parse(line));
    return lines;
}

// A .npy file as NumPy reads it: the magic, version 1.0, a header padded to a multiple of 64
// bytes ending in a newline, and the bytes after it.
struct Npy {
    std::string header;
    std::string data;
};

inline std::optional<Npy> readNpy(const std::filesystem::path& path) {
    const std::string bytes = readBytes(path);
    if (bytes.size() < 10 || bytes.compare(0, 8, std::string("\x93NUMPY\x01\x00", 8)) != 0) return std::nullopt;
    const std::size_t length =
        static_cast<std::uint8_t>(bytes[8]) | static_cast<std::size_t>(static_cast<std::uint8_t>(bytes[9])) << 8;
    if (bytes.size() < 10 + length || (10 + length) % 64 != 0 || bytes[9 + length] != '\n') return std::nullopt;
    return Npy{bytes.substr(10, length), bytes.substr(10 + length)};
}

// A PNG's bytes with raw chunks put in after its IHDR: a recipe as a hostile file may hold one.
inline std::string withChunks(std::string png, const std::vector<std::pair<std::string, std::string>>& chunks) {
    std::string raw;
    for (const auto& [type, data] : chunks) {
        const auto length = static_cast<std::uint32_t>(data.size());
        for (int shift = 24; shift >= 0; shift -= 8) raw += static_cast<char>(length >> shift);
        const std::string body = type + data;
        raw += body;
        const auto crc = static_cast<std::uint32_t>(
            crc32(0L, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size())));
        for (int shift = 24; shift >= 0; shift -= 8) raw += static_cast<char>(crc >> shift);
    }
    return png.insert(33, raw);
}

inline std::string deflated(const std::string& text) {
    uLongf size = compressBound(static_cast<uLong>(text.size()));
    std::string packed(size, '\0');
    compress(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(text.data()),
             static_cast<uLong>(text.size()));
    packed.resize(size);
    return packed;
}

// The real program, as a hostile user runs it.
class BatchHostile : public testing::Test {
protected:
    TempDir dir;
    std::string program = "cd '" + dir.path().string() + "' && '" ORVANDEL_BATCH_PATH "' ";
};

}  // namespace orv::test
