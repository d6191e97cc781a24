#include "io/PngText.hpp"

#include <zlib.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

namespace orv {
namespace {

// Text chunks longer than this (and texts that inflate beyond it) are taken as damage.
constexpr std::uint32_t kMaxText = 16u << 20;

class PngReadCategory : public std::error_category {
public:
    const char* name() const noexcept override { return "png-read"; }
    std::string message(int value) const override {
        return static_cast<PngReadError>(value) == PngReadError::notPng ? "not a PNG file" : "a damaged PNG file";
    }
};

std::uint32_t bigEndian(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

std::string latin1ToUtf8(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<std::uint8_t>(c);
        if (byte < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | byte >> 6);
            out += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return out;
}

bool inflateText(std::string_view packed, std::string& text) {
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK) return false;
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    zs.avail_in = static_cast<uInt>(packed.size());
    char buffer[16384];
    int status = Z_OK;
    while (status == Z_OK) {
        zs.next_out = reinterpret_cast<Bytef*>(buffer);
        zs.avail_out = sizeof buffer;
        status = inflate(&zs, Z_NO_FLUSH);
        text.append(buffer, sizeof buffer - zs.avail_out);
        if (text.size() > kMaxText || (status == Z_BUF_ERROR && zs.avail_in == 0)) break;
    }
    inflateEnd(&zs);
    return status == Z_STREAM_END;
}

// Keyword and text of a tEXt, zTXt or iTXt chunk; false when it is malformed.
bool decodeText(std::string_view type, std::string_view data, std::pair<std::string, std::string>& out) {
    const std::size_t zero = data.find('\0');
    if (zero == std::string_view::npos || zero == 0) return false;
    out.first = latin1ToUtf8(data.substr(0, zero));
    std::string_view rest = data.substr(zero + 1);
    if (type == "tEXt") {
        out.second = latin1ToUtf8(rest);
        return true;
    }
    if (type == "zTXt") {
        std::string text;
        if (rest.empty() || rest[0] != 0 || !inflateText(rest.substr(1), text)) return false;
        out.second = latin1ToUtf8(text);
        return true;
    }
    // iTXt: compression flag and method, language tag, translated keyword, UTF-8 text.
    if (rest.size() < 2) return false;
    const bool compressed = rest[0] != 0;
    rest.remove_prefix(2);
    for (int field = 0; field < 2; ++field) {
        const std::size_t end = rest.find('\0');
        if (end == std::string_view::npos) return false;
        rest.remove_prefix(end + 1);
    }
    out.second.clear();
    if (!compressed) {
        out.second = rest;
        return true;
    }
    return inflateText(rest, out.second);
}

}  // namespace

const std::error_category& pngReadErrorCategory() {
    static const PngReadCategory category;
    return category;
}

std::error_code readPngTexts(const std::filesystem::path& path, TextChunks& texts) {
    texts.clear();
    errno = 0;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) return {errno != 0 ? errno : EIO, std::generic_category()};
    auto readExactly = [&](void* to, std::size_t size) { return std::fread(to, 1, size, file.get()) == size; };
    auto failure = [&](std::error_code otherwise) -> std::error_code {
        if (std::ferror(file.get())) return {errno != 0 ? errno : EIO, std::generic_category()};
        return otherwise;
    };

    static constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::uint8_t signature[8];
    if (!readExactly(signature, 8) || std::memcmp(signature, kSignature, 8) != 0) return failure(PngReadError::notPng);
    std::vector<std::uint8_t> data;
    for (;;) {
        std::uint8_t head[8];
        if (!readExactly(head, 8)) return failure(PngReadError::damaged);
        const std::uint32_t length = bigEndian(head);
        const std::string_view type(reinterpret_cast<const char*>(head + 4), 4);
        if (length > 0x7FFFFFFFu) return PngReadError::damaged;
        const bool text = type == "tEXt" || type == "zTXt" || type == "iTXt";
        if (!text) {
            // Passed over, by seeking where the file allows it.
            if (std::fseek(file.get(), static_cast<long>(length) + 4, SEEK_CUR) != 0) {
                std::uint8_t skipped[65536];
                for (std::uint64_t left = std::uint64_t{length} + 4; left > 0;) {
                    const std::size_t n = left < sizeof skipped ? static_cast<std::size_t>(left) : sizeof skipped;
                    if (!readExactly(skipped, n)) return failure(PngReadError::damaged);
                    left -= n;
                }
            }
            if (type == "IEND") return std::ferror(file.get()) ? failure({}) : std::error_code{};
            continue;
        }
        if (length > kMaxText) return PngReadError::damaged;
        data.resize(length + 4);
        if (!readExactly(data.data(), data.size())) return failure(PngReadError::damaged);
        uLong crc = crc32(0L, head + 4, 4);
        crc = crc32(crc, data.data(), length);
        if (static_cast<std::uint32_t>(crc) != bigEndian(data.data() + length)) return PngReadError::damaged;
        std::pair<std::string, std::string> chunk;
        if (!decodeText(type, std::string_view(reinterpret_cast<const char*>(data.data()), length), chunk))
            return PngReadError::damaged;
        texts.push_back(std::move(chunk));
    }
}

}  // namespace orv
