#include "settings/SeedNumber.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "settings/NumberText.hpp"
#include "settings/SettingsFile.hpp"

namespace orv {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string_view takeDigits(std::string_view text, std::size_t& i) {
    const std::size_t start = i;
    while (i < text.size() && isDigit(text[i])) ++i;
    return text.substr(start, i - start);
}

// Where the leading digit of digits x 10^exponent stands: positive for numbers of 1 and more.
// Only its sign matters, to tell a number too large for a double from one too small.
long long decimalPosition(std::string_view wholeDigits, std::string_view fractionDigits, long long exponent) {
    const std::size_t firstWhole = wholeDigits.find_first_not_of('0');
    if (firstWhole != std::string_view::npos) return static_cast<long long>(wholeDigits.size() - firstWhole) + exponent;
    const std::size_t firstFraction = fractionDigits.find_first_not_of('0');
    if (firstFraction == std::string_view::npos) return std::numeric_limits<long long>::min();  // zero
    return exponent - static_cast<long long>(firstFraction);
}

// The parts of a decimal number at the start of text: sign, digits, point and fraction, and
// an exponent with e or d (counted only when digits follow the letter).
struct DecimalNumber {
    bool negative = false;
    std::string_view whole, fraction;
    long long exponent = 0;
    bool hasExponent = false;
    std::size_t end = 0;  // where the number ends in the text
};

std::optional<DecimalNumber> scanDecimal(std::string_view text) {
    DecimalNumber n;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) n.negative = text[i++] == '-';
    n.whole = takeDigits(text, i);
    if (i < text.size() && text[i] == '.') n.fraction = takeDigits(text, ++i);
    if (n.whole.empty() && n.fraction.empty()) return std::nullopt;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E' || text[i] == 'd' || text[i] == 'D')) {
        std::size_t j = i + 1;
        const bool negativeExponent = j < text.size() && text[j] == '-';
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
        const std::string_view digits = takeDigits(text, j);
        if (!digits.empty()) {
            for (char c : digits) n.exponent = std::min(n.exponent * 10 + (c - '0'), 1'000'000'000LL);
            if (negativeExponent) n.exponent = -n.exponent;
            n.hasExponent = true;
            i = j;
        }
    }
    n.end = i;
    return n;
}

double decimalValue(const DecimalNumber& n) {
    std::string number(n.whole);
    if (!n.fraction.empty()) number.append(".").append(n.fraction);
    if (n.hasExponent) number.append("e").append(std::to_string(n.exponent));
    // Read the same way in every locale.
    double value = 0;
    const std::errc error = readDouble(number, value);
    if (error == std::errc::result_out_of_range)
        value = decimalPosition(n.whole, n.fraction, n.exponent) > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    else if (error != std::errc{})
        value = 0;  // cannot happen for the text built above
    return n.negative ? -value : value;
}

// Where the digits of an "&h", "&o", "&b" (or "&" and octal) number end; 0 without digits.
std::size_t ampersandNumberEnd(std::string_view text) {
    const char base = text.size() >= 2 ? static_cast<char>(text[1] | 0x20) : '\0';
    std::size_t i = (base == 'h' || base == 'o' || base == 'b') ? 2 : 1;
    const std::string_view allowed = base == 'h' ? "0123456789abcdefABCDEF" : base == 'b' ? "01" : "01234567";
    const std::size_t first = i;
    while (i < text.size() && allowed.find(text[i]) != std::string_view::npos) ++i;
    return i > first ? i : 0;
}

}  // namespace

double seedNumber(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    if (text.empty()) return 0;
    if (text.size() >= 2 && text[0] == '&') return settingsInteger(text);
    const std::optional<DecimalNumber> number = scanDecimal(text);
    return number ? decimalValue(*number) : 0;
}

std::optional<double> exactSeedNumber(std::string_view text) {
    if (text.empty()) return std::nullopt;
    if (text[0] == '&') {
        if (ampersandNumberEnd(text) != text.size()) return std::nullopt;
        return settingsInteger(text);
    }
    const std::optional<DecimalNumber> number = scanDecimal(text);
    if (!number || number->end != text.size()) return std::nullopt;
    return decimalValue(*number);
}

std::int32_t roundToSeed(double number) {
    if (std::isnan(number)) return 0;
    if (number >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
    if (number <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    const double below = std::floor(number);
    const double rest = number - below;  // exact for doubles in this range
    auto whole = static_cast<std::int64_t>(below);
    if (rest > 0.5 || (rest == 0.5 && whole % 2 != 0)) ++whole;
    return static_cast<std::int32_t>(whole);
}

std::int32_t seedValue(std::string_view answer) {
    return roundToSeed(seedNumber(answer));
}

}  // namespace orv
