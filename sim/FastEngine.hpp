#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "rng/Random.hpp"
#include "settings/Settings.hpp"
#include "sim/FlowDecisions.hpp"
#include "sim/Kernels.hpp"
#include "sim/MapGrid.hpp"
#include "sim/Simulation.hpp"
#include "sim/TwoWalks.hpp"

namespace orv {

class ThreadTeam;

// Which interior cells of a map differ between two generations: for cell (x, y), bit
// (y - 1) % 64 of word (y - 1) / 64 of column x. An eighth of a byte per cell.
class ChangeMask {
public:
    // Sized for a map of xsize x ysize cells; the bits are left undefined.
    void resize(int xsize, int ysize);

    int xsize() const { return xsize_; }
    int ysize() const { return ysize_; }
    std::ptrdiff_t wordsPerColumn() const { return wordsPerColumn_; }
    std::uint64_t* column(int x) { return words_.data() + static_cast<std::ptrdiff_t>(x - 1) * wordsPerColumn_; }
    const std::uint64_t* column(int x) const {
        return words_.data() + static_cast<std::ptrdiff_t>(x - 1) * wordsPerColumn_;
    }
    bool changed(int x, int y) const { return ((column(x)[(y - 1) / 64] >> ((y - 1) % 64)) & 1u) != 0; }

private:
    int xsize_ = 0, ysize_ = 0;
    std::ptrdiff_t wordsPerColumn_ = 0;
    std::vector<std::uint64_t> words_;
};

// Where the cells the rule leaves alone get their value in nextMap.
enum class Untouched {
    KeepNext,     // they keep what nextMap holds, as in computeGeneration
    FromCurrent,  // they take currentMap's value, so nextMap receives the whole interior
};

// The generation cycle's map work done fast, with exactly the results of wrapBorder,
// computeGeneration and commitAndDraw in Simulation.hpp: the same grids, the same pixels and
// the same random numbers taken, for any settings and any grid size.
//
// The rule runs a whole column at a time over bytes with SIMD, on flow decisions produced
// beforehand from the random stream (FlowDecisions); the commit classifies every cell while it
// copies, and the drawing turns blocks of columns into rows of the row-major frame buffer.
//
// An engine made for more than one thread shares the work of a generation among that many
// threads once the map has kThreadedCells cells or more (below that, waking a thread costs
// more than it saves), or an eighth of that where the flow decisions vary from cell to cell.
// The columns of the rule, the commit and the drawing are split between the threads; varying
// decisions, which take several times as long to make as the rule takes to apply, are made by
// two walks on two threads (TwoWalks), one from the start of the generation and one from a
// little before its middle (while the first also applies the rule), which costs about half a
// byte per cell while a generation is computed. Smaller maps, and engines for one thread, never
// start a thread.
class FastEngine {
public:
    static constexpr std::int64_t kThreadedCells = std::int64_t{1} << 19;

    // threads counts the caller; threadedCells is the smallest map whose work is shared (an
    // eighth of it when the flow decisions vary, which take much longer to make). walk: how the
    // flow decisions are found (the same either way; by default the faster with the kernels).
    explicit FastEngine(KernelLevel level = bestKernelLevel(), int threads = 1,
                        std::int64_t threadedCells = kThreadedCells, std::optional<FlowWalk> walk = std::nullopt);
    ~FastEngine();
    FastEngine(const FastEngine&) = delete;
    FastEngine& operator=(const FastEngine&) = delete;

    KernelLevel level() const { return level_; }
    FlowWalk walk() const { return walk_; }
    int threads() const { return threads_; }
    // How many generations so far had their flow decisions made by two walks that joined.
    std::int64_t joinedWalks() const { return joinedWalks_; }

    // fillInitialLandmass, a block of the random source at a time.
    void fillInitialLandmass(MapState& map, const Settings& settings, Random& random) const;
    void wrapBorder(MapState& map, const Settings& settings) const;
    void computeGeneration(MapState& map, const Settings& settings, Random& random);
    // The canvas's pixels outside width x height are left alone.
    void commitAndDraw(MapState& map, const Settings& settings, const MapCanvas& canvas, const MapColors& colors);

    // For a run that keeps generations without drawing each: the same generation as
    // computeGeneration, with the cells the rule leaves alone filled as untouched says, and the
    // cells where nextMap now differs from currentMap marked in changes (resized to the map).
    // Returns whether any cell differs.
    //
    // With Untouched::FromCurrent nextMap receives the whole interior, so keeping the generation
    // is std::swap(map.currentMap, map.nextMap): the swapped-in grid's border is refreshed by
    // wrapBorder before the next rule, and of what else differs from a committed grid the rule
    // reads only the corners, which never hold land in either grid. The result equals the
    // straightforward rule's whenever nextMap's interior would equal currentMap's there, as it
    // does after any commit; before the first commit use Untouched::KeepNext.
    bool computeGeneration(MapState& map, const Settings& settings, Random& random, Untouched untouched,
                           ChangeMask& changes);
    // Paints the map as commitAndDraw painted it when it committed currentMap: the cells marked
    // in changes as changed, in phaseFlag, the others unchanged. Only cells on the canvas are read.
    void drawChanges(const MapGrid& currentMap, const ChangeMask& changes, int phaseFlag, const MapColors& colors,
                     const MapCanvas& canvas);
    // computeFinalStatistics, faster.
    MapStatistics finalStatistics(const MapState& map, const Settings& settings);

private:
    // The team for a map of this many cells, or nothing when one thread is to do the work.
    ThreadTeam* teamFor(std::int64_t cells, bool varyingFlows = false);
    bool rule(MapState& map, const Settings& settings, Random& random, Untouched untouched, ChangeMask* changes);

    KernelLevel level_;
    const Kernels* kernels_;
    FlowWalk walk_;
    int threads_;
    std::int64_t threadedCells_;
    std::unique_ptr<ThreadTeam> team_;
    std::vector<std::uint8_t> decisions_;      // one column's flow bits
    std::vector<std::int8_t> uniformScratch_;  // the sums of Kernels::ruleUniform
    std::int64_t joinedWalks_ = 0;
    TwoWalks::Room twoWalks_;
    // One block of classified cells per thread, column after column.
    std::vector<std::vector<std::uint8_t>> classes_;
};

}  // namespace orv
