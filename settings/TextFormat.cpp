#include "settings/TextFormat.hpp"

#include <cstdio>

namespace orv {

std::string intToText(std::int32_t value) {
    return std::to_string(value);
}

std::string int64ToText(std::int64_t value) {
    return std::to_string(value);
}

std::string realToText(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.16g", value);
    std::string text = buffer;
    const std::size_t e = text.find('e');
    if (e == std::string::npos) return text;
    // The C library writes at least two exponent digits; widen them to three.
    std::size_t digits = e + 1;
    if (digits < text.size() && (text[digits] == '+' || text[digits] == '-')) ++digits;
    while (text.size() - digits < 3) text.insert(digits, 1, '0');
    return text;
}

std::string repeatChar(int count, std::string_view text) {
    if (count <= 0 || text.empty()) return {};
    return std::string(static_cast<std::size_t>(count), text[0]);
}

std::string lowerCase(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return result;
}

std::string shortenedInMiddle(std::string_view text, std::size_t width) {
    if (text.size() <= width) return std::string(text);
    constexpr std::string_view kGap = "...";
    if (width <= kGap.size()) return std::string(kGap.substr(0, width));
    const std::size_t keep = width - kGap.size();
    return std::string(text.substr(0, keep / 2)) + std::string(kGap) +
           std::string(text.substr(text.size() - (keep - keep / 2)));
}

}  // namespace orv
