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

// The Unicode character of a code page 437 code (1 .. 31 and 127 are the code page's pictures).
char32_t cp437ToUnicode(std::uint8_t code);

// Code page 437 text (what is typed and shown) as UTF-8, the encoding of file names on disk:
// "\x82t\x82" becomes "été". Code 0, which no typed text holds, becomes '?'.
std::string cp437ToUtf8(std::string_view codes);

// A UTF-8 file name as the screen shows it: code page 437, with '?' for every character the
// code page lacks and for every byte that is not part of valid UTF-8.
std::string shownName(std::string_view utf8);

}  // namespace orv
