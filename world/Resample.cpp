#include "world/Resample.hpp"

#include <algorithm>

namespace orv::world {

AxisTaps axisTaps(int coarse, int fine) {
    AxisTaps taps;
    taps.identity = coarse == fine;
    taps.doubling = fine == 2 * coarse;
    taps.cells.resize(static_cast<std::size_t>(fine));
    taps.weights.resize(static_cast<std::size_t>(fine));
    const std::int64_t den = 2 * std::int64_t{fine};
    for (int i = 0; i < fine; ++i) {
        // The centre at num / den coarse cells: whole part i0, fraction t = T / 4096.
        const std::int64_t num = (2 * std::int64_t{i} + 1) * coarse - fine;
        std::int64_t i0 = num >= 0 ? num / den : -((-num + den - 1) / den);
        std::int64_t t = ((num - i0 * den) * 4096 + den / 2) / den;
        if (t == 4096) {
            ++i0;
            t = 0;
        }
        const std::int64_t s = 4096 - t, scale = 6 * 4096 * 4096;
        const std::int64_t w0 = (s * s * s + scale / 2) / scale;
        const std::int64_t w3 = (t * t * t + scale / 2) / scale;
        const std::int64_t w2 =
            (-3 * t * t * t + 3 * t * t * 4096 + 3 * t * 4096 * 4096 + std::int64_t{4096} * 4096 * 4096 + scale / 2) /
            scale;
        auto& w = taps.weights[static_cast<std::size_t>(i)];
        w = {static_cast<std::int32_t>(w0), static_cast<std::int32_t>(4096 - w0 - w2 - w3),
             static_cast<std::int32_t>(w2), static_cast<std::int32_t>(w3)};
        for (int k = 0; k < 4; ++k) {
            const std::int64_t c = ((i0 - 1 + k) % coarse + coarse) % coarse;
            taps.cells[static_cast<std::size_t>(i)][static_cast<std::size_t>(k)] = static_cast<std::uint32_t>(c);
        }
    }
    return taps;
}

Upsampler::Upsampler(const Field& coarse, int fineWidth, int fineHeight)
    : coarse_(&coarse), ownX_(axisTaps(coarse.width, fineWidth)), ownY_(axisTaps(coarse.height, fineHeight)) {
    xs_ = &ownX_;
    ys_ = &ownY_;
    keptColumn_.fill(-1);
    kept_.resize(static_cast<std::size_t>(kKept) * static_cast<std::size_t>(fineHeight));
}

Upsampler::Upsampler(const Field& coarse, const AxisTaps& xs, const AxisTaps& ys)
    : coarse_(&coarse), xs_(&xs), ys_(&ys) {
    keptColumn_.fill(-1);
    kept_.resize(static_cast<std::size_t>(kKept) * ys.cells.size());
}

const std::int32_t* Upsampler::stretched(std::uint32_t c) {
    // Four consecutive coarse columns (across the wrap) never share a slot.
    const std::size_t slot = c % kKept, height = ys_->cells.size();
    std::int32_t* out = kept_.data() + slot * height;
    if (keptColumn_[slot] == static_cast<std::int64_t>(c)) return out;
    keptColumn_[slot] = c;
    const std::int32_t* src = coarse_->column(static_cast<int>(c));
    if (ys_->identity) {
        std::copy(src, src + height, out);
        return out;
    }
    if (ys_->doubling && height >= 8) {
        // Twice as many rows: rows 2k and 2k + 1 read coarse rows k - 2 .. k + 1 and k - 1 ..
        // k + 2 with the same weights for every k, a loop without index tables.
        const auto& even = ys_->weights[2];
        const auto& odd = ys_->weights[3];
        const std::size_t n = height / 2;
        auto at = [&](std::size_t k) { return src[k % n]; };
        auto edge = [&](std::size_t k) {
            const std::int32_t a = at(k + n - 2), b = at(k + n - 1), m = at(k), d = at(k + 1), e = at(k + 2);
            out[2 * k] = (even[0] * a + even[1] * b + even[2] * m + even[3] * d + 2048) >> 12;
            out[2 * k + 1] = (odd[0] * b + odd[1] * m + odd[2] * d + odd[3] * e + 2048) >> 12;
        };
        edge(0);
        edge(1);
        for (std::size_t k = 2; k + 2 < n; ++k) {
            const std::int32_t a = src[k - 2], b = src[k - 1], m = src[k], d = src[k + 1], e = src[k + 2];
            out[2 * k] = (even[0] * a + even[1] * b + even[2] * m + even[3] * d + 2048) >> 12;
            out[2 * k + 1] = (odd[0] * b + odd[1] * m + odd[2] * d + odd[3] * e + 2048) >> 12;
        }
        edge(n - 2);
        edge(n - 1);
        return out;
    }
    const auto* cells = ys_->cells.data();
    const auto* weights = ys_->weights.data();
    for (std::size_t y = 0; y < height; ++y) {
        const auto& k = cells[y];
        const auto& w = weights[y];
        out[y] = (w[0] * src[k[0]] + w[1] * src[k[1]] + w[2] * src[k[2]] + w[3] * src[k[3]] + 2048) >> 12;
    }
    return out;
}

void Upsampler::column(int x, std::int32_t* __restrict out) {
    const std::size_t height = ys_->cells.size();
    const auto xi = static_cast<std::size_t>(x);
    if (xs_->identity) {
        const std::int32_t* s = stretched(static_cast<std::uint32_t>(x));
        std::copy(s, s + height, out);
        return;
    }
    const auto& k = xs_->cells[xi];
    const auto& w = xs_->weights[xi];
    const std::int32_t* __restrict a = stretched(k[0]);
    const std::int32_t* __restrict b = stretched(k[1]);
    const std::int32_t* __restrict c = stretched(k[2]);
    const std::int32_t* __restrict d = stretched(k[3]);
    const std::int32_t w0 = w[0], w1 = w[1], w2 = w[2], w3 = w[3];
    for (std::size_t y = 0; y < height; ++y) out[y] = (w0 * a[y] + w1 * b[y] + w2 * c[y] + w3 * d[y] + 2048) >> 12;
}

Field upsample(const Field& coarse, int fineWidth, int fineHeight) {
    Field fine(fineWidth, fineHeight);
    Upsampler up(coarse, fineWidth, fineHeight);
    for (int x = 0; x < fineWidth; ++x) up.column(x, fine.column(x));
    return fine;
}

}  // namespace orv::world
