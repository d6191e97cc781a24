#include "terrain/Drainage.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>
#include <utility>

namespace orv {
namespace {

constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
// The order coastal cells look for the sea in: straight neighbours first.
constexpr int kSeaSearch[kDirections] = {0, 2, 4, 6, 1, 3, 5, 7};

// While flow accumulates, a cell's byte holds beside its class the largest order of the streams
// that reached it so far (bits 2-5), whether two of them had it (kTwice) and whether a river or a
// lake drains into it (kFed).
constexpr std::uint8_t kTwice = 0x40;
constexpr std::uint8_t kFed = 0x80;

constexpr int kHighestOrder = 15;

// While the flood runs, a land cell's height carries whether the flood has reached it.
constexpr std::int16_t kReached = 0x4000;
constexpr std::int16_t kHighestDrained = kReached - 1;

// First-in first-out queues of cells, one per water level, in chunks of cells taken from a
// common pool and given back as soon as they are read: the queues hold only the cells waiting.
// A queue is read in the order it was written, so that the cells to come are known (and their
// neighbourhoods fetched) ahead.
class Buckets {
public:
    // Chunks of chunkCells cells; a level that holds any cell holds a chunk, so that small maps
    // with many levels take small chunks.
    Buckets(std::size_t levels, std::size_t chunkCells) : queues_(levels), chunkCells_(chunkCells) {}

    void push(std::size_t level, std::uint32_t cell) {
        Queue& q = queues_[level];
        if (q.tail == nullptr || q.written == chunkCells_) {
            std::uint32_t* c = take();
            if (q.tail == nullptr) {
                q.head = c;
                q.read = 0;
            } else {
                setNext(q.tail, c);
            }
            q.tail = c;
            q.written = 0;
        }
        q.tail[q.written++] = cell;
    }
    bool empty(std::size_t level) const { return queues_[level].head == nullptr; }
    // The next cell of a level that is not empty.
    std::uint32_t pop(std::size_t level) {
        Queue& q = queues_[level];
        const std::uint32_t cell = q.head[q.read++];
        if (q.head == q.tail && q.read == q.written) {
            release(q.head);
            q = Queue{};
        } else if (q.read == chunkCells_) {
            std::uint32_t* done = q.head;
            q.head = next(done);
            q.read = 0;
            release(done);
        }
        return cell;
    }
    // The cell `ahead` places behind the next one in level's queue, as far as its first chunk
    // holds it; kNone past that.
    std::uint32_t peek(std::size_t level, std::size_t ahead) const {
        const Queue& q = queues_[level];
        const std::size_t at = q.read + ahead;
        if (q.head == nullptr || at >= (q.head == q.tail ? q.written : chunkCells_)) return kNone;
        return q.head[at];
    }

private:
    static constexpr std::size_t kLinkWords = 2;  // room for a pointer
    static_assert(sizeof(std::uint32_t*) <= kLinkWords * sizeof(std::uint32_t));
    struct Queue {
        std::uint32_t* head = nullptr;
        std::uint32_t* tail = nullptr;
        std::size_t read = 0, written = 0;
    };
    // A chunk's link to the next is kept after its cells.
    std::uint32_t* next(std::uint32_t* c) const {
        std::uint32_t* n;
        std::memcpy(&n, c + chunkCells_, sizeof n);
        return n;
    }
    void setNext(std::uint32_t* c, std::uint32_t* n) const { std::memcpy(c + chunkCells_, &n, sizeof n); }
    std::uint32_t* take() {
        if (free_.empty()) {
            constexpr std::size_t kChunksPerSlab = 64;
            const std::size_t stride = chunkCells_ + kLinkWords;
            slabs_.push_back(std::make_unique<std::uint32_t[]>(stride * kChunksPerSlab));
            for (std::size_t k = kChunksPerSlab; k-- > 0;) free_.push_back(slabs_.back().get() + k * stride);
        }
        std::uint32_t* c = free_.back();
        free_.pop_back();
        return c;
    }
    void release(std::uint32_t* c) { free_.push_back(c); }

