// The continents' layout: each continent a few overlapping discs placed in the map's plane from
// the continents' stream, and the large-scale fields they give.
//
// The numbers of the stream, in this order: for each continent, its share of the land (one);
// then for each continent in turn its centre, the best of kCandidates candidates (two each: x,
// then y; one candidate for the first), and its discs (one for their count; then for each disc
// after the first, the disc it leans on, a direction drawn until it falls in a ring (two a
// try), and its size). The warp's noise is read by cell, not in order.
//
// The base height of a point is the least of three: a continent's own height (rising from the
// coast, where the point is as far from the nearest continent's discs as its coast is, to a
// plateau inland); the channel between the two nearest continents (deep along the line
// half-way between them, so that no two continents meet); and the ramp down to the ocean-edge
// margins. Distances are measured after a warp of the plane (a smooth random displacement of a
// few octaves), so that the discs' round edges and the channels' straight lines bend.
#include "world/Continents.hpp"

#include <algorithm>
#include <limits>

#include "world/WorldNoise.hpp"

namespace orv::world {
namespace {

constexpr std::int64_t kUnit = 65536;  // plane units in the map's shorter side
constexpr int kCandidates = 24;
// Land share the layout is drawn for: the continents' discs cover this much of the open area.
// The sea level then makes the land share the settings ask for.
constexpr std::int64_t kLaidSharePercent = 40;
// The relief's shape, in kRelief per mean radius: the coast's slope, the channels' and the
// margins' slope, the channels' and the margins' half-width where the base is sea level (in
// 1/256 of the mean radius), and the floor of the deep sea.
constexpr std::int64_t kCoastSlope = 2, kChannelSlope = 6, kChannelHalfWidth = 64, kDeepest = -3 * kRelief;
// The warp: octaves, the first's amplitude (1/256 of the mean radius) and grid (cells per mean
// radius), and each next octave's amplitude (Q16) on a grid twice as fine.
constexpr int kWarpOctaves = 4;
constexpr std::int64_t kWarpAmplitude = 102, kWarpFalloff = 37641;
// The coasts' noise: all of it down to kFullNoise, kLeastNoise (Q12) from kQuietNoise down.
constexpr std::int64_t kFullNoise = -kRelief / 2, kQuietNoise = -5 * kRelief / 2, kLeastNoise = 819;
// Islands rise most where the base is kIslandBase, none farther than kIslandSpread from it, and
// none in the channels or by the margins where they are deeper than kRelief below sea level.
constexpr std::int64_t kIslandBase = -2 * kRelief, kIslandSpread = 1382 * kRelief / 1024;

std::int64_t wrapped(std::int64_t d, std::int64_t length, bool wrap) {
    if (!wrap) return d;
    d %= length;
    if (d < -length / 2) d += length;
    if (d >= length - length / 2) d -= length;
    return d;
}

// A disc's centre on an axis with margins, moved in so that the disc keeps its radius from the
// open area's edges (to the middle when the area is narrower than the disc).
std::int64_t keepInside(std::int64_t centre, std::int64_t radius, std::int64_t low, std::int64_t high) {
    if (high - low <= 2 * radius) return (low + high) / 2;
    return std::clamp(centre, low + radius, high - radius);
}

std::int64_t distance(std::int64_t dx, std::int64_t dy) {
    return static_cast<std::int64_t>(isqrt(static_cast<std::uint64_t>(dx * dx) + static_cast<std::uint64_t>(dy * dy)));
}

struct Placer {
    const Plane& plane;
    StreamReader& stream;

    std::int64_t openLeft() const { return plane.x(plane.openX0); }
    std::int64_t openRight() const { return plane.x(plane.openX1 + 1); }
    std::int64_t openTop() const { return plane.y(plane.openY0); }
    std::int64_t openBottom() const { return plane.y(plane.openY1 + 1); }

