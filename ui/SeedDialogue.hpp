#pragma once

#include <functional>

namespace orv {

class Random;
class Screen;

// The seed dialogue: asks until the answer is not "no", seeds the source (0 means from the
// clock), then shows " <press any key to continue>" on row 23 and waits for a key.
void askSeed(Screen& screen, Random& random, const std::function<double()>& clock);

}  // namespace orv
