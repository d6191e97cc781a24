// orvandel-world-figures: grows worlds for a range of seeds and prints their figures (land
// share, land masses, the largest sea), checked against what a world should look like; on
// request it also writes each world as a small picture.
//
//   orvandel-world-figures [--size WxH] [--seeds FIRST..LAST] [--continents N] [--landshare P]
//                          [--coastroughness R] [--islands I] [--margins MX MY]
//                          [--picture PREFIX] [--picture-size PIXELS] [--generations N]
//
// With --generations the whole map is made as orvandel-batch --seed S --set continents=N ...
// --generations N makes it (the world, then the classic rule run N generations on it) and the
// figures are those of its final classes, every cell but the sea taken as land.
//
// Defaults: 4096x4096, seeds 1..20, continents 7 and the presets of the other settings: the
// default world at that size. Exit status 0 when every world meets every goal, 1 otherwise.
//
// --picture draws each world's land and sea alone (a 4096 x 4096 world drawn 512 pixels wide).
// The README's pictures of whole worlds, docs/world-*.png, are made by orvandel-batch.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include "rng/Random.hpp"
#include "sim/GenerateMap.hpp"
#include "world/WorldFigures.hpp"
#include "world/WorldPyramid.hpp"

namespace {

using namespace orv;

// The goals a world of the default settings meets at 4096 x 4096.
constexpr double kLeastLargestMass = 0.25;  // of all land
constexpr std::int64_t kFewestMasses = 2, kMostMasses = 40;
constexpr double kMassShare = 0.001;      // of the map: masses this large are counted
constexpr double kLeastLargestSea = 0.8;  // of all sea
constexpr double kLeastLand = 0.2, kMostLand = 0.6;

void putWord(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<std::uint8_t>(v >> s));
}

void putChunk(std::vector<std::uint8_t>& out, const char* type, const std::vector<std::uint8_t>& data) {
    putWord(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t from = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    putWord(out, static_cast<std::uint32_t>(crc32(0, out.data() + from, static_cast<uInt>(out.size() - from))));
}

// The world drawn in the program's water and land colours, a block of cells to a pixel, the
// block's share of land shown in five steps between the two.
bool writePicture(const std::string& name, const WorldMask& mask, int pictureSize) {
    const int block = std::max(1, (std::max(mask.width, mask.height) + pictureSize - 1) / pictureSize);
    const int w = (mask.width + block - 1) / block, h = (mask.height + block - 1) / block;
    std::vector<std::uint32_t> land(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    std::vector<std::uint32_t> all(land.size());
    for (int x = 0; x < mask.width; ++x) {
        const std::uint8_t* col = mask.column(x);
        for (int y = 0; y < mask.height; ++y) {
            const std::size_t p =
                static_cast<std::size_t>(y / block) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x / block);
            land[p] += col[y];
            ++all[p];
        }
    }
    std::vector<std::uint8_t> raw;
    raw.reserve(static_cast<std::size_t>(w + 1) * static_cast<std::size_t>(h));
    for (int y = 0; y < h; ++y) {
        raw.push_back(0);
        for (int x = 0; x < w; ++x) {
            const std::size_t p =
                static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x);
            raw.push_back(static_cast<std::uint8_t>((land[p] * 4 + all[p] / 2) / all[p]));
        }
    }
    std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> header;
    putWord(header, static_cast<std::uint32_t>(w));
    putWord(header, static_cast<std::uint32_t>(h));
    header.insert(header.end(), {8, 3, 0, 0, 0});  // 8-bit palette indices
    putChunk(png, "IHDR", header);
    std::vector<std::uint8_t> palette;
    const int sea[3] = {0x00, 0x00, 0xAA}, ground[3] = {0xAA, 0x55, 0x00};
    for (int k = 0; k <= 4; ++k)
        for (int c = 0; c < 3; ++c)
            palette.push_back(static_cast<std::uint8_t>((sea[c] * (4 - k) + ground[c] * k) / 4));
    putChunk(png, "PLTE", palette);
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::vector<std::uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 9) != Z_OK) return false;
    packed.resize(packedSize);
    putChunk(png, "IDAT", packed);
    putChunk(png, "IEND", {});
    // Only a new file or a regular one is written: never a device or a pipe given by mistake.
    std::error_code error;
    const auto status = std::filesystem::status(name, error);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) return false;
    std::ofstream file(name, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    return static_cast<bool>(file);
}

int usage() {
    std::fprintf(stderr,
                 "usage: orvandel-world-figures [--size WxH] [--seeds FIRST..LAST] [--continents N]\n"
                 "         [--landshare P] [--coastroughness R] [--islands I] [--margins MX MY]\n"
                 "         [--picture PREFIX] [--picture-size PIXELS] [--generations N]\n");
    return 2;
}

bool readInt(const char* text, int& value) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < -2147483647L || v > 2147483647L) return false;
    value = static_cast<int>(v);
    return true;
}

// The whole map as orvandel-batch makes it, read back from its classes: 1 for every cell but the
// sea. (Its draws are the map's own: the draws column shows 0.)
WorldMask wholeMap(std::int64_t seed, int width, int height, int marginX, int marginY, const WorldParameters& p,
                   int generations) {
    MapRequest request;
    applyPresets(request.settings);
    request.settings.xsize = width;
    request.settings.ysize = height;
    request.settings.oceanedgesizex = marginX;
    request.settings.oceanedgesizey = marginY;
    request.settings.continents = p.continents;
    request.settings.landshare = p.landshare;
    request.settings.coastroughness = p.coastroughness;
    request.settings.islands = p.islands;
    request.seed = SeedChoice::of(static_cast<std::int32_t>(seed));
    request.generations = generations;
    MapPicture picture;
    generateMap(request, picture);
    WorldMask seen{width, height,
                   std::vector<std::uint8_t>(static_cast<std::size_t>(width) * static_cast<std::size_t>(height))};
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* classes = picture.classRow(y);
        for (int x = 0; x < width; ++x) seen.cells[seen.index(x, y)] = classes[x] != kClassSea ? 1 : 0;
    }
    return seen;
}

}  // namespace

