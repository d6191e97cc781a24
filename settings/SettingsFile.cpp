#include "settings/SettingsFile.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <limits>
#include <memory>

#include "settings/InputItem.hpp"
#include "settings/TextFormat.hpp"

namespace orv {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

unsigned digitValue(char c) {
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'z') return static_cast<unsigned>(c - 'a' + 10);
    if (c >= 'A' && c <= 'Z') return static_cast<unsigned>(c - 'A' + 10);
    return 99;
}

std::error_code lastError() {
    return {errno != 0 ? errno : EIO, std::generic_category()};
}

class ReadCategory : public std::error_category {
public:
    const char* name() const noexcept override { return "read"; }
    std::string message(int value) const override {
        return static_cast<ReadError>(value) == ReadError::notRegularFile ? "Not a regular file" : "Unknown read error";
    }
};

}  // namespace

std::int32_t settingsInteger(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    if (text.empty()) return 0;
    if (text.size() >= 2 && text[0] == '&') {
        unsigned base = 8;
        std::size_t start = 1;
        switch (text[1]) {
            case 'h':
            case 'H':
                base = 16;
                start = 2;
                break;
            case 'o':
            case 'O':
                base = 8;
                start = 2;
                break;
            case 'b':
            case 'B':
                base = 2;
                start = 2;
                break;
            default:
                break;
        }
        std::uint32_t value = 0;  // unsigned, so that long numbers wrap around
        for (std::size_t i = start; i < text.size(); ++i) {
            const unsigned d = digitValue(text[i]);
            if (d >= base) break;
            value = value * base + d;
        }
        return static_cast<std::int32_t>(value);
    }
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    // The magnitude stops growing at 2^31, one past the largest positive value, which is enough
    // to tell every value beyond the range from those inside it.
    constexpr std::int64_t kLimit = std::int64_t{1} << 31;
    std::int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        magnitude = std::min(magnitude * 10 + (text[i] - '0'), kLimit);
    const std::int64_t value = negative ? -magnitude : magnitude;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                              std::numeric_limits<std::int32_t>::max()));
}

const SettingsKey* findSettingsKey(std::string_view item) {
    const std::string key = lowerCase(trimBlanks(item.substr(0, item.find('='))));
    for (const SettingsKey& k : kSettingsKeys)
        if (k.name == key) return &k;
    return nullptr;
}

bool applySettingsItem(Settings& settings, std::string_view item) {
    const SettingsKey* key = findSettingsKey(item);
    if (key == nullptr) return false;
    const std::size_t eq = item.find('=');
    const std::string value = lowerCase(trimBlanks(eq == std::string_view::npos ? item : item.substr(eq + 1)));
    settings.*key->field = settingsInteger(value);
    return true;
}

void applySettingsText(Settings& settings, std::string_view text) {
    if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
    // At least one item is read, so an empty file gives one empty item, which changes nothing.
    std::size_t pos = 0;
    do applySettingsItem(settings, readInputItem(text, pos));
    while (pos < text.size());
}

std::vector<std::string> settingsItems(std::string_view text) {
    if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
    std::vector<std::string> items;
    std::size_t pos = 0;
    do items.push_back(readInputItem(text, pos));
    while (pos < text.size());
    return items;
}

bool holdsNumber(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    if (text.size() >= 2 && text[0] == '&') {
        unsigned base = 8;
        std::size_t start = 1;
        const char kind = static_cast<char>(text[1] | 0x20);
        if (kind == 'h' || kind == 'o' || kind == 'b') {
            base = kind == 'h' ? 16 : kind == 'o' ? 8 : 2;
            start = 2;
        }
        return start < text.size() && digitValue(text[start]) < base;
    }
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) text.remove_prefix(1);
    return !text.empty() && text[0] >= '0' && text[0] <= '9';
}

std::optional<std::string> strictSettingsProblem(std::string_view line) {
    for (const std::string& item : settingsItems(line)) {
        const std::size_t eq = item.find('=');
        if (eq == std::string::npos) return item + ": expected KEY=VALUE, such as landcolor=12";
        if (findSettingsKey(item) == nullptr)
            return unknownKeyMessage(trimBlanks(std::string_view(item).substr(0, eq)));
        if (!holdsNumber(std::string_view(item).substr(eq + 1)))
            return item + ": the value holds no number (such as 12, -3 or &hFF)";
    }
    return std::nullopt;
}

std::string settingsFileName(std::string_view answer) {
    std::string name(answer);
    if (name.find(".ini") == std::string::npos) name += ".ini";
    return name;
}

const std::error_category& readErrorCategory() {
    static const ReadCategory category;
    return category;
}

std::error_code readRegularFile(const std::filesystem::path& path, std::string& text, std::size_t maxSize) {
    text.clear();
    // Opened without waiting, so that a FIFO with no writer cannot hold the program up; what
    // is not a regular file is then turned away before a byte is read.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return lastError();
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } const closer{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0) return lastError();
    if (S_ISDIR(info.st_mode)) return std::make_error_code(std::errc::is_a_directory);
    if (!S_ISREG(info.st_mode)) return ReadError::notRegularFile;
    if (static_cast<std::uint64_t>(info.st_size) > maxSize) return std::make_error_code(std::errc::file_too_large);
    std::string chunk(std::size_t{1} << 16, '\0');
    for (;;) {
        const ssize_t n = ::read(fd, chunk.data(), chunk.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            const std::error_code why = lastError();
            text.clear();
            return why;
        }
        if (n == 0) return {};
        // The file may have grown since it was measured.
        if (static_cast<std::size_t>(n) > maxSize - text.size()) {
            text.clear();
            return std::make_error_code(std::errc::file_too_large);
        }
        text.append(chunk, 0, static_cast<std::size_t>(n));
    }
}

std::error_code readSettingsFile(const std::filesystem::path& path, std::string& text) {
    return readRegularFile(path, text, kMaxSettingsFileSize);
}

std::string unreadableFileNotice(std::string_view fileName, const std::error_code& why, std::size_t width) {
    const std::string head = " Could not read ";
    const std::string tail = " (" + why.message() + "); using the pre-set conditions.";
    const std::size_t fixed = head.size() + tail.size();
    std::string line = head + shortenedInMiddle(fileName, width > fixed ? width - fixed : 0) + tail;
    if (line.size() > width) line.resize(width);
    return line;
}

std::string clampNotice(const std::vector<ClampedSetting>& changes, std::size_t width) {
    if (changes.empty()) return {};
    auto item = [&changes](std::size_t i) {
        return std::string(changes[i].key) + " " + intToText(changes[i].from) + " to " + intToText(changes[i].to);
    };
    // As many whole items as fit with the count of the others after them.
    for (std::size_t shown = changes.size();; --shown) {
        std::string line = " Out of range, changed:";
        for (std::size_t i = 0; i < shown; ++i) line += (i == 0 ? " " : ", ") + item(i);
        if (shown < changes.size())
            line +=
                (shown == 0 ? " " : ", ") + std::string("... and ") + std::to_string(changes.size() - shown) + " more";
        line += ".";
        if (line.size() <= width || shown == 0) {
            if (line.size() > width) line.resize(width);
            return line;
        }
    }
}

}  // namespace orv
