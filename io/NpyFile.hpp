#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace orv {

// The header of a NumPy .npy file, format version 1.0, for a C-ordered (row-major) array of
// unsigned bytes of shape (height, width): the magic "\x93NUMPY", the version, the length of
// the dictionary that follows, and the dictionary, padded with blanks and ended by a newline
// so that the data starts at a multiple of 64 bytes. The data is then the rows, top first.
// Other element types by their NumPy descr: "<i2" for little-endian signed 16-bit integers.
std::string npyHeader(std::uint64_t height, std::uint64_t width, std::string_view descr = "|u1");

}  // namespace orv
