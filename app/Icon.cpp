#include "app/Icon.hpp"

#include <orvandel/orvandel.hpp>
#include <vector>

#include "ui/ScaledPicture.hpp"

namespace orv {

ImageBuffer iconPicture(int size) {
    constexpr int kSide = 64;
    orvandel::Settings settings;
    settings.size(kSide, kSide);
    orvandel::MapOptions options;
    options.generations = 60;
    const orvandel::Map map = orvandel::Map::generate(settings, 2026, options);
    const std::vector<std::uint8_t>& rgba = map.rgba();
    std::vector<std::uint32_t> picture(static_cast<std::size_t>(kSide) * kSide);
    for (std::size_t i = 0; i < picture.size(); ++i) {
        const std::uint8_t* p = &rgba[i * 4];
        picture[i] = static_cast<std::uint32_t>(p[3]) << 24 | static_cast<std::uint32_t>(p[0]) << 16 |
                     static_cast<std::uint32_t>(p[1]) << 8 | p[2];
    }
    const std::vector<std::uint32_t> resized = resizedByMajority(picture, kSide, kSide, size, size);
    ImageBuffer image;
    image.width = image.height = static_cast<std::uint32_t>(size);
    image.pitch = image.width * 4;
    image.pixels.reserve(resized.size() * 4);
    for (const std::uint32_t pixel : resized)
        for (const int shift : {0, 8, 16, 24}) image.pixels.push_back(static_cast<std::uint8_t>(pixel >> shift));
    return image;
}

}  // namespace orv
