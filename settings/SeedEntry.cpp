#include "settings/SeedEntry.hpp"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "rng/Random.hpp"
#include "settings/SettingsFile.hpp"
#include "ui/Interaction.hpp"
#include "ui/LineInput.hpp"
#include "ui/Palette.hpp"
#include "ui/Screen.hpp"
#include "ui/TextFormat.hpp"

namespace orv {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

double seedNumber(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    if (text.empty()) return 0;
    if (text.size() >= 2 && text[0] == '&') return settingsInteger(text);
    // The longest leading decimal number, copied into a form strtod reads the same way.
    std::string number;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) number += text[i++];
    std::size_t digits = 0;
    while (i < text.size() && isDigit(text[i])) number += text[i++], ++digits;
    if (i < text.size() && text[i] == '.') {
        number += text[i++];
        while (i < text.size() && isDigit(text[i])) number += text[i++], ++digits;
    }
    if (digits == 0) return 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E' || text[i] == 'd' || text[i] == 'D')) {
        std::size_t j = i + 1;
        std::string exponent = "e";
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) exponent += text[j++];
        if (j < text.size() && isDigit(text[j])) {
            while (j < text.size() && isDigit(text[j])) exponent += text[j++];
            number += exponent;
        }
    }
    return std::strtod(number.c_str(), nullptr);
}

std::int32_t seedValue(std::string_view answer) {
    const double rounded = std::nearbyint(seedNumber(answer));  // the default mode rounds halves to even
    if (std::isnan(rounded)) return 0;
    if (rounded >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
    if (rounded <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(rounded);
}

void askSeed(Screen& screen, Random& random, const std::function<double()>& clock) {
    screen.setTextColor(paletteColor(15));
    for (;;) {
        screen.setCursor(7, 1);
        screen.printText(repeatChar(80, " "), true);
        screen.setCursor(8, 1);
        screen.printText(repeatChar(80, " "), true);
        screen.setCursor(7, 1);
        const std::string answer = lowerCase(promptInput(screen, " Give me a random number seed! (0 = random number) "));
        if (answer != "no") {
            const std::int32_t seed = seedValue(answer);
            if (seed == 0) random.seedRandom(clock(), clock);
            else random.seedRandom(seed, clock);
            break;
        }
        screen.setCursor(8, 1);
        screen.printText(" Don't be a fool!", true);
        waitForKey(screen);
    }
    screen.setCursor(23, 1);
    screen.printText(" <press any key to continue>", true);
    waitForKey(screen);
}

}  // namespace orv
