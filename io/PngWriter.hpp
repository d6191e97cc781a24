#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "io/SafeWrite.hpp"

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

// Why an image cannot be written as a PNG file (file errors come as errno values instead).
enum class PngError {
    noImage = 1,     // no image at all
    notFourBytes,    // bytes per pixel other than 4
    badLayout,       // no pixels, a pitch shorter than a row, or fewer bytes than the rows need
    tooLarge,        // beyond what one PNG chunk or this machine's memory can hold
    compressFailed,  // zlib refused
};
const std::error_category& pngErrorCategory();
inline std::error_code make_error_code(PngError e) {
    return {static_cast<int>(e), pngErrorCategory()};
}

// The PNG bytes of an image: signature, IHDR (8-bit RGBA, no interlace), one IDAT holding every
// row as a filter byte 0 and R, G, B, A per pixel, deflated by zlib's compress at the default
// level, and IEND. Empty when the image cannot be encoded.
std::vector<std::uint8_t> encodePng(const ImageBuffer& image);

// Writes the image as a PNG file through a safe write: the file appears whole or not at all,
// and an existing file of that name is replaced only by a complete one. No error on success.
std::error_code writePngFile(const std::filesystem::path& fileName, const ImageBuffer* image,
                             FileSystem& files = realFileSystem());

// The same, reduced to 0 when the whole file was written and 1 on any failure. An empty name
// fails without touching any file.
int writePng(const std::string& fileName, const ImageBuffer* image);

}  // namespace orv

template <>
struct std::is_error_code_enum<orv::PngError> : std::true_type {};
