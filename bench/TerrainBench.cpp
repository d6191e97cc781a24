// The terrain of a 4096 x 4096 world against 100 generations of the rule at the same size, side
// by side in one run: the whole terrain with every file it is written as, and each part on its
// own. The files go to a sink that keeps no bytes, so that the encoding is measured and not the
// disk. The whole terrain also reports the most memory it held at once beyond its input, in bytes
// a cell (every allocation of this program is counted).
//
//   build/release/bench/orvandel-bench-terrain
//
// The world is a synthetic one (SyntheticWorld.hpp): fractal noise as the world's field and the
// automaton run 100 generations on its land, made once before the first benchmark.
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <utility>

#include "SyntheticWorld.hpp"
#include "io/SafeWrite.hpp"
#include "rng/Random.hpp"
#include "settings/Settings.hpp"
#include "sim/FastEngine.hpp"
#include "sim/Simulation.hpp"
#include "terrain/TerrainFiles.hpp"

namespace {

// Every allocation counted: what is held now, and the most held since the last reset.
std::atomic<std::size_t> held{0}, mostHeld{0};

void count(std::size_t bytes) {
    const std::size_t now = held.fetch_add(bytes) + bytes;
    std::size_t most = mostHeld.load();
    while (now > most && !mostHeld.compare_exchange_weak(most, now)) {
    }
}

}  // namespace

// The size of each block is kept in front of it.
void* operator new(std::size_t size) {
    void* block = std::malloc(size + 16);
    if (block == nullptr) throw std::bad_alloc();
    *static_cast<std::size_t*>(block) = size;
    count(size);
    return static_cast<char*>(block) + 16;
}
void operator delete(void* p) noexcept {
    if (p == nullptr) return;
    void* block = static_cast<char*>(p) - 16;
    held.fetch_sub(*static_cast<std::size_t*>(block));
    std::free(block);
}
void operator delete(void* p, std::size_t) noexcept {
    operator delete(p);
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void operator delete[](void* p) noexcept {
    operator delete(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    operator delete(p);
}

namespace orv {
namespace {

constexpr int kSide = 4096;

// Files that are written into nothing: every target a character device that takes every byte.
class NoFiles : public FileSystem {
public:
    int openExisting(const std::string&) override { return 1000; }
    long write(int, const void*, std::size_t size) override { return static_cast<long>(size); }
    int close(int) override { return 0; }
    int status(const std::string&, struct stat& info, bool) override {
        info = {};
        info.st_mode = S_IFCHR | 0666;
        return 0;
    }
};

const SyntheticWorld& world() {
    static const SyntheticWorld made = syntheticWorld(1, kSide, kSide, true);
    return made;
}

const TextChunks kTexts = {{"Software", "orvandel-bench-terrain"}};

void writeAll(const Terrain& t) {
    NoFiles files;
    const auto write = [&files](auto writer) {
        SafeFile file("terrain", files);
        if (writer(file) || !file.commit()) std::abort();
    };
    write([&](SafeFile& f) { return writeHeightsNpy(f, t); });
    write([&](SafeFile& f) { return writeHeightsPng(f, t, kTexts); });
    write([&](SafeFile& f) { return writeTerrainNpy(f, t); });
    write([&](SafeFile& f) { return writeAtlasPng(f, t, kTexts); });
    write([&](SafeFile& f) { return writeRiversGeoJson(f, t); });
    benchmark::DoNotOptimize(terrainStatsJson(t));
}

// 100 generations of the rule as the batch generator keeps them, presets and seed 42.
void hundredGenerations(benchmark::State& state, int threads) {
    Settings settings;
    applyPresets(settings);
    settings.xsize = settings.ysize = kSide;
    MapState map(kSide, kSide);
    Random random;
    FastEngine engine(bestKernelLevel(), threads);
    ChangeMask changes;
    seedRun(random, settings, SeedChoice::of(42), clockSeconds);
    fillInitialLandmass(map, settings, random);
    generationCycle(engine, map, settings, random, Untouched::KeepNext, changes);
    std::swap(map.currentMap, map.nextMap);
    for (auto _ : state)
        for (int g = 0; g < 100; ++g) {
            generationCycle(engine, map, settings, random, Untouched::FromCurrent, changes);
            std::swap(map.currentMap, map.nextMap);
        }
}

// The whole terrain: relief, drainage, rivers, figures and every file.
void wholeTerrain(benchmark::State& state) {
    const SyntheticWorld& w = world();
    double peak = 0;
    for (auto _ : state) {
        const std::size_t before = held.load();
        mostHeld.store(before);
        {
            const Terrain t = makeTerrain(w.world(), w.classRows(), TerrainOptions{});
            writeAll(t);
        }
        peak = static_cast<double>(mostHeld.load() - before) / (double{kSide} * kSide);
    }
    state.counters["peak bytes/cell"] = peak;
}

void relief(benchmark::State& state) {
    const SyntheticWorld& w = world();
    for (auto _ : state) benchmark::DoNotOptimize(makeRelief(w.world(), w.classRows(), 50));
}

void drainage(benchmark::State& state) {
    const SyntheticWorld& w = world();
    const std::vector<std::int16_t> heights = makeRelief(w.world(), w.classRows(), 50);
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<std::int16_t> copy = heights;
        state.ResumeTiming();
        benchmark::DoNotOptimize(drain(copy, kSide, kSide, 50));
    }
}

// The rivers traced and the figures summed up, then each file on its own.
struct Made {
    Terrain terrain;
    Made() { terrain = makeTerrain(world().world(), world().classRows(), TerrainOptions{50, 70, true}); }
};
const Terrain& made() {
    static const Made once;
    return once.terrain;
}

void riversAndFigures(benchmark::State& state) {
    const Terrain& t = made();
    for (auto _ : state) benchmark::DoNotOptimize(summarizeTerrain(t.heights, t.drainage, traceRivers(t.drainage)));
}

template <class Writer>
void file(benchmark::State& state, Writer writer) {
    const Terrain& t = made();
    NoFiles files;
    for (auto _ : state) {
        SafeFile f("terrain", files);
        if (writer(f, t)) std::abort();
        f.commit();
    }
}

void texts(benchmark::State& state) {
    const Terrain& t = made();
    for (auto _ : state) {
        NoFiles files;
        SafeFile f("terrain", files);
        if (writeRiversGeoJson(f, t)) std::abort();
        f.commit();
        benchmark::DoNotOptimize(terrainStatsJson(t));
    }
}

BENCHMARK_CAPTURE(hundredGenerations, rule_4096_1_thread, 1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(hundredGenerations, rule_4096_2_threads, 2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(wholeTerrain)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(relief)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(drainage)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(riversAndFigures)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(file, heights_npy, [](SafeFile& f, const Terrain& t) { return writeHeightsNpy(f, t); })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(file, heights_png, [](SafeFile& f, const Terrain& t) { return writeHeightsPng(f, t, kTexts); })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(file, terrain_npy, [](SafeFile& f, const Terrain& t) { return writeTerrainNpy(f, t); })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(file, atlas_png, [](SafeFile& f, const Terrain& t) { return writeAtlasPng(f, t, kTexts); })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(texts)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace orv
