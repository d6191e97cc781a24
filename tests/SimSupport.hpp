#pragma once

// The one differential harness for the map engines: a run of the map on the straightforward
// functions (ReferenceEngine) and the same run on a fast engine, side by side through the one
// generation cycle, compared after every step: the same grids, the same random numbers taken,
// the same pixels, change marks and statistics.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "rng/Random.hpp"
#include "settings/Palette.hpp"
#include "settings/Seeding.hpp"
#include "settings/Settings.hpp"
#include "sim/FastEngine.hpp"
#include "sim/FlowDecisions.hpp"
#include "sim/Simulation.hpp"

namespace orv::test {

// The presets on a map of the given size.
inline Settings presets(int xsize, int ysize) {
    Settings s;
    applyPresets(s);
    s.xsize = xsize;
    s.ysize = ysize;
    return s;
}

// Where a drawn run paints: a width x height canvas, cell (x, y) at pixel (originX + x, originY + y).
struct CanvasShape {
    int width, height, originX, originY;
};

struct RunCase {
    Settings settings;
    double seed = 1;  // -1: the source is never seeded
    int generations = 4;
    bool buildErosion = false;
    int capacity = 0;  // the grids hold capacity x capacity cells; 0: just the map
    // A drawn run's canvas; by default the map from its second column on, the lower rows off it.
    std::optional<CanvasShape> canvas;
};

// How the fast engine of a case is made.
struct EngineChoice {
    KernelLevel level = bestKernelLevel();
    int threads = 1;
    std::int64_t threadedCells = FastEngine::kThreadedCells;
    std::optional<FlowWalk> walk = std::nullopt;
};

inline std::string describe(const RunCase& c, const EngineChoice& e = {}) {
    const Settings& s = c.settings;
    auto n = [](auto v) { return std::to_string(v); };
    std::string text =
        n(s.xsize) + "x" + n(s.ysize) + (c.capacity > 0 ? " in " + n(c.capacity) : "") + ", seed " + n(c.seed) +
        ", flows " + n(s.downupflow) + "/" + n(s.upflowenabled) + n(s.downflowenabled) + "/" + n(s.upflowratio) + " " +
        n(s.leftrightflow) + "/" + n(s.leftflowenabled) + n(s.rightflowenabled) + "/" + n(s.rightflowratio) +
        ", landmass " + n(s.landmasssize) + ", ratio " + n(s.landwaterratio) + ", erosion " + n(s.erosion) +
        (c.buildErosion ? " (table built)" : "") + ", margins " + n(s.oceanedgesizex) + "/" + n(s.oceanedgesizey) +
        (s.continents > 0 ? ", continents " + n(s.continents) : "") + ", " + kernelLevelName(e.level) + ", " +
        n(e.threads) + " threads" + (e.walk == FlowWalk::Pairs ? ", cell to cell" : "");
    if (c.canvas)
        text += ", canvas " + n(c.canvas->width) + "x" + n(c.canvas->height) + "+" + n(c.canvas->originX) + "+" +
                n(c.canvas->originY);
    return text;
}

// One run of the map on one engine, set up as a run begins: the source seeded, the erosion
// table built when asked, the initial map laid (a world's sea too, with continents above 0).
template <class Engine>
struct EngineRun {
    template <class... EngineArguments>
    explicit EngineRun(const RunCase& c, EngineArguments&&... arguments)
        : settings(c.settings),
          map(c.capacity > 0 ? c.capacity : c.settings.xsize, c.capacity > 0 ? c.capacity : c.settings.ysize),
          engine(std::forward<EngineArguments>(arguments)...) {
        if (c.seed != -1) random.seed(seedWord(c.seed));
        if (c.buildErosion) buildErosionTable(map, settings, random);
        world = layInitialMap(engine, map, settings, random);
    }
    MapSize size() const { return mapSize(settings, map.currentMap); }

