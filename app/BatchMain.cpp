// orvandel-batch: generates maps of any size without a window.
#include <unistd.h>

#include <iostream>

#include "app/Batch.hpp"
#include "export/SafeWrite.hpp"
#include "rng/Random.hpp"

int main(int argc, char** argv) {
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
