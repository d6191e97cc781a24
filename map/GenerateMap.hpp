#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "rng/Random.hpp"
#include "settings/Palette.hpp"
#include "settings/Seeding.hpp"
#include "settings/Settings.hpp"
#include "sim/FastEngine.hpp"
#include "sim/MapGrid.hpp"
#include "sim/Simulation.hpp"
#include "world/WorldPyramid.hpp"

namespace orv {

// One map to make: what the window program would show when stopped after `generations` drawn
// generations with these settings and this seed.
struct MapRequest {
    Settings settings;  // as the run begins: in range, randratio not yet drawn
    SeedChoice seed;
    std::int64_t generations = 100;  // drawn; the cap with untilSettled
    bool untilSettled = false;
    MapColors colors;  // what the picture is painted in (mapColors(settings): the window's)
    int threads = 0;   // how many threads may share a large map's work (0: as many as run at once, at most two)
    // Keep a world's heights in the result (MapResult::heights), for work that reads them after
    // the run. Otherwise they are let go before the first generation: a map's memory at its peak
    // is then the grids and the heights (2 bytes a cell) together, never the heights through the
    // generations.
    bool keepWorld = false;
};

// The outcome of one map.
struct MapResult {
    std::int32_t seed = 0;       // the seed value the source was seeded with (0: never seeded)
    bool seedUsed = true;        // false when the settings turn the seed entry off (random1 not 1)
    bool seedFromClock = false;  // seed holds the whole seconds the clock gave
    Settings settings;           // as the run used them, after clamping and the randratio draw
    std::int64_t committedGenerations = 0;
    std::int64_t cycles = 0;  // generations computed, the last, uncommitted one included
    bool stable = false;      // the last generation computed changed no cell
    // The drawn picture had stopped changing: from drawn generation settledAt on, every
    // generation drawn (and computed) changes the same cells (see generateMap).
    bool settled = false;
    std::optional<std::int64_t> settledAt;
    std::int64_t unchangedCount = 0, waterCount = 0, landCount = 0;
    std::int64_t seaCount = 0;  // a world's sea, apart from the three classes
    bool world = false;         // the map is a world (continents above 0)
    // A world's land masses: the areas of the groups of cells outside the sea (8-connected,
    // across the wrap-around on both axes), largest first. Empty for a classic map.
    std::vector<std::int64_t> landMasses;
    // A world's heights (world/WorldPyramid.hpp: 16-bit, x-major, sea level 0), when the request
    // asked to keep them; the same as growWorld gives again for the same seed and settings.
    std::shared_ptr<const World> heights;
    std::uint32_t worldSeed = 0;  // a world's seed word: regrowWorld grows it again
};

// The classes of a map's cells as the picture shows them (and the report counts them).
enum CellClass : std::uint8_t { kClassWater = 0, kClassLand = 1, kClassUnchanged = 2, kClassSea = 3 };

// The map as it was last drawn, xsize x ysize pixels of 0xAARRGGBB, black when no generation
// was drawn. It keeps the last kept grid and which of its cells had just changed (a byte and an
// eighth per cell) and paints rows from them a band at a time, so that the whole picture (four
// bytes per cell) is never held.
class MapPicture {
public:
    MapPicture();
    int width() const { return width_; }
    int height() const { return height_; }
    const MapColors& colors() const { return colors_; }
    // The map is a world, whose sea may be drawn in a colour of its own.
    bool world() const { return world_; }
    // Pixel row y (0 at the top): width() pixels, good until the next call. Rows read in order
    // cost one pass over the map.
    const std::uint32_t* row(int y);
    // The same row as classes (CellClass), one byte a cell, good until the next call: the
    // colour each pixel was drawn in, told apart whatever the colours are. With no generation
    // drawn every cell is kClassUnchanged.
    const std::uint8_t* classRow(int y);

private:
    friend class MapRun;
    // Tall enough that each column's visit (a page of its own in a wide map) reads several cache
    // lines: at 16384 wide, 256 rows paint the picture in about half the time 64 rows took.
    static constexpr int kBandRows = 256;
    void paintBand(int first, const MapColors& colors);

