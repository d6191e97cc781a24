#pragma once

// Orvandel as a library: maps of land and water grown by a seeded cellular automaton, and worlds
// of continents, made inside your own program. This is the one public header; link
// Orvandel::orvandel (CMake) or `pkg-config --libs orvandel`.
//
//     orvandel::Settings settings;                          // the presets, 400 x 400
//     orvandel::Map map = orvandel::Map::generate(settings, 42);
//     map.write("png", "map.png");                         // the picture, with its recipe
//
// A map is fixed by its settings, its seed and the number of generations drawn: the same three
// give the same map, pixel for pixel, on every build, processor and thread count, and in every
// Orvandel program (the window program stopped after that many generations draws it too).
// A new major version (ORVANDEL_VERSION_MAJOR) may make other maps from the same three; the
// library's names live in an inline namespace of the major version, so that programs built
// against one major version never link against another by mistake.
//
// Errors are exceptions: orvandel::Error (a std::invalid_argument) for input that can make no
// map, orvandel::FileError (a std::system_error) for a file that cannot be read or written,
// orvandel::Cancelled when a progress hook stops a run; std::bad_alloc when a map does not fit in
// memory. Nothing is changed silently: the settings the library has to adjust to make a map (a
// size beyond 1 .. 65536, a negative margin, a world key beyond its range) are listed by
// Settings::adjustments() before and by Map::adjustments() after.
//
// Threads: every object is independent of every other, so separate maps may be made, read and
// written on separate threads at once. The const members of one Map may be called from several
// threads at once too. A Settings object is a plain value.
//
// The header needs C++17.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <orvandel/version.hpp>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

// What the library exports: in a shared library, these names and nothing else.
#if defined(__GNUC__)
#define ORVANDEL_API __attribute__((visibility("default")))
#else
#define ORVANDEL_API
#endif

