#include "io/PngText.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace orv {
namespace {

// Text chunks longer than this are taken as damage.
constexpr std::uint32_t kMaxText = 16u << 20;

class PngReadCategory : public std::error_category {
public:
    const char* name() const noexcept override { return "png-read"; }
    std::string message(int value) const override {
        switch (static_cast<PngReadError>(value)) {
            case PngReadError::notPng:
                return "not a PNG file";
            case PngReadError::damaged:
                return "a damaged PNG file";
            case PngReadError::notRegularFile:
                return "not a regular file";
            case PngReadError::textsTooLarge:
                return "its texts are larger than any recipe (a damaged PNG file)";
        }
        return "unknown PNG read error";
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

// Inflates at most limit bytes; false beyond them, as for a stream that does not end well.
bool inflateText(std::string_view packed, std::string& text, std::size_t limit) {
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
        if (text.size() > limit || (status == Z_BUF_ERROR && zs.avail_in == 0)) break;
    }
    inflateEnd(&zs);
    return status == Z_STREAM_END && text.size() <= limit;
}

// Keyword and text of a tEXt, zTXt or iTXt chunk; false when it is malformed.
bool decodeText(std::string_view type, std::string_view data, std::pair<std::string, std::string>& out,
                std::size_t limit) {
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
        if (rest.empty() || rest[0] != 0 || !inflateText(rest.substr(1), text, limit)) return false;
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
    return inflateText(rest, out.second, limit);
}

}  // namespace

const std::error_category& pngReadErrorCategory() {
    static const PngReadCategory category;
    return category;
}

std::error_code readPngTexts(const std::filesystem::path& path, TextChunks& texts,
                             const std::function<bool(std::string_view keyword)>& wanted) {
    texts.clear();
    errno = 0;
    // Opened without waiting (a FIFO with no writer) and read only when it is a regular file:
    // a FIFO or a device could make the reading wait or run on for ever.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return {errno != 0 ? errno : EIO, std::generic_category()};
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int why = errno;
        ::close(fd);
        return {why, std::generic_category()};
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        return S_ISDIR(info.st_mode) ? std::make_error_code(std::errc::is_a_directory)
                                     : make_error_code(PngReadError::notRegularFile);
    }
    (void)::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(::fdopen(fd, "rb"), &std::fclose);
    if (!file) {
        ::close(fd);
        return {errno != 0 ? errno : EIO, std::generic_category()};
    }
    auto readExactly = [&](void* to, std::size_t size) { return std::fread(to, 1, size, file.get()) == size; };
    auto failure = [&](std::error_code otherwise) -> std::error_code {
        if (std::ferror(file.get())) return {errno != 0 ? errno : EIO, std::generic_category()};
        return otherwise;
    };

    static constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::uint8_t signature[8];
    if (!readExactly(signature, 8) || std::memcmp(signature, kSignature, 8) != 0) return failure(PngReadError::notPng);
    std::vector<std::uint8_t> data;
    std::size_t kept = 0;  // the bytes of the texts kept so far
    for (;;) {
        std::uint8_t head[8];
        if (!readExactly(head, 8)) return failure(PngReadError::damaged);
        const std::uint32_t length = bigEndian(head);
        const std::string_view type(reinterpret_cast<const char*>(head + 4), 4);
        if (length > 0x7FFFFFFFu) return PngReadError::damaged;
        const bool text = type == "tEXt" || type == "zTXt" || type == "iTXt";
        if (!text || length > kMaxText) {
            if (text) return PngReadError::damaged;
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
        data.resize(length + 4);
        if (!readExactly(data.data(), data.size())) return failure(PngReadError::damaged);
        uLong crc = crc32(0L, head + 4, 4);
        crc = crc32(crc, data.data(), length);
        if (static_cast<std::uint32_t>(crc) != bigEndian(data.data() + length)) return PngReadError::damaged;
        const std::string_view chunk(reinterpret_cast<const char*>(data.data()), length);
        const std::size_t zero = chunk.find('\0');
        if (zero == std::string_view::npos || zero == 0) return PngReadError::damaged;
        if (wanted && !wanted(latin1ToUtf8(chunk.substr(0, zero)))) continue;
        std::pair<std::string, std::string> decoded;
        if (!decodeText(type, chunk, decoded, kMaxTexts - kept)) {
            // A text that inflates beyond what is left of the allowance is a bomb, not a recipe.
            return kept + decoded.second.size() > kMaxTexts ? make_error_code(PngReadError::textsTooLarge)
                                                            : make_error_code(PngReadError::damaged);
        }
        kept += decoded.first.size() + decoded.second.size();
        if (kept > kMaxTexts) return PngReadError::textsTooLarge;
        texts.push_back(std::move(decoded));
    }
}

}  // namespace orv
