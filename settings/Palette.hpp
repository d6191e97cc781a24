#pragma once

#include <cstdint>

namespace orv {

using ColorIndex = std::int32_t;

// The 16 text-mode colours as 0xAARRGGBB; any index outside 0 .. 15 gives 0 (transparent black).
std::uint32_t paletteColor(ColorIndex index);

}  // namespace orv
