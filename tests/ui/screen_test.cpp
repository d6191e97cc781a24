#include "ui/Screen.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <set>

#include "settings/Palette.hpp"
#include "settings/Settings.hpp"
#include "ui/Font.hpp"
#include "ui/ScaledPicture.hpp"

namespace orv {
namespace {

// The pixels of one text cell, row by row, as '#' (foreground) and '.' (anything else).
std::string cellPicture(const Screen& screen, int row, int column, std::uint32_t fg) {
    std::string picture;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 8; ++x) picture += screen.pixel((column - 1) * 8 + x, (row - 1) * 16 + y) == fg ? '#' : '.';
    return picture;
}

TEST(Font, HasADistinctGlyphForEveryVisibleCode) {
    // Code 0, the blank and the non-breaking blank (255) are empty; every other code has ink,
    // and no two codes share a glyph except the three blanks.
    std::set<Glyph> seen;
    int blanks = 0;
    for (int code = 0; code < 256; ++code) {
        const Glyph& g = kFont8x16[static_cast<std::size_t>(code)];
        const bool empty = std::all_of(g.begin(), g.end(), [](std::uint8_t row) { return row == 0; });
        if (code == 0 || code == 32 || code == 255) {
            EXPECT_TRUE(empty) << "code " << code;
            ++blanks;
            continue;
        }
        EXPECT_FALSE(empty) << "code " << code << " has no glyph";
        EXPECT_TRUE(seen.insert(g).second) << "code " << code << " repeats another glyph";
    }
    EXPECT_EQ(blanks, 3);
    // The full block fills its cell; the lower half block only the lower half.
    for (std::uint8_t row : kFont8x16[219]) EXPECT_EQ(row, 0xFF);
    EXPECT_EQ(kFont8x16[220][0], 0x00);
    EXPECT_EQ(kFont8x16[220][15], 0xFF);
}

TEST(Screen, PrintsGlyphsInForegroundOnBlackAndAdvancesTheCursor) {
    Screen screen;
    screen.setTextColor(paletteColor(14));
    screen.setCursor(3, 5);
    screen.printText("A\xDB", false);
    EXPECT_EQ(screen.cursorRow(), 3);
    EXPECT_EQ(screen.cursorColumn(), 7);
    // The full block paints all 128 pixels of cell (3, 6) in the foreground colour.
    EXPECT_EQ(cellPicture(screen, 3, 6, paletteColor(14)), std::string(128, '#'));
    // 'A' paints some pixels and leaves the rest of its cell black, not transparent.
    const std::string a = cellPicture(screen, 3, 5, paletteColor(14));
    EXPECT_NE(a.find('#'), std::string::npos);
    EXPECT_EQ(screen.pixel(32, 32), Screen::kBlack);
    EXPECT_EQ(screen.textRow(3).substr(4, 2), "A\xDB");
}

TEST(Screen, BlanksEraseAndLinesWrapAtColumn100) {
    Screen screen;
    screen.setCursor(10, 95);
    screen.printText("0123456789", true);                // wraps to row 11, then the line end goes to row 12
    EXPECT_EQ(screen.textRow(10).substr(94), "012345");  // columns 95 .. 100
    EXPECT_EQ(screen.textRow(11).substr(0, 5), "6789 ");
    EXPECT_EQ(screen.cursorRow(), 12);
    EXPECT_EQ(screen.cursorColumn(), 1);

    screen.setCursor(10, 95);
    screen.printText(std::string(6, ' '), false);
    for (int x = 94 * 8; x < 800; ++x)
        for (int y = 144; y < 160; ++y) ASSERT_EQ(screen.pixel(x, y), Screen::kBlack);
}

TEST(Screen, CursorMovesOnlyInsideTheGrid) {
    Screen screen;
    screen.setCursor(5, 7);
    screen.setCursor(38, 1);
    screen.setCursor(1, 101);
    screen.setCursor(0, 5);
    EXPECT_EQ(screen.cursorRow(), 5);
    EXPECT_EQ(screen.cursorColumn(), 7);
    screen.setCursor(37, 100);
    EXPECT_EQ(screen.cursorRow(), 37);
}

TEST(Screen, TextBelowTheLastRowIsDroppedNotWrittenOutsideTheBuffer) {
    Screen screen;
    screen.setCursor(37, 99);
    screen.printText("abcd", true);
    EXPECT_EQ(screen.textRow(37).substr(98), "ab");
    EXPECT_EQ(screen.cursorRow(), 39);
}

TEST(Screen, PrintNumberPutsABlankBeforeNonNegativeNumbers) {
    Screen screen;
    screen.printNumber(0);
    screen.printNumber(57);
    screen.printNumber(-3);
    screen.printNumber(INT64_MIN);
    EXPECT_EQ(screen.textRow(1).substr(0, 28), " 0 57-3-9223372036854775808 ");
}

TEST(Screen, ClearScreenBlanksEveryPixelAndHomesTheCursor) {
    Screen screen;
    screen.setPixel(799, 599, 0xFF123456);
    screen.setCursor(20, 20);
    screen.printText("x", false);
    screen.clearScreen();
    EXPECT_EQ(screen.pixel(799, 599), Screen::kBlack);
    EXPECT_EQ(screen.textRow(20), std::string(100, ' '));
    EXPECT_EQ(screen.cursorRow(), 1);
    EXPECT_EQ(screen.cursorColumn(), 1);
}

TEST(Screen, SetPixelSkipsOutsidePixels) {
    Screen screen;
    screen.setPixel(11, 20, 0xFF0000AA);
    EXPECT_EQ(screen.pixel(11, 20), 0xFF0000AAu);
    screen.setPixel(-1, 0, 0xFFFFFFFF);
    screen.setPixel(800, 0, 0xFFFFFFFF);
    screen.setPixel(0, 600, 0xFFFFFFFF);
    screen.setPixel(0, 599, 0x00000000);
    EXPECT_EQ(screen.pixel(0, 0), Screen::kBlack);
    EXPECT_EQ(screen.pixel(799, 0), Screen::kBlack);
    EXPECT_EQ(screen.pixel(0, 599), 0u);  // all 32 bits stored, alpha 0 included
}

TEST(Screen, TextGridAcceptsOnlyCellsItHasAFontFor) {
    Screen screen;
    screen.printText("keep", false);
    EXPECT_FALSE(screen.setTextGrid(80, 25));  // 10 x 24 cells
    EXPECT_FALSE(screen.setTextGrid(0, 37));
    EXPECT_EQ(screen.textRow(1).substr(0, 4), "keep");
    EXPECT_TRUE(screen.setTextGrid(100, 37));
    EXPECT_EQ(screen.textRow(1).substr(0, 4), "    ");  // a successful change clears the screen
}

TEST(Screen, ReportsChangedRowsOnceForTheRefresh) {
    Screen screen;
    std::vector<std::uint32_t> shown(800 * 600, 0);
    int first = 0, last = 0;
    ASSERT_TRUE(screen.takeChangedRows(shown.data(), first, last));  // the first frame: everything
    EXPECT_EQ(first, 0);
    EXPECT_EQ(last, 599);
    EXPECT_FALSE(screen.takeChangedRows(shown.data(), first, last));
    screen.setPixel(5, 300, 0xFFAA0000);
    screen.setCursor(2, 1);
    screen.printText("x", false);
    ASSERT_TRUE(screen.takeChangedRows(shown.data(), first, last));
    EXPECT_EQ(first, 16);
    EXPECT_EQ(last, 300);
    EXPECT_EQ(shown[300 * 800 + 5], 0xFFAA0000u);
}

TEST(Screen, KeysComeOutOldestFirstWithExtendedKeysAsTwoCharacters) {
    Screen screen;
    EXPECT_EQ(screen.pollKey(), "");
    screen.pushKey(extendedKey(ext::Up));
    screen.pushKey(charKey(chr::Enter));
    EXPECT_EQ(screen.pollKey(), std::string("\xFF\x48"));
    EXPECT_EQ(screen.pollKey(), std::string("\r"));
    EXPECT_EQ(screen.pollKey(), "");
    for (int i = 0; i < 16; ++i) screen.pushKey(charKey(static_cast<std::uint8_t>('a' + i)));
    EXPECT_EQ(screen.pendingKeys(), 15u);
    EXPECT_EQ(screen.pollKey(), "b");
}

TEST(Palette, GivesTheSixteenColoursAndTransparentBlackOutsideThem) {
    EXPECT_EQ(paletteColor(0), 0xFF000000u);
    EXPECT_EQ(paletteColor(6), 0xFFAA5500u);  // brown, not dark yellow
    EXPECT_EQ(paletteColor(9), 0xFF5555FFu);
    EXPECT_EQ(paletteColor(15), 0xFFFFFFFFu);
    for (int outside : {16, -1, 255, INT32_MIN, INT32_MAX}) EXPECT_EQ(paletteColor(outside), 0u) << outside;
}

// The sea of a world is drawn in a colour of its own unless seacolor names one: light blue, or
// blue where the lakes are light blue; a classic map has no sea and keeps the water colour.
TEST(Palette, AWorldsSeaHasAColourOfItsOwn) {
    Settings s;
    applyPresets(s);
    EXPECT_EQ(seaColorIndex(s), s.watercolor);
    s.continents = 3;
    EXPECT_EQ(seaColorIndex(s), 9);
    s.watercolor = 9;
    EXPECT_EQ(seaColorIndex(s), 1);
    s.seacolor = 9;
    EXPECT_EQ(seaColorIndex(s), 9);
    EXPECT_EQ(mapColors(s).sea, paletteColor(9));
}

TEST(ScaledPicture, WholeMultiplesWhereTheyFitTheShapeKeptBelow) {
    struct Case {
        int w, h, x, y, width, height;
    };
    for (const Case& c :
         {Case{800, 600, 0, 0, 800, 600}, Case{1024, 768, 112, 84, 800, 600}, Case{1600, 1200, 0, 0, 1600, 1200},
          Case{1920, 1080, 560, 240, 800, 600}, Case{2500, 1900, 50, 50, 2400, 1800}, Case{600, 400, 33, 0, 533, 400},
          Case{400, 600, 0, 150, 400, 300}, Case{1, 1, 0, 0, 0, 0}, Case{0, 700, 0, 0, 0, 0}}) {
        const Placement p = placePicture(c.w, c.h);
        EXPECT_EQ((std::array{p.x, p.y, p.width, p.height}), (std::array{c.x, c.y, c.width, c.height}))
            << c.w << " x " << c.h;
    }
    EXPECT_EQ(wholeScaleFor(1024, 768), 1);
    EXPECT_EQ(wholeScaleFor(1920, 1170), 1);  // a 1920 x 1200 screen less a panel
    EXPECT_EQ(wholeScaleFor(2560, 1400), 2);
    EXPECT_EQ(wholeScaleFor(3840, 2160), 3);
    EXPECT_EQ(wholeScaleFor(640, 480), 1);  // never below 1
}

// Every window pixel of the picture shows the frame-buffer pixel under its centre; the bars are
// not touched; drawing only what changed gives the same window as drawing everything.
TEST(ScaledPicture, NearestNeighbourAndOnlyWhatChanged) {
    std::mt19937 random(5);
    std::vector<std::uint32_t> frame(800 * 600);
    for (std::uint32_t& pixel : frame) pixel = static_cast<std::uint32_t>(random());
    for (const auto& [w, h] : {std::pair{800, 600}, {1600, 1200}, {1000, 700}, {600, 400}, {1234, 987}}) {
        PictureScaler scaler;
        scaler.resize(w, h);
        const Placement p = scaler.placement();
        std::vector<std::uint32_t> window(static_cast<std::size_t>(w * h), 0x12345678u);
        const PictureScaler::Area all{0, 0, 799, 599};
        const PictureScaler::Area drawn = scaler.draw(frame.data(), all, window.data(), w * 4);
        EXPECT_EQ((std::array{drawn.firstX, drawn.firstY, drawn.lastX, drawn.lastY}),
                  (std::array{p.x, p.y, p.x + p.width - 1, p.y + p.height - 1}));
        int wrong = 0;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                std::uint32_t expected = 0x12345678u;
                if (x >= p.x && x < p.x + p.width && y >= p.y && y < p.y + p.height) {
                    const int sx = static_cast<int>((x - p.x + 0.5) * 800 / p.width);
                    const int sy = static_cast<int>((y - p.y + 0.5) * 600 / p.height);
                    expected = frame[static_cast<std::size_t>(sy * 800 + sx)];
                }
                wrong += window[static_cast<std::size_t>(y * w + x)] != expected;
            }
        }
        EXPECT_EQ(wrong, 0) << w << " x " << h;

