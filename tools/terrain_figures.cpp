// orvandel-terrain-figures: makes the terrain of worlds for a range of seeds and prints the
// figures of a real landscape, each against its goal:
//
//   drains     land cells whose flow reaches the sea or a lake, and cells in a cycle (goal 100 %, 0)
//   hack       Hack's exponent: main-stream length against area over basins of 1000 cells or
//              more, fitted in logarithms (goal 0.5 .. 0.6), and how many such basins
//   horton     Horton's bifurcation ratio over Strahler orders 3 to 5 (goal 3 .. 5)
//   lakes      lakes' share of the land (goal 1 .. 5 %)
//   median/mean  the land's median height below its mean (skewed low, as on the Earth)
//   far        how much farther from the sea the highest 1 % of land lies than the land on
//              average (goal at least 3); best: what it would be were the highest 1 % the
//              farthest 1 %, the most that world's coasts allow
//   seam       mean height step across the wrap over that across the eight lines on either side,
//              by columns and rows, with the share of those lines whose steps are smaller (a seam
//              would stand at 0 or 1); and river steps across the wrap over those across the same
//              sixteen lines, each per cell of land the line crosses. Goal: the ratios within
//              0.8 .. 1.25, and their mean over the seeds within 0.1 of 1.
//   alike      correlation of the heights with those of the same world at --compare size, the
//              larger shrunk to the smaller (goal at least 0.8)
//   secs, B/cel  the time the terrain took, and the most memory it held beyond the world, in
//              bytes a cell (resident, as Linux counts it; the upstream areas kept for the figures)
//
//   orvandel-terrain-figures [--size WxH] [--seeds FIRST..LAST] [--relief R] [--rivers R]
//                            [--compare SIDE] [--synthetic] [--blobs] [--files PREFIX]
//
// Defaults: 4096x4096, seeds 1..20, relief 50 and rivers 70 (the presets), compared at 1024. The
// world is the one `orvandel-batch --set continents=5` makes for the seed (100 generations), its
// heights read where they lie; --synthetic takes a synthetic one instead (SyntheticWorld.hpp:
// fractal noise as the world's field, the automaton run 100 generations on its land; --blobs
// puts a cheap texture in the automaton's place). --files writes each terrain's files as
// PREFIX-SEED-heights.png, -terrain.npy, -atlas.png, -rivers.geojson and -stats.json. Exit status
// 0 when every terrain meets every goal, 1 otherwise.
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "SyntheticWorld.hpp"
#include "io/SafeWrite.hpp"
#include "map/GenerateMap.hpp"
#include "settings/Palette.hpp"
#include "terrain/TerrainFiles.hpp"

namespace {

using namespace orv;

struct Options {
    int width = 4096, height = 4096;
    int first = 1, last = 20;
    int continents = 5;
    int relief = TerrainOptions{}.relief, rivers = TerrainOptions{}.rivers;  // the presets
    int compare = 1024;
    bool synthetic = false, blobs = false;
    std::string files;
};

// A world and the automaton's last map on it, as the terrain is made from them.
struct Source {
    int width = 0, height = 0;
    // The world orvandel-batch --seed SEED --size WxH --set continents=N makes, and its picture.
    std::shared_ptr<const World> world;
    std::unique_ptr<MapPicture> picture;
    // Or a synthetic one.
    SyntheticWorld synthetic;

