// orvandel-headless: runs the program without a window, fed by a key script, for tests and
// for replaying a run exactly.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/Headless.hpp"
#include "io/FileIdentity.hpp"
#include "io/SafeWrite.hpp"
#include "settings/SettingsFile.hpp"
#include "ui/SaveDialogue.hpp"

namespace {

constexpr const char* kUsage =
    "usage: orvandel-headless [--script FILE] [--screen-png FILE]\n"
    "                         [--screen-text FILE] [--clock SECONDS]\n"
    "  Runs Orvandel without a window in the current directory, taking its keys from\n"
    "  the script (its format: man orvandel-headless). Exit status: the program's own\n"
    "  (0), 3 when the script runs out of keys, 2 for bad arguments or an unreadable\n"
    "  script (not a regular file, or larger than 64 MiB), 1 when a screen file\n"
    "  cannot be written or memory runs out.\n"
    "  --screen-png   writes the final 800 x 600 frame buffer as an RGBA PNG\n"
    "  --screen-text  writes the 37 text rows as lines, trailing blanks removed\n"
    "  --clock        the clock reads this many seconds (default: the system's\n"
    "                 monotonic clock)\n"
    "  --version      prints the version\n";

// Scripts larger than this are refused rather than read.
constexpr std::size_t kMaxScriptSize = std::size_t{64} << 20;

int usageError(const std::string& message) {
    std::cerr << "orvandel-headless: " << message << "\n" << kUsage;
    return 2;
}

int run(int argc, char** argv) {
    std::optional<std::string> scriptPath, pngPath, textPath;
    std::optional<double> fixedClock;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (arg == "--version") {
            std::cout << "orvandel-headless " << ORVANDEL_VERSION << "\n";
            return 0;
        }
        if (arg != "--script" && arg != "--screen-png" && arg != "--screen-text" && arg != "--clock")
            return usageError((arg.starts_with("-") ? "unknown option " : "unexpected argument ") + arg);
        if (i + 1 >= argc) return usageError("missing value after " + arg);
        const std::string value = argv[++i];
        if (arg == "--script")
            scriptPath = value;
        else if (arg == "--screen-png")
            pngPath = value;
        else if (arg == "--screen-text")
            textPath = value;
        else {
            char* end = nullptr;
            const double seconds = std::strtod(value.c_str(), &end);
            if (end == value.c_str() || *end != '\0') return usageError("--clock needs a number of seconds");
            fixedClock = seconds;
        }
    }

    // No file of the run may be another: a screen file over the script or over the other screen
    // file would destroy what was read or written before.
    {
        orv::FileIdentity identity;
        std::vector<std::pair<std::string, std::string>> named;  // option and name
        if (scriptPath) named.emplace_back("--script", *scriptPath);
        if (pngPath) named.emplace_back("--screen-png", *pngPath);
        if (textPath) named.emplace_back("--screen-text", *textPath);
        for (std::size_t a = 0; a < named.size(); ++a)
            for (std::size_t b = a + 1; b < named.size(); ++b)
                if (identity.key(named[a].second) == identity.key(named[b].second))
                    return usageError(named[a].first + " " + named[a].second + " and " + named[b].first + " " +
                                      named[b].second + " name the same file");
    }
    orv::KeyScript script;
    if (scriptPath) {
        std::string text;
        if (const std::error_code why = orv::readRegularFile(*scriptPath, text, kMaxScriptSize))
            return usageError("cannot read the script " + *scriptPath + ": " + why.message());
        try {
            script = orv::KeyScript::parse(text);
        } catch (const std::invalid_argument& e) {
            return usageError(*scriptPath + ", " + e.what());
        }
    }

    orv::HeadlessOptions options;
    if (fixedClock) options.clock = [seconds = *fixedClock] { return seconds; };
    const orv::HeadlessSession session = orv::runHeadless(std::move(script), options);
    int status = session.status;
    if (session.exhausted) {
        std::cerr << "orvandel-headless: the key script is used up while the program waits for a key\n";
        status = 3;
    }

    const orv::Screen& screen = *session.screen;
    if (pngPath) {
        const orv::ImageBuffer image = orv::screenImage(screen);
        if (const std::error_code why = orv::writePngFile(*pngPath, &image)) {
            std::cerr << "orvandel-headless: cannot write " << *pngPath << ": " << orv::writeErrorReason(why) << "\n";
            if (status == 0) status = 1;
        }
    }
    if (textPath) {
        if (const std::error_code why = orv::writeFileSafely(*textPath, orv::screenText(screen))) {
            std::cerr << "orvandel-headless: cannot write " << *textPath << ": " << orv::writeErrorReason(why) << "\n";
            if (status == 0) status = 1;
        }
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    orv::openClosedStandardDescriptors();
    orv::prepareSignalsForWriting();
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        // Every write in progress has removed its temporary file on the way out.
        std::cerr << "orvandel-headless: out of memory\n";
        return 1;
    }
}
