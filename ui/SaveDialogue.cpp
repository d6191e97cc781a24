#include "ui/SaveDialogue.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "settings/Palette.hpp"
#include "settings/Settings.hpp"
#include "settings/TextFormat.hpp"
#include "ui/Cp437.hpp"
#include "ui/Interaction.hpp"
#include "ui/LineInput.hpp"
#include "ui/Screen.hpp"

namespace orv {
namespace {

std::uint64_t pitchFor(std::uint64_t width) {
    return (width * 4 + 15) / 16 * 16;
}

}  // namespace

ImageBuffer captureRect(const Screen& screen, int x1, int y1, int x2, int y2) {
    ImageBuffer image;
    if (x1 > x2) std::swap(x1, x2);
    if (y1 > y2) std::swap(y1, y2);
    if (x1 < 0 || y1 < 0 || x2 > Screen::kWidth - 1 || y2 > Screen::kHeight - 1) return image;
    image.width = static_cast<std::uint32_t>(x2 - x1 + 1);
    image.height = static_cast<std::uint32_t>(y2 - y1 + 1);
    image.pitch = static_cast<std::uint32_t>(pitchFor(image.width));
    image.pixels.resize(static_cast<std::size_t>(image.pitch) * image.height);
    const std::vector<std::uint32_t> frame = screen.frameBuffer();
    for (int y = y1; y <= y2; ++y) {
        std::memcpy(image.pixels.data() + static_cast<std::size_t>(y - y1) * image.pitch,
                    frame.data() + static_cast<std::size_t>(y) * Screen::kWidth + x1, image.width * 4u);
    }
    return image;
}

ImageBuffer screenImage(const Screen& screen) {
    ImageBuffer image;
    image.width = Screen::kWidth;
    image.height = Screen::kHeight;
    image.pitch = Screen::kWidth * 4;
    const std::vector<std::uint32_t> frame = screen.frameBuffer();
    image.pixels.resize(frame.size() * 4);
    std::memcpy(image.pixels.data(), frame.data(), image.pixels.size());
    return image;
}

std::string saveFileName(std::string answer) {
    if (answer.find(".png") == std::string::npos) answer += ".png";
    return answer;
}

std::string saveFailureLine(const std::string& fileName, std::error_code why, std::size_t width) {
    const std::string head = " Could not save the map to ";
    const std::string tail = ": " + writeErrorReason(why) + ".";
    const std::size_t room = width > head.size() + tail.size() ? width - head.size() - tail.size() : 0;
    std::string line = head + shortenedInMiddle(fileName, room) + tail;
    if (line.size() > width) line.resize(width);
    return line;
}

bool saveMap(Screen& screen, const Settings& settings, int reportRow, const std::filesystem::path& directory,
             FileSystem& files) {
    screen.setTextColor(paletteColor(15));
    screen.setCursor(reportRow + 5, 1);
    screen.printText(repeatChar(50, " "), true);
    screen.setCursor(reportRow + 5, 1);
    // Typed in code page 437; on disk names are UTF-8.
    const std::string name = cp437ToUtf8(saveFileName(promptInput(screen, " File name to save as? ")));
    const ImageBuffer image = captureRect(screen, Screen::kMapOriginX + 1, Screen::kMapOriginY + 1,
                                          Screen::kMapOriginX + settings.xsize, Screen::kMapOriginY + settings.ysize);
    const std::error_code error = writePngFile(directory / name, &image, files);
    if (!error) {
        waitForKey(screen);
        return true;
    }
    // The typed name may have run on into the rows below the prompt: clear them for the message.
    wipeRows(screen, reportRow + 6, reportRow + 7);
    screen.setCursor(reportRow + 6, 1);
    screen.printText(saveFailureLine(shownName(name), error, static_cast<std::size_t>(screen.textColumns())), false);
    waitForKey(screen);
    wipeRows(screen, reportRow + 5, reportRow + 7);
    return false;
}

}  // namespace orv
