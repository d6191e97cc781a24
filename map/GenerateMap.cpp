#include "map/GenerateMap.hpp"

#include <algorithm>
#include <cstring>
#include <thread>
#include <utility>

#include "sim/FlowDecisions.hpp"
#include "world/WorldFigures.hpp"

namespace orv {

namespace {

// Whether two generations changed exactly the same cells. The bits past a column's last cell
// are always clear, so whole words compare.
bool sameChanges(const ChangeMask& a, const ChangeMask& b) {
    if (a.xsize() != b.xsize() || a.ysize() != b.ysize() || a.wordsPerColumn() != b.wordsPerColumn()) return false;
    const auto words = static_cast<std::size_t>(a.xsize()) * static_cast<std::size_t>(a.wordsPerColumn());
    return words == 0 || std::memcmp(a.column(1), b.column(1), words * sizeof(std::uint64_t)) == 0;
}

// Whether every generation from the second on applies the same rule to the same map: no draw
// decides a flow, and erosion, when on, sets one ratio whatever the cycle.
bool ruleIsFixed(const Settings& s, const MapState& map) {
    if (!FlowDecisions(s).constant()) return false;
    if (s.erosion != 1) return true;
    const auto& table = map.erosionTable;
    return std::all_of(table.begin(), table.begin() + 1000, [&](std::int32_t v) { return v == table[0]; });
}

// A world's sea, a bit a cell, column by column (bit y % 64 of word y / 64 of the column).
struct SeaBits {
    int width = 0, height = 0;
    std::size_t words = 0;  // per column
    std::vector<std::uint64_t> bits;
};

SeaBits seaBits(const World& world) {
    SeaBits sea{world.width, world.height, (static_cast<std::size_t>(world.height) + 63) / 64, {}};
    sea.bits.assign(sea.words * static_cast<std::size_t>(world.width), 0);
    for (int x = 0; x < world.width; ++x) {
        const std::int16_t* column = world.column(x);
        std::uint64_t* out = sea.bits.data() + static_cast<std::size_t>(x) * sea.words;
        for (std::size_t w = 0; w < sea.words; ++w) {
            const int first = static_cast<int>(w * 64), count = std::min(64, world.height - first);
            std::uint64_t bits = 0;
            for (int k = 0; k < count; ++k)
                bits |= static_cast<std::uint64_t>(column[first + k] <= World::kSeaLevel) << k;
            out[w] = bits;
        }
    }
    return sea;
}

// stampSea from the bits: 64 cells of open sea at a time, cell by cell at its coasts.
void stampSea(MapState& map, const SeaBits& sea) {
    for (int x = 1; x <= sea.width; ++x) {
        const std::uint64_t* bits = sea.bits.data() + static_cast<std::size_t>(x - 1) * sea.words;
        CellValue* current = map.currentMap.column(x) + 1;
        CellValue* next = map.nextMap.column(x) + 1;
        for (std::size_t w = 0; w < sea.words; ++w) {
            const int first = static_cast<int>(w * 64), count = std::min(64, sea.height - first);
            if (bits[w] == 0) continue;
            if (count == 64 && bits[w] == ~std::uint64_t{0}) {
                std::fill_n(current + first, 64, kSea);
                std::fill_n(next + first, 64, kSea);
                continue;
            }
            for (int k = 0; k < count; ++k)
                if ((bits[w] >> k) & 1) current[first + k] = next[first + k] = kSea;
        }
    }
}

}  // namespace

MapPicture::MapPicture() = default;

void MapPicture::paintBand(int first, const MapColors& colors) {
    const int rows = std::min(kBandRows, height_ - first);
    band_.resize(static_cast<std::size_t>(width_) * kBandRows);
    if (drawn_) {
        // Cell (x, first + 1 + r) is pixel (x - 1, r) of the band: every pixel is painted.
        engine_->drawChanges(cells_, changes_, phaseFlag_, colors,
                             MapCanvas{band_.data(), width_, width_, rows, -1, -1 - first});
    } else {
        // Until something is drawn the map area is as the cleared screen leaves it: black.
        std::fill(band_.begin(), band_.end(), 0xFF000000u);
    }
}

const std::uint32_t* MapPicture::row(int y) {
    const int first = y - y % kBandRows;
    if (bandFirst_ != first) {
        paintBand(first, colors_);
        bandFirst_ = first;
    }
    return band_.data() + static_cast<std::size_t>(y - first) * static_cast<std::size_t>(width_);
}

const std::uint8_t* MapPicture::classRow(int y) {
    const int first = y - y % kBandRows;
    if (classBandFirst_ != first) {
        classBand_.resize(static_cast<std::size_t>(width_) * kBandRows);
        if (drawn_) {
            // Painted in the classes themselves instead of colours.
            paintBand(first, MapColors{kClassUnchanged, kClassWater, kClassLand, kClassSea});
            bandFirst_ = -1;
            std::transform(band_.begin(), band_.end(), classBand_.begin(),
                           [](std::uint32_t pixel) { return static_cast<std::uint8_t>(pixel); });
        } else {
            std::fill(classBand_.begin(), classBand_.end(), std::uint8_t{kClassUnchanged});
        }
        classBandFirst_ = first;
    }
    return classBand_.data() + static_cast<std::size_t>(y - first) * static_cast<std::size_t>(width_);
}

MapRun::MapRun(const MapRequest& request, const std::function<double()>& clock)
    : generations_(request.generations), untilSettled_(request.untilSettled), colors_(request.colors) {
    result_.settings = request.settings;
    Settings& s = result_.settings;
    const SeedOutcome seed = seedRun(random_, s, request.seed, clock);
    result_.seedUsed = seed.used;
    result_.seedFromClock = seed.fromClock;
    result_.seed = seed.seed;
    const int threads = request.threads > 0 ? request.threads
                                            : static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 2u));
    engine_ = std::make_unique<FastEngine>(bestKernelLevel(), threads);
    // The initial map as layInitialMap lays it. The world is grown and measured before the grids
    // are made, and unless it is kept only its sea, a bit a cell, is held while they are: the
    // pyramid's levels, the measuring's runs, the heights and the grids are never held at once.
    std::optional<World> world =
        growWorld(s, MapSize{std::max(1, s.xsize), std::max(1, s.ysize)}, random_, threads, &result_.worldSeed);
    SeaBits sea;
    if (world) {
        result_.world = true;
        result_.landMasses = measureWorld(*world).landMasses;
        if (request.keepWorld) {
            result_.heights = std::make_shared<const World>(std::move(*world));
        } else {
            sea = seaBits(*world);
        }
        world.reset();
    }
    map_.emplace(s.xsize, s.ysize);
    engine_->fillInitialLandmass(*map_, s, random_);
    if (result_.heights) stampSea(*map_, *result_.heights);
    if (!sea.bits.empty()) stampSea(*map_, sea);
    fixedRule_ = ruleIsFixed(s, *map_);
}

