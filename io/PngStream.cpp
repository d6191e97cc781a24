#include "io/PngStream.hpp"

#include <zlib.h>

#include <algorithm>
#include <new>

#include "io/ByteSink.hpp"

namespace orv {
namespace {

constexpr std::size_t kChunkSize = std::size_t{1} << 20;

void putBigEndian(std::uint8_t* out, std::uint32_t value) {
    out[0] = static_cast<std::uint8_t>(value >> 24);
    out[1] = static_cast<std::uint8_t>(value >> 16);
    out[2] = static_cast<std::uint8_t>(value >> 8);
    out[3] = static_cast<std::uint8_t>(value);
}

// Palette indices of count pixels, each compared with all N colours (the first that matches
// counts), which vectorises; false when a pixel matches none.
template <int N>
bool indexPixels(const std::uint32_t* pixels, std::uint8_t* indices, std::uint32_t count, const std::uint32_t* colors) {
    unsigned missing = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t p = pixels[i];
        unsigned index = 0, found = 0;
        for (int k = N - 1; k >= 0; --k) {
            const unsigned same = p == colors[k] ? 1u : 0u;
            index = same != 0 ? static_cast<unsigned>(k) : index;
            found |= same;
        }
        indices[i] = static_cast<std::uint8_t>(index);
        missing |= found ^ 1u;
    }
    return missing == 0;
}

// Indices of kDepth bits packed into bytes, the first pixel in the high bits.
template <int kDepth>
void packIndices(const std::uint8_t* indices, std::uint8_t* out, std::size_t bytes) {
    constexpr int kPerByte = 8 / kDepth;
    for (std::size_t j = 0; j < bytes; ++j) {
        unsigned packed = 0;
        for (int k = 0; k < kPerByte; ++k)
            packed = packed << kDepth | indices[j * kPerByte + static_cast<std::size_t>(k)];
        out[j] = static_cast<std::uint8_t>(packed);
    }
}

}  // namespace

PngStreamWriter::PngStreamWriter(ByteSink& file, std::uint32_t width, std::uint32_t height,
                                 const DeflateOptions& deflate)
    : file_(file), width_(width), height_(height), row_(static_cast<std::size_t>(width) * 4 + 1) {
    start(deflate);
}

PngStreamWriter::PngStreamWriter(ByteSink& file, std::uint32_t width, std::uint32_t height,
                                 std::vector<std::uint32_t> palette, const DeflateOptions& deflate)
    : file_(file), width_(width), height_(height), palette_(std::move(palette)) {
    bitDepth_ = palette_.size() <= 2 ? 1 : palette_.size() <= 4 ? 2 : palette_.size() <= 16 ? 4 : 8;
    row_.resize((static_cast<std::size_t>(width) * static_cast<std::size_t>(bitDepth_) + 7) / 8 + 1);
    colorType_ = 3;
    pixelBytes_ = 1;
    if (palette_.empty() || palette_.size() > 256) ok_ = false;
    if (ok_ && bitDepth_ < 8) {
        // Whole bytes of indices, those past the row 0; the colours repeated up to a power of two.
        indices_.assign((row_.size() - 1) * static_cast<std::size_t>(8 / bitDepth_), 0);
        colors_.fill(palette_.back());
        std::copy(palette_.begin(), palette_.end(), colors_.begin());
    }
    start(deflate);
}

PngStreamWriter::PngStreamWriter(ByteSink& file, std::uint32_t width, std::uint32_t height, Samples samples,
                                 Filter filter, const DeflateOptions& deflate)
    : file_(file), width_(width), height_(height), filter_(filter) {
    bitDepth_ = samples == Samples::grey16 ? 16 : 8;
    colorType_ = samples == Samples::grey16 ? 0 : 2;
    pixelBytes_ = samples == Samples::grey16 ? 2 : 3;
    row_.resize(static_cast<std::size_t>(width) * pixelBytes_ + 1);
    if (filter_ == Filter::up) previous_.assign(row_.size() - 1, 0);
    start(deflate);
}

void PngStreamWriter::start(const DeflateOptions& deflate) {
    if (!ok_ || width_ == 0 || height_ == 0) {
        ok_ = false;
        return;
    }
    deflate_ = std::make_unique<ParallelDeflate>(
        deflate, [this](const std::uint8_t* data, std::size_t size) { return writeIdat(data, size); });
    idat_.reserve(kChunkSize);
    static constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::uint8_t header[13];
    putBigEndian(header, width_);
    putBigEndian(header + 4, height_);
    header[8] = static_cast<std::uint8_t>(bitDepth_);
    header[9] = static_cast<std::uint8_t>(colorType_);
    header[10] = header[11] = header[12] = 0;
    ok_ = file_.write(kSignature, sizeof kSignature) && writeChunk("IHDR", header, sizeof header);
    if (ok_ && !palette_.empty()) {
        std::vector<std::uint8_t> rgb, alpha;
        bool translucent = false;
        for (std::uint32_t color : palette_) {
            rgb.insert(rgb.end(), {static_cast<std::uint8_t>(color >> 16), static_cast<std::uint8_t>(color >> 8),
                                   static_cast<std::uint8_t>(color)});
            alpha.push_back(static_cast<std::uint8_t>(color >> 24));
            translucent = translucent || alpha.back() != 0xFF;
        }
        ok_ = writeChunk("PLTE", rgb.data(), rgb.size()) &&
              (!translucent || writeChunk("tRNS", alpha.data(), alpha.size()));
    }
    ok_ = ok_ && deflate_->ok();
}

PngStreamWriter::~PngStreamWriter() = default;

