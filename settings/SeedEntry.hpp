#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

namespace orv {

class Random;
class Screen;

// The number an answer holds: "&h"/"&o"/"&b" integers, or the longest leading decimal number
// (sign, digits, point and fraction, exponent with e or d); 0 when there is none.
double seedNumber(std::string_view answer);

// The seed value of an answer: its number rounded to the nearest whole number, halves to even,
// saturated into the signed 32-bit range.
std::int32_t seedValue(std::string_view answer);

// The seed dialogue: asks until the answer is not "no", seeds the source (0 means from the
// clock), then shows " <press any key to continue>" on row 23 and waits for a key.
void askSeed(Screen& screen, Random& random, const std::function<double()>& clock);

}  // namespace orv
