#include <gtest/gtest.h>

#include "tests/Session.hpp"
#include "ui/SeedDialogue.hpp"

namespace orv::test {
namespace {

// Picks the presets and gives the seed prompt these script lines; the script ends while the
// program waits for a key.
Session seedDialogue(std::string_view lines) {
    return runSession("key Up\nkey Enter\n" + std::string(lines), {.clockSeconds = 1000.75});
}

constexpr const char* kPrompt = " Give me a random number seed! (0 = random number) ";

// A million typed characters at the seed prompt: once the line is full, the keys that follow
// are refused without drawing anything (they used to redraw the whole line, for minutes).

TEST(SeedDialogue, AVeryLongTypedSeedCostsNoDrawingOnceTheLineIsFull) {
    Session s = runSession("key Up\nkey Enter\ntype " + std::string(1'000'000, '7') +
                           "\nkey Enter\nkey Enter\nkey x\nkey Enter\ntype n\nkey Enter\n");
    EXPECT_EQ(s.status, 0);
    EXPECT_TRUE(s.script->finished());
    EXPECT_LT(s.screen->charactersDrawn(), 100'000u);
}

TEST(SeedDialogue, ANumberSeedsTheSourceAndThePromptToContinueFollows) {
    Session s = seedDialogue("type 42\nkey Enter\n");
    EXPECT_TRUE(s.exhausted);
    EXPECT_EQ(s.row(7), std::string(kPrompt) + "42");
    EXPECT_EQ(s.row(8), "");  // the menu's second line is wiped
    EXPECT_EQ(s.row(23), " <press any key to continue>");
    ASSERT_TRUE(s.program->random.seeded());
    EXPECT_EQ(s.program->random.state()[0], 42u);
    EXPECT_EQ(s.program->random.position(), Random::kStateSize);  // nothing drawn yet

    for (const auto& [answer, seed] :
         {std::pair{"2.5", 2u}, {"3.5", 4u}, {"1e2", 100u}, {"42abc", 42u}, {"-7", 0xFFFFFFF9u}, {"&hFF", 255u}}) {
        Session t = seedDialogue("type " + std::string(answer) + "\nkey Enter\n");
        EXPECT_EQ(t.program->random.state()[0], seed) << answer;
        EXPECT_EQ(t.row(23), " <press any key to continue>");
    }
}

TEST(SeedDialogue, ZeroOrNoNumberSeedsFromTheClock) {
    // The clock reads 1000.75 seconds; the seed keeps the whole seconds.
    for (const char* answer : {"", "0", "0.4", "-0.5", "nope", "no thanks", "no ", "abc"}) {
        Session s = seedDialogue("type " + std::string(answer) + "\nkey Enter\n");
        ASSERT_TRUE(s.exhausted);
        EXPECT_EQ(s.program->random.state()[0], 1000u) << '"' << answer << '"';
        EXPECT_EQ(s.row(8), " The seed came from the clock: type 1000 to get the same map again.")
            << '"' << answer << '"';
        EXPECT_EQ(s.row(23), " <press any key to continue>");
    }
    // Typing the number shown gives the same sequence without the clock.
    Session typed = seedDialogue("type 1000\nkey Enter\n");
    EXPECT_EQ(typed.program->random.state(), seedDialogue("type 0\nkey Enter\n").program->random.state());
    EXPECT_EQ(typed.row(8), "");
    // In the first second of the clock, or at a count that reads as -1, there is no number to type.
    for (double seconds : {0.25, 4294967295.5}) {
        Session early = runSession("key Up\nkey Enter\ntype 0\nkey Enter\n", {.clockSeconds = seconds});
        EXPECT_EQ(early.row(8), " The seed came from the clock; it cannot be typed again.") << seconds;
    }
    // An answer that runs on to row 22 puts the clock's line on row 23, where the prompt to
    // continue is printed: no end of the line stays behind it.
    Session longAnswer = seedDialogue("type " + std::string(1449, ' ') + "0\nkey Enter\n");
    EXPECT_EQ(longAnswer.row(22), "0");
    EXPECT_EQ(longAnswer.row(23), " <press any key to continue>");
    // -1 is handed on as it is, and the source turns it into a seed from the clock's bits.
    Session s = seedDialogue("type -1\nkey Enter\n");
    const auto bits = std::bit_cast<std::uint64_t>(1000.75);
    EXPECT_EQ(s.program->random.state()[0], static_cast<std::uint32_t>(bits) ^ static_cast<std::uint32_t>(bits >> 32));
}

TEST(SeedDialogue, NoInAnyCaseIsRefusedAndAskedAgain) {
    for (const char* no : {"no", "No", "NO", "nO", "\"no\""}) {
        Session refused = seedDialogue("type " + std::string(no) + "\nkey Enter\n");
        EXPECT_TRUE(refused.exhausted);                        // waiting for the key after the refusal
        EXPECT_EQ(refused.row(7), std::string(kPrompt) + no);  // a quoted answer loses its quotes
        EXPECT_EQ(refused.row(8), " Don't be a fool!");
        EXPECT_EQ(refused.row(23), "");
        EXPECT_FALSE(refused.program->random.seeded());
    }
    // After the key the rows are wiped and the question comes again, as often as it takes.
    Session again = seedDialogue("type no\nkey Enter\nkey Space\n");
    EXPECT_EQ(again.row(7), " Give me a random number seed! (0 = random number)");
    EXPECT_EQ(again.row(8), "");
    Session last = seedDialogue("type NO\nkey Enter\nkey a\ntype no\nkey Enter\nkey b\ntype 7\nkey Enter\n");
    EXPECT_EQ(last.row(7), std::string(kPrompt) + "7");
    EXPECT_EQ(last.row(8), "");
    EXPECT_EQ(last.row(23), " <press any key to continue>");
    EXPECT_EQ(last.program->random.state()[0], 7u);
}

TEST(SeedDialogue, TheSameSeedGivesTheSameMap) {
    auto run = [](std::string_view seed, double clock) {
        return runSession("key Up\nkey Enter\ntype " + std::string(seed) + "\nkey Enter\nkey Enter\nwait 2\n",
                          {.clockSeconds = clock});
    };
    Session a = run("42", 10), b = run("42", 20), c = run("43", 10);
    ASSERT_TRUE(a.exhausted && b.exhausted && c.exhausted);
    EXPECT_EQ(a.program->map.cycleCount, 3);
    EXPECT_EQ(a.screen->frameBuffer(), b.screen->frameBuffer());
    EXPECT_NE(a.screen->frameBuffer(), c.screen->frameBuffer());
    // From the clock: the same whole second gives the same map, another second another one.
    Session d = run("0", 500.1), e = run("", 500.9), f = run("0", 501.1);
    EXPECT_EQ(d.screen->frameBuffer(), e.screen->frameBuffer());
    EXPECT_NE(d.screen->frameBuffer(), f.screen->frameBuffer());
}

}  // namespace
}  // namespace orv::test
