#include <gtest/gtest.h>

#include "app/KeyScript.hpp"
#include "ui/Interaction.hpp"
#include "ui/LineInput.hpp"
#include "ui/Screen.hpp"

namespace orv {
namespace {

struct Edited {
    std::string item;
    Screen screen;
};
void edit(Edited& e, std::string_view script, std::string_view prompt = " P: ") {
    KeyScript keys = KeyScript::parse(script);
    e.screen.setKeySource(&keys);
    e.screen.setCursor(7, 1);
    e.item = promptInput(e.screen, prompt);
    e.screen.setKeySource(nullptr);
}
std::string rowText(const Screen& s, int row) {
    std::string t = s.textRow(row);
    t.erase(t.find_last_not_of(' ') + 1);
    return t;
}

TEST(LineInput, ReturnsTheFirstItemOfTheTypedLine) {
    struct Case {
        const char* typed;
        const char* item;
    } cases[] = {
        {"  abc, def", "abc"},  {"\"a, b\" c", "a, b"},
        {"abc  ", "abc  "},     {"", ""},
        {"\tx\"y\"", "x\"y\""}, {"\"open quote, to the end", "open quote, to the end"},
    };
    for (const Case& c : cases) {
        Edited e;
        edit(e, std::string("type ") + c.typed + "\nkey Enter\n");
        EXPECT_EQ(e.item, c.item) << c.typed;
    }
}

TEST(LineInput, EchoesAfterThePromptAndLeavesTheCursorBelowTheLine) {
    Edited e;
    edit(e, "type hello\nkey Enter\n");
    EXPECT_EQ(rowText(e.screen, 7), " P: hello");
    EXPECT_EQ(e.screen.cursorRow(), 8);
    EXPECT_EQ(e.screen.cursorColumn(), 1);
    // No insertion mark is left behind: the cell after the text is all black.
    for (int x = 9 * 8; x < 10 * 8; ++x) EXPECT_EQ(e.screen.pixel(x, 7 * 16 - 1), Screen::kBlack);
}

TEST(LineInput, EditingKeysMoveTheInsertionPointAndChangeTheLine) {
    struct Case {
        const char* script;
        const char* line;
    } cases[] = {
        {"type abc\nkey Backspace\n", "ab"},
        {"type abc\nkey Left\nkey Left\nkey Backspace\n", "bc"},
        {"type abc\nkey Home\nkey Del\n", "bc"},
        {"type abc\nkey Del\n", "abc"},  // Delete at the end of the line changes nothing
        {"type abc\nkey Home\ntype X\nkey End\ntype Y\n", "XabcY"},
        {"type abc\nkey Left\nkey Right\nkey Right\ntype Z\n", "abcZ"},
        {"type abc\nkey Esc\ntype d\n", "d"},
        {"key Backspace\nkey Left\nkey Home\ntype q\n", "q"},
        {"type ab\nkey Tab\ntype c\n", "ab      c"},
        {"key Tab\ntype c\n", "        c"},
        {"type 12345678\nkey Tab\ntype c\n", "12345678        c"},
        {"type abc\nkey Up\ntype X\n", "Xabc"},
        {"type abc\nkey Home\nkey Down\ntype X\n", "abcX"},
        {"type abc\nkey F1\nkey PgUp\nkey Ins\nkey Close\n", "abc"},
        {"type ab\nkey Left\nkey Left\nkey Left\ntype \xC3\xA9\n",
         "\x82"
         "ab"},  // é is code 130
    };
    for (const Case& c : cases) {
        Edited e;
        edit(e, std::string(c.script) + "key Enter\n", "");
        EXPECT_EQ(rowText(e.screen, 7), c.line) << c.script;
    }
}

TEST(LineInput, UpAndDownMoveByOneRowOfALongLine) {
    Edited e;
    const std::string longText(150, 'a');
    edit(e, "type " + longText + "\nkey Up\ntype X\nkey Enter\n", "");
    EXPECT_EQ(e.item, std::string(50, 'a') + "X" + std::string(100, 'a'));
    EXPECT_EQ(rowText(e.screen, 7), std::string(50, 'a') + "X" + std::string(49, 'a'));
    EXPECT_EQ(rowText(e.screen, 8), std::string(51, 'a'));
    EXPECT_EQ(e.screen.cursorRow(), 9);
}

TEST(LineInput, LineFeedEndsTheLineLikeEnter) {
    Screen screen;  // no key source: keys already queued are taken as a person's presses
    screen.pushKey(charKey('x'));
    screen.pushKey(charKey(chr::LineFeed));
    screen.pushKey(charKey('y'));
    EXPECT_EQ(promptInput(screen, ""), "x");
    EXPECT_EQ(screen.pollKey(), "y");
}

TEST(LineInput, ALineNeverRunsPastTheLastCellOfTheScreen) {
    Edited e;
    e.screen.setCursor(36, 1);
    KeyScript keys = KeyScript::parse("type " + std::string(300, 'z') + "\nkey Enter\n");
    e.screen.setKeySource(&keys);
    e.screen.setCursor(36, 1);
    const std::string item = promptInput(e.screen, "");
    EXPECT_EQ(item.size(), 199u);  // rows 36 and 37, less the cell that holds the mark
    EXPECT_EQ(rowText(e.screen, 37), std::string(99, 'z'));
}

TEST(LineInput, TheMarkUnderlinesTheInsertionPointWhileEditing) {
    Screen screen;
    KeyScript keys = KeyScript::parse("type ab\nkey Left\n");
    screen.setKeySource(&keys);
    screen.setCursor(7, 1);
    try {
        promptInput(screen, "");
    } catch (const ScriptExhausted&) {
    }
    // The insertion point is at 'b' (column 2): the bottom pixel row of that cell is foreground.
    for (int x = 8; x < 16; ++x) EXPECT_EQ(screen.pixel(x, 7 * 16 - 1), Screen::kWhite);
    EXPECT_NE(screen.pixel(16, 7 * 16 - 1), Screen::kWhite);
}

// Each key used to redraw the whole line, so that at a full line every refused key cost a
// line's worth of drawing: a long typed text took minutes. Now a key that changes nothing draws
// nothing, and edits leave exactly the pixels that typing the final line does.
TEST(LineInput, KeysThatChangeNothingDrawNothing) {
    auto drawn = [](const std::string& script) {
        Screen screen;
        KeyScript keys = KeyScript::parse(script);
        screen.setKeySource(&keys);
        screen.setCursor(7, 1);
        try {
            promptInput(screen, "");
        } catch (const ScriptExhausted&) {
        }
        return std::pair{screen.charactersDrawn(), screen.frameBuffer()};
    };
    const std::string full = "type " + std::string(3100, 'f') + "\n";  // more than the screen holds
    EXPECT_EQ(drawn(full + "type ggg\n").first,
              drawn(full + "type " + std::string(5000, 'g') + "\nkey End\nkey Right\n").first);
    EXPECT_EQ(drawn("type abcd\n").second,
              drawn("type abcd\nkey Left\nkey Left\ntype X\nkey Backspace\nkey Home\nkey Del\nkey Home\ntype a\n"
                    "key End\n")
                  .second);
    EXPECT_EQ(drawn("type ab\nkey Left\n").second, drawn("type abcd\nkey Esc\ntype ab\nkey End\nkey Left\n").second);
}

TEST(Chooser, ArrowsWrapAroundAndEnterPicksTheOptionShown) {
    const std::vector<std::string> options{"no", "yes", "exit"};
    struct Case {
        const char* keys;
        int picked;
    } cases[] = {
        {"key Enter\n", 0},
        {"key Right\nkey Right\nkey Enter\n", 2},
        {"key Up\nkey Enter\n", 1},
        {"key Down\nkey Enter\n", 2},
        {"key Left\nkey Enter\n", 2},
        {"key Left\nkey Right\nkey Right\nkey Enter\n", 1},
        {"key x\nkey F5\nkey Esc\nkey Space\nkey Enter\n", 0},
        {"key Right\nkey Right\nkey Right\nkey Enter\n", 0},
    };
    for (const Case& c : cases) {
        Screen screen;
        KeyScript keys = KeyScript::parse(c.keys);
        screen.setKeySource(&keys);
        EXPECT_EQ(chooseOption(screen, options, 7, 43, 3), c.picked) << c.keys;
        EXPECT_TRUE(keys.finished()) << c.keys;
    }
}

TEST(Chooser, ShorterOptionsWipeTheRestOfLongerOnes) {
    Screen screen;
    KeyScript keys = KeyScript::parse("key Left\nkey Right\nkey Enter\n");
    screen.setKeySource(&keys);
    chooseOption(screen, {"no", "yes", "exit"}, 7, 43, 3);
    EXPECT_EQ(screen.textRow(7).substr(42, 4), "no  ");
    EXPECT_EQ(screen.cursorRow(), 8);  // each showing ends its line
    EXPECT_EQ(screen.cursorColumn(), 1);
}

TEST(Chooser, ASingleOptionStaysWhateverTheArrows) {
    Screen screen;
    KeyScript keys = KeyScript::parse("key Up\nkey Left\nkey Down\nkey Enter\n");
    screen.setKeySource(&keys);
    EXPECT_EQ(chooseOption(screen, {"only"}, 1, 1, 1), 0);
}

TEST(KeyWaits, WaitForKeyTakesExactlyOneKeyEvenAfterEmptyPolls) {
    Screen screen;
    KeyScript keys = KeyScript::parse("wait 3\nkey Up\nkey a\n");
    screen.setKeySource(&keys);
    waitForKey(screen);
    EXPECT_EQ(screen.pollKey(), "a");
    // With a key already queued the wait ends at once.
    screen.setKeySource(nullptr);
    screen.pushKey(charKey('z'));
    waitForKey(screen);
    EXPECT_EQ(screen.pendingKeys(), 0u);
}

// However long the pause, a key that is waiting ends it at the next look, and the key stays
// for the poll after the pause; without a key every step is taken.
TEST(KeyWaits, APauseEndsWhenAKeyIsWaitingAndLeavesTheKey) {
    Screen screen;
    screen.pushKey(charKey('k'));
    speedDelay(std::numeric_limits<std::int32_t>::max(), [&] { return screen.keyWaiting(); });  // an hour otherwise
    EXPECT_EQ(screen.pollKey(), "k");
    int looks = 0;
    speedDelay(1 << 12, [&] { return ++looks, screen.keyWaiting(); });
    EXPECT_EQ(looks, 1000 * (1 << 12) / (1 << 16));  // one look every 2^16 steps, and no key found
    // With a key script, the key offered at the next poll counts as waiting.
    KeyScript keys = KeyScript::parse("wait 1\nkey a\n");
    screen.setKeySource(&keys);
    EXPECT_FALSE(screen.keyWaiting());
    EXPECT_EQ(screen.pollKey(), "");
    EXPECT_TRUE(screen.keyWaiting());
    EXPECT_EQ(screen.pollKey(), "a");
}

}  // namespace
}  // namespace orv