// One generation computed and checked for settling; true when it is to be kept.
bool MapRun::compute() {
    MapResult& r = result_;
    const bool changed = generationCycle(*engine_, *map_, r.settings, random_, untouched_, computed_);
    r.stable = !changed;
    const std::int64_t drawn = r.committedGenerations;
    if (fixedRule_ && drawn >= 1 && !r.settled) {
        const bool alike = sameChanges(changes_, computed_);
        if (drawn == 1) {
            firstTwoAlike_ = alike;
        } else if (alike) {
            r.settled = true;
            r.settledAt = drawn == 2 && firstTwoAlike_ ? 1 : drawn;
        }
    }
    return drawn < generations_ && !(untilSettled_ && r.settled);
}

bool MapRun::step() {
    if (over_) return false;
    if (!compute()) {
        over_ = true;
        return false;
    }
    std::swap(map_->currentMap, map_->nextMap);
    std::swap(changes_, computed_);
    keptPhase_ = map_->phaseFlag;
    untouched_ = Untouched::FromCurrent;
    ++result_.committedGenerations;
    return true;
}

void MapRun::paint(const MapCanvas& canvas, const MapColors& colors) {
    if (result_.committedGenerations > 0) {
        engine_->drawChanges(map_->currentMap, changes_, keptPhase_, colors, canvas);
        return;
    }
    for (int y = 1; y <= result_.settings.ysize; ++y)
        for (int x = 1; x <= result_.settings.xsize; ++x)
            if (canvas.contains(x, y)) canvas.at(x, y) = 0xFF000000u;
}

MapResult MapRun::finish(MapPicture& picture) {
    picture = MapPicture{};
    if (!over_) {
        compute();
        over_ = true;
    }
    MapResult r = result_;
    r.cycles = map_->cycleCount;
    const MapStatistics stats = engine_->finalStatistics(*map_, r.settings);
    r.unchangedCount = stats.unchangedCount;
    r.waterCount = stats.waterCount;
    r.landCount = stats.landCount;
    r.seaCount = stats.seaCount;

    picture.width_ = r.settings.xsize;
    picture.height_ = r.settings.ysize;
    picture.drawn_ = r.committedGenerations > 0;
    picture.world_ = r.world;
    picture.phaseFlag_ = keptPhase_;
    picture.colors_ = colors_;
    picture.cells_ = std::move(map_->currentMap);
    picture.changes_ = std::move(changes_);
    picture.engine_ = std::make_unique<FastEngine>();
    return r;
}

MapResult generateMap(const MapRequest& request, MapPicture& picture, const std::function<double()>& clock,
                      const std::function<bool(std::int64_t done, std::int64_t total)>& progress) {
    picture = MapPicture{};
    MapRun run(request, clock);
    std::int64_t computed = 0;
    for (bool kept = true; kept;) {
        kept = run.step();
        if (progress && !progress(++computed, request.generations + 1)) throw RunCancelled();
    }
    return run.finish(picture);
}

}  // namespace orv