    WorldField field() const { return world ? columnField(width, height, world->heights) : synthetic.world(); }
    ClassRows classRows() const {
        if (!world) return synthetic.classRows();
        MapPicture* p = picture.get();
        return [p](int y) { return p->classRow(y); };
    }
};

// The world a seed gives at a size: the one place the figures take their input from.
Source worldFor(std::uint32_t seed, int width, int height, const Options& options) {
    Source source;
    source.width = width;
    source.height = height;
    if (options.synthetic) {
        source.synthetic = syntheticWorld(seed, width, height, !options.blobs);
        return source;
    }
    Settings settings;
    applyPresets(settings);
    settings.xsize = width;
    settings.ysize = height;
    settings.continents = options.continents;
    MapRequest request;
    request.settings = settings;
    request.seed = SeedChoice::of(static_cast<std::int32_t>(seed));
    request.colors = mapColors(settings);
    request.keepWorld = true;
    source.picture = std::make_unique<MapPicture>();
    source.world = generateMap(request, *source.picture).heights;
    if (!source.world) throw std::runtime_error("the map is no world");
    return source;
}

struct Figures {
    double drains = 0;
    std::int64_t cycles = 0;
    double hack = 0;
    std::int64_t hackBasins = 0;
    double horton = 0;
    std::vector<std::int64_t> streams;  // by order
    double lakes = 0;
    double median = 0, mean = 0;
    double far = 0, farBest = 0;
    double seamColumns = 0, seamRows = 0, riverSeam = 0;
    double seamColumnsRank = 0, seamRowsRank = 0;
    double alike = 0;
    double seconds = 0;
    double bytesPerCell = 0;  // resident at the peak beyond the world, upstream areas kept
};

std::size_t cellAt(const Terrain& t, int x, int y) {
    x = (x % t.width + t.width) % t.width;
    y = (y % t.height + t.height) % t.height;
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(t.width) + static_cast<std::size_t>(x);
}

std::size_t downstream(const Terrain& t, std::size_t i) {
    const int f = t.drainage.flow[i];
    const int x = static_cast<int>(i % static_cast<std::size_t>(t.width));
    const int y = static_cast<int>(i / static_cast<std::size_t>(t.width));
    return cellAt(t, x + kDirectionX[f], y + kDirectionY[f]);
}

// Follows the flow of every land cell in an order of its own (cells with no inflow first):
// the share of land taken, and the cells never taken (in a cycle, or draining into one).
void drainage(const Terrain& t, Figures& f) {
    const Drainage& d = t.drainage;
    const std::size_t n = t.heights.size();
    std::vector<std::uint8_t> inflows(n, 0);
    std::int64_t land = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (d.terrainAt(i) == kTerrainSea) continue;
        ++land;
        if (d.flow[i] != kNoFlow && d.terrainAt(downstream(t, i)) != kTerrainSea) ++inflows[downstream(t, i)];
    }
    std::deque<std::size_t> ready;
    for (std::size_t i = 0; i < n; ++i)
        if (d.terrainAt(i) != kTerrainSea && inflows[i] == 0) ready.push_back(i);
    std::int64_t taken = 0;
    while (!ready.empty()) {
        const std::size_t i = ready.front();
        ready.pop_front();
        ++taken;
        if (d.flow[i] == kNoFlow) continue;
        const std::size_t j = downstream(t, i);
        if (d.terrainAt(j) != kTerrainSea && --inflows[j] == 0) ready.push_back(j);
    }
    f.drains = land == 0 ? 1.0 : static_cast<double>(taken) / static_cast<double>(land);
    f.cycles = land - taken;
}

// Hack's law over the basins of the sea of at least 1000 cells: the main stream climbs from the
// mouth to the neighbour draining into it with the largest area, to where nothing drains in.
void hack(const Terrain& t, Figures& f) {
    const Drainage& d = t.drainage;
    double sx = 0, sy = 0, sxx = 0, sxy = 0, count = 0;
    for (std::size_t i = 0; i < t.heights.size(); ++i) {
        if (d.terrainAt(i) == kTerrainSea || d.flow[i] == kNoFlow || d.upstream[i] < 1000) continue;
        if (d.terrainAt(downstream(t, i)) != kTerrainSea) continue;
        double length = 0;
        for (std::size_t c = i;;) {
            const int x = static_cast<int>(c % static_cast<std::size_t>(t.width));
            const int y = static_cast<int>(c / static_cast<std::size_t>(t.width));
            std::size_t best = c;
            int step = 0;
            for (int k = 0; k < kDirections; ++k) {
                const std::size_t j = cellAt(t, x + kDirectionX[k], y + kDirectionY[k]);
                if (j == c || d.terrainAt(j) == kTerrainSea || d.flow[j] != oppositeDirection(k)) continue;
                if (best == c || d.upstream[j] > d.upstream[best]) {
                    best = j;
                    step = k;
                }
            }
            if (best == c) break;
            length += diagonalDirection(step) ? std::sqrt(2.0) : 1.0;
            c = best;
        }
        const double lx = std::log(static_cast<double>(d.upstream[i])), ly = std::log(std::max(1.0, length));
        sx += lx, sy += ly, sxx += lx * lx, sxy += lx * ly, ++count;
    }
    f.hackBasins = static_cast<std::int64_t>(count);
    f.hack = count < 2 ? 0 : (count * sxy - sx * sy) / (count * sxx - sx * sx);
}

