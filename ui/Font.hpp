#pragma once

#include <array>
#include <cstdint>

namespace orv {

// One 8 x 16 glyph: a byte per pixel row from the top, bit 7 the leftmost pixel.
using Glyph = std::array<std::uint8_t, 16>;

// The code page 437 font, one glyph for each of the 256 character codes.
extern const std::array<Glyph, 256> kFont8x16;

}  // namespace orv
