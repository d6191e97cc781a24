#pragma once

#include <cstdint>

namespace orv {

// The MT19937 state regeneration of 624 words in place, in the version for any processor and,
// on x86-64, in those for AVX2 and AVX-512. Random::refill picks the best this processor runs.
void twistStatePortable(std::uint32_t* state);
#if defined(__x86_64__)
void twistStateAvx2(std::uint32_t* state);
void twistStateAvx512(std::uint32_t* state);
#endif
bool twistAvx2Available();
bool twistAvx512Available();

}  // namespace orv
