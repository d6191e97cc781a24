#include "app/Batch.hpp"

#include "app/BatchMap.hpp"

#include <unistd.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <new>
#include <sstream>

#include "export/PngStream.hpp"
#include "export/SafeWrite.hpp"
#include "ui/Palette.hpp"
#include "settings/SeedEntry.hpp"
#include "settings/SettingsFile.hpp"

namespace orv {
namespace {

// The largest map side the batch generator accepts.
constexpr std::int32_t kMaxSide = 65536;
constexpr std::int64_t kMaxSeeds = 1'000'000;

bool parseInt64(std::string_view text, std::int64_t& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc{} && end == text.data() + text.size() && !text.empty();
}

// A seed as the seed prompt reads it, but only when the whole text is that number.
bool parseSeed(std::string_view text, std::int32_t& seed) {
    std::size_t i = 0;
    auto digits = [&] {
        const std::size_t start = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
        return i - start;
    };
    if (text.size() >= 2 && text[0] == '&') {
        const char base = static_cast<char>(text[1] | 0x20);
        i = (base == 'h' || base == 'o' || base == 'b') ? 2 : 1;
        const std::string_view allowed = base == 'h' ? "0123456789abcdefABCDEF" : base == 'b' ? "01" : "01234567";
        if (i == text.size()) return false;
        for (; i < text.size(); ++i)
            if (allowed.find(text[i]) == std::string_view::npos) return false;
    } else {
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        std::size_t count = digits();
        if (i < text.size() && text[i] == '.') {
            ++i;
            count += digits();
        }
        if (count == 0) return false;
        if (i < text.size() && (text[i] == 'e' || text[i] == 'E' || text[i] == 'd' || text[i] == 'D')) {
            ++i;
            if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
            if (digits() == 0) return false;
        }
        if (i != text.size()) return false;
    }
    seed = seedValue(text);
    return true;
}

// "A-B" with whole numbers A <= B.
bool parseSeedRange(std::string_view text, std::int32_t& first, std::int32_t& last) {
    const std::size_t dash = text.find('-', 1);
    if (dash == std::string_view::npos) return false;
    std::int64_t a = 0, b = 0;
    if (!parseInt64(text.substr(0, dash), a) || !parseInt64(text.substr(dash + 1), b)) return false;
    if (a < INT32_MIN || b > INT32_MAX || a > b) return false;
    first = static_cast<std::int32_t>(a);
    last = static_cast<std::int32_t>(b);
    return true;
}

}  // namespace

std::optional<BatchOptions> parseBatchArguments(const std::vector<std::string>& args, std::string& error) {
    BatchOptions o;
    bool haveSeed = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&]() -> std::optional<std::string> {
            if (const std::size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos)
                return arg.substr(eq + 1);
            if (i + 1 < args.size()) return args[++i];
            error = arg + " needs a value";
            return std::nullopt;
        };
        const std::string name = arg.substr(0, arg.find('='));
        if (name == "--help" || name == "-h") {
            o.help = true;
        } else if (name == "--version") {
            o.version = true;
        } else if (name == "--until-stable") {
            o.untilStable = true;
        } else if (name == "--progress") {
            o.progress = BatchOptions::Progress::Always;
        } else if (name == "--quiet") {
            o.progress = BatchOptions::Progress::Never;
        } else if (name == "--settings") {
            auto v = value();
            if (!v) return std::nullopt;
            o.settingsFile = *v;
        } else if (name == "--seed") {
            auto v = value();
            if (!v) return std::nullopt;
            haveSeed = true;
            if (*v == "clock") {
                o.seedFromClock = true;
            } else if (parseSeedRange(*v, o.firstSeed, o.lastSeed)) {
                if (static_cast<std::int64_t>(o.lastSeed) - o.firstSeed + 1 > kMaxSeeds) {
                    error = "--seed " + *v + ": at most " + std::to_string(kMaxSeeds) + " seeds in one call";
                    return std::nullopt;
                }
            } else if (parseSeed(*v, o.firstSeed)) {
                o.lastSeed = o.firstSeed;
            } else {
                error = "--seed " + *v + ": expected a number, a range A-B or 'clock'";
                return std::nullopt;
            }
        } else if (name == "--size") {
            auto v = value();
            if (!v) return std::nullopt;
            const std::size_t x = v->find_first_of("xX");
            std::int64_t w = 0, h = 0;
            if (x == std::string::npos || !parseInt64(std::string_view(*v).substr(0, x), w) ||
                !parseInt64(std::string_view(*v).substr(x + 1), h) || w < 1 || h < 1 || w > kMaxSide || h > kMaxSide) {
                error = "--size " + *v + ": expected WIDTHxHEIGHT, each from 1 to " + std::to_string(kMaxSide);
                return std::nullopt;
            }
            o.width = static_cast<std::int32_t>(w);
            o.height = static_cast<std::int32_t>(h);
        } else if (name == "--generations") {
            auto v = value();
            if (!v) return std::nullopt;
            if (!parseInt64(*v, o.generations) || o.generations < 0) {
                error = "--generations " + *v + ": expected a whole number of 0 or more";
                return std::nullopt;
            }
        } else if (name == "--out") {
            auto v = value();
            if (!v) return std::nullopt;
            o.pngPattern = *v;
        } else if (name == "--stats") {
            auto v = value();
            if (!v) return std::nullopt;
            o.statsPattern = *v;
        } else {
            error = "unknown argument " + arg;
            return std::nullopt;
        }
    }
    if (o.help || o.version) return o;
    if (!haveSeed) {
        error = "--seed is required (a number, a range A-B, or 'clock')";
        return std::nullopt;
    }
    if (!o.pngPattern && !o.statsPattern) {
        error = "nothing to write: give --out FILE.png and/or --stats FILE.json";
        return std::nullopt;
    }
    return o;
}

