// The height pyramid: a world's heights grown coarse to fine, and the sea level set by the land
// share.
//
// Levels. The coarsest level has 16 cells across the map's shorter side, each next one twice as
// many, as long as they stay at most two thirds of the map's own; then the map itself. The
// longer side takes cells in proportion (rounded), so a level always covers the map exactly and
// wraps around with it; a level is resampled to the next by the cubic B-spline (world/
// Resample.hpp), whatever the ratio of their sizes. A world at 1024 x 1024 and at 4096 x 4096
// shares its coarse levels cell for cell: it is the same world, in more detail.
//
// The fields meet at the level above the map (the map itself when it is the only level):
//     base + coastNoise x coasts + islands / 100 x islandWeight x (lift + strength x islandNoise)
// where base, coastNoise and islandWeight are the continents' fields (world/Continents.hpp),
// drawn at the level of 128 cells across (or the meeting level, when that is coarser) and
// resampled; coasts is a pyramid of noise from the coasts' stream, each level's noise added to
// the resampled level above with an amplitude that grows with the cells' size as a power law
// (its exponent set by coastroughness) up to a third of a continent's radius and falls off
// above; islandNoise is a like pyramid from the islands' stream, smoother, that stops a level
// earlier (islands take their finest detail from the coasts' noise), on shelves lifted toward
// the sea level. The map's level is the meeting level resampled with the coasts' finest noise
// added, pulled down next to the ocean-edge margins and held to -32767 .. 32767.
//
// The sea level is the height that leaves the landshare per cent of the cells outside the
// margins above it (of the heights that tie, all or none: the nearest count); heights are then
// given relative to it. So the land of a smaller land share lies inside that of a larger one,
// and coastroughness and islands, drawn from streams of their own, leave the continents where
// they are. The finest level and the steps after it are shared among threads by columns; every
// number is the same whatever thread computes it.
#include "world/WorldPyramid.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <stdexcept>
#include <thread>

#include "world/Continents.hpp"
#include "world/Resample.hpp"
#include "world/WorldNoise.hpp"

