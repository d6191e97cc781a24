#include "ui/SeedDialogue.hpp"

#include <string>

#include "settings/Palette.hpp"
#include "settings/SeedNumber.hpp"
#include "settings/TextFormat.hpp"
#include "ui/Interaction.hpp"
#include "ui/LineInput.hpp"
#include "ui/Screen.hpp"

namespace orv {

SeedAnswer askSeed(Screen& screen, const std::function<double()>& clock) {
    SeedAnswer result;
    SeedChoice& choice = result.choice;
    std::string& clockLine = result.clockLine;
    int& clockRow = result.clockRow;
    screen.setTextColor(paletteColor(15));
    for (;;) {
        screen.setCursor(7, 1);
        screen.printText(repeatChar(80, " "), true);
        screen.setCursor(8, 1);
        screen.printText(repeatChar(80, " "), true);
        screen.setCursor(7, 1);
        const std::string answer =
            lowerCase(promptInput(screen, " Give me a random number seed! (0 = random number) "));
        if (answer != "no") {
            choice = promptSeedChoice(seedValue(answer), clock);
            if (choice.kind == SeedChoice::Kind::clock) {
                // The clock's whole seconds seed the source: typing them gives the same map,
                // unless they read as 0 or -1, which would ask for the clock again.
                const auto again = static_cast<std::int32_t>(seedWord(choice.seconds));
                clockLine = again != 0 && again != -1 ? " The seed came from the clock: type " + intToText(again) +
                                                            " to get the same map again."
                                                      : " The seed came from the clock; it cannot be typed again.";
                clockRow = screen.cursorRow();
                screen.printText(clockLine, true);
            }
            break;
        }
        screen.setCursor(8, 1);
        screen.printText(" Don't be a fool!", true);
        waitForKey(screen);
    }
    return result;
}

void confirmSeed(Screen& screen, const SeedAnswer& answer) {
    screen.setCursor(23, 1);
    std::string pressKey = " <press any key to continue>";
    // An answer that reaches row 22 puts the clock's line on row 23: blank out its end too.
    if (answer.clockRow == 23 && answer.clockLine.size() > pressKey.size())
        pressKey.resize(answer.clockLine.size(), ' ');
    screen.printText(pressKey, true);
    waitForKey(screen);
}

}  // namespace orv
