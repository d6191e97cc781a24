// The state regeneration compiled for AVX-512; Random calls it only when the processor has it.
#include "rng/Twist.hpp"
#include "rng/TwistImpl.hpp"

namespace orv {

void twistStateAvx512(std::uint32_t* state) {
    twistState(state);
}

}  // namespace orv
