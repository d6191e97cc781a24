// What the speed setting means in time: the pause after every generation is 1000 x speed empty
// steps, with a look for a waiting key every 2^16 steps (as the window program makes it).
#include <benchmark/benchmark.h>

#include <cstdint>

#include "ui/Interaction.hpp"
#include "ui/Screen.hpp"

namespace {

void pauseOf(benchmark::State& state) {
    orv::Screen screen;  // no key ever waits: every step is taken
    const auto speed = static_cast<std::int32_t>(state.range(0));
    for (auto _ : state) orv::speedDelay(speed, [&screen] { return screen.keyWaiting(); });
    state.SetItemsProcessed(state.iterations() * 1000 * state.range(0));  // steps per second
}
// Wall-clock time: that is what the pause is to the user (it equals the processor time when the
// processor is not shared).
BENCHMARK(pauseOf)->Arg(1)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
