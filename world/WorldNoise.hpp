#pragma once

// The random numbers of a world and the integer arithmetic it is grown with.
//
// Streams. A world takes one 32-bit word, the seed word, from the run's random source (right
// after the seeding step, whichever way the source was seeded: a number, the clock, the seed
// prompt's bit pattern, or not at all). Each part of the world draws from a stream of its own,
// keyed by mixing the seed word with the stream's number (streamKey), so that what one part
// draws never moves another: the continents' layout, the coasts' roughness and the islands each
// have their stream, and a setting that shapes one part leaves the others' numbers as they were.
// A stream is counter-based: the k-th number of a stream is mix64(key + (k + 1) * golden), and a
// cell's number at a level of the pyramid is the number at the counter made of the level and
// the cell's coordinates. No number depends on the order the cells are visited in, so the world
// is the same on any number of threads.
//
// mix64 is the finalizer of SplitMix64 (Steele, Lea and Flood, 2014): an invertible mix whose
// every output bit depends on every input bit.
//
// Everything is integer arithmetic: no floating point, so no build, processor or compiler
// contraction changes a bit of a world.
#include <cstdint>

namespace orv::world {

inline constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15u;

inline constexpr std::uint64_t mix64(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
}

// The streams of a world.
enum class Stream : std::uint64_t { continents = 1, coasts = 2, islands = 3 };

inline constexpr std::uint64_t streamKey(std::uint32_t seedWord, Stream stream) {
    return mix64(std::uint64_t{seedWord} * kGolden + static_cast<std::uint64_t>(stream));
}

// The number at a counter of a stream.
inline constexpr std::uint64_t streamNumber(std::uint64_t key, std::uint64_t counter) {
    return mix64(key + (counter + 1) * kGolden);
}

// A stream read in order: the continents' layout draws its numbers one after another.
class StreamReader {
public:
    explicit StreamReader(std::uint64_t key) : key_(key) {}
    std::uint64_t next() { return streamNumber(key_, counter_++); }
    // A whole number in 0 .. n - 1 (n >= 1), from the high 32 bits.
    std::uint32_t below(std::uint32_t n) {
        return static_cast<std::uint32_t>(((next() >> 32) * std::uint64_t{n}) >> 32);
    }

private:
    std::uint64_t key_;
    std::uint64_t counter_ = 0;
};

// A cell's noise at a level of a pyramid, in -65535 .. 65535 with a triangular distribution
// (smoother than uniform when summed over levels): one stream number serves four cells of a
// column (y, y + 1, y + 2, y + 3 from a multiple of 4), 16 bits each, whose two bytes a and b
// give (a + b - 255) x 257.
inline std::int32_t cellNoise(std::uint64_t key, int level, int x, int y) {
    const std::uint64_t counter = (static_cast<std::uint64_t>(level) << 40) |
                                  (static_cast<std::uint64_t>(static_cast<std::uint32_t>(x)) << 18) |
                                  (static_cast<std::uint32_t>(y) >> 2);
    const std::uint64_t bits = streamNumber(key, counter) >> (16 * (y & 3));
    return (static_cast<std::int32_t>(bits & 0xFF) + static_cast<std::int32_t>((bits >> 8) & 0xFF) - 255) * 257;
}

// The noise of cells y0 .. y0 + count - 1 of column x (y0 a multiple of 4), as cellNoise gives it.
inline void columnNoise(std::uint64_t key, int level, int x, int y0, int count, std::int32_t* out) {
    const std::uint64_t base =
        (static_cast<std::uint64_t>(level) << 40) | (static_cast<std::uint64_t>(static_cast<std::uint32_t>(x)) << 18);
    for (int k = 0; k < count; k += 4) {
        std::uint64_t bits = streamNumber(key, base | (static_cast<std::uint32_t>(y0 + k) >> 2));
        for (int j = 0; j < 4 && k + j < count; ++j, bits >>= 16)
            out[k + j] =
                (static_cast<std::int32_t>(bits & 0xFF) + static_cast<std::int32_t>((bits >> 8) & 0xFF) - 255) * 257;
    }
}

// floor(sqrt(v)).
std::uint64_t isqrt(std::uint64_t v);
// log2(v) x 65536, rounded down, for v >= 1.
std::int64_t log2Q16(std::uint64_t v);
// 2^(e / 65536) x 65536, rounded down, for e up to 40 x 65536 (0 for e below -16 x 65536).
std::int64_t exp2Q16(std::int64_t e);

}  // namespace orv::world
