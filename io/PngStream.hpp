#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "io/ParallelDeflate.hpp"

namespace orv {

class ByteSink;

// Writes a PNG row by row, for images too large to hold twice in memory: rows unfiltered and
// deflated as they come (by default in bands on several threads, see ParallelDeflate), in IDAT
// chunks of at most 1 MiB. The pixels decode exactly as those of writePng.
class PngStreamWriter {
public:
    // Samples given as the bytes a PNG row stores (big-endian): 16-bit greyscale, two bytes a
    // pixel; 8-bit RGB, three bytes a pixel.
    enum class Samples { grey16, rgb8 };
    // How such rows are filtered before deflating: left as they are, or each byte less the one a
    // pixel to the left (sub) or the one above (up), which leaves small numbers for smooth images.
    enum class Filter : std::uint8_t { none = 0, sub = 1, up = 2 };

    // 8-bit RGBA.
    PngStreamWriter(ByteSink& file, std::uint32_t width, std::uint32_t height,
                    const DeflateOptions& deflate = DeflateOptions::bands());
    // Paletted, for images of few colours (a map has at most four): every pixel must be one of
    // the palette's colours (at most 256, alpha included), stored with 1, 2, 4 or 8 bits.
    PngStreamWriter(ByteSink& file, std::uint32_t width, std::uint32_t height, std::vector<std::uint32_t> palette,
                    const DeflateOptions& deflate = DeflateOptions::bands());
    // Greyscale or RGB samples, rows given as bytes (writeRowBytes).
    PngStreamWriter(ByteSink& file, std::uint32_t width, std::uint32_t height, Samples samples, Filter filter,
                    const DeflateOptions& deflate = DeflateOptions::bands());
    ~PngStreamWriter();
    PngStreamWriter(const PngStreamWriter&) = delete;
    PngStreamWriter& operator=(const PngStreamWriter&) = delete;

    // Adds a text chunk, before the first row only: tEXt for ASCII text, iTXt (UTF-8) for any
    // other. The keyword is 1 to 79 printable ASCII characters, no blank at either end.
    bool writeText(std::string_view keyword, std::string_view text);
    // One row of width pixels 0xAARRGGBB, top row first.
    bool writeRow(const std::uint32_t* pixels);
    // One row of samples (width x 2 bytes of grey16, width x 3 of rgb8), top row first.
    bool writeRowBytes(const std::uint8_t* bytes);
    // Ends the image once all rows are written; false when anything failed.
    bool finish();
    bool ok() const { return ok_; }

private:
    void start(const DeflateOptions& deflate);
    bool packRow(const std::uint32_t* pixels);
    bool writeIdat(const std::uint8_t* data, std::size_t size);
    bool writeChunk(const char* type, const std::uint8_t* data, std::size_t size);

    ByteSink& file_;
    std::uint32_t width_, height_, rowsWritten_ = 0;
    std::vector<std::uint32_t> palette_;  // empty for RGBA
    int bitDepth_ = 8;
    int colorType_ = 6;           // RGBA; 3 paletted, 0 greyscale, 2 RGB
    std::size_t pixelBytes_ = 4;  // of a sample row (for the filters), 1 for a paletted one
    Filter filter_ = Filter::none;
    std::vector<std::uint8_t> previous_;  // the last sample row, for the up filter
    std::unique_ptr<ParallelDeflate> deflate_;
    bool ok_ = true;
    std::vector<std::uint8_t> row_;
    std::vector<std::uint8_t> indices_;       // a row's palette indices, for fewer than 256 colours
    std::array<std::uint32_t, 16> colors_{};  // the palette for comparing
    std::vector<std::uint8_t> idat_;          // the stream's bytes not yet in a chunk
};

}  // namespace orv
