#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

#include "settings/SeedNumber.hpp"

namespace orv::test {
namespace {

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

TEST(SeedValue, NumbersRoundHalfToEvenAndTextWithoutANumberIsZero) {
    const std::pair<const char*, std::int32_t> table[] = {
        {"", 0},
        {"0", 0},
        {"0.4", 0},
        {"-0.5", 0},
        {"0.5", 0},
        {"0.51", 1},
        {"1.5", 2},
        {"2.5", 2},
        {"3.5", 4},
        {"-2.5", -2},
        {"-3.5", -4},
        {"-7", -7},
        {"42", 42},
        {"42abc", 42},
        {"-1", -1},
        {"+5", 5},
        {".5", 0},
        {"5.", 5},
        {"  12", 12},
        {"abc", 0},
        {"no", 0},
        {"nope", 0},
        {".", 0},
        {"-", 0},
        {"e5", 0},
        {"+.e1", 0},
        // Exponents with e or d in either case; an exponent without digits is not part of the number.
        {"1e2", 100},
        {"1E2", 100},
        {"1d2", 100},
        {"1D+2", 100},
        {"250e-2", 2},
        {"1e", 1},
        {"1e+", 1},
        {"1ex", 1},
        {"2.5e0", 2},
        {"0.035e2", 4},
        // "&" numbers are read as in the settings file, keeping the low 32 bits.
        {"&h10", 16},
        {"&o17", 15},
        {"&b101", 5},
        {"&17", 15},
        {"&hffffffff", -1},
        {"&", 0},
        // Beyond the 32-bit range the seed is held at the nearest end.
        {"2147483646.5", 2147483646},
        {"2147483647", kMax},
        {"2147483647.5", kMax},
        {"2147483648", kMax},
        {"-2147483648", kMin},
        {"-2147483648.5", kMin},
        {"-2147483649", kMin},
        {"1e10", kMax},
        {"-1e10", kMin},
        {"1e999", kMax},
        {"-1e999", kMin},
        {"1e999999999999999999999", kMax},
        {"1e-999", 0},
        {"-0.00000000000000000000000001e-400", 0},
        {"0e999999", 0},
    };
    for (const auto& [answer, seed] : table) EXPECT_EQ(seedValue(answer), seed) << '"' << answer << '"';
    const std::string hugeNumber = std::string(400, '9') + "e-100";
    EXPECT_EQ(seedValue(hugeNumber), kMax);
    EXPECT_EQ(seedValue("0." + std::string(400, '0') + "1e400"), 0);  // 0.1
    EXPECT_EQ(seedValue("0." + std::string(400, '0') + "6e401"), 6);
    EXPECT_DOUBLE_EQ(seedNumber("-12.25d1xyz"), -122.5);
    EXPECT_EQ(roundToSeed(std::nan("")), 0);
    EXPECT_EQ(roundToSeed(-std::numeric_limits<double>::infinity()), kMin);
}

// The command line's reading: the same grammar, but only a text that is one whole number.
TEST(SeedValue, ExactNumbersAreTheWholeTextOrNothing) {
    for (const char* text : {"42", "-7", "+5", "2.5", ".5", "5.", "1e2", "1D+2", "&h10", "&o17", "&b101", "&17"}) {
        ASSERT_TRUE(exactSeedNumber(text)) << text;
        EXPECT_EQ(*exactSeedNumber(text), seedNumber(text)) << text;
    }
    for (const char* text :
         {"", " 42", "42 ", "42abc", "abc", "-", ".", "&", "&h", "&hx", "&b102", "1e", "1e+", "0x1F", "1-3"})
        EXPECT_FALSE(exactSeedNumber(text)) << "'" << text << "'";
}

}  // namespace
}  // namespace orv::test