namespace orv {
namespace {

using namespace world;

constexpr int kMaxSide = 65536;
constexpr std::int64_t kCoarsestCells = 16, kLayoutCells = 128;
// The coasts' noise: its strength (in kRelief / 256), the turn (the smaller of the mean radius
// and the scale over kTurn) and the power of its fall above the turn.
constexpr std::int64_t kCoastAmplitude = 1150, kTurn = 3, kFallAbove = 2;
// The islands' noise: its strength, turn and exponent (Q16: 1.3, smoother than the coasts, so
// that islands come in every size); how strong islands 100 makes it (in 1/256) and how far it
// lifts the shelves where islands rise (in kRelief / 256).
constexpr std::int64_t kIslandAmplitude = 768, kIslandTurn = 2, kIslandExponent = 85197;
constexpr std::int64_t kIslandStrength = 5600, kIslandLift = 900;
// How far the heights are pulled down at the margins.
constexpr std::int64_t kMarginPull = 3 * kRelief;

struct Level {
    int nx = 1, ny = 1;
    std::int64_t across = 1;  // cells across the shorter side
};

std::vector<Level> levelsOf(int width, int height) {
    const std::int64_t shorter = std::min(width, height);
    std::vector<Level> levels;
    for (std::int64_t c = kCoarsestCells; 3 * c <= 2 * shorter; c *= 2)
        levels.push_back({static_cast<int>(std::max<std::int64_t>(1, (c * width + shorter / 2) / shorter)),
                          static_cast<int>(std::max<std::int64_t>(1, (c * height + shorter / 2) / shorter)), c});
    levels.push_back({width, height, shorter});
    return levels;
}

// The exponent of the coasts' power law (Q16) for coastroughness 0 .. 100: 1.8 (smooth: little
// but the large scales) at 0, 0.8 at 50, 0.4 at 100, linear in between.
std::int64_t hurst(int roughness) {
    constexpr std::int64_t smooth = 117965, middle = 51118, frayed = 32768;  // 1.8, 0.78, 0.5
    if (roughness <= 50) return smooth - (smooth - middle) * roughness / 50;
    return middle - (middle - frayed) * (roughness - 50) / 50;
}

// The amplitude of a level's noise (in heights per full noise, 65536) for cells `across` to the
// shorter side: strength (in kRelief / 256) x (cell size / the layout's scale)^exponent up to
// the turn, a kTurn-th of the smaller of the continents' mean radius and the scale, falling as
// the kFallAbove-th power of the size above it.
std::int64_t amplitude(std::int64_t across, const Layout& layout, std::int64_t exponent, std::int64_t strength,
                       std::int64_t turnAt = kTurn) {
    const std::int64_t size = 16 * 65536 - log2Q16(static_cast<std::uint64_t>(across));  // log2, plane units
    const std::int64_t scale = log2Q16(static_cast<std::uint64_t>(layout.scale));
    const std::int64_t turn = log2Q16(static_cast<std::uint64_t>(std::min(layout.meanRadius, layout.scale))) -
                              log2Q16(static_cast<std::uint64_t>(turnAt));
    const std::int64_t top = log2Q16(static_cast<std::uint64_t>(kRelief * strength / 256));
    const std::int64_t power = size <= turn ? exponent * (size - scale) / 65536
                                            : exponent * (turn - scale) / 65536 - kFallAbove * (size - turn);
    return exp2Q16(top + power) >> 16;
}

// Runs work(first, last, part) on `threads` ranges of the columns 0 .. width - 1 side by side
// (fewer for narrow levels: at least 64 columns each), and returns the number of ranges.
template <class Work>
int byColumns(int width, int threads, Work&& work) {
    const int parts = std::clamp(threads, 1, std::max(1, width / 64));
    std::vector<std::thread> team;
    for (int k = 1; k < parts; ++k) team.emplace_back([&, k] { work(width * k / parts, width * (k + 1) / parts, k); });
    work(0, width / parts, 0);
    for (std::thread& thread : team) thread.join();
    return parts;
}

// A pyramid of one stream's noise from the coarsest level down to level `last`, each level's
// columns shared among threads.
Field noisePyramid(std::uint64_t key, const std::vector<Level>& levels, std::size_t last, const Layout& layout,
                   std::int64_t exponent, std::int64_t strength, std::int64_t turnAt, int threads) {
    Field field;
    for (std::size_t j = 0; j <= last; ++j) {
        const Level& l = levels[j];
        Field next(l.nx, l.ny);
        const std::int64_t a = amplitude(l.across, layout, exponent, strength, turnAt);
        byColumns(l.nx, threads, [&](int x0, int x1, int) {
            std::vector<std::int32_t> noise(static_cast<std::size_t>(l.ny));
            std::optional<Upsampler> up;
            if (j > 0) up.emplace(field, l.nx, l.ny);
            for (int x = x0; x < x1; ++x) {
                std::int32_t* col = next.column(x);
                if (up) up->column(x, col);
                columnNoise(key, static_cast<int>(j), x, 0, l.ny, noise.data());
                for (int y = 0; y < l.ny; ++y)
                    col[y] += static_cast<std::int32_t>(a * noise[static_cast<std::size_t>(y)] >> 16);
            }
        });
        field = std::move(next);
    }
    return field;
}

// The heights at the level where the fields meet (the one above the map, or the map itself
// when it is the only level): base + coastNoise x coasts + islandWeight x (lift +
// islandStrength x islands), each field resampled to that level. The coasts' noise is turned
// into the heights where it lies, each cell read and then written, so that the level is held
// once.
void meet(const Layout& layout, Field& coasts, const Field& islands, std::int64_t islandStrength, std::int64_t lift,
          int threads) {
    const int w = coasts.width, h = coasts.height;
    const auto rows = static_cast<std::size_t>(h);
    const AxisTaps layoutX = axisTaps(layout.base.width, w), layoutY = axisTaps(layout.base.height, h);
    const AxisTaps islandX = axisTaps(islands.width, w), islandY = axisTaps(islands.height, h);
    byColumns(w, threads, [&](int x0, int x1, int) {
        std::vector<std::int32_t> base(rows), noise(rows), weight(rows), isl(rows);
        Upsampler baseUp(layout.base, layoutX, layoutY), noiseUp(layout.coastNoise, layoutX, layoutY),
            weightUp(layout.islandWeight, layoutX, layoutY), islandUp(islands, islandX, islandY);
        for (int x = x0; x < x1; ++x) {
            baseUp.column(x, base.data());
            noiseUp.column(x, noise.data());
            weightUp.column(x, weight.data());
            islandUp.column(x, isl.data());
            std::int32_t* c = coasts.column(x);
            for (std::size_t y = 0; y < rows; ++y) {
                const std::int64_t shelf = std::max(0, weight[y]);
                const std::int64_t v = base[y] + (std::int64_t{noise[y]} * c[y] >> 12) +
                                       ((islandStrength * shelf >> 12) * isl[y] >> 12) + (shelf * lift >> 12);
                c[y] = static_cast<std::int32_t>(std::clamp<std::int64_t>(v, -65536, 65536));
            }
        }
    });
}

// Counts of the open cells' heights by 64 heights at a time (height + 32768 >> 6), four tables
// side by side so that neighbouring cells of equal height do not wait on one counter. Small
// enough to stay in the processor's nearest cache; the sea level's own 64 are counted after.
using Histogram = std::array<std::array<std::uint32_t, 1024>, 4>;

// The map's level: the meeting level resampled, the map's own noise added, held to
// -32767 .. 32767; the margins kMarginHeight. A range of columns at a time.
struct MapLevel {
    const Field* above = nullptr;  // none: the heights are the meeting level's own
    AxisTaps xs, ys;
    std::uint64_t key = 0;
    int level = 0;
    std::int64_t amplitude = 0;
    int openX0 = 0, openX1 = 0, openY0 = 0, openY1 = 0;
    // How far each open column and row is pulled down for the margins near it (the larger of the
    // two is taken): so that the coasts' finest noise never brings land onto a margin.
    std::vector<std::int32_t> pullX, pullY;