    // How far a point lies inside the open area on the axes with margins (the largest value
    // when there are none).
    std::int64_t inside(std::int64_t x, std::int64_t y) const {
        std::int64_t e = std::numeric_limits<std::int64_t>::max();
        if (!plane.wrapX) e = std::min({e, x - openLeft(), openRight() - x});
        if (!plane.wrapY) e = std::min({e, y - openTop(), openBottom() - y});
        return e;
    }
    std::int64_t dx(std::int64_t a, std::int64_t b) const { return wrapped(a - b, plane.lengthX, plane.wrapX); }
    std::int64_t dy(std::int64_t a, std::int64_t b) const { return wrapped(a - b, plane.lengthY, plane.wrapY); }

    std::int64_t draw(std::int64_t from, std::int64_t to) {
        const auto span = static_cast<std::uint32_t>(std::clamp<std::int64_t>(to - from, 1, 0xFFFFFFFF));
        return from + stream.below(span);
    }

    // A unit vector (Q16) in a direction drawn evenly.
    std::pair<std::int64_t, std::int64_t> direction() {
        for (;;) {
            const std::int64_t x = draw(-32768, 32768), y = draw(-32768, 32768);
            const std::int64_t r2 = x * x + y * y;
            if (r2 < (std::int64_t{1} << 28) || r2 > (std::int64_t{1} << 30)) continue;
            const std::int64_t r = distance(x, y);
            return {x * kUnit / r, y * kUnit / r};
        }
    }
};

}  // namespace

Plane::Plane(int w, int h, int marginX, int marginY) : width(w), height(h) {
    lengthX = x(w);
    lengthY = y(h);
    wrapX = marginX <= 0;
    wrapY = marginY <= 0;
    openX0 = wrapX ? 0 : marginX - 1;
    openX1 = wrapX ? w - 1 : w - marginX - 1;
    openY0 = wrapY ? 0 : marginY - 1;
    openY1 = wrapY ? h - 1 : h - marginY - 1;
}

std::int64_t Plane::x(std::int64_t cells) const {
    return cells * kUnit / std::min(width, height);
}
std::int64_t Plane::y(std::int64_t cells) const {
    return cells * kUnit / std::min(width, height);
}

Layout layContinents(std::uint64_t key, const Plane& plane, int count, int width, int height) {
    Layout layout;
    StreamReader stream(key);
    Placer placer{plane, stream};
    const std::int64_t openWidth = placer.openRight() - placer.openLeft();
    const std::int64_t openHeight = placer.openBottom() - placer.openTop();

    // Shares of the land: 1 .. 1 + 8 / count parts each, so that even the smallest of many
    // continents holds several per cent of the land. Radii of discs of those shares of the
    // land the layout is drawn for (area / pi with pi as 355 / 113).
    std::vector<std::int64_t> parts(static_cast<std::size_t>(count));
    std::int64_t allParts = 0;
    for (auto& part : parts) {
        part = kUnit +
               stream.below(static_cast<std::uint32_t>(count <= 8 ? 8 * kUnit / count : 64 * kUnit / (count * count)));
        allParts += part;
    }
    const std::int64_t area = (openWidth >> 8) * (openHeight >> 8);  // in 2^16 plane units squared
    std::int64_t squares = 0;
    layout.continents.resize(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::int64_t share = (parts[i] << 16) / allParts;
        const std::int64_t r2 = ((area * share) >> 8) * 113 * kLaidSharePercent / (100 * 355) << 8;
        layout.continents[i].radius = static_cast<std::int64_t>(isqrt(static_cast<std::uint64_t>(r2)));
        squares += r2 / count;
    }
    layout.meanRadius =
        std::max<std::int64_t>(1, static_cast<std::int64_t>(isqrt(static_cast<std::uint64_t>(squares))));
    layout.scale =
        std::max<std::int64_t>(1, static_cast<std::int64_t>(isqrt(static_cast<std::uint64_t>(squares / 5 * count))));
    layout.marginWidth = std::max<std::int64_t>(1, layout.meanRadius * kChannelHalfWidth / 256);

    // Centres: of kCandidates drawn in the open area, the one whose disc lies farthest from the
    // discs already placed and from the margins (a margin counts as the mirror image of the disc).
    std::vector<std::pair<std::int64_t, std::int64_t>> centres;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::int64_t r = layout.continents[i].radius;
        std::int64_t bestScore = std::numeric_limits<std::int64_t>::min(), bestX = 0, bestY = 0;
        const bool margins = !plane.wrapX || !plane.wrapY;
        for (int k = 0; k < (i == 0 && !margins ? 1 : kCandidates); ++k) {
            const std::int64_t x = placer.draw(placer.openLeft(), placer.openRight());
            const std::int64_t y = placer.draw(placer.openTop(), placer.openBottom());
            std::int64_t score = std::numeric_limits<std::int64_t>::max();
            if (placer.inside(x, y) != std::numeric_limits<std::int64_t>::max()) score = 2 * (placer.inside(x, y) - r);
            for (std::size_t j = 0; j < centres.size(); ++j)
                score = std::min(score, distance(placer.dx(x, centres[j].first), placer.dy(y, centres[j].second)) - r -
                                            layout.continents[j].radius);
            if (score > bestScore) {
                bestScore = score;
                bestX = x;
                bestY = y;
            }
        }
        centres.emplace_back(bestX, bestY);
    }

