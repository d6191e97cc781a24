#pragma once

// A second implementation of the map, kept apart from the program's code and written for the
// tests from the rules as the program's documentation states them: cells are 32-bit integers
// in a [x][y] array of 403 x 403, numbers come from the standard library's Mersenne Twister
// started from the same 624 state words, and every draw is a double r with floor(r * K).
// It shares nothing with sim/ or rng/ but the Settings record.

#include <cmath>
#include <cstdint>
#include <random>
#include <sstream>
#include <vector>

#include "settings/Settings.hpp"

namespace orv::test {

class IndependentSource {
public:
    explicit IndependentSource(std::uint32_t seed) {
        // The state: seed, then each word 1664525 times the one before plus 1013904223.
        std::stringstream words;
        std::uint32_t word = seed;
        for (int i = 0; i < 624; ++i) {
            words << word << ' ';
            word = word * 1664525u + 1013904223u;
        }
        words << 624;  // the next draw regenerates the state
        words >> engine_;
    }
    double next() {
        ++draws;
        return static_cast<double>(engine_()) / 4294967296.0;
    }
    int below(int k) { return static_cast<int>(std::floor(next() * k)); }

    long long draws = 0;

private:
    std::mt19937 engine_;
};

struct IndependentMap {
    static constexpr int kSide = 403;
    explicit IndependentMap(const Settings& settings)
        : s(settings), current(kSide * kSide, 0), next(kSide * kSide, 0) {}

    int& cur(int x, int y) { return current[static_cast<std::size_t>(x * kSide + y)]; }
    int& nxt(int x, int y) { return next[static_cast<std::size_t>(x * kSide + y)]; }

    void fill(IndependentSource& source) {
        for (int x = s.oceanedgesizex; x <= s.xsize - s.oceanedgesizex; ++x)
            for (int y = s.oceanedgesizey; y <= s.ysize - s.oceanedgesizey; ++y) cur(x, y) = source.below(2);
    }

    // One cycle up to the key poll: phase, border, rule, count, erosion lookup.
    void compute(IndependentSource& source, const std::vector<int>& erosionTable = {}) {
        phase = 1 - phase;
        for (int y = 1; y <= s.ysize; ++y) {
            cur(0, y) = cur(s.xsize, y);
            cur(s.xsize + 1, y) = cur(1, y);
        }
        for (int x = 1; x <= s.xsize; ++x) {
            cur(x, 0) = cur(x, s.ysize);
            cur(x, s.ysize + 1) = cur(x, 1);
        }
        for (int x = 1; x <= s.xsize; ++x) {
            for (int y = 1; y <= s.ysize; ++y) {
                auto land = [&](int xx, int yy) { return cur(xx, yy) == 3 ? 1 : 0; };
                int n = land(x - 1, y - 1) + land(x + 1, y - 1) + land(x - 1, y + 1) + land(x + 1, y + 1);
                bool upperOut = false, lowerOut = false, leftOut = false, rightOut = false;
                if (s.downupflow != 0) {
                    const int d1 = source.below(100);
                    if (d1 <= s.downupflow && (s.upflowenabled != 0 || s.downflowenabled != 0)) {
                        if (s.upflowenabled != 0) {
                            const int d2 = source.below(100);
                            (d2 <= s.upflowratio ? upperOut : lowerOut) = true;
                        } else {
                            upperOut = true;
                        }
                    }
                }
                if (!upperOut) n += land(x, y - 1);
                if (!lowerOut) n += land(x, y + 1);
                if (s.leftrightflow != 0) {
                    const int d3 = source.below(100);
                    if (d3 <= s.leftrightflow && (s.leftflowenabled != 0 || s.rightflowenabled != 0)) {
                        if (s.leftflowenabled != 0) {
                            const int d4 = source.below(100);
                            (d4 <= s.rightflowratio ? rightOut : leftOut) = true;
                        } else {
                            rightOut = true;
                        }
                    }
                }
                if (!leftOut) n += land(x - 1, y);
                if (!rightOut) n += land(x + 1, y);
                const int v = cur(x, y);
                if (v == 0) {
                    if (n < 4) nxt(x, y) = 3;
                } else {
                    if (v == 3 && n > s.landmasssize) nxt(x, y) = 0;
                    if (n == s.landwaterratio) nxt(x, y) = 0;
                }
            }
        }
        ++cycles;
        if (s.erosion == 1 && !erosionTable.empty())
            s.landwaterratio = erosionTable[static_cast<std::size_t>(cycles % 1000)];
    }

    // 0 unchanged, 1 changed and read as water, 2 changed and read as land.
    int kind(int x, int y) {
        if (cur(x, y) == nxt(x, y)) return 0;
        int v = nxt(x, y);
        if (phase == 0) v = v == 3 ? 0 : 3;
        return v == 0 ? 1 : 2;
    }

    // The commit; paints into an 800 x 600 picture of colour indices (-1 where nothing is drawn).
    void commit(std::vector<int>& picture) {
        for (int x = 1; x <= s.xsize; ++x) {
            for (int y = 1; y <= s.ysize; ++y) {
                const int k = kind(x, y);
                picture[static_cast<std::size_t>((40 + y) * 800 + 40 + x)] = k == 0   ? s.forestcolor
                                                                             : k == 1 ? s.watercolor
                                                                                      : s.landcolor;
                cur(x, y) = nxt(x, y);
            }
        }
    }

    void countFinal(long long& unchanged, long long& water, long long& land) {
        unchanged = water = land = 0;
        for (int x = 1; x <= s.xsize; ++x)
            for (int y = 1; y <= s.ysize; ++y) {
                const int k = kind(x, y);
                (k == 0 ? unchanged : k == 1 ? water : land) += 1;
            }
    }

    Settings s;
    std::vector<int> current, next;
    int phase = 0;
    long long cycles = 0;
};

}  // namespace orv::test
