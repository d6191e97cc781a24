#include "rng/Random.hpp"

#include <time.h>

#include <cmath>
#include <cstring>

#include "rng/Twist.hpp"
#include "rng/TwistImpl.hpp"

namespace orv {

void Random::seedFromInteger(std::uint32_t s0) {
    state_[0] = s0;
    for (std::size_t i = 1; i < state_.size(); ++i) state_[i] = state_[i - 1] * 1664525u + 1013904223u;
    position_ = kStateSize;
    seeded_ = true;
}

void Random::seedRandom(double seed) {
    seedRandom(seed, clockSeconds);
}

void Random::seedRandom(double seed, const std::function<double()>& clock) {
    if (seed == -1.0) {
        const double reading = clock();
        std::uint64_t bits = 0;
        std::memcpy(&bits, &reading, sizeof bits);
        seedFromInteger(static_cast<std::uint32_t>(bits) ^ static_cast<std::uint32_t>(bits >> 32));
        return;
    }
    seedFromInteger(seedWord(seed));
}

std::uint32_t seedWord(double seed) {
    // Truncate toward zero to a signed 64-bit integer and keep the low 32 bits. Values that do
    // not fit in 64 bits (and NaN) have no such integer; they saturate, so the result is defined.
    std::int64_t whole = 0;
    const double t = std::trunc(seed);
    if (std::isnan(t))
        whole = 0;
    else if (t >= 9223372036854775807.0)
        whole = INT64_MAX;
    else if (t < -9223372036854775807.0)
        whole = INT64_MIN;
    else
        whole = static_cast<std::int64_t>(t);
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(whole));
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
    if (!seeded_) seedFromInteger(0);
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

double clockSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace orv