    void run(const Field& meeting, World& world, int x0, int x1, Histogram& histogram) const {
        const int h = world.height;
        std::vector<std::int32_t> column(static_cast<std::size_t>(h) + 4);
        std::optional<Upsampler> up;
        if (above) up.emplace(*above, xs, ys);
        const std::uint64_t levelBits = static_cast<std::uint64_t>(level) << 40;
        for (int x = x0; x < x1; ++x) {
            std::int16_t* out = world.heights.data() + world.index(x, 0);
            if (x < openX0 || x > openX1) {
                std::fill(out, out + h, World::kMarginHeight);
                continue;
            }
            const std::int32_t* from = meeting.column(x);
            if (up) {
                // The resampled heights and the map's own noise, four cells to a stream number.
                up->column(x, column.data());
                const std::uint64_t counter = levelBits | (static_cast<std::uint64_t>(x) << 18);
                for (int y = 0; y < h; y += 4) {
                    std::uint64_t bits = streamNumber(key, counter | static_cast<std::uint64_t>(y >> 2));
                    for (int j = 0; j < 4; ++j, bits >>= 16) {
                        const auto n = (static_cast<std::int32_t>(bits & 0xFF) +
                                        static_cast<std::int32_t>((bits >> 8) & 0xFF) - 255) *
                                       257;
                        column[static_cast<std::size_t>(y + j)] += static_cast<std::int32_t>(amplitude * n >> 16);
                    }
                }
                from = column.data();
            }
            const std::int32_t px = pullX[static_cast<std::size_t>(x)];
            for (int y = 0; y < h; ++y) {
                const std::int32_t v = from[y] - std::max(px, pullY[static_cast<std::size_t>(y)]);
                const auto held = static_cast<std::int16_t>(std::clamp(v, -32767, 32767));
                out[y] = held;
                ++histogram[static_cast<std::size_t>(y & 3)][static_cast<std::size_t>(held + 32768) >> 6];
            }
            // The margins, after: counted above, taken off again.
            auto margin = [&](int y) {
                --histogram[static_cast<std::size_t>(y & 3)][static_cast<std::size_t>(out[y] + 32768) >> 6];
                out[y] = World::kMarginHeight;
            };
            for (int y = 0; y < std::min(openY0, h); ++y) margin(y);
            for (int y = std::max(openY1 + 1, 0); y < h; ++y) margin(y);
        }
    }
};

// The sea level: the height L that leaves the count of open cells above it nearest to `land` (of
// two as near, the higher), from the counts by 64 heights and then the heights of the one group
// where the count reaches `land`.
std::int32_t seaLevel(const World& world, const std::vector<std::int64_t>& groups, std::int64_t land, int threads) {
    std::int64_t above = 0;
    for (std::size_t g = groups.size(); g-- > 0;) {
        if (above + groups[g] <= land) {
            above += groups[g];
            continue;
        }
        const std::int32_t low = static_cast<std::int32_t>(g * 64) - 32768;
        std::vector<std::array<std::int64_t, 64>> parts(static_cast<std::size_t>(std::max(1, threads)));
        byColumns(world.width, threads, [&](int x0, int x1, int part) {
            auto& counts = parts[static_cast<std::size_t>(part)];
            counts.fill(0);
            for (const std::int16_t *v = world.column(x0), *end = world.heights.data() + world.index(x1, 0); v != end;
                 ++v)
                if (*v >= low && *v < low + 64 && *v != World::kMarginHeight)
                    ++counts[static_cast<std::size_t>(*v - low)];
        });
        std::array<std::int64_t, 64> counts{};
        for (const auto& part : parts)
            for (std::size_t k = 0; k < 64; ++k) counts[k] += part[k];
        for (std::int32_t v = low + 63; v >= low; --v) {
            const std::int64_t here = counts[static_cast<std::size_t>(v - low)];
            if (above + here > land) return above + here - land < land - above ? v - 1 : v;
            above += here;
        }
    }
    return -32768;
}

}  // namespace

WorldParameters clampWorldParameters(const WorldParameters& p) {
    auto fitted = [](int value, std::int32_t Settings::*field) {
        const SettingsKey& key = settingsKey(field);
        return std::clamp(value, key.low, key.high);
    };
    WorldParameters c;
    c.continents = fitted(p.continents, &Settings::continents);
    c.landshare = fitted(p.landshare, &Settings::landshare);
    c.coastroughness = fitted(p.coastroughness, &Settings::coastroughness);
    c.islands = fitted(p.islands, &Settings::islands);
    return c;
}

WorldParameters worldParameters(const Settings& settings) {
    WorldParameters p;
    p.continents = settings.continents;
    p.landshare = settings.landshare;
    p.coastroughness = settings.coastroughness;
    p.islands = settings.islands;
    return clampWorldParameters(p);
}

bool inOceanEdge(std::int64_t x, std::int64_t size, std::int64_t margin) {
    const std::int64_t index = x + 1;  // the grid's index of the cell
    return index < margin || index > size - margin;
}

void buildWorld(std::uint32_t seedWord, int width, int height, int marginX, int marginY,
                const WorldParameters& parameters, World& world, int threads) {
    if (width < 1 || width > kMaxSide || height < 1 || height > kMaxSide)
        throw std::invalid_argument("a world is 1 to 65536 cells on each side");
    const WorldParameters p = clampWorldParameters(parameters);
    world.width = width;
    world.height = height;
    const auto cells = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    const Plane plane(width, height, std::clamp(marginX, 0, width), std::clamp(marginY, 0, height));
    if (p.continents == 0 || plane.empty()) {
        world.heights.resize(cells);
        for (int x = 0; x < width; ++x)
            for (int y = 0; y < height; ++y)
                world.heights[world.index(x, y)] =
                    inOceanEdge(x, width, marginX) || inOceanEdge(y, height, marginY) || p.continents > 0
                        ? World::kMarginHeight
                        : std::int16_t{1};
        return;
    }

    const std::vector<Level> levels = levelsOf(width, height);
    const std::size_t map = levels.size() - 1, meeting = map > 0 ? map - 1 : 0;
    std::size_t layoutLevel = 0;
    while (layoutLevel < meeting && levels[layoutLevel].across < kLayoutCells) ++layoutLevel;
    const Layout layout = layContinents(streamKey(seedWord, Stream::continents), plane, p.continents,
                                        levels[layoutLevel].nx, levels[layoutLevel].ny);
    const std::int64_t exponent = hurst(p.coastroughness);
    const std::uint64_t coastKey = streamKey(seedWord, Stream::coasts);
    Field heights = noisePyramid(coastKey, levels, meeting, layout, exponent, kCoastAmplitude, kTurn, threads);
    {
        const Field islands = noisePyramid(streamKey(seedWord, Stream::islands), levels, meeting > 0 ? meeting - 1 : 0,
                                           layout, kIslandExponent, kIslandAmplitude, kIslandTurn, threads);
        meet(layout, heights, islands, kIslandStrength * p.islands * 4096 / (100 * 256),
             kIslandLift * p.islands * kRelief / (100 * 256), threads);
    }
    // The map's heights are made only now, when the levels above but one are let go: the most
    // held at once is the map's heights and the meeting level.
    world.heights.resize(cells);

    MapLevel finest;
    if (meeting < map) {
        finest.above = &heights;
        finest.xs = axisTaps(heights.width, width);
        finest.ys = axisTaps(heights.height, height);
        finest.key = coastKey;
        finest.level = static_cast<int>(map);
        finest.amplitude = amplitude(levels[map].across, layout, exponent, kCoastAmplitude);
    }
    finest.openX0 = plane.openX0;
    finest.openX1 = plane.openX1;
    finest.openY0 = plane.openY0;
    finest.openY1 = plane.openY1;
    // The pull: kMarginPull at the margin, none from the layout's margin width inward.
    auto pulls = [&](int count, bool wrap, int open0, int open1, auto&& length) {
        std::vector<std::int32_t> pull(static_cast<std::size_t>(count), 0);
        if (wrap) return pull;
        for (int i = open0; i <= open1; ++i) {
            const std::int64_t inside = length(2 * std::min(i - open0, open1 - i) + 1) / 2;
            pull[static_cast<std::size_t>(i)] = static_cast<std::int32_t>(
                kMarginPull * std::max<std::int64_t>(0, layout.marginWidth - inside) / layout.marginWidth);
        }
        return pull;
    };
    finest.pullX = pulls(width, plane.wrapX, plane.openX0, plane.openX1, [&](std::int64_t c) { return plane.x(c); });
    finest.pullY = pulls(height, plane.wrapY, plane.openY0, plane.openY1, [&](std::int64_t c) { return plane.y(c); });
    std::vector<Histogram> histograms(static_cast<std::size_t>(std::max(1, threads)));
    const int parts = byColumns(width, threads, [&](int x0, int x1, int part) {
        finest.run(heights, world, x0, x1, histograms[static_cast<std::size_t>(part)]);
    });
    std::vector<std::int64_t> groups(1024, 0);
    for (int part = 0; part < parts; ++part)
        for (const auto& table : histograms[static_cast<std::size_t>(part)])
            for (std::size_t g = 0; g < groups.size(); ++g) groups[g] += table[g];

    const std::int64_t open = std::int64_t{plane.openX1 - plane.openX0 + 1} * (plane.openY1 - plane.openY0 + 1);
    const std::int32_t level = seaLevel(world, groups, (open * p.landshare + 50) / 100, threads);
    byColumns(width, threads, [&](int x0, int x1, int) {
        for (std::int16_t *v = world.heights.data() + world.index(x0, 0),
                          *end = world.heights.data() + world.index(x1, 0);
             v != end; ++v) {
            const std::int32_t shifted = std::clamp(*v - level, -32767, 32767);
            *v = *v == World::kMarginHeight ? *v : static_cast<std::int16_t>(shifted);
        }
    });
}

World buildWorld(std::uint32_t seedWord, int width, int height, int marginX, int marginY,
                 const WorldParameters& parameters, int threads) {
    World world;
    buildWorld(seedWord, width, height, marginX, marginY, parameters, world, threads);
    return world;
}

}  // namespace orv
