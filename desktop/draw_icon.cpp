// orvandel-draw-icon SIZE FILE.png: writes the programs' icon at SIZE x SIZE pixels (1 .. 1024),
// for the icon theme. Run while building; not installed.
#include <charconv>
#include <iostream>
#include <string_view>

#include "app/Icon.hpp"
#include "io/PngWriter.hpp"
#include "io/SafeWrite.hpp"

int main(int argc, char** argv) {
    int size = 0;
    const std::string_view text = argc == 3 ? argv[1] : "";
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), size);
    if (argc != 3 || error != std::errc() || end != text.data() + text.size() || size < 1 || size > 1024) {
        std::cerr << "usage: orvandel-draw-icon SIZE FILE.png   (SIZE 1 .. 1024)\n";
        return 2;
    }
    orv::prepareSignalsForWriting();
    const orv::ImageBuffer icon = orv::iconPicture(size);
    if (const std::error_code why = orv::writePngFile(argv[2], &icon)) {
        std::cerr << "orvandel-draw-icon: cannot write " << argv[2] << ": " << orv::writeErrorReason(why) << "\n";
        return 1;
    }
    return 0;
}
