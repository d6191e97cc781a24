#include "export/SaveMap.hpp"

#include <algorithm>
#include <cstring>
#include <string>

#include "settings/Settings.hpp"
#include "ui/Interaction.hpp"
#include "ui/LineInput.hpp"
#include "ui/Palette.hpp"
#include "ui/Screen.hpp"
#include "ui/TextFormat.hpp"

namespace orv {
namespace {

std::uint32_t pitchFor(std::uint32_t width) { return (width * 4 + 15) / 16 * 16; }

}  // namespace

std::unique_ptr<ImageBuffer> createImage(std::int32_t width, std::int32_t height, std::uint32_t fill, int /*depth*/) {
    if (width <= 0 || height <= 0) return nullptr;
    auto image = std::make_unique<ImageBuffer>();
    image->bytesPerPixel = 4;
    image->width = static_cast<std::uint32_t>(width);
    image->height = static_cast<std::uint32_t>(height);
    image->pitch = pitchFor(image->width);
    image->pixels.resize(static_cast<std::size_t>(image->pitch) * image->height);
    for (std::size_t i = 0; i < image->pixels.size(); i += 4) std::memcpy(&image->pixels[i], &fill, 4);
    return image;
}

void captureRect(const Screen& screen, int x1, int y1, int x2, int y2, ImageBuffer* image) {
    if (image == nullptr) return;
    if (x1 > x2) std::swap(x1, x2);
    if (y1 > y2) std::swap(y1, y2);
    if (x1 < 0 || y1 < 0 || x2 > Screen::kWidth - 1 || y2 > Screen::kHeight - 1) return;
    image->width = static_cast<std::uint32_t>(x2 - x1 + 1);
    image->height = static_cast<std::uint32_t>(y2 - y1 + 1);
    image->bytesPerPixel = 4;
    image->pitch = pitchFor(image->width);
    image->pixels.resize(std::max<std::size_t>(image->pixels.size(), static_cast<std::size_t>(image->pitch) * image->height));
    const std::vector<std::uint32_t> frame = screen.frameBuffer();
    for (int y = y1; y <= y2; ++y) {
        std::memcpy(image->pixels.data() + static_cast<std::size_t>(y - y1) * image->pitch,
                    frame.data() + static_cast<std::size_t>(y) * Screen::kWidth + x1, image->width * 4u);
    }
}

void destroyImage(std::unique_ptr<ImageBuffer>& image) { image.reset(); }

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

void saveMap(Screen& screen, const Settings& settings, int reportRow, const std::filesystem::path& directory) {
    screen.setTextColor(paletteColor(15));
    screen.setCursor(reportRow + 5, 1);
    screen.printText(repeatChar(50, " "), true);
    screen.setCursor(reportRow + 5, 1);
    std::string name = promptInput(screen, " File name to save as? ");
    if (name.find(".png") == std::string::npos) name += ".png";
    std::unique_ptr<ImageBuffer> image = createImage(settings.xsize, settings.ysize, 0xFF00FFFFu, 32);
    captureRect(screen, 41, 41, 40 + settings.xsize, 40 + settings.ysize, image.get());
    writePng((directory / name).string(), image.get());
    destroyImage(image);
    waitForKey(screen);
}

}  // namespace orv
