// The cost of saving a map: encoding a 400 x 400 map as PNG, and writing the file safely
// (temporary file, flush to disk, rename) against overwriting it in place. And the batch
// generator's 16384 x 16384 picture written as a paletted PNG row by row, deflated by zlib at
// its default level in one stream on one thread (as before bands) and in bands on several
// threads, with each file's size.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/KeyScript.hpp"
#include "app/Program.hpp"
#include "io/ParallelDeflate.hpp"
#include "io/PngStream.hpp"
#include "io/PngWriter.hpp"
#include "io/SafeWrite.hpp"
#include "map/GenerateMap.hpp"
#include "map/MapFiles.hpp"
#include "settings/Palette.hpp"
#include "ui/SaveDialogue.hpp"
#include "ui/Screen.hpp"

namespace {

// The map of a real run: presets, seed 7, 50 generations.
orv::ImageBuffer drawnMap() {
    orv::Screen screen;
    orv::KeyScript script = orv::KeyScript::parse(
        "key Up\nkey Enter\ntype 7\nkey Enter\nkey Enter\nwait 50\nkey x\nkey Enter\ntype no\nkey Enter\n");
    screen.setKeySource(&script);
    orv::Program program(screen, [] { return 1.0; });
    orv::runProgram(program);
    std::unique_ptr<orv::ImageBuffer> image =
        orv::createImage(orv::kWindowGridSize, orv::kWindowGridSize, 0xFF00FFFFu, 32);
    orv::captureRect(screen, orv::Screen::kMapOriginX + 1, orv::Screen::kMapOriginY + 1,
                     orv::Screen::kMapOriginX + orv::kWindowGridSize, orv::Screen::kMapOriginY + orv::kWindowGridSize,
                     image.get());
    return *image;
}

const orv::ImageBuffer& mapImage() {
    static const orv::ImageBuffer image = drawnMap();
    return image;
}

class ScratchDir {
public:
    ScratchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "orvandel-bench-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~ScratchDir() { std::filesystem::remove_all(path_); }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

void encodeMap(benchmark::State& state) {
    const orv::ImageBuffer& image = mapImage();
    std::size_t size = 0;
    for (auto _ : state) {
        std::vector<std::uint8_t> png = orv::encodePng(image);
        size = png.size();
        benchmark::DoNotOptimize(png.data());
    }
    state.counters["png_bytes"] = static_cast<double>(size);
}
BENCHMARK(encodeMap)->Unit(benchmark::kMillisecond);

// What saving costs the user: encoding plus the safe write.
void writePngFileSafely(benchmark::State& state) {
    const orv::ImageBuffer& image = mapImage();
    ScratchDir dir;
    for (auto _ : state) {
        if (orv::writePngFile(dir.path() / "map.png", &image)) state.SkipWithError("write failed");
    }
}
BENCHMARK(writePngFileSafely)->Unit(benchmark::kMillisecond);

// The same bytes written safely, and overwritten in place without a flush: the price of safety.
void writeBytesSafely(benchmark::State& state) {
    const std::vector<std::uint8_t> png = orv::encodePng(mapImage());
    ScratchDir dir;
    for (auto _ : state) {
        if (orv::writeFileSafely(dir.path() / "map.png", png)) state.SkipWithError("write failed");
    }
}
BENCHMARK(writeBytesSafely)->Unit(benchmark::kMillisecond);

void writeBytesInPlace(benchmark::State& state) {
    const std::vector<std::uint8_t> png = orv::encodePng(mapImage());
    ScratchDir dir;
    for (auto _ : state) {
        std::ofstream out(dir.path() / "map.png", std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
        out.close();
        if (!out) state.SkipWithError("write failed");
    }
}
BENCHMARK(writeBytesInPlace)->Unit(benchmark::kMillisecond);

// The batch generator's map of 16384 x 16384 cells: presets, seed 1, 100 generations. Made once
// (several seconds and about 600 MB).
struct BigMap {
    orv::Settings settings;
    orv::MapPicture picture;
};

BigMap& bigMap() {
    static BigMap map = [] {
        BigMap made;
        orv::applyPresets(made.settings);
        made.settings.xsize = made.settings.ysize = 16384;
        orv::MapRequest request;
        request.settings = made.settings;
        request.seed = orv::SeedChoice::of(1);
        request.colors = orv::mapColors(made.settings);
        orv::generateMap(request, made.picture);
        return made;
    }();
    return map;
}

void bigPng(benchmark::State& state, orv::DeflateOptions options) {
    BigMap& map = bigMap();
    const std::vector<std::uint32_t> palette = orv::mapPalette(map.picture.colors());
    ScratchDir dir;
    const std::filesystem::path path = dir.path() / "big.png";
    for (auto _ : state) {
        orv::SafeFile file(path);
        orv::PngStreamWriter png(file, 16384, 16384, palette, options);
        for (int y = 0; y < 16384 && png.ok(); ++y) png.writeRow(map.picture.row(y));
        if (!png.finish() || !file.commit()) state.SkipWithError("write failed");
    }
    state.counters["png_bytes"] = static_cast<double>(std::filesystem::file_size(path));
}

constexpr std::size_t kBand = std::size_t{1} << 20;
BENCHMARK_CAPTURE(bigPng, zlib_default_level_one_stream, orv::DeflateOptions::single())
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);
BENCHMARK_CAPTURE(bigPng, bands_rle, orv::DeflateOptions::bands())
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);
BENCHMARK_CAPTURE(bigPng, bands_rle_one_thread, orv::DeflateOptions{Z_BEST_SPEED, Z_RLE, 1, kBand})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);
BENCHMARK_CAPTURE(bigPng, bands_fastest_level, orv::DeflateOptions{Z_BEST_SPEED, Z_DEFAULT_STRATEGY, 0, kBand})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);
BENCHMARK_CAPTURE(bigPng, bands_default_level, orv::DeflateOptions{Z_DEFAULT_COMPRESSION, Z_DEFAULT_STRATEGY, 0, kBand})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);
// Drawing the rows, packing them and writing the file, with stored (not deflated) blocks.
BENCHMARK_CAPTURE(bigPng, rows_and_file_only, orv::DeflateOptions{Z_NO_COMPRESSION, Z_DEFAULT_STRATEGY, 1, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

}  // namespace
