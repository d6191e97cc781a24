#include "app/BatchMap.hpp"

#include <algorithm>
#include <thread>
#include <utility>

#include "rng/Random.hpp"
#include "sim/Simulation.hpp"

namespace orv {

MapPicture::MapPicture() = default;

const std::uint32_t* MapPicture::row(int y) {
    const int first = y - y % kBandRows;
    if (bandFirst_ != first) {
        const int rows = std::min(kBandRows, height_ - first);
        band_.resize(static_cast<std::size_t>(width_) * kBandRows);
        if (drawn_) {
            // Cell (x, first + 1 + r) is pixel (x - 1, r) of the band: every pixel is painted.
            engine_->drawChanges(cells_, changes_, phaseFlag_, settings_,
                                 MapCanvas{band_.data(), width_, width_, rows, -1, -1 - first});
        } else {
            // Until something is drawn the map area is as the cleared screen leaves it: black.
            std::fill(band_.begin(), band_.end(), 0xFF000000u);
        }
        bandFirst_ = first;
    }
    return band_.data() + static_cast<std::size_t>(y - first) * static_cast<std::size_t>(width_);
}

BatchResult generateMap(const Settings& settings, SeedChoice seed, std::int64_t generations, bool untilStable,
                        const std::function<double()>& clock, MapPicture& picture,
                        const std::function<void(double)>& progress, int threads) {
    picture = MapPicture{};
    BatchResult r;
    r.settings = settings;
    Settings& s = r.settings;
    Random random;
    MapState map(s.xsize, s.ysize);
    const double cells = static_cast<double>(s.xsize) * s.ysize;

    r.seedUsed = s.random1 == 1;
    if (r.seedUsed) {
        if (seed.fromClock || seed.value == 0) {
            // The source keeps the whole seconds of the clock: they are the seed to type again.
            const double seconds = clock();
            random.seedRandom(seconds, clock);
            r.seed = static_cast<std::int32_t>(seedWord(seconds));
            r.seedFromClock = true;
        } else {
            random.seedRandom(seed.value, clock);
            r.seed = seed.value;
        }
    }
    if (s.randratio == 0) s.randratio = static_cast<std::int32_t>(scaleDraw(random.nextRaw(), 10)) + 40;
    if (threads <= 0) threads = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 2u));
    FastEngine engine(bestKernelLevel(), threads);
    engine.fillInitialLandmass(map, s, random);
    // Each generation goes whole into nextMap, so keeping it is swapping the grids. The cells
    // that changed in the generation last kept are in `changes`, those of the one just computed
    // in `computed`. Until the first swap nextMap holds what the straightforward rule expects.
    ChangeMask changes, computed;
    Untouched untouched = Untouched::KeepNext;
    int keptPhase = 0;
    for (;;) {
        map.phaseFlag = 1 - map.phaseFlag;
        engine.wrapBorder(map, s);
        const bool changed = engine.computeGeneration(map, s, random, untouched, computed);
        ++map.cycleCount;
        if (s.erosion == 1) s.landwaterratio = map.erosionTable[static_cast<std::size_t>(map.cycleCount % 1000)];
        progress(cells);
        r.stable = !changed;
        if (r.committedGenerations >= generations || (untilStable && !changed)) break;
        std::swap(map.currentMap, map.nextMap);
        std::swap(changes, computed);
        keptPhase = map.phaseFlag;
        untouched = Untouched::FromCurrent;
        ++r.committedGenerations;
    }
    r.cycles = map.cycleCount;
    const MapStatistics stats = engine.finalStatistics(map, s);
    r.unchangedCount = stats.unchangedCount;
    r.waterCount = stats.waterCount;
    r.landCount = stats.landCount;

    picture.width_ = s.xsize;
    picture.height_ = s.ysize;
    picture.drawn_ = r.committedGenerations > 0;
    picture.phaseFlag_ = keptPhase;
    picture.settings_ = s;
    picture.cells_ = std::move(map.currentMap);
    picture.changes_ = std::move(changes);
    picture.engine_ = std::make_unique<FastEngine>();
    return r;
}

}  // namespace orv
