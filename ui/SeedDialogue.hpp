#pragma once

#include <functional>

#include "sim/Simulation.hpp"

namespace orv {

class Random;
class Screen;

// The seed dialogue: asks until the answer is not "no", seeds the source (seedSource) with the
// number typed, 0 meaning the clock (whose seed is then shown) and -1 the clock's bit pattern,
// then shows " <press any key to continue>" on row 23 and waits for a key.
SeedOutcome askSeed(Screen& screen, Random& random, const std::function<double()>& clock);

}  // namespace orv
