#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace orv::world {

// A level of the world: width x height whole numbers, x-major like the map's grids (the cells
// of one x are adjacent).
struct Field {
    int width = 0;
    int height = 0;
    std::vector<std::int32_t> cells;

    Field() = default;
    Field(int w, int h) : width(w), height(h), cells(static_cast<std::size_t>(w) * static_cast<std::size_t>(h)) {}
    std::int32_t* column(int x) {
        return cells.data() + static_cast<std::size_t>(x) * static_cast<std::size_t>(height);
    }
    const std::int32_t* column(int x) const {
        return cells.data() + static_cast<std::size_t>(x) * static_cast<std::size_t>(height);
    }
};

// Where each fine cell of an axis reads the coarse cells when a level is resampled to a finer
// one: four coarse cells around the fine cell's centre (across the wrap) with the cubic B-spline's
// weights, as whole numbers that add up to 4096. The fine cell i's centre lies at coarse position
// (i + 1/2) x coarse / fine - 1/2, for any two sizes, so that every level covers the map exactly
// and wraps around with it. An axis of the same size on both levels is copied as it is.
struct AxisTaps {
    std::vector<std::array<std::uint32_t, 4>> cells;
    std::vector<std::array<std::int32_t, 4>> weights;
    bool identity = false;
    bool doubling = false;  // fine = 2 coarse: every even and every odd fine cell reads alike
};
AxisTaps axisTaps(int coarse, int fine);

// Resamples a coarse field to fine width x height, a fine column at a time (the fine field
// never exists whole unless the caller keeps it): each coarse column the taps of x reach is
// stretched to the fine height once and kept while it is in reach (a few are kept, the one used
// longest ago given up first, never one the column being made reads).
class Upsampler {
public:
    Upsampler(const Field& coarse, int fineWidth, int fineHeight);
    // With taps made once for several fields; the coarse field and the taps must outlive it.
    Upsampler(const Field& coarse, const AxisTaps& xs, const AxisTaps& ys);
    // The fine column x (0 .. fineWidth - 1) into out[0 .. fineHeight - 1]. Columns visited in
    // order cost one stretch per coarse column.
    void column(int x, std::int32_t* out);

private:
    const std::int32_t* stretched(std::uint32_t coarseColumn, const std::array<std::uint32_t, 4>& inUse);

    const Field* coarse_;
    AxisTaps ownX_, ownY_;
    const AxisTaps* xs_;
    const AxisTaps* ys_;
    static constexpr int kKept = 8;
    std::array<std::int64_t, kKept> keptColumn_{};
    std::array<std::uint64_t, kKept> lastUse_{};
    std::uint64_t clock_ = 0;
    std::vector<std::int32_t> kept_;
};

// The whole fine field (a level of the pyramid kept for the next step).
Field upsample(const Field& coarse, int fineWidth, int fineHeight);

}  // namespace orv::world
