#pragma once

#include <functional>
#include <string>

#include "settings/Seeding.hpp"

namespace orv {

class Screen;

// The seed typed, and the line that told where a seed from the clock came from.
struct SeedAnswer {
    SeedChoice choice;
    std::string clockLine;
    int clockRow = 0;  // 0: no such line
};

// The seed dialogue: asks until the answer is not "no" and returns the seed typed by the
// prompt's rule (promptSeedChoice: 0 takes the clock's reading, whose seed is then shown, -1
// the clock's bit pattern). The run seeds the source with it, then calls confirmSeed.
SeedAnswer askSeed(Screen& screen, const std::function<double()>& clock);

// The dialogue's end: " <press any key to continue>" on row 23, and the wait for a key.
void confirmSeed(Screen& screen, const SeedAnswer& answer);

}  // namespace orv
