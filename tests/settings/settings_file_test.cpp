#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <limits>

#include "settings/SettingsFile.hpp"
#include "tests/Session.hpp"
#include "tests/SettingsPrinter.hpp"

namespace orv {
namespace {

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

Settings presets() {
    Settings s;
    applyPresets(s);
    return s;
}

// The settings a file with this text gives: presets, then the file's items.
Settings loaded(std::string_view text) {
    Settings s = presets();
    applySettingsText(s, text);
    return s;
}

void writeFile(const std::filesystem::path& path, std::string_view text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

TEST(SettingsInteger, DecimalAndBasePrefixedValues) {
    const std::pair<const char*, std::int32_t> table[] = {
        {"6", 6},
        {"-3", -3},
        {"+3", 3},
        {"7abc", 7},
        {"abc", 0},
        {"", 0},
        {"0x1F", 0},
        {"1e3", 1},
        {"&hff", 255},
        {"&o17", 15},
        {"&b101", 5},
        {"&17", 15},
        {"&8", 0},
        {"&", 0},
        {"&h", 0},
        {"&hfg", 15},
        {"&b102", 2},
        {"   42", 42},
        {" \t-42", -42},
        {"\t&h10", 0},
        {"- 5", 0},
        {"--5", 0},
        {"007", 7},
        {"3.9", 3},
        // Hexadecimal, octal and binary keep the low 32 bits.
        {"&hffffffff", -1},
        {"&h80000000", kMin},
        {"&h100000005", 5},
        {"&o37777777777", -1},
        // Decimals beyond the 32-bit range are held at its ends.
        {"2147483647", kMax},
        {"2147483648", kMax},
        {"-2147483648", kMin},
        {"-2147483649", kMin},
        {"99999999999999999999999999999999", kMax},
        {"-99999999999999999999999999999999", kMin},
        {"00000000000000000000000000000012", 12},
    };
    for (const auto& [text, value] : table) EXPECT_EQ(settingsInteger(text), value) << '"' << text << '"';
    EXPECT_EQ(settingsInteger("&b" + std::string(33, '1')), -1);
    EXPECT_EQ(settingsInteger("&b1" + std::string(32, '0') + "1"), 1);
}

TEST(SettingsText, KeysMatchInAnyCaseWithBlanksButNotWithTabsOrBlanksInside) {
    Settings expected = presets();
    expected.speed = 5;
    EXPECT_EQ(loaded("speed=5"), expected);
    expected.landcolor = 12;
    EXPECT_EQ(loaded("  LandColor   =   12  \nSPEED=5"), expected);
    EXPECT_EQ(loaded("speed=5\nlandcolor=\t12"), expected);  // a tab after the "=" is harmless

    for (const char* ignored : {"=5", "land color=5", "landcolor\t=5", "landcolors=5", "landcolor 5",
                                "# landcolor=5 is the default", "xlandcolor=5", "landcolor:5"})
        EXPECT_EQ(loaded(ignored), presets()) << '"' << ignored << '"';
}

TEST(SettingsText, ValuesWithoutANumberGiveZero) {
    Settings expected = presets();
    expected.landcolor = 0;
    EXPECT_EQ(loaded("landcolor="), expected);
    EXPECT_EQ(loaded("landcolor=blue"), expected);
    EXPECT_EQ(loaded("landcolor"), expected);        // a key name alone is its own value text
    EXPECT_EQ(loaded("\"landcolor\"=5"), expected);  // the item ends at the quote; "=5" is ignored
    expected.landcolor = 3;
    EXPECT_EQ(loaded("landcolor=3=4"), expected);  // split at the first "="
    EXPECT_EQ(loaded("erosion=1\nerosion"), presets());
}

TEST(SettingsText, ItemsApplyInOrderAndCommasSeparateThem) {
    Settings expected = presets();
    expected.landcolor = 9;
    EXPECT_EQ(loaded("landcolor=3\nspeed=0\nlandcolor=9"), expected);
    expected.watercolor = 4;
    EXPECT_EQ(loaded("landcolor=9, watercolor=4"), expected);
    EXPECT_EQ(loaded("\"landcolor=9\" , watercolor=4"), expected);
    EXPECT_EQ(loaded("landcolor=9\n\n\nwatercolor=4\n\n"), expected);
    // A comma in a comment line makes the rest a setting of its own.
    Settings split = presets();
    split.speed = 7;
    EXPECT_EQ(loaded("# slow it down, speed=7"), split);
}

TEST(SettingsText, LineEndsOfEveryKindGiveTheSameSettings) {
    Settings expected = presets();
    expected.landcolor = 3;
    expected.speed = 5;
    expected.xsize = 200;
    for (const char* text :
         {"landcolor=3\nspeed=5\nxsize=200\n", "landcolor=3\r\nspeed=5\r\nxsize=200\r\n",
          "landcolor=3\rspeed=5\rxsize=200\r", "landcolor=3\nspeed=5\nxsize=200", "landcolor=3\r\nspeed=5\rxsize=200"})
        EXPECT_EQ(loaded(text), expected) << testing::PrintToString(std::string(text));
}

TEST(SettingsText, AByteOrderMarkAtTheStartIsSkipped) {
    Settings expected = presets();
    expected.landcolor = 3;
    expected.speed = 5;
    EXPECT_EQ(loaded("\xEF\xBB\xBFlandcolor=3\r\nspeed=5\r\n"), expected);
    EXPECT_EQ(loaded("\xEF\xBB\xBF"), presets());
    // Only at the very start: elsewhere the bytes belong to an item.
    expected.landcolor = 6;
    EXPECT_EQ(loaded("speed=5\n\xEF\xBB\xBFlandcolor=3"), expected);
}

TEST(SettingsText, EveryKeySetsItsOwnField) {
    const Settings s = loaded(
        "landcolor=101,watercolor=102,forestcolor=103,xsize=104,ysize=105,oceanedgesizex=106,"
        "oceanedgesizey=107,wround=108,landwaterratio=109,landmasssize=110,beachshow=111,erosion=112,"
        "randerosionvar1=113,randerosionvar2=114,erosionseed=115,random1=116,randratio=117,seed=118,"
        "speed=119,downupflow=120,downflowenabled=121,upflowenabled=122,upflowratio=123,"
        "leftrightflow=124,leftflowenabled=125,rightflowenabled=126,rightflowratio=127,continents=128,"
        "landshare=129,coastroughness=130,islands=131,seacolor=132,relief=133,rivers=134");
    const Settings expected{101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111, 112, 113, 114, 115, 116, 117,
                            118, 119, 120, 121, 122, 123, 124, 125, 126, 127, 128, 129, 130, 131, 132, 133, 134};
    EXPECT_EQ(s, expected);
}

TEST(SettingsText, TheShippedExampleLoads) {
    const std::filesystem::path example = std::filesystem::path(ORVANDEL_SOURCE_DIR) / "examples" / "world.ini";
    std::string text;
    ASSERT_FALSE(readSettingsFile(example, text)) << example;
    Settings s = presets();
    applySettingsText(s, text);
    // Every key is in the example; these are the ones it changes from the presets.
    Settings expected = presets();
    expected.xsize = 360;
    expected.ysize = 240;
    expected.oceanedgesizex = 24;
    expected.oceanedgesizey = 16;
    EXPECT_EQ(s, expected);
    EXPECT_TRUE(clampToGrid(s, kWindowGridSize, kWindowGridSize).empty());
    for (const SettingsKey& key : kSettingsKeys) {
        std::string line = "\n";
        line.append(key.name).append("=");
        EXPECT_NE(text.find(line), std::string::npos) << key.name;
    }
}

TEST(ReadSettingsFile, ReadsBytesAsTheyAreAndReportsWhyItCannot) {
    test::TempDir dir;
    std::string text = "stale";
    writeFile(dir.path() / "a.ini", std::string("x=1\r\n\0y", 7));
    EXPECT_FALSE(readSettingsFile(dir.path() / "a.ini", text));
    EXPECT_EQ(text, std::string("x=1\r\n\0y", 7));

    writeFile(dir.path() / "empty.ini", "");
    EXPECT_FALSE(readSettingsFile(dir.path() / "empty.ini", text));
    EXPECT_EQ(text, "");

    text = "stale";
    EXPECT_EQ(readSettingsFile(dir.path() / "missing.ini", text), std::errc::no_such_file_or_directory);
    EXPECT_EQ(text, "");
    std::filesystem::create_directory(dir.path() / "folder.ini");
    EXPECT_EQ(readSettingsFile(dir.path() / "folder.ini", text), std::errc::is_a_directory);

    // Anything larger than a settings file can sensibly be is refused, not read into memory.
    {
        std::ofstream(dir.path() / "huge.ini").close();
        std::filesystem::resize_file(dir.path() / "huge.ini", kMaxSettingsFileSize + 1);
    }
    EXPECT_EQ(readSettingsFile(dir.path() / "huge.ini", text), std::errc::file_too_large);
    EXPECT_EQ(text, "");
    std::filesystem::resize_file(dir.path() / "huge.ini", kMaxSettingsFileSize);
    EXPECT_FALSE(readSettingsFile(dir.path() / "huge.ini", text));
    EXPECT_EQ(text.size(), kMaxSettingsFileSize);

    if (geteuid() != 0) {  // root reads files whatever their mode
        writeFile(dir.path() / "locked.ini", "speed=5");
        std::filesystem::permissions(dir.path() / "locked.ini", std::filesystem::perms::none);
        EXPECT_EQ(readSettingsFile(dir.path() / "locked.ini", text), std::errc::permission_denied);
    }
}

TEST(ClampToGrid, SizesGoIntoTheGridAndNegativeMarginsToZero) {
    Settings s = presets();
    EXPECT_TRUE(clampToGrid(s, 400, 400).empty());
    s.xsize = 1;
    s.ysize = 400;
    s.oceanedgesizex = 500;  // a margin larger than the map leaves nothing to fill; that is harmless
    EXPECT_TRUE(clampToGrid(s, 400, 400).empty());

    s.xsize = 401;
    s.ysize = 0;
    s.oceanedgesizex = -1;
    s.oceanedgesizey = kMin;
    const std::vector<ClampedSetting> expected{
        {"xsize", 401, 400}, {"ysize", 0, 1}, {"oceanedgesizex", -1, 0}, {"oceanedgesizey", kMin, 0}};
    EXPECT_EQ(clampToGrid(s, 400, 400), expected);
    EXPECT_EQ(s.xsize, 400);
    EXPECT_EQ(s.ysize, 1);
    EXPECT_EQ(s.oceanedgesizex, 0);
    EXPECT_EQ(s.oceanedgesizey, 0);
    EXPECT_TRUE(clampToGrid(s, 400, 400).empty());

    // Other grid sizes: the limit is the caller's.
    s.xsize = kMax;
    s.ysize = kMin;
    EXPECT_EQ(clampToGrid(s, 16384, 100), (std::vector<ClampedSetting>{{"xsize", kMax, 16384}, {"ysize", kMin, 1}}));
    s.xsize = 7;
    s.ysize = 7;
    EXPECT_EQ(clampToGrid(s, 0, -5), (std::vector<ClampedSetting>{{"xsize", 7, 1}, {"ysize", 7, 1}}));
}

TEST(Notices, ClampNoticeNamesEveryChangeWithinTheWidth) {
    EXPECT_EQ(clampNotice({}, 99), "");
    EXPECT_EQ(clampNotice({{"oceanedgesizey", -3, 0}}, 99), " Out of range, changed: oceanedgesizey -3 to 0.");
    // Every item whole, old and new value; those that do not fit are counted.
    const std::string longest = clampNotice(
        {{"xsize", kMin, 1}, {"ysize", kMin, 1}, {"oceanedgesizex", kMin, 0}, {"oceanedgesizey", kMin, 0}}, 99);
    EXPECT_EQ(longest, " Out of range, changed: xsize -2147483648 to 1, ysize -2147483648 to 1, ... and 2 more.");
    EXPECT_EQ(clampNotice({{"xsize", 1000, 400}, {"ysize", 9, 8}}, 45), " Out of range, changed: ... and 2 more.");
    EXPECT_EQ(clampNotice({{"xsize", 1000, 400}}, 20).size(), 20u);
}

}  // namespace
}  // namespace orv
