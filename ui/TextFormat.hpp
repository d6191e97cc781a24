#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace orv {

std::string intToText(std::int32_t value);
std::string int64ToText(std::int64_t value);
// Like printf's "%.16g", but an exponent always has its sign and three digits (5e-005).
std::string realToText(double value);
// count copies of the first character of text; empty for count <= 0 or an empty text.
std::string repeatChar(int count, std::string_view text);
// A copy in which A .. Z become a .. z; every other byte stays.
std::string lowerCase(std::string_view text);

}  // namespace orv