void horton(const Terrain& t, Figures& f) {
    f.streams.assign(16, 0);
    for (const River& r : t.rivers) ++f.streams[static_cast<std::size_t>(r.order)];
    double product = 1;
    int ratios = 0;
    for (std::size_t k = 3; k < 5; ++k)
        if (f.streams[k + 1] > 0) {
            product *= static_cast<double>(f.streams[k]) / static_cast<double>(f.streams[k + 1]);
            ++ratios;
        }
    f.horton = ratios == 0 ? 0 : std::pow(product, 1.0 / ratios);
    while (f.streams.size() > 1 && f.streams.back() == 0) f.streams.pop_back();
}

// Heights and distances from the sea (king's moves, across the wrap).
void hypsometry(const Terrain& t, Figures& f) {
    const std::size_t n = t.heights.size();
    std::vector<std::uint32_t> distance(n, 0);
    std::vector<std::uint32_t> queue;
    for (std::size_t i = 0; i < n; ++i)
        if (t.heights[i] <= 0) queue.push_back(static_cast<std::uint32_t>(i));
    std::vector<std::uint8_t> seen(n, 0);
    for (std::uint32_t i : queue) seen[i] = 1;
    for (std::size_t k = 0; k < queue.size(); ++k) {
        const std::uint32_t c = queue[k];
        const int x = static_cast<int>(c % static_cast<std::uint32_t>(t.width));
        const int y = static_cast<int>(c / static_cast<std::uint32_t>(t.width));
        for (int d = 0; d < kDirections; ++d) {
            const std::size_t j = cellAt(t, x + kDirectionX[d], y + kDirectionY[d]);
            if (seen[j]) continue;
            seen[j] = 1;
            distance[j] = distance[c] + 1;
            queue.push_back(static_cast<std::uint32_t>(j));
        }
    }
    std::vector<std::pair<std::int16_t, std::uint32_t>> land;
    double sum = 0, distances = 0;
    for (std::size_t i = 0; i < n; ++i)
        if (t.heights[i] > 0) {
            land.emplace_back(t.heights[i], distance[i]);
            sum += t.heights[i];
            distances += distance[i];
        }
    if (land.empty()) return;
    std::sort(land.begin(), land.end());
    f.median = land[land.size() / 2].first;
    f.mean = sum / static_cast<double>(land.size());
    const std::size_t top = std::max<std::size_t>(1, land.size() / 100);
    double topDistances = 0;
    for (std::size_t k = land.size() - top; k < land.size(); ++k) topDistances += land[k].second;
    f.far = (topDistances / static_cast<double>(top)) / std::max(1e-9, distances / static_cast<double>(land.size()));
    // The most it could be on this land: the farthest 1 % in its place.
    std::vector<std::uint32_t> byDistance(land.size());
    for (std::size_t k = 0; k < land.size(); ++k) byDistance[k] = land[k].second;
    std::nth_element(byDistance.begin(), byDistance.end() - static_cast<std::ptrdiff_t>(top), byDistance.end());
    double farthest = 0;
    for (auto k = byDistance.end() - static_cast<std::ptrdiff_t>(top); k != byDistance.end(); ++k) farthest += *k;
    f.farBest = (farthest / static_cast<double>(top)) / std::max(1e-9, distances / static_cast<double>(land.size()));
}

