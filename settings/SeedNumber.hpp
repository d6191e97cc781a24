#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace orv {

// The number an answer holds, after leading blanks: an "&h", "&o" or "&b" integer as the
// settings file reads it, or the longest leading decimal number (sign, digits, point and
// fraction, exponent with e or d); 0 when there is none. A decimal number too large for a
// double is an infinity of its sign, one too small is 0.
double seedNumber(std::string_view answer);

// The number of a text that is nothing but one number of the seed prompt's grammar (no blanks
// before it, nothing after it): an "&h", "&o" or "&b" integer with at least one digit, or a
// decimal number as seedNumber reads it. Nothing for any other text. For the command line,
// where a mistyped seed is better refused than read in part.
std::optional<double> exactSeedNumber(std::string_view text);

// A number rounded to the nearest whole number, halves to the even one, and held at the
// nearest end of the signed 32-bit range when it lies beyond; NaN gives 0.
std::int32_t roundToSeed(double number);

// The seed value of an answer: roundToSeed(seedNumber(answer)).
std::int32_t seedValue(std::string_view answer);

}  // namespace orv