    int width_ = 0, height_ = 0;
    bool drawn_ = false;
    bool world_ = false;
    int phaseFlag_ = 0;
    MapColors colors_;
    MapGrid cells_;
    ChangeMask changes_;
    std::unique_ptr<FastEngine> engine_;
    std::vector<std::uint32_t> band_;
    int bandFirst_ = -1;  // the first picture row in band_ (-1: none yet, or classes in it)
    std::vector<std::uint8_t> classBand_;
    int classBandFirst_ = -1;
};

// One map being made, a generation at a time: what generateMap does, in steps that a caller
// can follow (painting the map as it grows) and end early. The seeding step and the initial map
// are done when the run is made.
class MapRun {
public:
    // clock is what a bit-pattern seed reads.
    explicit MapRun(const MapRequest& request, const std::function<double()>& clock = clockSeconds);
    MapRun(const MapRun&) = delete;
    MapRun& operator=(const MapRun&) = delete;

    // Computes the next generation and keeps it (it is drawn), unless the run is over: the
    // generation computed after the last one drawn is not kept, and the statistics come from it.
    // Returns false once the run is over (the generations asked for are drawn, or the picture
    // has settled with untilSettled); then it does nothing more.
    bool step();
    bool over() const { return over_; }
    // The generations drawn so far, and the cells of the map.
    std::int64_t drawn() const { return result_.committedGenerations; }
    double cells() const { return static_cast<double>(result_.settings.xsize) * result_.settings.ysize; }
    const MapResult& result() const { return result_; }

    // Paints the map as drawn so far into the canvas, cell (x, y) counted from 1 at pixel
    // (originX + x, originY + y); black before the first generation is drawn.
    void paint(const MapCanvas& canvas, const MapColors& colors);

    // Ends the run with the generations drawn so far, as a run asked for just those would have
    // ended (one more generation is computed, for the statistics, when the run was not over),
    // and hands its picture over (the picture's previous map is let go first). The run is spent.
    MapResult finish(MapPicture& picture);

private:
    bool compute();

    MapResult result_;
    std::int64_t generations_;
    bool untilSettled_;
    MapColors colors_;
    Random random_;
    std::optional<MapState> map_;  // made once the world is grown
    std::unique_ptr<FastEngine> engine_;
    // Each generation goes whole into nextMap, so keeping it is swapping the grids. The cells
    // that changed in the generation last kept are in changes_, those of the one just computed
    // in computed_. Until the first swap nextMap holds what the straightforward rule expects.
    ChangeMask changes_, computed_;
    Untouched untouched_ = Untouched::KeepNext;
    int keptPhase_ = 0;
    bool fixedRule_ = false;
    bool firstTwoAlike_ = false;  // generations 1 and 2 changed the same cells
    bool over_ = false;
};

// Generates one map exactly as the window program would with the same settings and seed when
// stopped after `generations` drawn generations: the seeding step (seedRun), the initial map
// (as layInitialMap: with continents above 0 the world grown first, its land masses measured, and
// its sea stamped),
// the generations, and one more generation computed but not drawn, from which the statistics
// come. picture receives the map as it was last drawn (its previous map is let go first).
// clock is what a bit-pattern seed reads; progress is told after every generation computed how
// many have been and how many there will be at most, and stops the run by returning false
// (generateMap then throws RunCancelled).
//
// Settling: a drawn generation k >= 2 whose next generation changes exactly the cells it
// changed (compared as the change masks the run keeps) leaves the grid as it was two
// generations before. When no draw decides the flows and erosion keeps one ratio, the map then
// repeats with period 1 or 2 for ever and its picture never changes again: settled, from
// generation k (from 1 when generations 1 and 2 changed the same cells too). With untilSettled
// the run stops there, drawn generation k being the last; `generations` stays the cap.
MapResult generateMap(const MapRequest& request, MapPicture& picture,
                      const std::function<double()>& clock = clockSeconds,
                      const std::function<bool(std::int64_t done, std::int64_t total)>& progress = {});

// A run stopped by its progress hook.
class RunCancelled : public std::exception {
public:
    const char* what() const noexcept override { return "the run was stopped"; }
};

}  // namespace orv
