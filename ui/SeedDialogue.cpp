#include "ui/SeedDialogue.hpp"

#include <string>

#include "rng/Random.hpp"
#include "settings/Palette.hpp"
#include "settings/SeedNumber.hpp"
#include "settings/TextFormat.hpp"
#include "ui/Interaction.hpp"
#include "ui/LineInput.hpp"
#include "ui/Screen.hpp"

namespace orv {

SeedOutcome askSeed(Screen& screen, Random& random, const std::function<double()>& clock) {
    SeedOutcome outcome;
    screen.setTextColor(paletteColor(15));
    std::string clockLine;  // the line that tells where a seed from the clock came from
    int clockRow = 0;
    for (;;) {
        screen.setCursor(7, 1);
        screen.printText(repeatChar(80, " "), true);
        screen.setCursor(8, 1);
        screen.printText(repeatChar(80, " "), true);
        screen.setCursor(7, 1);
        const std::string answer =
            lowerCase(promptInput(screen, " Give me a random number seed! (0 = random number) "));
        if (answer != "no") {
            const std::int32_t seed = seedValue(answer);
            if (seed == 0) {
                const double seconds = clock();
                outcome = seedSource(random, SeedChoice::fromClock(seconds), clock);
                // The clock's whole seconds seeded the source: typing them gives the same map,
                // unless they read as 0 or -1, which would ask for the clock again.
                const std::int32_t again = outcome.seed;
                clockLine = again != 0 && again != -1 ? " The seed came from the clock: type " + intToText(again) +
                                                            " to get the same map again."
                                                      : " The seed came from the clock; it cannot be typed again.";
                clockRow = screen.cursorRow();
                screen.printText(clockLine, true);
            } else {
                outcome = seedSource(random, seed == -1 ? SeedChoice::fromClockBits() : SeedChoice::of(seed), clock);
            }
            break;
        }
        screen.setCursor(8, 1);
        screen.printText(" Don't be a fool!", true);
        waitForKey(screen);
    }
    screen.setCursor(23, 1);
    std::string pressKey = " <press any key to continue>";
    // An answer that reaches row 22 puts the clock's line on row 23: blank out its end too.
    if (clockRow == 23 && clockLine.size() > pressKey.size()) pressKey.resize(clockLine.size(), ' ');
    screen.printText(pressKey, true);
    waitForKey(screen);
    return outcome;
}

}  // namespace orv
