#include "SyntheticWorld.hpp"

#include <algorithm>

#include "map/GenerateMap.hpp"
#include "settings/Settings.hpp"
#include "sim/FastEngine.hpp"
#include "sim/Simulation.hpp"
#include "world/WorldPyramid.hpp"

namespace orv {
namespace {

std::uint32_t mix(std::uint32_t x) {
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x;
}

std::int64_t lattice(std::uint32_t seed, int octave, std::int64_t i, std::int64_t j) {
    const std::uint32_t h = mix(seed ^ mix(static_cast<std::uint32_t>(octave) * 0x9E3779B9u ^
                                           mix(static_cast<std::uint32_t>(i) ^ mix(static_cast<std::uint32_t>(j)))));
    return static_cast<std::int64_t>(h >> 16) - 32768;
}

// 3t^2 - 2t^3 for t in 1/65536.
std::int64_t smooth(std::int64_t t) {
    return t * t / 65536 * (3 * 65536 - 2 * t) / 65536;
}

}  // namespace

std::vector<std::uint16_t> fractalField(std::uint32_t seed, int width, int height) {
    const std::size_t cells = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    std::vector<std::int64_t> sum(cells, 0);
    const int longer = std::max(width, height);
    std::int64_t amplitude = 1 << 16;
    for (int octave = 0; (std::int64_t{4} << octave) * 2 <= longer || octave == 0; ++octave) {
        const std::int64_t across = std::int64_t{4} << octave;  // lattice cells along the longer side
        const std::int64_t nx = std::max<std::int64_t>(1, (across * width + longer / 2) / longer);
        const std::int64_t ny = std::max<std::int64_t>(1, (across * height + longer / 2) / longer);
        // The lattice, its last column and row the first again (the wrap).
        std::vector<std::int64_t> values(static_cast<std::size_t>((nx + 1) * (ny + 1)));
        for (std::int64_t j = 0; j <= ny; ++j)
            for (std::int64_t i = 0; i <= nx; ++i)
                values[static_cast<std::size_t>(j * (nx + 1) + i)] = lattice(seed, octave, i % nx, j % ny);
        // Each octave's lattice shifted by a part of the seed, so that the octaves' lattice lines
        // (where value noise is flattest) do not all meet at the wrap.
        const std::int64_t shiftX = mix(seed ^ static_cast<std::uint32_t>(2 * octave + 1)) % (nx * 65536);
        const std::int64_t shiftY = mix(seed ^ static_cast<std::uint32_t>(2 * octave + 2) * 0x9E3779B9u) % (ny * 65536);
        std::vector<std::int64_t> ix(static_cast<std::size_t>(width)), tx(ix.size());
        for (int x = 0; x < width; ++x) {
            const std::int64_t u = (std::int64_t{x} * nx * 65536 / width + shiftX) % (nx * 65536);
            ix[static_cast<std::size_t>(x)] = u >> 16;
            tx[static_cast<std::size_t>(x)] = smooth(u & 0xFFFF);
        }
        for (int y = 0; y < height; ++y) {
            const std::int64_t v = (std::int64_t{y} * ny * 65536 / height + shiftY) % (ny * 65536);
            const std::int64_t j = v >> 16, ty = smooth(v & 0xFFFF);
            const std::int64_t* upper = values.data() + j * (nx + 1);
            const std::int64_t* lower = upper + (nx + 1);
            std::int64_t* out = sum.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
            for (std::size_t x = 0; x < ix.size(); ++x) {
                const std::int64_t i = ix[x], t = tx[x];
                const std::int64_t top = upper[i] * 65536 + (upper[i + 1] - upper[i]) * t;
                const std::int64_t bottom = lower[i] * 65536 + (lower[i + 1] - lower[i]) * t;
                out[x] += (top * 65536 + (bottom - top) * ty) / 65536 / 65536 * amplitude / 65536;
            }
        }
        amplitude /= 2;
    }
    const auto [low, high] = std::minmax_element(sum.begin(), sum.end());
    const std::int64_t lowest = *low, range = std::max<std::int64_t>(1, *high - *low);
    std::vector<std::uint16_t> field(cells);
    for (std::size_t i = 0; i < cells; ++i) field[i] = static_cast<std::uint16_t>((sum[i] - lowest) * 65535 / range);
    return field;
}

std::uint16_t seaLevelFor(const std::vector<std::uint16_t>& field, double landShare) {
    std::vector<std::uint64_t> counts(65536, 0);
    for (std::uint16_t v : field) ++counts[v];
    const auto sea = static_cast<std::uint64_t>(static_cast<double>(field.size()) * (1.0 - landShare));
    std::uint64_t below = 0;
    for (std::size_t v = 0; v < counts.size(); ++v) {
        below += counts[v];
        if (below >= sea) return static_cast<std::uint16_t>(v);
    }
    return 65535;
}

std::vector<std::uint8_t> automatonClasses(std::int32_t seed, int width, int height,
                                           const std::vector<std::uint8_t>& land, int generations) {
    Settings s;
    applyPresets(s);
    s.xsize = width;
    s.ysize = height;
    Random random;
    MapState map(width, height);
    seedRun(random, s, SeedChoice::of(seed), clockSeconds);
    FastEngine engine(bestKernelLevel(), 1);
    engine.fillInitialLandmass(map, s, random);
    World mask{width, height, std::vector<std::int16_t>(land.size())};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            mask.heights[mask.index(x, y)] =
                land[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)] != 0
                    ? 1
                    : World::kSeaLevel;
    stampSea(map, mask);
    ChangeMask changes, computed;
    Untouched untouched = Untouched::KeepNext;
    int keptPhase = 0;
    for (int drawn = 0;; ++drawn) {
        generationCycle(engine, map, s, random, untouched, computed);
        if (drawn >= generations) break;
        std::swap(map.currentMap, map.nextMap);
        std::swap(changes, computed);
        keptPhase = map.phaseFlag;
        untouched = Untouched::FromCurrent;
    }
    std::vector<std::uint32_t> pixels(land.size());
    engine.drawChanges(map.currentMap, changes, keptPhase,
                       MapColors{kClassUnchanged, kClassWater, kClassLand, kClassSea},
                       MapCanvas{pixels.data(), width, width, height, -1, -1});
    std::vector<std::uint8_t> classes(land.size());
    for (std::size_t i = 0; i < land.size(); ++i) classes[i] = static_cast<std::uint8_t>(pixels[i]);
    return classes;
}

