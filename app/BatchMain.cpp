// orvandel-batch: generates maps of any size without a window.
#include <malloc.h>
#include <unistd.h>

#include <iostream>

#include "app/Batch.hpp"
#include "io/SafeWrite.hpp"
#include "rng/Random.hpp"
#include "settings/Seeding.hpp"

int main(int argc, char** argv) {
#if defined(M_MMAP_THRESHOLD) && defined(M_TRIM_THRESHOLD)
    // A range makes map after map of the same size: their grids are kept for the next map
    // instead of being handed back to the system and faulted in afresh (a fifth of the
    // processor time of 400 x 400 maps). Only grids of 32 MiB and more are mapped on their own.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
#endif
    orv::prepareSignalsForWriting();
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    const std::optional<orv::BatchOptions> options = orv::parseBatchArguments(args, error);
    if (!options) {
        std::cerr << "orvandel-batch: " << error << "\n(orvandel-batch --help tells how to use it)\n";
        return 2;
    }
    const int status = orv::runBatch(*options, std::cout, std::cerr, orv::clockSeconds, isatty(STDERR_FILENO) != 0);
    std::cout.flush();
    return status;
}
