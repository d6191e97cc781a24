#pragma once

#include "io/PngWriter.hpp"

namespace orv {

// The programs' icon at size x size pixels: the map of seed 2026 with the presets at 64 x 64
// cells after 60 generations (what orvandel-batch --seed 2026 --size 64x64 --generations 60
// draws), resized by majority (see resizedByMajority), so that every size shows that map in its
// own three colours. Made by the program itself: the window's icon and the icon theme's files
// (drawn while building) are one picture.
ImageBuffer iconPicture(int size);

}  // namespace orv
