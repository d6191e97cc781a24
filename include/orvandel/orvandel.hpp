#pragma once

// Orvandel as a library: the maps of the window program and of orvandel-batch, made inside your
// own program. This is the one public header; link Orvandel::orvandel (CMake) or
// `pkg-config --libs orvandel`.
//
//     orvandel::Settings settings;                          // the presets, 400 x 400
//     orvandel::Map map = orvandel::Map::generate(settings, 42);
//     map.writePng("map.png");                             // as orvandel-batch --seed 42 --out map.png
//
// The same settings, seed and number of generations give the same map, pixel for pixel, as the
// window program stopped after that many generations and as orvandel-batch, on every build and
// processor.
//
// Errors are exceptions: orvandel::Error (a std::invalid_argument) for input that can make no
// map, orvandel::FileError (a std::system_error) for a file that cannot be read or written;
// std::bad_alloc when a map does not fit in memory. Nothing is changed silently: the settings
// the library has to adjust to make a map (a size beyond 1 .. 65536, a negative margin) are
// listed by Settings::adjustments() before and by Map::adjustments() after.
//
// Threads: every object is independent of every other, so separate maps may be made, read and
// written on separate threads at once. The const members of one Map may be called from several
// threads at once too. A Settings object is a plain value.
//
// The header needs C++17.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace orvandel {

// The library's version, "MAJOR.MINOR.PATCH": the same number as the programs'. A new major
// version may make other maps from the same settings and seed.
std::string version();

// The largest width and height of a map, in cells (orvandel-batch --size takes 1 .. maxMapSide).
inline constexpr std::int32_t maxMapSide = 65536;

// Input that can make no map: an unknown settings key, a seed or a number of generations out of
// range. what() says which, in the words of orvandel-batch's messages.
class Error : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// A file that cannot be read or written: code() tells why (an errno value, or the reader's and
// writer's own reasons), what() names the file and the reason.
class FileError : public std::system_error {
public:
    FileError(std::error_code code, const std::string& what)
        : std::system_error(code), what_(std::make_shared<const std::string>(what)) {}
    // The text given, as it is (std::system_error's own would add the reason a second time).
    const char* what() const noexcept override { return what_->c_str(); }

private:
    std::shared_ptr<const std::string> what_;
};

// A setting the library changed so that a map can be made, as orvandel-batch warns of it.
struct Adjustment {
    std::string key;
    std::int32_t from = 0;
    std::int32_t to = 0;

    // "xsize 70000 is out of range; using 65536"
    std::string message() const;
};

// All parameters of a map: signed 32-bit integers named by the keys of a settings file
// (landcolor, xsize, downupflow, ...; keys() lists them in the file's order). The map's size is
// xsize x ysize. continents above 0 (1 .. 16) makes a world of that many continents: land
// masses and a sea grown before the first generation, shaped by landshare, coastroughness and
// islands, the sea drawn in seacolor (-1: light blue, apart from the lakes); continents 0, the
// preset, makes the classic map.
class Settings {
public:
    // The presets on a 400 x 400 map: the window program's "yes" in its start-up menu.
    Settings();
    static Settings presets() { return Settings(); }

    // The presets changed by the text of a settings file, read by the window program's rules
    // (items key=value on lines or between commas, any letter case, "&h" numbers, ...): unknown
    // keys and values without a number pass as they do there.
    static Settings fromText(std::string_view text);
    // The same for a settings file (a regular file of at most 16 MiB). Throws FileError.
    static Settings fromFile(const std::filesystem::path& path);
    // The presets changed by key/value pairs, in order, each as set(key, value) takes it.
    static Settings fromPairs(const std::vector<std::pair<std::string, std::string>>& pairs);

    // One setting by its key (any letter case, blanks around it ignored), the value read as a
    // settings file reads one ("12", "-3", "&hFF"; no number is 0). Throws Error for an unknown key.
    Settings& set(std::string_view key, std::string_view value);
    Settings& set(std::string_view key, std::int32_t value);
    // One "key=value" item, as a line of a settings file or orvandel-batch --set. Throws Error
    // for an unknown key or an item without "=".
    Settings& apply(std::string_view item);
    // The map size, as xsize and ysize.
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
    // oceanedgesizex or oceanedgesizey to 0, continents into 0 .. 16, landshare into 1 .. 99,
    // coastroughness and islands into 0 .. 100. Empty when the settings are used as they are.
    std::vector<Adjustment> adjustments() const;

