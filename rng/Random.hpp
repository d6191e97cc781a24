#pragma once

#include <array>
#include <cstdint>

namespace orv {

// The tempering of MT19937 for one state word.
inline std::uint32_t temperWord(std::uint32_t y) {
    y ^= y >> 11;
    y ^= (y << 7) & 0x9D2C5680u;
    y ^= (y << 15) & 0xEFC60000u;
    y ^= y >> 18;
    return y;
}

// The one pseudo-random source of a run: MT19937 (the published recurrence and tempering)
// seeded by a linear congruential fill of its state instead of the usual initialisation.
class Random {
public:
    static constexpr int kStateSize = 624;

    // Restarts the sequence from a 32-bit word: the state's first word, each next one made from
    // the one before by a linear congruential step. (Which word a typed seed or the clock gives
    // is the seeding rules' business: settings/Seeding.hpp.)
    void seed(std::uint32_t word);
    // The next number r, 0 <= r < 1 (a 32-bit output times 2^-32). Seeds with 0 first if unseeded.
    double nextRandom() { return static_cast<double>(nextRaw()) * (1.0 / 4294967296.0); }
    // The next tempered 32-bit output.
    std::uint32_t nextRaw() {
        if (position_ >= kStateSize) refill();
        ++draws_;
        return temperWord(state_[static_cast<std::size_t>(position_++)]);
    }

    bool seeded() const { return seeded_; }
    int position() const { return position_; }
    const std::array<std::uint32_t, kStateSize>& state() const { return state_; }
    // How many 32-bit outputs have been taken since construction (seeding does not reset it).
    std::uint64_t draws() const { return draws_; }

    // Block access for consumers that take many words at once. Such a consumer reads the
    // untempered words state()[position() .. kStateSize - 1], tempers those it needs itself,
    // and reports them taken with skip(); when it needs a word past the block it calls refill().
    //
    // Regenerates the whole state (the MT19937 twist); position restarts at 0. Seeds with 0
    // first if unseeded. Call it only when the block is used up (position() == kStateSize).
    void refill();
    // Marks the next n words of the block (n <= kStateSize - position()) as taken.
    void skip(int n) {
        position_ += n;
        draws_ += static_cast<std::uint64_t>(n);
    }
    // Takes n words without looking at them: the same state afterwards as n calls of nextRaw().
    void discard(std::uint64_t n);

private:
    alignas(64) std::array<std::uint32_t, kStateSize> state_{};
    int position_ = kStateSize;
    bool seeded_ = false;
    std::uint64_t draws_ = 0;
};

// floor(r * k) for r = y * 2^-32, formed exactly in integers.
inline std::uint32_t scaleDraw(std::uint32_t y, std::uint32_t k) {
    return static_cast<std::uint32_t>((static_cast<std::uint64_t>(y) * k) >> 32);
}

}  // namespace orv
