// orvandel-world-figures: grows worlds for a range of seeds, exactly as orvandel-batch grows
// them for the same seed, size and settings, and prints their figures against what a world
// should look like; on request it also draws each world as a small picture.
//
//   orvandel-world-figures [--size WxH] [--seeds FIRST..LAST] [--continents N] [--landshare P]
//                          [--coastroughness R] [--islands I] [--margins MX MY]
//                          [--compare KEY=VALUE] [--generations N] [--threads N]
//                          [--picture PREFIX] [--picture-size PIXELS] [--no-distances]
//
// For every world: the land share; the continents (land masses of at least 5 % of the land)
// and the largest's share of the land; the coastline's box-counting dimension per octave from
// 4 to 64 cells; Korcak's exponent of the islands' sizes in three bands from 16 cells to 1 % of
// the map; the median distance of an island to the nearest continent against that of a sea
// cell; land on the first and last column and row inside the margins; the coast's edges on
// lines at multiples of 32 cells and in straight runs of 8 or more (against the same world
// turned by 30 degrees, whose straight runs are those of chance); with --compare, the share of
// the continents' cells the world keeps when one setting changes. Then a summary over the seeds
// with the goals, and the exit status: 0 when every goal that applies to the settings is met.
//
// --generations N makes each map whole as orvandel-batch --generations N does and checks that
// the world it grew is the one measured (the same heights, bit for bit).
//
// Defaults: 4096x4096, seeds 1..20, continents 5 and the presets of the other settings.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "WorldMeasures.hpp"
#include "map/GenerateMap.hpp"
#include "rng/Random.hpp"
#include "settings/SettingsFile.hpp"
#include "sim/Simulation.hpp"

namespace {

using namespace orv;
using namespace orv::measures;

constexpr double kLeastDimension = 1.2, kMostDimension = 1.3;  // per octave, at coastroughness 50
constexpr double kLeastKorcak = 0.5, kMostKorcak = 0.7;        // islands from 16 cells to 1 % of the map
constexpr double kIslandsNearer = 0.5;                         // median island distance / sea cell's
constexpr double kLeastOverlap = 0.95;                         // with --compare
constexpr double kSnapChance = 1.0 / 32, kMostSnap = 1.5;      // edges on multiples of 32: chance, most
constexpr double kMostStraight = 1.25;                         // straight runs against the turned world

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

// The world drawn a block of cells to a pixel: the sea in blues by depth, the land from green
// through brown by height, a block that is part land and part sea in between.
bool writePicture(const std::string& name, const World& world, int pictureSize) {
    const int block = std::max(1, (std::max(world.width, world.height) + pictureSize - 1) / pictureSize);
    const int w = (world.width + block - 1) / block, h = (world.height + block - 1) / block;
    std::vector<double> land(static_cast<std::size_t>(w) * static_cast<std::size_t>(h)), all(land.size()),
        sum(land.size());
    for (int x = 0; x < world.width; ++x) {
        for (int y = 0; y < world.height; ++y) {
            const std::size_t p =
                static_cast<std::size_t>(y / block) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x / block);
            const std::int16_t v = world.at(x, y);
            land[p] += world.land(x, y) ? 1 : 0;
            sum[p] += v == World::kMarginHeight ? -16384 : v;
            ++all[p];
        }
    }
    std::vector<std::uint8_t> raw;
    for (int y = 0; y < h; ++y) {
        raw.push_back(0);
        for (int x = 0; x < w; ++x) {
            const std::size_t p =
                static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x);
            const double share = land[p] / all[p], height = sum[p] / all[p];
            const double depth = std::clamp(-height / 16384, 0.0, 1.0), rise = std::clamp(height / 8192, 0.0, 1.0);
            const double sea[3] = {40 - 30 * depth, 110 - 80 * depth, 200 - 90 * depth};
            const double ground[3] = {70 + 110 * rise, 140 - 40 * rise, 60 + 10 * rise};
            for (int c = 0; c < 3; ++c)
                raw.push_back(static_cast<std::uint8_t>(std::lround(sea[c] * (1 - share) + ground[c] * share)));
        }
    }
    std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> header;
    putWord(header, static_cast<std::uint32_t>(w));
    putWord(header, static_cast<std::uint32_t>(h));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB
    putChunk(png, "IHDR", header);
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
                 "         [--compare KEY=VALUE] [--generations N] [--threads N]\n"
                 "         [--picture PREFIX] [--picture-size PIXELS] [--no-distances]\n");
    return 2;
}

