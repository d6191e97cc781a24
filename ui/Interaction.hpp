#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace orv {

class Screen;

// Shows one option at (row, column) in the current colours; arrows step through the first
// count options with wrap-around (right and up forward, left and down back), Enter picks.
// Returns the index of the option picked.
int chooseOption(Screen& screen, const std::vector<std::string>& optionTexts, int row, int column, int count);

// Waits for one key and discards it; a key already waiting ends the wait at once.
void waitForKey(Screen& screen);

// The pause after a generation: 1000 x speed empty steps, none for speed <= 0. It ends early,
// as soon as keyWaiting says that a key is there to be taken, so that a long pause never holds
// up a key press; the key itself is left for the poll that follows.
void speedDelay(std::int32_t speed, const std::function<bool()>& keyWaiting = {});

// Blanks whole text rows, first .. last (rows beyond the grid are skipped).
void wipeRows(Screen& screen, int first, int last);

}  // namespace orv
