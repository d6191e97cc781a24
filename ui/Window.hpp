#pragma once

#include <functional>
#include <string>

namespace orv {

class Screen;
struct ImageBuffer;

// Opens the window with the given title and icon, runs program on a thread of its own and, on
// the calling thread, shows the screen's 800 x 600 frame buffer about every 10 ms and feeds key
// presses into its key queue until program returns. The window opens at the largest whole
// multiple of 800 x 600 that fits the screen and may be resized freely: the picture is scaled
// to fit, nearest neighbour, between black bars. F11 and Alt+Enter toggle full screen and are
// not passed on. The window's close button only queues the close key. Returns program's result,
// or a non-zero status after printing why on stderr when no window can be opened.
int runInWindow(const std::string& title, const ImageBuffer& icon, Screen& screen, const std::function<int()>& program);

}  // namespace orv
