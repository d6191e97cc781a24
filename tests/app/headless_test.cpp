// The headless runner's command line, run as a separate process the way other checks use it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <fstream>
#include <iterator>

#include "tests/ExportSupport.hpp"
#include "tests/Session.hpp"

namespace orv::test {
namespace {

struct HeadlessRun {
    int status = -1;
    std::string stderrText;
};

HeadlessRun runHeadless(const TempDir& dir, const std::string& args) {
    const std::string command =
        "cd '" + dir.path().string() + "' && '" ORVANDEL_HEADLESS_PATH "' " + args + " 2>stderr.txt </dev/null";
    const int raw = std::system(command.c_str());
    HeadlessRun run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::ifstream err(dir.path() / "stderr.txt");
    run.stderrText.assign(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
    return run;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path) << text;
}

TEST(HeadlessRunner, EndsWithTheProgramsStatusAndWritesTheScreen) {
    TempDir dir;
    writeFile(dir.path() / "exit.keys", "key Down\nkey Enter\n");
    const HeadlessRun run = runHeadless(dir, "--script exit.keys --screen-png s.png --screen-text s.txt");
    EXPECT_EQ(run.status, 0) << run.stderrText;

    const std::string text = readFile(dir.path() / "s.txt");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 37);
    EXPECT_NE(text.find("            Orvandel release 5\n"), std::string::npos);
    EXPECT_NE(text.find("\n Use pre-set conditions? (use arrow keys) exit\n (otherwise load conditions)\n"),
              std::string::npos);

    const std::string png = readFile(dir.path() / "s.png");
    ASSERT_GT(png.size(), 33u);
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1A\n");
    EXPECT_EQ(png.substr(12, 4), "IHDR");
    EXPECT_EQ(png.substr(16, 13), std::string("\0\0\x03\x20\0\0\x02\x58\x08\x06\0\0\0", 13));  // 800 x 600 RGBA
}

TEST(HeadlessRunner, AScriptThatRunsOutEndsWithStatusThreeAndStillWritesTheScreen) {
    TempDir dir;
    writeFile(dir.path() / "up.keys", "key Up\nwait 100\n");
    const HeadlessRun run = runHeadless(dir, "--script up.keys --screen-text s.txt");
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.stderrText.find("used up"), std::string::npos) << run.stderrText;
    EXPECT_NE(readFile(dir.path() / "s.txt").find("(use arrow keys) yes"), std::string::npos);

    // No script at all: the first poll finds nothing left.
    EXPECT_EQ(runHeadless(dir, "").status, 3);
}

TEST(HeadlessRunner, TheGenerationLoopCannotHangWhenTheScriptEnds) {
    TempDir dir;
    writeFile(dir.path() / "gen.keys", "key Up\nkey Enter\ntype 42\nkey Enter\nkey Enter\nwait 3\n");
    const HeadlessRun run = runHeadless(dir, "--script gen.keys --screen-text s.txt");
    EXPECT_EQ(run.status, 3);
}

TEST(HeadlessRunner, RejectsBadArgumentsAndScriptsWithStatusTwo) {
    TempDir dir;
    writeFile(dir.path() / "bad.keys", "key Up\npress Enter\n");
    HeadlessRun run = runHeadless(dir, "--script bad.keys");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.stderrText.find("line 2"), std::string::npos) << run.stderrText;
    EXPECT_EQ(runHeadless(dir, "--script missing.keys").status, 2);
    EXPECT_EQ(runHeadless(dir, "--frobnicate x").status, 2);
    EXPECT_EQ(runHeadless(dir, "--script").status, 2);
    EXPECT_EQ(runHeadless(dir, "--clock soon").status, 2);
}

TEST(HeadlessRunner, VersionAndUnknownOptionsSayWhatTheyAre) {
    TempDir dir;
    EXPECT_EQ(runHeadless(dir, "--version >v.txt").status, 0);
    EXPECT_TRUE(readFile(dir.path() / "v.txt").starts_with("orvandel-headless "));
    // Unknown, even as the last argument (it used to be told that it lacked a value).
    const HeadlessRun run = runHeadless(dir, "--frobnicate");
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.stderrText.starts_with("orvandel-headless: unknown option --frobnicate\n")) << run.stderrText;
}

