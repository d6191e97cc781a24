// A world grown by the pyramid as a run would grow it: default world settings (continents 7,
// the presets of the others) at 4096 x 4096, the size the figures are measured at, and at sizes
// that are not powers of two. Run next to largeBatchGeneration (a generation of the rule at
// the same size) to compare: the pyramid is meant to cost less than ten generations.
#include <benchmark/benchmark.h>

#include "rng/Random.hpp"
#include "sim/FastEngine.hpp"
#include "sim/Simulation.hpp"
#include "world/WorldFigures.hpp"
#include "world/WorldPyramid.hpp"

namespace orv {
namespace {

void worldPyramid(benchmark::State& state, int width, int height, int continents) {
    WorldParameters parameters;
    parameters.continents = continents;
    WorldPyramid pyramid;
    WorldMask mask;
    Random random;
    for (auto _ : state) {
        random.seedRandom(42);
        pyramid.build(random, width, height, 0, 0, parameters, mask);
        benchmark::DoNotOptimize(mask.cells.data());
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
        random.seedRandom(42);
        std::optional<WorldMask> world = layInitialMap(engine, map, settings, random);
        if (world) benchmark::DoNotOptimize(measureWorld(*world).landMasses.data());
        benchmark::DoNotOptimize(map.currentMap.column(1));
    }
}

BENCHMARK_CAPTURE(worldStart, classic_4096, 0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(worldStart, default_world_4096, 7)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(worldPyramid, default_4096, 4096, 4096, 7)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(worldPyramid, small_continents_4096, 4096, 4096, 4)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(worldPyramid, odd_4099x3001, 4099, 3001, 7)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(worldPyramid, default_400, 400, 400, 4)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
}  // namespace orv
