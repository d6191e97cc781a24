#include "settings/NumberText.hpp"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace orv {

std::string shortestTextFromDigits(double value) {
    if (!std::isfinite(value)) return {};
    // The fewest significant digits that read back as the value, as printf rounds them.
    char scientific[40];
    for (int digits = 1; digits <= 17; ++digits) {
        std::snprintf(scientific, sizeof scientific, "%.*e", digits - 1, value);
        if (std::strtod(scientific, nullptr) == value) break;
    }
    // scientific holds [-]D[.DDD]e(+|-)XX: the digits and the exponent of the first one.
    const std::string text(scientific);
    const std::size_t e = text.find('e');
    const bool negative = text[0] == '-';
    std::string digits;
    for (std::size_t i = negative ? 1 : 0; i < e; ++i)
        if (text[i] != '.') digits += text[i];
    const int exponent = std::atoi(text.c_str() + e + 1);
    const int count = static_cast<int>(digits.size());
    std::string fixed;
    if (exponent >= count - 1) {
        // A whole number: its exact digits, as long as the shortest digits and zeros would be.
        char whole[400];
        std::snprintf(whole, sizeof whole, "%.0f", negative ? -value : value);
        fixed = whole;
    } else if (exponent >= 0) {
        fixed = digits.substr(0, static_cast<std::size_t>(exponent) + 1) + "." +
                digits.substr(static_cast<std::size_t>(exponent) + 1);
    } else {
        fixed = "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
    }
    const std::string sign = negative ? "-" : "";
    const std::string shortScientific = text.substr(negative ? 1 : 0);
    return sign + (shortScientific.size() < fixed.size() ? shortScientific : fixed);
}

std::string shortestText(double value) {
#if defined(__EMSCRIPTEN__)
    return shortestTextFromDigits(value);
#else
    char buffer[40];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::isfinite(value) && ec == std::errc{} ? std::string(buffer, end) : std::string();
#endif
}

std::errc readDoubleWithStrtod(std::string_view text, double& value) {
    // strtod also takes leading blanks, a plus sign and hexadecimal numbers, which from_chars
    // does not.
    if (text.empty() || text[0] == '+' || text.find_first_of(" \t\n\v\f\rxXpP") != std::string_view::npos)
        return std::errc::invalid_argument;
    const std::string number(text);
    char* end = nullptr;
    errno = 0;
    const double read = std::strtod(number.c_str(), &end);
    if (end != number.c_str() + number.size()) return std::errc::invalid_argument;
    if (errno == ERANGE) return std::errc::result_out_of_range;
    value = read;
    return {};
}

std::errc readDouble(std::string_view text, double& value) {
#if defined(__EMSCRIPTEN__)
    return readDoubleWithStrtod(text, value);
#else
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error == std::errc{} && end != text.data() + text.size()) return std::errc::invalid_argument;
    return error;
#endif
}

bool isWholeNumber(std::string_view text) {
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) text.remove_prefix(1);
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

bool readInt64(std::string_view text, std::int64_t& value) {
    if (text.starts_with('+')) text.remove_prefix(1);
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc{} && end == text.data() + text.size() && !text.empty();
}

}  // namespace orv
