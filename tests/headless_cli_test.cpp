// The headless runner's command line, run as a separate process the way other checks use it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <fstream>
#include <iterator>

#include "tests/Session.hpp"

namespace orv::test {
namespace {

struct HeadlessRun {
    int status = -1;
    std::string stderrText;
};

HeadlessRun runHeadless(const TempDir& dir, const std::string& args) {
    const std::string command = "cd '" + dir.path().string() + "' && '" ORVANDEL_HEADLESS_PATH "' " + args +
                                " 2>stderr.txt </dev/null";
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

void writeFile(const std::filesystem::path& path, const std::string& text) { std::ofstream(path) << text; }

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
