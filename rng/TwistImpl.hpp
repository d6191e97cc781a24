#pragma once

// The MT19937 state regeneration, included by Random.cpp and by the file compiled for AVX2.
// Internal linkage: each file keeps its own copy, compiled for its own instruction set.

#include <cstdint>

namespace orv {
namespace {

inline std::uint32_t twistMix(std::uint32_t upper, std::uint32_t lower, std::uint32_t far) {
    const std::uint32_t y = (upper & 0x80000000u) | (lower & 0x7FFFFFFFu);
    return far ^ (y >> 1) ^ ((y & 1u) * 0x9908B0DFu);
}

// Regenerates all 624 words in place, in three plain loops that compilers vectorise: each word
// is mixed from the old value of its successor and of the word 397 on (which the second loop
// finds already regenerated, 227 words back).
inline void twistState(std::uint32_t* s) {
    constexpr int n = 624, m = 397;
    for (int i = 0; i < n - m; ++i) s[i] = twistMix(s[i], s[i + 1], s[i + m]);
    for (int i = n - m; i < n - 1; ++i) s[i] = twistMix(s[i], s[i + 1], s[i + m - n]);
    s[n - 1] = twistMix(s[n - 1], s[0], s[m - 1]);
}

}  // namespace
}  // namespace orv
