#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "io/SafeWrite.hpp"
#include "rng/Random.hpp"
#include "settings/Seeding.hpp"
#include "settings/Settings.hpp"
#include "sim/MapGrid.hpp"
#include "sim/Simulation.hpp"

namespace orv {

class Screen;

// Everything one run of the program owns, from start-up to the end: the settings, both map
// grids (sized once, kWindowGridSize on each axis, at start-up), the random source, the
// statistics and the screen it talks through. Tests make a fresh one for every run.
struct Program {
    static constexpr int kReportRow = 30;

    explicit Program(Screen& programScreen, std::function<double()> programClock = clockSeconds)
        : screen(programScreen), map(kWindowGridSize, kWindowGridSize), clock(std::move(programClock)) {}

    Screen& screen;
    Settings settings;  // every field 0, xsize and ysize kWindowGridSize, until the menu fills it
    MapState map;
    Random random;
    std::function<double()> clock;
    // Where settings files are read and maps saved; empty for the current directory.
    std::filesystem::path directory;
    // The file system maps are saved through; tests put one here that fails on purpose.
    FileSystem* files = &realFileSystem();
    std::vector<std::string> optionTexts;
    std::int64_t totalCells = 0;
    MapStatistics statistics;
};

// The whole run: banner and menu, settings, seed, initial landmass, generations until a key,
// report and save question. Returns the exit status, 0 for each of its endings.
int runProgram(Program& program);

// The title and credits block, from row 1.
void showBanner(Program& program);

// The generation cycle, run until a key is pressed. Returns when the loop has ended.
void runGenerations(Program& program);

// The report under the map, rows 30 .. 34, and the wait for a key.
void printRunReport(Program& program);

}  // namespace orv
