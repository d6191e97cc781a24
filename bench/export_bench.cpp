// The cost of saving a map: encoding a 400 x 400 map as PNG, and writing the file safely
// (temporary file, flush to disk, rename) against overwriting it in place.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/KeyScript.hpp"
#include "app/Program.hpp"
#include "export/PngWriter.hpp"
#include "export/SafeWrite.hpp"
#include "export/SaveMap.hpp"
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
    std::unique_ptr<orv::ImageBuffer> image = orv::createImage(400, 400, 0xFF00FFFFu, 32);
    orv::captureRect(screen, 41, 41, 440, 440, image.get());
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

}  // namespace