    std::vector<Queue> queues_;
    std::size_t chunkCells_;
    std::vector<std::unique_ptr<std::uint32_t[]>> slabs_;
    std::vector<std::uint32_t*> free_;
};

class Flood {
public:
    // How many cells ahead of the one visited their neighbourhoods are fetched.
    static constexpr std::size_t kAhead = 8;

    Flood(std::vector<std::int16_t>& heights, const WrapGrid& grid, Drainage& d, std::int64_t smallestLake,
          int lakesPerMille)
        : h_(heights), grid_(grid), d_(d), smallestLake_(smallestLake), lakesPerMille_(lakesPerMille) {}

    void run() {
        std::int16_t lowest = kHighestDrained, highest = 1;
        bool sea = false;
        std::int64_t land = 0;
        for (std::size_t i = 0; i < h_.size(); ++i) {
            if (h_[i] <= 0) {
                d_.flow[i] = kNoFlow;
                d_.cells[i] = kTerrainSea;
                sea = true;
            } else {
                ++land;
                d_.cells[i] = kTerrainLand;
                lowest = std::min(lowest, h_[i]);
                highest = std::max(highest, h_[i]);
            }
        }
        if (lowest > highest) return;  // all sea
        base_ = lowest;
        const auto levels = static_cast<std::size_t>(highest - lowest) + 1;
        Buckets buckets(levels, std::clamp<std::size_t>(h_.size() / levels / 4, 14, 1022));
        buckets_ = &buckets;
        if (sea) {
            // The coast: every land cell next to the sea drains into it, straight neighbours
            // first.
            const std::size_t w = static_cast<std::size_t>(grid_.width()),
                              rows = static_cast<std::size_t>(grid_.height());
            for (std::size_t y = 0; y < rows; ++y) {
                const std::int16_t* here = h_.data() + y * w;
                const std::int16_t* up = h_.data() + (y > 0 ? y - 1 : rows - 1) * w;
                const std::int16_t* down = h_.data() + (y + 1 < rows ? y + 1 : 0) * w;
                for (std::size_t x = 0; x < w; ++x) {
                    if (here[x] <= 0) continue;
                    const std::size_t left = x > 0 ? x - 1 : w - 1, right = x + 1 < w ? x + 1 : 0;
                    const std::int16_t around[kDirections] = {here[right], down[x],    here[left], up[x],
                                                              down[right], down[left], up[left],   up[right]};
                    if (*std::min_element(around, around + kDirections) > 0) continue;
                    for (int k = 0; k < kDirections; ++k)
                        if (around[k] <= 0) {
                            d_.flow[y * w + x] = static_cast<std::uint8_t>(kSeaSearch[k]);
                            reach(static_cast<std::uint32_t>(y * w + x));
                            break;
                        }
                }
            }
        } else {
            // No sea: the lowest cell (the first of them) is the bottom of a closed basin.
            const auto bottom = static_cast<std::uint32_t>(std::find(h_.begin(), h_.end(), lowest) - h_.begin());
            d_.flow[bottom] = kNoFlow;
            d_.cells[bottom] = kTerrainLake;
            d_.lakes.push_back(Lake{1, lowest, lowest, bottom, bottom, true});
            reach(bottom);
        }
        for (std::size_t level = 0; level < levels; ++level) {
            const auto at = static_cast<std::int16_t>(base_ + static_cast<int>(level));
            while (!buckets.empty(level)) {
                fetch(buckets.peek(level, kAhead));
                visitNeighbours(buckets.pop(level), at, false);
            }
        }
        capLakes(land * lakesPerMille_ / 1000);
        for (std::int16_t& v : h_)
            if (v > 0) v = static_cast<std::int16_t>(v & ~kReached);
    }

private:
    // Marks a cell reached and queues it at its height.
    void reach(std::uint32_t cell) {
        const std::int16_t v = h_[cell];
        h_[cell] = static_cast<std::int16_t>(v | kReached);
        buckets_->push(static_cast<std::size_t>(v - base_), cell);
    }

