// A world grown as a run grows it: five continents and the presets of the other settings at
// 4096 x 4096, the size the figures are measured at, at a size that is no power of two and at
// the window's 400 x 400, on one thread and on two. Run next to largeBatchGeneration (a
// generation of the rule at the same size) to compare.
#include <benchmark/benchmark.h>

#include "rng/Random.hpp"
#include "settings/Seeding.hpp"
#include "sim/FastEngine.hpp"
#include "sim/Simulation.hpp"
#include "world/WorldFigures.hpp"
#include "world/WorldPyramid.hpp"

namespace orv {
namespace {

void worldPyramid(benchmark::State& state, int width, int height, int continents, int threads) {
    WorldParameters parameters;
    parameters.continents = continents;
    World world;
    for (auto _ : state) {
        buildWorld(42, width, height, 0, 0, parameters, world, threads);
        benchmark::DoNotOptimize(world.heights.data());
    }
    state.counters["worlds/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// Everything a world adds to a run before its first generation, as orvandel-batch does it: the
// pyramid, the classic pattern laid (which a classic run lays too), the sea stamped into both
// grids and the land masses measured.
void worldStart(benchmark::State& state, int continents) {
    Settings settings;
    applyPresets(settings);
    settings.xsize = settings.ysize = 4096;
    settings.continents = continents;
    MapState map(4096, 4096);
    FastEngine engine;
    Random random;
    for (auto _ : state) {
        random.seed(seedWord(42));
        std::optional<World> world = layInitialMap(engine, map, settings, random);
        if (world) benchmark::DoNotOptimize(measureWorld(*world).landMasses.data());
        benchmark::DoNotOptimize(map.currentMap.column(1));
    }
}

BENCHMARK_CAPTURE(worldStart, classic_4096, 0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(worldStart, five_continents_4096, 5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(worldPyramid, five_4096, 4096, 4096, 5, 1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(worldPyramid, five_4096_two_threads, 4096, 4096, 5, 2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(worldPyramid, one_4096, 4096, 4096, 1, 1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(worldPyramid, twelve_4096, 4096, 4096, 12, 1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(worldPyramid, odd_4099x3001, 4099, 3001, 5, 1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(worldPyramid, window_400, 400, 400, 5, 1)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
}  // namespace orv
