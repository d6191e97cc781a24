#include <gtest/gtest.h>

#include <cstring>

#include "settings/Settings.hpp"
#include "tests/ExportSupport.hpp"
#include "tests/Session.hpp"
#include "ui/SaveDialogue.hpp"

namespace orv::test {
namespace {

std::string trimmed(const Screen& screen, int row) {
    std::string text = screen.textRow(row);
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

TEST(SaveMap, CaptureCopiesTheRectangleCornersIncludedInEitherOrder) {
    Screen screen;
    for (int y = 0; y < Screen::kHeight; ++y)
        for (int x = 0; x < Screen::kWidth; x += 7)
            screen.setPixel(x, y,
                            0x1000000u * static_cast<std::uint32_t>(y % 256) +
                                0x10000u * static_cast<std::uint32_t>(x) + static_cast<std::uint32_t>(y));
    const ImageBuffer image = captureRect(screen, 41, 41, 440, 440);
    EXPECT_EQ(image.width, 400u);
    EXPECT_EQ(image.pitch, 1600u);
    std::size_t mismatches = 0;
    for (std::uint32_t y = 0; y < 400; ++y)
        for (std::uint32_t x = 0; x < 400; ++x)
            mismatches += imagePixel(image, x, y) != screen.pixel(41 + static_cast<int>(x), 41 + static_cast<int>(y));
    EXPECT_EQ(mismatches, 0u);

    // Corners given the other way round, and a rectangle at the window's far corner: rows padded
    // to 16 bytes.
    const ImageBuffer corner = captureRect(screen, 799, 599, 797, 598);
    EXPECT_EQ(corner.width, 3u);
    EXPECT_EQ(corner.height, 2u);
    EXPECT_EQ(corner.pitch, 16u);
    ASSERT_EQ(corner.pixels.size(), 32u);
    for (std::uint32_t y = 0; y < 2; ++y)
        for (std::uint32_t x = 0; x < 3; ++x)
            EXPECT_EQ(imagePixel(corner, x, y), screen.pixel(797 + static_cast<int>(x), 598 + static_cast<int>(y)));
}

TEST(SaveMap, CaptureOutsideTheWindowCopiesNothing) {
    Screen screen;
    screen.setPixel(0, 0, 0xFF123456u);
    for (const auto& [x1, y1, x2, y2] :
         {std::tuple{-1, 0, 2, 3}, std::tuple{0, -1, 3, 2}, std::tuple{797, 0, 800, 3}, std::tuple{0, 597, 3, 600}}) {
        const ImageBuffer image = captureRect(screen, x1, y1, x2, y2);
        EXPECT_EQ(image.width, 0u);
        EXPECT_TRUE(image.pixels.empty());
        EXPECT_EQ(writePngFile("never.png", &image), PngError::badLayout);
    }
}

TEST(SaveMap, PngIsAppendedOnlyWhenTheNameHoldsNone) {
    EXPECT_EQ(saveFileName("map"), "map.png");
    EXPECT_EQ(saveFileName("map.png"), "map.png");
    EXPECT_EQ(saveFileName("map.PNG"), "map.PNG.png");
    EXPECT_EQ(saveFileName("my.png.old"), "my.png.old");
    EXPECT_EQ(saveFileName(""), ".png");
    EXPECT_EQ(saveFileName("trail  "), "trail  .png");
}

TEST(SaveMap, FailureLineNamesTheFileAndTheReasonWithinTheWidth) {
    const std::error_code missing = std::make_error_code(std::errc::no_such_file_or_directory);
    EXPECT_EQ(saveFailureLine("maps/world.png", missing),
              " Could not save the map to maps/world.png: no such directory.");
    const std::string longName = "first-part/" + std::string(150, 'x') + "/the-end.png";
    const std::string line = saveFailureLine(longName, missing);
    EXPECT_EQ(line.size(), 100u);
    EXPECT_EQ(line.rfind(" Could not save the map to first-part/", 0), 0u) << line;
    EXPECT_NE(line.find("xx...xx"), std::string::npos) << line;
    EXPECT_TRUE(line.ends_with("xx/the-end.png: no such directory.")) << line;
    for (std::size_t width : {0u, 10u, 40u, 60u}) EXPECT_LE(saveFailureLine(longName, missing, width).size(), width);
}

TEST(SaveMap, TakesTheFirstItemOfTheTypedLineAsTheName) {
    TempDir dir;
    Settings settings;
    for (const auto& [typed, file] :
         {std::pair{"my map, second copy", "my map.png"}, std::pair{"   lead", "lead.png"},
          std::pair{"trail  ", "trail  .png"}, std::pair{"", ".png"}, std::pair{"pic.PNG", "pic.PNG.png"}}) {
        Screen screen;
        KeyScript script = KeyScript::parse(std::string("type ") + typed + "\nkey Enter\nkey Enter\n");
        screen.setKeySource(&script);
        screen.setCursor(35, 1);
        screen.printText(" Save map to file? yes", true);
        EXPECT_TRUE(saveMap(screen, settings, 30, dir.path()));
        EXPECT_TRUE(script.finished());  // the final key was waited for
        std::string shown = std::string(" File name to save as? ") + typed;
        shown.erase(shown.find_last_not_of(' ') + 1);
        EXPECT_EQ(trimmed(screen, 35), shown);
        const std::optional<DecodedPng> png = decodePng(dir.path() / file);
        ASSERT_TRUE(png) << file;
        EXPECT_EQ(png->width, 400u);
        EXPECT_EQ(png->height, 400u);
    }
}

TEST(SaveMap, SmallerMapsCaptureOnlyTheirCells) {
    TempDir dir;
    Screen screen;
    for (int x = 0; x < Screen::kWidth; ++x) screen.setPixel(x, 41, 0xFF000000u | static_cast<std::uint32_t>(x));
    Settings settings;
    settings.xsize = 7;
    settings.ysize = 1;
    KeyScript script = KeyScript::parse("type row\nkey Enter\nkey Enter\n");
    screen.setKeySource(&script);
    ASSERT_TRUE(saveMap(screen, settings, 30, dir.path()));
    const std::optional<DecodedPng> png = decodePng(dir.path() / "row.png");
    ASSERT_TRUE(png);
    ASSERT_EQ(png->width, 7u);
    ASSERT_EQ(png->height, 1u);
    for (std::uint32_t x = 0; x < 7; ++x) EXPECT_EQ(png->at(x, 0), 0xFF000000u | (41 + x));
}

}  // namespace
}  // namespace orv::test
