#include <gtest/gtest.h>

#include <string>

#include "app/Program.hpp"
#include "settings/Palette.hpp"
#include "ui/Keys.hpp"
#include "ui/Screen.hpp"

namespace orv {
namespace {

struct Report {
    Report(std::int64_t unchanged, std::int64_t water, std::int64_t land, std::int64_t cycles) : program(screen) {
        applyPresets(program.settings);
        program.statistics = {unchanged, water, land};
        program.totalCells = unchanged + water + land;
        program.map.cycleCount = cycles;
        screen.pushKey(charKey('x'));  // the key the report waits for
    }
    std::string row(int r) const {
        std::string text = screen.textRow(r);
        return text.erase(text.find_last_not_of(' ') + 1);
    }
    void print() { printRunReport(program); }

    Screen screen;
    Program program;
};

TEST(RunReport, RowsThirtyToThirtyFourWithTheShares) {
    Report report(159872, 120, 8, 57);
    report.print();
    EXPECT_EQ(report.row(29), "");
    EXPECT_EQ(report.row(30), " Variations ended at: 159872 variations. 57 total cyles.");
    EXPECT_EQ(report.row(31), "");
    EXPECT_EQ(report.row(32), " Percent color 1: 0.075%");
    EXPECT_EQ(report.row(33), " Percent color 6: 0.005%");
    EXPECT_EQ(report.row(34), " Percent color 2: 99.92%");
    EXPECT_EQ(report.row(35), "");
    EXPECT_EQ(report.screen.textColor(), paletteColor(15));
    EXPECT_EQ(report.screen.pendingKeys(), 0u);  // the waiting key ended the wait
    // The text is white on black: the first pixel row of the "V" cell holds white.
    bool white = false;
    for (int py = 29 * 16; py < 30 * 16; ++py)
        for (int px = 8; px < 16; ++px) white = white || report.screen.pixel(px, py) == 0xFFFFFFFFu;
    EXPECT_TRUE(white);
}

TEST(RunReport, ANothingChangedMapAndSharesThatDoNotComeOutEven) {
    Report settled(160000, 0, 0, 3);
    settled.print();
    EXPECT_EQ(settled.row(32), " Percent color 1: 0%");
    EXPECT_EQ(settled.row(33), " Percent color 6: 0%");
    EXPECT_EQ(settled.row(34), " Percent color 2: 100%");

    Report thirds(1, 1, 1, 1);
    thirds.print();
    EXPECT_EQ(thirds.row(30), " Variations ended at: 1 variations. 1 total cyles.");
    EXPECT_EQ(thirds.row(32), " Percent color 1: 33.33333333333334%");
    EXPECT_EQ(thirds.row(34), " Percent color 2: 33.33333333333334%");

    Report tiny(159999, 1, 0, 2);
    tiny.print();
    EXPECT_EQ(tiny.row(32), " Percent color 1: 0.000625%");
    EXPECT_EQ(tiny.row(34), " Percent color 2: 99.999375%");
}

TEST(RunReport, ColourNumbersArePrintedAsTheyAre) {
    Report report(10, 5, 5, 123456789012LL);
    report.program.settings.watercolor = 2;
    report.program.settings.landcolor = -1;
    report.program.settings.forestcolor = 16;
    report.print();
    EXPECT_EQ(report.row(30), " Variations ended at: 10 variations. 123456789012 total cyles.");
    EXPECT_EQ(report.row(32), " Percent color 2: 25%");
    EXPECT_EQ(report.row(33), " Percent color -1: 25%");
    EXPECT_EQ(report.row(34), " Percent color 16: 50%");
}

}  // namespace
}  // namespace orv
