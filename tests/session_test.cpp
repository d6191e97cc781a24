#include "tests/Session.hpp"

#include <gtest/gtest.h>

namespace orv::test {
namespace {

TEST(Session, ExitInTheMenuEndsAtOnceWithoutSettingsOrRandomNumbers) {
    Session s = runSession("key Down\nkey Enter\n");
    EXPECT_EQ(s.status, 0);
    EXPECT_FALSE(s.exhausted);
    EXPECT_EQ(s.program->settings, Settings{});  // nothing was read or applied
    EXPECT_FALSE(s.program->random.seeded());
    EXPECT_EQ(s.row(7), " Use pre-set conditions? (use arrow keys) exit");
}

TEST(Session, ScriptRunningOutEndsTheRun) {
    Session s = runSession("key Up\n");
    EXPECT_TRUE(s.exhausted);
    EXPECT_EQ(s.row(7), " Use pre-set conditions? (use arrow keys) yes");
}

TEST(Session, PresetsAreTheDocumentedValuesAndTheSeedIsAsked) {
    Session s = runSession("key Up\nkey Enter\n");
    ASSERT_TRUE(s.exhausted);  // waiting at the seed prompt
    EXPECT_EQ(s.row(7), " Give me a random number seed! (0 = random number)");
    Settings expected;
    expected.landcolor = 6, expected.watercolor = 1, expected.forestcolor = 2;
    expected.xsize = 400, expected.ysize = 400;
    expected.wround = 1, expected.landwaterratio = 6, expected.landmasssize = 4, expected.beachshow = 2;
    expected.randerosionvar1 = 3, expected.randerosionvar2 = 2, expected.random1 = 1;
    expected.downupflow = 100, expected.downflowenabled = 1;
    expected.leftflowenabled = 1, expected.rightflowenabled = 1;
    expected.landshare = 40, expected.coastroughness = 50, expected.islands = 30, expected.seacolor = -1;
    expected.relief = 50, expected.rivers = 70;
    EXPECT_EQ(s.program->settings, expected);
    // Applying them twice changes nothing, and leaves the sizes alone.
    Settings twice = expected;
    twice.xsize = 123;
    applyPresets(twice);
    applyPresets(twice);
    EXPECT_EQ(twice.xsize, 123);
    twice.xsize = 400;
    EXPECT_EQ(twice, expected);
}

TEST(Session, BannerRowsAndColours) {
    Session s = runSession("");
    EXPECT_EQ(s.row(1), "            Orvandel release 5");
    EXPECT_EQ(s.row(2), "");
    EXPECT_FALSE(s.row(3).empty());
    EXPECT_FALSE(s.row(4).empty());
    EXPECT_EQ(s.row(8), " (otherwise load conditions)");
    // Title in red, credits in blue with the group's name in light blue, question in white,
    // menu in red: find a foreground pixel in each piece.
    auto inkOf = [&](int row, int firstColumn, int lastColumn) {
        for (int x = (firstColumn - 1) * 8; x < lastColumn * 8; ++x)
            for (int y = (row - 1) * 16; y < row * 16; ++y)
                if (s.screen->pixel(x, y) != Screen::kBlack) return s.screen->pixel(x, y);
        return Screen::kBlack;
    };
    EXPECT_EQ(inkOf(1, 13, 30), 0xFFAA0000u);
    EXPECT_EQ(inkOf(3, 1, 100), 0xFF0000AAu);
    const std::size_t group = s.row(4).find("the Orvandel team");
    ASSERT_NE(group, std::string::npos);
    EXPECT_EQ(inkOf(4, 1, static_cast<int>(group)), 0xFF0000AAu);
    EXPECT_EQ(inkOf(4, static_cast<int>(group) + 1, static_cast<int>(group) + 17), 0xFF5555FFu);
    EXPECT_EQ(inkOf(7, 1, 41), 0xFFFFFFFFu);
    EXPECT_EQ(inkOf(7, 43, 46), 0xFFAA0000u);
    EXPECT_EQ(inkOf(8, 1, 30), 0xFF0000AAu);
}

}  // namespace
}  // namespace orv::test
