#include "world/WorldNoise.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>

namespace orv::world {

std::uint64_t isqrt(std::uint64_t v) {
    // An estimate from the processor's square root, then corrected to the exact floor: the result
    // is the same whatever the estimate's last bits.
    auto r = static_cast<std::uint64_t>(std::sqrt(static_cast<double>(v)));
    r = std::min<std::uint64_t>(r, 0xFFFFFFFFu);
    while (r * r > v) --r;
    while (r < 0xFFFFFFFFu && (r + 1) * (r + 1) <= v) ++r;
    return r;
}

std::int64_t log2Q16(std::uint64_t v) {
    if (v == 0) return 0;
    const auto whole = static_cast<int>(std::bit_width(v)) - 1;
    // The mantissa in [1, 2) as Q30; each squaring gives the next bit of the fraction.
    std::uint64_t m = whole >= 30 ? v >> (whole - 30) : v << (30 - whole);
    std::int64_t fraction = 0;
    for (int bit = 15; bit >= 0; --bit) {
        m = (m * m) >> 30;
        if (m >= (std::uint64_t{2} << 30)) {
            m >>= 1;
            fraction |= std::int64_t{1} << bit;
        }
    }
    return std::int64_t{whole} * 65536 + fraction;
}

std::int64_t exp2Q16(std::int64_t e) {
    // 2^(2^-k) as Q30 for k = 1 .. 16.
    static constexpr std::array<std::uint64_t, 16> kRoots{
        1518500250, 1276901417, 1170923762, 1121280436, 1097253708, 1085434106, 1079572136, 1076653033,
        1075196443, 1074468888, 1074105294, 1073923544, 1073832680, 1073787251, 1073764537, 1073753181,
    };
    if (e < -16 * 65536) return 0;
    const std::int64_t whole = e >= 0 ? e / 65536 : -((-e + 65535) / 65536);
    const std::int64_t fraction = e - whole * 65536;  // 0 .. 65535
    std::uint64_t m = std::uint64_t{1} << 30;
    for (int k = 0; k < 16; ++k)
        if (fraction & (std::int64_t{1} << (15 - k))) m = (m * kRoots[static_cast<std::size_t>(k)]) >> 30;
    const std::int64_t shift = whole + 16 - 30;
    return static_cast<std::int64_t>(shift >= 0 ? m << shift : m >> -shift);
}

}  // namespace orv::world
