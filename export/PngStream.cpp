#include "export/PngStream.hpp"

#include "export/SafeWrite.hpp"

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
    if (width == 0 || height == 0 || deflateInit(&zs_, Z_DEFAULT_COMPRESSION) != Z_OK) {
        ok_ = false;
        return;
    }
    zsReady_ = true;
    static constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::uint8_t header[13];
    putBigEndian(header, width);
    putBigEndian(header + 4, height);
    header[8] = 8;   // bits per channel
    header[9] = 6;   // RGB with alpha
    header[10] = header[11] = header[12] = 0;
    ok_ = file_.write(kSignature, sizeof kSignature) && writeChunk("IHDR", header, sizeof header);
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

bool PngStreamWriter::writeRow(const std::uint32_t* pixels) {
    if (!ok_ || rowsWritten_ >= height_) return ok_ = false;
    std::uint8_t* dst = row_.data();
    *dst++ = 0;  // filter type: none
    for (std::uint32_t i = 0; i < width_; ++i, dst += 4) {
        const std::uint32_t p = pixels[i];
        dst[0] = static_cast<std::uint8_t>(p >> 16);
        dst[1] = static_cast<std::uint8_t>(p >> 8);
        dst[2] = static_cast<std::uint8_t>(p);
        dst[3] = static_cast<std::uint8_t>(p >> 24);
    }
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