    friend bool operator==(const Settings& a, const Settings& b) { return a.values_ == b.values_; }
    friend bool operator!=(const Settings& a, const Settings& b) { return !(a == b); }

private:
    friend struct SettingsAccess;       // the library's own
    std::vector<std::int32_t> values_;  // in the order of keys()
};

// How a map is made, beyond its settings and seed.
struct MapOptions {
    std::int64_t generations = 100;  // how many generations are drawn; with untilSettled, the most
    // Stop at the first generation from which the picture no longer changes (orvandel-batch
    // --until-settled): maps whose flows are left to chance never settle.
    bool untilSettled = false;
    int threads = 0;  // how many threads may share a large map's work; 0: as orvandel-batch (up to two)
};

// The report's figures: how many cells of the map each class holds, and their shares in per cent.
struct Statistics {
    std::int64_t cells = 0;
    std::int64_t water = 0;      // changed in the last generation, now water
    std::int64_t land = 0;       // changed in the last generation, now land
    std::int64_t unchanged = 0;  // left as they were by the last generation (the sea apart)
    std::int64_t sea = 0;        // a world's sea, which never changes (0 on a classic map)
    double waterPercent = 0;
    double landPercent = 0;
    double unchangedPercent = 0;
    double seaPercent = 0;
};

// One map, as the window program shows it when stopped after the generations drawn. A Map owns
// everything it hands out; it can be moved, not copied, and moving it keeps the data of classes()
// and rgba() where it is.
class Map {
public:
    // Makes a map from settings (adjusted as settings.adjustments() says) and a seed: any signed
    // 32-bit number but 0 and -1, or 0 for a seed from the clock (seed() then tells it). Throws
    // Error for -1 (the window program's seed from the clock's bit pattern, which could never be
    // given again), a seed beyond the 32-bit range or fewer than 0 generations.
    static Map generate(const Settings& settings, std::int64_t seed, const MapOptions& options = {});

    Map(Map&& other) noexcept;
    Map& operator=(Map&& other) noexcept;
    ~Map();

    int width() const;
    int height() const;
    // The seed the map was made from: the one given, or the clock's whole seconds (to give again,
    // unless they read 0 or -1). 0 when the settings turn the seed off (random1 is not 1: then
    // every map of these settings is the same).
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

    Statistics statistics() const;
    // A world's land masses (the cells outside its sea, joined to their eight neighbours across
    // the wrap-around on both axes): their cells, largest first. Empty for a classic map.
    const std::vector<std::int64_t>& landMasses() const;
    // The statistics as orvandel-batch --stats writes them: the same JSON document.
    std::string statsJson() const;

    // The cells' classes, width() x height() bytes, rows top first: 0 water, 1 land, 2 unchanged,
    // 3 a world's sea (as orvandel-batch --grid writes them; 2 everywhere when no generation was
    // drawn). Made on first use and kept while the map lives.
    const std::vector<std::uint8_t>& classes() const;
    // The picture, width() x height() pixels of 4 bytes, R, G, B and A, rows top first: the PNG's
    // pixels. Made on first use and kept while the map lives.
    const std::vector<std::uint8_t>& rgba() const;

    // Writes the map as orvandel-batch writes it, by its output rules (a file is replaced only by
    // a whole new one; a symbolic link's target is replaced; a FIFO or device is written into):
    // the picture as a PNG with the recipe that makes it again (orvandel-batch --from reads it),
    // the classes as a NumPy .npy file, the statistics as JSON. Throw FileError.
    void writePng(const std::filesystem::path& path) const;
    void writeGrid(const std::filesystem::path& path) const;
    void writeStats(const std::filesystem::path& path) const;

private:
    struct State;
    explicit Map(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace orvandel