    // Asks for the heights around a cell the flood will visit soon.
    void fetch(std::uint32_t cell) const {
        if (cell == kNone) return;
        const std::int16_t* at = h_.data() + cell;
        const std::size_t row = static_cast<std::size_t>(grid_.width());
        const std::uint8_t* f = d_.flow.data() + cell;
        __builtin_prefetch(at);
        __builtin_prefetch(f, 1);
        if (cell >= row) __builtin_prefetch(at - row), __builtin_prefetch(f - row, 1);
        if (cell + row < h_.size()) __builtin_prefetch(at + row), __builtin_prefetch(f + row, 1);
    }

    // Gives the unreached neighbours of c their flow towards c. Those below the water level `at`
    // are in a depression: queued into it when c is in one (inDepression), otherwise c is the
    // depression's outlet and it is filled at once.
    void visitNeighbours(std::uint32_t c, std::int16_t at, bool inDepression) {
        const int y = grid_.rowOf(c);
        const int x = static_cast<int>(c - static_cast<std::uint32_t>(y) * static_cast<std::uint32_t>(grid_.width()));
        std::uint32_t around[kDirections];
        for (int d = 0; d < kDirections; ++d) around[d] = grid_.step(c, x, y, d);
        // The land not yet reached, all eight read before any is taken.
        unsigned open = 0;
        for (int d = 0; d < kDirections; ++d) {
            const std::int16_t v = h_[around[d]];
            open |= static_cast<unsigned>(v > 0 && (v & kReached) == 0) << d;
        }
        while (open != 0) {
            const int d = __builtin_ctz(open);
            open &= open - 1;
            const std::uint32_t n = around[d];
            const std::int16_t v = h_[n];
            if ((v & kReached) != 0) continue;  // the same cell twice on a tiny map, or filled meanwhile
            d_.flow[n] = static_cast<std::uint8_t>(oppositeDirection(d));
            if (v >= at) {
                reach(n);
            } else {
                h_[n] = static_cast<std::int16_t>(v | kReached);
                if (inDepression)
                    depression_.push_back(n);
                else
                    fillDepression(c, n, at);
            }
        }
    }

    // Fills the depression below `surface` that `entry` lies in, entered over `outlet`: breadth
    // first, so that its cells drain the shortest way to the entry. A lake when large enough.
    void fillDepression(std::uint32_t outlet, std::uint32_t entry, std::int16_t surface) {
        depression_.clear();
        depression_.push_back(entry);
        std::int16_t deepest = surface;
        for (std::size_t k = 0; k < depression_.size(); ++k) {
            if (k + kAhead < depression_.size()) fetch(depression_[k + kAhead]);
            const std::uint32_t p = depression_[k];
            deepest = std::min(deepest, static_cast<std::int16_t>(h_[p] & ~kReached));
            visitNeighbours(p, surface, true);
        }
        const auto count = static_cast<std::int64_t>(depression_.size());
        if (count >= smallestLake_) {
            d_.lakes.push_back(Lake{count, surface, deepest, outlet, entry, false});
            for (std::uint32_t p : depression_) d_.cells[p] = kTerrainLake;
        } else {
            for (std::uint32_t p : depression_) h_[p] = static_cast<std::int16_t>(surface | kReached);
        }
    }