bool PngStreamWriter::writeChunk(const char* type, const std::uint8_t* data, std::size_t size) {
    std::uint8_t head[8];
    putBigEndian(head, static_cast<std::uint32_t>(size));
    std::copy(type, type + 4, head + 4);
    uLong crc = crc32(0L, head + 4, 4);
    if (size > 0) crc = crc32(crc, data, static_cast<uInt>(size));
    std::uint8_t tail[4];
    putBigEndian(tail, static_cast<std::uint32_t>(crc));
    return file_.write(head, 8) && (size == 0 || file_.write(data, size)) && file_.write(tail, 4);
}

bool PngStreamWriter::writeText(std::string_view keyword, std::string_view text) {
    const bool keywordOk = !keyword.empty() && keyword.size() <= 79 && keyword.front() != ' ' &&
                           keyword.back() != ' ' &&
                           std::all_of(keyword.begin(), keyword.end(), [](char c) { return c >= 32 && c < 127; });
    if (!ok_ || rowsWritten_ > 0 || !keywordOk) return ok_ = false;
    const bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; });
    std::vector<std::uint8_t> data(keyword.begin(), keyword.end());
    data.push_back(0);
    // iTXt: not compressed, no language tag, no translated keyword.
    if (!ascii) data.insert(data.end(), {0, 0, 0, 0});
    data.insert(data.end(), text.begin(), text.end());
    return ok_ = writeChunk(ascii ? "tEXt" : "iTXt", data.data(), data.size());
}

// Takes the next bytes of the zlib stream, writing an IDAT chunk whenever 1 MiB is gathered.
bool PngStreamWriter::writeIdat(const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const std::size_t take = std::min(size, kChunkSize - idat_.size());
        idat_.insert(idat_.end(), data, data + take);
        data += take;
        size -= take;
        if (idat_.size() == kChunkSize) {
            if (!writeChunk("IDAT", idat_.data(), idat_.size())) return false;
            idat_.clear();
        }
    }
    return true;
}

// Turns a row of pixels into the bytes of a PNG row (filter type 0 first).
bool PngStreamWriter::packRow(const std::uint32_t* pixels) {
    std::uint8_t* dst = row_.data();
    *dst++ = 0;  // filter type: none
    if (palette_.empty()) {
        for (std::uint32_t i = 0; i < width_; ++i, dst += 4) {
            const std::uint32_t p = pixels[i];
            dst[0] = static_cast<std::uint8_t>(p >> 16);
            dst[1] = static_cast<std::uint8_t>(p >> 8);
            dst[2] = static_cast<std::uint8_t>(p);
            dst[3] = static_cast<std::uint8_t>(p >> 24);
        }
        return true;
    }
    if (bitDepth_ < 8) {
        // Few colours: every pixel compared with each of them, then the indices packed.
        const bool inPalette = bitDepth_ == 1   ? indexPixels<2>(pixels, indices_.data(), width_, colors_.data())
                               : bitDepth_ == 2 ? indexPixels<4>(pixels, indices_.data(), width_, colors_.data())
                                                : indexPixels<16>(pixels, indices_.data(), width_, colors_.data());
        if (!inPalette) return false;  // a colour the palette lacks
        if (bitDepth_ == 1)
            packIndices<1>(indices_.data(), dst, row_.size() - 1);
        else if (bitDepth_ == 2)
            packIndices<2>(indices_.data(), dst, row_.size() - 1);
        else
            packIndices<4>(indices_.data(), dst, row_.size() - 1);
        return true;
    }
    std::uint32_t lastColor = palette_[0];
    unsigned lastIndex = 0;
    for (std::uint32_t i = 0; i < width_; ++i) {
        if (pixels[i] != lastColor) {
            const auto found = std::find(palette_.begin(), palette_.end(), pixels[i]);
            if (found == palette_.end()) return false;  // a colour the palette lacks
            lastColor = pixels[i];
            lastIndex = static_cast<unsigned>(found - palette_.begin());
        }
        dst[i] = static_cast<std::uint8_t>(lastIndex);
    }
    return true;
}

bool PngStreamWriter::writeRow(const std::uint32_t* pixels) {
    if (!ok_ || colorType_ == 0 || colorType_ == 2 || rowsWritten_ >= height_ || !packRow(pixels)) return ok_ = false;
    ++rowsWritten_;
    return ok_ = deflate_->write(row_.data(), row_.size());
}

bool PngStreamWriter::writeRowBytes(const std::uint8_t* bytes) {
    if (!ok_ || rowsWritten_ >= height_ || (colorType_ != 0 && colorType_ != 2)) return ok_ = false;
    const std::size_t size = row_.size() - 1;
    std::uint8_t* dst = row_.data() + 1;
    row_[0] = static_cast<std::uint8_t>(filter_);
    if (filter_ == Filter::sub) {
        std::copy(bytes, bytes + std::min(pixelBytes_, size), dst);
        for (std::size_t i = pixelBytes_; i < size; ++i)
            dst[i] = static_cast<std::uint8_t>(bytes[i] - bytes[i - pixelBytes_]);
    } else if (filter_ == Filter::up) {
        for (std::size_t i = 0; i < size; ++i) dst[i] = static_cast<std::uint8_t>(bytes[i] - previous_[i]);
        std::copy(bytes, bytes + size, previous_.begin());
    } else {
        std::copy(bytes, bytes + size, dst);
    }
    ++rowsWritten_;
    return ok_ = deflate_->write(row_.data(), row_.size());
}

bool PngStreamWriter::finish() {
    if (!ok_ || rowsWritten_ != height_) return ok_ = false;
    ok_ = deflate_->finish();
    if (ok_ && !idat_.empty()) ok_ = writeChunk("IDAT", idat_.data(), idat_.size());
    if (ok_) ok_ = writeChunk("IEND", nullptr, 0);
    return ok_;
}

}  // namespace orv
