#include "ui/ScaledPicture.hpp"

#include <algorithm>
#include <cstring>

#include "ui/Screen.hpp"

namespace orv {
namespace {

constexpr int kWidth = Screen::kWidth;
constexpr int kHeight = Screen::kHeight;

// The source index under the centre of each of `size` target pixels spread over `source`.
std::vector<int> nearestIndices(int size, int source) {
    std::vector<int> index(static_cast<std::size_t>(size));
    for (int i = 0; i < size; ++i)
        index[static_cast<std::size_t>(i)] =
            static_cast<int>((2 * static_cast<std::int64_t>(i) + 1) * source / (2 * static_cast<std::int64_t>(size)));
    return index;
}

}  // namespace

int wholeScaleFor(int areaWidth, int areaHeight) {
    return std::max(1, std::min(areaWidth / kWidth, areaHeight / kHeight));
}

Placement placePicture(int windowWidth, int windowHeight) {
    Placement p;
    if (windowWidth <= 0 || windowHeight <= 0) return p;
    if (const int whole = std::min(windowWidth / kWidth, windowHeight / kHeight); whole >= 1) {
        p.width = whole * kWidth;
        p.height = whole * kHeight;
    } else if (static_cast<std::int64_t>(windowWidth) * kHeight <= static_cast<std::int64_t>(windowHeight) * kWidth) {
        p.width = windowWidth;  // narrower than 4:3: the width decides
        p.height = windowWidth * kHeight / kWidth;
    } else {
        p.height = windowHeight;
        p.width = windowHeight * kWidth / kHeight;
    }
    if (p.width == 0 || p.height == 0) return Placement{};
    p.x = (windowWidth - p.width) / 2;
    p.y = (windowHeight - p.height) / 2;
    return p;
}

void PictureScaler::resize(int windowWidth, int windowHeight) {
    placement_ = placePicture(windowWidth, windowHeight);
    sourceColumn_ = nearestIndices(placement_.width, kWidth);
    sourceRow_ = nearestIndices(placement_.height, kHeight);
}

PictureScaler::Area PictureScaler::takeDifferences(std::uint32_t* shown, const std::uint32_t* frame, int first,
                                                   int last) {
    Area area{kWidth, kHeight, -1, -1};
    for (int y = first; y <= last; ++y) {
        std::uint32_t* old = shown + static_cast<std::size_t>(y) * kWidth;
        const std::uint32_t* now = frame + static_cast<std::size_t>(y) * kWidth;
        int left = 0, right = kWidth - 1;
        while (left < kWidth && old[left] == now[left]) ++left;
        if (left == kWidth) continue;
        while (old[right] == now[right]) --right;
        std::memcpy(old + left, now + left, static_cast<std::size_t>(right - left + 1) * 4);
        area.firstX = std::min(area.firstX, left);
        area.lastX = std::max(area.lastX, right);
        area.firstY = std::min(area.firstY, y);
        area.lastY = y;
    }
    return area.empty() ? Area{} : area;
}

PictureScaler::Area PictureScaler::draw(const std::uint32_t* frame, const Area& area, void* target, int pitch) const {
    // The picture rows (columns) that show a run of frame-buffer rows (columns) are one run too,
    // since the indices never decrease.
    auto run = [](const std::vector<int>& index, int first, int last, int& from, int& to) {
        const auto begin = std::lower_bound(index.begin(), index.end(), first);
        from = static_cast<int>(begin - index.begin());
        to = static_cast<int>(std::upper_bound(begin, index.end(), last) - index.begin()) - 1;
    };
    Area drawn;
    run(sourceColumn_, area.firstX, area.lastX, drawn.firstX, drawn.lastX);
    run(sourceRow_, area.firstY, area.lastY, drawn.firstY, drawn.lastY);
    if (drawn.empty()) return Area{};
    const std::size_t spanBytes = static_cast<std::size_t>(drawn.lastX - drawn.firstX + 1) * 4;
    auto* base = static_cast<std::uint8_t*>(target) + static_cast<std::ptrdiff_t>(placement_.x + drawn.firstX) * 4;
    const bool sameWidth = placement_.width == kWidth;
    for (int py = drawn.firstY; py <= drawn.lastY; ++py) {
        auto* out = base + static_cast<std::ptrdiff_t>(placement_.y + py) * pitch;
        const int sy = sourceRow_[static_cast<std::size_t>(py)];
        if (py > drawn.firstY && sourceRow_[static_cast<std::size_t>(py - 1)] == sy) {
            std::memcpy(out, out - pitch, spanBytes);  // a row repeated by enlarging
            continue;
        }
        const std::uint32_t* in = frame + static_cast<std::size_t>(sy) * kWidth;
        auto* pixels = reinterpret_cast<std::uint32_t*>(out);
        if (sameWidth) {
            std::memcpy(pixels, in + drawn.firstX, spanBytes);
        } else {
            const int* column = sourceColumn_.data() + drawn.firstX;
            for (int i = 0, n = drawn.lastX - drawn.firstX + 1; i < n; ++i) pixels[i] = in[column[i]];
        }
    }
    drawn.firstX += placement_.x;
    drawn.lastX += placement_.x;
    drawn.firstY += placement_.y;
    drawn.lastY += placement_.y;
    return drawn;
}

namespace {

// How much of each source pixel each of `size` new pixels spread over `source` covers, in
// 1 / size of a source pixel: for new pixel i, the source pixels it overlaps and how much.
struct Cover {
    int index;
    std::int64_t amount;
};
std::vector<std::vector<Cover>> coverage(int size, int source) {
    std::vector<std::vector<Cover>> covers(static_cast<std::size_t>(size));
    for (int i = 0; i < size; ++i) {
        // New pixel i spans [i * source, (i + 1) * source) and source pixel s [s * size,
        // (s + 1) * size), both in 1 / size of a source pixel.
        const std::int64_t begin = static_cast<std::int64_t>(i) * source, end = begin + source;
        for (std::int64_t s = begin / size; s * size < end; ++s) {
            const std::int64_t amount = std::min(end, (s + 1) * size) - std::max(begin, s * size);
            covers[static_cast<std::size_t>(i)].push_back({static_cast<int>(s), amount});
        }
    }
    return covers;
}

}  // namespace

std::vector<std::uint32_t> resizedByMajority(const std::vector<std::uint32_t>& picture, int width, int height,
                                             int newWidth, int newHeight) {
    const std::vector<std::vector<Cover>> columns = coverage(newWidth, width), rows = coverage(newHeight, height);
    std::vector<std::uint32_t> resized(static_cast<std::size_t>(newWidth) * static_cast<std::size_t>(newHeight));
    std::vector<std::pair<std::uint32_t, std::int64_t>> shares;  // colour, area, in the order met
    for (int y = 0; y < newHeight; ++y) {
        for (int x = 0; x < newWidth; ++x) {
            shares.clear();
            for (const Cover& row : rows[static_cast<std::size_t>(y)]) {
                for (const Cover& column : columns[static_cast<std::size_t>(x)]) {
                    const std::uint32_t colour =
                        picture[static_cast<std::size_t>(row.index) * static_cast<std::size_t>(width) +
                                static_cast<std::size_t>(column.index)];
                    auto share = std::find_if(shares.begin(), shares.end(),
                                              [colour](const auto& s) { return s.first == colour; });
                    if (share == shares.end()) share = shares.insert(shares.end(), {colour, 0});
                    share->second += row.amount * column.amount;
                }
            }
            // max_element keeps the first of equal shares.
            resized[static_cast<std::size_t>(y) * static_cast<std::size_t>(newWidth) + static_cast<std::size_t>(x)] =
                std::max_element(shares.begin(), shares.end(), [](const auto& a, const auto& b) {
                    return a.second < b.second;
                })->first;
        }
    }
    return resized;
}

}  // namespace orv