// A directory used to abort the runner (an uncaught exception) and a device to be read for
// ever: only regular files of at most 64 MiB are scripts.
TEST(HeadlessRunner, ScriptsThatAreNoRegularFileOrTooLargeAreRefused) {
    TempDir dir;
    std::filesystem::create_directory(dir.path() / "keys");
    std::filesystem::resize_file((writeFile(dir.path() / "huge.keys", ""), dir.path() / "huge.keys"), (64 << 20) + 1);
    std::vector<std::pair<std::string, std::string>> cases{{"keys", "Is a directory"}, {"huge.keys", "File too large"}};
    if (makeCharDevice(dir.path() / "zero", 1, 5)) cases.emplace_back("zero", "Not a regular file");
    for (const auto& [script, reason] : cases) {
        const HeadlessRun run = runHeadless(dir, "--script " + script);
        EXPECT_EQ(run.status, 2) << script;
        EXPECT_TRUE(run.stderrText.starts_with("orvandel-headless: cannot read the script " + script + ": " + reason))
            << run.stderrText;
    }
    EXPECT_EQ(cases.size(), 3u) << "no device node could be made (the tests run as root)";
}

// The screen files follow the rule of every output: a failed write leaves the old file as it
// was (a failed --screen-text used to truncate it) and the message gives the reason.
TEST(HeadlessRunner, ScreenFilesAreWrittenSafelyAndFailuresSayWhy) {
    TempDir dir;
    writeFile(dir.path() / "exit.keys", "key Down\nkey Enter\n");
    writeFile(dir.path() / "s.txt", "old");
    // A screen full of text (the name typed at the settings prompt) under a limit of 1 KiB.
    writeFile(dir.path() / "full.keys", "key Enter\ntype " + std::string(3000, 'x') + "\n");
    EXPECT_EQ(
        runCommand("cd '" + dir.path().string() +
                   "' && ulimit -f 1 && '" ORVANDEL_HEADLESS_PATH "' --script full.keys --screen-text s.txt 2>err.txt"),
        3);
    EXPECT_TRUE(readFile(dir.path() / "err.txt").ends_with("orvandel-headless: cannot write s.txt: file too large\n"));
    EXPECT_EQ(readFile(dir.path() / "s.txt"), "old");

    std::filesystem::create_directory(dir.path() / "shot.png");
    std::filesystem::create_directory(dir.path() / "real");
    std::filesystem::create_symlink("real/t.txt", dir.path() / "t.txt");
    const HeadlessRun run = runHeadless(dir, "--script exit.keys --screen-png shot.png --screen-text t.txt");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.stderrText, "orvandel-headless: cannot write shot.png: a directory has that name\n");
    EXPECT_NE(readFile(dir.path() / "real" / "t.txt").find("Orvandel release 5"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_symlink(dir.path() / "t.txt"));
}

TEST(HeadlessRunner, AFixedClockMakesAClockSeedReproducible) {
    TempDir dir;
    writeFile(dir.path() / "clock.keys",
              "key Up\nkey Enter\ntype 0\nkey Enter\nkey Enter\nwait 4\nkey x\nkey x\nkey Enter\ntype n\nkey Enter\n");
    ASSERT_EQ(runHeadless(dir, "--script clock.keys --clock 12345.75 --screen-png a.png").status, 0);
    ASSERT_EQ(runHeadless(dir, "--script clock.keys --clock 12345.25 --screen-png b.png").status, 0);
    ASSERT_EQ(runHeadless(dir, "--script clock.keys --clock 12346.25 --screen-png c.png").status, 0);
    EXPECT_EQ(readFile(dir.path() / "a.png"), readFile(dir.path() / "b.png"));  // same whole second
    EXPECT_NE(readFile(dir.path() / "a.png"), readFile(dir.path() / "c.png"));
}

}  // namespace
}  // namespace orv::test
