// One generation of the map at 400 x 400: the rule, the commit and the drawing into an
// 800 x 600 frame buffer, as the generation loop runs them. At 400 x 400 and 4096 x 4096: a
// generation as the batch generator runs it (the rule into a whole nextMap, noting the changed
// cells, and a swap; the picture is drawn once at the end) and, at 4096 x 4096, as the window
// program would (rule, commit and drawing), with one thread and with two. Random flows
// (downupflow=60 upflowenabled=1 upflowratio=40 leftrightflow=70 leftflowenabled=1
// rightflowratio=50) are measured with both walks through the flow decisions: chunks, and
// pairs (the walk before the chunks, and still the one without a byte shuffle).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "rng/Random.hpp"
#include "settings/Seeding.hpp"
#include "settings/Settings.hpp"
#include "sim/FastEngine.hpp"
#include "sim/FlowDecisions.hpp"
#include "sim/Simulation.hpp"

namespace orv {
namespace {

constexpr int kSize = 400;

enum class Flows { Presets, Random };

// Every flow drawn and both choices taken: the slowest arrangement for the fast engine.
void applyRandomFlows(Settings& settings) {
    settings.downupflow = 60;
    settings.upflowenabled = 1;
    settings.upflowratio = 40;
    settings.leftrightflow = 70;
    settings.leftflowenabled = 1;
    settings.rightflowratio = 50;
}

// A run as the program starts it with the presets and seed 42, a few generations in.
struct Run {
    explicit Run(Flows flows) : map(kSize, kSize), pixels(800 * 600, 0xFF000000u) {
        applyPresets(settings);
        if (flows == Flows::Random) applyRandomFlows(settings);
        seedRun(random, settings, SeedChoice::of(42), clockSeconds);
        fillInitialLandmass(map, settings, random);
        canvas = MapCanvas{pixels.data(), 800, 800, 600, 40, 40};
        colors = mapColors(settings);
    }

    Settings settings;
    MapState map;
    Random random;
    std::vector<std::uint32_t> pixels;
    MapCanvas canvas;
    MapColors colors;
};

// A map of side x side cells from the presets and seed 42, past its first generation, kept the
// way the batch generator keeps generations.
struct LargeRun {
    LargeRun(int side, Flows flows, int threads, FlowWalk walk = FlowWalk::Chunks)
        : map(side, side), engine(bestKernelLevel(), threads, FastEngine::kThreadedCells, walk) {
        applyPresets(settings);
        settings.xsize = settings.ysize = side;
        if (flows == Flows::Random) applyRandomFlows(settings);
        seedRun(random, settings, SeedChoice::of(42), clockSeconds);
        fillInitialLandmass(map, settings, random);
        generation(Untouched::KeepNext);
    }
    bool generation(Untouched untouched) {
        const bool changed = generationCycle(engine, map, settings, random, untouched, changes);
        std::swap(map.currentMap, map.nextMap);
        return changed;
    }

