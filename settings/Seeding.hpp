#pragma once

// Where a run's seed comes from, in one place: the seed prompt's rule (0 takes the seed from the
// clock, -1 from the clock's bit pattern), the command line's (one number, a range A-B, or
// "clock"; -1 refused), the library's, and what the clock gives. The random source itself only
// ever takes the 32-bit word these rules end in.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "settings/Settings.hpp"

namespace orv {

// Seconds since an arbitrary fixed origin, from the system's monotonic clock: the window
// program's clock for seeds.
double clockSeconds();

// The 32-bit word a number other than -1 seeds the source with: the number truncated toward
// zero, its low 32 bits. For a seed taken from the clock, this word read as a signed number is
// the seed to type to get the same map again (unless it is 0 or -1, which mean the clock).
std::uint32_t seedWord(double seed);

// The word the bit pattern of a clock reading seeds the source with (the seed prompt's -1): the
// two halves of the reading's 64 bits combined. It can never be typed again.
std::uint32_t clockBitsWord(double reading);

// The word a number seeds the source with by the rule of the seed prompt and of erosionseed:
// -1 takes the bit pattern of clock(), anything else is seedWord.
std::uint32_t sourceWord(double seed, const std::function<double()>& clock);

// How the source of a run is seeded when the settings ask for a seed (random1 is 1).
struct SeedChoice {
    enum class Kind {
        number,     // exactly this number: its 32 bits start the state, 0 and -1 included
        clock,      // a clock reading, whose whole seconds start the state
        clockBits,  // the bit pattern of a clock reading (the seed prompt's -1), never given again
    };
    Kind kind = Kind::number;
    std::int32_t number = 0;
    double seconds = 0;  // the reading, for Kind::clock

    static SeedChoice of(std::int32_t number) { return {Kind::number, number, 0}; }
    static SeedChoice fromClock(double seconds) { return {Kind::clock, 0, seconds}; }
    static SeedChoice fromClockBits() { return {Kind::clockBits, 0, 0}; }
};

// What seeded a run.
struct SeedOutcome {
    bool used = false;       // random1 was 1; otherwise the source keeps the sequence of seed 0
    bool fromClock = false;  // the seed came from the clock
    // The seed that makes the same map again: the number, or a clock reading's whole seconds
    // (-1 for a bit pattern, which cannot be given). 0 when no seed was used.
    std::int32_t seed = 0;
};

// A choice made into the word that seeds the source and what to tell of it; clock is read for a
// bit-pattern seed.
struct ResolvedSeed {
    std::uint32_t word = 0;
    SeedOutcome outcome;
};
ResolvedSeed resolveSeed(const SeedChoice& choice, const std::function<double()>& clock);

// The seed prompt's answer (already read as its seed value): 0 takes the clock's reading now,
// -1 its bit pattern when the run seeds, anything else is that number.
SeedChoice promptSeedChoice(std::int32_t answer, const std::function<double()>& clock);

// A seed for orvandel-batch --seed clock: unlike the window program's whole seconds, different
// for every run (the real-time clock's nanoseconds and the process mixed), never 0 or -1.
std::int32_t freshClockSeed();

// A seed argument of a command line: one number as the seed prompt reads it (nothing after it:
// 42, 2.5, 1e3, &hFF; 0 takes the clock), a range A-B of whole numbers (neither 0 nor -1
// inside), or "clock". -1 is refused: the clock's bit pattern can never be given again.
struct SeedArgument {
    bool fromClock = false;
    std::int32_t first = 0, last = 0;  // the seeds first .. last (one when equal)
};
// The most seeds in one range.
inline constexpr std::int64_t kMaxSeedRange = 1'000'000;
// Nothing, with error set to one line naming the option ("--seed 5-x: ..."), for a bad argument.
std::optional<SeedArgument> parseSeedArgument(std::string_view text, std::string& error);

// Why the library cannot make a map from this seed (-1, or beyond 32 bits); nothing when it can.
// 0 takes a seed from the clock.
std::optional<std::string> seedProblem(std::int64_t seed);

// What is said when the settings turn the seed off (random1 is not 1); empty when they do not.
std::string unseededWarning(const Settings& settings);

}  // namespace orv