std::string outputName(const std::string& pattern, std::int32_t seed, bool severalSeeds) {
    const std::string seedText = std::to_string(seed);
    std::string name = pattern;
    bool replaced = false;
    for (std::size_t at = name.find("{seed}"); at != std::string::npos; at = name.find("{seed}", at + seedText.size())) {
        name.replace(at, 6, seedText);
        replaced = true;
    }
    if (replaced || !severalSeeds) return name;
    const std::size_t slash = name.find_last_of('/');
    const std::size_t dot = name.find_last_of('.');
    const std::size_t insertAt = (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1)) ? dot : name.size();
    name.insert(insertAt, "-" + seedText);
    return name;
}

std::string statsJson(const BatchResult& r) {
    const std::int64_t total = static_cast<std::int64_t>(r.settings.xsize) * r.settings.ysize;
    // The share as the report computes it, in the shortest text that reads back as the same double.
    auto share = [total](std::int64_t count) {
        char buffer[40];
        const double percent = static_cast<double>(count * 100) / static_cast<double>(total);
        const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, percent);
        return std::string(buffer, ec == std::errc{} ? end : buffer);
    };
    std::ostringstream json;
    json << "{\n";
    json << "  \"seed\": " << r.seed << ",\n";
    json << "  \"seedUsed\": " << (r.seedUsed ? "true" : "false") << ",\n";
    json << "  \"width\": " << r.settings.xsize << ",\n";
    json << "  \"height\": " << r.settings.ysize << ",\n";
    json << "  \"settings\": {";
    for (std::size_t i = 0; i < kSettingsKeys.size(); ++i)
        json << (i ? ", " : "") << "\"" << kSettingsKeys[i].name << "\": " << r.settings.*kSettingsKeys[i].field;
    json << "},\n";
    json << "  \"generations\": " << r.committedGenerations << ",\n";
    json << "  \"cycles\": " << r.cycles << ",\n";
    json << "  \"stable\": " << (r.stable ? "true" : "false") << ",\n";
    json << "  \"cells\": " << total << ",\n";
    json << "  \"water\": {\"color\": " << r.settings.watercolor << ", \"cells\": " << r.waterCount
         << ", \"percent\": " << share(r.waterCount) << "},\n";
    json << "  \"land\": {\"color\": " << r.settings.landcolor << ", \"cells\": " << r.landCount
         << ", \"percent\": " << share(r.landCount) << "},\n";
    json << "  \"unchanged\": {\"color\": " << r.settings.forestcolor << ", \"cells\": " << r.unchangedCount
         << ", \"percent\": " << share(total - r.waterCount - r.landCount) << "}\n";
    json << "}\n";
    return json.str();
}

}  // namespace orv

