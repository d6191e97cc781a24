#include "world/Resample.hpp"

#include <algorithm>

namespace orv::world {
namespace {

// The inner loops, compiled also for AVX2 (its 32-bit multiplies are single instructions) and
// chosen at run time where GCC can: the same whole numbers either way.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define ORV_WITH_AVX2 __attribute__((target_clones("avx2", "default")))
#else
#define ORV_WITH_AVX2
#endif

// out[y] = the four columns weighted, rounded.
ORV_WITH_AVX2 void weighColumns(const std::int32_t* __restrict a, const std::int32_t* __restrict b,
                                const std::int32_t* __restrict c, const std::int32_t* __restrict d,
                                std::array<std::int32_t, 4> w, std::int32_t* __restrict out, std::size_t height) {
    const std::int32_t w0 = w[0], w1 = w[1], w2 = w[2], w3 = w[3];
    for (std::size_t y = 0; y < height; ++y) out[y] = (w0 * a[y] + w1 * b[y] + w2 * c[y] + w3 * d[y] + 2048) >> 12;
}

// Rows 2k and 2k + 1 of a column twice as long, for k = first .. last - 1 (2 <= first,
// last + 2 <= the source's length): from source rows k - 2 .. k + 2.
ORV_WITH_AVX2 void doubleRows(const std::int32_t* __restrict src, std::array<std::int32_t, 4> even,
                              std::array<std::int32_t, 4> odd, std::int32_t* __restrict out, std::size_t first,
                              std::size_t last) {
    for (std::size_t k = first; k < last; ++k) {
        const std::int32_t a = src[k - 2], b = src[k - 1], m = src[k], d = src[k + 1], e = src[k + 2];
        out[2 * k] = (even[0] * a + even[1] * b + even[2] * m + even[3] * d + 2048) >> 12;
        out[2 * k + 1] = (odd[0] * b + odd[1] * m + odd[2] * d + odd[3] * e + 2048) >> 12;
    }
}

}  // namespace

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

const std::int32_t* Upsampler::stretched(std::uint32_t c, const std::array<std::uint32_t, 4>& inUse) {
    // The column kept already, or a slot that holds none of the columns the fine column reads
    // (the one used longest ago): across the wrap the four columns are not consecutive numbers.
    const std::size_t height = ys_->cells.size();
    std::size_t slot = kKept;
    for (std::size_t k = 0; k < kKept; ++k)
        if (keptColumn_[k] == static_cast<std::int64_t>(c)) slot = k;
    if (slot < kKept) {
        lastUse_[slot] = ++clock_;
        return kept_.data() + slot * height;
    }
    for (std::size_t k = 0; k < kKept; ++k) {
        const bool needed = std::find(inUse.begin(), inUse.end(), keptColumn_[k]) != inUse.end() && keptColumn_[k] >= 0;
        if (!needed && (slot == kKept || lastUse_[k] < lastUse_[slot])) slot = k;
    }
    std::int32_t* out = kept_.data() + slot * height;
    keptColumn_[slot] = c;
    lastUse_[slot] = ++clock_;
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
        doubleRows(src, even, odd, out, 2, n - 2);
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
        const auto c = static_cast<std::uint32_t>(x);
        const std::int32_t* s = stretched(c, {c, c, c, c});
        std::copy(s, s + height, out);
        return;
    }
    const auto& k = xs_->cells[xi];
    const std::int32_t* a = stretched(k[0], k);
    const std::int32_t* b = stretched(k[1], k);
    const std::int32_t* c = stretched(k[2], k);
    const std::int32_t* d = stretched(k[3], k);
    weighColumns(a, b, c, d, xs_->weights[xi], out, height);
}

Field upsample(const Field& coarse, int fineWidth, int fineHeight) {
    Field fine(fineWidth, fineHeight);
    Upsampler up(coarse, fineWidth, fineHeight);
    for (int x = 0; x < fineWidth; ++x) up.column(x, fine.column(x));
    return fine;
}

}  // namespace orv::world