    // Discs: one to three, the first at the centre; each next one leans on a disc before it, at
    // 0.7 of their radii's sum in a direction of its own, so that continents come in many shapes.
    for (std::size_t i = 0; i < parts.size(); ++i) {
        Continent& c = layout.continents[i];
        const int discs = 1 + static_cast<int>(stream.below(3));
        // Each disc of about the area of the continent over the count, a little more for overlap.
        const std::int64_t r =
            static_cast<std::int64_t>(isqrt(static_cast<std::uint64_t>(c.radius * c.radius / discs))) * 115 / 100;
        const std::int64_t first = r * (80 + stream.below(41)) / 100;
        c.discs.push_back({plane.wrapX ? centres[i].first
                                       : keepInside(centres[i].first, first, placer.openLeft(), placer.openRight()),
                           plane.wrapY ? centres[i].second
                                       : keepInside(centres[i].second, first, placer.openTop(), placer.openBottom()),
                           first});
        for (int k = 1; k < discs; ++k) {
            const Disc& on = c.discs[stream.below(static_cast<std::uint32_t>(c.discs.size()))];
            const auto [ux, uy] = placer.direction();
            const std::int64_t radius = r * (60 + stream.below(61)) / 100;
            const std::int64_t reach = (on.radius + radius) * 7 / 10;
            Disc d{on.x + ux * reach / kUnit, on.y + uy * reach / kUnit, radius};
            d.x = plane.wrapX ? (d.x % plane.lengthX + plane.lengthX) % plane.lengthX
                              : keepInside(d.x, radius, placer.openLeft(), placer.openRight());
            d.y = plane.wrapY ? (d.y % plane.lengthY + plane.lengthY) % plane.lengthY
                              : keepInside(d.y, radius, placer.openTop(), placer.openBottom());
            c.discs.push_back(d);
        }
    }

