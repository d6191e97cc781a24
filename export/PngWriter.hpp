#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orv {

// A 32-bit image: rows of pitch bytes, top row first, each pixel 0xAARRGGBB stored
// little-endian (bytes B, G, R, A); bytes between width x 4 and pitch are padding.
struct ImageBuffer {
    std::int32_t bytesPerPixel = 4;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t pitch = 0;
    std::vector<std::uint8_t> pixels;
};

// The PNG bytes of an image: 8-bit RGBA, no interlace, unfiltered rows deflated by zlib's
// compress at the default level into one IDAT chunk. Empty when the image cannot be encoded.
std::vector<std::uint8_t> encodePng(const ImageBuffer& image);

// Writes the image as a PNG file; 0 when the whole file was written, 1 on any failure.
int writePng(const std::string& fileName, const ImageBuffer* image);

}  // namespace orv