        // A block changes: exactly its pixels are found, and drawing them brings the window up
        // to date.
        std::vector<std::uint32_t> shown = frame;
        for (int y = 300; y <= 340; ++y)
            for (int x = 41; x <= 440; x += 13) frame[static_cast<std::size_t>(y * 800 + x)] ^= 0xFFu;
        const PictureScaler::Area changed = PictureScaler::takeDifferences(shown.data(), frame.data(), 250, 350);
        EXPECT_EQ((std::array{changed.firstX, changed.firstY, changed.lastX, changed.lastY}),
                  (std::array{41, 300, 431, 340}));
        EXPECT_EQ(shown, frame);
        EXPECT_TRUE(PictureScaler::takeDifferences(shown.data(), frame.data(), 0, 599).empty());
        scaler.draw(frame.data(), changed, window.data(), w * 4);
        std::vector<std::uint32_t> fresh(window.size(), 0x12345678u);
        scaler.draw(frame.data(), all, fresh.data(), w * 4);
        EXPECT_EQ(window, fresh) << w << " x " << h;
    }
}

// Resizing by majority: each new pixel takes the colour covering most of its area, the first met
// of equal shares; whole multiples enlarge and reduce plainly.
TEST(ScaledPicture, ResizingByMajority) {
    constexpr std::uint32_t a = 1, b = 2, c = 3, d = 4;
    const std::vector<std::uint32_t> square{a, a, b, a, c, b, d, d, b};
    EXPECT_EQ(resizedByMajority(square, 3, 3, 2, 2), (std::vector<std::uint32_t>{a, b, d, b}));
    EXPECT_EQ(resizedByMajority({a, a, b, b, b}, 5, 1, 2, 1), (std::vector<std::uint32_t>{a, b}));
    EXPECT_EQ(resizedByMajority({a, b, c}, 3, 1, 2, 1), (std::vector<std::uint32_t>{a, c}));
    EXPECT_EQ(resizedByMajority({a, b, c}, 1, 3, 1, 2), (std::vector<std::uint32_t>{a, c}));
    EXPECT_EQ(resizedByMajority({a, b, b, a}, 2, 2, 1, 1), (std::vector<std::uint32_t>{a}));  // a tie
    EXPECT_EQ(resizedByMajority({b, a}, 2, 1, 1, 1), (std::vector<std::uint32_t>{b}));
    EXPECT_EQ(resizedByMajority({a, b}, 2, 1, 3, 1), (std::vector<std::uint32_t>{a, a, b}));
    EXPECT_EQ(resizedByMajority({c}, 1, 1, 2, 3), std::vector<std::uint32_t>(6, c));

    std::mt19937 random(7);
    std::vector<std::uint32_t> picture(5 * 3);
    for (std::uint32_t& pixel : picture) pixel = static_cast<std::uint32_t>(random() % 3);
    const std::vector<std::uint32_t> large = resizedByMajority(picture, 5, 3, 15, 9);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 15; ++x)
            EXPECT_EQ(large[static_cast<std::size_t>(y * 15 + x)],
                      picture[static_cast<std::size_t>(y / 3 * 5 + x / 3)]);
    EXPECT_EQ(resizedByMajority(large, 15, 9, 5, 3), picture);
}

}  // namespace
}  // namespace orv
