#include <gtest/gtest.h>

#include <limits>

#include "settings/TextFormat.hpp"

namespace orv {
namespace {

TEST(TextFormat, RealToTextIsShortestOfSixteenDigitsWithThreeDigitExponents) {
    EXPECT_EQ(realToText(12.5), "12.5");
    EXPECT_EQ(realToText(100), "100");
    EXPECT_EQ(realToText(0), "0");
    EXPECT_EQ(realToText(100.0 / 3), "33.33333333333334");
    EXPECT_EQ(realToText(200.0 / 3), "66.66666666666667");
    EXPECT_EQ(realToText(0.000625), "0.000625");
    EXPECT_EQ(realToText(0.00005), "5e-005");
    EXPECT_EQ(realToText(1e16), "1e+016");
    EXPECT_EQ(realToText(-2.5e-300), "-2.5e-300");
    EXPECT_EQ(realToText(0.075), "0.075");
    EXPECT_EQ(realToText(99.92), "99.92");
}

TEST(TextFormat, IntegersRepeatsAndLowerCase) {
    EXPECT_EQ(intToText(6), "6");
    EXPECT_EQ(intToText(-1), "-1");
    EXPECT_EQ(intToText(INT32_MIN), "-2147483648");
    EXPECT_EQ(int64ToText(INT64_MAX), "9223372036854775807");
    EXPECT_EQ(repeatChar(50, " "), std::string(50, ' '));
    EXPECT_EQ(repeatChar(3, "xyz"), "xxx");
    EXPECT_EQ(repeatChar(0, "x"), "");
    EXPECT_EQ(repeatChar(-4, "x"), "");
    EXPECT_EQ(repeatChar(4, ""), "");
    EXPECT_EQ(lowerCase("YES No 42 \x8E\xC4"), "yes no 42 \x8E\xC4");
}

// Runs the line editor on a screen fed by a key script, after a prompt at row 7, column 1.

}  // namespace
}  // namespace orv
