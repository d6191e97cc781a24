#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "io/PngWriter.hpp"
#include "io/SafeWrite.hpp"

namespace orv {

class Screen;
struct Settings;

// A new image of width x height pixels, 4 bytes each, pitch rounded up to 16 bytes, every
// pixel (the padding too) set to the fill colour; no image for a width or height of 0 or less,
// or one too large to hold.
std::unique_ptr<ImageBuffer> createImage(std::int32_t width, std::int32_t height, std::uint32_t fill, int depth);

// Copies the window rectangle between two corner pixels (corners included) into the image,
// which takes the rectangle's size; a rectangle not wholly inside the window copies nothing.
void captureRect(const Screen& screen, int x1, int y1, int x2, int y2, ImageBuffer* image);

// The whole 800 x 600 frame buffer as an image.
ImageBuffer screenImage(const Screen& screen);

void destroyImage(std::unique_ptr<ImageBuffer>& image);

// The file name a typed answer saves to: ".png" is appended unless the answer holds it anywhere.
std::string saveFileName(std::string answer);

// The one line that tells why a map could not be saved to a file: it names the file (shortened
// in the middle when needed) and fits in width columns.
std::string saveFailureLine(const std::string& fileName, std::error_code why, std::size_t width = 100);

// The save dialogue on row reportRow + 5: asks for a file name, captures the drawn map
// (cells 1 .. xsize and 1 .. ysize where the screen shows them, from its map origin on), writes
// it as a PNG file and waits for a key.
// Relative file names are taken from directory (empty: the current directory).
// Returns true when the map was saved. When it could not be, the reason is shown on row
// reportRow + 6 until a key is pressed; rows reportRow + 5 .. + 7 are then wiped, ready for the
// save question to be asked again, and the result is false.
bool saveMap(Screen& screen, const Settings& settings, int reportRow, const std::filesystem::path& directory = {},
             FileSystem& files = realFileSystem());

}  // namespace orv
