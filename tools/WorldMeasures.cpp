#include "WorldMeasures.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace orv::measures {
namespace {

constexpr std::int64_t kFar = std::numeric_limits<std::int64_t>::max() / 4;

// The squared distance along a line of n cells (across the wrap) to the nearest of the cells
// whose f is 0 (the others kFar): two sweeps each way, twice around.
void lineDistances(std::vector<std::int64_t>& f) {
    const std::size_t n = f.size();
    std::int64_t d = kFar;
    for (std::size_t k = 0; k < 2 * n; ++k) {
        d = f[k % n] == 0 ? 0 : std::min(kFar, d + 1);
        f[k % n] = std::min(f[k % n], d);
    }
    d = kFar;
    for (std::size_t k = 2 * n; k-- > 0;) {
        d = f[k % n] == 0 ? 0 : std::min(kFar, d + 1);
        f[k % n] = std::min(f[k % n], d);
    }
    for (auto& v : f) v = v >= kFar ? kFar : v * v;
}

// The lower envelope of the parabolas f[q] + (p - q)^2 over a line of n cells laid three times
// (so that the nearest source may lie across the wrap), read for the middle copy (Felzenszwalb
// and Huttenlocher's algorithm).
void envelope(std::vector<std::int64_t>& f) {
    const auto n = static_cast<std::int64_t>(f.size());
    std::vector<std::int64_t> v, out(f.size(), kFar);
    std::vector<double> z;
    for (std::int64_t q = 0; q < 3 * n; ++q) {
        const std::int64_t fq = f[static_cast<std::size_t>(q % n)];
        if (fq >= kFar) continue;
        double s = 0;
        while (!v.empty()) {
            const std::int64_t p = v.back(), fp = f[static_cast<std::size_t>(p % n)];
            s = (static_cast<double>(fq + q * q) - static_cast<double>(fp + p * p)) /
                (2.0 * static_cast<double>(q - p));
            if (s > z.back()) break;
            v.pop_back();
            z.pop_back();
        }
        z.push_back(v.empty() ? -std::numeric_limits<double>::infinity() : s);
        v.push_back(q);
    }
    if (v.empty()) return;
    std::size_t k = 0;
    for (std::int64_t p = n; p < 2 * n; ++p) {
        while (k + 1 < v.size() && z[k + 1] < static_cast<double>(p)) ++k;
        const std::int64_t q = v[k];
        out[static_cast<std::size_t>(p - n)] = f[static_cast<std::size_t>(q % n)] + (p - q) * (p - q);
    }
    f.swap(out);
}

double median(std::vector<std::int64_t>& squares) {
    if (squares.empty()) return std::nan("");
    const auto middle = squares.begin() + static_cast<std::ptrdiff_t>(squares.size() / 2);
    std::nth_element(squares.begin(), middle, squares.end());
    return std::sqrt(static_cast<double>(*middle));
}

bool landAt(const World& w, int x, int y) {
    return w.land((x + w.width) % w.width, (y + w.height) % w.height);
}

}  // namespace

Measured::Measured(const World& world) : figures(measureWorld(world, &massOfCell)) {
    continents = figures.continents();
}

std::vector<double> coastDimensions(const World& world, int smallest, int octaves) {
    std::vector<std::int64_t> boxes;
    for (int k = 0; k <= octaves; ++k) {
        const int side = smallest << k;
        const int bx = (world.width + side - 1) / side, by = (world.height + side - 1) / side;
        std::vector<std::uint8_t> hit(static_cast<std::size_t>(bx) * static_cast<std::size_t>(by), 0);
        for (int x = 0; x < world.width; ++x)
            for (int y = 0; y < world.height; ++y)
                if (world.land(x, y) && (!landAt(world, x - 1, y) || !landAt(world, x + 1, y) ||
                                         !landAt(world, x, y - 1) || !landAt(world, x, y + 1)))
                    hit[static_cast<std::size_t>(x / side) * static_cast<std::size_t>(by) +
                        static_cast<std::size_t>(y / side)] = 1;
        boxes.push_back(std::count(hit.begin(), hit.end(), 1));
    }
    std::vector<double> dimensions;
    for (int k = 0; k < octaves; ++k)
        dimensions.push_back(boxes[static_cast<std::size_t>(k + 1)] > 0
                                 ? std::log2(static_cast<double>(boxes[static_cast<std::size_t>(k)]) /
                                             static_cast<double>(boxes[static_cast<std::size_t>(k + 1)]))
                                 : std::nan(""));
    return dimensions;
}

