#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "app/KeyScript.hpp"
#include "app/Program.hpp"
#include "io/SafeWrite.hpp"
#include "rng/Random.hpp"
#include "settings/Seeding.hpp"
#include "ui/Screen.hpp"

namespace orv {

struct HeadlessOptions {
    std::function<double()> clock = clockSeconds;  // what the clock reads
    std::filesystem::path directory = {};          // where files are read and written; empty: the current one
    FileSystem* files = nullptr;                   // what maps are saved through; null: the real file system
};

// One session of the program without a window: a fresh screen whose keys come from the
// script, and a fresh program run on it. Kept whole for whoever wants to look at it afterwards.
struct HeadlessSession {
    std::unique_ptr<Screen> screen;
    std::unique_ptr<KeyScript> script;
    std::unique_ptr<Program> program;
    int status = -1;         // runProgram's result; -1 when the script ran out first
    bool exhausted = false;  // the script was used up while the program waited for a key
};

// Runs a whole session as orvandel-headless does; the session tests run theirs through this.
HeadlessSession runHeadless(KeyScript script, const HeadlessOptions& options = {});

// The text rows of the screen, one line each, trailing blanks removed.
std::string screenText(const Screen& screen);

}  // namespace orv
