#pragma once

#include <functional>
#include <string>

namespace orv {

class Screen;

// Opens the 800 x 600 window with the given title, runs program on a thread of its own and,
// on the calling thread, shows the screen's frame buffer about every 10 ms and feeds key
// presses into its key queue until program returns. The window's close button only queues
// the close key. Returns program's result, or a non-zero status after printing why on
// stderr when no window can be opened.
int runInWindow(const std::string& title, Screen& screen, const std::function<int()>& program);

}  // namespace orv