    Settings settings;
    MapState map;
    Random random;
    Engine engine;
    std::optional<World> world;
};

inline testing::AssertionResult sameSource(const Random& a, const Random& b) {
    if (a.draws() != b.draws()) return testing::AssertionFailure() << "draws " << a.draws() << " and " << b.draws();
    if (a.position() != b.position() || a.state() != b.state())
        return testing::AssertionFailure()
               << "random source state differs (positions " << a.position() << ", " << b.position() << ")";
    return testing::AssertionSuccess();
}

// The whole grids, spare cells included.
inline testing::AssertionResult sameGrid(const char* what, const MapGrid& a, const MapGrid& b) {
    if (a == b) return testing::AssertionSuccess();
    for (int x = 0; x < a.xCapacity() + 3; ++x)
        for (int y = 0; y < a.yCapacity() + 3; ++y)
            if (a(x, y) != b(x, y))
                return testing::AssertionFailure() << what << " differs first at (" << x << ", " << y
                                                   << "): " << int{a(x, y)} << " and " << int{b(x, y)};
    return testing::AssertionFailure() << what << " differs";
}

// The interior, and with edges the border but its corners (everything else the rule reads).
inline testing::AssertionResult sameMap(const char* what, const MapGrid& a, const MapGrid& b, MapSize size,
                                        bool edges) {
    for (int x = 0; x <= size.x + 1; ++x)
        for (int y = 0; y <= size.y + 1; ++y) {
            const bool xEdge = x == 0 || x == size.x + 1, yEdge = y == 0 || y == size.y + 1;
            const bool compared = edges ? !(xEdge && yEdge) : !(xEdge || yEdge);
            if (compared && a(x, y) != b(x, y))
                return testing::AssertionFailure() << what << " differs first at (" << x << ", " << y
                                                   << "): " << int{a(x, y)} << " and " << int{b(x, y)};
        }
    return testing::AssertionSuccess();
}

inline testing::AssertionResult samePixels(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b,
                                           int width) {
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i])
            return testing::AssertionFailure() << "pixel (" << i % static_cast<std::size_t>(width) << ", "
                                               << i / static_cast<std::size_t>(width) << ") differs";
    return testing::AssertionSuccess();
}

// The window program's cycle on both engines: a generation cycle, then the commit and drawing
// onto canvases that start with the same noise (so that a pixel painted by one pass only
// shows), compared after each.
inline testing::AssertionResult drawnRunMatches(const RunCase& c, const EngineChoice& e = {}) {
    EngineRun<ReferenceEngine> reference(c);
    EngineRun<FastEngine> fast(c, e.level, e.threads, e.threadedCells, e.walk);
    const MapSize size = reference.size();
    const CanvasShape shape = c.canvas.value_or(CanvasShape{size.x + 3, size.y / 2 + 2, 1, -1});
    std::vector<std::uint32_t> referencePixels(static_cast<std::size_t>(shape.width * shape.height));
    std::mt19937 noise(7);
    for (std::uint32_t& p : referencePixels) p = static_cast<std::uint32_t>(noise());
    std::vector<std::uint32_t> fastPixels = referencePixels;
    auto canvas = [&shape](std::vector<std::uint32_t>& pixels) {
        return MapCanvas{pixels.data(), shape.width, shape.width, shape.height, shape.originX, shape.originY};
    };
    const MapColors colors = mapColors(c.settings);
    for (int generation = 1; generation <= c.generations; ++generation) {
        const std::string where = " in generation " + std::to_string(generation) + " (" + describe(c, e) + ")";
        generationCycle(reference.engine, reference.map, reference.settings, reference.random);
        generationCycle(fast.engine, fast.map, fast.settings, fast.random);
        if (auto r = sameGrid("currentMap after the border", reference.map.currentMap, fast.map.currentMap); !r)
            return r << where;
        if (auto r = sameGrid("nextMap after the rule", reference.map.nextMap, fast.map.nextMap); !r) return r << where;
        if (auto r = sameSource(reference.random, fast.random); !r) return r << " after the rule" << where;
        if (reference.settings != fast.settings) return testing::AssertionFailure() << "settings differ" << where;

        reference.engine.commitAndDraw(reference.map, reference.settings, canvas(referencePixels), colors);
        fast.engine.commitAndDraw(fast.map, fast.settings, canvas(fastPixels), colors);
        if (auto r = sameGrid("currentMap after the commit", reference.map.currentMap, fast.map.currentMap); !r)
            return r << where;
        if (auto r = sameGrid("nextMap after the commit", reference.map.nextMap, fast.map.nextMap); !r)
            return r << where;
        if (auto r = samePixels(referencePixels, fastPixels, shape.width); !r) return r << where;
    }
    return testing::AssertionSuccess();
}

