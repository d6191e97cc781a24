#include "io/PngWriter.hpp"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <functional>
#include <limits>
#include <new>

namespace orv {
namespace {

constexpr std::array<std::uint8_t, 8> kSignature{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr std::uint32_t kMaxChunkLength = 0x7FFFFFFFu;  // a PNG length or dimension fits in 31 bits

class PngCategory : public std::error_category {
public:
    const char* name() const noexcept override { return "png"; }
    std::string message(int value) const override {
        switch (static_cast<PngError>(value)) {
            case PngError::noImage:
                return "no picture to save";
            case PngError::notFourBytes:
                return "the picture is not 32 bits per pixel";
            case PngError::badLayout:
                return "the picture's rows are malformed";
            case PngError::tooLarge:
                return "the picture is too large";
            case PngError::compressFailed:
                return "compression failed";
        }
        return "unknown PNG error";
    }
};

void putBigEndian(std::uint8_t* out, std::uint32_t value) {
    out[0] = static_cast<std::uint8_t>(value >> 24);
    out[1] = static_cast<std::uint8_t>(value >> 16);
    out[2] = static_cast<std::uint8_t>(value >> 8);
    out[3] = static_cast<std::uint8_t>(value);
}

std::uint32_t chunkCrc(const char* type, const std::uint8_t* data, std::size_t size) {
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(type), 4);
    if (size > 0) crc = crc32_z(crc, data, size);
    return static_cast<std::uint32_t>(crc);
}

// Checks what the encoder relies on before any file is touched; the raw (filtered) size on success.
std::error_code checkImage(const ImageBuffer* image, std::size_t& rawSize) {
    if (image == nullptr) return PngError::noImage;
    if (image->bytesPerPixel != 4) return PngError::notFourBytes;
    if (image->width == 0 || image->height == 0) return PngError::badLayout;
    if (image->width > kMaxChunkLength || image->height > kMaxChunkLength) return PngError::tooLarge;
    const std::size_t rowBytes = static_cast<std::size_t>(image->width) * 4;
    if (image->pitch < rowBytes) return PngError::badLayout;
    std::size_t needed = 0;
    if (__builtin_mul_overflow(static_cast<std::size_t>(image->pitch), image->height - 1, &needed) ||
        __builtin_add_overflow(needed, rowBytes, &needed) || image->pixels.size() < needed)
        return PngError::badLayout;
    if (__builtin_mul_overflow(rowBytes + 1, static_cast<std::size_t>(image->height), &rawSize) ||
        rawSize > std::numeric_limits<uLong>::max())
        return PngError::tooLarge;
    return {};
}

using ByteSink = std::function<bool(const std::uint8_t*, std::size_t)>;

// Produces the PNG bytes of a checked image through put, piece by piece in file order. Stops at
// the first piece that put refuses (its reason is the sink's to keep).
std::error_code emitPng(const ImageBuffer& image, std::size_t rawSize, const ByteSink& put) {
    if (!put(kSignature.data(), kSignature.size())) return {};

    std::array<std::uint8_t, 25> header{};
    putBigEndian(&header[0], 13);
    std::copy_n("IHDR", 4, header.begin() + 4);
    putBigEndian(&header[8], image.width);
    putBigEndian(&header[12], image.height);
    header[16] = 8;  // bit depth
    header[17] = 6;  // colour type: RGB with alpha
    // compression, filter and interlace methods stay 0
    putBigEndian(&header[21], chunkCrc("IHDR", &header[8], 13));
    if (!put(header.data(), header.size())) return {};

    std::vector<std::uint8_t> compressed;
    uLongf compressedSize = 0;
    try {
        const std::size_t rowBytes = static_cast<std::size_t>(image.width) * 4 + 1;
        std::vector<std::uint8_t> raw(rawSize, 0);
        for (std::uint32_t j = 0; j < image.height; ++j) {
            const std::uint8_t* src = image.pixels.data() + static_cast<std::size_t>(j) * image.pitch;
            std::uint8_t* dst = raw.data() + static_cast<std::size_t>(j) * rowBytes;
            *dst++ = 0;  // filter type: none
            for (std::uint32_t i = 0; i < image.width; ++i, src += 4, dst += 4) {
                dst[0] = src[2];  // R
                dst[1] = src[1];  // G
                dst[2] = src[0];  // B
                dst[3] = src[3];  // A, as it is
            }
        }
        compressedSize = compressBound(static_cast<uLong>(rawSize));
        compressed.assign(compressedSize, 0);
        const int result = compress(compressed.data(), &compressedSize, raw.data(), static_cast<uLong>(rawSize));
        if (result == Z_MEM_ERROR) return std::make_error_code(std::errc::not_enough_memory);
        if (result != Z_OK) return PngError::compressFailed;
    } catch (const std::bad_alloc&) {
        return std::make_error_code(std::errc::not_enough_memory);
    } catch (const std::length_error&) {
        return PngError::tooLarge;
    }
    if (compressedSize > kMaxChunkLength) return PngError::tooLarge;

    std::array<std::uint8_t, 8> idat{};
    putBigEndian(&idat[0], static_cast<std::uint32_t>(compressedSize));
    std::copy_n("IDAT", 4, idat.begin() + 4);
    if (!put(idat.data(), idat.size())) return {};
    if (!put(compressed.data(), compressedSize)) return {};
    std::array<std::uint8_t, 4> crc{};
    putBigEndian(crc.data(), chunkCrc("IDAT", compressed.data(), compressedSize));
    compressed = {};
    if (!put(crc.data(), crc.size())) return {};

    std::array<std::uint8_t, 8> iend{};
    std::copy_n("IEND", 4, iend.begin() + 4);
    if (!put(iend.data(), iend.size())) return {};
    putBigEndian(crc.data(), chunkCrc("IEND", nullptr, 0));
    put(crc.data(), crc.size());
    return {};
}

}  // namespace

const std::error_category& pngErrorCategory() {
    static const PngCategory category;
    return category;
}

std::vector<std::uint8_t> encodePng(const ImageBuffer& image) {
    std::size_t rawSize = 0;
    if (checkImage(&image, rawSize)) return {};
    std::vector<std::uint8_t> png;
    try {
        const std::error_code error = emitPng(image, rawSize, [&png](const std::uint8_t* data, std::size_t size) {
            png.insert(png.end(), data, data + size);
            return true;
        });
        if (error) return {};
    } catch (const std::bad_alloc&) {
        return {};
    }
    return png;
}

std::error_code writePngFile(const std::filesystem::path& fileName, const ImageBuffer* image, FileSystem& files) {
    if (fileName.empty()) return std::make_error_code(std::errc::invalid_argument);
    std::size_t rawSize = 0;
    if (const std::error_code bad = checkImage(image, rawSize)) return bad;
    SafeFile file(fileName, files);
    if (!file.ok()) return file.error();
    const std::error_code error = emitPng(
        *image, rawSize, [&file](const std::uint8_t* data, std::size_t size) { return file.write(data, size); });
    if (error) file.fail(error);
    if (file.ok()) file.commit();
    return file.error();
}

int writePng(const std::string& fileName, const ImageBuffer* image) {
    return writePngFile(fileName, image) ? 1 : 0;
}

}  // namespace orv