    // Keeps the largest lakes, each that still fits, while they cover at most `most` cells
    // together; the others are filled as small depressions are. A filled lake's cells are found
    // from its entry against the flow, which leads every one of them there.
    void capLakes(std::int64_t most) {
        std::int64_t total = 0;
        for (const Lake& lake : d_.lakes) total += lake.cells;
        if (total <= most) return;
        std::vector<std::size_t> bySize(d_.lakes.size());
        for (std::size_t k = 0; k < bySize.size(); ++k) bySize[k] = k;
        std::stable_sort(bySize.begin(), bySize.end(),
                         [this](std::size_t a, std::size_t b) { return d_.lakes[a].cells > d_.lakes[b].cells; });
        std::vector<std::uint8_t> keep(d_.lakes.size(), 0);
        std::int64_t room = most;
        for (const std::size_t k : bySize)
            if (d_.lakes[k].closed || d_.lakes[k].cells <= room) {
                keep[k] = 1;
                if (!d_.lakes[k].closed) room -= d_.lakes[k].cells;
            }
        std::size_t kept = 0;
        for (std::size_t k = 0; k < d_.lakes.size(); ++k) {
            const Lake lake = d_.lakes[k];
            if (keep[k]) {
                d_.lakes[kept++] = lake;
                continue;
            }
            const auto surface = static_cast<std::int16_t>(lake.surface | kReached);
            depression_.assign(1, lake.entry);
            d_.cells[lake.entry] = kTerrainLand;
            while (!depression_.empty()) {
                const std::uint32_t c = depression_.back();
                depression_.pop_back();
                h_[c] = surface;
                const int y = grid_.rowOf(c);
                const int x =
                    static_cast<int>(c - static_cast<std::uint32_t>(y) * static_cast<std::uint32_t>(grid_.width()));
                for (int dir = 0; dir < kDirections; ++dir) {
                    const std::uint32_t n = grid_.step(c, x, y, dir);
                    if (d_.terrainAt(n) != kTerrainLake || d_.flow[n] != oppositeDirection(dir)) continue;
                    d_.cells[n] = kTerrainLand;
                    depression_.push_back(n);
                }
            }
        }
        d_.lakes.resize(kept);
    }