std::vector<std::uint8_t> blobClasses(std::uint32_t seed, const std::vector<std::uint16_t>& field, int width,
                                      int height, std::uint16_t seaLevel) {
    std::vector<std::uint8_t> classes(field.size());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::size_t i =
                static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x);
            const std::uint32_t block =
                mix(seed ^ mix(static_cast<std::uint32_t>(x >> 3) * 0x10001u + static_cast<std::uint32_t>(y >> 3)));
            const std::uint32_t speck = mix(seed + static_cast<std::uint32_t>(i)) % 16;
            classes[i] = field[i] <= seaLevel ? kClassSea
                         : speck == 0         ? kClassLand
                         : (block & 1) != 0   ? kClassUnchanged
                                              : kClassWater;
        }
    return classes;
}

SyntheticWorld syntheticWorld(std::uint32_t seed, int width, int height, bool automaton) {
    SyntheticWorld w;
    w.width = width;
    w.height = height;
    w.field = fractalField(seed, width, height);
    w.seaLevel = seaLevelFor(w.field, 0.4);
    if (automaton) {
        std::vector<std::uint8_t> land(w.field.size());
        for (std::size_t i = 0; i < land.size(); ++i) land[i] = w.field[i] > w.seaLevel ? 1 : 0;
        w.classes = automatonClasses(static_cast<std::int32_t>(seed), width, height, land, 100);
    } else {
        w.classes = blobClasses(seed, w.field, width, height, w.seaLevel);
    }
    return w;
}

}  // namespace orv
