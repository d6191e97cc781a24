#include "app/Program.hpp"
#include "settings/Palette.hpp"
#include "settings/TextFormat.hpp"
#include "ui/Interaction.hpp"
#include "ui/Screen.hpp"

namespace orv {

void printRunReport(Program& p) {
    Screen& screen = p.screen;
    const MapStatistics& st = p.statistics;
    const double total = static_cast<double>(p.totalCells);
    // A world's sea is water, drawn in a colour of its own, and counted with the water: the rows
    // stay three.
    const std::int64_t water = st.waterCount + st.seaCount;
    const double waterPercent = static_cast<double>(water * 100) / total;
    const double landPercent = static_cast<double>(st.landCount * 100) / total;
    const double unchangedPercent = static_cast<double>((p.totalCells - water - st.landCount) * 100) / total;

    screen.setTextColor(paletteColor(15));
    screen.setCursor(Program::kReportRow, 1);
    screen.printText(" Variations ended at: " + int64ToText(st.unchangedCount) + " variations.", false);
    screen.printNumber(p.map.cycleCount);
    screen.printText(" total cyles.", true);

    auto shareLine = [&](int row, std::int32_t color, double percent) {
        screen.setCursor(row, 1);
        screen.printText(" Percent color " + intToText(color) + ": " + realToText(percent) + "%", true);
    };
    shareLine(Program::kReportRow + 2, p.settings.watercolor, waterPercent);
    shareLine(Program::kReportRow + 3, p.settings.landcolor, landPercent);
    shareLine(Program::kReportRow + 4, p.settings.forestcolor, unchangedPercent);
    waitForKey(screen);
}

}  // namespace orv
