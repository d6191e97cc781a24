#include "map/GenerateMap.hpp"

#include <algorithm>
#include <cstring>
#include <thread>
#include <utility>

#include "sim/FlowDecisions.hpp"
#include "sim/WorldFigures.hpp"

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
    : generations_(request.generations),
      untilSettled_(request.untilSettled),
      colors_(request.colors),
      map_(request.settings.xsize, request.settings.ysize) {
    result_.settings = request.settings;
    Settings& s = result_.settings;
    const SeedOutcome seed = seedRun(random_, s, request.seed, clock);
    result_.seedUsed = seed.used;
    result_.seedFromClock = seed.fromClock;
    result_.seed = seed.seed;
    const int threads = request.threads > 0 ? request.threads
                                            : static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 2u));
    engine_ = std::make_unique<FastEngine>(bestKernelLevel(), threads);
    if (std::optional<WorldMask> world = layInitialMap(*engine_, map_, s, random_)) {
        result_.world = true;
        result_.landMasses = measureWorld(*world).landMasses;
    }  // the mask is let go here, before the generations
    fixedRule_ = ruleIsFixed(s, map_);
}

// One generation computed and checked for settling; true when it is to be kept.
bool MapRun::compute() {
    MapResult& r = result_;
    const bool changed = generationCycle(*engine_, map_, r.settings, random_, untouched_, computed_);
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
    std::swap(map_.currentMap, map_.nextMap);
    std::swap(changes_, computed_);
    keptPhase_ = map_.phaseFlag;
    untouched_ = Untouched::FromCurrent;
    ++result_.committedGenerations;
    return true;
}

void MapRun::paint(const MapCanvas& canvas, const MapColors& colors) {
    if (result_.committedGenerations > 0) {
        engine_->drawChanges(map_.currentMap, changes_, keptPhase_, colors, canvas);
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
    r.cycles = map_.cycleCount;
    const MapStatistics stats = engine_->finalStatistics(map_, r.settings);
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
    picture.cells_ = std::move(map_.currentMap);
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
