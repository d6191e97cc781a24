#include "settings/Seeding.hpp"

#include <time.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstring>

#include "settings/NumberText.hpp"
#include "settings/SeedNumber.hpp"

namespace orv {

double clockSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
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

std::uint32_t clockBitsWord(double reading) {
    std::uint64_t bits = 0;  // the reading's bits (std::bit_cast is missing from some libraries)
    std::memcpy(&bits, &reading, sizeof bits);
    return static_cast<std::uint32_t>(bits) ^ static_cast<std::uint32_t>(bits >> 32);
}

std::uint32_t sourceWord(double seed, const std::function<double()>& clock) {
    return seed == -1.0 ? clockBitsWord(clock()) : seedWord(seed);
}

ResolvedSeed resolveSeed(const SeedChoice& choice, const std::function<double()>& clock) {
    ResolvedSeed r;
    r.outcome.used = true;
    switch (choice.kind) {
        case SeedChoice::Kind::number:
            // The number's own 32 bits, so that 0 and -1 seed as they are rather than ask the clock.
            r.word = static_cast<std::uint32_t>(choice.number);
            r.outcome.seed = choice.number;
            break;
        case SeedChoice::Kind::clock:
            r.word = seedWord(choice.seconds);
            r.outcome.fromClock = true;
            r.outcome.seed = static_cast<std::int32_t>(r.word);
            break;
        case SeedChoice::Kind::clockSeed:
            r.word = static_cast<std::uint32_t>(choice.number);
            r.outcome.fromClock = true;
            r.outcome.seed = choice.number;
            break;
        case SeedChoice::Kind::clockBits:
            r.word = clockBitsWord(clock());
            r.outcome.fromClock = true;
            r.outcome.seed = -1;
            break;
    }
    return r;
}

SeedChoice promptSeedChoice(std::int32_t answer, const std::function<double()>& clock) {
    if (answer == 0) return SeedChoice::fromClock(clock());
    return answer == -1 ? SeedChoice::fromClockBits() : SeedChoice::of(answer);
}

std::int32_t freshClockSeed() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    // splitmix64 of the time and the process: two runs in one second, or at one instant in two
    // processes, get different seeds.
    std::uint64_t z = static_cast<std::uint64_t>(ts.tv_sec) * 1'000'000'000u + static_cast<std::uint64_t>(ts.tv_nsec);
    z += static_cast<std::uint64_t>(::getpid()) << 40;
    z += 0x9E3779B97F4A7C15u;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    z ^= z >> 31;
    const auto seed = static_cast<std::int32_t>(static_cast<std::uint32_t>(z));
    return seed == 0 || seed == -1 ? 1 : seed;
}

std::optional<SeedArgument> parseSeedArgument(std::string_view text, std::string& error) {
    const std::string what = "--seed " + std::string(text) + ": ";
    SeedArgument seeds;
    if (text == "clock") {
        seeds.fromClock = true;
        return seeds;
    }
    // A range when the text is a whole number, a dash and more.
    std::size_t i = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    if (i > 0 && i < text.size() && text[i] == '-' && isWholeNumber(text.substr(0, i))) {
        if (!isWholeNumber(text.substr(i + 1))) {
            error = what + "a range is two whole numbers, such as 1-100";
            return std::nullopt;
        }
        std::int64_t first = 0, last = 0;
        for (const auto& [part, value] : {std::pair{text.substr(0, i), &first}, std::pair{text.substr(i + 1), &last}}) {
            if (!readInt64(part, *value) || *value < INT32_MIN || *value > INT32_MAX) {
                error = what + std::string(part) + " is beyond the seeds, -2147483648 .. 2147483647";
                return std::nullopt;
            }
        }
        if (first > last) {
            error = what + "the first seed is above the last";
            return std::nullopt;
        }
        if (first <= 0 && last >= -1) {
            error = what +
                    "a range cannot hold 0 or -1, which would take the seed from the clock (--seed clock takes "
                    "one and prints it)";
            return std::nullopt;
        }
        if (last - first + 1 > kMaxSeedRange) {
            error = what + "at most " + std::to_string(kMaxSeedRange) + " seeds in one call";
            return std::nullopt;
        }
        seeds.first = static_cast<std::int32_t>(first);
        seeds.last = static_cast<std::int32_t>(last);
        return seeds;
    }
    const std::optional<double> number = exactSeedNumber(text);
    if (!number) {
        error = what + "expected a number (such as 42, 2.5, 1e3 or &hFF, nothing after it), a range A-B, or 'clock'";
        return std::nullopt;
    }
    if (!(*number >= -2147483648.5 && *number < 2147483647.5)) {
        error = what + "beyond the seeds, -2147483648 .. 2147483647";
        return std::nullopt;
    }
    const std::int32_t seed = roundToSeed(*number);
    if (seed == -1) {
        error = what +
                "-1 takes the seed from the clock's bit pattern, which can never be given again; --seed clock "
                "takes a seed from the clock and prints it";
        return std::nullopt;
    }
    seeds.fromClock = seed == 0;  // as at the seed prompt
    seeds.first = seeds.last = seed;
    return seeds;
}

std::optional<std::string> seedProblem(std::int64_t seed) {
    if (seed == -1)
        return "seed -1: -1 takes the seed from the clock's bit pattern, which can never be given again; 0 takes "
               "a seed from the clock";
    if (seed < INT32_MIN || seed > INT32_MAX)
        return "seed " + std::to_string(seed) + ": beyond the seeds, -2147483648 .. 2147483647";
    return std::nullopt;
}

std::string unseededWarning(const Settings& settings) {
    if (settings.random1 == 1) return {};
    return "the settings set random1 to " + std::to_string(settings.random1) +
           ", so no seed is used (the window program asks for none either)";
}

}  // namespace orv
