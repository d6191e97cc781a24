#pragma once

#include <zlib.h>

#include <cstdint>
#include <string_view>
#include <vector>

namespace orv {

class SafeFile;

// Writes a PNG row by row, for images too large to hold twice in memory: rows unfiltered and
// deflated at zlib's default level as they come, in IDAT chunks of at most 1 MiB. The pixels
// decode exactly as those of writePng.
class PngStreamWriter {
public:
    // 8-bit RGBA.
    PngStreamWriter(SafeFile& file, std::uint32_t width, std::uint32_t height);
    // Paletted, for images of few colours (a map has at most four): every pixel must be one of
    // the palette's colours (at most 256, alpha included), stored with 1, 2, 4 or 8 bits.
    PngStreamWriter(SafeFile& file, std::uint32_t width, std::uint32_t height, std::vector<std::uint32_t> palette);
    ~PngStreamWriter();
    PngStreamWriter(const PngStreamWriter&) = delete;
    PngStreamWriter& operator=(const PngStreamWriter&) = delete;

    // Adds a text chunk, before the first row only: tEXt for ASCII text, iTXt (UTF-8) for any
    // other. The keyword is 1 to 79 printable ASCII characters, no blank at either end.
    bool writeText(std::string_view keyword, std::string_view text);
    // One row of width pixels 0xAARRGGBB, top row first.
    bool writeRow(const std::uint32_t* pixels);
    // Ends the image once all rows are written; false when anything failed.
    bool finish();
    bool ok() const { return ok_; }

private:
    void start();
    bool packRow(const std::uint32_t* pixels);
    bool deflateSome(int flush);
    bool writeChunk(const char* type, const std::uint8_t* data, std::size_t size);

    SafeFile& file_;
    std::uint32_t width_, height_, rowsWritten_ = 0;
    std::vector<std::uint32_t> palette_;  // empty for RGBA
    int bitDepth_ = 8;
    z_stream zs_{};
    bool zsReady_ = false;
    bool ok_ = true;
    std::vector<std::uint8_t> row_;
    std::vector<std::uint8_t> out_;
};

}  // namespace orv
