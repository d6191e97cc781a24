#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orv {

// The code page 437 code of a Unicode character, if the code page has it (codes 1 .. 255;
// 1 .. 31 and 127 are the code page's pictures, as they are drawn on screen).
std::optional<std::uint8_t> unicodeToCp437(char32_t c);

// Decodes UTF-8 text into code page 437 codes. A character the code page lacks is skipped;
// a byte that is not valid UTF-8 is taken as a code of its own.
std::string utf8ToCp437(std::string_view utf8);

}  // namespace orv
