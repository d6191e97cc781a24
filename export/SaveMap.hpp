#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>

#include "export/PngWriter.hpp"

namespace orv {

class Screen;
struct Settings;

// A new image of width x height pixels, 4 bytes each, pitch rounded up to 16 bytes, every
// byte (padding too) filled with the colour; no image for a width or height of 0 or less.
std::unique_ptr<ImageBuffer> createImage(std::int32_t width, std::int32_t height, std::uint32_t fill, int depth);

// Copies the window rectangle between two corner pixels (corners included) into the image,
// which takes the rectangle's size; a rectangle not wholly inside the window copies nothing.
void captureRect(const Screen& screen, int x1, int y1, int x2, int y2, ImageBuffer* image);

// The whole 800 x 600 frame buffer as an image.
ImageBuffer screenImage(const Screen& screen);

void destroyImage(std::unique_ptr<ImageBuffer>& image);

// The save dialogue on row reportRow + 5: asks for a file name (".png" added when the name
// holds none), captures the drawn map, writes it and waits for a key.
// Relative file names are taken from directory (empty: the current directory).
void saveMap(Screen& screen, const Settings& settings, int reportRow, const std::filesystem::path& directory = {});

}  // namespace orv