namespace orv {
namespace {

// A progress bar on stderr, redrawn at most ten times a second.
class ProgressBar {
public:
    ProgressBar(std::ostream& err, bool enabled, double totalWork) : err_(err), enabled_(enabled), total_(totalWork) {}
    ~ProgressBar() { finish(); }

    void advance(double work, const std::string& label) {
        done_ += work;
        if (!enabled_) return;
        const auto now = std::chrono::steady_clock::now();
        if (shown_ && now - last_ < std::chrono::milliseconds(100)) return;
        last_ = now;
        shown_ = true;
        const double fraction = total_ > 0 ? std::min(done_ / total_, 1.0) : 1.0;
        const int filled = static_cast<int>(fraction * 30);
        err_ << "\r[" << std::string(static_cast<std::size_t>(filled), '#') << std::string(static_cast<std::size_t>(30 - filled), '.')
             << "] " << static_cast<int>(fraction * 100) << "% " << label << "\x1b[K" << std::flush;
    }
    void finish() {
        if (enabled_ && shown_) err_ << "\r\x1b[K" << std::flush;
        shown_ = false;
    }

private:
    std::ostream& err_;
    bool enabled_;
    double total_;
    double done_ = 0;
    bool shown_ = false;
    std::chrono::steady_clock::time_point last_{};
};

// The colours a map can show: the three map colours, and black where nothing was drawn.
std::vector<std::uint32_t> mapPalette(const Settings& s) {
    std::vector<std::uint32_t> palette;
    for (std::uint32_t color : {paletteColor(s.forestcolor), paletteColor(s.watercolor), paletteColor(s.landcolor),
                                std::uint32_t{0xFF000000}})
        if (std::find(palette.begin(), palette.end(), color) == palette.end()) palette.push_back(color);
    return palette;
}

bool writePicture(const std::string& name, MapPicture& picture, const Settings& settings, std::string& why) {
    const std::int32_t width = settings.xsize, height = settings.ysize;
    SafeFile file(name);
    // A paletted file decodes to the same pixels as RGBA, and is far smaller and quicker to make.
    PngStreamWriter png(file, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), mapPalette(settings));
    for (std::int32_t y = 0; y < height && png.ok(); ++y)
        png.writeRow(picture.row(y));
    if (png.finish() && file.commit()) return true;
    why = file.ok() ? "the picture could not be encoded" : writeErrorReason(file.error());
    return false;
}

constexpr const char* kUsage =
    "usage: orvandel-batch --seed N|A-B|clock [--settings FILE.ini] [--size WxH] [--generations N]\n"
    "                      [--until-stable] [--out FILE.png] [--stats FILE.json] [--progress|--quiet]\n"
    "\n"
    "Generates maps without a window: the same settings and seed give the same map as the window\n"
    "program stopped after the same number of generations.\n"
    "\n"
    "  --seed N        the seed, read as the seed prompt reads it (0 takes one from the clock)\n"
    "  --seed A-B      every seed from A to B, one map each ({seed} in output names, or -SEED added)\n"
    "  --seed clock    a seed from the clock; the seed is printed so that the map can be made again\n"
    "  --settings F    a settings file, read as the window program reads it (presets otherwise)\n"
    "  --size WxH      the map size, overriding xsize and ysize (1 .. 65536 each)\n"
    "  --generations N the number of generations drawn (default 100)\n"
    "  --until-stable  stop early at the first generation that changes no cell\n"
    "  --out F.png     the map as the window would show it after the last generation\n"
    "  --stats F.json  seed, size, settings, cycles and the three colour classes\n"
    "  --progress      always show a progress bar on stderr (default: when stderr is a terminal)\n"
    "  --quiet         never show one\n";

}  // namespace

