#pragma once

#include <array>
#include <cstdint>
#include <functional>

namespace orv {

// The one pseudo-random source of a run: MT19937 (the published recurrence and tempering)
// seeded by a linear congruential fill of its state instead of the usual initialisation.
class Random {
public:
    static constexpr int kStateSize = 624;

    // Restarts the sequence. A seed of exactly -1 is replaced by a seed made from the bit
    // pattern of clock(); any other seed is truncated toward zero and its low 32 bits are used.
    void seedRandom(double seed, const std::function<double()>& clock);
    void seedRandom(double seed);
    // The next number r, 0 <= r < 1 (a 32-bit output times 2^-32). Seeds with 0 first if unseeded.
    double nextRandom() { return static_cast<double>(nextRaw()) * (1.0 / 4294967296.0); }
    // The next tempered 32-bit output.
    std::uint32_t nextRaw() {
        if (position_ >= kStateSize) refill();
        std::uint32_t y = state_[static_cast<std::size_t>(position_++)];
        y ^= y >> 11;
        y ^= (y << 7) & 0x9D2C5680u;
        y ^= (y << 15) & 0xEFC60000u;
        y ^= y >> 18;
        return y;
    }

    bool seeded() const { return seeded_; }
    int position() const { return position_; }
    const std::array<std::uint32_t, kStateSize>& state() const { return state_; }

    // Regenerates the whole state (the MT19937 twist); position restarts at 0. Seeds with 0
    // first if unseeded. Public so that faster consumers can take words in blocks.
    void refill();
    // Hands out the untempered state words in blocks: advances position by n (n <= words left).
    void skip(int n) { position_ += n; }

private:
    void seedFromInteger(std::uint32_t s0);

    std::array<std::uint32_t, kStateSize> state_{};
    int position_ = kStateSize;
    bool seeded_ = false;
};

// Seconds since an arbitrary fixed origin, from the system's monotonic clock.
double clockSeconds();

// floor(r * k) for r = y * 2^-32, formed exactly in integers.
inline std::uint32_t scaleDraw(std::uint32_t y, std::uint32_t k) {
    return static_cast<std::uint32_t>((static_cast<std::uint64_t>(y) * k) >> 32);
}

}  // namespace orv