bool readInt(const char* text, int& value) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < -2147483647L || v > 2147483647L) return false;
    value = static_cast<int>(v);
    return true;
}

// The world orvandel-batch --seed SEED grows: the seeding step, then the world.
World growAsTheBatch(const Settings& settings, std::int32_t seed, int threads) {
    Settings s = settings;
    Random random;
    seedRun(random, s, SeedChoice::of(seed), clockSeconds);
    return *growWorld(s, MapSize{s.xsize, s.ysize}, random, threads);
}

// The whole map as orvandel-batch --generations N makes it, and whether its world is `world`.
bool batchKeepsTheWorld(const Settings& settings, std::int32_t seed, int generations, const World& world) {
    MapRequest request;
    request.settings = settings;
    request.seed = SeedChoice::of(seed);
    request.generations = generations;
    request.keepWorld = true;
    MapPicture picture;
    const MapResult result = generateMap(request, picture);
    if (!result.heights || result.heights->heights != world.heights) return false;
    // And the sea the map shows is the world's.
    for (int y = 0; y < world.height; ++y) {
        const std::uint8_t* classes = picture.classRow(y);
        for (int x = 0; x < world.width; ++x)
            if ((classes[x] == kClassSea) == world.land(x, y)) return false;
    }
    return true;
}

struct Range {
    double least = INFINITY, most = -INFINITY, sum = 0;
    int count = 0;
    void add(double v) {
        if (std::isnan(v)) return;
        least = std::min(least, v);
        most = std::max(most, v);
        sum += v;
        ++count;
    }
    double mean() const { return count > 0 ? sum / count : std::nan(""); }
    bool within(double low, double high) const { return least >= low && most <= high; }
};

}  // namespace