    Settings settings;
    MapState map;
    Random random;
    FastEngine engine;
    ChangeMask changes;
};

void countGenerations(benchmark::State& state) {
    state.counters["generations/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void referenceGeneration(benchmark::State& state, Flows flows) {
    Run run(flows);
    ReferenceEngine engine;
    for (auto _ : state) {
        generationCycle(engine, run.map, run.settings, run.random);
        engine.commitAndDraw(run.map, run.settings, run.canvas, run.colors);
        benchmark::DoNotOptimize(run.pixels.data());
    }
    countGenerations(state);
}

void fastGeneration(benchmark::State& state, Flows flows, KernelLevel level, FlowWalk walk = FlowWalk::Chunks) {
    if (!kernelLevelAvailable(level)) {
        state.SkipWithError("this processor lacks the instructions");
        return;
    }
    Run run(flows);
    FastEngine engine(level, 1, FastEngine::kThreadedCells, walk);
    for (auto _ : state) {
        generationCycle(engine, run.map, run.settings, run.random);
        engine.commitAndDraw(run.map, run.settings, run.canvas, run.colors);
        benchmark::DoNotOptimize(run.pixels.data());
    }
    countGenerations(state);
}

// The parts of a fast generation on their own.
void fastRuleOnly(benchmark::State& state, Flows flows) {
    Run run(flows);
    FastEngine engine;
    for (auto _ : state) {
        engine.wrapBorder(run.map, run.settings);
        engine.computeGeneration(run.map, run.settings, run.random);
        benchmark::DoNotOptimize(run.map.nextMap.column(1));
    }
    countGenerations(state);
}

void fastCommitAndDrawOnly(benchmark::State& state) {
    Run run(Flows::Presets);
    FastEngine engine;
    for (auto _ : state) {
        run.map.phaseFlag = 1 - run.map.phaseFlag;
        engine.commitAndDraw(run.map, run.settings, run.canvas, run.colors);
        benchmark::DoNotOptimize(run.pixels.data());
    }
    countGenerations(state);
}

// What the presets make the rule draw per generation, 160,000 numbers, with nothing else done.
void mt19937Draws(benchmark::State& state) {
    std::mt19937 engine(42);
    for (auto _ : state) {
        std::uint32_t sum = 0;
        for (int i = 0; i < kSize * kSize; ++i) sum += static_cast<std::uint32_t>(engine());
        benchmark::DoNotOptimize(sum);
    }
    countGenerations(state);
}

constexpr int kLargeSide = 4096;

void batchGeneration(benchmark::State& state, int side, Flows flows, int threads, FlowWalk walk) {
    LargeRun run(side, flows, threads, walk);
    for (auto _ : state) benchmark::DoNotOptimize(run.generation(Untouched::FromCurrent));
    countGenerations(state);
}

void largeBatchGeneration(benchmark::State& state, Flows flows, int threads) {
    batchGeneration(state, kLargeSide, flows, threads, FlowWalk::Chunks);
}

void largeDrawnGeneration(benchmark::State& state, Flows flows, int threads) {
    LargeRun run(kLargeSide, flows, threads);
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(kLargeSide) * kLargeSide);
    const MapCanvas canvas{pixels.data(), kLargeSide, kLargeSide, kLargeSide, -1, -1};
    const MapColors colors = mapColors(run.settings);
    for (auto _ : state) {
        generationCycle(run.engine, run.map, run.settings, run.random);
        run.engine.commitAndDraw(run.map, run.settings, canvas, colors);
        benchmark::DoNotOptimize(pixels.data());
    }
    countGenerations(state);
}

// Threads share the work, so these are timed by the clock on the wall. The batch generator runs
// a 400 x 400 map with random flows on two threads. Each walk through the flow decisions side by
// side: chunks (the engine's) and pairs (cell to cell, two at a time, as before the chunks).
BENCHMARK_CAPTURE(batchGeneration, random_flows_400_2_threads_chunks, 400, Flows::Random, 2, FlowWalk::Chunks)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(batchGeneration, random_flows_400_2_threads_pairs, 400, Flows::Random, 2, FlowWalk::Pairs)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(batchGeneration, random_flows_400_1_thread_chunks, 400, Flows::Random, 1, FlowWalk::Chunks)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(batchGeneration, random_flows_400_1_thread_pairs, 400, Flows::Random, 1, FlowWalk::Pairs)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(batchGeneration, random_flows_4096_1_thread_chunks, kLargeSide, Flows::Random, 1, FlowWalk::Chunks)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(batchGeneration, random_flows_4096_1_thread_pairs, kLargeSide, Flows::Random, 1, FlowWalk::Pairs)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(batchGeneration, random_flows_4096_2_threads_chunks, kLargeSide, Flows::Random, 2, FlowWalk::Chunks)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(batchGeneration, random_flows_4096_2_threads_pairs, kLargeSide, Flows::Random, 2, FlowWalk::Pairs)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(largeBatchGeneration, presets_4096_1_thread, Flows::Presets, 1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(largeBatchGeneration, presets_4096_2_threads, Flows::Presets, 2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(largeDrawnGeneration, presets_4096_1_thread, Flows::Presets, 1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(largeDrawnGeneration, presets_4096_2_threads, Flows::Presets, 2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(largeDrawnGeneration, random_flows_4096_1_thread, Flows::Random, 1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(largeDrawnGeneration, random_flows_4096_2_threads, Flows::Random, 2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_CAPTURE(referenceGeneration, presets, Flows::Presets)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(fastGeneration, presets, Flows::Presets, bestKernelLevel())->Unit(benchmark::kMicrosecond);
BENCHMARK(mt19937Draws)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(fastGeneration, presets_avx2, Flows::Presets, KernelLevel::Avx2)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(fastGeneration, presets_sse2, Flows::Presets, KernelLevel::Sse2)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(fastGeneration, presets_portable, Flows::Presets, KernelLevel::Portable)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(fastRuleOnly, presets, Flows::Presets)->Unit(benchmark::kMicrosecond);
BENCHMARK(fastCommitAndDrawOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(referenceGeneration, random_flows, Flows::Random)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(fastGeneration, random_flows_chunks, Flows::Random, bestKernelLevel(), FlowWalk::Chunks)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(fastGeneration, random_flows_pairs, Flows::Random, bestKernelLevel(), FlowWalk::Pairs)
    ->Unit(benchmark::kMicrosecond);
// Each kernel level with the walk it uses by default (pairs without a byte shuffle).
BENCHMARK_CAPTURE(fastGeneration, random_flows_avx2, Flows::Random, KernelLevel::Avx2, bestFlowWalk(KernelLevel::Avx2))
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(fastGeneration, random_flows_sse2, Flows::Random, KernelLevel::Sse2, bestFlowWalk(KernelLevel::Sse2))
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(fastGeneration, random_flows_portable, Flows::Random, KernelLevel::Portable,
                  bestFlowWalk(KernelLevel::Portable))
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(fastRuleOnly, random_flows, Flows::Random)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace orv