    std::vector<std::int16_t>& h_;
    const WrapGrid& grid_;
    Drainage& d_;
    std::int64_t smallestLake_;
    int lakesPerMille_;
    Buckets* buckets_ = nullptr;
    std::int16_t base_ = 0;
    std::vector<std::uint32_t> depression_;  // the cells of the depression being filled, in the order reached
};

// A cell whose upstream area is complete: its class and order settled, and what it passes on
// to the cell it drains into.
void settle(Drainage& d, std::uint32_t c, std::uint32_t threshold) {
    std::uint8_t byte = d.cells[c];
    const int streams = (byte >> 2) & 15;
    const int order = streams == 0 ? 0 : std::min(kHighestOrder, streams + ((byte & kTwice) != 0 ? 1 : 0));
    std::uint8_t terrain = byte & 3;
    int own = 0;
    if (terrain == kTerrainLand && threshold > 0 && (d.upstream[c] >= threshold || (byte & kFed) != 0)) {
        terrain = kTerrainRiver;
        own = std::max(1, order);
    } else if (terrain == kTerrainLake) {
        own = order;
    }
    d.cells[c] = static_cast<std::uint8_t>(terrain | own << 2);
}

void passOn(Drainage& d, std::uint32_t from, std::uint32_t to) {
    d.upstream[to] += d.upstream[from];
    const TerrainClass terrain = d.terrainAt(from);
    if (terrain != kTerrainRiver && terrain != kTerrainLake) return;
    const int order = d.orderAt(from);
    std::uint8_t byte = d.cells[to] | kFed;
    const int streams = (byte >> 2) & 15;
    if (order > streams)
        byte = static_cast<std::uint8_t>((byte & 3) | kFed | order << 2);
    else if (order == streams && order > 0)
        byte |= kTwice;
    d.cells[to] = byte;
}

// Upstream areas, rivers and orders, every cell once in an order where a cell comes after all
// that drain into it: each cell counts the cells draining into it (in the high half of its flow
// byte), and from every cell nothing drains into, the water is followed down as far as the cells
// whose every inflow has arrived.
void accumulate(Drainage& d, const WrapGrid& grid) {
    constexpr std::uint8_t kInflow = 16, kDone = 0xF0;
    for (int y = 0; y < grid.height(); ++y)
        for (int x = 0; x < grid.width(); ++x) {
            const std::uint32_t i = grid.index(x, y);
            const int f = d.flow[i] & 15;
            d.upstream[i] = d.terrainAt(i) == kTerrainSea ? 0 : 1;
            if (f == kNoFlow) continue;
            const std::uint32_t to = grid.step(i, x, y, f);
            if (d.terrainAt(to) != kTerrainSea) d.flow[to] = static_cast<std::uint8_t>(d.flow[to] + kInflow);
        }
    for (int y = 0; y < grid.height(); ++y)
        for (int x = 0; x < grid.width(); ++x) {
            std::uint32_t c = grid.index(x, y);
            if (d.terrainAt(c) == kTerrainSea || (d.flow[c] & 0xF0) != 0) continue;
            int cx = x, cy = y;
            for (;;) {
                settle(d, c, d.riverThreshold);
                const int f = d.flow[c] & 15;
                d.flow[c] = static_cast<std::uint8_t>(f | kDone);
                if (f == kNoFlow) break;
                const std::uint32_t to = grid.step(c, cx, cy, f);
                if (d.terrainAt(to) == kTerrainSea) break;
                passOn(d, c, to);
                d.flow[to] = static_cast<std::uint8_t>(d.flow[to] - kInflow);
                if ((d.flow[to] & 0xF0) != 0) break;
                c = to;
                cx += kDirectionX[f];
                cy += kDirectionY[f];
                if (cx < 0) cx += grid.width();
                if (cx >= grid.width()) cx -= grid.width();
                if (cy < 0) cy += grid.height();
                if (cy >= grid.height()) cy -= grid.height();
            }
        }
    for (std::uint8_t& f : d.flow) f &= 15;
}

}  // namespace

std::uint32_t riverThreshold(int rivers) {
    if (rivers < 0 || rivers > 100) throw std::invalid_argument("rivers is 0 .. 100");
    if (rivers == 0) return 0;
    // 2^(k/10) in thousandths.
    static constexpr std::uint32_t kSteps[10] = {1000, 1072, 1149, 1231, 1320, 1414, 1516, 1625, 1741, 1866};
    const int less = 100 - rivers;
    return (4u << (less / 10)) * kSteps[less % 10] / 1000;
}

std::int64_t smallestLakeFor(std::size_t cells) {
    return std::max<std::int64_t>(24, static_cast<std::int64_t>(cells >> 13));
}

Drainage drain(std::vector<std::int16_t>& heights, int width, int height, int rivers, std::int64_t smallestLake,
               int lakesPerMille) {
    const WrapGrid grid(width, height);
    if (heights.size() != grid.cells()) throw std::invalid_argument("the heights are not width x height");
    Drainage d;
    d.width = width;
    d.height = height;
    d.riverThreshold = riverThreshold(rivers);
    if (std::any_of(heights.begin(), heights.end(), [](std::int16_t v) { return v > kHighestDrained; }))
        throw std::invalid_argument("land above 16383 m");
    d.flow.resize(grid.cells());
    d.cells.resize(grid.cells());
    if (lakesPerMille < 0 || lakesPerMille > 1000) throw std::invalid_argument("the lakes' share is 0 .. 1000");
    Flood(heights, grid, d, std::max<std::int64_t>(1, smallestLake), lakesPerMille).run();
    // The flood's queues are gone: the upstream areas take their place.
    d.upstream.resize(grid.cells());
    accumulate(d, grid);
    d.lakeEntries.reserve(d.lakes.size());
    for (std::size_t k = 0; k < d.lakes.size(); ++k)
        d.lakeEntries.emplace_back(d.lakes[k].entry, static_cast<std::uint32_t>(k));
    std::sort(d.lakeEntries.begin(), d.lakeEntries.end());
    return d;
}

std::size_t lakeOf(const Drainage& d, std::uint32_t i) {
    const WrapGrid grid(d.width, d.height);
    for (;;) {
        if (d.terrainAt(i) != kTerrainLake) return d.lakes.size();
        const auto found = std::lower_bound(d.lakeEntries.begin(), d.lakeEntries.end(), std::pair{i, std::uint32_t{0}});
        if (found != d.lakeEntries.end() && found->first == i) return found->second;
        i = grid.neighbour(i, d.flow[i]);
    }
}

}  // namespace orv
