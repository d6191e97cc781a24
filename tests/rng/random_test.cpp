#include "rng/Random.hpp"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <sstream>
#include <vector>

#include "rng/Twist.hpp"
#include "settings/Seeding.hpp"

namespace orv {
namespace {

std::vector<std::uint32_t> outputs(Random& random, int n) {
    std::vector<std::uint32_t> out;
    for (int i = 0; i < n; ++i) out.push_back(random.nextRaw());
    return out;
}

Random seeded(double seed) {
    Random random;
    random.seed(seedWord(seed));
    return random;
}

TEST(Random, KnownOutputsOfSeedsZeroAndOne) {
    Random zero = seeded(0);
    EXPECT_EQ(zero.state()[0], 0u);
    EXPECT_EQ(zero.state()[1], 1013904223u);
    EXPECT_EQ(zero.position(), Random::kStateSize);  // nothing drawn until the first draw
    EXPECT_EQ(outputs(zero, 3), (std::vector<std::uint32_t>{0x5481674Du, 0x543BDDA3u, 0x8850CA87u}));
    EXPECT_EQ(seeded(0).nextRandom(), 0.33009954099543393);

    Random one = seeded(1);
    EXPECT_EQ(outputs(one, 3), (std::vector<std::uint32_t>{0x795F26A8u, 0x88418262u, 0xA40CFB36u}));
}

TEST(Random, DrawsAreTheOutputTimesTwoToTheMinus32) {
    Random a = seeded(77), b = seeded(77);
    for (int i = 0; i < 1000; ++i) {
        const double r = a.nextRandom();
        const std::uint32_t y = b.nextRaw();
        ASSERT_EQ(r, static_cast<double>(y) / 4294967296.0);
        ASSERT_LT(r, 1.0);
        // floor(r * K) taken in integers is the same number.
        for (std::uint32_t k : {2u, 10u, 100u}) ASSERT_EQ(scaleDraw(y, k), std::floor(r * k));
    }
    EXPECT_EQ(scaleDraw(0xFFFFFFFFu, 100), 99u);
    EXPECT_EQ(scaleDraw(0, 100), 0u);
}

TEST(Random, MatchesTheStandardTwisterStartedFromTheSameState) {
    // The recurrence and the tempering are the published ones: the standard library's engine,
    // given the same 624 words, gives the same outputs, across many regenerations.
    for (double seed : {0.0, 1.0, 42.0, 4294967295.0}) {
        Random random = seeded(seed);
        std::stringstream words;
        for (std::uint32_t w : random.state()) words << w << ' ';
        words << Random::kStateSize;
        std::mt19937 standard;
        words >> standard;
        ASSERT_FALSE(words.fail());
        for (int i = 0; i < 5000; ++i) ASSERT_EQ(random.nextRaw(), standard()) << "seed " << seed << ", draw " << i;
    }
}

TEST(Random, EveryVersionOfTheRegenerationGivesTheSameState) {
    std::array<std::uint32_t, Random::kStateSize> portable = seeded(2024).state(), avx2 = portable, avx512 = portable;
    for (int round = 0; round < 20; ++round) {
        twistStatePortable(portable.data());
#if defined(__x86_64__)
        twistAvx2Available() ? twistStateAvx2(avx2.data()) : twistStatePortable(avx2.data());
        twistAvx512Available() ? twistStateAvx512(avx512.data()) : twistStatePortable(avx512.data());
#else
        twistStatePortable(avx2.data());
        twistStatePortable(avx512.data());
#endif
        ASSERT_EQ(portable, avx2) << round;
        ASSERT_EQ(portable, avx512) << round;
    }
    Random random = seeded(2024);
    random.nextRaw();  // the first draw regenerates
    std::array<std::uint32_t, Random::kStateSize> once = seeded(2024).state();
    twistStatePortable(once.data());
    EXPECT_EQ(random.state(), once);
}

TEST(Random, AnUnseededSourceDrawsTheSequenceOfSeedZero) {
    Random unseeded;
    EXPECT_FALSE(unseeded.seeded());
    Random zero = seeded(0);
    EXPECT_EQ(outputs(unseeded, 700), outputs(zero, 700));
    EXPECT_TRUE(unseeded.seeded());
}

TEST(Random, SeedsAreTruncatedTowardZeroToTheirLow32Bits) {
    Random a = seeded(12345.9), b = seeded(12345);
    EXPECT_EQ(outputs(a, 10), outputs(b, 10));
    EXPECT_EQ(seeded(-5).state()[0], 0xFFFFFFFBu);
    EXPECT_EQ(seeded(-5.7).state()[0], 0xFFFFFFFBu);
    EXPECT_EQ(seeded(4294967296.0 + 7).state()[0], 7u);  // only the low 32 bits of the whole number
    // Numbers beyond the 64-bit range and NaN still give a defined seed.
    EXPECT_EQ(seeded(1e300).state()[0], 0xFFFFFFFFu);
    EXPECT_EQ(seeded(std::nan("")).state()[0], 0u);
}

TEST(Random, MinusOneSeedsFromTheClocksBitPattern) {
    int calls = 0;
    const double reading = 5123.456789;
    Random random;
    random.seed(sourceWord(-1, [&] {
        ++calls;
        return reading;
    }));
    EXPECT_EQ(calls, 1);
    const auto bits = std::bit_cast<std::uint64_t>(reading);
    const std::uint32_t expected = static_cast<std::uint32_t>(bits) ^ static_cast<std::uint32_t>(bits >> 32);
    EXPECT_EQ(random.state()[0], expected);
    EXPECT_NE(random.state()[0], 0xFFFFFFFFu);  // never -1 itself

    Random later;
    later.seed(sourceWord(-1, [&] { return reading + 0.001; }));
    EXPECT_NE(outputs(random, 3), outputs(later, 3));

    // Any other seed leaves the clock alone.
    Random plain;
    plain.seed(sourceWord(-2, [&] {
        ++calls;
        return reading;
    }));
    EXPECT_EQ(calls, 1);
}

TEST(Random, SeedingWithTheClocksReadingKeepsItsWholeSeconds) {
    Random a = seeded(1000.25), b = seeded(1000.75);
    EXPECT_EQ(outputs(a, 5), outputs(b, 5));
    const double now = clockSeconds();
    EXPECT_GE(clockSeconds(), now);  // monotonic
}

TEST(Random, ReseedingRestartsTheSequence) {
    Random random = seeded(31337);
    const auto first = outputs(random, 900);  // past a regeneration
    random.seed(seedWord(31337));
    EXPECT_EQ(outputs(random, 900), first);
    EXPECT_EQ(random.draws(), 1800u);  // seeding does not reset the count of draws
}

TEST(Random, DiscardLeavesTheSourceWhereDrawingWould) {
    for (std::uint64_t n : {0ull, 1ull, 623ull, 624ull, 625ull, 1248ull, 5000ull}) {
        for (int before : {0, 1, 623}) {
            Random drawn = seeded(9), skipped = seeded(9);
            outputs(drawn, before);
            outputs(skipped, before);
            for (std::uint64_t i = 0; i < n; ++i) drawn.nextRaw();
            skipped.discard(n);
            ASSERT_EQ(skipped.position(), drawn.position()) << n << " after " << before;
            ASSERT_EQ(skipped.state(), drawn.state()) << n << " after " << before;
            ASSERT_EQ(skipped.draws(), drawn.draws());
            ASSERT_EQ(skipped.nextRaw(), drawn.nextRaw());
        }
    }
    Random unseeded;
    unseeded.discard(2);
    EXPECT_EQ(unseeded.nextRaw(), 0x8850CA87u);
}

}  // namespace
}  // namespace orv
