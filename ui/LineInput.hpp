#pragma once

#include <string>
#include <string_view>

namespace orv {

class Screen;

// Prints the prompt at the cursor, lets the user edit one line after it and returns the line's
// first input item. Afterwards the cursor stands at column 1 of the row below the line.
std::string promptInput(Screen& screen, std::string_view prompt);

}  // namespace orv