double korcakExponent(const std::vector<std::int64_t>& sizes, double from, double to) {
    std::vector<double> xs, ys;
    for (int k = 0; k < 16; ++k) {
        const double a = from * std::pow(to / from, k / 15.0);
        const auto above =
            std::count_if(sizes.begin(), sizes.end(), [a](std::int64_t s) { return static_cast<double>(s) > a; });
        if (above == 0) continue;
        xs.push_back(std::log(a));
        ys.push_back(std::log(static_cast<double>(above)));
    }
    if (xs.size() < 3) return std::nan("");
    double mx = 0, my = 0;
    for (std::size_t i = 0; i < xs.size(); ++i) mx += xs[i], my += ys[i];
    mx /= static_cast<double>(xs.size());
    my /= static_cast<double>(ys.size());
    double sxy = 0, sxx = 0;
    for (std::size_t i = 0; i < xs.size(); ++i) sxy += (xs[i] - mx) * (ys[i] - my), sxx += (xs[i] - mx) * (xs[i] - mx);
    return sxx > 0 ? -sxy / sxx : std::nan("");
}

Distances islandDistances(const World& world, const Measured& m) {
    const int w = world.width, h = world.height;
    std::vector<std::int64_t> squares(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    std::vector<std::int64_t> line(static_cast<std::size_t>(h));
    for (int x = 0; x < w; ++x) {
        for (int y = 0; y < h; ++y) line[static_cast<std::size_t>(y)] = m.continent(world.index(x, y)) ? 0 : kFar;
        lineDistances(line);
        std::copy(line.begin(), line.end(), squares.begin() + static_cast<std::ptrdiff_t>(world.index(x, 0)));
    }
    line.resize(static_cast<std::size_t>(w));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) line[static_cast<std::size_t>(x)] = squares[world.index(x, y)];
        envelope(line);
        for (int x = 0; x < w; ++x) squares[world.index(x, y)] = line[static_cast<std::size_t>(x)];
    }
    std::vector<std::int64_t> nearest(m.figures.landMasses.size() + 1, kFar), sea;
    for (std::size_t cell = 0; cell < squares.size(); ++cell) {
        const std::uint32_t mass = m.massOfCell[cell];
        if (mass > m.continents) {
            nearest[mass] = std::min(nearest[mass], squares[cell]);
        } else if (mass == 0 && world.heights[cell] != World::kMarginHeight && squares[cell] < kFar) {
            sea.push_back(squares[cell]);
        }
    }
    std::vector<std::int64_t> islands;
    for (std::size_t k = static_cast<std::size_t>(m.continents) + 1; k < nearest.size(); ++k)
        if (nearest[k] < kFar) islands.push_back(nearest[k]);
    return {median(islands), median(sea)};
}

