#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include "rng/Random.hpp"
#include "settings/Settings.hpp"
#include "sim/FlowDecisions.hpp"
#include "sim/Kernels.hpp"
#include "sim/ThreadTeam.hpp"

namespace orv {

// A value that one thread posts once and another waits for.
template <class T>
class Posted {
public:
    void post(const T& value) {
        value_ = value;
        ready_.raise(1);
    }
    bool posted() const { return ready_.count() != 0; }
    const T& wait() {
        ready_.waitFor(1);
        return value_;
    }

private:
    T value_{};
    HandOff ready_;
};

// The flow decisions of one generation made by two walks through the random stream, on two
// threads. Making a cell's decisions costs several times what applying the rule to it does,
// and where a cell starts depends on every cell before it. But which of a cell's draws a word
// is (its state, see FlowDecisions) is soon forgotten: walks begun in each of the four states
// start their cells at the same words within a few words. So the second walk begins at about
// the draw where the later part of the generation starts, walks on to the first draw at which
// a cell starts whatever the draws before it were (FlowDecisions::findSureStart), and makes the
// decisions from there; the first walk, which also applies the rule, makes the cells before
// that draw and takes the second's from there on. Cells of a fixed number of draws need no
// search. When there is no sure start within reach, or the first walk does not get there, or
// the second would have to make more (or fewer) cells than it has room for, the first walk
// makes every cell. Either way every cell gets exactly the straightforward rule's decisions.
class TwoWalks {
public:
    // What lasts from one generation to the next: room for the second walk's decisions (it
    // grows as needed), and the share of the cells the first walk makes. The share follows the
    // threads' speeds: the first walk also applies the rule, and on a shared machine one thread
    // can run slower than the other for a while.
    struct Room {
        std::vector<std::uint8_t> ahead;
        double firstShare = 0.45;
    };

    // For a generation of `cells` cells whose first draw is random's next: `first` makes the
    // first walk's decisions (varying ones) from random.
    TwoWalks(const Settings& settings, KernelLevel level, FlowWalk walk, FlowDecisions& first, const Random& random,
             std::int64_t cells, Room& room);

    // False when the generation is too small for the second walk to make any cells before the
    // first gets to them: then the first walk had better make them all, alone.
    bool worthwhile() const { return madeBeforeVerdict(aim_) > 0; }
    // The second walk, on a thread of its own.
    void second();
    // The first walk: the decisions of the generation's next `count` cells, made from random into
    // scratch, or the second walk's. Every cell in order, then firstDone().
    const std::uint8_t* next(Random& random, std::int64_t count, std::uint8_t* scratch);
    void firstDone();
    // Once both walks are done: whether they joined; if so, random is set where the generation's
    // draws ended. Moves the first walk's share towards the faster thread.
    bool finish(Random& random);

private:
    static constexpr std::uint64_t kNoStart = std::numeric_limits<std::uint64_t>::max();
    static constexpr std::int64_t kApart = -1;

    // How many cells the second walk makes before it knows how many it must: fewer, by a margin
    // far beyond the spread of where the walks join, than the generation has left after `sure`.
    std::int64_t madeBeforeVerdict(std::uint64_t sure) const;

    const Settings& settings_;
    KernelLevel level_;
    FlowWalk walk_;
    FlowDecisions& first_;
    const Random start_;
    const std::int64_t cells_;
    Room& room_;
    const int fixedDraws_, maxDraws_;
    const double meanDraws_;
    std::uint64_t aim_ = 0;      // the draw the second walk begins at
    std::int64_t capacity_ = 0;  // the second walk's room for cells

    Posted<std::uint64_t> sure_;     // the second walk's sure start, or kNoStart
    HandOff made_;                   // cells the second walk has made (snapshots of its source come first)
    Posted<std::int64_t> needed_;    // the cells the second walk is to make in all, or kApart
    std::atomic<bool> stop_{false};  // the first walk has taken over: the second stops
    Random end_;                     // the second walk's source after its last cell

    // The first walk's place: its next cell, and the cell at which the second walk's begin.
    std::int64_t nextCell_ = 0;
    std::int64_t joinedAt_ = -1;
    bool decided_ = false;
    // Which walk waited for the other (the second for being told how many cells to make, the
    // first for cells): the share of the faster had better grow.
    bool firstWaited_ = false, secondWaited_ = false;
};

}  // namespace orv
