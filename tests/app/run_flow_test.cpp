// Whole runs of the program through key scripts, checked against the independent map of
// IndependentMap.hpp: the report under the map and every pixel of the map as drawn.
#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "app/KeyScript.hpp"
#include "settings/Palette.hpp"
#include "settings/Seeding.hpp"
#include "tests/IndependentMap.hpp"
#include "tests/Session.hpp"

namespace orv::test {
namespace {

// Presets, the seed typed, the key after the seed, then `generations` polls that find no key
// and a key that stops the loop: generations + 1 cycles, the last one not committed.
std::string presetsRun(const std::string& seed, int generations) {
    return "key Up\nkey Enter\ntype " + seed + "\nkey Enter\nkey Enter\nwait " + std::to_string(generations) +
           "\nkey Space\nkey Enter\ntype n\nkey Enter\n";
}

std::string percent(long long count, long long total) {
    char text[64];
    std::snprintf(text, sizeof text, "%.16g", static_cast<double>(count * 100) / static_cast<double>(total));
    return text;
}

struct Expected {
    std::vector<int> picture = std::vector<int>(800 * 600, -1);  // colour index per pixel, -1 never drawn
    long long unchanged = 0, water = 0, land = 0, cycles = 0;
    int randratio = 0;
};

// What the run should show, worked out by the independent map.
Expected expectedRun(std::uint32_t seed, int committed) {
    Settings settings;
    applyPresets(settings);
    IndependentSource source(seed);
    Expected e;
    e.randratio = source.below(10) + 40;
    IndependentMap map(settings);
    map.fill(source);
    for (int i = 0; i < committed; ++i) {
        map.compute(source);
        map.commit(e.picture);
    }
    map.compute(source);  // the cycle in which the key is found
    map.countFinal(e.unchanged, e.water, e.land);
    e.cycles = map.cycles;
    return e;
}

void expectReport(const Session& s, const Expected& e) {
    EXPECT_EQ(s.row(30), " Variations ended at: " + std::to_string(e.unchanged) + " variations. " +
                             std::to_string(e.cycles) + " total cyles.");
    EXPECT_EQ(s.row(31), "");
    EXPECT_EQ(s.row(32), " Percent color 1: " + percent(e.water, 160000) + "%");
    EXPECT_EQ(s.row(33), " Percent color 6: " + percent(e.land, 160000) + "%");
    EXPECT_EQ(s.row(34), " Percent color 2: " + percent(160000 - e.water - e.land, 160000) + "%");
}

void expectMap(const Session& s, const Expected& e) {
    const std::vector<std::uint32_t> frame = s.screen->frameBuffer();
    int wrong = 0;
    // The map and a frame of one pixel around it (column and row 40 are never drawn).
    for (int py = 40; py <= 441; ++py) {
        for (int px = 40; px <= 441; ++px) {
            const int index = e.picture[static_cast<std::size_t>(py * 800 + px)];
            const std::uint32_t expected = index < 0 ? Screen::kBlack : paletteColor(index);
            if (frame[static_cast<std::size_t>(py * 800 + px)] != expected && ++wrong <= 5)
                ADD_FAILURE() << "pixel (" << px << ", " << py << ")";
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST(RunSession, PresetsWithSeed42MatchTheIndependentMap) {
    constexpr int kCommitted = 12;
    Session s = runSession(presetsRun("42", kCommitted));
    ASSERT_EQ(s.status, 0);
    const Expected e = expectedRun(42, kCommitted);

    EXPECT_EQ(s.program->settings.randratio, e.randratio);
    EXPECT_EQ(s.program->map.cycleCount, kCommitted + 1);
    EXPECT_EQ(s.program->totalCells, 160000);
    // One draw for randratio, 401 x 401 for the fill, one per cell and cycle for the flows.
    EXPECT_EQ(s.program->random.draws(), 1u + 401u * 401u + 160000u * (kCommitted + 1));
    EXPECT_EQ(e.unchanged + e.water + e.land, 160000);
    expectReport(s, e);
    expectMap(s, e);
}

TEST(RunSession, AKeyWaitingAtTheStartStopsAfterTheFirstGenerationWithNothingDrawn) {
    Session s = runSession(presetsRun("7", 0));
    ASSERT_EQ(s.status, 0);
    const Expected e = expectedRun(7, 0);
    EXPECT_EQ(s.program->map.cycleCount, 1);
    // The first generation turns every cell around, and odd cycles read changes as they are:
    // the 1s of the fill count as water, its 0s as land, and no cell is unchanged.
    EXPECT_EQ(e.unchanged, 0);
    EXPECT_EQ(s.row(30), " Variations ended at: 0 variations. 1 total cyles.");
    expectReport(s, e);
    expectMap(s, e);  // all black: no generation was committed
}

TEST(RunSession, TheSameSeedGivesTheSameRunAndAnotherSeedAnotherMap) {
    Session a = runSession(presetsRun("1234", 5));
    Session b = runSession(presetsRun("1234", 5));
    Session c = runSession(presetsRun("1235", 5));
    EXPECT_EQ(a.screen->frameBuffer(), b.screen->frameBuffer());
    EXPECT_EQ(a.program->random.state(), b.program->random.state());
    EXPECT_NE(a.screen->frameBuffer(), c.screen->frameBuffer());
}

// The generation loop on its own, fed by a key script.
struct LoopRun {
    explicit LoopRun(const std::string& script) : keys(KeyScript::parse(script)), program(screen) {
        screen.setKeySource(&keys);
        applyPresets(program.settings);
    }
    Screen screen;
    KeyScript keys;
    Program program;
};

TEST(RunLoop, ErosionTakesTheRatioFromTheTableByCycleCount) {
    for (int cycles : {1, 2, 999, 1000, 1001}) {
        LoopRun run("wait " + std::to_string(cycles - 1) + "\nkey a\n");
        Settings& s = run.program.settings;
        s.xsize = 6;
        s.ysize = 5;
        s.erosion = 1;
        for (int i = 0; i <= 1000; ++i) run.program.map.erosionTable[static_cast<std::size_t>(i)] = 100 + i;
        runGenerations(run.program);
        EXPECT_EQ(run.program.map.cycleCount, cycles);
        EXPECT_EQ(s.landwaterratio, 100 + cycles % 1000) << cycles;
    }
    LoopRun other("wait 3\nkey a\n");
    other.program.settings.erosion = 2;  // only 1 switches the lookup on
    other.program.map.erosionTable.fill(9);
    runGenerations(other.program);
    EXPECT_EQ(other.program.settings.landwaterratio, 6);
}

// The longest pause (minutes per generation) ends at once for a key that is waiting; the key
// is still taken at the poll, so the loop ends after the same cycle, with the same grids and
// picture, as without a pause.
TEST(RunLoop, ALongPauseDoesNotHoldUpAKey) {
    LoopRun plain("key a\n"), paused("key a\n");
    paused.program.settings.speed = std::numeric_limits<std::int32_t>::max();
    for (LoopRun* run : {&plain, &paused}) {
        run->program.random.seed(seedWord(77));
        fillInitialLandmass(run->program.map, run->program.settings, run->program.random);
        runGenerations(run->program);
    }
    EXPECT_EQ(paused.program.map.cycleCount, 1);
    EXPECT_EQ(paused.program.random.state(), plain.program.random.state());
    EXPECT_TRUE(paused.program.map.nextMap == plain.program.map.nextMap);
    EXPECT_EQ(paused.screen.frameBuffer(), plain.screen.frameBuffer());
}

TEST(RunLoop, TheFlowsRandomOrderMatchesTheIndependentMap) {
    // Flows that draw up to four numbers a cell, over a small map: the loop's grids, draws and
    // pixels against the independent map's.
    LoopRun run("wait 9\nkey a\n");
    Settings& s = run.program.settings;
    s.xsize = 23;
    s.ysize = 19;
    s.oceanedgesizex = 2;
    s.downupflow = 70;
    s.upflowenabled = 1;
    s.upflowratio = 40;
    s.leftrightflow = 55;
    s.rightflowratio = 30;
    s.landmasssize = 5;
    s.landwaterratio = 2;
    run.program.random.seed(seedWord(555));
    fillInitialLandmass(run.program.map, s, run.program.random);
    runGenerations(run.program);

    IndependentSource source(555);
    IndependentMap map(s);
    std::vector<int> picture(800 * 600, -1);
    map.fill(source);
    for (int i = 0; i < 9; ++i) {
        map.compute(source);
        map.commit(picture);
    }
    map.compute(source);
    EXPECT_EQ(static_cast<long long>(run.program.random.draws()), source.draws);
    for (int x = 1; x <= s.xsize; ++x) {
        for (int y = 1; y <= s.ysize; ++y) {
            ASSERT_EQ(run.program.map.currentMap(x, y), map.cur(x, y)) << x << ", " << y;
            ASSERT_EQ(run.program.map.nextMap(x, y), map.nxt(x, y)) << x << ", " << y;
            ASSERT_EQ(run.screen.pixel(40 + x, 40 + y),
                      paletteColor(picture[static_cast<std::size_t>((40 + y) * 800 + 40 + x)]));
        }
    }
}

}  // namespace
}  // namespace orv::test
