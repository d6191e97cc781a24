#pragma once

#include <filesystem>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace orv {

// Text chunks: keyword and text, in file order.
using TextChunks = std::vector<std::pair<std::string, std::string>>;

// Why a PNG file's texts cannot be read, beside the system's errno values.
enum class PngReadError {
    notPng = 1,  // no PNG signature
    damaged,     // cut short, a wrong checksum, or a chunk that cannot be read
};
const std::error_category& pngReadErrorCategory();
inline std::error_code make_error_code(PngReadError e) {
    return {static_cast<int>(e), pngReadErrorCategory()};
}

// Reads the text chunks (tEXt, zTXt, iTXt, compressed or not) of a PNG file, checking every
// chunk's checksum on the way; other chunks are passed over unread. Latin-1 texts come out as
// UTF-8. No error when the file was read to its IEND chunk.
std::error_code readPngTexts(const std::filesystem::path& path, TextChunks& texts);

}  // namespace orv

template <>
struct std::is_error_code_enum<orv::PngReadError> : std::true_type {};