    // The warp at the layout's level: kWarpOctaves of noise on grids from one cell per mean
    // radius, each twice as fine and 2^-0.8 as strong as the one before.
    Field warpX(width, height), warpY(width, height);
    std::int64_t amplitude = layout.meanRadius * kWarpAmplitude / 256;
    for (int octave = 0; octave < kWarpOctaves; ++octave) {
        // Cells across the shorter side: one per mean radius, doubled each octave.
        const std::int64_t across = std::max<std::int64_t>(4, kUnit / layout.meanRadius) << octave;
        const int shorter = std::min(width, height);
        if (across > shorter) break;
        const auto nx = static_cast<int>(std::max<std::int64_t>(1, (across * plane.lengthX + kUnit / 2) / kUnit));
        const auto ny = static_cast<int>(std::max<std::int64_t>(1, (across * plane.lengthY + kUnit / 2) / kUnit));
        for (Field* warp : {&warpX, &warpY}) {
            Field grid(nx, ny);
            const int level = 32 + 2 * octave + (warp == &warpY ? 1 : 0);
            for (int x = 0; x < nx; ++x) columnNoise(key, level, x, 0, ny, grid.column(x));
            for (auto& v : grid.cells) v >>= 1;
            const Field fine = upsample(grid, width, height);
            for (std::size_t k = 0; k < fine.cells.size(); ++k)
                warp->cells[k] +=
                    static_cast<std::int32_t>((static_cast<std::int64_t>(fine.cells[k]) * 2 * amplitude) >> 16);
        }
        amplitude = amplitude * kWarpFalloff >> 16;
    }

    // The fields, cell by cell.
    layout.base = Field(width, height);
    layout.coastNoise = Field(width, height);
    layout.islandWeight = Field(width, height);
    const std::int64_t mean = layout.meanRadius;
    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < height; ++y) {
            const std::size_t cell =
                static_cast<std::size_t>(x) * static_cast<std::size_t>(height) + static_cast<std::size_t>(y);
            // The cell's centre in the plane, and warped.
            const std::int64_t cx = (2 * std::int64_t{x} + 1) * plane.lengthX / (2 * std::int64_t{width});
            const std::int64_t cy = (2 * std::int64_t{y} + 1) * plane.lengthY / (2 * std::int64_t{height});
            const std::int64_t px = cx + warpX.cells[cell], py = cy + warpY.cells[cell];
            std::int64_t nearest = std::numeric_limits<std::int64_t>::max(), second = nearest;
            for (const Continent& c : layout.continents) {
                std::int64_t d = std::numeric_limits<std::int64_t>::max();
                for (const Disc& disc : c.discs)
                    d = std::min(d, distance(placer.dx(px, disc.x), placer.dy(py, disc.y)) - disc.radius);
                if (d < nearest) {
                    second = nearest;
                    nearest = d;
                } else {
                    second = std::min(second, d);
                }
            }
            std::int64_t base = std::min<std::int64_t>(kRelief, -kCoastSlope * kRelief * nearest / layout.scale);
            std::int64_t channel = std::numeric_limits<std::int32_t>::max();
            if (count > 1)
                channel = kChannelSlope * kRelief * ((second - nearest) / 2 - mean * kChannelHalfWidth / 256) / mean;
            std::int64_t ramp = std::numeric_limits<std::int32_t>::max();
            // The margins are where they are: the ramp to them is not warped.
            const std::int64_t in = placer.inside(cx, cy);
            if (in != std::numeric_limits<std::int64_t>::max())
                ramp = kCoastSlope * kRelief * (in - 2 * mean * kChannelHalfWidth / 256) / mean;
            base = std::max(kDeepest, std::min({base, channel, ramp}));
            layout.base.cells[cell] = static_cast<std::int32_t>(base);
            layout.coastNoise.cells[cell] = static_cast<std::int32_t>(std::clamp<std::int64_t>(
                kLeastNoise + (4096 - kLeastNoise) * (base - kQuietNoise) / (kFullNoise - kQuietNoise), kLeastNoise,
                4096));
            const std::int64_t peak =
                std::max<std::int64_t>(0, 4096 - 4096 * std::abs(base - kIslandBase) / kIslandSpread);
            const std::int64_t open =
                std::clamp<std::int64_t>(4096 * (std::min(channel, ramp) + kRelief) / kRelief, 0, 4096);
            layout.islandWeight.cells[cell] = static_cast<std::int32_t>(peak * open >> 12);
        }
    }
    return layout;
}

}  // namespace orv::world