// The batch generator's cycle on the fast engine: each generation written whole into nextMap
// with its changed cells marked, kept by swapping the grids, and drawn from the mask only after
// the last one kept (the last one computed is never kept); the reference commits and draws
// every generation. Then the final statistics.
inline testing::AssertionResult keptRunMatches(const RunCase& c, const EngineChoice& e = {}) {
    EngineRun<ReferenceEngine> reference(c);
    EngineRun<FastEngine> fast(c, e.level, e.threads, e.threadedCells, e.walk);
    const MapSize size = reference.size();
    const int width = size.x, height = size.y;
    std::vector<std::uint32_t> referencePixels(static_cast<std::size_t>(width * height), 0),
        fastPixels(referencePixels.size(), 1);
    const MapColors colors = mapColors(c.settings);
    ChangeMask computed, kept;
    int keptPhase = 0;
    for (int generation = 1; generation <= c.generations; ++generation) {
        const std::string where = " in generation " + std::to_string(generation) + " (" + describe(c, e) + ")";
        generationCycle(reference.engine, reference.map, reference.settings, reference.random);
        const bool changed = generationCycle(fast.engine, fast.map, fast.settings, fast.random,
                                             generation == 1 ? Untouched::KeepNext : Untouched::FromCurrent, computed);
        if (auto r = sameMap("currentMap", reference.map.currentMap, fast.map.currentMap, size, true); !r)
            return r << where;
        if (auto r = sameMap("nextMap", reference.map.nextMap, fast.map.nextMap, size, false); !r) return r << where;
        if (auto r = sameSource(reference.random, fast.random); !r) return r << where;
        bool referenceChanged = false;
        for (int x = 1; x <= size.x; ++x)
            for (int y = 1; y <= size.y; ++y) {
                const bool differs = reference.map.currentMap(x, y) != reference.map.nextMap(x, y);
                referenceChanged |= differs;
                if (computed.changed(x, y) != differs)
                    return testing::AssertionFailure() << "change mark of (" << x << ", " << y << ") wrong" << where;
            }
        if (changed != referenceChanged) return testing::AssertionFailure() << "changed reported wrongly" << where;
        if (generation == c.generations) break;  // computed but never kept
        reference.engine.commitAndDraw(reference.map, reference.settings,
                                       MapCanvas{referencePixels.data(), width, width, height, -1, -1}, colors);
        std::swap(fast.map.currentMap, fast.map.nextMap);
        std::swap(kept, computed);
        keptPhase = fast.map.phaseFlag;
    }
    const std::string atEnd = " at the end (" + describe(c, e) + ")";
    if (c.generations > 1) {
        fast.engine.drawChanges(fast.map.currentMap, kept, keptPhase, colors,
                                MapCanvas{fastPixels.data(), width, width, height, -1, -1});
        if (auto r = samePixels(referencePixels, fastPixels, width); !r) return r << atEnd;
        // A canvas showing the map from cell (4, 7) on: rows start between words of the mask.
        if (size.x > 3 && size.y > 6) {
            const int partWidth = size.x - 3, partHeight = size.y - 6;
            std::vector<std::uint32_t> part(static_cast<std::size_t>(partWidth * partHeight), 1);
            fast.engine.drawChanges(fast.map.currentMap, kept, keptPhase, colors,
                                    MapCanvas{part.data(), partWidth, partWidth, partHeight, -4, -7});
            for (int y = 0; y < partHeight; ++y)
                for (int x = 0; x < partWidth; ++x)
                    if (part[static_cast<std::size_t>(y * partWidth + x)] !=
                        referencePixels[static_cast<std::size_t>((y + 6) * width + (x + 3))])
                        return testing::AssertionFailure()
                               << "pixel (" << x << ", " << y << ") of the part differs" << atEnd;
        }
    }
    const MapStatistics expected = reference.engine.finalStatistics(reference.map, reference.settings);
    const MapStatistics counted = fast.engine.finalStatistics(fast.map, fast.settings);
    if (expected.unchangedCount != counted.unchangedCount || expected.waterCount != counted.waterCount ||
        expected.landCount != counted.landCount || expected.seaCount != counted.seaCount)
        return testing::AssertionFailure()
               << "statistics " << counted.unchangedCount << "/" << counted.waterCount << "/" << counted.landCount
               << "/" << counted.seaCount << ", expected " << expected.unchangedCount << "/" << expected.waterCount
               << "/" << expected.landCount << "/" << expected.seaCount << atEnd;
    return testing::AssertionSuccess();
}

}  // namespace orv::test
