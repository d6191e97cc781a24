#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "settings/SettingsFile.hpp"
#include "tests/Session.hpp"
#include "tests/SettingsPrinter.hpp"
#include "ui/SettingsDialogue.hpp"

namespace orv::test {
namespace {

constexpr const char* kPrompt = " Please enter the ini file name to load: ";

Settings presets() {
    Settings s;
    applyPresets(s);
    return s;
}

void writeFile(const std::filesystem::path& path, std::string_view text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

// Picks "no" in the menu and types the answer at the file-name prompt; the script ends while
// the dialogue waits for its key, so the dialogue's rows are still on the screen.
Session loadDialogue(const TempDir& dir, std::string_view answer) {
    return runSession("key Enter\ntype " + std::string(answer) + "\nkey Enter\n", {.directory = dir.path()});
}

TEST(SettingsDialogue, FileNamesGetIniAppendedOnlyWhenTheyLackIt) {
    TempDir dir;
    writeFile(dir.path() / "world.ini", "speed=1");
    writeFile(dir.path() / "my.ini.bak", "speed=2");
    writeFile(dir.path() / "WORLD.INI", "speed=3");
    writeFile(dir.path() / "WORLD.INI.ini", "speed=4");
    writeFile(dir.path() / ".ini", "speed=5");
    writeFile(dir.path() / "a,b.ini", "speed=6");
    const std::pair<const char*, std::int32_t> table[] = {
        {"world", 1}, {"world.ini", 1},    {"  world  ", 0}, {"my.ini.bak", 2}, {"WORLD.INI", 4},
        {"", 5},      {"world, other", 1}, {"\"a,b\"", 6},   {"a,b", 0},
    };
    for (const auto& [answer, speed] : table) {
        Session s = loadDialogue(dir, answer);
        EXPECT_TRUE(s.exhausted);
        Settings expected = presets();
        expected.speed = speed;
        EXPECT_EQ(s.program->settings, expected) << '"' << answer << '"';
        // "  world  " opens "world  .ini" and "a,b" opens "a.ini", which are not there.
        EXPECT_TRUE(s.row(8).starts_with(speed != 0 ? " Settings loaded." : " Could not read")) << '"' << answer << '"';
    }
}

TEST(SettingsDialogue, LoadsTheFileConfirmsAndWaitsForAKey) {
    TempDir dir;
    writeFile(dir.path() / "world.ini", "LandColor = 12\r\nspeed=5, xsize=200\r\nysize=100\r\nbogus=1\r\n");
    Session s = loadDialogue(dir, "world");
    EXPECT_TRUE(s.exhausted);  // waiting for the key after the confirmation
    EXPECT_EQ(s.row(7), std::string(kPrompt) + "world");
    EXPECT_EQ(s.row(8), " Settings loaded.");  // the menu's second line is gone
    EXPECT_EQ(s.row(9), "");
    Settings expected = presets();
    expected.landcolor = 12;
    expected.speed = 5;
    expected.xsize = 200;
    expected.ysize = 100;
    EXPECT_EQ(s.program->settings, expected);

    // The key goes on to the seed prompt, which replaces rows 7 and 8.
    Session next = runSession("key Enter\ntype world\nkey Enter\nkey x\n", {.directory = dir.path()});
    EXPECT_EQ(next.row(7), " Give me a random number seed! (0 = random number)");
    EXPECT_EQ(next.row(8), "");
}

TEST(SettingsDialogue, AnUnreadableFileIsReportedAndThePresetsAreUsed) {
    TempDir dir;
    Session missing = loadDialogue(dir, "nothing");
    EXPECT_TRUE(missing.exhausted);
    EXPECT_EQ(missing.row(8), " Could not read nothing.ini (No such file or directory); using the pre-set conditions.");
    EXPECT_EQ(missing.program->settings, presets());

    std::filesystem::create_directory(dir.path() / "maps.ini");
    writeFile(dir.path() / "maps.ini" / "inside.ini", "speed=5");
    Session folder = loadDialogue(dir, "maps.ini");
    EXPECT_EQ(folder.row(8), " Could not read maps.ini (Is a directory); using the pre-set conditions.");
    EXPECT_EQ(folder.program->settings, presets());
    Session inside = loadDialogue(dir, "maps.ini/inside.ini");
    EXPECT_EQ(inside.program->settings.speed, 5);

    // A FIFO is refused at once: reading it would wait for a writer for ever.
    ASSERT_EQ(::mkfifo((dir.path() / "pipe.ini").c_str(), 0644), 0);
    Session fifo = loadDialogue(dir, "pipe");
    EXPECT_EQ(fifo.row(8), " Could not read pipe.ini (Not a regular file); using the pre-set conditions.");
    EXPECT_EQ(fifo.program->settings, presets());

    // A name too long for the row keeps both ends and loses its middle.
    const std::string longName = "maps/" + std::string(140, 'n') + "/last";
    Session longer = loadDialogue(dir, longName);
    const std::string line = longer.row(9);  // prompt and answer fill rows 7 and 8
    EXPECT_EQ(line.size(), 99u);
    EXPECT_TRUE(line.starts_with(" Could not read maps/nnn")) << line;
    EXPECT_NE(line.find("nnn...n"), std::string::npos) << line;
    EXPECT_TRUE(line.ends_with("n/last.ini (No such file or directory); using the pre-set conditions.")) << line;
    EXPECT_EQ(longer.row(10), "");
}

// Names are typed in code page 437 and found on disk under their UTF-8 bytes; one with a
// character the code page lacks cannot be typed whole, and the message shows what was asked for.
TEST(SettingsDialogue, FileNamesAreUtf8OnDisk) {
    TempDir dir;
    writeFile(dir.path() / "\xC3\xA9t\xC3\xA9.ini", "speed=7");  // été.ini
    writeFile(dir.path() / "\xC3\x86r\xC3\xB8.ini", "speed=8");  // Ærø.ini: ø is not in the code page
    Session ete = loadDialogue(dir, "\xC3\xA9t\xC3\xA9");        // typed as 82 74 82
    EXPECT_EQ(ete.row(7), std::string(kPrompt) + "\x82t\x82");
    EXPECT_EQ(ete.program->settings.speed, 7);
    Session aero = loadDialogue(dir, "\xC3\x86r\xC3\xB8");
    EXPECT_EQ(aero.row(8), " Could not read \x92r.ini (No such file or directory); using the pre-set conditions.");
}

// Whatever the dialogue wrote is gone when the seed prompt comes, which wipes only 80 columns
// of rows 7 and 8: the end of a long notice, a notice below row 8, a long name.
TEST(SettingsDialogue, LeavesNothingBehindForTheSeedPrompt) {
    TempDir dir;
    writeFile(dir.path() / "big.ini", "xsize=1000\nysize=-2\noceanedgesizex=-3\noceanedgesizey=-5");
    for (const std::string& answer : {std::string("world"), std::string("big"), std::string(120, 'n')}) {
        Session s = runSession("key Enter\ntype " + answer + "\nkey Enter\nkey Enter\n", {.directory = dir.path()});
        EXPECT_EQ(s.row(7), " Give me a random number seed! (0 = random number)") << answer;
        for (int row = 8; row <= 12; ++row) EXPECT_EQ(s.row(row), "") << answer << ", row " << row;
    }
}

TEST(SettingsDialogue, OutOfRangeSizesAreClampedAndNamedBelowTheConfirmation) {
    TempDir dir;
    writeFile(dir.path() / "big.ini", "xsize=1000\nysize=-2\noceanedgesizex=-3\noceanedgesizey=5\nspeed=2");
    Session s = loadDialogue(dir, "big");
    EXPECT_EQ(s.row(8), " Settings loaded.");
    EXPECT_EQ(s.row(9), " Out of range, changed: xsize 1000 to 400, ysize -2 to 1, oceanedgesizex -3 to 0.");
    Settings expected = presets();
    expected.xsize = 400;
    expected.ysize = 1;
    expected.oceanedgesizey = 5;
    expected.speed = 2;
    EXPECT_EQ(s.program->settings, expected);

    // Values beyond the 32-bit range are held at its ends before they are clamped.
    writeFile(dir.path() / "huge.ini", "xsize=99999999999\nysize=&h7fffffff\noceanedgesizex=-99999999999");
    Session huge = loadDialogue(dir, "huge");
    // Items that do not fit whole are counted.
    EXPECT_EQ(huge.row(9), " Out of range, changed: xsize 2147483647 to 400, ysize 2147483647 to 400, ... and 1 more.");
    EXPECT_EQ(huge.program->settings.xsize, 400);
}

TEST(SettingsDialogue, TheExampleFileRunsAMapOfItsSize) {
    TempDir dir;
    std::filesystem::copy_file(std::filesystem::path(ORVANDEL_SOURCE_DIR) / "examples" / "world.ini",
                               dir.path() / "world.ini");
    // Settings, seed 42, the seed screen's key, then the generations run until the script is used up.
    Session s = runSession("key Enter\ntype world\nkey Enter\nkey Enter\ntype 42\nkey Enter\nkey Enter\nwait 3\n",
                           {.directory = dir.path()});
    EXPECT_TRUE(s.exhausted);
    EXPECT_EQ(s.program->settings.xsize, 360);
    EXPECT_EQ(s.program->settings.ysize, 240);
    EXPECT_EQ(s.program->totalCells, 360 * 240);
    EXPECT_EQ(s.program->map.cycleCount, 4);
}

}  // namespace
}  // namespace orv::test