// The mean height step across the wrap against that across the eight lines on either side of
// it, which cross the same land: a seam stands out against its neighbours (the share of them
// with smaller steps near 0 or 1, the ratio far from 1); and so for river steps.
void seams(const Terrain& t, Figures& f) {
    const auto step = [&t](int x0, int y0, int x1, int y1) {
        return std::abs(t.heights[cellAt(t, x0, y0)] - t.heights[cellAt(t, x1, y1)]);
    };
    const auto compare = [](const std::vector<double>& lines, double& ratio, double& rank) {
        // lines: the steps across each line, the last across the wrap
        const std::size_t n = lines.size();
        const double seam = lines.back();
        double sum = 0, below = 0, count = 0;
        for (std::size_t k = 1; k <= 8 && 2 * k < n; ++k)
            for (const std::size_t line : {k - 1, n - 1 - k}) {
                sum += lines[line];
                below += lines[line] < seam ? 1 : lines[line] == seam ? 0.5 : 0;
                ++count;
            }
        ratio = sum == 0 ? 1 : seam / (sum / count);
        rank = count == 0 ? 0.5 : below / count;
    };
    std::vector<double> columns(static_cast<std::size_t>(t.width), 0.0), rows(static_cast<std::size_t>(t.height), 0.0);
    for (int y = 0; y < t.height; ++y)
        for (int x = 0; x < t.width; ++x) {
            columns[static_cast<std::size_t>(x)] += step(x, y, x + 1, y);
            rows[static_cast<std::size_t>(y)] += step(x, y, x, y + 1);
        }
    compare(columns, f.seamColumns, f.seamColumnsRank);
    compare(rows, f.seamRows, f.seamRowsRank);
    // River steps across each line against the land beside it on both sides (cells of land or
    // river, pairs straddling the line): lines through the ocean carry no rivers, so the steps
    // are counted per cell of land the line crosses, and the wrap's rate set against that of the
    // lines beside it, which cross the same land.
    std::vector<double> riversX(columns.size(), 0.0), riversY(rows.size(), 0.0);
    std::vector<double> landX(columns.size(), 0.0), landY(rows.size(), 0.0);
    const auto dry = [&t](std::size_t i) {
        const TerrainClass c = t.drainage.terrainAt(i);
        return c == kTerrainLand || c == kTerrainRiver;
    };
    for (int y = 0; y < t.height; ++y)
        for (int x = 0; x < t.width; ++x) {
            if (!dry(cellAt(t, x, y))) continue;
            if (dry(cellAt(t, x + 1, y))) ++landX[static_cast<std::size_t>(x)];
            if (dry(cellAt(t, x, y + 1))) ++landY[static_cast<std::size_t>(y)];
        }
    for (const River& r : t.rivers)
        for (std::size_t k = 0; k + 1 < r.cells.size() || (k + 1 == r.cells.size() && r.end == River::End::river);
             ++k) {
            const int x = static_cast<int>(r.cells[k] % static_cast<std::uint32_t>(t.width));
            const int y = static_cast<int>(r.cells[k] / static_cast<std::uint32_t>(t.width));
            const int dx = kDirectionX[r.steps[k]], dy = kDirectionY[r.steps[k]];
            // The line crossed: the one after column x going east, before it going west.
            if (dx != 0) ++riversX[static_cast<std::size_t>(dx > 0 ? x : (x + t.width - 1) % t.width)];
            if (dy != 0) ++riversY[static_cast<std::size_t>(dy > 0 ? y : (y + t.height - 1) % t.height)];
        }
    const double seamRivers = riversX.back() + riversY.back(), seamLand = landX.back() + landY.back();
    double nearRivers = 0, nearLand = 0;
    for (const auto& [steps, land] : {std::pair{&riversX, &landX}, std::pair{&riversY, &landY}}) {
        const std::size_t n = steps->size();
        for (std::size_t k = 1; k <= 8 && 2 * k < n; ++k)
            for (const std::size_t line : {k - 1, n - 1 - k}) {
                nearRivers += (*steps)[line];
                nearLand += (*land)[line];
            }
    }
    f.riverSeam = nearRivers == 0 || seamLand == 0 ? 1 : (seamRivers / seamLand) / (nearRivers / nearLand);
}

double correlation(const Terrain& large, const Terrain& small) {
    const int fx = large.width / small.width, fy = large.height / small.height;
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0, n = 0;
    for (int y = 0; y < small.height; ++y)
        for (int x = 0; x < small.width; ++x) {
            double mean = 0;
            for (int v = 0; v < fy; ++v)
                for (int u = 0; u < fx; ++u) mean += large.heights[cellAt(large, fx * x + u, fy * y + v)];
            mean /= fx * fy;
            const double a = small.heights[cellAt(small, x, y)];
            sa += a, sb += mean, saa += a * a, sbb += mean * mean, sab += a * mean, ++n;
        }
    const double denominator = std::sqrt((saa - sa * sa / n) * (sbb - sb * sb / n));
    return denominator == 0 ? 0 : (sab - sa * sb / n) / denominator;
}