int runBatch(const BatchOptions& o, std::ostream& out, std::ostream& err, const std::function<double()>& clock,
             bool stderrIsTerminal) {
    if (o.help) {
        out << kUsage;
        return 0;
    }
    if (o.version) {
        out << "orvandel-batch " << ORVANDEL_VERSION << "\n";
        return 0;
    }

    Settings base;
    applyPresets(base);
    if (o.settingsFile) {
        std::string text;
        if (const std::error_code why = readSettingsFile(*o.settingsFile, text)) {
            err << "orvandel-batch: cannot read the settings file " << o.settingsFile->string() << ": "
                << why.message() << "\n";
            return 1;
        }
        applySettingsText(base, text);
    }
    if (o.width) base.xsize = *o.width;
    if (o.height) base.ysize = *o.height;
    for (const ClampedSetting& c : clampToGrid(base, kMaxSide, kMaxSide))
        err << "orvandel-batch: " << c.key << " " << c.from << " is out of range; using " << c.to << "\n";
    if (base.random1 != 1)
        err << "orvandel-batch: the settings set random1 to " << base.random1
            << ", so no seed is used (the window program asks for none either)\n";

    const std::int64_t seeds = o.seedFromClock ? 1 : static_cast<std::int64_t>(o.lastSeed) - o.firstSeed + 1;
    const bool several = seeds > 1;
    const double cells = static_cast<double>(base.xsize) * base.ysize;
    const double work = cells * static_cast<double>(o.generations + 1) * static_cast<double>(seeds);
    const bool showProgress = o.progress == BatchOptions::Progress::Always ||
                              (o.progress == BatchOptions::Progress::Auto && stderrIsTerminal && work > 2e8);
    ProgressBar progress(err, showProgress, work);

    MapPicture picture;
    for (std::int64_t i = 0; i < seeds; ++i) {
        const SeedChoice seed{o.seedFromClock, static_cast<std::int32_t>(o.firstSeed + i)};
        const std::string label = several ? "seed " + std::to_string(seed.value) : std::string();
        BatchResult result;
        try {
            result = generateMap(base, seed, o.generations, o.untilStable, clock, picture,
                                 [&](double cells) { progress.advance(cells, label); });
        } catch (const std::bad_alloc&) {
            progress.finish();
            err << "orvandel-batch: not enough memory for a " << base.xsize << " x " << base.ysize << " map\n";
            return 1;
        }
        if (result.seedUsed && result.seedFromClock) {
            progress.finish();
            out << "seed from the clock: " << result.seed;
            // 0 and -1 would ask for the clock again: such a seed cannot be given back.
            if (result.seed != 0 && result.seed != -1) out << " (--seed " << result.seed << " makes this map again)";
            out << "\n";
        }
        const std::int32_t nameSeed = result.seedUsed ? result.seed : seed.value;
        if (o.pngPattern) {
            const std::string name = outputName(*o.pngPattern, nameSeed, several);
            std::string why;
            if (!writePicture(name, picture, result.settings, why)) {
                progress.finish();
                err << "orvandel-batch: cannot write " << name << ": " << why << "\n";
                return 1;
            }
        }
        if (o.statsPattern) {
            const std::string name = outputName(*o.statsPattern, nameSeed, several);
            if (const std::error_code why = writeFileSafely(name, statsJson(result))) {
                progress.finish();
                err << "orvandel-batch: cannot write " << name << ": " << writeErrorReason(why) << "\n";
                return 1;
            }
        }
    }
    progress.finish();
    return 0;
}

}  // namespace orv
