#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "app/Batch.hpp"
#include "settings/Settings.hpp"
#include "sim/FastEngine.hpp"
#include "sim/MapGrid.hpp"

namespace orv {

struct SeedChoice {
    bool fromClock = false;  // a seed from the clock; value 0 means the same
    std::int32_t value = 0;
};

// The map as it was last drawn, xsize x ysize pixels of 0xAARRGGBB, black when no generation
// was drawn. It keeps the last kept grid and which of its cells had just changed (a byte and an
// eighth per cell) and paints rows from them a band at a time, so that the whole picture (four
// bytes per cell) is never held.
class MapPicture {
public:
    MapPicture();
    int width() const { return width_; }
    int height() const { return height_; }
    // Pixel row y (0 at the top): width() pixels, good until the next call. Rows read in order
    // cost one pass over the map.
    const std::uint32_t* row(int y);

private:
    friend BatchResult generateMap(const Settings&, SeedChoice, std::int64_t, bool, const std::function<double()>&,
                                   MapPicture&, const std::function<void(double)>&, int);
    static constexpr int kBandRows = 64;

    int width_ = 0, height_ = 0;
    bool drawn_ = false;
    int phaseFlag_ = 0;
    Settings settings_;
    MapGrid cells_;
    ChangeMask changes_;
    std::unique_ptr<FastEngine> engine_;
    std::vector<std::uint32_t> band_;
    int bandFirst_ = -1;  // the first picture row in band_ (-1: none yet)
};

// Generates one map exactly as the window program would with the same settings and seed when
// stopped after `generations` drawn generations (or earlier, with untilStable, at the first
// generation that changes no cell): seeding, the randratio draw, the initial fill, the
// generations, and one more generation computed but not drawn, from which the statistics come.
// picture receives the map as it was last drawn (its previous map is let go first). progress is
// told of every generation's cells. threads: how many threads may share a large map's work
// (0: as many as the processor runs at once, at most two).
BatchResult generateMap(const Settings& settings, SeedChoice seed, std::int64_t generations, bool untilStable,
                        const std::function<double()>& clock, MapPicture& picture,
                        const std::function<void(double)>& progress, int threads = 0);

}  // namespace orv
