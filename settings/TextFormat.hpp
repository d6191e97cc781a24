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
// The text as it fits in width columns: as it is when it fits, otherwise its beginning and its
// end with "..." between them, so that both the folder and the file's own name stay readable.
std::string shortenedInMiddle(std::string_view text, std::size_t width);

}  // namespace orv
