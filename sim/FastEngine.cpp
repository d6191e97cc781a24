#include "sim/FastEngine.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <optional>
#include <type_traits>

#include "sim/FlowDecisions.hpp"
#include "sim/ThreadTeam.hpp"
#include "sim/TwoWalks.hpp"

namespace orv {
namespace {

static_assert(std::is_same_v<CellValue, std::int8_t>, "the kernels work on cells of one signed byte");

// The commit and drawing go through the map in blocks of this many columns and rows: one
// block's classes stay in the first-level cache, and its pixel rows are whole cache lines.
constexpr int kBlockColumns = 16;
constexpr int kBlockRows = 256;

KernelLevel availableLevel(KernelLevel level) {
    while (!kernelLevelAvailable(level)) level = static_cast<KernelLevel>(static_cast<int>(level) - 1);
    return level;
}

// Columns first .. last shared out in whole groups of `align` columns: the part's own range.
struct ColumnRange {
    int first, last;
};
ColumnRange partOf(int part, int parts, int first, int last, int align) {
    const std::int64_t groups = (std::int64_t{last} - first + align) / align;
    const std::int64_t from = groups * part / parts, to = groups * (part + 1) / parts;
    return {static_cast<int>(first + from * align),
            static_cast<int>(std::min<std::int64_t>(last, first + to * align - 1))};
}

// The bounds of the rule for the settings: a count is 0 .. 8, so a landmass size above 8 never
// lets land go, one below 0 always does, and a ratio outside 0 .. 8 is never met.
RuleBounds ruleBounds(const Settings& settings) {
    return RuleBounds{static_cast<std::int8_t>(std::clamp(settings.landmasssize, -1, 8)),
                      static_cast<std::int8_t>(
                          settings.landwaterratio >= 0 && settings.landwaterratio <= 8 ? settings.landwaterratio : -1)};
}

// A changed cell reads as water when it holds 0 in odd cycles and 3 in even ones.
CellValue waterValueIn(int phaseFlag) {
    return phaseFlag == 0 ? kLand : kWater;
}

// The cells whose pixels lie on the canvas (an empty range when none do).
struct CellRange {
    int xFirst = 1, xLast = 0, yFirst = 1, yLast = 0;
};
CellRange onCanvas(const MapCanvas& canvas, MapSize size) {
    CellRange r;
    if (canvas.pixels == nullptr) return r;
    r.xFirst = std::max(1, -canvas.originX);
    r.xLast = static_cast<int>(std::min<std::int64_t>(size.x, std::int64_t{canvas.width} - 1 - canvas.originX));
    r.yFirst = std::max(1, -canvas.originY);
    r.yLast = static_cast<int>(std::min<std::int64_t>(size.y, std::int64_t{canvas.height} - 1 - canvas.originY));
    return r;
}

// Eight bits as eight bytes of 0 or 1, lowest bit in the first byte.
constexpr std::array<std::uint64_t, 256> kBitBytes = [] {
    std::array<std::uint64_t, 256> table{};
    for (unsigned bits = 0; bits < 256; ++bits)
        for (unsigned k = 0; k < 8; ++k) table[bits] |= std::uint64_t{(bits >> k) & 1u} << (8 * k);
    return table;
}();

// out[r] := the class of cell r, 0 unchanged, 1 changed to waterValue, 2 changed to anything
// else, 3 the sea (which never changes), for r < count, from the cells and the change bits from
// bit `first` of words on. Eight cells at a time, in the bytes of a 64-bit word.
void classifyChanges(const CellValue* cells, const std::uint64_t* words, std::int64_t first, std::uint8_t* out,
                     int count, CellValue waterValue) {
    constexpr std::uint64_t kOnes = 0x0101010101010101u;
    const std::uint64_t water = kOnes * static_cast<std::uint8_t>(waterValue);
    const std::uint64_t sea = kOnes * static_cast<std::uint8_t>(kSea);
    int r = 0;
    for (; r + 8 <= count; r += 8) {
        const std::int64_t bit = first + r;
        std::uint64_t bits = words[bit >> 6] >> (bit & 63);
        if ((bit & 63) > 56) bits |= words[(bit >> 6) + 1] << (64 - (bit & 63));
        const std::uint64_t changed = kBitBytes[bits & 255u];
        std::uint64_t bytes = 0;
        std::memcpy(&bytes, cells + r, 8);
        // Bit 0 of each byte := whether any bit of that byte is set.
        auto anyBit = [](std::uint64_t v) {
            v |= v >> 4;
            v |= v >> 2;
            v |= v >> 1;
            return v & kOnes;
        };
        const std::uint64_t differs = anyBit(bytes ^ water);
        const std::uint64_t isSea = ~anyBit(bytes ^ sea) & kOnes;
        const std::uint64_t classes = changed + (changed & differs) + isSea * 3;
        std::memcpy(out + r, &classes, 8);
    }
    for (; r < count; ++r) {
        const std::int64_t bit = first + r;
        const auto changed = static_cast<unsigned>(words[bit >> 6] >> (bit & 63)) & 1u;
        out[r] = cells[r] == kSea ? std::uint8_t{3}
                                  : static_cast<std::uint8_t>(changed * (cells[r] == waterValue ? 1u : 2u));
    }
}

}  // namespace

void ChangeMask::resize(int xsize, int ysize) {
    xsize_ = xsize;
    ysize_ = ysize;
    wordsPerColumn_ = static_cast<std::ptrdiff_t>((std::int64_t{ysize} + 63) / 64);
    words_.resize(static_cast<std::size_t>(xsize) * static_cast<std::size_t>(wordsPerColumn_));
}

FastEngine::FastEngine(KernelLevel level, int threads, std::int64_t threadedCells, std::optional<FlowWalk> walk)
    : level_(availableLevel(level)),
      kernels_(&kernelsFor(level_)),
      walk_(walk.value_or(bestFlowWalk(level_))),
      threads_(std::max(threads, 1)),
      threadedCells_(threadedCells) {}

FastEngine::~FastEngine() = default;

ThreadTeam* FastEngine::teamFor(std::int64_t cells, bool varyingFlows) {
    if (threads_ < 2 || cells < (varyingFlows ? threadedCells_ / 8 : threadedCells_)) return nullptr;
    if (!team_) {
        try {
            team_ = std::make_unique<ThreadTeam>(threads_);
        } catch (const std::exception&) {
            threads_ = 1;  // the system gives no more threads (or no memory for them): one does all the work
            return nullptr;
        }
    }
    return team_.get();
}

void FastEngine::fillInitialLandmass(MapState& map, const Settings& settings, Random& random) const {
    const FillRange range = initialFillRange(settings, map.currentMap);
    for (std::int64_t x = range.x0; x <= range.x1; ++x) {
        CellValue* cell = map.currentMap.column(static_cast<int>(x)) + range.y0;
        for (std::int64_t left = range.y1 - range.y0 + 1; left > 0;) {
            if (random.position() == Random::kStateSize) random.refill();
            // A draw of 0 or 1 is the top bit of the tempered word.
            const int take = static_cast<int>(std::min<std::int64_t>(left, Random::kStateSize - random.position()));
            const std::uint32_t* words = random.state().data() + random.position();
            for (int i = 0; i < take; ++i) cell[i] = static_cast<CellValue>(temperWord(words[i]) >> 31);
            random.skip(take);
            cell += take;
            left -= take;
        }
    }
}

void FastEngine::wrapBorder(MapState& map, const Settings& settings) const {
    const MapSize size = mapSize(settings, map.currentMap);
    MapGrid& c = map.currentMap;
    const auto rows = static_cast<std::size_t>(size.y);
    std::memcpy(c.column(0) + 1, c.column(size.x) + 1, rows);
    std::memcpy(c.column(size.x + 1) + 1, c.column(1) + 1, rows);
    for (int x = 1; x <= size.x; ++x) {
        CellValue* column = c.column(x);
        column[0] = column[size.y];
        column[size.y + 1] = column[1];
    }
}

void FastEngine::computeGeneration(MapState& map, const Settings& settings, Random& random) {
    rule(map, settings, random, Untouched::KeepNext, nullptr);
}

bool FastEngine::computeGeneration(MapState& map, const Settings& settings, Random& random, Untouched untouched,
                                   ChangeMask& changes) {
    const MapSize size = mapSize(settings, map.currentMap);
    changes.resize(size.x, size.y);
    return rule(map, settings, random, untouched, &changes);
}

bool FastEngine::rule(MapState& map, const Settings& settings, Random& random, Untouched untouched,
                      ChangeMask* changes) {
    const MapSize size = mapSize(settings, map.currentMap);
    const std::int64_t cells = std::int64_t{size.x} * size.y;
    FlowDecisions flows(settings, level_, walk_);
    const RuleBounds bounds = ruleBounds(settings);
    const MapGrid& c = map.currentMap;
    MapGrid& next = map.nextMap;
    // The rule over column x with its flow bits; true when a cell changed (with changes only).
    auto ruleColumn = [&](int x, const std::uint8_t* decisions) {
        const CellValue* mid = c.column(x) + 1;
        CellValue* out = next.column(x) + 1;
        if (changes == nullptr) {
            kernels_->ruleColumn(c.column(x - 1) + 1, mid, c.column(x + 1) + 1, decisions, out, size.y, bounds);
            return false;
        }
        return kernels_->ruleColumnChanges(c.column(x - 1) + 1, mid, c.column(x + 1) + 1, decisions,
                                           untouched == Untouched::FromCurrent ? mid : out, out, changes->column(x),
                                           size.y, bounds);
    };
    const auto rows = static_cast<std::size_t>(size.y);
    if (decisions_.size() < rows) decisions_.resize(rows);
    if (flows.constant()) std::fill(decisions_.begin(), decisions_.begin() + size.y, flows.constantDecision());

    ThreadTeam* team = teamFor(cells, !flows.constant());
    std::optional<TwoWalks> walks;
    if (team != nullptr && !flows.constant()) {
        walks.emplace(settings, level_, walk_, flows, random, cells, twoWalks_);
        if (!walks->worthwhile()) team = nullptr;
    }
    if (team == nullptr) {
        // A uniform generation kept whole: the kernel that shares the neighbour counts of columns,
        // where there is one (every constant decision counts a cell above or below and one beside).
        const std::uint8_t d = flows.constantDecision();
        if (flows.constant() && changes != nullptr && untouched == Untouched::FromCurrent &&
            kernels_->ruleUniform != nullptr && (d & (kCountUpper | kCountLower)) != 0 &&
            (d & (kCountLeft | kCountRight)) != 0) {
            uniformScratch_.resize(3 * (rows + 16));
            const bool any =
                kernels_->ruleUniform(c.column(0) + 1, next.column(1) + 1, c.columnStride(), changes->column(1),
                                      changes->wordsPerColumn(), size.x, size.y, d, bounds, uniformScratch_.data());
            flows.skipConstant(random, cells);
            return any;
        }
        bool any = false;
        for (int x = 1; x <= size.x; ++x) {
            if (!flows.constant()) flows.produce(random, decisions_.data(), size.y);
            any |= ruleColumn(x, decisions_.data());
        }
        // Draws whose outcomes are all known are only counted off.
        if (flows.constant()) flows.skipConstant(random, cells);
        return any;
    }

    const int parts = team->size();
    std::vector<char> anyIn(static_cast<std::size_t>(parts), 0);
    if (flows.constant()) {
        // Every thread applies the rule to its own columns; the last also counts off the draws.
        team->run([&](int part) {
            if (part == parts - 1) flows.skipConstant(random, cells);
            const ColumnRange range = partOf(part, parts, 1, size.x, 1);
            bool any = false;
            for (int x = range.first; x <= range.last; ++x) any |= ruleColumn(x, decisions_.data());
            anyIn[static_cast<std::size_t>(part)] = any;
        });
    } else {
        // Thread 0 applies the rule column by column to the decisions of two walks (TwoWalks),
        // its own and thread 1's.
        team->run([&](int part) {
            if (part == 1) {
                walks->second();
            } else if (part == 0) {
                bool any = false;
                for (int x = 1; x <= size.x; ++x) any |= ruleColumn(x, walks->next(random, size.y, decisions_.data()));
                walks->firstDone();
                anyIn[0] = any;
            }
        });
        if (walks->finish(random)) ++joinedWalks_;
    }
    return std::any_of(anyIn.begin(), anyIn.end(), [](char any) { return any != 0; });
}

void FastEngine::commitAndDraw(MapState& map, const Settings& settings, const MapCanvas& canvas,
                               const MapColors& colors) {
    const MapSize size = mapSize(settings, map.currentMap);
    const std::uint32_t classColors[4] = {colors.unchanged, colors.water, colors.land, colors.sea};
    const CellValue waterValue = waterValueIn(map.phaseFlag);
    const CellRange drawn = onCanvas(canvas, size);

    ThreadTeam* team = teamFor(std::int64_t{size.x} * size.y);
    const int parts = team != nullptr ? team->size() : 1;
    if (classes_.size() < static_cast<std::size_t>(parts)) classes_.resize(static_cast<std::size_t>(parts));
    for (auto& blockClasses : classes_) blockClasses.resize(static_cast<std::size_t>(kBlockColumns) * kBlockRows);

    auto commitColumns = [&](int part) {
        std::uint8_t* classes = classes_[static_cast<std::size_t>(part)].data();
        const ColumnRange range = partOf(part, parts, 1, size.x, kBlockColumns);
        for (int x0 = range.first; x0 <= range.last; x0 += kBlockColumns) {
            const int columns = std::min(kBlockColumns, size.x - x0 + 1);
            for (int y0 = 1; y0 <= size.y; y0 += kBlockRows) {
                const int rows = std::min(kBlockRows, size.y - y0 + 1);
                for (int i = 0; i < columns; ++i)
                    kernels_->commitColumn(map.currentMap.column(x0 + i) + y0, map.nextMap.column(x0 + i) + y0,
                                           classes + static_cast<std::ptrdiff_t>(i) * kBlockRows, rows, waterValue);
                const int drawX0 = std::max(x0, drawn.xFirst), drawX1 = std::min(x0 + columns - 1, drawn.xLast);
                const int drawY0 = std::max(y0, drawn.yFirst), drawY1 = std::min(y0 + rows - 1, drawn.yLast);
                if (drawX0 > drawX1 || drawY0 > drawY1) continue;
                kernels_->drawTile(classes + static_cast<std::ptrdiff_t>(drawX0 - x0) * kBlockRows + (drawY0 - y0),
                                   kBlockRows, drawX1 - drawX0 + 1, drawY1 - drawY0 + 1, &canvas.at(drawX0, drawY0),
                                   canvas.pitch, classColors);
            }
        }
    };
    if (team != nullptr)
        team->run(commitColumns);
    else
        commitColumns(0);
}

void FastEngine::drawChanges(const MapGrid& currentMap, const ChangeMask& changes, int phaseFlag,
                             const MapColors& colors, const MapCanvas& canvas) {
    const MapSize size{changes.xsize(), changes.ysize()};
    const std::uint32_t classColors[4] = {colors.unchanged, colors.water, colors.land, colors.sea};
    const CellValue waterValue = waterValueIn(phaseFlag);
    const CellRange drawn = onCanvas(canvas, size);
    if (classes_.empty()) classes_.resize(1);
    classes_[0].resize(static_cast<std::size_t>(kBlockColumns) * kBlockRows);
    std::uint8_t* classes = classes_[0].data();
    for (int x0 = drawn.xFirst; x0 <= drawn.xLast; x0 += kBlockColumns) {
        const int columns = std::min(kBlockColumns, drawn.xLast - x0 + 1);
        for (int y0 = drawn.yFirst; y0 <= drawn.yLast; y0 += kBlockRows) {
            const int rows = std::min(kBlockRows, drawn.yLast - y0 + 1);
            for (int i = 0; i < columns; ++i) {
                const CellValue* cells = currentMap.column(x0 + i) + y0;
                const std::uint64_t* words = changes.column(x0 + i);
                std::uint8_t* out = classes + static_cast<std::ptrdiff_t>(i) * kBlockRows;
                classifyChanges(cells, words, y0 - 1, out, rows, waterValue);
            }
            kernels_->drawTile(classes, kBlockRows, columns, rows, &canvas.at(x0, y0), canvas.pitch, classColors);
        }
    }
}

MapStatistics FastEngine::finalStatistics(const MapState& map, const Settings& settings) {
    const MapSize size = mapSize(settings, map.currentMap);
    const CellValue waterValue = waterValueIn(map.phaseFlag);
    ThreadTeam* team = teamFor(std::int64_t{size.x} * size.y);
    const int parts = team != nullptr ? team->size() : 1;
    std::vector<MapStatistics> counted(static_cast<std::size_t>(parts));
    auto countColumns = [&](int part) {
        const ColumnRange range = partOf(part, parts, 1, size.x, 1);
        std::int64_t changed = 0, water = 0, sea = 0;
        for (int x = range.first; x <= range.last; ++x) {
            const CellValue* current = map.currentMap.column(x) + 1;
            const CellValue* next = map.nextMap.column(x) + 1;
            // Per column in 32 bits (a column has fewer than 2^31 cells), which vectorises.
            std::int32_t columnChanged = 0, columnWater = 0, columnSea = 0;
            for (int y = 0; y < size.y; ++y) {
                const std::int32_t differs = current[y] != next[y];
                columnChanged += differs;
                columnWater += differs & static_cast<std::int32_t>(next[y] == waterValue);
                columnSea += static_cast<std::int32_t>(next[y] == kSea);
            }
            changed += columnChanged;
            water += columnWater;
            sea += columnSea;
        }
        // The sea never changes, so it is neither water nor land here, and not unchanged.
        MapStatistics& s = counted[static_cast<std::size_t>(part)];
        s.waterCount = water;
        s.landCount = changed - water;
        s.seaCount = sea;
        s.unchangedCount = std::int64_t{range.last - range.first + 1} * size.y - changed - sea;
    };
    if (team != nullptr)
        team->run(countColumns);
    else
        countColumns(0);
    MapStatistics total;
    for (const MapStatistics& s : counted) {
        total.unchangedCount += s.unchangedCount;
        total.waterCount += s.waterCount;
        total.landCount += s.landCount;
        total.seaCount += s.seaCount;
    }
    return total;
}

}  // namespace orv
