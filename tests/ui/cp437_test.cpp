#include "ui/Cp437.hpp"

#include <gtest/gtest.h>

namespace orv {
namespace {

TEST(Cp437, MapsUnicodeToTheCodePage) {
    EXPECT_EQ(utf8ToCp437("A é ░ ☺ ⌂ ■ \u00A0"), "A \x82 \xB0 \x01 \x7F \xFE \xFF");
    EXPECT_EQ(utf8ToCp437("€"), "");                   // not in the code page: skipped
    EXPECT_EQ(utf8ToCp437("\xE9t\xC3"), "\xE9t\xC3");  // not UTF-8: bytes taken as they are
    for (int code = 1; code < 256; ++code) {
        if (code < 32 || code >= 127) continue;
        EXPECT_EQ(unicodeToCp437(static_cast<char32_t>(code)), static_cast<std::uint8_t>(code));
    }
}

// File names: typed code page 437 becomes UTF-8 on disk, and every code comes back unchanged;
// a name from disk is shown with '?' for what the code page cannot show.
TEST(Cp437, NamesRoundTripThroughUtf8) {
    EXPECT_EQ(cp437ToUtf8("\x82t\x82"), "\xC3\xA9t\xC3\xA9");                      // été
    EXPECT_EQ(cp437ToUtf8("\x92r\x01\x7F"), "\xC3\x86r\xE2\x98\xBA\xE2\x8C\x82");  // Ær☺⌂
    std::string all;
    for (int code = 1; code < 256; ++code) all.push_back(static_cast<char>(code));
    EXPECT_EQ(utf8ToCp437(cp437ToUtf8(all)), all);
    EXPECT_EQ(shownName(cp437ToUtf8(all)), all);
    EXPECT_EQ(shownName("\xC3\x86r\xC3\xB8"), "\x92r?");                 // Ærø: no ø in the code page
    EXPECT_EQ(shownName("\xE6\x97\xA5\xF0\x9F\x97\xBA.png"), "??.png");  // 日🗺.png
    EXPECT_EQ(shownName("caf\xE9.png"), "caf?.png");                     // Latin-1, not UTF-8
}

}  // namespace
}  // namespace orv