static int run(int argc, char** argv) {
    Settings settings;
    applyPresets(settings);
    settings.xsize = settings.ysize = 4096;
    settings.continents = 5;
    int firstSeed = 1, lastSeed = 20, pictureSize = 512, generations = -1, threads = 2;
    std::string picture, compare;
    bool distances = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool more = i + 1 < argc;
        if (arg == "--size" && more) {
            if (std::sscanf(argv[++i], "%dx%d", &settings.xsize, &settings.ysize) != 2) return usage();
        } else if (arg == "--seeds" && more) {
            if (std::sscanf(argv[++i], "%d..%d", &firstSeed, &lastSeed) != 2) return usage();
        } else if (arg == "--continents" && more) {
            if (!readInt(argv[++i], settings.continents)) return usage();
        } else if (arg == "--landshare" && more) {
            if (!readInt(argv[++i], settings.landshare)) return usage();
        } else if (arg == "--coastroughness" && more) {
            if (!readInt(argv[++i], settings.coastroughness)) return usage();
        } else if (arg == "--islands" && more) {
            if (!readInt(argv[++i], settings.islands)) return usage();
        } else if (arg == "--margins" && i + 2 < argc) {
            if (!readInt(argv[i + 1], settings.oceanedgesizex) || !readInt(argv[i + 2], settings.oceanedgesizey))
                return usage();
            i += 2;
        } else if (arg == "--compare" && more) {
            compare = argv[++i];
        } else if (arg == "--picture" && more) {
            picture = argv[++i];
        } else if (arg == "--generations" && more) {
            if (!readInt(argv[++i], generations) || generations < 0) return usage();
        } else if (arg == "--threads" && more) {
            if (!readInt(argv[++i], threads) || threads < 1) return usage();
        } else if (arg == "--picture-size" && more) {
            if (!readInt(argv[++i], pictureSize) || pictureSize < 1) return usage();
        } else if (arg == "--no-distances") {
            distances = false;
        } else {
            return usage();
        }
    }
    if (settings.xsize < 1 || settings.xsize > kMaxMapSide || settings.ysize < 1 || settings.ysize > kMaxMapSide ||
        lastSeed < firstSeed || settings.continents < 1)
        return usage();
    for (const ClampedSetting& c : clampToGrid(settings, kMaxMapSide, kMaxMapSide))
        std::fprintf(stderr, "orvandel-world-figures: %s\n", clampedMessage(c).c_str());
    Settings other = settings;
    if (!compare.empty()) {
        applySettingsItem(other, compare);
        if (other == settings) {
            std::fprintf(stderr, "orvandel-world-figures: --compare %s changes no setting\n", compare.c_str());
            return 2;
        }
        clampToGrid(other, kMaxMapSide, kMaxMapSide);
    }
    const int width = settings.xsize, height = settings.ysize;
    const int mx = std::clamp(settings.oceanedgesizex, 0, width), my = std::clamp(settings.oceanedgesizey, 0, height);
    const double cells = static_cast<double>(width) * height;

    std::printf("%dx%d continents %d landshare %d coastroughness %d islands %d margins %d %d%s%s\n", width, height,
                settings.continents, settings.landshare, settings.coastroughness, settings.islands, mx, my,
                compare.empty() ? "" : ", compared with ", compare.c_str());
    std::printf("%5s %6s %5s %6s  %-23s  %-17s %6s  %-11s %-15s %11s %5s %-11s %7s\n", "seed", "land%", "cont", "big%",
                "dimension 4-8..32-64", "korcak 16-256-4k-1%", "isl", "dist isl/sea", "margin cols rows", "overlap%",
                "x32%", "straight%", "ms");

    std::map<std::int64_t, int> counts;
    std::vector<Range> dims(4);
    Range korcakRange, overlapRange, distanceRatio;
    std::vector<std::int64_t> pooledIslands;
    double snapSum = 0, straightSum = 0, turnedSum = 0;
    MarginCounts marginSum;
    bool sameAsBatch = true;
    const std::int64_t worlds = std::int64_t{lastSeed} - firstSeed + 1;
    for (std::int64_t seed = firstSeed; seed <= lastSeed; ++seed) {
        const auto start = std::chrono::steady_clock::now();
        const World world = growAsTheBatch(settings, static_cast<std::int32_t>(seed), threads);
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        const Measured m(world);
        const WorldFigures& f = m.figures;
        ++counts[m.continents];
        const double land = static_cast<double>(f.landCells) / cells;
        const double largest =
            f.landCells ? static_cast<double>(f.largestLandMass()) / static_cast<double>(f.landCells) : 0;
        const std::vector<double> d = coastDimensions(world, 4, 4);
        for (std::size_t k = 0; k < d.size(); ++k) dims[k].add(d[k]);
        std::vector<std::int64_t> islands(
            f.landMasses.begin() +
                std::min<std::ptrdiff_t>(m.continents, static_cast<std::ptrdiff_t>(f.landMasses.size())),
            f.landMasses.end());
        pooledIslands.insert(pooledIslands.end(), islands.begin(), islands.end());
        const double top = 0.01 * cells;
        const double b1 = korcakExponent(islands, 16, 256), b2 = korcakExponent(islands, 256, 4096),
                     b3 = korcakExponent(islands, 4096, top), all = korcakExponent(islands, 16, top);
        korcakRange.add(all);
        Distances dist{std::nan(""), std::nan("")};
        if (distances) {
            dist = islandDistances(world, m);
            distanceRatio.add(dist.island / dist.sea);
        }
        const MarginCounts mc = marginCounts(world, mx, my);
        marginSum.firstColumn += mc.firstColumn;
        marginSum.lastColumn += mc.lastColumn;
        marginSum.firstRow += mc.firstRow;
        marginSum.lastRow += mc.lastRow;
        marginSum.firstColumns += mc.firstColumns;
        marginSum.lastColumns += mc.lastColumns;
        marginSum.firstRows += mc.firstRows;
        marginSum.lastRows += mc.lastRows;
        double overlap = std::nan("");
        if (!compare.empty()) {
            const World changed = growAsTheBatch(other, static_cast<std::int32_t>(seed), threads);
            overlap = continentOverlap(m, Measured(changed));
            overlapRange.add(overlap);
        }
        const EdgeFigures edges = edgeFigures(world);
        // The turned world, whose straight runs are those of chance, where the goal applies.
        const EdgeFigures chance =
            mx == 0 && my == 0 && settings.coastroughness == 0 ? edgeFigures(turned(world, 30)) : EdgeFigures{};
        snapSum += edges.onMultiplesOf32;
        straightSum += edges.inStraightRuns;
        turnedSum += chance.inStraightRuns;
        if (generations >= 0 && !batchKeepsTheWorld(settings, static_cast<std::int32_t>(seed), generations, world))
            sameAsBatch = false;
        std::printf(
            "%5lld %6.2f %5lld %6.1f  %5.2f %5.2f %5.2f %5.2f  %4.2f %4.2f %4.2f %4.2f %6zu  %5.1f %5.1f %3lld %3lld "
            "%3lld %3lld "
            "%11.2f %5.2f %5.2f/%5.2f %7.0f\n",
            static_cast<long long>(seed), 100 * land, static_cast<long long>(m.continents), 100 * largest, d[0], d[1],
            d[2], d[3], b1, b2, b3, all, islands.size(), dist.island, dist.sea, static_cast<long long>(mc.firstColumn),
            static_cast<long long>(mc.lastColumn), static_cast<long long>(mc.firstRow),
            static_cast<long long>(mc.lastRow), 100 * overlap, 100 * edges.onMultiplesOf32, 100 * edges.inStraightRuns,
            100 * chance.inStraightRuns, ms);
        if (!picture.empty()) {
            const std::string name = picture + "-" + std::to_string(seed) + ".png";
            if (!writePicture(name, world, pictureSize)) std::fprintf(stderr, "cannot write %s\n", name.c_str());
        }
    }

    // The summary and the goals that apply to these settings.
    bool met = true;
    auto goal = [&met](bool ok) {
        met = met && ok;
        return ok ? "met" : "MISSED";
    };
    const std::int64_t n = settings.continents;
    // The median count (the lower middle of an even number of worlds), and the worlds near n.
    std::int64_t within = 0, seen = 0, medianCount = -1;
    for (const auto& [count, times] : counts) {
        if (count >= n - 1 && count <= n + 1) within += times;
        seen += times;
        if (medianCount < 0 && 2 * seen >= worlds) medianCount = count;
    }
    std::printf("continents: median %lld, %lld of %lld worlds within %lld +- 1 (goal: median %lld, 80 %%): %s\n",
                static_cast<long long>(medianCount), static_cast<long long>(within), static_cast<long long>(worlds),
                static_cast<long long>(n), static_cast<long long>(n),
                goal(medianCount == n && 5 * within >= 4 * worlds));
    std::printf(
        "coastline dimension per octave (mean, least-most) 4-8 %.2f %.2f-%.2f, 8-16 %.2f %.2f-%.2f, 16-32 "
        "%.2f %.2f-%.2f, 32-64 %.2f %.2f-%.2f",
        dims[0].mean(), dims[0].least, dims[0].most, dims[1].mean(), dims[1].least, dims[1].most, dims[2].mean(),
        dims[2].least, dims[2].most, dims[3].mean(), dims[3].least, dims[3].most);
    if (settings.coastroughness == 50) {
        bool ok = true;
        for (const Range& r : dims) ok = ok && r.within(kLeastDimension, kMostDimension);
        std::printf(" (goal at coastroughness 50: every world %.1f-%.1f): %s", kLeastDimension, kMostDimension,
                    goal(ok));
    }
    std::printf("\n");
    const double top = 0.01 * cells;
    // The islands of all the worlds together, counted per world.
    const double pooled = korcakExponent(pooledIslands, 16, top);
    std::printf("islands larger than 16, 32, 64, ... cells, all worlds together:");
    for (double a = 16; a <= top; a *= 2)
        std::printf(" %lld",
                    static_cast<long long>(std::count_if(pooledIslands.begin(), pooledIslands.end(),
                                                         [a](std::int64_t s) { return static_cast<double>(s) > a; })));
    std::printf("\n");
    std::printf(
        "Korcak exponent of the islands 16 cells .. 1 %% of the map: %.2f-%.2f per world, %.2f of all worlds' "
        "islands together (bands %.2f %.2f %.2f)",
        korcakRange.least, korcakRange.most, pooled, korcakExponent(pooledIslands, 16, 256),
        korcakExponent(pooledIslands, 256, 4096), korcakExponent(pooledIslands, 4096, top));
    if (settings.coastroughness == 50 && settings.islands == 30)
        std::printf(" (goal %.1f-%.1f): %s", kLeastKorcak, kMostKorcak,
                    goal(pooled >= kLeastKorcak && pooled <= kMostKorcak));
    std::printf("\n");
    if (distances) {
        std::printf("median island distance over median sea cell distance to a continent: %.2f-%.2f",
                    distanceRatio.least, distanceRatio.most);
        if (settings.islands > 0)
            std::printf(" (goal at most %.1f): %s", kIslandsNearer, goal(distanceRatio.most <= kIslandsNearer));
        std::printf("\n");
    }
    if (mx > 0 || my > 0) {
        // Equal within noise: the two counts differ by no more than three standard deviations of
        // a count split evenly between them.
        auto even = [](std::int64_t a, std::int64_t b) {
            return static_cast<double>(std::llabs(a - b)) <= 3 * std::sqrt(static_cast<double>(a + b)) + 1;
        };
        std::printf(
            "land on the first and last columns %lld, %lld and rows %lld, %lld inside the margins (goal: "
            "equal within noise): %s\n",
            static_cast<long long>(marginSum.firstColumn), static_cast<long long>(marginSum.lastColumn),
            static_cast<long long>(marginSum.firstRow), static_cast<long long>(marginSum.lastRow),
            goal(even(marginSum.firstColumn, marginSum.lastColumn) && even(marginSum.firstRow, marginSum.lastRow)));
        std::printf(
            "land in the first and last eighth of the columns %lld, %lld and of the rows %lld, %lld inside the "
            "margins\n",
            static_cast<long long>(marginSum.firstColumns), static_cast<long long>(marginSum.lastColumns),
            static_cast<long long>(marginSum.firstRows), static_cast<long long>(marginSum.lastRows));
    }
    if (!compare.empty())
        std::printf("continents kept with %s: %.1f-%.1f %% (goal at least %.0f %%): %s\n", compare.c_str(),
                    100 * overlapRange.least, 100 * overlapRange.most, 100 * kLeastOverlap,
                    goal(overlapRange.least >= kLeastOverlap));
    const double snap = snapSum / static_cast<double>(worlds), straight = straightSum / static_cast<double>(worlds),
                 chance = turnedSum / static_cast<double>(worlds);
    std::printf("coast edges on multiples of 32 cells %.2f %% (chance %.2f %%), in straight runs of 8 or more %.2f %%",
                100 * snap, 100 * kSnapChance, 100 * straight);
    if (mx == 0 && my == 0 && settings.coastroughness == 0)
        std::printf(" (the world turned by 30 degrees: %.2f %%)", 100 * chance);
    if (settings.coastroughness == 0)
        std::printf(" (goal at coastroughness 0: at most %.1f x chance): %s", kMostSnap,
                    goal(snap <= kMostSnap * kSnapChance && (mx > 0 || my > 0 || straight <= kMostStraight * chance)));
    std::printf("\n");
    if (generations >= 0)
        std::printf("the same world as orvandel-batch --generations %d: %s\n", generations, goal(sameAsBatch));
    return met ? 0 : 1;
}

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "orvandel-world-figures: not enough memory for worlds of that size\n");
        return 1;
    }
}
