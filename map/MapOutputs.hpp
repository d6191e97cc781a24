#pragma once

// Everything that can be written of a map, in one table: the batch's options and help, the
// library's Map::write and the Python module's save methods all come from it, so that a new
// output is one row here and its writer.

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

#include "io/ByteSink.hpp"
#include "io/SafeWrite.hpp"
#include "map/MadeMap.hpp"

namespace orv {

struct MapOutput {
    std::string_view name;    // "png": the output's name in the library, in Python and in the manifest
    std::string_view option;  // "--out": the batch's option
    std::string_view value;   // "FILE.png": what the batch's help shows for the option's value
    std::string_view help;    // the batch's help, lines split by "\n", at most 55 columns each
    std::string_view about;   // one line for the library's and Python's documentation
    // Writes the output into sink; no error when every byte went in. fileName is the name the
    // output is written under ("" for a stream), for outputs whose format follows it.
    std::error_code (*write)(MadeMap& map, ByteSink& sink, std::string_view fileName);
    // A world's output (its terrain), which a classic map has not got.
    bool needsWorld = false;
};

// The outputs, in the order the batch writes them.
std::span<const MapOutput> mapOutputs();
// The output of that name; nothing for an unknown name.
const MapOutput* findMapOutput(std::string_view name);
// "png, stats, grid": every output's name, for messages that list them.
std::string mapOutputNames();

// Why an output cannot be written of a map with these settings: "--atlas needs a world:
// continents is 0 (set continents to 1 or more)"; nothing when it can.
std::optional<std::string> outputProblem(const MapOutput& output, const Settings& settings, std::string_view name);

// Writes an output to a file by the output rules (io/SafeWrite.hpp); no error on success.
std::error_code writeMapOutput(const MapOutput& output, MadeMap& map, const std::filesystem::path& path,
                               FileSystem& files = realFileSystem(), Dash dash = Dash::isAFile);

}  // namespace orv
