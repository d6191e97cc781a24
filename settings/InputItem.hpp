#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orv {

inline constexpr std::size_t kMaxItemLength = 4096;

// Reads the input item that starts at pos and moves pos past it and its separator.
// Blanks and tabs before the item are skipped. A quoted item runs to the closing quote (commas
// and blanks inside are kept); after it, blanks and tabs and then one comma or line end are
// consumed. Any other item runs to the first comma or line end, which is consumed; blanks,
// tabs and quotes inside or at its end are kept. A line end is LF, CR LF or a lone CR. An item
// holds at most kMaxItemLength characters; what follows is left for the next item.
std::string readInputItem(std::string_view text, std::size_t& pos);

// The first input item of a typed line; the rest of the line is dropped.
std::string firstInputItem(std::string_view line);

}  // namespace orv
