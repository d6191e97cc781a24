#include <cmath>

#include "app/Program.hpp"
#include "settings/Palette.hpp"
#include "settings/TextFormat.hpp"
#include "sim/FastEngine.hpp"
#include "ui/Interaction.hpp"
#include "ui/LineInput.hpp"
#include "ui/SaveDialogue.hpp"
#include "ui/Screen.hpp"
#include "ui/SeedDialogue.hpp"
#include "ui/SettingsDialogue.hpp"

namespace orv {

void showBanner(Program& p) {
    Screen& screen = p.screen;
    screen.setTextColor(paletteColor(4));
    screen.printText("            Orvandel release 5", true);
    screen.setTextColor(paletteColor(1));
    screen.printText("", true);
    screen.printText(" A world-map generator: land and water grown by a cellular automaton.", true);
    screen.printText(" Made by ", false);
    screen.setTextColor(paletteColor(9));
    screen.printText("the Orvandel team", false);
    screen.setTextColor(paletteColor(1));
    screen.printText(", free for all to use and share.", true);
}

void runGenerations(Program& p) {
    Screen& screen = p.screen;
    MapState& map = p.map;
    FastEngine engine;
    const MapColors colors = mapColors(p.settings);
    for (;;) {
        generationCycle(engine, map, p.settings, p.random);
        if (p.settings.speed != 0) speedDelay(p.settings.speed, [&screen] { return screen.keyWaiting(); });
        if (!screen.pollKey().empty()) return;
        const MapSize size = mapSize(p.settings, map.currentMap);
        screen.drawPass(
            Screen::kMapOriginY + 1, Screen::kMapOriginY + size.y, [&](std::uint32_t* pixels, std::ptrdiff_t pitch) {
                engine.commitAndDraw(
                    map, p.settings,
                    MapCanvas{pixels, pitch, Screen::kWidth, Screen::kHeight, Screen::kMapOriginX, Screen::kMapOriginY},
                    colors);
            });
    }
}

int runProgram(Program& p) {
    Screen& screen = p.screen;
    screen.setTextGrid(100, 37);
    showBanner(p);
    screen.setTextColor(paletteColor(15));
    screen.setCursor(7, 1);
    screen.printText(" Use pre-set conditions? (use arrow keys)", true);
    screen.setTextColor(paletteColor(1));
    screen.setCursor(8, 1);
    screen.printText(" (otherwise load conditions)", true);
    screen.setTextColor(paletteColor(4));
    p.optionTexts = {"no", "yes", "exit"};
    switch (chooseOption(screen, p.optionTexts, 7, 43, 3)) {
        case 0:
            loadSettingsFile(p.screen, p.settings, p.directory);
            break;
        case 1:
            applyPresets(p.settings);
            break;
        default:
            return 0;
    }
    // The seeding step, with the seed dialogue's wait for a key between its two halves.
    if (p.settings.random1 == 1) {
        const SeedAnswer answer = askSeed(p.screen, p.clock);
        seedSource(p.random, answer.choice, p.clock);
        confirmSeed(p.screen, answer);
    }
    drawRandratio(p.settings, p.random);
    layInitialMap(ReferenceEngine{}, p.map, p.settings, p.random);
    screen.clearScreen();
    const MapSize size = mapSize(p.settings, p.map.currentMap);
    p.totalCells = static_cast<std::int64_t>(size.x) * size.y;

    runGenerations(p);

    p.statistics = computeFinalStatistics(p.map, p.settings);
    printRunReport(p);

    for (;;) {
        screen.setCursor(Program::kReportRow + 5, 1);
        screen.printText(repeatChar(50, " "), true);
        screen.setCursor(Program::kReportRow + 5, 1);
        const std::string answer = lowerCase(promptInput(screen, " Save map to file? "));
        // A map that could not be saved is not lost: the question comes back, so that another
        // name can be tried, or "no" leaves.
        if (answer == "y" || answer == "yes") {
            if (saveMap(p.screen, p.settings, Program::kReportRow, p.directory, *p.files)) return 0;
            continue;
        }
        if (answer == "n" || answer == "no" || answer == "exit" || answer == "quit") return 0;
    }
}

}  // namespace orv
