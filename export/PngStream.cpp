#include "export/PngStream.hpp"

#include "export/SafeWrite.hpp"

#include <algorithm>
#include <new>

namespace orv {
namespace {

constexpr std::size_t kChunkSize = std::size_t{1} << 20;

void putBigEndian(std::uint8_t* out, std::uint32_t value) {
    out[0] = static_cast<std::uint8_t>(value >> 24);
    out[1] = static_cast<std::uint8_t>(value >> 16);
    out[2] = static_cast<std::uint8_t>(value >> 8);
    out[3] = static_cast<std::uint8_t>(value);
}

}  // namespace

PngStreamWriter::PngStreamWriter(SafeFile& file, std::uint32_t width, std::uint32_t height)
    : file_(file), width_(width), height_(height), row_(static_cast<std::size_t>(width) * 4 + 1), out_(kChunkSize) {
    start();
}

PngStreamWriter::PngStreamWriter(SafeFile& file, std::uint32_t width, std::uint32_t height,
                                 std::vector<std::uint32_t> palette)
    : file_(file), width_(width), height_(height), palette_(std::move(palette)), out_(kChunkSize) {
    bitDepth_ = palette_.size() <= 2 ? 1 : palette_.size() <= 4 ? 2 : palette_.size() <= 16 ? 4 : 8;
    row_.resize((static_cast<std::size_t>(width) * static_cast<std::size_t>(bitDepth_) + 7) / 8 + 1);
    if (palette_.empty() || palette_.size() > 256) ok_ = false;
    start();
}

void PngStreamWriter::start() {
    const int status = ok_ && width_ > 0 && height_ > 0 ? deflateInit(&zs_, Z_DEFAULT_COMPRESSION) : Z_STREAM_ERROR;
    // Running out of memory is told as it is everywhere else, not as a failure to encode.
    if (status == Z_MEM_ERROR) throw std::bad_alloc();
    if (status != Z_OK) {
        ok_ = false;
        return;
    }
    zsReady_ = true;
    static constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::uint8_t header[13];
    putBigEndian(header, width_);
    putBigEndian(header + 4, height_);
    header[8] = static_cast<std::uint8_t>(bitDepth_);
    header[9] = palette_.empty() ? 6 : 3;  // RGB with alpha, or palette indices
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
        ok_ = writeChunk("PLTE", rgb.data(), rgb.size()) && (!translucent || writeChunk("tRNS", alpha.data(), alpha.size()));
    }
    zs_.next_out = out_.data();
    zs_.avail_out = static_cast<uInt>(out_.size());
}

PngStreamWriter::~PngStreamWriter() {
    if (zsReady_) deflateEnd(&zs_);
}

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

// Runs deflate over the pending input, writing an IDAT chunk whenever the output buffer fills.
bool PngStreamWriter::deflateSome(int flush) {
    for (;;) {
        const int status = deflate(&zs_, flush);
        if (status == Z_STREAM_ERROR) return false;
        if (zs_.avail_out == 0) {
            if (!writeChunk("IDAT", out_.data(), out_.size())) return false;
            zs_.next_out = out_.data();
            zs_.avail_out = static_cast<uInt>(out_.size());
            continue;
        }
        if (flush == Z_FINISH ? status == Z_STREAM_END : zs_.avail_in == 0) return true;
    }
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
    std::fill(dst, row_.data() + row_.size(), std::uint8_t{0});
    const int perByte = 8 / bitDepth_;
    std::uint32_t lastColor = palette_[0];
    unsigned lastIndex = 0;
    for (std::uint32_t i = 0; i < width_; ++i) {
        if (pixels[i] != lastColor) {
            const auto found = std::find(palette_.begin(), palette_.end(), pixels[i]);
            if (found == palette_.end()) return false;  // a colour the palette lacks
            lastColor = pixels[i];
            lastIndex = static_cast<unsigned>(found - palette_.begin());
        }
        const int shift = 8 - bitDepth_ * (1 + static_cast<int>(i % static_cast<std::uint32_t>(perByte)));
        dst[i / static_cast<std::uint32_t>(perByte)] |= static_cast<std::uint8_t>(lastIndex << shift);
    }
    return true;
}

bool PngStreamWriter::writeRow(const std::uint32_t* pixels) {
    if (!ok_ || rowsWritten_ >= height_ || !packRow(pixels)) return ok_ = false;
    zs_.next_in = row_.data();
    zs_.avail_in = static_cast<uInt>(row_.size());
    ++rowsWritten_;
    return ok_ = deflateSome(Z_NO_FLUSH);
}

bool PngStreamWriter::finish() {
    if (!ok_ || rowsWritten_ != height_) return ok_ = false;
    ok_ = deflateSome(Z_FINISH);
    const std::size_t pending = out_.size() - zs_.avail_out;
    if (ok_ && pending > 0) ok_ = writeChunk("IDAT", out_.data(), pending);
    if (ok_) ok_ = writeChunk("IEND", nullptr, 0);
    return ok_;
}

}  // namespace orv
