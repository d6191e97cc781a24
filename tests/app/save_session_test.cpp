#include <gtest/gtest.h>
#include <sys/stat.h>

#include <set>

#include "tests/ExportSupport.hpp"
#include "tests/Session.hpp"

namespace orv::test {
namespace {

// Presets, seed 7, twenty drawn generations, a key that stops them and a key after the report:
// what follows is the save question on row 35.
constexpr const char* kUpToTheQuestion =
    "key Up\nkey Enter\n"
    "type 7\nkey Enter\nkey Enter\n"
    "wait 20\nkey x\n"
    "key Enter\n";

std::string script(const std::string& afterReport) {
    return kUpToTheQuestion + afterReport;
}

// The saved picture must be the map as drawn: pixels 41 .. 440 on both axes.
void expectMapPicture(const Session& s, const std::filesystem::path& file) {
    const std::optional<DecodedPng> png = decodePng(file);
    ASSERT_TRUE(png) << file;
    ASSERT_EQ(png->width, 400u);
    ASSERT_EQ(png->height, 400u);
    EXPECT_EQ(png->pixels, screenRegion(*s.screen, 41, 41, 400, 400));
    // The comparison means something only if the map is not one flat colour: then a picture
    // taken one pixel off would differ.
    EXPECT_GT(std::set<std::uint32_t>(png->pixels.begin(), png->pixels.end()).size(), 1u);
    EXPECT_NE(png->pixels, screenRegion(*s.screen, 40, 41, 400, 400));
    EXPECT_NE(png->pixels, screenRegion(*s.screen, 41, 40, 400, 400));
}

TEST(SaveSession, SavedPictureIsTheDrawnMapPixelForPixel) {
    TempDir dir;
    Session s =
        runSession(script("type yes\nkey Enter\ntype world\nkey Enter\nkey Enter\n"), {.directory = dir.path()});
    EXPECT_EQ(s.status, 0);
    EXPECT_TRUE(s.script->finished());
    EXPECT_EQ(s.program->map.cycleCount, 21);
    EXPECT_EQ(s.row(35), " File name to save as? world");
    EXPECT_EQ(s.row(36), "");
    EXPECT_EQ(fileNames(dir.path()), std::set<std::string>{"world.png"});
    expectMapPicture(s, dir.path() / "world.png");
}

// Names typed in code page 437 are saved under their UTF-8 bytes; a character the code page
// lacks cannot be typed and is not part of the name. A failure names the file as typed.
TEST(SaveSession, FileNamesAreUtf8OnDisk) {
    TempDir dir;
    // été, Ærø and "日 ±" (whose leading blank is dropped, as leading blanks are).
    for (const char* name : {"\xC3\xA9t\xC3\xA9", "\xC3\x86r\xC3\xB8", "\xE6\x97\xA5 \xC2\xB1"}) {
        Session s = runSession(script("type yes\nkey Enter\ntype " + std::string(name) + "\nkey Enter\nkey Enter\n"),
                               {.directory = dir.path()});
        EXPECT_EQ(s.status, 0) << name;
    }
    EXPECT_EQ(fileNames(dir.path()), (std::set<std::string>{"\xC3\xA9t\xC3\xA9.png", "\xC3\x86r.png", "\xC2\xB1.png"}));
    expectMapPicture(runSession(script("type n\nkey Enter\n")), dir.path() / "\xC3\xA9t\xC3\xA9.png");

    Session failed =
        runSession(script("type yes\nkey Enter\ntype \xC3\xA9t\xC3\xA9/x\nkey Enter\n"), {.directory = dir.path()});
    EXPECT_EQ(failed.row(36), " Could not save the map to \x82t\x82/x.png: no such directory.");
}

TEST(SaveSession, OnlyTheSixWordsAnswerTheQuestionInAnyCase) {
    TempDir dir;
    // Unrecognised answers ask again; "Y" saves.
    Session s = runSession(script("type ye\nkey Enter\nkey Enter\ntype yes \nkey Enter\ntype maybe,yes\nkey Enter\n"
                                  "type Y\nkey Enter\ntype m\nkey Enter\nkey Enter\n"),
                           {.directory = dir.path()});
    EXPECT_EQ(s.status, 0);
    EXPECT_TRUE(s.script->finished());
    EXPECT_EQ(fileNames(dir.path()), std::set<std::string>{"m.png"});
    for (const char* answer : {"No", "QUIT", "exit", "n"}) {
        Session leave = runSession(script(std::string("type ") + answer + "\nkey Enter\n"), {.directory = dir.path()});
        EXPECT_EQ(leave.status, 0) << answer;
        EXPECT_TRUE(leave.script->finished()) << answer;
    }
    EXPECT_EQ(fileNames(dir.path()), std::set<std::string>{"m.png"});
}

// A missing directory: the reason stands on row 36 while the program waits for a key.
TEST(SaveSession, FailureIsShownUnderTheNameUntilAKey) {
    TempDir dir;
    Session s = runSession(script("type yes\nkey Enter\ntype nowhere/world\nkey Enter\n"), {.directory = dir.path()});
    EXPECT_TRUE(s.exhausted);  // waiting for the key that acknowledges the message
    EXPECT_EQ(s.row(35), " File name to save as? nowhere/world");
    EXPECT_EQ(s.row(36), " Could not save the map to nowhere/world.png: no such directory.");
    EXPECT_EQ(s.row(37), "");
    EXPECT_TRUE(fileNames(dir.path()).empty());
}

TEST(SaveSession, AfterAFailureNoStillLeavesWithNothingSaved) {
    TempDir dir;
    Session s =
        runSession(script("type yes\nkey Enter\ntype nowhere/world\nkey Enter\nkey Enter\ntype no\nkey Enter\n"),
                   {.directory = dir.path()});
    EXPECT_EQ(s.status, 0);
    EXPECT_TRUE(s.script->finished());
    EXPECT_EQ(s.row(35), " Save map to file? no");
    EXPECT_EQ(s.row(36), "");  // the message went when the question came back
    EXPECT_TRUE(fileNames(dir.path()).empty());
}

TEST(SaveSession, AfterAFailureYesTriesAgainWithANewName) {
    TempDir dir;
    Session s = runSession(script("type yes\nkey Enter\ntype nowhere/world\nkey Enter\nkey Enter\n"
                                  "type yes\nkey Enter\ntype world\nkey Enter\nkey Enter\n"),
                           {.directory = dir.path()});
    EXPECT_EQ(s.status, 0);
    EXPECT_TRUE(s.script->finished());
    EXPECT_EQ(s.row(35), " File name to save as? world");
    EXPECT_EQ(s.row(36), "");
    EXPECT_EQ(fileNames(dir.path()), std::set<std::string>{"world.png"});
    expectMapPicture(s, dir.path() / "world.png");
}

// The disk fills up part-way: the map saved earlier under that name survives whole.
TEST(SaveSession, FullDiskKeepsTheOldFileAndSaysSo) {
    TempDir dir;
    writeBytes(dir.path() / "world.png", "the map saved yesterday");
    FaultyFileSystem full;
    full.bytesBeforeFull = 4096;
    const std::string save = "type yes\nkey Enter\ntype world\nkey Enter\n";
    Session shown = runSession(script(save), {.directory = dir.path(), .files = &full});
    EXPECT_EQ(shown.row(36), " Could not save the map to world.png: disk full.");

    Session s = runSession(script(save + "key Enter\ntype no\nkey Enter\n"), {.directory = dir.path(), .files = &full});
    EXPECT_EQ(s.status, 0);
    EXPECT_TRUE(s.script->finished());
    EXPECT_EQ(readBytes(dir.path() / "world.png"), "the map saved yesterday");
    EXPECT_EQ(fileNames(dir.path()), std::set<std::string>{"world.png"});
}

TEST(SaveSession, ReadOnlyDirectoryIsReportedAndNothingWritten) {
    TempDir dir;
    FaultyFileSystem denied;
    denied.createError = EACCES;
    Session s =
        runSession(script("type yes\nkey Enter\ntype world\nkey Enter\n"), {.directory = dir.path(), .files = &denied});
    EXPECT_EQ(s.row(36), " Could not save the map to world.png: permission denied.");
    EXPECT_TRUE(fileNames(dir.path()).empty());
}

// A name long enough to run on over rows 36 and 37: the message replaces its continuation and
// still fits one row; afterwards the three rows are clear again.
TEST(SaveSession, LongNameRunningOverSeveralRowsStillGivesOneMessageLine) {
    TempDir dir;
    const std::string name = "missing/" + std::string(150, 'n');
    const std::string save = "type yes\nkey Enter\ntype " + name + "\nkey Enter\n";
    Session shown = runSession(script(save), {.directory = dir.path()});
    EXPECT_EQ(shown.row(36).size(), 100u);
    EXPECT_EQ(shown.row(36).rfind(" Could not save the map to missing/nnn", 0), 0u) << shown.row(36);
    EXPECT_TRUE(shown.row(36).ends_with("nn.png: no such directory.")) << shown.row(36);
    EXPECT_EQ(shown.row(37), "");

    Session s = runSession(script(save + "key Enter\ntype no\nkey Enter\n"), {.directory = dir.path()});
    EXPECT_EQ(s.status, 0);
    EXPECT_EQ(s.row(35), " Save map to file? no");
    EXPECT_EQ(s.row(36), "");
    EXPECT_EQ(s.row(37), "");
}

// The save follows the rule of every output: an existing file is replaced with its mode kept,
// a link's target is replaced and the link kept, a FIFO or a device is written as it is, and a
// directory in the way is refused with the reason (the question then comes again).
TEST(SaveSession, EachKindOfFileNameIsSavedByTheOneRule) {
    TempDir dir;
    const auto& d = dir.path();
    auto save = [&](const std::string& name, bool saved) {
        const std::string keys = "type yes\nkey Enter\ntype " + name + "\nkey Enter\nkey Enter\n";
        return runSession(script(keys + (saved ? "" : "type no\nkey Enter\n")), {.directory = d});
    };
    writeBytes(d / "kept.png", "old");
    ::chmod((d / "kept.png").c_str(), 0640);
    Session kept = save("kept", true);
    EXPECT_EQ(kept.status, 0);
    expectMapPicture(kept, d / "kept.png");
    struct stat info {};
    ::stat((d / "kept.png").c_str(), &info);
    EXPECT_EQ(info.st_mode & 0777, 0640u);

    std::filesystem::create_directory(d / "maps");
    std::filesystem::create_symlink("maps/today.png", d / "latest.png");
    Session linked = save("latest", true);
    EXPECT_TRUE(isKind(d / "latest.png", S_IFLNK));
    expectMapPicture(linked, d / "maps" / "today.png");

    {
        FifoReader fifo(d / "pipe.png");
        Session piped = save("pipe", true);
        writeBytes(d / "maps" / "from-pipe.png", fifo.take());
        expectMapPicture(piped, d / "maps" / "from-pipe.png");
    }
    EXPECT_TRUE(isKind(d / "pipe.png", S_IFIFO));

    std::filesystem::create_directory(d / "folder.png");
    Session folder = save("folder", false);
    EXPECT_EQ(folder.status, 0);
    EXPECT_TRUE(folder.script->finished());
    Session shown = runSession(script("type yes\nkey Enter\ntype folder\nkey Enter\n"), {.directory = d});
    EXPECT_EQ(shown.row(36), " Could not save the map to folder.png: a directory has that name.");

    ASSERT_TRUE(makeCharDevice(d / "null.png", 1, 3) && makeCharDevice(d / "full.png", 1, 7)) << "needs root";
    EXPECT_EQ(save("null", true).status, 0);
    Session full = runSession(script("type yes\nkey Enter\ntype full\nkey Enter\n"), {.directory = d});
    EXPECT_EQ(full.row(36), " Could not save the map to full.png: disk full.");
    EXPECT_TRUE(isKind(d / "null.png", S_IFCHR) && isKind(d / "full.png", S_IFCHR));
    EXPECT_EQ(fileNames(d), (std::set<std::string>{"kept.png", "maps", "latest.png", "pipe.png", "folder.png",
                                                   "null.png", "full.png"}));
}

// The real headless runner saves a map in its working directory; the file is the map region
// of the final frame buffer that the runner writes as well.
TEST(SaveSession, HeadlessRunnerSavesTheMapItDrew) {
    TempDir dir;
    writeBytes(dir.path() / "keys.txt", script("type yes\nkey Enter\ntype world\nkey Enter\nkey Enter\n"));
    const std::string command = "cd '" + dir.path().string() + "' && '" + ORVANDEL_HEADLESS_PATH +
                                "' --script keys.txt --screen-png frame.png --screen-text text.txt";
    ASSERT_EQ(runCommand(command), 0);
    const std::optional<DecodedPng> saved = decodePng(dir.path() / "world.png");
    const std::optional<DecodedPng> frame = decodePng(dir.path() / "frame.png");
    ASSERT_TRUE(saved);
    ASSERT_TRUE(frame);
    ASSERT_EQ(saved->width, 400u);
    ASSERT_EQ(saved->height, 400u);
    std::size_t mismatches = 0;
    for (std::uint32_t y = 0; y < 400; ++y)
        for (std::uint32_t x = 0; x < 400; ++x) mismatches += saved->at(x, y) != frame->at(41 + x, 41 + y);
    EXPECT_EQ(mismatches, 0u);
    EXPECT_EQ(fileNames(dir.path()), (std::set<std::string>{"frame.png", "keys.txt", "text.txt", "world.png"}));

    // And the failure, told on row 36 where the runner stops for want of keys.
    writeBytes(dir.path() / "keys.txt", script("type yes\nkey Enter\ntype gone/world\nkey Enter\n"));
    EXPECT_EQ(runCommand(command + " 2>/dev/null"), 3);
    const std::string text = readBytes(dir.path() / "text.txt");
    EXPECT_NE(text.find("\n Could not save the map to gone/world.png: no such directory.\n"), std::string::npos)
        << text;
}

}  // namespace
}  // namespace orv::test
