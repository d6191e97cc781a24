// Feeds arbitrary answers to the seed number rule.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "settings/SeedNumber.hpp"
#include "settings/SettingsFile.hpp"
#include "tests/fuzz/FuzzCheck.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view answer(reinterpret_cast<const char*>(data), size);
    const double number = orv::seedNumber(answer);
    const std::int32_t seed = orv::seedValue(answer);
    FUZZ_CHECK(seed == orv::roundToSeed(number));
    FUZZ_CHECK(number == number);  // never NaN
    // The command line's exact reading agrees with the prompt's wherever it reads a number.
    if (const std::optional<double> exact = orv::exactSeedNumber(answer)) FUZZ_CHECK(*exact == number);

    // The rounding: the nearest whole number, so within one half of the number.
    if (number > -2147483648.0 && number < 2147483647.0) {
        FUZZ_CHECK(static_cast<double>(seed) - number <= 0.5 && number - static_cast<double>(seed) <= 0.5);
        if (static_cast<double>(seed) - number == 0.5 || number - static_cast<double>(seed) == 0.5)
            FUZZ_CHECK(seed % 2 == 0);
    }

    // A whole number without a fraction or exponent means the same as in the settings file.
    std::string_view rest = answer;
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    if (rest.size() >= 2 && rest[0] == '&') {
        FUZZ_CHECK(seed == orv::settingsInteger(answer));
    } else if (!rest.empty() && rest[0] != '\t') {
        std::size_t i = rest[0] == '+' || rest[0] == '-' ? 1 : 0;
        const std::size_t digits = i;
        while (i < rest.size() && rest[i] >= '0' && rest[i] <= '9') ++i;
        const bool whole =
            i > digits && (i == rest.size() || std::string_view(".eEdD").find(rest[i]) == std::string_view::npos);
        if (whole) FUZZ_CHECK(seed == orv::settingsInteger(answer));
    }
    return 0;
}
