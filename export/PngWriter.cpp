#include "export/PngWriter.hpp"

#include <zlib.h>

#include <cstdio>
#include <cstring>

namespace orv {
namespace {

void putBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 24));
    out.push_back(static_cast<std::uint8_t>(value >> 16));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

// Appends a chunk: length, type, data and the CRC of type and data.
void putChunk(std::vector<std::uint8_t>& out, const char* type, const std::uint8_t* data, std::size_t size) {
    putBigEndian(out, static_cast<std::uint32_t>(size));
    const std::size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    if (size > 0) out.insert(out.end(), data, data + size);
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, out.data() + typeAt, static_cast<uInt>(4));
    for (std::size_t done = 0; done < size;) {  // crc32 takes at most 4 GiB a call
        const std::size_t part = std::min<std::size_t>(size - done, 1u << 30);
        crc = crc32(crc, data + done, static_cast<uInt>(part));
        done += part;
    }
    putBigEndian(out, static_cast<std::uint32_t>(crc));
}

}  // namespace

std::vector<std::uint8_t> encodePng(const ImageBuffer& image) {
    if (image.bytesPerPixel != 4 || image.width == 0 || image.height == 0) return {};
    const std::size_t rowBytes = static_cast<std::size_t>(image.width) * 4 + 1;
    if (image.pitch < static_cast<std::size_t>(image.width) * 4 ||
        image.pixels.size() < static_cast<std::size_t>(image.pitch) * (image.height - 1) + image.width * 4u)
        return {};
    std::vector<std::uint8_t> raw(rowBytes * image.height, 0);
    for (std::uint32_t j = 0; j < image.height; ++j) {
        const std::uint8_t* src = image.pixels.data() + static_cast<std::size_t>(j) * image.pitch;
        std::uint8_t* dst = raw.data() + static_cast<std::size_t>(j) * rowBytes;
        *dst++ = 0;  // filter type: none
        for (std::uint32_t i = 0; i < image.width; ++i, src += 4, dst += 4) {
            dst[0] = src[2];  // R
            dst[1] = src[1];  // G
            dst[2] = src[0];  // B
            dst[3] = src[3];  // A
        }
    }
    uLongf compressedSize = compressBound(static_cast<uLong>(raw.size()));
    std::vector<std::uint8_t> compressed(compressedSize, 0);
    if (compress(compressed.data(), &compressedSize, raw.data(), static_cast<uLong>(raw.size())) != Z_OK) return {};
    raw = {};

    std::vector<std::uint8_t> png{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::vector<std::uint8_t> header;
    putBigEndian(header, image.width);
    putBigEndian(header, image.height);
    header.insert(header.end(), {8, 6, 0, 0, 0});
    putChunk(png, "IHDR", header.data(), header.size());
    putChunk(png, "IDAT", compressed.data(), compressedSize);
    putChunk(png, "IEND", nullptr, 0);
    return png;
}

int writePng(const std::string& fileName, const ImageBuffer* image) {
    if (image == nullptr || fileName.empty() || image->bytesPerPixel != 4) return 1;
    const std::vector<std::uint8_t> png = encodePng(*image);
    if (png.empty()) return 1;
    std::FILE* file = std::fopen(fileName.c_str(), "wb");
    if (file == nullptr) return 1;
    const bool written = std::fwrite(png.data(), 1, png.size(), file) == png.size();
    const bool closed = std::fclose(file) == 0;
    return written && closed ? 0 : 1;
}

}  // namespace orv
