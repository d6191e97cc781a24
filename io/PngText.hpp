#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace orv {

// Text chunks: keyword and text, in file order.
using TextChunks = std::vector<std::pair<std::string, std::string>>;

// Why a PNG file's texts cannot be read, beside the system's errno values.
enum class PngReadError {
    notPng = 1,      // no PNG signature
    damaged,         // cut short, a wrong checksum, or a chunk that cannot be read
    notRegularFile,  // a FIFO, a device or a socket: reading it could wait or run for ever
    textsTooLarge,   // the texts kept inflate beyond kMaxTexts
};
const std::error_category& pngReadErrorCategory();
inline std::error_code make_error_code(PngReadError e) {
    return {static_cast<int>(e), pngReadErrorCategory()};
}

// The most bytes of text readPngTexts keeps, inflated: far more than any recipe holds (a few
// kilobytes), far less than a crafted file could inflate to.
inline constexpr std::size_t kMaxTexts = std::size_t{1} << 20;

// Reads the text chunks (tEXt, zTXt, iTXt, compressed or not) of a PNG file (a regular file
// only), checking every chunk's checksum on the way; other chunks, and texts whose keyword is
// not wanted, are passed over uninflated. Latin-1 texts come out as UTF-8. No error when the
// file was read to its IEND chunk.
std::error_code readPngTexts(const std::filesystem::path& path, TextChunks& texts,
                             const std::function<bool(std::string_view keyword)>& wanted = {});

}  // namespace orv

template <>
struct std::is_error_code_enum<orv::PngReadError> : std::true_type {};
