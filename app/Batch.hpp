#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>

#include "app/BatchOptions.hpp"
#include "io/SafeWrite.hpp"

namespace orv {

// What a run asks of the clock: a reading for the bit pattern of the seed prompt's -1 (which a
// recipe cannot name, but a settings file's erosionseed can), and a fresh seed for --seed clock.
struct BatchClock {
    std::function<double()> reading;
    std::function<std::int32_t()> seed;
    static BatchClock system();  // the system's clocks
};

// Runs a whole call: the settings (or the recipe of --from), every seed, its outputs, messages
// on err (and on out, unless an output goes there). Returns the exit status: 0, 1 when a file
// cannot be read or written or memory runs out, 2 when two files of the run would meet (two
// outputs, or an output and the manifest or an input). files is what every output is written
// through.
int runBatch(const BatchOptions& options, std::ostream& out, std::ostream& err, const BatchClock& clock,
             bool stderrIsTerminal, FileSystem& files = realFileSystem());

}  // namespace orv
