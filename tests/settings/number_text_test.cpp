// Doubles to text and back as the browser build does them (printf's digits, strtod), against
// the standard library's to_chars and from_chars that the native builds use: the same texts in
// the statistics and the same seeds on every build.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "settings/NumberText.hpp"

namespace orv {
namespace {

std::string toChars(double value) {
    char buffer[40];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, end);
}

TEST(NumberText, ShortestTextIsToCharsText) {
    std::vector<double> values = {0.0,          1.0,
                                  100.0,        0.5,
                                  1e-7,         1e21,
                                  1e22,         123456789012345680000.0,
                                  5e-324,       std::numeric_limits<double>::max(),
                                  0.1,          1.0 / 3,
                                  -2.5,         1e16,
                                  12345.678e-12};
    // The shares of the statistics: count x 100 / cells, for small and huge maps.
    for (const std::int64_t cells :
         {std::int64_t{1}, std::int64_t{7}, std::int64_t{160000}, std::int64_t{1} << 24, std::int64_t{65536} * 65536})
        for (const std::int64_t count : {std::int64_t{1}, cells / 3, cells - 1, cells})
            values.push_back(static_cast<double>(count * 100) / static_cast<double>(cells));
    std::mt19937_64 bits(7);
    for (int i = 0; i < 20000; ++i) {
        const std::uint64_t pattern = bits();
        double value = 0;
        std::memcpy(&value, &pattern, sizeof value);
        if (std::isfinite(value)) values.push_back(value);
    }
    for (const double value : values) EXPECT_EQ(shortestTextFromDigits(value), toChars(value)) << value;
    EXPECT_EQ(shortestText(std::numeric_limits<double>::infinity()), "");
}

TEST(NumberText, StrtodReadsWhatFromCharsReads) {
    for (const char* text :
         {"0",     "42",     "2.5", ".5", "7.", "1e3", "1e-3", "3.5e+2", "123456789012345678901234567890",
          "1e400", "1e-400", "",    "-1", "+1", "1e",  "0x10", "inf",    " 1",
          "1 ",    "1.2.3",  "e5"}) {
        double fromChars = -7, strtod = -7;
        const std::string_view view(text);
        const auto [end, expected] = std::from_chars(view.data(), view.data() + view.size(), fromChars);
        const std::errc whole =
            expected == std::errc{} && end != view.data() + view.size() ? std::errc::invalid_argument : expected;
        EXPECT_EQ(readDoubleWithStrtod(view, strtod), whole) << '"' << text << '"';
        if (whole == std::errc{}) {
            EXPECT_EQ(strtod, fromChars) << text;
        }
        double native = -7;
        EXPECT_EQ(readDouble(view, native), whole) << text;
    }
}

}  // namespace
}  // namespace orv
