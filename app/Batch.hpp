#pragma once

#include <functional>
#include <iosfwd>

#include "app/BatchOptions.hpp"
#include "io/SafeWrite.hpp"

namespace orv {

// Runs a whole call: the settings (or the recipe of --from), every seed, its outputs, messages
// on err (and on out, unless an output goes there). Returns the exit status: 0, 1 when a file
// cannot be read or written or memory runs out, 2 when two outputs name one file. clock is
// what a clock seed reads; files is what every output is written through.
int runBatch(const BatchOptions& options, std::ostream& out, std::ostream& err, const std::function<double()>& clock,
             bool stderrIsTerminal, FileSystem& files = realFileSystem());

}  // namespace orv