bool writeFiles(const std::string& prefix, int seed, const Terrain& t) {
    const std::string base = prefix + "-" + std::to_string(seed) + "-";
    const TextChunks texts = {{"Software", "orvandel-terrain-figures"}, {"Orvandel seed", std::to_string(seed)}};
    bool ok = true;
    const auto write = [&ok](const std::string& name, auto writer) {
        SafeFile file(name);
        if (writer(file) || !file.commit()) {
            std::fprintf(stderr, "could not write %s: %s\n", name.c_str(), writeErrorReason(file.error()).c_str());
            ok = false;
        }
    };
    write(base + "heights.png", [&](SafeFile& f) { return writeHeightsPng(f, t, texts); });
    write(base + "terrain.npy", [&](SafeFile& f) { return writeTerrainNpy(f, t); });
    write(base + "atlas.png", [&](SafeFile& f) { return writeAtlasPng(f, t, texts); });
    ok = !writeFileSafely(base + "rivers.geojson", riversGeoJson(t)) && ok;
    ok = !writeFileSafely(base + "stats.json", "{\"terrain\": " + terrainStatsJson(t) + "}\n") && ok;
    return ok;
}

// A line of /proc/self/status in kibibytes ("VmRSS:", "VmHWM:"), or -1.
long statusKiB(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + field.size());
    return -1;
}

bool parseKnob(const char* text, int& value) {
    char end = 0;
    return std::sscanf(text, "%d%c", &value, &end) == 1 && value >= 0 && value <= 100;
}

bool parseRange(const char* text, int& first, int& last) {
    return std::sscanf(text, "%d..%d", &first, &last) == 2 && first <= last;
}

bool figures(const Options& o);

int usage() {
    std::fprintf(stderr,
                 "usage: orvandel-terrain-figures [--size WxH] [--seeds FIRST..LAST] [--continents N]\n"
                 "                                [--relief R] [--rivers R] [--compare SIDE]\n"
                 "                                [--synthetic] [--blobs] [--files PREFIX]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool more = i + 1 < argc;
        if (arg == "--size" && more) {
            if (std::sscanf(argv[++i], "%dx%d", &o.width, &o.height) != 2) return usage();
        } else if (arg == "--seeds" && more) {
            if (!parseRange(argv[++i], o.first, o.last)) return usage();
        } else if (arg == "--relief" && more) {
            if (!parseKnob(argv[++i], o.relief)) return usage();
        } else if (arg == "--rivers" && more) {
            if (!parseKnob(argv[++i], o.rivers)) return usage();
        } else if (arg == "--compare" && more) {
            o.compare = std::atoi(argv[++i]);
        } else if (arg == "--continents" && more) {
            o.continents = std::atoi(argv[++i]);
            if (o.continents < 1 || o.continents > 16) return usage();
        } else if (arg == "--synthetic") {
            o.synthetic = true;
        } else if (arg == "--blobs") {
            o.synthetic = o.blobs = true;
        } else if (arg == "--files" && more) {
            o.files = argv[++i];
        } else {
            return usage();
        }
    }
    try {
        checkTerrainSize(o.width, o.height);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orvandel-terrain-figures: %s\n", e.what());
        return 2;
    }
    try {
        return figures(o) ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orvandel-terrain-figures: %s\n", e.what());
        return 1;
    }
}

