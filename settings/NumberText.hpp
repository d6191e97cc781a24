#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

namespace orv {

// Doubles to and from text, the same on every build and in every locale: as std::to_chars and
// std::from_chars do it, which the browser build's standard library lacks for doubles; there
// printf's and strtod's correctly rounded conversions (in the C locale that build always has)
// give the same texts and values.

// The shortest text that reads back as the same double, as std::to_chars writes it: fixed or
// scientific notation, whichever is shorter (fixed when both are as long). Empty for a value
// that is not finite.
std::string shortestText(double value);
// The same, built from printf's digits on any build (what shortestText uses without to_chars).
std::string shortestTextFromDigits(double value);

// Reads a decimal number (digits, an optional fraction and exponent) that is the whole text, as
// std::from_chars does: std::errc{} with value set, result_out_of_range when it is beyond the
// doubles, invalid_argument for any other text.
std::errc readDouble(std::string_view text, double& value);
// The same with strtod on any build (what readDouble uses without from_chars).
std::errc readDoubleWithStrtod(std::string_view text, double& value);

// Whether the text is a whole number in decimal digits, with an optional sign before them.
bool isWholeNumber(std::string_view text);
// Reads such a number (a leading '+' allowed) that is the whole text and fits 64 bits.
bool readInt64(std::string_view text, std::int64_t& value);

}  // namespace orv