static int run(int argc, char** argv) {
    int width = 4096, height = 4096, firstSeed = 1, lastSeed = 20, marginX = 0, marginY = 0, pictureSize = 512;
    int generations = -1;  // -1: the world alone
    WorldParameters parameters;
    parameters.continents = 7;
    std::string picture;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool more = i + 1 < argc;
        if (arg == "--size" && more) {
            if (std::sscanf(argv[++i], "%dx%d", &width, &height) != 2) return usage();
        } else if (arg == "--seeds" && more) {
            if (std::sscanf(argv[++i], "%d..%d", &firstSeed, &lastSeed) != 2) return usage();
        } else if (arg == "--continents" && more) {
            if (!readInt(argv[++i], parameters.continents)) return usage();
        } else if (arg == "--landshare" && more) {
            if (!readInt(argv[++i], parameters.landshare)) return usage();
        } else if (arg == "--coastroughness" && more) {
            if (!readInt(argv[++i], parameters.coastroughness)) return usage();
        } else if (arg == "--islands" && more) {
            if (!readInt(argv[++i], parameters.islands)) return usage();
        } else if (arg == "--margins" && i + 2 < argc) {
            if (!readInt(argv[i + 1], marginX) || !readInt(argv[i + 2], marginY)) return usage();
            i += 2;
        } else if (arg == "--picture" && more) {
            picture = argv[++i];
        } else if (arg == "--generations" && more) {
            if (!readInt(argv[++i], generations) || generations < 0) return usage();
        } else if (arg == "--picture-size" && more) {
            if (!readInt(argv[++i], pictureSize) || pictureSize < 1) return usage();
        } else {
            return usage();
        }
    }
    if (width < 1 || width > 65536 || height < 1 || height > 65536 || lastSeed < firstSeed) return usage();

    std::printf("%dx%d continents %d landshare %d coastroughness %d islands %d margins %d %d", width, height,
                parameters.continents, parameters.landshare, parameters.coastroughness, parameters.islands, marginX,
                marginY);
    if (generations >= 0) std::printf(", whole maps after %d generations", generations);
    std::printf("\n");
    std::printf("%6s %7s %13s %7s %12s %6s %9s %8s\n", "seed", "land%", "largest/land%", "masses", "largest sea%",
                "seas", "draws", "ms");
    std::int64_t met = 0;
    double slowest = 0;
    const std::int64_t worlds = std::int64_t{lastSeed} - firstSeed + 1;
    for (std::int64_t seed = firstSeed; seed <= lastSeed; ++seed) {
        Random random;
        random.seedRandom(static_cast<double>(seed));
        const auto start = std::chrono::steady_clock::now();
        const WorldMask mask = generations >= 0
                                   ? wholeMap(seed, width, height, marginX, marginY, parameters, generations)
                                   : buildWorld(random, width, height, marginX, marginY, parameters);
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        slowest = std::max(slowest, ms);
        const WorldFigures f = measureWorld(mask);
        const double land = static_cast<double>(f.landCells) / static_cast<double>(f.cells);
        const double largest =
            f.landCells ? static_cast<double>(f.largestLandMass()) / static_cast<double>(f.landCells) : 0;
        const double sea = f.seaCells ? static_cast<double>(f.largestSea()) / static_cast<double>(f.seaCells) : 0;
        const std::int64_t masses = f.landMassesOfAtLeast(kMassShare);
        const bool ok = largest >= kLeastLargestMass && masses >= kFewestMasses && masses <= kMostMasses &&
                        sea >= kLeastLargestSea && land >= kLeastLand && land <= kMostLand;
        met += ok ? 1 : 0;
        std::printf("%6lld %7.2f %13.2f %7lld %12.2f %6zu %9llu %8.1f%s\n", static_cast<long long>(seed), 100 * land,
                    100 * largest, static_cast<long long>(masses), 100 * sea, f.seas.size(),
                    static_cast<unsigned long long>(random.draws()), ms, ok ? "" : "  (misses a goal)");
        if (!picture.empty()) {
            const std::string name = picture + "-" + std::to_string(seed) + ".png";
            if (!writePicture(name, mask, pictureSize)) std::fprintf(stderr, "cannot write %s\n", name.c_str());
        }
    }
    std::printf(
        "%lld of %lld worlds meet every goal (largest mass >= %.0f%% of land, %lld..%lld masses of >= %.1f%% "
        "of the map, largest sea >= %.0f%% of sea, land %.0f..%.0f%%); slowest world %.1f ms\n",
        static_cast<long long>(met), static_cast<long long>(worlds), 100 * kLeastLargestMass,
        static_cast<long long>(kFewestMasses), static_cast<long long>(kMostMasses), 100 * kMassShare,
        100 * kLeastLargestSea, 100 * kLeastLand, 100 * kMostLand, slowest);
    return met == worlds ? 0 : 1;
}

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "orvandel-world-figures: not enough memory for worlds of that size\n");
        return 1;
    }
}