namespace {

// The figures of every seed, and whether every goal is met.
bool figures(const Options& o) {
    const bool compare =
        o.compare > 0 && o.compare < o.width && o.width % o.compare == 0 && o.height % (o.width / o.compare) == 0;
    std::printf("%dx%d, relief %d, rivers %d, %s\n", o.width, o.height, o.relief, o.rivers,
                !o.synthetic ? ("continents " + std::to_string(o.continents) + ", 100 generations").c_str()
                : o.blobs    ? "synthetic, blobs for the automaton"
                             : "synthetic, the automaton run 100 generations");
    std::printf("%5s %8s %6s %6s %6s %6s %6s %7s %7s %6s %5s %11s %11s %7s %6s %6s %5s  %s\n", "seed", "drains",
                "cycles", "hack", "basins", "horton", "lakes%", "median", "mean", "far", "best", "seamX/rank",
                "seamY/rank", "rivSeam", "alike", "secs", "B/cel", "streams by order");
    bool good = true;
    std::vector<Figures> all;
    for (int seed = o.first; seed <= o.last; ++seed) {
        Figures f;
        const Source world = worldFor(static_cast<std::uint32_t>(seed), o.width, o.height, o);
        // The most memory the terrain takes beyond the world: the memory freed so far given back
        // (so that the terrain does not reuse it unseen), the resident peak set back to what is
        // resident before it is made (Linux's clear_refs), and read after.
        malloc_trim(0);
        std::ofstream("/proc/self/clear_refs") << "5";
        const long before = statusKiB("VmRSS:");
        const auto start = std::chrono::steady_clock::now();
        Terrain t = makeTerrain(world.field(), world.classRows(), TerrainOptions{o.relief, o.rivers, true});
        f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const long peak = statusKiB("VmHWM:");
        f.bytesPerCell = before < 0 || peak < 0 ? 0
                                                : static_cast<double>(peak - before) * 1024 /
                                                      (static_cast<double>(o.width) * static_cast<double>(o.height));
        drainage(t, f);
        hack(t, f);
        horton(t, f);
        const std::int64_t land = t.summary.cells - t.summary.classCells[kTerrainSea];
        f.lakes =
            land == 0 ? 0 : 100.0 * static_cast<double>(t.summary.classCells[kTerrainLake]) / static_cast<double>(land);
        hypsometry(t, f);
        seams(t, f);
        if (compare) {
            const int small = o.compare, smallHeight = o.height / (o.width / o.compare);
            const Source other = worldFor(static_cast<std::uint32_t>(seed), small, smallHeight, o);
            const Terrain s = makeTerrain(other.field(), other.classRows(), TerrainOptions{o.relief, o.rivers, false});
            f.alike = correlation(t, s);
        }
        if (!o.files.empty()) good = writeFiles(o.files, seed, t) && good;
        std::string streams;
        for (std::size_t k = 1; k < f.streams.size(); ++k) {
            if (k > 1) streams += ' ';
            streams += std::to_string(f.streams[k]);
        }
        std::printf(
            "%5d %7.3f%% %6lld %6.3f %6lld %6.2f %6.2f %7.0f %7.0f %6.2f %5.2f %5.2f/%5.2f %5.2f/%5.2f %7.2f %6.3f "
            "%6.1f "
            "%5.2f "
            " %s\n",
            seed, 100 * f.drains, static_cast<long long>(f.cycles), f.hack, static_cast<long long>(f.hackBasins),
            f.horton, f.lakes, f.median, f.mean, f.far, f.farBest, f.seamColumns, f.seamColumnsRank, f.seamRows,
            f.seamRowsRank, f.riverSeam, f.alike, f.seconds, f.bytesPerCell, streams.c_str());
        std::fflush(stdout);
        const bool met = f.drains == 1.0 && f.cycles == 0 && f.hack >= 0.5 && f.hack <= 0.6 && f.horton >= 3 &&
                         f.horton <= 5 && f.lakes >= 1 && f.lakes <= 5 && f.median < f.mean && f.far >= 3 &&
                         f.seamColumns >= 0.8 && f.seamColumns <= 1.25 && f.seamRows >= 0.8 && f.seamRows <= 1.25 &&
                         f.riverSeam >= 0.8 && f.riverSeam <= 1.25 && (!compare || f.alike >= 0.8);
        good = good && met;
        all.push_back(f);
    }
    const auto range = [&all](const char* name, double Figures::*field) {
        double low = all.front().*field, high = low, sum = 0;
        for (const Figures& f : all) low = std::min(low, f.*field), high = std::max(high, f.*field), sum += f.*field;
        std::printf("  %-10s %.3f .. %.3f, mean %.3f\n", name, low, high, sum / static_cast<double>(all.size()));
        return sum / static_cast<double>(all.size());
    };
    std::printf("over %zu seeds:\n", all.size());
    range("drains", &Figures::drains);
    range("hack", &Figures::hack);
    range("horton", &Figures::horton);
    range("lakes%", &Figures::lakes);
    range("median", &Figures::median);
    range("mean", &Figures::mean);
    range("far", &Figures::far);
    range("far best", &Figures::farBest);
    const double seamX = range("seamX", &Figures::seamColumns), seamY = range("seamY", &Figures::seamRows);
    range("seamX rank", &Figures::seamColumnsRank);
    range("seamY rank", &Figures::seamRowsRank);
    const double riverSeam = range("rivSeam", &Figures::riverSeam);
    good = good && std::abs(seamX - 1) <= 0.1 && std::abs(seamY - 1) <= 0.1 && std::abs(riverSeam - 1) <= 0.1;
    if (compare) range("alike", &Figures::alike);
    std::printf("%s\n", good ? "every goal met" : "some goal missed");
    return good;
}

}  // namespace
