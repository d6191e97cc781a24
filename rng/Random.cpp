#include "rng/Random.hpp"

#include "rng/Twist.hpp"
#include "rng/TwistImpl.hpp"

namespace orv {

void Random::seed(std::uint32_t word) {
    state_[0] = word;
    for (std::size_t i = 1; i < state_.size(); ++i) state_[i] = state_[i - 1] * 1664525u + 1013904223u;
    position_ = kStateSize;
    seeded_ = true;
}

void twistStatePortable(std::uint32_t* state) {
    twistState(state);
}

bool twistAvx2Available() {
#if defined(__x86_64__)
    return __builtin_cpu_supports("avx2") != 0;
#else
    return false;
#endif
}

bool twistAvx512Available() {
#if defined(__x86_64__)
    return __builtin_cpu_supports("avx512f") != 0;
#else
    return false;
#endif
}

void Random::refill() {
    if (!seeded_) seed(0);
#if defined(__x86_64__)
    if (twistAvx512Available()) {
        twistStateAvx512(state_.data());
        position_ = 0;
        return;
    }
    if (twistAvx2Available()) {
        twistStateAvx2(state_.data());
        position_ = 0;
        return;
    }
#endif
    twistState(state_.data());
    position_ = 0;
}

void Random::discard(std::uint64_t n) {
    while (n > 0) {
        if (position_ >= kStateSize) refill();
        const auto left = static_cast<std::uint64_t>(kStateSize - position_);
        const int take = static_cast<int>(n < left ? n : left);
        skip(take);
        n -= static_cast<std::uint64_t>(take);
    }
}

}  // namespace orv
