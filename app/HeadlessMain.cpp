// orvandel-headless: runs the program without a window, fed by a key script, for tests and
// for replaying a run exactly.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>

#include "app/KeyScript.hpp"
#include "app/Program.hpp"
#include "export/SaveMap.hpp"
#include "ui/Screen.hpp"

namespace {

constexpr const char* kUsage =
    "usage: orvandel-headless [--script FILE] [--screen-png FILE] [--screen-text FILE] [--clock SECONDS]\n"
    "  Runs Orvandel without a window in the current directory, taking its keys from the\n"
    "  script (see KeyScript.hpp for the format). Exit status: the program's own (0), 3 when\n"
    "  the script runs out of keys, 2 for bad arguments or an unreadable script.\n"
    "  --screen-png   writes the final 800 x 600 frame buffer as an RGBA PNG\n"
    "  --screen-text  writes the 37 text rows as lines, trailing blanks removed\n"
    "  --clock        the clock reads this many seconds (default: the system's monotonic clock)\n";

int usageError(const std::string& message) {
    std::cerr << "orvandel-headless: " << message << "\n" << kUsage;
    return 2;
}

bool writeScreenText(const orv::Screen& screen, const std::string& path) {
    std::ofstream out(path, std::ios::binary);
    for (int row = 1; row <= screen.textRows(); ++row) {
        std::string line = screen.textRow(row);
        line.erase(line.find_last_not_of(' ') + 1);
        out << line << '\n';
    }
    out.close();
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<std::string> scriptPath, pngPath, textPath;
    std::optional<double> fixedClock;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (i + 1 >= argc) return usageError("missing value after " + arg);
        const std::string value = argv[++i];
        if (arg == "--script") scriptPath = value;
        else if (arg == "--screen-png") pngPath = value;
        else if (arg == "--screen-text") textPath = value;
        else if (arg == "--clock") {
            char* end = nullptr;
            const double seconds = std::strtod(value.c_str(), &end);
            if (end == value.c_str() || *end != '\0') return usageError("--clock needs a number of seconds");
            fixedClock = seconds;
        } else return usageError("unknown option " + arg);
    }

    orv::KeyScript script;
    if (scriptPath) {
        std::ifstream in(*scriptPath, std::ios::binary);
        if (!in) return usageError("cannot read the script " + *scriptPath + ": " + std::strerror(errno));
        const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        try {
            script = orv::KeyScript::parse(text);
        } catch (const std::invalid_argument& e) {
            return usageError(*scriptPath + ", " + e.what());
        }
    }

    orv::Screen screen;
    screen.setKeySource(&script);
    std::function<double()> clock = orv::clockSeconds;
    if (fixedClock) clock = [seconds = *fixedClock] { return seconds; };
    auto program = std::make_unique<orv::Program>(screen, clock);

    int status = 0;
    try {
        status = orv::runProgram(*program);
    } catch (const orv::ScriptExhausted&) {
        std::cerr << "orvandel-headless: the key script is used up while the program waits for a key\n";
        status = 3;
    }

    if (pngPath) {
        const orv::ImageBuffer image = orv::screenImage(screen);
        if (orv::writePng(*pngPath, &image) != 0) {
            std::cerr << "orvandel-headless: cannot write " << *pngPath << "\n";
            if (status == 0) status = 1;
        }
    }
    if (textPath && !writeScreenText(screen, *textPath)) {
        std::cerr << "orvandel-headless: cannot write " << *textPath << "\n";
        if (status == 0) status = 1;
    }
    return status;
}