namespace orvandel {
inline namespace ORVANDEL_ABI_NAMESPACE {

// The version of the library that is running, "MAJOR.MINOR.PATCH", and as a number
// (MAJOR * 10000 + MINOR * 100 + PATCH): compare them with ORVANDEL_VERSION_STRING and
// ORVANDEL_VERSION_NUMBER, the version the program was compiled against.
ORVANDEL_API std::string version();
ORVANDEL_API int versionNumber();

// The largest width and height of a map, in cells.
inline constexpr std::int32_t maxMapSide = 65536;

// Input that can make no map: an unknown settings key, a value that holds no number, a seed or
// a number of generations out of range, an unknown output. what() says which.
class ORVANDEL_API Error : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// A file that cannot be read or written: code() tells why (an errno value, or the reader's and
// writer's own reasons), what() names the file and the reason.
class ORVANDEL_API FileError : public std::system_error {
public:
    FileError(std::error_code code, const std::string& what)
        : std::system_error(code), what_(std::make_shared<const std::string>(what)) {}
    // The text given, as it is (std::system_error's own would add the reason a second time).
    const char* what() const noexcept override { return what_->c_str(); }

private:
    std::shared_ptr<const std::string> what_;
};

// A run stopped by its progress hook (MapOptions::progress returned false).
class ORVANDEL_API Cancelled : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A setting the library changed so that a map can be made.
struct Adjustment {
    std::string key;
    std::int32_t from = 0;
    std::int32_t to = 0;

    // "xsize 70000 is out of range; using 65536"
    ORVANDEL_API std::string message() const;
};

// All parameters of a map: signed 32-bit integers named by the keys of a settings file
// (landcolor, xsize, downupflow, ...; keys() lists them in the file's order). The map's size is
// xsize x ysize. continents above 0 (1 .. 16) makes a world of that many continents: land
// masses and a sea grown before the first generation, shaped by landshare, coastroughness and
// islands, the sea drawn in seacolor (-1: light blue, apart from the lakes); continents 0, the
// preset, makes the classic map.
class ORVANDEL_API Settings {
public:
    // The presets on a 400 x 400 map.
    Settings();
    static Settings presets() { return Settings(); }

    // The presets changed by the text of a settings file, by a settings file's rules (items
    // key=value on lines or between commas, any letter case, "&h" numbers, ...): unknown keys
    // and values without a number pass as they do in a file (a value without one is 0).
    static Settings fromText(std::string_view text);
    // The same for a settings file (a regular file of at most 16 MiB). Throws FileError.
    static Settings fromFile(const std::filesystem::path& path);
    // The presets changed by key/value pairs, in order, each as set(key, value) takes it.
    static Settings fromPairs(const std::vector<std::pair<std::string, std::string>>& pairs);

    // One setting by its key (any letter case, blanks around it ignored), the value read as a
    // settings file reads a number ("12", "-3", "&hFF"). Throws Error for an unknown key or a
    // value that holds no number.
    Settings& set(std::string_view key, std::string_view value);
    Settings& set(std::string_view key, std::int32_t value);
    // One line of a settings file: "key=value", or several such items between commas. Throws
    // Error for an item without "=", an unknown key or a value that holds no number.
    Settings& apply(std::string_view line);
    // The map size, as xsize and ysize (a side outside 1 .. maxMapSide is an adjustment).
    Settings& size(std::int32_t width, std::int32_t height);

    // One setting by its key. Throws Error for an unknown key.
    std::int32_t get(std::string_view key) const;
    std::int32_t width() const { return get("xsize"); }
    std::int32_t height() const { return get("ysize"); }
    // Every setting, key and value, in the order of keys().
    std::vector<std::pair<std::string, std::int32_t>> items() const;
    // The keys, in the order a settings file is matched against them.
    static std::vector<std::string> keys();
    // The settings as a settings file: one key=value a line, every key.
    std::string text() const;

    // What making a map would change: xsize and ysize into 1 .. 65536, a negative
    // oceanedgesizex or oceanedgesizey to 0, the world's keys into their ranges. Empty when the
    // settings are used as they are.
    std::vector<Adjustment> adjustments() const;

    friend bool operator==(const Settings& a, const Settings& b) { return a.values_ == b.values_; }
    friend bool operator!=(const Settings& a, const Settings& b) { return !(a == b); }

private:
    friend struct SettingsAccess;       // the library's own
    std::vector<std::int32_t> values_;  // in the order of keys()
};

// Where a run has got to: generations computed so far, and the most there will be (those drawn
// and the one after them that the statistics are counted from).
struct Progress {
    std::int64_t generation = 0;
    std::int64_t generations = 0;
};

// How a map is made, beyond its settings and seed.
struct MapOptions {
    std::int64_t generations = 100;  // how many generations are drawn; with untilSettled, the most
    // Stop at the first generation from which the picture no longer changes: maps whose flows
    // are left to chance never settle.
    bool untilSettled = false;
    int threads = 0;  // how many threads may share a large map's work; 0: up to two
    // Told after every generation; returning false stops the run, and Map::generate throws
    // Cancelled. Called on the thread that called generate.
    std::function<bool(const Progress&)> progress = nullptr;
};

// The class of a cell as its colour in the picture tells it: whether the last generation drawn
// changed it (to water or to land) or left it as it was, or a world's sea, which never changes.
enum class CellClass : std::uint8_t { changedToWater = 0, changedToLand = 1, unchanged = 2, sea = 3 };

// A cell of a world's terrain: the sea, a lake, a river, or other land.
enum class TerrainClass : std::uint8_t { sea = 0, lake = 1, river = 2, land = 3 };

// How many cells of the map each class holds, and their shares in per cent.
#if defined(__GNUC__)
// The deprecated names are set by the library and copied with the rest without a warning; only
// a use of them in a program's own code warns.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
struct Statistics {
    std::int64_t cells = 0;
    std::int64_t changedToWater = 0;  // changed in the last generation drawn, now water
    std::int64_t changedToLand = 0;   // changed in the last generation drawn, now land
    std::int64_t unchanged = 0;       // left as they were by the last generation (the sea apart)
    std::int64_t sea = 0;             // a world's sea (0 on a classic map)
    double changedToWaterPercent = 0;
    double changedToLandPercent = 0;
    double unchangedPercent = 0;
    double seaPercent = 0;
    // The names of version 1.0.
    [[deprecated("use changedToWater")]] std::int64_t water = 0;
    [[deprecated("use changedToLand")]] std::int64_t land = 0;
    [[deprecated("use changedToWaterPercent")]] double waterPercent = 0;
    [[deprecated("use changedToLandPercent")]] double landPercent = 0;
};
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

// One map, as it was drawn after its generations. A Map owns everything it hands out; it can be
// moved, not copied, and moving it keeps the data of classes() and rgba() where it is.
class ORVANDEL_API Map {
public:
    // Makes a map from settings (adjusted as settings.adjustments() says) and a seed: any signed
    // 32-bit number but 0 and -1, or 0 for a seed from the clock (seed() then tells it, and
    // gives the same map again). Throws Error for -1 (a seed from the clock's bit pattern, which
    // could never be given again), a seed beyond the 32-bit range or fewer than 0 generations,
    // Cancelled when options.progress stops the run.
    static Map generate(const Settings& settings, std::int64_t seed, const MapOptions& options = {});

    Map(Map&& other) noexcept;
    Map& operator=(Map&& other) noexcept;
    ~Map();

    int width() const;
    int height() const;
    // The seed the map was made from: the one given, or the one the clock gave. 0 when the
    // settings turn the seed off (random1 is not 1: then every map of these settings is the same).
    std::int32_t seed() const;
    bool seedFromClock() const;
    bool seedUsed() const;
    // The generations drawn, and those computed (one more: the statistics come from it).
    std::int64_t generations() const;
    std::int64_t cycles() const;
    // The last generation computed changed no cell.
    bool stable() const;
    // The picture no longer changes from drawn generation settledAt() on (see MapOptions).
    bool settled() const;
    std::optional<std::int64_t> settledAt() const;

    // The settings the map was made from, adjusted: with the same seed and generations they make
    // the same map again.
    const Settings& settings() const;
    // The settings as the run left them (randratio drawn when it was 0, landwaterratio as the
    // erosion table left it): those of the statistics.
    const Settings& settingsUsed() const;
    // What the library changed in the settings given (see Settings::adjustments).
    const std::vector<Adjustment>& adjustments() const;
    // Everything worth telling of how the map was made, one line each: the adjustments, and that
    // no seed was used when the settings turn it off.
    std::vector<std::string> warnings() const;

    Statistics statistics() const;
    // A world's land masses (the cells outside its sea, joined to their eight neighbours across
    // the wrap-around on both axes): their cells, largest first. Empty for a classic map.
    const std::vector<std::int64_t>& landMasses() const;
    // The statistics as a JSON document (the "stats" output).
    std::string statsJson() const;

    // The cells' classes, width() x height() bytes, rows top first, each a CellClass (unchanged
    // everywhere when no generation was drawn). Made on first use and kept while the map lives.
    const std::vector<std::uint8_t>& classes() const;
    // The picture, width() x height() pixels of 4 bytes, R, G, B and A, rows top first: the PNG's
    // pixels. Made on first use and kept while the map lives.
    const std::vector<std::uint8_t>& rgba() const;

    // A world's terrain (continents above 0), made on first use and kept while the map lives;
    // Error for a classic map. Every array is width() x height(), rows top first.
    // The heights in metres, -8000 .. 8000: land above 0, sea below.
    const std::vector<std::int16_t>& heights() const;
    // Land and water, each a TerrainClass.
    const std::vector<std::uint8_t>& terrain() const;
    // The atlas: colours by height, hills lit from the north-west, the sea shaded by depth,
    // rivers and lakes in blue; 4 bytes a pixel, R, G, B and A (255).
    const std::vector<std::uint8_t>& atlas() const;

    // The outputs a map can be written as, by name: "png" (the picture, with the recipe that
    // makes it again in its text chunks), "stats" (the statistics as JSON), "grid" (the classes
    // as a NumPy .npy file, uint8, height x width), a world's "height" (metres: int16 .npy, or
    // 16-bit grey .png when the name ends in .png), "terrain" (TerrainClass .npy), "atlas" (PNG)
    // and "rivers" (GeoJSON), and any later ones. A world's outputs of a classic map are Error.
    static std::vector<std::string> outputs();
    // What an output holds, in one line; Error for an unknown output.
    static std::string describeOutput(std::string_view output);
    // Writes an output to a file, by the output rules: a file is replaced only by a whole new
    // one (keeping its permission bits); a symbolic link's target is replaced, the link kept; a
    // FIFO or device is written into; a directory is refused. Throws FileError, or Error for an
    // unknown output.
    void write(std::string_view output, const std::filesystem::path& path) const;
    // The same into a stream (FileError with std::errc::io_error when it fails), or handed to a
    // function piece by piece (returning false refuses the rest: FileError with
    // std::errc::operation_canceled).
    void write(std::string_view output, std::ostream& out) const;
    void write(std::string_view output, const std::function<bool(const void* data, std::size_t size)>& sink) const;
    // write("png", path), write("grid", path) and write("stats", path).
    void writePng(const std::filesystem::path& path) const;
    void writeGrid(const std::filesystem::path& path) const;
    void writeStats(const std::filesystem::path& path) const;

private:
    struct State;
    explicit Map(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace ORVANDEL_ABI_NAMESPACE
}  // namespace orvandel
