// orvandel: the interactive map generator in its window.
#include <signal.h>

#include <iostream>
#include <string>
#include <string_view>

#include "app/Icon.hpp"
#include "app/Program.hpp"
#include "io/SafeWrite.hpp"
#include "ui/Screen.hpp"
#include "ui/Window.hpp"

namespace {

constexpr const char* kUsage = "usage: orvandel [--help | --version]\n";

constexpr const char* kHelp =
    "usage: orvandel [--help | --version]\n"
    "Grows a land and water map from a seed with a cellular automaton, live in a\n"
    "window. Pick the pre-set conditions or a settings file (NAME.ini), type a seed,\n"
    "press a key to stop the generations, read the report and save the map as a PNG\n"
    "file. Settings files are read and maps are saved in the current directory. F11\n"
    "or Alt+Enter switches to full screen and back.\n"
    "  --help     shows this text\n"
    "  --version  shows the version\n"
    "See also orvandel-batch (maps without a window) and orvandel-headless (replays\n"
    "key scripts); man orvandel.\n";

// The window's title: the program file's name without its directory and its extension.
std::string titleFrom(const char* argv0) {
    std::string name = argv0 != nullptr ? argv0 : "orvandel";
    if (const std::size_t slash = name.find_last_of('/'); slash != std::string::npos) name.erase(0, slash + 1);
    if (const std::size_t dot = name.find_last_of('.'); dot != std::string::npos && dot > 0) name.erase(dot);
    return name.empty() ? "orvandel" : name;
}

// SIGINT, SIGTERM and SIGHUP end the program whatever its parent left them as: a shell without
// job control starts a command in the background with SIGINT ignored, and a parent may hand on
// signals it holds blocked; a window would then outlive Ctrl-C and kill alike. Only nohup's
// SIGHUP stays ignored, as asked for. The handlers then remove the temporary file of a save in
// progress before the program ends with the signal's status.
void prepareSignals() {
    sigset_t ending;
    sigemptyset(&ending);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&ending, s);
    pthread_sigmask(SIG_UNBLOCK, &ending, nullptr);
    for (int s : {SIGINT, SIGTERM}) ::signal(s, SIG_DFL);
    orv::prepareSignalsForWriting();
}

}  // namespace

int main(int argc, char** argv) {
    orv::openClosedStandardDescriptors();
    // Asking for help or the version opens no window; anything else on the command line is a
    // mistake. Without arguments the program runs as it always has.
    if (argc > 1) {
        const std::string_view arg = argv[1];
        const bool known = arg == "--help" || arg == "-h" || arg == "--version";
        if (!known || argc > 2) {
            std::cerr << "orvandel: unexpected argument '" << argv[known ? 2 : 1] << "'\n" << kUsage;
            return 2;
        }
        if (arg == "--version")
            std::cout << "orvandel " << ORVANDEL_VERSION << "\n";
        else
            std::cout << kHelp;
        return 0;
    }
    prepareSignals();
    orv::Screen screen;
    auto program = std::make_unique<orv::Program>(screen);
    return orv::runInWindow(titleFrom(argv[0]), orv::iconPicture(64), screen,
                            [&] { return orv::runProgram(*program); });
}
