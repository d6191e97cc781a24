#include "sim/TwoWalks.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace orv {
namespace {

// The second walk hands its decisions over this many at a time.
constexpr std::int64_t kAheadChunk = 4096;
// How far the second walk looks for a sure start: far beyond where one is found in practice (a
// few words), however rarely a flow's draws make a cell longer.
constexpr std::uint64_t kSearchDraws = std::uint64_t{16} * Random::kStateSize;

// Far beyond the spread of the cells made by n draws (a standard deviation is below sqrt(n)).
std::int64_t spreadMargin(double cells) {
    return static_cast<std::int64_t>(8 * std::sqrt(std::max(cells, 0.0))) + 1024;
}

}  // namespace

TwoWalks::TwoWalks(const Settings& settings, KernelLevel level, FlowWalk walk, FlowDecisions& first,
                   const Random& random, std::int64_t cells, Room& room)
    : settings_(settings),
      level_(level),
      walk_(walk),
      first_(first),
      start_(random),
      cells_(cells),
      room_(room),
      fixedDraws_(first.fixedDraws()),
      maxDraws_(first.maxDrawsPerCell()),
      meanDraws_(first.meanDrawsPerCell()) {
    const auto split = static_cast<std::int64_t>(static_cast<double>(cells) * room.firstShare);
    // With cells of a fixed number of draws this is exactly where cell `split` starts.
    aim_ =
        start_.draws() + (fixedDraws_ != 0 ? static_cast<std::uint64_t>(split) * static_cast<std::uint64_t>(fixedDraws_)
                                           : static_cast<std::uint64_t>(static_cast<double>(split) * meanDraws_));
    capacity_ = std::min(cells, cells - split + (fixedDraws_ != 0 ? 0 : spreadMargin(static_cast<double>(split))));
    if (room.ahead.size() < static_cast<std::size_t>(capacity_)) room.ahead.resize(static_cast<std::size_t>(capacity_));
}

std::int64_t TwoWalks::madeBeforeVerdict(std::uint64_t sure) const {
    if (fixedDraws_ != 0)
        return std::min(capacity_, cells_ - static_cast<std::int64_t>((sure - start_.draws()) /
                                                                      static_cast<std::uint64_t>(fixedDraws_)));
    const double before = static_cast<double>(sure - start_.draws()) / meanDraws_;
    const auto left = static_cast<std::int64_t>(static_cast<double>(cells_) - before);
    return std::clamp<std::int64_t>(left - spreadMargin(before), 0, capacity_);
}

void TwoWalks::second() {
    Random source = start_;
    source.discard(aim_ - start_.draws());
    FlowDecisions flows(settings_, level_, walk_);
    if (fixedDraws_ == 0 && !flows.findSureStart(source, kSearchDraws)) {
        sure_.post(kNoStart);
        return;
    }
    const std::uint64_t sure = source.draws();
    sure_.post(sure);
    std::uint8_t* out = room_.ahead.data();
    // False when the first walk has finished without this one.
    auto makeUpTo = [&](std::int64_t goal) {
        for (std::int64_t done = made_.count(); done < goal;) {
            const std::int64_t n = std::min(kAheadChunk, goal - done);
            flows.produce(source, out + done, n);
            made_.raise(done += n);
            if (needed_.posted() && needed_.wait() == kApart) return false;
        }
        return true;
    };
    if (!makeUpTo(madeBeforeVerdict(sure))) return;
    secondWaited_ = !needed_.posted();
    const std::int64_t needed = needed_.wait();
    if (needed == kApart || !makeUpTo(needed)) return;
    end_ = source;
}

const std::uint8_t* TwoWalks::next(Random& random, std::int64_t count, std::uint8_t* scratch) {
    const std::int64_t cell = nextCell_;
    nextCell_ += count;
    if (joinedAt_ >= 0) {
        const std::int64_t from = cell - joinedAt_;
        firstWaited_ = firstWaited_ || made_.count() < from + count;
        made_.waitFor(from + count);
        return room_.ahead.data() + from;
    }
    // A sure start is never before aim_: until the walk can get there, it need not know it.
    if (decided_ || random.draws() + static_cast<std::uint64_t>(count * maxDraws_) < aim_) {
        first_.produce(random, scratch, count);
        return scratch;
    }
    const std::uint64_t sure = sure_.wait();
    const std::int64_t made = sure == kNoStart ? 0 : first_.produceUntil(random, scratch, count, sure);
    if (sure == kNoStart || made == count) {
        if (sure == kNoStart) {
            decided_ = true;
            needed_.post(kApart);
            first_.produce(random, scratch, count);
        }
        return scratch;
    }
    // The first walk has come to the sure start: the second walk's cells follow.
    decided_ = true;
    const std::int64_t needed = cells_ - (cell + made);
    if (needed < madeBeforeVerdict(sure) || needed > capacity_) {
        needed_.post(kApart);
        first_.produce(random, scratch + made, count - made);
        return scratch;
    }
    joinedAt_ = cell + made;
    needed_.post(needed);
    firstWaited_ = made_.count() < count - made;
    made_.waitFor(count - made);
    if (made == 0) return room_.ahead.data();
    std::memcpy(scratch + made, room_.ahead.data(), static_cast<std::size_t>(count - made));
    return scratch;
}

void TwoWalks::firstDone() {
    if (!decided_) needed_.post(kApart);
    decided_ = true;
}

bool TwoWalks::finish(Random& random) {
    if (firstWaited_) room_.firstShare = std::min(room_.firstShare + 0.02, 0.9);
    if (secondWaited_) room_.firstShare = std::max(room_.firstShare - 0.02, 0.2);
    if (joinedAt_ < 0) return false;
    random = end_;
    return true;
}

}  // namespace orv
