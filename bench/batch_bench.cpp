// Maps per second of orvandel-batch's seed ranges, the way the program runs them: seeds 1-200
// at 400 x 400 after 100 generations, written as PNG files or as statistics only, one map at a
// time with every file flushed to the disk on its own (as before batched flushes and parallel
// ranges) against maps made side by side and flushed together; and the whole 16384 x 16384 run.
// The files go to a scratch directory in the working directory, so that their flushes reach a
// real disk (a temporary directory may be held in memory).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app/Batch.hpp"
#include "rng/Random.hpp"
#include "settings/Seeding.hpp"

namespace {

class ScratchDir {
public:
    ScratchDir() {
        std::string pattern = (std::filesystem::current_path() / "orvandel-bench-batch-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~ScratchDir() { std::filesystem::remove_all(path_); }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

enum Outputs { kPng, kStats };

// state.range(0): --jobs (1: one map at a time; 0: one per processor); state.range(1): 1 to flush
// every file on its own.
void run(benchmark::State& state, Outputs outputs, const char* seeds, const char* size, long maps) {
    ScratchDir dir;
    const std::string pattern = (dir.path() / (outputs == kPng ? "{seed}.png" : "{seed}.json")).string();
    std::string error;
    std::optional<orv::BatchOptions> options =
        orv::parseBatchArguments({"--seed", seeds, "--size", size, "--generations", "100",
                                  outputs == kPng ? "--out" : "--stats", pattern, "--quiet"},
                                 error);
    if (!options) {
        state.SkipWithError(error.c_str());
        return;
    }
    options->jobs = static_cast<int>(state.range(0));
    options->flushEachFile = state.range(1) != 0;
    for (auto _ : state) {
        std::ostringstream out, err;
        if (orv::runBatch(*options, out, err, orv::clockSeconds, false) != 0) state.SkipWithError(err.str().c_str());
    }
    state.counters["maps_per_s"] =
        benchmark::Counter(static_cast<double>(maps * state.iterations()), benchmark::Counter::kIsRate);
}

void rangePng(benchmark::State& state) {
    run(state, kPng, "1-200", "400x400", 200);
}
void rangeStats(benchmark::State& state) {
    run(state, kStats, "1-200", "400x400", 200);
}
void bigMap(benchmark::State& state) {
    run(state, kPng, "1", "16384x16384", 1);
}

// {jobs, flush each file}: the old path first, then each change alone, then both.
void ranges(benchmark::internal::Benchmark* b) {
    b->ArgNames({"jobs", "flush_each_file"});
    for (const auto& args : std::vector<std::vector<std::int64_t>>{{1, 1}, {1, 0}, {0, 1}, {0, 0}}) b->Args(args);
    b->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
}
BENCHMARK(rangePng)->Apply(ranges);
BENCHMARK(rangeStats)->Apply(ranges);
BENCHMARK(bigMap)
    ->ArgNames({"jobs", "flush_each_file"})
    ->Args({1, 1})
    ->Args({0, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

}  // namespace