MarginCounts marginCounts(const World& world, int marginX, int marginY) {
    const int x0 = marginX > 0 ? marginX - 1 : 0, x1 = marginX > 0 ? world.width - marginX - 1 : world.width - 1;
    const int y0 = marginY > 0 ? marginY - 1 : 0, y1 = marginY > 0 ? world.height - marginY - 1 : world.height - 1;
    MarginCounts c;
    if (x1 < x0 || y1 < y0) return c;
    for (int y = y0; y <= y1; ++y) c.firstColumn += world.land(x0, y), c.lastColumn += world.land(x1, y);
    for (int x = x0; x <= x1; ++x) c.firstRow += world.land(x, y0), c.lastRow += world.land(x, y1);
    const int bx = std::max(1, (x1 - x0 + 1) / 8), by = std::max(1, (y1 - y0 + 1) / 8);
    for (int x = x0; x <= x1; ++x)
        for (int y = y0; y <= y1; ++y) {
            if (!world.land(x, y)) continue;
            c.firstColumns += x < x0 + bx;
            c.lastColumns += x > x1 - bx;
            c.firstRows += y < y0 + by;
            c.lastRows += y > y1 - by;
        }
    return c;
}

double continentOverlap(const Measured& a, const Measured& b) {
    std::int64_t both = 0, either = 0;
    for (std::size_t cell = 0; cell < a.massOfCell.size(); ++cell) {
        const bool inA = a.continent(cell), inB = b.continent(cell);
        both += inA && inB;
        either += inA || inB;
    }
    return either == 0 ? 1.0 : static_cast<double>(both) / static_cast<double>(either);
}

EdgeFigures edgeFigures(const World& world) {
    std::int64_t edges = 0, onMultiples = 0, straight = 0;
    // Runs along each line of edges: lines between columns x - 1 and x, then between rows.
    auto scan = [&](int lines, int length, auto&& edgeAt) {
        for (int line = 0; line < lines; ++line) {
            std::int64_t run = 0;
            std::int64_t first = -1;  // a run at the start of a wrapped line may go on at its end
            for (int k = 0; k < length; ++k) {
                if (edgeAt(line, k)) {
                    ++edges;
                    onMultiples += line % 32 == 0;
                    ++run;
                    continue;
                }
                if (first < 0) {
                    first = run;
                } else if (run >= 8) {
                    straight += run;
                }
                run = 0;
            }
            if (first < 0) {
                if (run >= 8) straight += run;  // the whole line
            } else if (run + first >= 8) {
                straight += run + first;
            }
        }
    };
    scan(world.width, world.height, [&](int x, int y) { return world.land(x, y) != landAt(world, x - 1, y); });
    scan(world.height, world.width, [&](int y, int x) { return world.land(x, y) != landAt(world, x, y - 1); });
    if (edges == 0) return {};
    return {static_cast<double>(onMultiples) / static_cast<double>(edges),
            static_cast<double>(straight) / static_cast<double>(edges)};
}

World turned(const World& world, double degrees) {
    World out;
    out.width = world.width;
    out.height = world.height;
    out.heights.resize(world.heights.size());
    const double c = std::cos(degrees * M_PI / 180), s = std::sin(degrees * M_PI / 180);
    const double cx = world.width / 2.0, cy = world.height / 2.0;
    auto at = [&](std::int64_t x, std::int64_t y) {
        const std::int16_t v = world.at(static_cast<int>(((x % world.width) + world.width) % world.width),
                                        static_cast<int>(((y % world.height) + world.height) % world.height));
        return static_cast<double>(v == World::kMarginHeight ? -32767 : v);
    };
    for (int x = 0; x < world.width; ++x) {
        for (int y = 0; y < world.height; ++y) {
            const double u = cx + c * (x - cx) - s * (y - cy), v = cy + s * (x - cx) + c * (y - cy);
            const double fu = std::floor(u), fv = std::floor(v), tu = u - fu, tv = v - fv;
            const auto iu = static_cast<std::int64_t>(fu), iv = static_cast<std::int64_t>(fv);
            const double value = (1 - tu) * ((1 - tv) * at(iu, iv) + tv * at(iu, iv + 1)) +
                                 tu * ((1 - tv) * at(iu + 1, iv) + tv * at(iu + 1, iv + 1));
            out.heights[out.index(x, y)] = static_cast<std::int16_t>(std::lround(std::clamp(value, -32767.0, 32767.0)));
        }
    }
    return out;
}

}  // namespace orv::measures
