#pragma once

#include "settings/Settings.hpp"

namespace orv::test {

// The presets on a map of the given size.
inline Settings presets(int xsize, int ysize) {
    Settings s;
    applyPresets(s);
    s.xsize = xsize;
    s.ysize = ysize;
    return s;
}

}  // namespace orv::test
