#include "rng/Random.hpp"

#include <bit>
#include <cmath>
#include <time.h>

namespace orv {

void Random::seedFromInteger(std::uint32_t s0) {
    state_[0] = s0;
    for (std::size_t i = 1; i < state_.size(); ++i) state_[i] = state_[i - 1] * 1664525u + 1013904223u;
    position_ = kStateSize;
    seeded_ = true;
}

void Random::seedRandom(double seed) { seedRandom(seed, clockSeconds); }

void Random::seedRandom(double seed, const std::function<double()>& clock) {
    if (seed == -1.0) {
        const auto bits = std::bit_cast<std::uint64_t>(clock());
        seedFromInteger(static_cast<std::uint32_t>(bits) ^ static_cast<std::uint32_t>(bits >> 32));
        return;
    }
    // Truncate toward zero to a signed 64-bit integer and keep the low 32 bits. Values that do
    // not fit in 64 bits (and NaN) have no such integer; they saturate, so the result is defined.
    std::int64_t whole = 0;
    const double t = std::trunc(seed);
    if (std::isnan(t)) whole = 0;
    else if (t >= 9223372036854775807.0) whole = INT64_MAX;
    else if (t < -9223372036854775807.0) whole = INT64_MIN;
    else whole = static_cast<std::int64_t>(t);
    seedFromInteger(static_cast<std::uint32_t>(static_cast<std::uint64_t>(whole)));
}

void Random::refill() {
    if (!seeded_) seedFromInteger(0);
    constexpr int n = kStateSize, m = 397;
    auto mix = [](std::uint32_t upper, std::uint32_t lower, std::uint32_t far) {
        const std::uint32_t y = (upper & 0x80000000u) | (lower & 0x7FFFFFFFu);
        return far ^ (y >> 1) ^ ((y & 1u) ? 0x9908B0DFu : 0u);
    };
    std::uint32_t* s = state_.data();
    for (int i = 0; i < n - m; ++i) s[i] = mix(s[i], s[i + 1], s[i + m]);
    for (int i = n - m; i < n - 1; ++i) s[i] = mix(s[i], s[i + 1], s[i + m - n]);
    s[n - 1] = mix(s[n - 1], s[0], s[m - 1]);
    position_ = 0;
}

double clockSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace orv
