// orvandel: the interactive map generator in its window.
#include <string>

#include "app/Program.hpp"
#include "export/SafeWrite.hpp"
#include "ui/Screen.hpp"
#include "ui/Window.hpp"

namespace {

// The window's title: the program file's name without its directory and its extension.
std::string titleFrom(const char* argv0) {
    std::string name = argv0 != nullptr ? argv0 : "orvandel";
    if (const std::size_t slash = name.find_last_of('/'); slash != std::string::npos) name.erase(0, slash + 1);
    if (const std::size_t dot = name.find_last_of('.'); dot != std::string::npos && dot > 0) name.erase(dot);
    return name.empty() ? "orvandel" : name;
}

}  // namespace

int main(int /*argc*/, char** argv) {
    orv::prepareSignalsForWriting();
    orv::Screen screen;
    auto program = std::make_unique<orv::Program>(screen);
    return orv::runInWindow(titleFrom(argv[0]), screen, [&] { return orv::runProgram(*program); });
}
